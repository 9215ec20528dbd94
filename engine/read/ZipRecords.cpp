// The on-disk ZIP records: the signature classifier, the parse and write of
// each fixed record, and the extra-field parser.
#include "engine/read/ZipRecords.h"

#include <algorithm>

#include "engine/common/ByteIO.h"

#include <algorithm>

namespace parcelix {

THeaderClass ClassifySignature(uint32_t sig, THeaderType wanted) {
  THeaderClass r;
  switch (wanted) {
    case htLocal:
      if (sig == kSigLocal || sig == kSigLocalEnc) r.type = htLocal;
      r.enciphered = sig == kSigLocalEnc;
      break;
    case htCentral:
      if (sig == kSigCentral || sig == kSigCentralEnc) r.type = htCentral;
      r.enciphered = sig == kSigCentralEnc;
      break;
    case htEnding:
      if (sig == kSigEnding || sig == kSigWideEnding || sig == kSigEndingEnc || sig == kSigWideEndingEnc)
        r.type = htEnding;
      r.enciphered = sig == kSigEndingEnc || sig == kSigWideEndingEnc;
      break;
    case htLocator:
      if (sig == kSigZip64Locator) r.type = htLocator;
      break;
    case htEnding64:
      if (sig == kSigZip64Ending) r.type = htEnding64;
      break;
    case htNone:
      break;
  }
  if (r.type == htNone) r.enciphered = false;
  return r;
}

namespace {

// The 24 bytes that local and central headers share, from the flags to the
// extra field length, in the same order in both.
template <class Header>
void ReadSharedFields(ByteReader& r, Header& h) {
  h.flags = r.u16();
  h.method = r.u16();
  const uint16_t time = r.u16();
  const uint16_t date = r.u16();
  h.dosDateTime = uint32_t(date) << 16 | time;
  h.crc32 = r.u32();
  h.compressedSize = r.u32();
  h.uncompressedSize = r.u32();
  h.nameLength = r.u16();
  h.extraLength = r.u16();
}

template <class Header>
void PutSharedFields(uint8_t* p, const Header& h) {
  PutLE16(p + 0, h.flags);
  PutLE16(p + 2, h.method);
  PutLE16(p + 4, uint16_t(h.dosDateTime));
  PutLE16(p + 6, uint16_t(h.dosDateTime >> 16));
  PutLE32(p + 8, h.crc32);
  PutLE32(p + 12, h.compressedSize);
  PutLE32(p + 16, h.uncompressedSize);
  PutLE16(p + 20, h.nameLength);
  PutLE16(p + 22, h.extraLength);
}

}  // namespace

bool LocalHeader::Parse(std::span<const uint8_t> bytes) {
  ByteReader r(bytes);
  signature = r.u32();
  versionNeeded = r.u16();
  ReadSharedFields(r, *this);
  return r.ok();
}

std::array<uint8_t, kLocalHeaderSize> LocalHeader::Bytes() const {
  std::array<uint8_t, kLocalHeaderSize> b{};
  uint8_t* p = b.data();
  PutLE32(p + 0, signature);
  PutLE16(p + 4, versionNeeded);
  PutSharedFields(p + 6, *this);
  return b;
}

bool CentralHeader::Parse(std::span<const uint8_t> bytes) {
  ByteReader r(bytes);
  signature = r.u32();
  versionMadeBy = r.u16();
  versionNeeded = r.u16();
  ReadSharedFields(r, *this);
  commentLength = r.u16();
  diskNumberStart = r.u16();
  internalAttributes = r.u16();
  externalAttributes = r.u32();
  localHeaderOffset = r.u32();
  return r.ok();
}

std::array<uint8_t, kCentralHeaderSize> CentralHeader::Bytes() const {
  std::array<uint8_t, kCentralHeaderSize> b{};
  uint8_t* p = b.data();
  PutLE32(p + 0, signature);
  PutLE16(p + 4, versionMadeBy);
  PutLE16(p + 6, versionNeeded);
  PutSharedFields(p + 8, *this);
  PutLE16(p + 32, commentLength);
  PutLE16(p + 34, diskNumberStart);
  PutLE16(p + 36, internalAttributes);
  PutLE32(p + 38, externalAttributes);
  PutLE32(p + 42, localHeaderOffset);
  return b;
}

bool EndRecord::Parse(std::span<const uint8_t> bytes) {
  ByteReader r(bytes);
  signature = r.u32();
  wide = signature == kSigWideEnding || signature == kSigWideEndingEnc;
  thisDisk = r.u16();
  directoryDisk = r.u16();
  entriesThisDisk = r.u16();
  totalEntries = r.u16();
  directorySize = r.u32();
  directoryOffset = wide ? r.u64() : r.u32();
  commentLength = r.u16();
  return r.ok();
}

std::vector<uint8_t> EndRecord::Bytes() const {
  std::vector<uint8_t> out;
  out.reserve(wide ? kWideEndRecordSize : kEndRecordSize);
  ByteWriter w(out);
  w.u32(wide ? kSigWideEnding : kSigEnding);
  w.u16(thisDisk);
  w.u16(directoryDisk);
  w.u16(entriesThisDisk);
  w.u16(totalEntries);
  w.u32(directorySize);
  if (wide) w.u64(directoryOffset);
  else w.u32(uint32_t(directoryOffset));
  w.u16(commentLength);
  return out;
}

bool Zip64Locator::Parse(std::span<const uint8_t> bytes) {
  ByteReader r(bytes);
  const uint32_t sig = r.u32();
  endRecordDisk = r.u32();
  endRecordOffset = r.u64();
  totalDisks = r.u32();
  return r.ok() && sig == kSigZip64Locator;
}

std::array<uint8_t, kZip64LocatorSize> Zip64Locator::Bytes() const {
  std::array<uint8_t, kZip64LocatorSize> b{};
  PutLE32(b.data(), kSigZip64Locator);
  PutLE32(b.data() + 4, endRecordDisk);
  PutLE64(b.data() + 8, endRecordOffset);
  PutLE32(b.data() + 16, totalDisks);
  return b;
}

bool Zip64EndRecord::Parse(std::span<const uint8_t> bytes) {
  ByteReader r(bytes);
  const uint32_t sig = r.u32();
  recordSize = r.u64();
  versionMadeBy = r.u16();
  versionNeeded = r.u16();
  thisDisk = r.u32();
  directoryDisk = r.u32();
  entriesThisDisk = r.u64();
  totalEntries = r.u64();
  directorySize = r.u64();
  directoryOffset = r.u64();
  return r.ok() && sig == kSigZip64Ending;
}

std::array<uint8_t, kZip64EndRecordSize> Zip64EndRecord::Bytes() const {
  std::array<uint8_t, kZip64EndRecordSize> b{};
  uint8_t* p = b.data();
  PutLE32(p, kSigZip64Ending);
  PutLE64(p + 4, recordSize);
  PutLE16(p + 12, versionMadeBy);
  PutLE16(p + 14, versionNeeded);
  PutLE32(p + 16, thisDisk);
  PutLE32(p + 20, directoryDisk);
  PutLE64(p + 24, entriesThisDisk);
  PutLE64(p + 32, totalEntries);
  PutLE64(p + 40, directorySize);
  PutLE64(p + 48, directoryOffset);
  return b;
}

bool DataDescriptor::Parse(std::span<const uint8_t> bytes, bool wide) {
  ByteReader r(bytes);
  hasSignature = bytes.size() >= 4 && GetLE32(bytes.data()) == kSigDataDescriptor;
  if (hasSignature) r.skip(4);
  wideSizes = wide;
  crc32 = r.u32();
  compressedSize = wide ? r.u64() : r.u32();
  uncompressedSize = wide ? r.u64() : r.u32();
  return r.ok();
}

std::vector<uint8_t> DataDescriptor::Bytes() const {
  std::vector<uint8_t> out;
  out.reserve(Size());
  ByteWriter w(out);
  if (hasSignature) w.u32(kSigDataDescriptor);
  w.u32(crc32);
  if (wideSizes) {
    w.u64(compressedSize);
    w.u64(uncompressedSize);
  } else {
    w.u32(uint32_t(compressedSize));
    w.u32(uint32_t(uncompressedSize));
  }
  return out;
}

bool ExtraBlocks::Next(ExtraBlock& block) {
  if (rest_.empty()) return false;
  if (rest_.size() < 4) {
    // Up to three zero bytes are alignment padding (some signers and aligning
    // tools leave them), not a broken block.
    overflow_ = std::any_of(rest_.begin(), rest_.end(), [](uint8_t b) { return b != 0; });
    rest_ = {};
    return false;
  }
  const uint16_t id = GetLE16(rest_.data());
  const size_t size = GetLE16(rest_.data() + 2);
  if (size > rest_.size() - 4) {
    overflow_ = true;
    rest_ = {};
    return false;
  }
  block.id = id;
  block.data = rest_.subspan(4, size);
  rest_ = rest_.subspan(4 + size);
  return true;
}

int CountExtraBlocks(std::span<const uint8_t> extra, uint16_t id) {
  ExtraBlocks blocks(extra);
  ExtraBlock b;
  int n = 0;
  while (blocks.Next(b)) n += b.id == id;
  return n;
}

namespace {

// Takes one 8-byte zip64 value for a header field that holds the 0xFFFFFFFF
// placeholder. Only the low 48 bits go into the field and its high part;
// the whole value is kept beside them. A block too short for the value
// leaves the field alone.
void TakeZip64Value(ByteReader& block, uint32_t& field, uint16_t& high, bool& has, uint64_t& full) {
  if (field != 0xFFFFFFFFu || block.remaining() < 8) return;
  const uint64_t v = block.u64();
  field = uint32_t(v);
  high = uint16_t(v >> 32);
  has = true;
  full = v;
}

}  // namespace

void ParseExtraField(std::span<const uint8_t> extra, bool central, ExtraFieldRecord& rec,
                     uint32_t& compressedSize, uint32_t& uncompressedSize, uint32_t* localOffset) {
  rec = ExtraFieldRecord{};
  ExtraBlocks blocks(extra);
  ExtraBlock b;
  while (blocks.Next(b)) {
    rec.headerId = b.id;
    rec.dataSize = uint16_t(b.data.size());
    ByteReader block(b.data);
    switch (b.id) {
      case kExtraZip64:
        // Values appear only for fields that hold the placeholder, always in
        // this order; a size that fits in 32 bits has no 8-byte twin. A
        // second zip64 block is not read.
        if (rec.zip64Blocks++ > 0) break;
        TakeZip64Value(block, uncompressedSize, rec.uncompressedHigh, rec.hasUncompressed64, rec.uncompressed64);
        TakeZip64Value(block, compressedSize, rec.compressedHigh, rec.hasCompressed64, rec.compressed64);
        if (central && localOffset) TakeZip64Value(block, *localOffset, rec.offsetHigh, rec.hasOffset64, rec.offset64);
        break;
      case kExtraWide:
        if (block.remaining() >= 4) {
          rec.compressedHigh = block.u16();
          rec.uncompressedHigh = block.u16();
          if (central && block.remaining() >= 2) rec.offsetHigh = block.u16();
        }
        break;
      case kExtraAes:
        // Vendor version (2), vendor id (2), strength (1), then the real method.
        if (block.remaining() >= 7) {
          block.skip(5);
          rec.aesMethod = block.u16();
        }
        break;
      default:
        break;  // skipped by its data size
    }
  }
  rec.overflow = blocks.overflow();
}

std::vector<uint8_t> DirectoryEndBytes(uint64_t entries, uint64_t directoryOffset, uint64_t directorySize,
                                       std::span<const uint8_t> comment) {
  const bool zip64 = entries >= 0xFFFF || directoryOffset >= 0xFFFFFFFFu || directorySize >= 0xFFFFFFFFu;
  std::vector<uint8_t> out;
  ByteWriter w(out);
  if (zip64) {
    Zip64EndRecord z;
    z.entriesThisDisk = z.totalEntries = entries;
    z.directorySize = directorySize;
    z.directoryOffset = directoryOffset;
    const auto zb = z.Bytes();
    w.bytes(zb);
    Zip64Locator loc;
    loc.endRecordOffset = directoryOffset + directorySize;
    loc.totalDisks = 1;
    const auto lb = loc.Bytes();
    w.bytes(lb);
  }
  EndRecord end;
  end.entriesThisDisk = end.totalEntries = uint16_t(std::min<uint64_t>(entries, 0xFFFF));
  end.directorySize = uint32_t(std::min<uint64_t>(directorySize, 0xFFFFFFFFu));
  end.directoryOffset = std::min<uint64_t>(directoryOffset, 0xFFFFFFFFu);
  end.commentLength = uint16_t(std::min<size_t>(comment.size(), 0xFFFF));
  w.bytes(end.Bytes());
  w.bytes(comment.first(end.commentLength));
  return out;
}

std::vector<uint8_t> Zip64ExtraBlock(std::span<const uint64_t> values) {
  std::vector<uint8_t> out;
  ByteWriter w(out);
  w.u16(kExtraZip64);
  w.u16(uint16_t(values.size() * 8));
  for (uint64_t v : values) w.u64(v);
  return out;
}

}  // namespace parcelix
