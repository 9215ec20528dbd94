// The names a batch's walk saw in each folder it read, for a dry run that
// asks of thousands of new names whether they are taken: a name the walk
// did not see needs no stat when the folder cannot hold it under another
// spelling.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace parcelix {

class TListedNames {
 public:
  // The entries of one folder, whose paths begin with prefix (as the walk
  // formed them, separator included): Open, then Add for each entry, then
  // Close. exact: the folder finds a name only as it is spelled (not a FAT
  // stick or a case-folding directory); the names of other folders are
  // never judged.
  void Open(const std::string& prefix);
  void Add(std::string_view name);
  void Close(bool exact);

  // True only when the walk saw no entry path in a folder it read, the
  // folder matches names byte for byte, and the name is ASCII (a file system
  // may treat two spellings of other text as one name). False means "ask
  // the file system"; it is never a claim that the path exists.
  bool SurelyAbsent(std::string_view path) const;

 private:
  struct Folder {
    std::string prefix;
    uint32_t index = 0;
  };
  static uint64_t Key(uint32_t folder, std::string_view name);
  const Folder* FolderOf(std::string_view prefix) const;

  std::vector<Folder> folders_;  // the exact folders, sorted by prefix
  std::vector<uint64_t> keys_;   // sorted; a key seen is only "maybe there"
  Folder open_;                  // the folder being listed
  size_t openFrom_ = 0;          // where its keys begin
  bool listing_ = false;         // false for an exact folder read before: its entries are not added twice
};

// Whether the folder (an open descriptor) finds name, one of its entries,
// only as it is spelled: the name with the case of its ASCII letters turned
// is looked up. False when that is found (a twin entry of the other case
// gives the same answer, which only costs stats), and for a name without
// letters.
bool FolderMatchesExactly(int dirFd, std::string_view name);

}  // namespace parcelix
