// The About box: program name, a notice, the logo with its credits, and the e-mail and site links.
#include "app/gui/AboutUnit.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "app/gui/Logo.h"

namespace parcelix {

void TClickLabel::mouseReleaseEvent(QMouseEvent* e) {
  QLabel::mouseReleaseEvent(e);
  if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && OnClick) OnClick();
}

void TLogoImage::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintLogo(painter, QRectF(rect()));
}

namespace {

void MakeLink(TClickLabel& label, const QString& text) {
  label.setText(text);
  QFont font = label.font();
  font.setUnderline(true);
  label.setFont(font);
  QPalette palette = label.palette();
  palette.setColor(QPalette::WindowText, Qt::blue);
  label.setPalette(palette);
  label.setCursor(Qt::PointingHandCursor);
}

}  // namespace

TfrmAbout::TfrmAbout(const TGuiServices& services, QWidget* parent)
    : QDialog(parent), services_(services), fader_(*this) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(kClientWidth / 2, kClientHeight / 2));

  // A fixed little box: the controls sit where they are put.
  CompanyLogo.setParent(this);
  CompanyLogo.setObjectName(QStringLiteral("CompanyLogo"));
  CompanyLogo.setGeometry(8, 8, 113, 77);
  CompanyLogo.setCursor(Qt::PointingHandCursor);
  CompanyLogo.OnClick = [this] { CompanyLogoClick(); };

  ProgramName.setParent(this);
  ProgramName.setObjectName(QStringLiteral("ProgramName"));
  ProgramName.setText(QStringLiteral("Parcelix v.1.1"));
  QFont big = ProgramName.font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.3);
  ProgramName.setFont(big);
  ProgramName.setGeometry(132, 6, 222, 24);

  Notice.setParent(this);
  Notice.setObjectName(QStringLiteral("Notice"));
  Notice.setText(QStringLiteral("Renames MIDlet suites, writes JADs and edits their manifests."));
  Notice.setWordWrap(true);
  Notice.setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Notice.setGeometry(132, 32, 222, 34);

  Email.setParent(this);
  Email.setObjectName(QStringLiteral("Email"));
  MakeLink(Email, QLatin1String(kEmail));
  Email.setGeometry(132, 68, 222, 16);
  Email.OnClick = [this] { EmailClick(); };

  Site.setParent(this);
  Site.setObjectName(QStringLiteral("Site"));
  MakeLink(Site, QStringLiteral("parcelix.example.org/forum"));
  Site.setGeometry(132, 86, 222, 16);
  Site.OnClick = [this] { SiteClick(); };

  Panel1.setParent(this);
  Panel1.setObjectName(QStringLiteral("Panel1"));
  Panel1.setFrameShape(QFrame::HLine);
  Panel1.setFrameShadow(QFrame::Sunken);
  Panel1.setGeometry(8, 105, kClientWidth - 16, 2);

  OKButton.setParent(this);
  OKButton.setObjectName(QStringLiteral("OKButton"));
  OKButton.setText(QStringLiteral("OK"));
  OKButton.setDefault(true);
  OKButton.setGeometry(kClientWidth - 8 - 75, 112, 75, 25);
  connect(&OKButton, &QPushButton::clicked, this, &TfrmAbout::OKButtonClick);
}

void TfrmAbout::OKButtonClick() { accept(); }

void TfrmAbout::EmailClick() { services_.Open(QUrl(QStringLiteral("mailto:") + QLatin1String(kEmail))); }

void TfrmAbout::SiteClick() { services_.Open(QUrl(QLatin1String(kSite))); }

void TfrmAbout::CompanyLogoClick() {
  services_.Message(this, UserMessage{"GreetZ!!!", kCredits, MsgIcon::Information});
}

void TfrmAbout::FormClose() {
  fader_.Start([this] { QDialog::done(result_); });
}

void TfrmAbout::done(int result) {
  if (fader_.Running()) return;
  result_ = result;
  FormClose();
}

}  // namespace parcelix
