// The writer's entry list (TCompHeaderObj) and the per-entry records it keeps.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/read/ZipRecords.h"

namespace parcelix {

// A 46-byte central directory header kept per entry. Until an entry is
// written only the date (12), sizes (20, 24) and attributes (38) are read.
using THeaderImage = std::array<uint8_t, kCentralHeaderSize>;

// Field offsets inside a central directory header (and a header image).
namespace chdr {
inline constexpr size_t kVersionMadeBy = 4;
inline constexpr size_t kVersionNeeded = 6;
inline constexpr size_t kFlags = 8;
inline constexpr size_t kMethod = 10;
inline constexpr size_t kDosDateTime = 12;
inline constexpr size_t kCrc = 16;
inline constexpr size_t kCompressedSize = 20;
inline constexpr size_t kSize = 24;
inline constexpr size_t kNameLength = 28;
inline constexpr size_t kExtraLength = 30;
inline constexpr size_t kCommentLength = 32;
inline constexpr size_t kDiskStart = 34;
inline constexpr size_t kInternalAttr = 36;
inline constexpr size_t kExternalAttr = 38;
inline constexpr size_t kLocalOffset = 42;
}  // namespace chdr

// Field offsets inside a local file header.
namespace lhdr {
inline constexpr size_t kVersionNeeded = 4;
inline constexpr size_t kFlags = 6;
inline constexpr size_t kMethod = 8;
inline constexpr size_t kDosDateTime = 10;
inline constexpr size_t kCrc = 14;
inline constexpr size_t kCompressedSize = 18;
inline constexpr size_t kSize = 22;
inline constexpr size_t kNameLength = 26;
inline constexpr size_t kExtraLength = 28;
}  // namespace lhdr

// What happens to an entry in the entry loop.
enum TEntryState : uint8_t {
  esAdd = 0,      // write the file from disk
  esCopy = 1,     // copy the old entry unchanged
  esDrop = 2,     // leave it out
  esRewrite = 3,  // copy the old entry under a new name
};

struct TEntryRecord {
  uint8_t State = esAdd;
  int64_t HeaderOffset = 0;  // old archive for states 1 and 3; new archive once written
  uint16_t SizeHigh = 0;        // bits 32-47 of the uncompressed size
  uint16_t CompressedHigh = 0;  // bits 32-47 of the compressed size
  bool EncryptHeaders = false;
  uint8_t EncryptionMethod = 0;
  std::vector<uint8_t> Comment;  // central comment
  std::vector<uint8_t> Extra;    // central extra field

  // Files listed from disk in this run.
  bool IsNew = false;
  bool Appended = false;     // listed as a new entry (not put in place of an old one)
  bool IsDirectory = false;
  uint32_t UnixMode = 0;     // st_mode, for the high half of the external attributes
  uint64_t Dev = 0;          // identity on disk
  uint64_t Ino = 0;
  bool MarkedForDeletion = false;  // state 2 set before the entry loop (counts as a deletion)
  bool Written = false;            // added by this run and in the archive

  // Entries of the old archive.
  std::vector<uint8_t> RawName;    // the name bytes as stored
  int64_t OldCompressedSize = 0;   // full width
  int64_t OldSize = 0;
};

// One file's facts between the list and the writer.
struct EntryInfo {
  int64_t Size = 0;
  int64_t CompressedSize = 0;
  uint32_t Date = 0;  // DOS date-time, date in the high half
  uint32_t Attr = 0;
};

struct TCompHeaderItem {
  std::string Name;        // full path before the entry is written, stored name afterwards
  std::string StoredName;  // the name the entry has (or will have) in the archive
  int RootLength = 0;
  TEntryRecord Record;
  THeaderImage Header{};
};

// The entry list of one update run. Lookups by stored name ignore letter case
// and treat '\' and '/' alike, as archive names do on the platforms that made
// most archives.
class TCompHeaderObj {
 public:
  int Count() const { return int(items_.size()); }
  TCompHeaderItem& operator[](int i) { return items_.at(size_t(i)); }
  const TCompHeaderItem& operator[](int i) const { return items_.at(size_t(i)); }
  // Appends an item; returns its index.
  int Add(TCompHeaderItem item);
  void Reserve(size_t n) {
    items_.reserve(n);
    index_.reserve(n);
  }
  // Index of the first item with that stored name, or -1.
  int IndexOf(const std::string& storedName) const;
  // Gives item i another stored name (keeps the lookup right).
  void Rename(int i, const std::string& storedName);
  // Moves the appended new entries in front of the others, both in order.
  void MoveNewFirst();
  void Clear();
  std::vector<uint8_t> ArchiveComment;

  static std::string LookupKey(const std::string& name);

 private:
  void Reindex();
  std::vector<TCompHeaderItem> items_;
  std::unordered_map<std::string, int> index_;
};

}  // namespace parcelix
