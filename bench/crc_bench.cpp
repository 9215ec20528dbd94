// Benchmark: the engine's CRC-32 against zlib's crc32 over the same buffer, in extraction-sized chunks.
#include <zlib.h>

#include <ctime>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "bench/BenchTiming.h"
#include "engine/codec/Crc32.h"

namespace {

using parcelix::bench::BestSeconds;
using parcelix::bench::CpuSeconds;

}  // namespace

int main() {
  constexpr size_t kSize = 256u << 20;
  constexpr size_t kChunk = 32768;  // what InflateMember hands on
  std::vector<uint8_t> data(kSize);
  std::mt19937_64 rng(1);
  for (auto& b : data) b = uint8_t(rng());

  uint32_t ours = 0, theirs = 0;
  const double tOurs = BestSeconds(5, [&] {
    uint32_t crc = parcelix::CrcMask;
    for (size_t pos = 0; pos < kSize; pos += kChunk) parcelix::UpdateCrc32(&data[pos], int32_t(kChunk), crc);
    ours = crc ^ parcelix::CrcMask;
  });
  const double tZlib = BestSeconds(5, [&] {
    uLong crc = crc32(0, nullptr, 0);
    for (size_t pos = 0; pos < kSize; pos += kChunk) crc = crc32(crc, &data[pos], uInt(kChunk));
    theirs = uint32_t(crc);
  });
  const double mb = double(kSize) / (1 << 20);
  std::printf("CRC-32 over %.0f MiB in %zu-byte chunks\n", mb, kChunk);
  std::printf("  engine: %8.1f MiB/s\n", mb / tOurs);
  std::printf("  zlib:   %8.1f MiB/s\n", mb / tZlib);
  std::printf("  engine/zlib speed ratio: %.2f%s\n", tZlib / tOurs, ours == theirs ? "" : "  (RESULTS DIFFER)");
  return ours == theirs ? 0 : 1;
}
