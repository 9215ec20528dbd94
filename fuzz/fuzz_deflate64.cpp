// Fuzz target: the member decoders (Deflate64 and zlib through InflateMember) on hostile data and sizes.
//
// Input layout: bytes 0..2 the member's uncompressed size (little-endian, up
// to 16 MiB), byte 3 the read size of the source (0: whole reads), then the
// compressed stream. Checked: no crash or sanitizer report, output never
// above the declared size, never more than 64 KiB per write, and the same
// result whatever the source's read size.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/codec/Inflate.h"
#include "engine/codec/arxStreams.h"
#include "engine/common/ByteIO.h"

namespace {

using namespace parcelix;

class FuzzSource : public TStream32 {
 public:
  FuzzSource(const uint8_t* data, size_t size, int64_t piece) : data_(data), size_(int64_t(size)), piece_(piece) {}
  int64_t Read(void* buffer, int64_t count) override {
    int64_t n = std::min({count, piece_, size_ - pos_});
    if (n <= 0) return 0;
    std::memcpy(buffer, data_ + pos_, size_t(n));
    pos_ += n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { return -1; }
  int64_t Seek(int64_t offset, int origin) override {
    pos_ = (origin == soFromBeginning ? 0 : origin == soFromCurrent ? pos_ : size_) + offset;
    return pos_;
  }

 private:
  const uint8_t* data_;
  int64_t size_, pos_ = 0, piece_;
};

struct Result {
  std::vector<uint8_t> out;
  bool ok = false;
};

Result Decode(const uint8_t* data, size_t size, int64_t declared, int64_t piece, bool deflate64) {
  FuzzSource source(data, size, piece);
  Result r;
  TInflateJob job;
  job.Archive = &source;
  job.CompressedSize = int64_t(size);
  job.UncompressedSize = declared;
  job.Output = [&](const uint8_t* b, uint32_t n) {
    if (n > 65536 || int64_t(r.out.size() + n) > declared) std::abort();
    r.out.insert(r.out.end(), b, b + n);
    return n;
  };
  if (deflate64)
    r.ok = Inflate64(job);
  else
    InflateMember(job, -15, false);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int64_t declared = int64_t(data[0]) | (int64_t(data[1]) << 8) | (int64_t(data[2]) << 16);
  const int64_t piece = data[3] == 0 ? INT64_MAX : data[3];
  data += 4;
  size -= 4;
  const Result whole = Decode(data, size, declared, INT64_MAX, true);
  const Result pieces = Decode(data, size, declared, piece, true);
  if (whole.ok != pieces.ok || whole.out != pieces.out) std::abort();
  Decode(data, size, declared, piece, false);
  return 0;
}
