// Ctrl+C (SIGINT) and SIGTERM during a batch. The first one asks the batch
// to stop after the JAR it is on: what is done stays done and nothing is
// left half-written. A second one ends the program at once, as without the
// watch.
#pragma once

#include <signal.h>

#include <atomic>
#include <thread>

#include "engine/common/FileSystem.h"

namespace parcelix {

class TInterruptWatch {
 public:
  // Blocks the two signals in the calling thread (threads it starts later
  // inherit that) and takes them on a thread of its own.
  TInterruptWatch();
  ~TInterruptWatch();  // the signal mask as it was
  TInterruptWatch(const TInterruptWatch&) = delete;
  TInterruptWatch& operator=(const TInterruptWatch&) = delete;

  // The signal that asked the batch to stop, 0 while none did.
  int Caught() const { return caught_.load(std::memory_order_relaxed); }
  // The exit status of a batch stopped by that signal (128 + its number).
  int ExitStatus() const { return 128 + Caught(); }

 private:
  void Watch();

  sigset_t signals_{}, before_{};
  TFd signalFd_, wake_;
  std::atomic<int> caught_{0};
  std::jthread watcher_;
};

}  // namespace parcelix
