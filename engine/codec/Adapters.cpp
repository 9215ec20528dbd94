// The codec adapters (zlib raw deflate/inflate, store, CRC-only) and the per-file DeflateStream/StoreStream.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "engine/codec/arxStreams.h"

namespace parcelix {

namespace {

// The adapters' work buffer: 0x1FFFE bytes, so compressed output reaches the
// destination in whole writes of exactly this size plus one shorter last one.
constexpr uInt kWorkSize = 131070;
// StoreCopy moves a file in pieces of this size.
constexpr int64_t kStoreChunk = 0x19000;
// Forward seeks on a decoder discard output in pieces of this size.
constexpr int64_t kSkipPiece = 4096;
// zlib counts in 32-bit unsigned; larger buffers are fed in pieces.
constexpr int64_t kZlibPiece = 1 << 30;

// The adapters' 64-bit seeks accept only offsets that fit the 32-bit seek.
void CheckSeekRange(int64_t offset) {
  if (offset < INT32_MIN || offset > INT32_MAX) throw std::out_of_range("Range check error");
}

void UpdateCrcByKind(uint8_t kind, const void* buffer, int64_t count, uint32_t& crc) {
  if (kind == kCrcKind32) {
    crc = UpdateCrc32Block(buffer, size_t(count), crc);
  } else if (kind == kCrcKind16) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
      const int32_t n = count > INT32_MAX ? INT32_MAX : int32_t(count);
      UpdateCrc16(p, n, crc);
      p += n;
      count -= n;
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// TCompressStream

struct TCompressStream::Impl {
  explicit Impl(TStream32& d) : dest(d) {}
  ~Impl() {
    if (open) deflateEnd(&z);
  }
  void ResetOutput() {
    z.next_out = work.get();
    z.avail_out = kWorkSize;
  }
  // Puts the destination back where this adapter last left it, in case its
  // owner moved it (to patch a header, say) between two writes.
  void RestoreDestination() {
    if (dest.Position() != wrappedPos) dest.SetPosition(wrappedPos);
  }
  void WriteOutput(uInt count) {
    dest.WriteBuffer(work.get(), count);
    ResetOutput();
    wrappedPos = dest.Position();
  }

  TStream32& dest;
  z_stream z{};
  bool open = false;
  bool finished = false;
  std::unique_ptr<uint8_t[]> work = std::make_unique_for_overwrite<uint8_t[]>(kWorkSize);
  int64_t wrappedPos = 0;
  uint8_t encryption = emNone;
};

TCompressStream::TCompressStream(TStream32& destination, TDeflateType type, int windowBits,
                                 const TJobRecord& job)
    : Crc(job.Crc), impl_(std::make_unique<Impl>(destination)) {
  BytesLeft = job.BytesLeft;
  OwnerCancel = job.Cancel;
  impl_->encryption = job.EncryptionMethod;
  if (deflateInit2(&impl_->z, DeflateLevel(type), Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw EStreamError("Cannot start the Deflate encoder");
  impl_->open = true;
  impl_->ResetOutput();
  impl_->wrappedPos = destination.Position();
}

TCompressStream::~TCompressStream() {
  try {
    Finish();
  } catch (...) {
    // A destructor cannot report; callers that must know call Finish() first.
  }
}

int64_t TCompressStream::Write(const void* buffer, int64_t count) {
  Impl& m = *impl_;
  if (count <= 0 || m.finished) return 0;
  m.RestoreDestination();
  const auto* p = static_cast<const uint8_t*>(buffer);
  int64_t rest = count;
  while (rest > 0 && !Cancelled()) {
    const int64_t piece = rest < kZlibPiece ? rest : kZlibPiece;
    m.z.next_in = const_cast<Bytef*>(p);
    m.z.avail_in = uInt(piece);
    while (m.z.avail_in > 0 && !Cancelled()) {
      if (BytesLeft) *BytesLeft -= m.z.avail_in;
      const Bytef* before = m.z.next_in;
      const int r = deflate(&m.z, Z_NO_FLUSH);
      const size_t taken = size_t(m.z.next_in - before);
      if (taken && m.encryption == emNone) Crc = UpdateCrc32Block(before, taken, Crc);
      if (r != Z_OK && r != Z_BUF_ERROR) throw EStreamError("Deflate encoder error");
      if (m.z.avail_out == 0) {
        if (BytesLeft) *BytesLeft += m.z.avail_in;
        m.WriteOutput(kWorkSize);
      } else if (taken == 0) {
        throw EStreamError("Deflate encoder made no progress");
      }
      DoProgress();
    }
    p += piece;
    rest -= piece;
  }
  m.z.avail_in = 0;
  return count;
}

void TCompressStream::Finish() {
  Impl& m = *impl_;
  if (m.finished) return;
  m.finished = true;
  m.z.avail_in = 0;
  m.RestoreDestination();
  int r = deflate(&m.z, Z_FINISH);
  while (r != Z_STREAM_END && m.z.avail_out == 0 && !Cancelled()) {
    if (r != Z_OK && r != Z_BUF_ERROR) {
      deflateEnd(&m.z);
      m.open = false;
      return;
    }
    m.WriteOutput(kWorkSize);
    r = deflate(&m.z, Z_FINISH);
  }
  if (m.z.avail_out < kWorkSize) m.WriteOutput(kWorkSize - m.z.avail_out);
  deflateEnd(&m.z);
  m.open = false;
}

int64_t TCompressStream::Seek(int64_t offset, int origin) {
  CheckSeekRange(offset);
  if (offset == 0 && origin == soFromCurrent) return int64_t(impl_->z.total_in);
  return -1;
}

// ---------------------------------------------------------------------------
// TDecompressStream

struct TDecompressStream::Impl {
  explicit Impl(TStream32& s) : source(s) {}
  ~Impl() {
    if (open) inflateEnd(&z);
  }

  TStream32& source;
  z_stream z{};
  bool open = false;
  bool endOfData = false;
  // Allocated on the first refill and grown only when a refill asks for
  // more: a small member (a manifest) does not cost a 128 KiB buffer.
  std::unique_ptr<uint8_t[]> work;
  int64_t workCapacity = 0;
  int64_t startPos = 0;    // where decoding (re)starts
  int64_t wrappedPos = 0;  // where this adapter last left the source
  int64_t readTotal = 0;   // bytes read from the source since the start
  int64_t limit = -1;      // most bytes ever to read from the source; -1: no cap
};

TDecompressStream::TDecompressStream(TStream32& source, int windowBits, uint8_t encryptionMethod)
    : impl_(std::make_unique<Impl>(source)) {
  (void)encryptionMethod;  // no cipher is ever active on the program's paths
  if (inflateInit2(&impl_->z, windowBits) != Z_OK) throw EStreamError("Cannot start the Deflate decoder");
  impl_->open = true;
  impl_->startPos = impl_->wrappedPos = source.Position();
}

TDecompressStream::~TDecompressStream() {
  Impl& m = *impl_;
  // Leave the source just after the compressed bytes the decoder used, not
  // after everything that was read ahead into the work buffer.
  if (m.z.avail_in > 0) {
    try {
      m.source.SetPosition(m.wrappedPos - int64_t(m.z.avail_in));
    } catch (...) {
    }
  }
}

void TDecompressStream::SetInputLimit(int64_t limit) { impl_->limit = limit; }

int64_t TDecompressStream::ReadChunk(void* buffer, int64_t count, int64_t refillSize) {
  Impl& m = *impl_;
  if (count <= 0) return 0;
  // After the final block zlib has nothing more to give; refilling here would
  // only read past the member.
  if (m.endOfData) return 0;
  if (m.source.Position() != m.wrappedPos) m.source.SetPosition(m.wrappedPos);
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t piece = count - done < kZlibPiece ? count - done : kZlibPiece;
    m.z.next_out = out + done;
    m.z.avail_out = uInt(piece);
    while (m.z.avail_out > 0) {
      if (m.z.avail_in == 0) {
        int64_t want = refillSize < int64_t(kWorkSize) ? refillSize : int64_t(kWorkSize);
        if (m.limit >= 0 && want > m.limit - m.readTotal) want = m.limit - m.readTotal;
        if (want > m.workCapacity) {
          // Nothing is left in the buffer (avail_in is 0): it can be replaced.
          m.workCapacity = std::clamp<int64_t>(want, 4096, int64_t(kWorkSize));
          m.work = std::make_unique_for_overwrite<uint8_t[]>(size_t(m.workCapacity));
        }
        int64_t got = want > 0 ? m.source.Read(m.work.get(), want) : 0;
        if (got < 0) got = 0;
        m.readTotal += got;
        m.wrappedPos += got;
        m.z.next_in = m.work.get();
        m.z.avail_in = uInt(got);
        if (got > 0) DoProgress();
      }
      // With no input left zlib answers Z_BUF_ERROR once it has nothing
      // pending, so this loop cannot spin without reading.
      int r = inflate(&m.z, Z_NO_FLUSH);
      if (r == Z_STREAM_END) {
        m.endOfData = true;
        return done + (piece - int64_t(m.z.avail_out));
      }
      if (r == Z_NEED_DICT) r = Z_DATA_ERROR;  // raw data never asks for one
      if (r < 0) return r;
    }
    done += piece;
  }
  return count;
}

int64_t TDecompressStream::Seek(int64_t offset, int origin) {
  CheckSeekRange(offset);
  Impl& m = *impl_;
  if (origin == soFromBeginning && offset == 0) {
    inflateReset(&m.z);
    m.z.avail_in = 0;
    m.endOfData = false;
    m.readTotal = 0;
    m.source.SetPosition(m.startPos);
    m.wrappedPos = m.startPos;
    return 0;
  }
  const int64_t position = TotalOut();
  int64_t skip = 0;
  if (origin == soFromCurrent && offset >= 0)
    skip = offset;
  else if (origin == soFromBeginning && offset > position)
    skip = offset - position;
  uint8_t scratch[kSkipPiece];
  while (skip > 0) {
    const int64_t n = skip < kSkipPiece ? skip : kSkipPiece;
    if (Read(scratch, n) != n) break;
    skip -= n;
  }
  return TotalOut();
}

int64_t TDecompressStream::TotalIn() const { return int64_t(impl_->z.total_in); }
int64_t TDecompressStream::TotalOut() const { return int64_t(impl_->z.total_out); }
bool TDecompressStream::EndOfData() const { return impl_->endOfData; }

// ---------------------------------------------------------------------------
// TStoreStream

TStoreStream::TStoreStream(TStream32& destination, const TJobRecord& job, uint8_t crcKind)
    : Crc(crcKind == kCrcKind16 ? 0 : CrcMask), dest_(destination), kind_(crcKind) {
  BytesLeft = job.BytesLeft;
  OwnerCancel = job.Cancel;
}

int64_t TStoreStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  UpdateCrcByKind(kind_, buffer, count, Crc);
  if (BytesLeft) *BytesLeft -= count;
  dest_.WriteBuffer(buffer, count);
  taken_ += count;
  DoProgress();
  return count;
}

int64_t TStoreStream::Seek(int64_t offset, int origin) {
  CheckSeekRange(offset);
  if (offset == 0 && origin == soFromCurrent) return taken_;
  return -1;
}

int64_t TStoreStream::StoreCopy(TStream32& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  if (count <= 0) return 0;
  const int64_t total = count;
  const int64_t chunk = count < kStoreChunk ? count : kStoreChunk;
  auto buffer = std::make_unique_for_overwrite<uint8_t[]>(size_t(chunk));
  while (count > 0 && !Cancelled()) {
    if (ProcessMessages) ProcessMessages();
    const int64_t want = count < chunk ? count : chunk;
    // A file that shrank while it was being stored gives a short read: only
    // what was really read is stored, and the caller sees the shortfall.
    const int64_t got = source.Read(buffer.get(), want);
    if (got <= 0) break;
    Write(buffer.get(), got);
    count -= got;
  }
  return total - count;
}

// ---------------------------------------------------------------------------
// TCalcStreamCRC

TCalcStreamCRC::TCalcStreamCRC(TStream32& source, const TJobRecord& job, uint8_t crcKind, int64_t count)
    : Crc(crcKind == kCrcKind16 ? 0 : job.Crc), kind_(crcKind), sourceProgress_(bool(source.OnProgress)) {
  BytesLeft = job.BytesLeft;
  OwnerCancel = job.Cancel;
  ProgressHandler = source.ProgressHandler ? source.ProgressHandler : source.OnProgress;
  ProcessMessages = job.ProcessMessages ? job.ProcessMessages : source.ProcessMessages;
  CopyFrom(source, count);
}

int64_t TCalcStreamCRC::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  UpdateCrcByKind(kind_, buffer, count, Crc);
  if (sourceProgress_) {
    if (BytesLeft) *BytesLeft -= count;
    DoProgress();
  }
  return count;
}

// ---------------------------------------------------------------------------
// Per-file routines of the writer

bool DeflateStream(TStream32& source, TStream32& destination, TJobRecord& job, int windowBits,
                   const TStreamProgress& progress, TDeflateType type, uint32_t& outCrc) {
  TCompressStream deflater(destination, type, windowBits, job);
  deflater.ProgressHandler = progress;
  deflater.OnProgress = progress;
  deflater.ProcessMessages = job.ProcessMessages;
  source.OwnerCancel = job.Cancel;
  deflater.CopyFrom(source, 0);
  if (job.EncryptionMethod == emNone) outCrc = deflater.Crc ^ CrcMask;
  const bool ok = !(job.Cancel && *job.Cancel);
  // Finishing writes the last blocks; a failing destination throws here,
  // where the caller can see it, rather than in the destructor.
  deflater.Finish();
  return ok;
}

bool StoreStream(TStream32& source, TStream32& destination, TJobRecord& job, uint8_t crcKind,
                 const TStreamProgress& progress, TCrcRegister& regs) {
  TStoreStream store(destination, job, crcKind);
  store.ProgressHandler = progress;
  store.OnProgress = progress;
  store.ProcessMessages = job.ProcessMessages;
  const int64_t size = source.GetSize();
  const int64_t copied = store.StoreCopy(source, 0);
  const bool ok = copied == size && !(job.Cancel && *job.Cancel);
  if (job.EncryptionMethod == emNone) {
    if (crcKind == kCrcKind16)
      regs.CrcValue16 = store.Crc;
    else if (crcKind == kCrcKind32)
      regs.CrcValue32 = store.Crc ^ CrcMask;
  }
  return ok;
}

}  // namespace parcelix
