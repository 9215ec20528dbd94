// One status line on a terminal: how far a long command is.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace parcelix {

// Keeps one line on the terminal up to date: "[done/total] current  rate",
// redrawn at most ten times a second and cut to the terminal's width, so it
// never wraps. Writes nothing at all unless enabled (the stream is a terminal
// and the run is not quiet). The line is cleared by Clear() and at the end.
class TProgress {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // total: how many units the command expects (0 when not known); unit: their
  // name in the rate ("files", "JARs").
  TProgress(std::ostream& out, bool enabled, uint64_t total, std::string unit);
  ~TProgress();
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;

  bool Enabled() const { return enabled_; }
  // `done` units are finished and `current` is being worked on.
  void Update(uint64_t done, const std::string& current);
  // One more unit finished; `current` is the next one (or the one just done).
  void Step(const std::string& current) { Update(done_ + 1, current); }
  // Removes the line (before other output, and at the end); the next Update
  // draws it again.
  void Clear();

  // The clock (tests replace it) and the width of the line in columns
  // (0: asks the terminal, 80 when it does not say).
  std::function<TimePoint()> Now = [] { return std::chrono::steady_clock::now(); };
  int Width = 0;

 private:
  std::string Line(uint64_t done, const std::string& current, double seconds) const;

  std::ostream& out_;
  bool enabled_;
  uint64_t total_;
  std::string unit_;
  uint64_t done_ = 0;
  bool shown_ = false;
  bool started_ = false;
  TimePoint start_{};
  TimePoint lastDraw_{};
};

// True when the file descriptor is a terminal.
bool IsTerminal(int fd);

}  // namespace parcelix
