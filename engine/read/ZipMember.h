// Decoding one member: one contract for every compression method, a table
// of decoders by method, and the result the caller judges the member by.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/codec/Inflate.h"

namespace parcelix {

enum class TMemberStatus : uint8_t {
  msOk,                 // every byte decoded and the CRC matches
  msCrcMismatch,        // decoded in full, the CRC differs
  msShort,              // fewer bytes than the recorded size (damaged or cut-off data)
  msUnsupportedMethod,  // no decoder for the method
  msCancelled,
};

struct TMemberResult {
  TMemberStatus status = TMemberStatus::msOk;
  int64_t written = 0;  // bytes the output took
  uint32_t crc = 0;     // CRC-32 of those bytes
  bool crcMatches = false;
  bool ok() const { return status == TMemberStatus::msOk; }
};

// A decoder for methods the table does not hold (Shrink, Reduce, Implode):
// decodes the job and returns true, or returns false when it has none.
using TMethodHook = std::function<bool(uint16_t method, TInflateJob& job)>;

// Decodes one member: job.Archive stands at the member's first data byte;
// job.Output receives the decoded bytes, never more than UncompressedSize
// in total, and tells how many it wrote. A chunk written only in part stays
// out of the CRC, so the member fails. The CRC is judged against
// expectedCrc (its complement also passes, as old writers stored it).
TMemberResult DecodeMember(TInflateJob job, uint16_t method, uint32_t expectedCrc, const TMethodHook& hook = {});

}  // namespace parcelix
