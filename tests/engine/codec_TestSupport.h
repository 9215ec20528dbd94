// Shared helpers of the codec tests: an in-memory source with short reads, test data, zlib reference calls.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/codec/arxStreams.h"

namespace parcelix::codectest {

using Bytes = std::vector<uint8_t>;

// A read-only stream over bytes that hands out at most `piece` bytes per Read
// (as a pipe or a slow device would) and remembers every request.
class ShortReadStream : public TStream32 {
 public:
  explicit ShortReadStream(Bytes data, int64_t piece = INT64_MAX) : data_(std::move(data)), piece_(piece) {}
  int64_t Read(void* buffer, int64_t count) override {
    requests.push_back(count);
    const int64_t avail = std::max<int64_t>(0, int64_t(data_.size()) - pos_);
    const int64_t n = std::max<int64_t>(0, std::min({count, piece_, avail}));
    if (n > 0) std::memcpy(buffer, data_.data() + pos_, size_t(n));
    pos_ += n;
    furthest = std::max(furthest, pos_);
    return n;
  }
  int64_t Write(const void*, int64_t) override { return -1; }
  int64_t Seek(int64_t offset, int origin) override {
    pos_ = (origin == soFromBeginning ? 0 : origin == soFromCurrent ? pos_ : int64_t(data_.size())) + offset;
    return pos_;
  }
  std::vector<int64_t> requests;
  int64_t furthest = 0;  // the highest position any read reached

 private:
  Bytes data_;
  int64_t pos_ = 0;
  int64_t piece_;
};

// Word salad: compresses like real text, and repeats longer than 257 bytes
// are practically impossible, so zlib never emits its length-258 code.
inline Bytes WordText(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> words(400);
  for (auto& w : words) {
    w.resize(2 + rng() % 8);
    for (auto& c : w) c = char('a' + rng() % 26);
  }
  Bytes out;
  while (out.size() < size) {
    const auto& w = words[rng() % words.size()];
    out.insert(out.end(), w.begin(), w.end());
    out.push_back(rng() % 13 == 0 ? '\n' : ' ');
  }
  out.resize(size);
  return out;
}

inline Bytes RandomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = uint8_t(rng());
  return out;
}

inline Bytes ZlibRawDeflate(const Bytes& in, int level, int strategy = Z_DEFAULT_STRATEGY) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
  Bytes out(deflateBound(&z, uLong(in.size())));
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline uint32_t ZlibCrc(const Bytes& b) { return uint32_t(crc32(0, b.data(), uInt(b.size()))); }

}  // namespace parcelix::codectest
