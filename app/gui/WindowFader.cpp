// The 500 ms fade-out with which the windows disappear when closed.
#include "app/gui/WindowFader.h"

#include <QWidget>

namespace parcelix {

TWindowFader::TWindowFader(QWidget& window) : window_(window), animation_(&window, "windowOpacity") {
  QObject::connect(&animation_, &QAbstractAnimation::finished, &window, [this] {
    auto done = std::move(done_);
    done_ = nullptr;
    if (done) done();
    window_.setWindowOpacity(1.0);
  });
}

bool TWindowFader::Running() const { return animation_.state() == QAbstractAnimation::Running; }

void TWindowFader::Start(std::function<void()> done) {
  if (Running()) return;
  if (DurationMs <= 0 || !window_.isVisible()) {
    done();
    window_.setWindowOpacity(1.0);
    return;
  }
  done_ = std::move(done);
  animation_.setDuration(DurationMs);
  animation_.setStartValue(window_.windowOpacity());
  animation_.setEndValue(0.0);
  animation_.start();
}

}  // namespace parcelix
