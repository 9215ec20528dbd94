// The 500 ms fade-out with which the windows disappear when closed.
#pragma once

#include <functional>

#include <QPropertyAnimation>

class QWidget;

namespace parcelix {

class TWindowFader {
 public:
  explicit TWindowFader(QWidget& window);

  int DurationMs = 500;  // 0 closes at once

  bool Running() const;
  // Fades the window's opacity to 0, then calls done. The window gets its
  // full opacity back once done has run, so that it shows normally next time.
  // Does nothing while a fade runs.
  void Start(std::function<void()> done);

 private:
  QWidget& window_;
  QPropertyAnimation animation_;
  std::function<void()> done_;
};

}  // namespace parcelix
