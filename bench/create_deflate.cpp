// Benchmark helper for the create command: how long reading, checksumming and raw Deflate of a tree take on their own.
//   create_deflate DIR [LEVEL]
// Prints the time spent in each part, so that a run of `parcelix create` can
// be split into deflate and everything else.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/codec/Crc32.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: create_deflate DIR [LEVEL]\n");
    return 2;
  }
  const int level = argc > 2 ? std::atoi(argv[2]) : 6;
  std::vector<std::vector<uint8_t>> files;
  const auto t0 = Clock::now();
  const std::clock_t c0 = std::clock();
  for (const auto& e : fs::recursive_directory_iterator(argv[1])) {
    if (!e.is_regular_file()) continue;
    std::ifstream f(e.path(), std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  const auto t1 = Clock::now();
  const std::clock_t c1 = std::clock();
  uint64_t bytes = 0;
  uint32_t sum = 0;
  for (const auto& f : files) {
    uint32_t crc = parcelix::CrcMask;
    parcelix::UpdateCrc32(f.data(), int32_t(f.size()), crc);
    sum ^= crc;
    bytes += f.size();
  }
  const auto t2 = Clock::now();
  const std::clock_t c2 = std::clock();
  uint64_t packed = 0;
  std::vector<uint8_t> out(1 << 20);
  for (const auto& f : files) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<Bytef*>(f.data());
    z.avail_in = uInt(f.size());
    int r;
    do {
      z.next_out = out.data();
      z.avail_out = uInt(out.size());
      r = deflate(&z, Z_FINISH);
    } while (r == Z_OK);
    packed += z.total_out;
    deflateEnd(&z);
  }
  const auto t3 = Clock::now();
  const std::clock_t c3 = std::clock();
  auto sec = [](auto a, auto b) { return std::chrono::duration<double>(b - a).count(); };
  auto cpu = [](std::clock_t a, std::clock_t b) { return double(b - a) / CLOCKS_PER_SEC; };
  std::printf("files %zu, %llu bytes; wall / cpu seconds: read %.2f / %.2f, crc %.2f / %.2f, "
              "raw deflate level %d %.2f / %.2f -> %llu bytes (crc %08x)\n",
              files.size(), (unsigned long long)bytes, sec(t0, t1), cpu(c0, c1), sec(t1, t2), cpu(c1, c2), level,
              sec(t2, t3), cpu(c2, c3), (unsigned long long)packed, sum);
  return 0;
}
