// InflateMember: decodes one method-8 member through zlib, chunk by chunk against the member's known sizes.
#include "engine/codec/Inflate.h"

#include <algorithm>
#include <memory>

#include "engine/codec/arxStreams.h"

namespace parcelix {

namespace {

// Decoded bytes are handed on, and compressed bytes read, in pieces of at most this.
constexpr int64_t kChunk = 32768;

}  // namespace

void InflateMember(TInflateJob& job, int windowBits, bool deflate64) {
  if (deflate64) {
    Inflate64(job);
    return;
  }
  if (!job.Archive || !job.Output || job.UncompressedSize <= 0) return;

  const int64_t compressedSize = std::max<int64_t>(job.CompressedSize, 0);
  TDecompressStream decoder(*job.Archive, windowBits);
  // However the decoder refills, it never reads past the member's data.
  decoder.SetInputLimit(compressedSize);
  int64_t expected = job.UncompressedSize;
  auto buffer = std::make_unique_for_overwrite<uint8_t[]>(size_t(std::min(expected, kChunk)));

  int64_t produced = 0;
  // The loop is driven by the sizes from the directory, not by the decoder's
  // end-of-data report: the last request asks for exactly the bytes still
  // expected, so the member is complete even when zlib would only see the
  // final block's end after reading input beyond it.
  while (expected > 0 && !(job.Cancel && *job.Cancel)) {
    if (job.ProcessMessages) job.ProcessMessages();
    const int64_t outChunk = std::min(expected, kChunk);
    const int64_t inChunk = std::min(compressedSize - decoder.TotalIn(), kChunk);
    const int64_t n = decoder.ReadChunk(buffer.get(), outChunk, inChunk);
    if (n <= 0) {
      // 0: the Deflate data ended before the member's size was reached.
      // Z_BUF_ERROR: the member's compressed bytes are used up (or the archive
      // ends) and nothing more can arrive. Anything else: damaged data. In
      // every case no further input would help, so stop here; the member is
      // short and fails its CRC check.
      if (job.Progress) job.Progress(compressedSize, job.UncompressedSize);
      break;
    }
    if (job.Output(buffer.get(), uint32_t(n)) == 0 && job.OnWriteFailed) job.OnWriteFailed();
    produced += n;
    expected -= n;
    if (job.Progress) job.Progress(decoder.TotalIn(), produced);
  }
}

}  // namespace parcelix
