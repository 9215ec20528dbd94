#include "engine/common/OrderedRun.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace parcelix {
namespace {

// Work whose duration varies with the item, so that workers finish out of order.
void Jitter(size_t i) { std::this_thread::sleep_for(std::chrono::microseconds((i * 7919) % 13 * 40)); }

struct Shape {
  int workers;
  size_t window;
  size_t count;
  bool callerWorks = false;
};

class OrderedRunShapes : public ::testing::TestWithParam<Shape> {};

// Results come in item order, each once, and no more than a window of
// results ever waits for the consumer.
TEST_P(OrderedRunShapes, InOrderAndBounded) {
  const Shape s = GetParam();
  std::atomic<long> started{0};
  std::atomic<long> consumed{0};
  std::atomic<long> worstAhead{0};
  std::vector<size_t> seen;
  TOrderedRun<std::string> run(s.workers, s.window);
  run.CallerWorks = s.callerWorks;
  std::atomic<long> byCaller{0};
  const std::thread::id caller = std::this_thread::get_id();
  const bool whole = run.Run(
      s.count,
      [&](size_t i) {
        const long ahead = ++started - consumed.load();
        long worst = worstAhead.load();
        while (ahead > worst && !worstAhead.compare_exchange_weak(worst, ahead)) {
        }
        Jitter(i);
        byCaller += std::this_thread::get_id() == caller;
        return "item " + std::to_string(i);
      },
      [&](size_t i, TOrderedResult<std::string>& r) {
        EXPECT_EQ(r.Take(), "item " + std::to_string(i));
        seen.push_back(i);
        ++consumed;
        return true;
      });
  EXPECT_TRUE(whole);
  ASSERT_EQ(seen.size(), s.count);
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], i);
  if (s.workers > 0) {
    EXPECT_LE(worstAhead.load(), long(s.window));
  }
  // Without CallerWorks the caller only consumes.
  if (s.workers > 0 && s.count > 1 && !s.callerWorks) {
    EXPECT_EQ(byCaller.load(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, OrderedRunShapes,
                         ::testing::Values(Shape{0, 8, 50}, Shape{1, 1, 50}, Shape{1, 4, 100}, Shape{2, 1, 50}, Shape{2, 3, 200}, Shape{4, 16, 500},
                                           Shape{8, 64, 300}, Shape{4, 16, 0}, Shape{4, 16, 1}, Shape{16, 2, 40},
                                           Shape{1, 1, 50, true}, Shape{1, 4, 100, true}, Shape{2, 3, 200, true},
                                           Shape{4, 16, 500, true}));

// An item whose work throws hands its exception to the consumer at its
// place in the order; the items around it are unaffected.
TEST(OrderedRun, ExceptionsArriveInOrder) {
  for (int workers : {0, 1, 3}) {
    std::vector<std::string> got;
    TOrderedRun<int> run(workers, 4);
    run.Run(
        20,
        [](size_t i) {
          Jitter(i);
          if (i % 7 == 3) throw std::runtime_error("bad " + std::to_string(i));
          return int(i) * 2;
        },
        [&](size_t, TOrderedResult<int>& r) {
          try {
            got.push_back(std::to_string(r.Take()));
          } catch (const std::exception& e) {
            got.push_back(e.what());
          }
          return true;
        });
    ASSERT_EQ(got.size(), 20u) << workers;
    EXPECT_EQ(got[3], "bad 3");
    EXPECT_EQ(got[10], "bad 10");
    EXPECT_EQ(got[17], "bad 17");
    EXPECT_EQ(got[4], "8");
  }
}

// When the consumer stops (a cancelled batch), no item beyond the window is
// started and Run returns without waiting for the rest.
TEST(OrderedRun, StopLeavesTheRestUntouched) {
  for (int workers : {0, 1, 2, 4}) {
    std::atomic<size_t> worked{0};
    size_t consumedCount = 0;
    TOrderedRun<size_t> run(workers, 5);
    const bool whole = run.Run(
        10000,
        [&](size_t i) {
          ++worked;
          Jitter(i);
          return i;
        },
        [&](size_t i, TOrderedResult<size_t>&) {
          ++consumedCount;
          return i < 9;
        });
    EXPECT_FALSE(whole);
    EXPECT_EQ(consumedCount, 10u);
    EXPECT_LE(worked.load(), 10u + 5u) << workers;
  }
}

// A consumer that throws does not leave the workers hanging: the exception
// reaches the caller and the threads are joined.
TEST(OrderedRun, ConsumerExceptionPropagates) {
  TOrderedRun<int> run(3, 4);
  EXPECT_THROW(run.Run(
                   1000, [](size_t i) { return int(i); },
                   [](size_t i, TOrderedResult<int>&) -> bool {
                     if (i == 17) throw std::logic_error("consumer failed");
                     return true;
                   }),
               std::logic_error);
  // The same object runs again afterwards.
  size_t n = 0;
  EXPECT_TRUE(run.Run(
      30, [](size_t i) { return int(i); },
      [&](size_t i, TOrderedResult<int>& r) {
        EXPECT_EQ(r.Take(), int(i));
        ++n;
        return true;
      }));
  EXPECT_EQ(n, 30u);
}

}  // namespace
}  // namespace parcelix
