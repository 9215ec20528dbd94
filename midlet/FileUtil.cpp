// File helpers of the MIDlet operations (POSIX).
#include "midlet/FileUtil.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "engine/common/arxGbls.h"

namespace parcelix {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what, int err = errno) {
  throw std::system_error(err, std::generic_category(), what);
}

std::string RandomSuffix() {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char raw[8];
  if (getrandom(raw, sizeof raw, 0) != ssize_t(sizeof raw)) {
    // No entropy source: the clock and the address of a local are enough,
    // since O_EXCL makes a clash harmless.
    unsigned long v = (unsigned long)clock() ^ (unsigned long)(uintptr_t)&raw ^ (unsigned long)getpid();
    for (auto& b : raw) {
      b = (unsigned char)v;
      v = v * 6364136223846793005ULL + 1442695040888963407ULL;
    }
  }
  std::string s;
  for (unsigned char b : raw) s += kChars[b % (sizeof kChars - 1)];
  return s;
}

// The file a path finally names when it is a symbolic link (so that a
// replacement keeps the link); the path itself otherwise.
std::string ResolveTarget(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char buf[PATH_MAX];
    if (realpath(path.c_str(), buf)) return buf;
  }
  return path;
}

std::string DirOf(const std::string& path) {
  std::string dir = ExtractFilePath(path);
  return dir.empty() ? std::string("./") : dir;
}

void WriteAllFd(int fd, const char* p, size_t n, const std::string& what) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(what);
    }
    if (w == 0) ThrowErrno(what, EIO);
    p += w;
    n -= size_t(w);
  }
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[65536];
  for (;;) {
    ssize_t r = read(fd, buf, sizeof buf);
    if (r < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      close(fd);
      errno = e;
      return false;
    }
    if (r == 0) break;
    out.append(buf, size_t(r));
  }
  close(fd);
  return true;
}

TUniqueFile::TUniqueFile(const std::string& dir, std::string_view prefix, unsigned mode) {
  std::string base = IncludeTrailingSlash(dir.empty() ? std::string(".") : dir);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = base + std::string(prefix) + RandomSuffix();
    int fd = open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) {
      fd_ = fd;
      path_ = candidate;
      return;
    }
    if (errno != EEXIST) ThrowErrno(candidate);
  }
  ThrowErrno(base, EEXIST);
}

TUniqueFile::~TUniqueFile() {
  if (fd_ >= 0) close(fd_);
  if (!released_ && !path_.empty()) unlink(path_.c_str());
}

void TUniqueFile::WriteAll(std::string_view data) { WriteAllFd(fd_, data.data(), data.size(), path_); }

void TUniqueFile::SyncAndClose() {
  if (fsync(fd_) != 0) ThrowErrno(path_);
  int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) ThrowErrno(path_);
}

void TUniqueFile::Close() {
  int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) ThrowErrno(path_);
}

void WriteFileReplacing(const std::string& path, std::string_view data) {
  std::string target = ResolveTarget(path);
  TUniqueFile tmp(DirOf(target), "." + ExtractFileName(target) + ".");
  struct stat old;
  if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) fchmod(tmp.Fd(), old.st_mode & 07777);
  tmp.WriteAll(data);
  tmp.SyncAndClose();
  if (rename(tmp.Path().c_str(), target.c_str()) != 0) ThrowErrno(target);
  tmp.Release();
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void CopyFileReplacing(const std::string& src, const std::string& dst) {
  if (SameFile(src, dst)) ThrowErrno(dst, EINVAL);
  int in = open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) ThrowErrno(src);
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closeIn{in};
  struct stat st;
  if (fstat(in, &st) != 0) ThrowErrno(src);
  std::string target = ResolveTarget(dst);
  TUniqueFile tmp(DirOf(target), "." + ExtractFileName(target) + ".");
  fchmod(tmp.Fd(), st.st_mode & 07777);
  // The kernel copies without a trip through user space where it can; a
  // plain read/write loop takes over when it cannot (other file systems).
  off_t copied = 0;
  bool kernelCopy = true;
  while (kernelCopy && copied < st.st_size) {
    ssize_t n = copy_file_range(in, nullptr, tmp.Fd(), nullptr, size_t(st.st_size - copied), 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (copied == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
        kernelCopy = false;
        break;
      }
      ThrowErrno(dst);
    }
    if (n == 0) break;  // the source got shorter: copy what is there
    copied += n;
  }
  if (!kernelCopy || copied < st.st_size) {
    std::vector<char> buf(1 << 20);
    for (;;) {
      ssize_t r = pread(in, buf.data(), buf.size(), copied);
      if (r < 0) {
        if (errno == EINTR) continue;
        ThrowErrno(src);
      }
      if (r == 0) break;
      WriteAllFd(tmp.Fd(), buf.data(), size_t(r), dst);
      copied += r;
    }
  }
  tmp.SyncAndClose();
  if (rename(tmp.Path().c_str(), target.c_str()) != 0) ThrowErrno(target);
  tmp.Release();
}

void LinkOrCopyReplacing(const std::string& src, const std::string& dst) {
  const std::string target = ResolveTarget(dst);
  if (SameFile(src, dst)) {
    // Another name of the very file (a backup left by a save that failed)
    // already holds it; the same name is an error.
    char a[PATH_MAX], b[PATH_MAX];
    if (!realpath(src.c_str(), a) || !realpath(target.c_str(), b) || std::string_view(a) == b)
      ThrowErrno(dst, EINVAL);
    return;
  }
  const std::string base = IncludeTrailingSlash(DirOf(target).empty() ? std::string(".") : DirOf(target)) + "." +
                           ExtractFileName(target) + ".";
  std::string name;
  for (int attempt = 0; attempt < 100 && name.empty(); ++attempt) {
    std::string candidate = base + RandomSuffix();
    if (link(src.c_str(), candidate.c_str()) == 0) {
      name = candidate;
      break;
    }
    if (errno == EEXIST) continue;
    if (errno == EXDEV || errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK || errno == ENOSYS) {
      CopyFileReplacing(src, dst);
      return;
    }
    ThrowErrno(dst);
  }
  if (name.empty()) ThrowErrno(dst, EEXIST);
  if (rename(name.c_str(), target.c_str()) != 0) {
    const int e = errno;
    unlink(name.c_str());
    ThrowErrno(target, e);
  }
  // When target already was a name of src (a backup left by a save that
  // failed), rename leaves both names in place: the extra one goes.
  struct stat st;
  if (lstat(name.c_str(), &st) == 0) unlink(name.c_str());
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
