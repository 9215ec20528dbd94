// Member decoding: the contract between the reader and its decoders
// (zlib raw inflate for method 8, the engine's own Deflate64 for method 9).
#pragma once

#include <cstdint>
#include <functional>

namespace parcelix {

class TStream32;

// One member to decode. The archive stream stands at the member's first
// compressed byte; decoders never read more than CompressedSize bytes of it
// and never hand more than UncompressedSize bytes to Output.
struct TInflateJob {
  TStream32* Archive = nullptr;
  int64_t CompressedSize = 0;
  int64_t UncompressedSize = 0;
  // The reader's output writer: writes the bytes, runs them through the CRC,
  // returns the count written (0 when nothing could be written).
  std::function<uint32_t(const uint8_t* buffer, uint32_t count)> Output;
  // Called when Output wrote nothing of a chunk: the reader's fatal report
  // of "Error writing to file" (throws unless cancelled).
  std::function<void()> OnWriteFailed;
  // Progress after each chunk: compressed bytes consumed and uncompressed
  // bytes produced so far for this member.
  std::function<void(int64_t compressedDone, int64_t uncompressedDone)> Progress;
  // Once per chunk, before decoding it.
  std::function<void()> ProcessMessages;
  const uint8_t* Cancel = nullptr;
};

// Decodes a method-8 member (deflate64 false) through TDecompressStream, or
// hands a method-9 member to Inflate64. Reports nothing itself: a damaged
// member shows as fewer or different bytes, caught by the CRC check.
void InflateMember(TInflateJob& job, int windowBits, bool deflate64);

// The engine's own Deflate64 decoder. True when the stream loop ended cleanly.
bool Inflate64(TInflateJob& job);

}  // namespace parcelix
