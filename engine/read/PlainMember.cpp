// The quick read of one member of a plain archive.
#include "engine/read/PlainMember.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <memory>
#include <span>

#include "engine/codec/Crc32.h"
#include "engine/common/ByteIO.h"
#include "engine/read/ZipRecords.h"

namespace parcelix {

namespace {

// The tail read once for the end record: the record and a comment, and
// with them the directory of a JAR of a few dozen members, often the
// manifest too (one page, which costs a read no more than a smaller one).
constexpr size_t kTail = 4096;
// A directory larger than this is not read by the quick path.
constexpr uint32_t kMaxDirectory = 8u << 20;
constexpr uint32_t kNoFit32 = 0xFFFFFFFFu;
constexpr uint16_t kMethodStored = 0, kMethodDeflate = 8;
// The local extra field read with the header before its length is known.
constexpr size_t kLocalExtraGuess = 64;
// Flags a plain member does not carry: encryption, patch data, strong encryption.
constexpr uint16_t kFlagsNotPlain = kFlagEncrypted | 0x0020 | kFlagStrongEnc;
// How far before the member the first entry's header may lie to be read
// with it.
constexpr int64_t kFirstEntryReach = 4096;
// A data descriptor with its signature.
constexpr size_t kDescriptorSize = 16;
// What Deflate adds at most to a small member that does not compress.
constexpr uint32_t kDeflateSlack = 4096;

// Bytes read from the file: on the stack when they fit, as they do for
// nearly every JAR, else on the heap; never zero-filled before the read.
template <size_t N>
class TReadBuffer {
 public:
  std::span<uint8_t> Resize(size_t n) {
    if (n <= N) return {local_.data(), n};
    heap_ = std::make_unique_for_overwrite<uint8_t[]>(n);
    return {heap_.get(), n};
  }

