// The program's logo (a parcel on a teal tile), painted in code for the window icon and the About box.
#include "app/gui/Logo.h"

#include <algorithm>

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace parcelix {

namespace {

QPolygonF Poly(std::initializer_list<QPointF> points) { return QPolygonF(QList<QPointF>(points)); }

}  // namespace

void PaintLogo(QPainter& painter, const QRectF& area) {
  const qreal side = std::min(area.width(), area.height());
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(area.center().x() - side / 2, area.center().y() - side / 2);
  painter.scale(side / 64.0, side / 64.0);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1f, 0x6f, 0x8b));
  painter.drawRoundedRect(QRectF(4, 4, 56, 56), 10, 10);
  painter.setBrush(QColor(0xf4, 0xb8, 0x60));
  painter.drawPolygon(Poly({{32, 12}, {52, 22}, {32, 32}, {12, 22}}));
  painter.setBrush(QColor(0xd9, 0x89, 0x3b));
  painter.drawPolygon(Poly({{12, 22}, {32, 32}, {32, 54}, {12, 44}}));
  painter.setBrush(QColor(0xb8, 0x6b, 0x2a));
  painter.drawPolygon(Poly({{32, 32}, {52, 22}, {52, 44}, {32, 54}}));
  painter.setBrush(QColor(0xff, 0xf3, 0xd6));
  painter.drawPolygon(Poly({{22, 17}, {26, 15}, {46, 25}, {42, 27}}));
  painter.drawPolygon(Poly({{42, 27}, {46, 25}, {46, 47}, {42, 49}}));
  painter.restore();
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    PaintLogo(painter, QRectF(0, 0, size, size));
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace parcelix
