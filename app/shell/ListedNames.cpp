#include "app/shell/ListedNames.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <functional>

#include "engine/common/arxGbls.h"

namespace parcelix {

namespace {

char TurnCase(char c) {
  if (c >= 'a' && c <= 'z') return char(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return char(c - 'A' + 'a');
  return c;
}

}  // namespace

uint64_t TListedNames::Key(uint32_t folder, std::string_view name) {
  return uint64_t(std::hash<std::string_view>{}(name)) ^ (uint64_t(folder) * 0x9E3779B97F4A7C15ull);
}

const TListedNames::Folder* TListedNames::FolderOf(std::string_view prefix) const {
  const auto at = std::lower_bound(folders_.begin(), folders_.end(), prefix,
                                   [](const Folder& f, std::string_view p) { return f.prefix < p; });
  return at != folders_.end() && at->prefix == prefix ? &*at : nullptr;
}

void TListedNames::Open(const std::string& prefix) {
  listing_ = FolderOf(prefix) == nullptr;  // an exact folder named twice is listed once
  if (!listing_) return;
  open_ = {prefix, uint32_t(folders_.size())};
  openFrom_ = keys_.size();
}

void TListedNames::Add(std::string_view name) {
  if (listing_) keys_.push_back(Key(open_.index, name));
}

void TListedNames::Close(bool exact) {
  if (!listing_) return;
  listing_ = false;
  const auto from = keys_.begin() + std::ptrdiff_t(openFrom_);
  if (!exact) {
    keys_.erase(from, keys_.end());  // its names are never judged
    return;
  }
  std::sort(from, keys_.end());
  std::inplace_merge(keys_.begin(), from, keys_.end());
  const auto at = std::lower_bound(folders_.begin(), folders_.end(), open_.prefix,
                                   [](const Folder& f, const std::string& p) { return f.prefix < p; });
  folders_.insert(at, std::move(open_));
}

bool TListedNames::SurelyAbsent(std::string_view path) const {
  const size_t slash = path.rfind('/');
  const size_t split = slash == std::string_view::npos ? 0 : slash + 1;
  const std::string_view name = path.substr(split);
  if (name.empty() || !IsAscii(name)) return false;
  const Folder* folder = FolderOf(path.substr(0, split));
  return folder && !std::binary_search(keys_.begin(), keys_.end(), Key(folder->index, name));
}

bool FolderMatchesExactly(int dirFd, std::string_view name) {
  std::string turned(name);
  std::transform(turned.begin(), turned.end(), turned.begin(), TurnCase);
  if (turned == name) return false;  // no letter to try
  struct stat st {};
  return fstatat(dirFd, turned.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

}  // namespace parcelix
