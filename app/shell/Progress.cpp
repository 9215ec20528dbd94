// One status line on a terminal: how far a long command is.
#include "app/shell/Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>

namespace parcelix {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);  // at most ten lines a second
constexpr const char* kClearLine = "\r\033[K";

int TerminalWidth() {
  winsize ws{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

// Cuts s to at most n columns, counting UTF-8 sequences as one column each
// and never splitting one; a cut name keeps its end (the file name) after "...".
std::string FitColumns(const std::string& s, size_t n) {
  auto isLead = [](unsigned char c) { return (c & 0xC0) != 0x80; };
  size_t columns = 0;
  for (unsigned char c : s) columns += isLead(c);
  if (columns <= n) return s;
  if (n <= 3) return std::string(n, '.');
  size_t keep = n - 3, pos = s.size();
  while (pos > 0 && keep > 0) {
    --pos;
    if (isLead(static_cast<unsigned char>(s[pos]))) --keep;
  }
  return "..." + s.substr(pos);
}

}  // namespace

bool IsTerminal(int fd) { return ::isatty(fd) == 1; }

TProgress::TProgress(std::ostream& out, bool enabled, uint64_t total, std::string unit)
    : out_(out), enabled_(enabled), total_(total), unit_(std::move(unit)) {}

TProgress::~TProgress() { Clear(); }

std::string TProgress::Line(uint64_t done, const std::string& current, double seconds) const {
  std::string count = "[" + std::to_string(done);
  if (total_ > 0) count += "/" + std::to_string(total_ < done ? done : total_);
  count += "] ";
  std::string rate;
  if (seconds >= 0.5 && done > 0) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "  %.1f %s/s", double(done) / seconds, unit_.c_str());
    rate = buf;
  }
  const size_t width = size_t(Width > 0 ? Width : TerminalWidth());
  // One column stays free: a line that fills the terminal would wrap the cursor.
  const size_t room = width > count.size() + rate.size() + 1 ? width - count.size() - rate.size() - 1 : 0;
  return count + FitColumns(current, room) + rate;
}

void TProgress::Update(uint64_t done, const std::string& current) {
  done_ = done;
  if (!enabled_) return;
  const TimePoint now = Now();
  if (!started_) {
    started_ = true;
    start_ = now;
  } else if (now - lastDraw_ < kRedrawInterval) {
    return;  // also after a Clear(): the line comes back with the next redraw
  }
  lastDraw_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  out_ << kClearLine << Line(done, current, seconds) << std::flush;
  shown_ = true;
}

void TProgress::Clear() {
  if (!shown_) return;
  out_ << kClearLine << std::flush;
  shown_ = false;
}

}  // namespace parcelix
