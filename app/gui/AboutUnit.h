// The About box: program name, a notice, the logo with its credits, and the e-mail and site links.
#pragma once

#include <functional>

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "app/gui/GuiServices.h"
#include "app/gui/WindowFader.h"

namespace parcelix {

// A label that answers a click (the logo and the two links).
class TClickLabel : public QLabel {
 public:
  explicit TClickLabel(QWidget* parent = nullptr) : QLabel(parent) {}
  std::function<void()> OnClick;

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override;
};

class TLogoImage : public TClickLabel {
 public:
  explicit TLogoImage(QWidget* parent = nullptr) : TClickLabel(parent) {}

 protected:
  void paintEvent(QPaintEvent* e) override;
};

class TfrmAbout : public QDialog {
 public:
  explicit TfrmAbout(const TGuiServices& services, QWidget* parent = nullptr);

  static constexpr int kClientWidth = 362;
  static constexpr int kClientHeight = 142;
  static constexpr const char* kEmail = "parcelix@example.org";
  static constexpr const char* kSite = "https://parcelix.example.org/forum/";
  static constexpr const char* kCredits =
      "Parcelix is made for everyone who keeps a shelf of old phone games.\n"
      "Thanks to the collectors who sent in their strangest JARs.";

  TWindowFader& Fader() { return fader_; }

  // Handlers.
  void OKButtonClick();
  void EmailClick();
  void SiteClick();
  void CompanyLogoClick();
  void FormClose();

  void done(int result) override;

 private:
  const TGuiServices& services_;
  int result_ = 0;
  QLabel ProgramName;
  QLabel Notice;
  TLogoImage CompanyLogo;
  TClickLabel Email;
  TClickLabel Site;
  QFrame Panel1;
  QPushButton OKButton;
  TWindowFader fader_;
};

}  // namespace parcelix
