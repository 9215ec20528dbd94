// Packing ahead on spare cores: files of the entry list deflated into memory in list order while the archive is written.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/codec/arxStreams.h"

namespace parcelix {

// One file packed as the writer packs it: the entry's data (stored or raw
// Deflate), its CRC-32 and sizes. Status 0 is success, otherwise the error
// code the writer reports (25235 "Error opening file", 25236 "Error reading
// file or unexpected end of file").
struct TPackedFile {
  int Status = 0;
  int64_t Size = 0;
  uint32_t Crc = 0;
  uint16_t Method = 0;  // 0 stored, 8 deflated
  std::unique_ptr<TMemoryStream32> Data = std::make_unique<TMemoryStream32>();
};

// What to pack: the writer's choice of storing, made from its settings.
struct TPackJob {
  int Index = 0;  // position in the entry list
  std::string Path;
  bool Store = false;
  TDeflateType Type = dtDeflateN;
};

// Reads the whole file and packs it: stored, or deflated at the job's level
// (raw, window bits -15); a file of at most 256 bytes whose Deflate output is
// larger is stored. A file whose size changes while it is read fails with
// 25236. Stops early (Status 25443) when stop becomes true.
void PackFile(const TPackJob& job, const std::atomic<bool>& stop, TPackedFile& out);

// Worker threads pack the jobs in order into memory, at most BudgetBytes of
// packed data ahead of the writer. The writer takes the results in the same
// order. The bytes are those the writer would make itself: each file's Deflate
// stream depends only on its content and level.
class TPackAhead {
 public:
  TPackAhead(std::vector<TPackJob> jobs, int workers, int64_t budgetBytes);
  ~TPackAhead();  // stops and joins the workers
  TPackAhead(const TPackAhead&) = delete;
  TPackAhead& operator=(const TPackAhead&) = delete;

  enum class Take { Packed, DoItYourself, Cancelled };
  // For the entry at index: waits (calling pump about every 50 ms, and
  // giving up when cancelled() turns true) until a worker has packed it, or
  // claims it for the caller when no worker has started it yet. Entries not
  // scheduled, and results passed over, come back as DoItYourself.
  Take TakeEntry(int index, TPackedFile& out, const std::function<void()>& pump,
                 const std::function<bool()>& cancelled);
  void Stop();

 private:
  enum class State : uint8_t { Waiting, Working, Done, Claimed, Taken };
  void Work();

  std::vector<TPackJob> jobs_;
  std::vector<TPackedFile> results_;
  std::vector<State> state_;
  std::vector<int> byIndex_;  // entry index -> job position, -1 when not scheduled
  size_t next_ = 0;           // next job a worker may start
  size_t requested_ = 0;      // job position the writer has reached
  int64_t buffered_ = 0;      // packed bytes not yet taken
  int64_t budget_;
  std::exception_ptr failure_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::thread> threads_;
};

}  // namespace parcelix
