// File helpers of the MIDlet operations (POSIX).
#include "midlet/FileUtil.h"

#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "engine/common/arxGbls.h"

namespace parcelix {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what, int err = errno) {
  throw std::system_error(err, std::generic_category(), what);
}

}  // namespace

TUniqueFile::TUniqueFile(const std::string& dir, std::string_view prefix) {
  std::string templ = IncludeTrailingSlash(dir.empty() ? std::string(".") : dir) + std::string(prefix) + "XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  fd_ = TFd(::mkostemp(buf.data(), O_CLOEXEC));
  if (!fd_.IsOpen()) ThrowErrno(templ);
  path_ = buf.data();
}

TUniqueFile::~TUniqueFile() {
  fd_.Close();
  if (!released_ && !path_.empty()) ::unlink(path_.c_str());
}

void TUniqueFile::WriteAll(std::string_view data) {
  if (!parcelix::WriteAll(fd_.Get(), data.data(), data.size())) ThrowErrno(path_);
}

void TUniqueFile::Close() {
  if (!fd_.Close()) ThrowErrno(path_);
}

bool RemoveTree(const std::string& dir) {
  nftw(
      dir.c_str(),
      [](const char* path, const struct stat*, int type, struct FTW*) -> int {
        if (type == FTW_DP || type == FTW_D)
          rmdir(path);
        else
          unlink(path);
        return 0;
      },
      16, FTW_DEPTH | FTW_PHYS);
  struct stat st;
  return lstat(dir.c_str(), &st) != 0;
}

TPrivateTempDir::TPrivateTempDir(std::string_view prefix) {
  std::string templ = SystemTempDir() + std::string(prefix) + "XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) ThrowErrno(templ);
  path_ = std::string(buf.data()) + "/";
}

TPrivateTempDir::~TPrivateTempDir() {
  if (!keep_) RemoveTree(path_);
}

}  // namespace parcelix
