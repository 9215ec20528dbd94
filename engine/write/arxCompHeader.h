// The writer's entry list (TCompHeaderObj) and the per-entry records it keeps.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/read/ZipRecords.h"

namespace parcelix {

// What happens to an entry in the entry loop.
enum TEntryState : uint8_t {
  esAdd = 0,      // write the file from disk
  esCopy = 1,     // copy the old entry unchanged
  esDrop = 2,     // leave it out
  esRewrite = 3,  // copy the old entry under a new name
};

struct TEntryRecord {
  uint8_t State = esAdd;
  int OldIndex = -1;  // the entry of the old archive (states 1, 2 and 3)

  // Files listed from disk in this run.
  bool IsNew = false;
  bool Appended = false;     // listed as a new entry (not put in place of an old one)
  bool IsDirectory = false;
  uint32_t UnixMode = 0;     // st_mode, for the high half of the external attributes
  uint64_t Dev = 0;          // identity on disk
  uint64_t Ino = 0;
  bool MarkedForDeletion = false;  // state 2 set before the entry loop (counts as a deletion)
  bool Written = false;            // added by this run and in the archive

  int64_t OldCompressedSize = 0;   // entries of the old archive, full width
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
  EntryInfo Info;  // size, date and attributes: of the file, or as archived
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

  static std::string LookupKey(const std::string& name);

 private:
  void Reindex();
  std::vector<TCompHeaderItem> items_;
  std::unordered_map<std::string, int> index_;
};

}  // namespace parcelix
