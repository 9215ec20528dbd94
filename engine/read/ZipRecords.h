// The on-disk ZIP records: signatures, fixed sizes, parsing and writing of
// each record, extra fields, and the reader's per-member records.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace parcelix {

inline constexpr uint32_t kSigLocal = 0x04034B50;
inline constexpr uint32_t kSigCentral = 0x02014B50;
inline constexpr uint32_t kSigEnding = 0x06054B50;
inline constexpr uint32_t kSigZip64Ending = 0x06064B50;
inline constexpr uint32_t kSigZip64Locator = 0x07064B50;
inline constexpr uint32_t kSigDataDescriptor = 0x08074B50;  // also the spanning marker
inline constexpr uint32_t kSigWideEnding = 0x06055B50;      // the engine's own, archives of 4 GiB+
// Enciphered-header family: 'L' in place of 'K'.
inline constexpr uint32_t kSigLocalEnc = 0x04034C50;
inline constexpr uint32_t kSigCentralEnc = 0x02014C50;
inline constexpr uint32_t kSigEndingEnc = 0x06054C50;
inline constexpr uint32_t kSigWideEndingEnc = 0x06055C50;

inline constexpr size_t kLocalHeaderSize = 30;    // + name + extra
inline constexpr size_t kCentralHeaderSize = 46;  // + name + extra + comment
inline constexpr size_t kEndRecordSize = 22;      // + comment
inline constexpr size_t kZip64LocatorSize = 20;
inline constexpr size_t kZip64EndRecordSize = 56;
inline constexpr size_t kWideEndRecordSize = 26;  // + comment

inline constexpr uint16_t kExtraZip64 = 0x0001;
inline constexpr uint16_t kExtraWide = 0x0064;
inline constexpr uint16_t kExtraStrongEnc = 0x0017;
inline constexpr uint16_t kExtraAes = 0x9901;

inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagStrongEnc = 0x0040;
inline constexpr uint16_t kFlagUtf8 = 0x0800;

enum THeaderType : uint8_t { htNone, htLocal, htCentral, htEnding, htLocator, htEnding64 };
// A set of THeaderType, one bit per value.
using THeaderTypeState = uint8_t;
inline constexpr THeaderTypeState HtBit(THeaderType t) { return THeaderTypeState(1u << t); }

struct THeaderClass {
  THeaderType type = htNone;
  bool enciphered = false;
};
// Answers `wanted` when sig is a signature of that kind, else htNone. The
// ending kind accepts the standard and the wide end record.
THeaderClass ClassifySignature(uint32_t sig, THeaderType wanted);

struct LocalHeader {
  uint32_t signature = kSigLocal;
  uint16_t versionNeeded = 20;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t dosDateTime = 0;  // time low 16 bits, date high 16 bits
  uint32_t crc32 = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  // Parses the fixed 30 bytes; false when fewer bytes are given.
  bool Parse(std::span<const uint8_t> bytes);
  std::array<uint8_t, kLocalHeaderSize> Bytes() const;
};

struct CentralHeader {
  uint32_t signature = kSigCentral;
  uint16_t versionMadeBy = 20;
  uint16_t versionNeeded = 20;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t dosDateTime = 0;
  uint32_t crc32 = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  uint16_t commentLength = 0;
  uint16_t diskNumberStart = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  uint32_t localHeaderOffset = 0;
  bool Parse(std::span<const uint8_t> bytes);
  std::array<uint8_t, kCentralHeaderSize> Bytes() const;
};

struct EndRecord {
  uint32_t signature = kSigEnding;
  uint16_t thisDisk = 0;
  uint16_t directoryDisk = 0;
  uint16_t entriesThisDisk = 0;
  uint16_t totalEntries = 0;
  uint32_t directorySize = 0;
  uint64_t directoryOffset = 0;  // 32-bit field, or 64-bit in the wide end record
  uint16_t commentLength = 0;
  bool wide = false;             // parsed from / written as the 26-byte wide end record
  bool Parse(std::span<const uint8_t> bytes);  // by its signature
  std::vector<uint8_t> Bytes() const;
};

struct Zip64Locator {
  uint32_t endRecordDisk = 0;
  uint64_t endRecordOffset = 0;
  uint32_t totalDisks = 0;
  bool Parse(std::span<const uint8_t> bytes);
  std::array<uint8_t, kZip64LocatorSize> Bytes() const;
};

struct Zip64EndRecord {
  uint64_t recordSize = kZip64EndRecordSize - 12;
  uint16_t versionMadeBy = 45;
  uint16_t versionNeeded = 45;
  uint32_t thisDisk = 0;
  uint32_t directoryDisk = 0;
  uint64_t entriesThisDisk = 0;
  uint64_t totalEntries = 0;
  uint64_t directorySize = 0;
  uint64_t directoryOffset = 0;
  bool Parse(std::span<const uint8_t> bytes);
  std::array<uint8_t, kZip64EndRecordSize> Bytes() const;
};

