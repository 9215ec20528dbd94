#include "app/shell/ListedNames.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <functional>

namespace parcelix {

namespace {

bool IsAsciiText(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return uint8_t(c) < 0x80; });
}

char TurnCase(char c) {
  if (c >= 'a' && c <= 'z') return char(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return char(c - 'A' + 'a');
  return c;
}

}  // namespace

uint64_t TListedNames::Key(uint32_t folder, std::string_view name) {
  return uint64_t(std::hash<std::string_view>{}(name)) ^ (uint64_t(folder) * 0x9E3779B97F4A7C15ull);
}

void TListedNames::AddFolder(const std::string& prefix, const std::vector<std::string>& names, bool exact) {
  if (FolderOf(prefix)) return;  // a folder named twice is read once
  const auto index = uint32_t(folders_.size());
  const auto at = std::lower_bound(folders_.begin(), folders_.end(), prefix,
                                   [](const Folder& f, const std::string& p) { return f.prefix < p; });
  folders_.insert(at, Folder{prefix, index, exact});
  if (!exact) return;  // its names are never judged
  const size_t before = keys_.size();
  for (const std::string& name : names) keys_.push_back(Key(index, name));
  std::sort(keys_.begin() + std::ptrdiff_t(before), keys_.end());
  std::inplace_merge(keys_.begin(), keys_.begin() + std::ptrdiff_t(before), keys_.end());
}

const TListedNames::Folder* TListedNames::FolderOf(std::string_view prefix) const {
  const auto at = std::lower_bound(folders_.begin(), folders_.end(), prefix,
                                   [](const Folder& f, std::string_view p) { return f.prefix < p; });
  return at != folders_.end() && at->prefix == prefix ? &*at : nullptr;
}

bool TListedNames::SurelyAbsent(std::string_view path) const {
  const size_t slash = path.rfind('/');
  const size_t split = slash == std::string_view::npos ? 0 : slash + 1;
  const std::string_view name = path.substr(split);
  if (name.empty() || !IsAsciiText(name)) return false;
  const Folder* folder = FolderOf(path.substr(0, split));
  if (!folder || !folder->exact) return false;
  return !std::binary_search(keys_.begin(), keys_.end(), Key(folder->index, name));
}

bool FolderMatchesExactly(int dirFd, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    std::string turned = name;
    std::transform(turned.begin(), turned.end(), turned.begin(), TurnCase);
    if (turned == name) continue;  // no letter to try
    // Two entries that differ only in case: the folder tells them apart.
    if (std::find(names.begin(), names.end(), turned) != names.end()) return true;
    struct stat st {};
    return fstatat(dirFd, turned.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
  }
  return false;
}

}  // namespace parcelix
