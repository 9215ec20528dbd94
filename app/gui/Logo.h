// The program's logo (a parcel on a teal tile), painted in code for the window icon and the About box.
#pragma once

#include <QIcon>
#include <QRectF>

class QPainter;

namespace parcelix {

// Paints the logo scaled into the square centred in area; the same drawing
// as parcelix.svg, which the desktop uses.
void PaintLogo(QPainter& painter, const QRectF& area);
QIcon ProgramIcon();

}  // namespace parcelix
