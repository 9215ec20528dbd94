// Opening a ZIP archive: where its end record and central directory are,
// the entry list in directory order, and what is wrong with it (findings).
// The reader component, the writer's update of an existing archive and the
// command line all start here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/read/ZipRecords.h"

namespace parcelix {

class TArchiveSource;

enum class TSeverity : uint8_t { warning, error };

// One thing found wrong with an archive, in plain words. The code is short,
// stable and kebab-case; member is the entry's name with '/' (empty when the
// finding concerns the archive).
struct Finding {
  std::string code;
  TSeverity severity = TSeverity::error;
  std::string member;
  std::string text;
};

// What the end-record search found (the start of every open).
struct EndLocation {
  THeaderTypeState headerState = 0;  // htEnding, htLocator, htEnding64, htCentral, htLocal
  int64_t endRecordPos = -1;
  int64_t commentPos = 0;
  EndRecord endRecord;
  Zip64Locator locator;
  Zip64EndRecord zip64End;
  int64_t zip64EndPos = -1;
  // The central directory start; without a directory, where the first local
  // header was found (headerState exactly htLocal), else 0.
  int64_t directoryStart = 0;
  int64_t recordedStart = 0;  // where the records say the directory starts
  int32_t prefixAdjust = 0;
  // The directory stood only where the records' offset says, not where its
  // size puts it: size, or the bytes before the end record, are wrong.
  bool foundByOffset = false;
  bool HasDirectory() const { return headerState & HtBit(htCentral); }
  uint64_t DirectorySize() const {
    return (headerState & HtBit(htEnding64)) ? zip64End.directorySize : endRecord.directorySize;
  }
};

// The end-record search: the last 32 KiB of the file backwards for an end
// record, the zip64 records before it, the directory at the start the
// records give (or at end record - directory size, which also measures a
// prefix), else the first local header in the first four windows.
EndLocation LocateEndRecord(TArchiveSource& source);
// The last end record that starts in [from, to) (a window of at most one
// record and a full comment, cut to the file) and that `accept` takes: its
// position, or -1. Every search for an end record goes through here.
int64_t FindEndRecordIn(TArchiveSource& source, int64_t from, int64_t to,
                        const std::function<bool(int64_t pos, const EndRecord& record)>& accept);

// The immutable layout of an opened archive.
struct ZipLayout {
  int64_t archiveSize = 0;
  int64_t directoryStart = 0;
  uint64_t directorySize = 0;     // as recorded
  int64_t directoryEnd = 0;       // where the walk of the directory ended
  int64_t endRecordPos = -1;
  int64_t commentPos = 0;
  uint16_t commentLength = 0;
  int32_t prefixAdjust = 0;       // offsets shifted for bytes in front
  int64_t offsetCorrection = 0;   // found by the correction search
  bool zip64 = false;
  bool localWalk = false;         // entries come from the local headers
  bool directoryWhole = true;     // every entry the records announce was read
  THeaderTypeState headerState = 0;
};

// One member, in central directory order.
struct ZipEntry {
  std::string name;               // UTF-8 by the code-page rules, '/' separators
  std::vector<uint8_t> rawName;   // as stored
  std::vector<uint8_t> extra;     // central extra field (local, in the local walk)
  std::vector<uint8_t> comment;
  CentralHeader central;          // as stored (synthesised from the local header in the walk)
  ExtraFieldRecord centralExtra;
  bool fromCentral = true;
  int64_t localHeaderPos = 0;     // corrected
  uint64_t compressedSize = 0;    // all 64 bits
  uint64_t uncompressedSize = 0;
  uint32_t crc32 = 0;
  uint16_t method = 0;
  uint16_t flags = 0;
  // Filled by ReadLocalHeaders.
  bool localRead = false;
  bool localFound = false;
  bool localMatches = false;      // method, sizes, CRC and name agree
  LocalHeader local;
  int64_t dataStart = -1;
  int64_t dataEnd = -1;
  int64_t descriptorEnd = -1;     // end of the data descriptor, = dataEnd when none
  bool IsDirectory() const { return !name.empty() && name.back() == '/'; }
  bool Encrypted() const { return flags & kFlagEncrypted; }
};

struct ZipArchive {
  ZipLayout layout;
  std::vector<ZipEntry> entries;
  std::vector<Finding> findings;

  bool HasError() const;
  // The entry's bytes can be copied exactly: its local header is its own and
  // agrees with the directory on method and sizes, and its data lie inside
  // the file. Needs ReadLocalHeaders for the entry first.
  bool CanCopy(const ZipEntry& e) const;
  // ... and for the whole archive: the directory was read whole too.
  bool CanCopyAll() const;
  void Add(std::string code, TSeverity severity, std::string member, std::string text);
};

// A finding that says an entry's bytes do not lie where, or as, its central
// record says: copying them as they are would not give the entry back.
bool FindingBlocksCopy(std::string_view code);

struct OpenOptions {
  bool translateOemChar = true;
  const uint8_t* cancel = nullptr;
};

// Reads the directory (or, without one, walks the local headers) into
// archive. False when no ZIP structure was found at all.
bool OpenZip(TArchiveSource& source, const EndLocation& where, const OpenOptions& options, ZipArchive& archive);
// The same, with the end-record search done here.
bool OpenZip(TArchiveSource& source, const OpenOptions& options, ZipArchive& archive);

// Reads and checks the local header of entries [first, first + count):
// data start and end, the data descriptor, and findings where the local
// header, the descriptor and the directory disagree.
void ReadLocalHeaders(TArchiveSource& source, ZipArchive& archive, size_t first = 0, size_t count = SIZE_MAX);
void ReadLocalHeader(TArchiveSource& source, ZipArchive& archive, ZipEntry& entry);

}  // namespace parcelix
