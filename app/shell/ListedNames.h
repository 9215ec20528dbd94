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
  // Every entry of the folder whose paths begin with prefix (as the walk
  // formed them, separator included). exact: the folder finds a name only
  // as it is spelled (not a FAT stick or a case-folding directory).
  void AddFolder(const std::string& prefix, const std::vector<std::string>& names, bool exact);

  // True only when the walk saw no entry path in a folder it read, the
  // folder matches names byte for byte, and the name is ASCII (a file system
  // may treat two spellings of other text as one name). False means "ask
  // the file system"; it is never a claim that the path exists.
  bool SurelyAbsent(std::string_view path) const;

 private:
  struct Folder {
    std::string prefix;
    uint32_t index = 0;
    bool exact = false;
  };
  static uint64_t Key(uint32_t folder, std::string_view name);
  const Folder* FolderOf(std::string_view prefix) const;

  std::vector<Folder> folders_;  // sorted by prefix
  std::vector<uint64_t> keys_;   // sorted; a key seen is only "maybe there"
};

// Whether the folder (an open descriptor; names: all its entries) finds a
// name only as it is spelled: an entry's name with the case of its ASCII
// letters turned is looked up. False when it is found, and when no entry
// has a letter to try.
bool FolderMatchesExactly(int dirFd, const std::vector<std::string>& names);

}  // namespace parcelix
