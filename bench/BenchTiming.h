// Timing shared by the benchmark programs.
#pragma once

#include <algorithm>
#include <ctime>

namespace parcelix::bench {

// Processor time of this process, so that other work on a shared machine
// disturbs the figures as little as possible.
inline double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// The least processor time f took in `rounds` runs.
template <class F>
double BestSeconds(int rounds, F&& f) {
  double best = 1e9;
  for (int i = 0; i < rounds; ++i) {
    const double t0 = CpuSeconds();
    f();
    best = std::min(best, CpuSeconds() - t0);
  }
  return best;
}

}  // namespace parcelix::bench
