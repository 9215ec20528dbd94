// Packing ahead on spare cores: the per-file packing and the worker pool that runs it in list order.
#include "engine/write/arxPackAhead.h"

#include <algorithm>
#include <chrono>

#include <sys/stat.h>

#include "engine/codec/Crc32.h"
#include "engine/read/Err_Msgs.h"

namespace parcelix {

namespace {

constexpr int kWindowBits = -15;
constexpr int64_t kSmallFile = 256;
constexpr int64_t kReadChunk = 256 * 1024;

// The file ended where its size said: not one byte more, and the size did
// not change meanwhile.
bool EndsAt(TFileStream32& source, int64_t size) {
  uint8_t probe;
  struct stat st {};
  return source.Read(&probe, 1) == 0 && ::fstat(source.Handle(), &st) == 0 && st.st_size == size;
}

}  // namespace

void PackFile(const TPackJob& job, const std::atomic<bool>& stop, TPackedFile& out) {
  TFileStream32 source(job.Path, fmOpenRead);
  const int64_t size = source.IsOpen() ? source.GetSize() : -1;
  if (size < 0) {
    out.Status = kErrOpenFile;
    return;
  }
  out.Size = size;
  TJobRecord rec;  // no cancel pointer: the writer's flag belongs to its thread
  if (size <= kSmallFile) {
    uint8_t data[kSmallFile];
    if ((size > 0 && source.Read(data, size) != size) || !EndsAt(source, size)) {
      out.Status = kErrReadFile;
      return;
    }
    uint32_t crc = CrcMask;
    UpdateCrc32(data, int32_t(size), crc);
    out.Crc = crc ^ CrcMask;
    if (!job.Store) {
      TCompressStream deflater(*out.Data, job.Type, kWindowBits, rec);
      if (size > 0) deflater.Write(data, size);
      deflater.Finish();
      if (out.Data->GetSize() <= size) {
        out.Method = 8;
        return;
      }
      out.Data->SetSize(0);
      out.Data->SetPosition(0);
    }
    out.Method = 0;
    if (size > 0) out.Data->WriteBuffer(data, size);
    return;
  }
  std::vector<uint8_t> buffer(size_t(std::min(size, kReadChunk)));
  auto pump = [&](TStream32& sink) {
    int64_t got = 0;
    while (got < size) {
      if (stop) {
        out.Status = kErrUserCanceled;
        return false;
      }
      const int64_t n = source.Read(buffer.data(), std::min<int64_t>(int64_t(buffer.size()), size - got));
      if (n <= 0) {
        out.Status = kErrReadFile;
        return false;
      }
      sink.WriteBuffer(buffer.data(), n);
      got += n;
    }
    if (!EndsAt(source, size)) {
      out.Status = kErrReadFile;
      return false;
    }
    return true;
  };
  if (job.Store) {
    out.Method = 0;
    TStoreStream storer(*out.Data, rec, kCrcKind32);
    if (pump(storer)) out.Crc = storer.Crc ^ CrcMask;
    return;
  }
  out.Method = 8;
  TCompressStream deflater(*out.Data, job.Type, kWindowBits, rec);
  const bool ok = pump(deflater);
  deflater.Finish();
  if (ok) out.Crc = deflater.Crc ^ CrcMask;
}

// ---------------------------------------------------------------------------

TPackAhead::TPackAhead(std::vector<TPackJob> jobs, int workers, int64_t budgetBytes)
    : jobs_(std::move(jobs)), results_(jobs_.size()), state_(jobs_.size(), State::Waiting), budget_(budgetBytes) {
  int maxIndex = -1;
  for (const auto& j : jobs_) maxIndex = std::max(maxIndex, j.Index);
  byIndex_.assign(size_t(maxIndex + 1), -1);
  for (size_t p = 0; p < jobs_.size(); ++p) byIndex_[size_t(jobs_[p].Index)] = int(p);
  for (int i = 0; i < workers && !jobs_.empty(); ++i) threads_.emplace_back([this] { Work(); });
}

TPackAhead::~TPackAhead() { Stop(); }

void TPackAhead::Stop() {
  stop_ = true;
  changed_.notify_all();
  for (auto& t : threads_)
    if (t.joinable()) t.join();
  threads_.clear();
}

void TPackAhead::Work() {
  for (;;) {
    size_t p;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      // Stay within the budget, unless the writer is already waiting for
      // this very job (then nothing it waits for can be held up by it).
      changed_.wait(lock, [&] {
        if (stop_ || next_ >= jobs_.size()) return true;
        return buffered_ < budget_ || next_ <= requested_;
      });
      while (next_ < jobs_.size() && state_[next_] != State::Waiting) ++next_;
      if (stop_ || next_ >= jobs_.size()) return;
      p = next_++;
      state_[p] = State::Working;
    }
    TPackedFile packed;
    std::exception_ptr failure;
    try {
      PackFile(jobs_[p], stop_, packed);
    } catch (...) {
      failure = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (failure && !failure_) failure_ = failure;
      buffered_ += packed.Data->GetSize();
      results_[p] = std::move(packed);
      state_[p] = State::Done;
    }
    changed_.notify_all();
  }
}

TPackAhead::Take TPackAhead::TakeEntry(int index, TPackedFile& out, const std::function<void()>& pump,
                                       const std::function<bool()>& cancelled) {
  if (index < 0 || size_t(index) >= byIndex_.size() || byIndex_[size_t(index)] < 0) return Take::DoItYourself;
  const size_t p = size_t(byIndex_[size_t(index)]);
  std::unique_lock<std::mutex> lock(mutex_);
  // Results the writer passed over (entries it dropped) free their memory.
  for (size_t q = requested_; q < p; ++q)
    if (state_[q] == State::Done) {
      buffered_ -= results_[q].Data->GetSize();
      results_[q] = TPackedFile{};
      state_[q] = State::Taken;
    } else if (state_[q] == State::Waiting) {
      state_[q] = State::Claimed;
    }
  requested_ = std::max(requested_, p);
  changed_.notify_all();
  if (state_[p] == State::Waiting) {
    state_[p] = State::Claimed;  // no worker got to it: the writer does it now
    return Take::DoItYourself;
  }
  while (state_[p] == State::Working) {
    changed_.wait_for(lock, std::chrono::milliseconds(50));
    if (state_[p] != State::Working) break;
    lock.unlock();
    if (pump) pump();
    const bool stopNow = cancelled && cancelled();
    lock.lock();
    if (stopNow) return Take::Cancelled;
  }
  if (failure_) std::rethrow_exception(failure_);
  if (state_[p] != State::Done) return Take::DoItYourself;
  buffered_ -= results_[p].Data->GetSize();
  out = std::move(results_[p]);
  results_[p] = TPackedFile{};
  state_[p] = State::Taken;
  changed_.notify_all();
  return Take::Packed;
}

}  // namespace parcelix