 private:
  std::array<uint8_t, N> local_;
  std::unique_ptr<uint8_t[]> heap_;
};

bool ReadFully(int fd, void* dst, size_t n, int64_t at) {
  auto* p = static_cast<uint8_t*>(dst);
  while (n > 0) {
    const ssize_t r = ::pread(fd, p, n, off_t(at));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    at += r;
    n -= size_t(r);
  }
  return true;
}

bool SameName(std::span<const uint8_t> stored, std::string_view want) {
  if (stored.size() != want.size()) return false;
  for (size_t i = 0; i < want.size(); ++i) {
    char c = char(stored[i]);
    if (c == '\\') c = '/';
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    char w = want[i];
    if (w >= 'a' && w <= 'z') w = char(w - 'a' + 'A');
    if (c != w) return false;
  }
  return true;
}

// The end record of a file of size bytes whose last bytes are tail: found
// where its comment reaches exactly to the end of the file, on one disk,
// with 32-bit values only.
bool PlainEnd(std::span<const uint8_t> tail, int64_t size, EndRecord& end) {
  for (size_t back = kEndRecordSize; back <= tail.size(); ++back) {
    const size_t at = tail.size() - back;
    if (GetLE32(&tail[at]) != kSigEnding) continue;
    if (!end.Parse(tail.subspan(at)) || at + kEndRecordSize + end.commentLength != tail.size()) return false;
    const int64_t endPos = size - int64_t(back);
    return end.thisDisk == 0 && end.directoryDisk == 0 && end.entriesThisDisk == end.totalEntries &&
           end.totalEntries != 0xFFFF && end.directorySize != kNoFit32 && end.directoryOffset != kNoFit32 &&
           int64_t(end.directoryOffset) + end.directorySize == endPos;
  }
  return false;
}

// What the directory gives: the one central header of the wanted name, and
// the first header (the reader judges the recorded offsets by it).
struct TDirectoryHit {
  CentralHeader wanted, first;
  std::span<const uint8_t> wantedName, firstName;
};

// Finds the wanted name in the directory, every header well formed and
// inside it; false when it is not there, or there more than once.
bool FindCentral(std::span<const uint8_t> dir, uint16_t count, std::string_view name, TDirectoryHit& hit) {
  size_t p = 0, matches = 0;
  for (uint16_t i = 0; i < count; ++i) {
    if (dir.size() - p < kCentralHeaderSize || GetLE32(&dir[p]) != kSigCentral) return false;
    // Only the lengths are needed to walk on; a header is parsed whole when
    // it is the first or the wanted one.
    const uint8_t* fixed = &dir[p];
    const size_t nameLength = GetLE16(fixed + 28);
    const size_t total = kCentralHeaderSize + nameLength + GetLE16(fixed + 30) + GetLE16(fixed + 32);
    if (dir.size() - p < total) return false;
    const auto stored = dir.subspan(p + kCentralHeaderSize, nameLength);
    if (i == 0) {
      if (!hit.first.Parse(dir.subspan(p))) return false;
      hit.firstName = stored;
    }
    if (SameName(stored, name) && ++matches == 1) {
      if (!hit.wanted.Parse(dir.subspan(p))) return false;
      hit.wantedName = stored;
    }
    p += total;
  }
  return matches == 1 && p == dir.size();
}

// The local header at offset at of bytes read from the file at base carries
// the name; false when it lies outside them or does not.
bool LocalNamed(std::span<const uint8_t> bytes, int64_t base, int64_t at, std::span<const uint8_t> name) {
  if (at < base || at - base + int64_t(kLocalHeaderSize + name.size()) > int64_t(bytes.size())) return false;
  const uint8_t* p = bytes.data() + (at - base);
  return GetLE32(p) == kSigLocal && GetLE16(p + 26) == name.size() &&
         std::equal(name.begin(), name.end(), p + kLocalHeaderSize);
}

// The local header says what the central one says: the same flags, method
// and name length, no encryption or patch data; without a data descriptor
// the same CRC and sizes, with one the same or zero (as a streaming writer
// leaves them).
bool SameLocal(const LocalHeader& l, const CentralHeader& h) {
  if (l.flags != h.flags || l.nameLength != h.nameLength || l.method != h.method || (l.flags & kFlagsNotPlain))
    return false;
  if (!(l.flags & kFlagDataDescriptor))
    return l.crc32 == h.crc32 && l.compressedSize == h.compressedSize && l.uncompressedSize == h.uncompressedSize;
  return (l.crc32 == 0 || l.crc32 == h.crc32) && (l.compressedSize == 0 || l.compressedSize == h.compressedSize) &&
         (l.uncompressedSize == 0 || l.uncompressedSize == h.uncompressedSize);
}

// The data descriptor at the start of bytes (its signature optional) gives
// the central CRC and sizes.
bool SameDescriptor(std::span<const uint8_t> bytes, const CentralHeader& h) {
  if (bytes.size() >= 4 && GetLE32(bytes.data()) == kSigDataDescriptor) bytes = bytes.subspan(4);
  return bytes.size() >= 12 && GetLE32(&bytes[0]) == h.crc32 && GetLE32(&bytes[4]) == h.compressedSize &&
         GetLE32(&bytes[8]) == h.uncompressedSize;
}

// The reader moves every offset when the first entry's header is not where
// the directory says: such an archive is not plain. The header is looked
// for in the block read from base, else read on its own.
bool FirstInPlace(int fd, std::span<const uint8_t> block, int64_t base, const TDirectoryHit& hit) {
  const int64_t first = hit.first.localHeaderOffset;
  if (first == base) return LocalNamed(block, base, first, hit.firstName);
  TReadBuffer<kLocalHeaderSize + 256> buffer;
  const std::span<uint8_t> own = buffer.Resize(kLocalHeaderSize + hit.firstName.size());
  return ReadFully(fd, own.data(), own.size(), first) && LocalNamed(own, first, first, hit.firstName);
}

// zlib's memory for one inflate that finishes in a single call: its state
// fits in a buffer on the stack, so a batch of JARs costs no heap traffic
// for it. Anything more (a window, or the state of a larger zlib) comes from
// the heap.
class TInflateArena {
 public:
  static voidpf Alloc(voidpf opaque, uInt items, uInt size) {
    auto* arena = static_cast<TInflateArena*>(opaque);
    const size_t bytes = size_t(items) * size_t(size);
    const size_t rounded = (bytes + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
    if (rounded <= arena->bytes_.size() - arena->used_) {
      void* p = arena->bytes_.data() + arena->used_;
      arena->used_ += rounded;
      return p;
    }
    return std::malloc(bytes);
  }
  static void Free(voidpf opaque, voidpf p) {
    auto* arena = static_cast<TInflateArena*>(opaque);
    const std::less<const void*> before;
    if (!before(p, arena->bytes_.data()) && before(p, arena->bytes_.data() + arena->bytes_.size())) return;
    std::free(p);
  }

 private:
  alignas(std::max_align_t) std::array<uint8_t, 8192> bytes_;
  size_t used_ = 0;
};

bool Decode(const CentralHeader& h, std::span<const uint8_t> data, std::vector<uint8_t>& out) {
  if (h.method == kMethodStored) {
    if (h.compressedSize != h.uncompressedSize) return false;
    out.assign(data.begin(), data.end());
  } else {
    // One byte more than promised: a stream that holds more is found out.
    out.resize(size_t(h.uncompressedSize) + 1);
    TInflateArena arena;
    z_stream z{};
    z.zalloc = TInflateArena::Alloc;
    z.zfree = TInflateArena::Free;
    z.opaque = &arena;
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(data.data());  // zlib does not write to its input
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const bool whole = rc == Z_STREAM_END && z.total_out == h.uncompressedSize && z.avail_in == 0;
    inflateEnd(&z);
    out.resize(h.uncompressedSize);
    if (!whole) return false;
  }
  return (UpdateCrc32Block(out.data(), out.size(), CrcMask) ^ CrcMask) == h.crc32;
}

}  // namespace

bool ReadPlainMember(const std::string& path, std::string_view name, size_t maxSize, TPlainMember& out) {
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd.IsOpen() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int64_t size = st.st_size;
  if (size < int64_t(kEndRecordSize)) return false;
  std::array<uint8_t, kTail> tailBuffer;
  const std::span<uint8_t> tail(tailBuffer.data(), size_t(std::min<int64_t>(size, kTail)));
  EndRecord end;
  if (!ReadFully(fd.Get(), tail.data(), tail.size(), size - int64_t(tail.size())) || !PlainEnd(tail, size, end) ||
      end.directorySize > kMaxDirectory)
    return false;
  // Bytes from at up to the end record, n of them: from the tail when it
  // holds them, else read into buffer.
  const int64_t tailStart = size - int64_t(tail.size());
  const auto bytesAt = [&](auto& buffer, int64_t at, size_t n) -> std::span<const uint8_t> {
    if (at >= tailStart) return std::span<const uint8_t>(tail).subspan(size_t(at - tailStart), n);
    const std::span<uint8_t> read = buffer.Resize(n);
    if (!ReadFully(fd.Get(), read.data(), read.size(), at)) return {};
    return read;
  };
  TReadBuffer<8192> dirBuffer;
  const int64_t dirStart = int64_t(end.directoryOffset);
  const std::span<const uint8_t> dir = bytesAt(dirBuffer, dirStart, end.directorySize);
  TDirectoryHit hit;
  if (dir.size() != end.directorySize || !FindCentral(dir, end.totalEntries, name, hit)) return false;
  const CentralHeader& h = hit.wanted;
  if ((h.flags & kFlagsNotPlain) || (h.method != kMethodStored && h.method != kMethodDeflate) ||
      h.uncompressedSize > maxSize || h.compressedSize > maxSize + kDeflateSlack || h.compressedSize == kNoFit32 ||
      h.uncompressedSize == kNoFit32 || h.diskNumberStart != 0 ||
      int64_t(h.localHeaderOffset) + int64_t(kLocalHeaderSize) > dirStart)
    return false;
  // The member's local header, data and descriptor in one read when its
  // extra field is short, as it nearly always is; the read starts at the
  // first entry's header when that lies shortly before, as it does in a JAR.
  const int64_t at = h.localHeaderOffset, first = hit.first.localHeaderOffset;
  const int64_t base = first < at && at - first <= kFirstEntryReach ? first : at;
  const int64_t room = dirStart - at;
  const int64_t guess = kLocalHeaderSize + h.nameLength + kLocalExtraGuess + h.compressedSize + kDescriptorSize;
  TReadBuffer<16384> blockBuffer;
  const size_t blockSize = size_t(at - base + std::min<int64_t>(guess, room));
  std::span<const uint8_t> block = bytesAt(blockBuffer, base, blockSize);
  if (block.size() != blockSize) return false;
  if (first != at && !FirstInPlace(fd.Get(), block, base, hit)) return false;
  std::span<const uint8_t> local = block.subspan(size_t(at - base));
  LocalHeader l;
  if (GetLE32(local.data()) != kSigLocal || !l.Parse(local) || !SameLocal(l, h) ||
      !LocalNamed(local, at, at, hit.wantedName))
    return false;
  const size_t dataStart = kLocalHeaderSize + l.nameLength + l.extraLength;
  const size_t dataEnd = dataStart + h.compressedSize;
  // With a data descriptor, what follows the data is read too (it may lack
  // its signature, so 12 bytes are enough when the directory comes sooner).
  const bool descriptor = l.flags & kFlagDataDescriptor;
  const size_t need = descriptor ? size_t(std::min<int64_t>(int64_t(dataEnd + kDescriptorSize), room)) : dataEnd;
  if (int64_t(dataEnd) > room) return false;
  if (local.size() < need) {
    block = bytesAt(blockBuffer, base, size_t(at - base) + need);
    if (block.size() != size_t(at - base) + need) return false;
    local = block.subspan(size_t(at - base));
  }
  if (descriptor && !SameDescriptor(local.subspan(dataEnd, need - dataEnd), h)) return false;
  if (!Decode(h, local.subspan(dataStart, dataEnd - dataStart), out.bytes)) return false;
  out.identity = IdentityOfStat(st);
  return true;
}

}  // namespace parcelix
