// The interrupt watch of a batch: signals read from a signalfd by a thread
// of the watch, so nothing process-wide is written by a signal handler.
#include "app/shell/Interrupt.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdint>

namespace parcelix {

TInterruptWatch::TInterruptWatch() {
  sigemptyset(&signals_);
  // A signal the program was started to ignore (as a background job is)
  // stays ignored: a blocked signal is kept for the signalfd even when its
  // disposition is to ignore it.
  for (const int sig : {SIGINT, SIGTERM}) {
    struct sigaction now {};
    if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) continue;
    sigaddset(&signals_, sig);
  }
  pthread_sigmask(SIG_BLOCK, &signals_, &before_);
  if (sigisemptyset(&signals_)) return;
  signalFd_ = TFd(::signalfd(-1, &signals_, SFD_CLOEXEC));
  wake_ = TFd(::eventfd(0, EFD_CLOEXEC));
  // Without the descriptors the signals keep their usual effect.
  if (!signalFd_.IsOpen() || !wake_.IsOpen()) {
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    return;
  }
  watcher_ = std::jthread([this] { Watch(); });
}

TInterruptWatch::~TInterruptWatch() {
  if (watcher_.joinable()) {
    const uint64_t one = 1;
    (void)!::write(wake_.Get(), &one, sizeof one);
    watcher_.join();
  }
  pthread_sigmask(SIG_SETMASK, &before_, nullptr);
}

void TInterruptWatch::Watch() {
  for (;;) {
    pollfd fds[2] = {{signalFd_.Get(), POLLIN, 0}, {wake_.Get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;  // the batch is over
    signalfd_siginfo info{};
    if (::read(signalFd_.Get(), &info, sizeof info) != ssize_t(sizeof info)) continue;
    const int sig = int(info.ssi_signo);
    if (caught_.exchange(sig) != 0) {
      // The second signal: its usual effect, now.
      ::signal(sig, SIG_DFL);
      pthread_sigmask(SIG_UNBLOCK, &signals_, nullptr);
      ::raise(sig);
    }
  }
}

}  // namespace parcelix