// The data descriptor that follows a member written with flag bit 3:
// optional signature, CRC-32, then 4-byte sizes (8-byte in a zip64 member).
struct DataDescriptor {
  bool hasSignature = true;
  bool wideSizes = false;
  uint32_t crc32 = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  size_t Size() const { return (hasSignature ? 4 : 0) + 4 + (wideSizes ? 16 : 8); }
  // Parses the descriptor at the start of bytes, with or without its
  // signature (wideSizes chosen by the caller); false when too short.
  bool Parse(std::span<const uint8_t> bytes, bool wide);
  std::vector<uint8_t> Bytes() const;
};

// One block of an extra field.
struct ExtraBlock {
  uint16_t id = 0;
  std::span<const uint8_t> data;
};

// Walks the blocks of an extra field with bounds checks: every block it
// yields lies wholly inside the field. A block whose size runs past the end
// stops the walk and sets overflow(); bytes too few for a block header are
// trailing junk (also overflow).
class ExtraBlocks {
 public:
  explicit ExtraBlocks(std::span<const uint8_t> extra) : rest_(extra) {}
  bool Next(ExtraBlock& block);
  bool overflow() const { return overflow_; }

 private:
  std::span<const uint8_t> rest_;
  bool overflow_ = false;
};

// How many blocks with this id the field holds.
int CountExtraBlocks(std::span<const uint8_t> extra, uint16_t id);

// Filled by every extra-field parse (cleared first).
struct ExtraFieldRecord {
  uint16_t headerId = 0;
  uint16_t dataSize = 0;
  uint16_t compressedHigh = 0;
  uint16_t uncompressedHigh = 0;
  uint16_t offsetHigh = 0;
  uint16_t aesMethod = 0;  // real method from a 0x9901 block, 0 when none
  // The full 64-bit values of a zip64 block (only those it carried), so that
  // a size beyond 48 bits is seen as what it is.
  bool hasCompressed64 = false, hasUncompressed64 = false, hasOffset64 = false;
  uint64_t compressed64 = 0, uncompressed64 = 0, offset64 = 0;
  bool overflow = false;  // a block ran past the end of the field
  int zip64Blocks = 0;
};

// Parses an extra field. The zip64 block (0x0001) takes its 8-byte values
// only for header fields holding 0xFFFFFFFF (uncompressed, compressed, and
// for a central header the local offset), replacing the 32-bit field and
// setting the high part; the wide block (0x0064) sets the high parts; other
// blocks are skipped; a block whose size runs past the end ends the parse.
void ParseExtraField(std::span<const uint8_t> extra, bool central, ExtraFieldRecord& rec,
                     uint32_t& compressedSize, uint32_t& uncompressedSize, uint32_t* localOffset);

// One selected member, in central directory order.
struct DirectoryEntry {
  uint32_t externalAttributes = 0;
  uint32_t diskNumberStart = 0;
  int64_t localHeaderPosition = 0;  // corrected: high part, prefix adjustment, offset correction
  bool hasCentral = false;          // false in the local-header walk
  CentralHeader central;            // copy of the central header, offset already corrected
  ExtraFieldRecord centralExtra;    // the high parts from the central extra field
  // The converted stored name ('\' separators) the member was selected by;
  // extraction writes the member under this name, the one every listing shows.
  std::string name;
  // The same name with '/' separators, for listings and messages.
  std::string storedName;
  uint64_t compressedSize = 0;  // all 64 bits
  uint64_t uncompressedSize = 0;
  // The sizes as the decoders take them (a size beyond 2^63 is clamped).
  int64_t CompressedSize() const { return int64_t(std::min<uint64_t>(compressedSize, INT64_MAX)); }
  int64_t UncompressedSize() const { return int64_t(std::min<uint64_t>(uncompressedSize, INT64_MAX)); }
};

// The end of an archive as written: when the entry count, the directory
// size or its offset does not fit the end record, the zip64 end record and
// its locator come first and the end record holds the placeholders (0xFFFF,
// 0xFFFFFFFF); then the end record and the archive comment.
std::vector<uint8_t> DirectoryEndBytes(uint64_t entries, uint64_t directoryOffset, uint64_t directorySize,
                                       std::span<const uint8_t> comment);

// A zip64 extra block (0x0001) holding the given 8-byte values in order.
std::vector<uint8_t> Zip64ExtraBlock(std::span<const uint64_t> values);

inline int64_t Widen48(uint32_t low, uint16_t high) { return int64_t(low) | (int64_t(high) << 32); }

// a + b for a, b >= 0, held at INT64_MAX: sizes from a file may be anything.
inline int64_t AddClamped(int64_t a, int64_t b) { return b > INT64_MAX - a ? INT64_MAX : a + b; }

// A member's compressed and uncompressed size as the header and its extra
// field give them, all 64 bits.
inline uint64_t FullCompressedSize(uint32_t field, const ExtraFieldRecord& rec) {
  return rec.hasCompressed64 ? rec.compressed64 : uint64_t(Widen48(field, rec.compressedHigh));
}
inline uint64_t FullUncompressedSize(uint32_t field, const ExtraFieldRecord& rec) {
  return rec.hasUncompressed64 ? rec.uncompressed64 : uint64_t(Widen48(field, rec.uncompressedHigh));
}

}  // namespace parcelix
