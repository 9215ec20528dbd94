// Work on many items spread over worker threads, results taken in item order.
//
// A batch over thousands of JARs reads and examines each one on a worker and
// acts on the results (prints, renames, writes) on the calling thread in the
// order a single-threaded run would, so output and decisions such as "this
// name is taken" do not depend on the number of threads. At most `window`
// results wait for the caller at any time, so memory stays bounded whatever
// the number of items.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace parcelix {

// The result of one item: its value, or the exception its work threw.
template <class R>
class TOrderedResult {
 public:
  // The value; rethrows what the work threw.
  R Take() {
    if (error_) std::rethrow_exception(error_);
    return std::move(*value_);
  }

 private:
  template <class T>
  friend class TOrderedRun;
  std::optional<R> value_;
  std::exception_ptr error_;
  bool ready_ = false;
};

// Runs work(i) for every i below count on up to `workers` threads (and, with
// CallerWorks, on the calling thread while it waits for a result) and hands
// each result to consume(i, result) on the calling thread, in increasing i.
// consume returns false to stop: items not started are then never worked on,
// and Run returns once the workers have finished what they started. With no
// worker, or one item, everything runs on the calling thread, in turn.
template <class R>
class TOrderedRun {
 public:
  using Work = std::function<R(size_t index)>;
  using Consume = std::function<bool(size_t index, TOrderedResult<R>& result)>;

  TOrderedRun(int workers, size_t window) : workers_(workers < 0 ? 0 : workers), window_(window < 1 ? 1 : window) {}

  // The calling thread works on the next unclaimed item while the result it
  // needs next is not ready, instead of sleeping; for work that may run on
  // any thread. A batch whose results take about as long to act on as to
  // make then keeps every core busy and its threads awake.
  bool CallerWorks = false;

  // True when every item was consumed, false when consume stopped the run.
  bool Run(size_t count, const Work& work, const Consume& consume) {
    if (workers_ == 0 || count <= 1) return RunInline(count, work, consume);
    count_ = count;
    next_ = consumed_ = idleWorkers_ = 0;
    consumerWaits_ = false;
    stop_ = false;
    slots_.clear();  // results need not be copyable
    slots_.resize(std::min(window_, count));
    std::vector<std::jthread> threads;
    const size_t n = std::min<size_t>(size_t(workers_), count);
    threads.reserve(n);
    for (size_t t = 0; t < n; ++t) threads.emplace_back([this, &work] { WorkLoop(work); });
    // Stops the workers before they are joined, also when consume throws.
    struct StopOnExit {
      TOrderedRun& run;
      ~StopOnExit() {
        {
          std::lock_guard lock(run.mutex_);
          run.stop_ = true;
        }
        run.claimable_.notify_all();
      }
    } stopOnExit{*this};
    return ConsumeLoop(work, consume);
  }

 private:
  static TOrderedResult<R> Produce(const Work& work, size_t i) {
    TOrderedResult<R> r;
    try {
      r.value_.emplace(work(i));
    } catch (...) {
      r.error_ = std::current_exception();
    }
    r.ready_ = true;
    return r;
  }

  static bool RunInline(size_t count, const Work& work, const Consume& consume) {
    for (size_t i = 0; i < count; ++i) {
      TOrderedResult<R> r = Produce(work, i);
      if (!consume(i, r)) return false;
    }
    return true;
  }

  // True when an item may be claimed: one is left, and the window has a
  // slot for it.
  bool Claimable() const { return !stop_ && next_ < count_ && next_ < consumed_ + slots_.size(); }

  // Wakes (and thereby costs a system call) only a thread that sleeps.
  void WorkLoop(const Work& work) {
    std::unique_lock lock(mutex_);
    for (;;) {
      ++idleWorkers_;
      claimable_.wait(lock, [this] { return stop_ || next_ >= count_ || Claimable(); });
      --idleWorkers_;
      if (stop_ || next_ >= count_) return;
      const size_t i = next_++;
      lock.unlock();
      TOrderedResult<R> r = Produce(work, i);
      lock.lock();
      slots_[i % slots_.size()] = std::move(r);
      if (consumerWaits_ && i == awaited_) ready_.notify_one();
    }
  }

  bool ConsumeLoop(const Work& work, const Consume& consume) {
    for (size_t i = 0; i < count_; ++i) {
      TOrderedResult<R>* slot = &slots_[i % slots_.size()];
      {
        std::unique_lock lock(mutex_);
        while (!slot->ready_) {
          if (CallerWorks && Claimable()) {
            const size_t j = next_++;
            lock.unlock();
            TOrderedResult<R> r = Produce(work, j);
            lock.lock();
            slots_[j % slots_.size()] = std::move(r);
            continue;
          }
          consumerWaits_ = true;
          awaited_ = i;
          ready_.wait(lock);
          consumerWaits_ = false;
        }
      }
      // Workers never touch this slot until consumed_ passes i: the item
      // that reuses it lies a whole window ahead.
      const bool go_on = consume(i, *slot);
      bool wake;
      {
        std::lock_guard lock(mutex_);
        *slot = TOrderedResult<R>();
        consumed_ = i + 1;
        // Sleeping workers are woken once a quarter of the window is free,
        // not for every slot: one wake-up then buys them several items.
        wake = idleWorkers_ > 0 && (next_ >= count_ || consumed_ + slots_.size() >= next_ + WakeRoom());
      }
      if (wake) claimable_.notify_all();
      if (!go_on) return false;
    }
    return true;
  }

  size_t WakeRoom() const { return std::max<size_t>(1, slots_.size() / 4); }

  const int workers_;
  const size_t window_;
  std::mutex mutex_;
  std::condition_variable claimable_, ready_;
  std::vector<TOrderedResult<R>> slots_;
  size_t count_ = 0, next_ = 0, consumed_ = 0;
  size_t idleWorkers_ = 0;     // workers asleep until an item can be claimed
  bool consumerWaits_ = false;  // the calling thread sleeps until the result of awaited_ is ready
  size_t awaited_ = 0;
  bool stop_ = false;
};

// Objects a worker needs for one item (a reader, a checker) lent to one
// thread at a time and kept for the next item, so that each is made once per
// worker, not once per item.
template <class T>
class TObjectPool {
 public:
  explicit TObjectPool(std::function<std::unique_ptr<T>()> make) : make_(std::move(make)) {}

  // Runs f with an object of the pool; returns what f returns.
  template <class F>
  auto With(F&& f) {
    std::unique_ptr<T> object;
    {
      std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        object = std::move(idle_.back());
        idle_.pop_back();
      }
    }
    if (!object) object = make_();
    struct GiveBack {
      TObjectPool& pool;
      std::unique_ptr<T>& object;
      ~GiveBack() {
        std::lock_guard lock(pool.mutex_);
        pool.idle_.push_back(std::move(object));
      }
    } giveBack{*this, object};
    return f(*object);
  }

 private:
  std::function<std::unique_ptr<T>()> make_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<T>> idle_;
};

}  // namespace parcelix
