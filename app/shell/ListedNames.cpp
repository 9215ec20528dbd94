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

template <class Folders>
auto* Find(Folders& folders, std::string_view prefix) {
  const auto at = std::lower_bound(folders.begin(), folders.end(), prefix,
                                   [](const auto& f, std::string_view p) { return f.prefix < p; });
  return at != folders.end() && at->prefix == prefix ? &*at : nullptr;
}

}  // namespace

uint64_t TListedNames::Key(uint32_t folder, std::string_view name) {
  return uint64_t(std::hash<std::string_view>{}(name)) ^ (uint64_t(folder) * 0x9E3779B97F4A7C15ull);
}

TListedNames::Folder* TListedNames::FolderOf(std::string_view prefix) { return Find(folders_, prefix); }
const TListedNames::Folder* TListedNames::FolderOf(std::string_view prefix) const { return Find(folders_, prefix); }

void TListedNames::Open(const std::string& prefix) {
  listing_ = FolderOf(prefix) == nullptr;  // a folder named twice is listed once
  if (!listing_) return;
  open_ = uint32_t(folders_.size());
  openPrefix_ = prefix;
  openFrom_ = keys_.size();
  const auto at = std::lower_bound(folders_.begin(), folders_.end(), prefix,
                                   [](const Folder& f, const std::string& p) { return f.prefix < p; });
  folders_.insert(at, Folder{prefix, open_, false});
}

void TListedNames::Add(std::string_view name) {
  if (listing_) keys_.push_back(Key(open_, name));
}

void TListedNames::Close(bool exact) {
  if (!listing_) return;
  listing_ = false;
  const auto from = keys_.begin() + std::ptrdiff_t(openFrom_);
  if (!exact) {
    keys_.erase(from, keys_.end());  // its names are never judged
    return;
  }
  FolderOf(openPrefix_)->exact = true;
  std::sort(from, keys_.end());
  std::inplace_merge(keys_.begin(), from, keys_.end());
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

bool FolderMatchesExactly(int dirFd, std::string_view name) {
  std::string turned(name);
  std::transform(turned.begin(), turned.end(), turned.begin(), TurnCase);
  if (turned == name) return false;  // no letter to try
  struct stat st {};
  return fstatat(dirFd, turned.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

}  // namespace parcelix
