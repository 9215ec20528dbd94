// Decoding one member through the table of decoders by method.
#include "engine/read/ZipMember.h"

#include <algorithm>
#include <memory>

#include "engine/codec/Crc32.h"
#include "engine/codec/arxStreams.h"

namespace parcelix {

namespace {

// Stored members are copied in pieces of this.
constexpr int64_t kChunk = 32768;

// Method 0: the data are the bytes.
bool CopyStored(TInflateJob& job) {
  int64_t left = std::min(job.CompressedSize, job.UncompressedSize);
  auto buf = std::make_unique_for_overwrite<uint8_t[]>(size_t(std::clamp<int64_t>(left, 1, kChunk)));
  int64_t done = 0;
  while (left > 0 && !(job.Cancel && *job.Cancel)) {
    if (job.ProcessMessages) job.ProcessMessages();
    const int64_t want = std::min(left, kChunk);
    const int64_t got = job.Archive->Read(buf.get(), want);
    if (got <= 0) break;  // the archive ends inside the member
    if (job.Output(buf.get(), uint32_t(got)) < uint32_t(got)) break;
    left -= got;
    done += got;
    if (job.Progress) job.Progress(done, done);
    if (got < want) break;
  }
  return true;
}

bool Deflate(TInflateJob& job) {
  InflateMember(job, -15, false);
  return true;
}

bool Deflate64(TInflateJob& job) {
  InflateMember(job, -15, true);
  return true;
}

struct MethodDecoder {
  uint16_t method;
  bool (*decode)(TInflateJob&);
};

constexpr MethodDecoder kDecoders[] = {{0, CopyStored}, {8, Deflate}, {9, Deflate64}};

}  // namespace

TMemberResult DecodeMember(TInflateJob job, uint16_t method, uint32_t expectedCrc, const TMethodHook& hook) {
  TMemberResult r;
  TCrcRegister crc;
  crc.CrcValue32 = CrcMask;
  const int64_t limit = std::max<int64_t>(job.UncompressedSize, 0);
  auto output = std::move(job.Output);
  // Whatever a decoder does, no member grows past its recorded size.
  job.Output = [&](const uint8_t* b, uint32_t n) -> uint32_t {
    const uint32_t asked = n;
    n = uint32_t(std::min<int64_t>(n, limit - r.written));
    if (n == 0) return asked;
    const uint32_t done = output(b, n);
    r.written += done;
    if (done < n) return done;
    crc.UpdateCrcOfKind(kCrcKind32, b, int32_t(n));
    return asked;
  };
  const auto* d = std::find_if(std::begin(kDecoders), std::end(kDecoders),
                               [method](const MethodDecoder& m) { return m.method == method; });
  const bool decoded = d != std::end(kDecoders) ? d->decode(job) : (hook && hook(method, job));
  r.crc = crc.CrcValue32 ^ CrcMask;
  r.crcMatches = expectedCrc == r.crc || expectedCrc == (r.crc ^ CrcMask);
  if (!decoded) r.status = TMemberStatus::msUnsupportedMethod;
  else if (job.Cancel && *job.Cancel) r.status = TMemberStatus::msCancelled;
  else if (r.written != limit) r.status = TMemberStatus::msShort;
  else if (!r.crcMatches) r.status = TMemberStatus::msCrcMismatch;
  return r;
}

}  // namespace parcelix
