// The file-system layer (POSIX, Linux calls where they exist): replace, write, copy, move, trash, flush.
#include "engine/common/FileSystem.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <system_error>

#include "engine/common/arxGbls.h"

namespace parcelix {

bool IdentityOfFile(const std::string& path, TFileIdentity& id) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  id = IdentityOfStat(st);
  return true;
}

TFileIdentity IdentityOfStat(const struct stat& st) {
  return {uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size), int64_t(st.st_mtim.tv_sec),
          int64_t(st.st_mtim.tv_nsec)};
}

namespace {

constexpr int64_t kCopyBuffer = 1 << 20;

[[noreturn]] void ThrowErrno(const std::string& what, int err = errno) {
  throw std::system_error(err, std::generic_category(), what);
}

std::string FolderOf(const std::string& path) {
  const std::string dir = ExtractFilePath(path);
  return dir.empty() ? std::string("./") : dir;
}

std::string RandomSuffix() {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char raw[6];
  if (::getrandom(raw, sizeof raw, 0) != ssize_t(sizeof raw)) {
    // No entropy source: the clock and the process are enough, since the
    // name is taken with O_EXCL and a clash only means another try.
    uint64_t v = uint64_t(std::clock()) ^ (uint64_t(::getpid()) << 20) ^ uint64_t(uintptr_t(&raw));
    for (auto& b : raw) {
      v = v * 6364136223846793005ULL + 1442695040888963407ULL;
      b = (unsigned char)(v >> 33);
    }
  }
  std::string s;
  for (unsigned char b : raw) s += kChars[b % (sizeof kChars - 1)];
  return s;
}

bool SameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

// ---------------------------------------------------------------- descriptors

TFd& TFd::operator=(TFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

TFd::~TFd() {
  if (fd_ >= 0) ::close(fd_);
}

int TFd::Release() noexcept {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

bool TFd::Close() {
  if (fd_ < 0) return true;
  return ::close(Release()) == 0;
}

// ------------------------------------------------------------ reads and writes

bool WriteAll(int fd, const void* data, size_t n) {
  auto p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n < size_t(INT_MAX) ? n : size_t(INT_MAX));
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (w == 0) {
      errno = ENOSPC;
      return false;
    }
    p += w;
    n -= size_t(w);
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& out, size_t maxSize) {
  out.clear();
  // O_NONBLOCK: a FIFO at the path must not hang the open; it is refused below.
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.IsOpen()) return false;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  if (uint64_t(st.st_size) <= maxSize) out.reserve(size_t(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t r = ::read(fd.Get(), buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || out.size() + size_t(r) > maxSize) {
      const int e = r < 0 ? errno : EFBIG;
      out.clear();
      errno = e;
      return false;
    }
    if (r == 0) return true;
    out.append(buf, size_t(r));
  }
}

int64_t CopyRange(int src, int64_t* srcOffset, int dst, int64_t count) {
  int64_t copied = 0;
  // In the kernel first: the bytes never pass through user space, and some
  // file systems share the blocks instead of copying them.
  while (copied < count) {
    loff_t off = srcOffset ? loff_t(*srcOffset) : 0;
    const ssize_t n = ::copy_file_range(src, srcOffset ? &off : nullptr, dst, nullptr, size_t(count - copied), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) break;
    if (n < 0) return -1;
    if (n == 0) return copied;  // the end of src
    if (srcOffset) *srcOffset = off;
    copied += n;
  }
  if (copied == count) return copied;
  // No kernel copy between these two files: a buffer goes on from where it stopped.
  const int64_t left = count - copied;
  const size_t size = left > kCopyBuffer ? size_t(kCopyBuffer) : size_t(left > 0 ? left : 1);
  auto buffer = std::make_unique_for_overwrite<char[]>(size);
  while (copied < count) {
    const size_t want = uint64_t(count - copied) < size ? size_t(count - copied) : size;
    const ssize_t r = srcOffset ? ::pread(src, buffer.get(), want, off_t(*srcOffset)) : ::read(src, buffer.get(), want);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    if (!WriteAll(dst, buffer.get(), size_t(r))) return -1;
    if (srcOffset) *srcOffset += r;
    copied += r;
  }
  return copied;
}

// ----------------------------------------------------------------------- moves

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) {
    errno = ENOENT;
    return false;
  }
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  int err = errno;
  if (err == EEXIST) {
    // The target may be the source itself under another spelling (a change of
    // letter case on a case-insensitive file system such as a phone's memory
    // card): moving a file onto itself replaces nothing.
    struct stat a {}, b {};
    if (::lstat(from.c_str(), &a) == 0 && ::lstat(to.c_str(), &b) == 0 && SameInode(a, b))
      return ::rename(from.c_str(), to.c_str()) == 0;
    errno = EEXIST;
    return false;
  }
  if (err != EINVAL && err != ENOSYS && err != ENOTSUP) return false;
  // The file system cannot rename without replacing: a hard link fails when
  // the target exists, which gives the same guarantee.
  if (::link(from.c_str(), to.c_str()) == 0) {
    if (::unlink(from.c_str()) == 0) return true;
    err = errno;
    ::unlink(to.c_str());
    errno = err;
    return false;
  }
  err = errno;
  if (err != EPERM && err != ENOTSUP && err != ENOSYS) return false;
  // No hard links either (FAT): claim the target name exclusively, then move
  // over our own empty placeholder.
  TFd fd(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd.IsOpen()) return false;
  fd.Close();
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  err = errno;
  ::unlink(to.c_str());
  errno = err;
  return false;
}

// ---------------------------------------------------------------------- trash

namespace {

// The Path= value of a .trashinfo record: percent-encoded like a URL path.
std::string TrashInfoPath(const std::string& path) {
  std::string out;
  for (unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                       c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      out += char(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

// The top of the file system that holds path: the highest folder on the way
// up that is still on the same device.
std::string FileSystemTop(const std::string& absPath, dev_t dev) {
  std::string top = "/";
  std::string dir = ExtractFilePath(absPath);
  while (dir.size() > 1) {
    dir.pop_back();
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || st.st_dev != dev) break;
    top = dir;
    dir = ExtractFilePath(dir);
  }
  return top;
}

// The trash for a file on device dev, and the Path= form of absPath there:
// absolute in the home trash, relative to the top in a ".Trash-UID" one.
bool ChooseTrash(const std::string& absPath, dev_t dev, std::string& trash, std::string& infoPath) {
  std::string home;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) home = x;
  else if (const char* h = std::getenv("HOME"); h && *h) home = std::string(h) + "/.local/share";
  struct stat st {};
  if (!home.empty() && ForceDirectories(home) && ::stat(home.c_str(), &st) == 0 && st.st_dev == dev) {
    trash = IncludeTrailingSlash(home) + "Trash/";
    infoPath = absPath;
  } else {
    const std::string top = FileSystemTop(absPath, dev);
    trash = IncludeTrailingSlash(top) + ".Trash-" + std::to_string(::getuid()) + "/";
    infoPath = absPath.substr(top == "/" ? 1 : top.size() + 1);
    if (!DirectoryExists(trash) && ::mkdir(trash.c_str(), 0700) != 0) return false;
  }
  return ForceDirectories(trash + "files/") && ForceDirectories(trash + "info/");
}

}  // namespace

bool MoveToTrash(const std::string& path, std::string* trashedAs) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return false;
  const std::string abs = real;
  std::free(real);
  struct stat st {};
  std::string trash, infoPath;
  if (::lstat(abs.c_str(), &st) != 0 || !ChooseTrash(abs, st.st_dev, trash, infoPath)) return false;
  char when[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm {};
  localtime_r(&now, &tm);
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &tm);
  const std::string record = "[Trash Info]\nPath=" + TrashInfoPath(infoPath) + "\nDeletionDate=" + when + "\n";
  const std::string name = ExtractFileName(abs);
  for (int n = 1; n < 10000; ++n) {
    const std::string stem = n == 1 ? name : name + "." + std::to_string(n);
    const std::string info = trash + "info/" + stem + ".trashinfo";
    // The info file claims the name (exclusive create), as the layout asks.
    TFd fd(::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.IsOpen() && errno == EEXIST) continue;
    if (!fd.IsOpen()) return false;
    const bool written = WriteAll(fd.Get(), record.data(), record.size()) && fd.Close();
    if (written && MoveFileNoReplace(abs, trash + "files/" + stem)) {
      if (trashedAs) *trashedAs = trash + "files/" + stem;
      return true;
    }
    const int e = errno;
    ::unlink(info.c_str());
    if (e != EEXIST) return false;  // a file without info took the name: try the next
  }
  return false;
}

// ------------------------------------------------------------------ flushing

bool SyncFolderOf(const std::string& path) {
  TFd fd(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.IsOpen() && ::fsync(fd.Get()) == 0;
}

void TDurableBatch::AddNewFile(const std::string& path) {
  // The files of a batch come folder by folder: a folder seen last is on a
  // file system already held.
  std::string folder = FolderOf(path);
  if (folder == lastFolder_) return;
  TFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat st {};
  if (!fd.IsOpen() || ::fstat(fd.Get(), &st) != 0) return;
  folders_.try_emplace(uint64_t(st.st_dev), std::move(fd));
  lastFolder_ = std::move(folder);
}

bool TDurableBatch::Flush() {
  bool ok = true;
  int err = 0;
  for (auto& [dev, fd] : folders_)
    if (::syncfs(fd.Get()) != 0 && ok) {
      ok = false;
      err = errno;
    }
  folders_.clear();
  lastFolder_.clear();
  if (!ok) errno = err;
  return ok;
}

// ------------------------------------------------------------------ new files

TNewFile::TNewFile(const std::string& folder, std::string_view forName, mode_t mode)
    : folder_(IncludeTrailingSlash(folder.empty() ? std::string(".") : folder)) {
  fd_ = TFd(::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
  if (fd_.IsOpen()) return;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) ThrowErrno(folder_);
  // No unnamed files on this file system (or kernel): a hidden name that
  // tells anyone who finds it what it is.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = folder_ + "." + std::string(forName) + ".parcelix-tmp-" + RandomSuffix();
    fd_ = TFd(::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
    if (fd_.IsOpen()) {
      hiddenName_ = std::move(name);
      return;
    }
    if (errno != EEXIST) ThrowErrno(folder_);
  }
  ThrowErrno(folder_, EEXIST);
}

std::string TNewFile::Name() const {
  return Unnamed() ? "/proc/self/fd/" + std::to_string(fd_.Get()) : hiddenName_;
}

// Gives the unnamed file a name (fails with EEXIST when the name is taken).
bool TNewFile::LinkAs(const std::string& name) {
  if (::linkat(fd_.Get(), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return true;
  if (errno != ENOENT && errno != EPERM) return false;
  // AT_EMPTY_PATH needs a privilege; the descriptor's /proc entry does not.
  const std::string self = "/proc/self/fd/" + std::to_string(fd_.Get());
  return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

void TNewFile::Commit(const std::string& target, TPlace place, bool durable, TDurableBatch* batch) {
  if (done_ || !fd_.IsOpen()) ThrowErrno(target, EBADF);
  if (durable && ::fdatasync(fd_.Get()) != 0) {
    const int e = errno;
    Discard();
    ThrowErrno(target, e);
  }
  bool ok;
  if (Unnamed() && place == TPlace::NoReplace) {
    ok = LinkAs(target);
  } else if (Unnamed() && LinkAs(target)) {
    ok = true;  // nothing stood at the target: the file took its name at once
  } else if (Unnamed()) {
    // linkat never replaces: the file gets a hidden name beside the target
    // first, and that name is renamed over the target.
    std::string name;
    for (int attempt = 0; attempt < 100 && name.empty(); ++attempt) {
      std::string candidate = folder_ + "." + ExtractFileName(target) + ".parcelix-tmp-" + RandomSuffix();
      if (LinkAs(candidate)) name = std::move(candidate);
      else if (errno != EEXIST) break;
    }
    ok = !name.empty() && ::rename(name.c_str(), target.c_str()) == 0;
    const int e = errno;
    if (!name.empty() && !ok) ::unlink(name.c_str());
    errno = e;
  } else {
    ok = place == TPlace::Replace ? ::rename(hiddenName_.c_str(), target.c_str()) == 0
                                  : MoveFileNoReplace(hiddenName_, target);
    if (ok) hiddenName_.clear();
  }
  const int e = errno;
  if (!ok || !fd_.Close()) {
    Discard();
    ThrowErrno(target, ok ? errno : e);
  }
  done_ = true;
  if (durable) {
    if (!SyncFolderOf(target)) ThrowErrno(FolderOf(target));
  } else if (batch) {
    batch->AddNewFile(target);
  }
}

void TNewFile::Discard() {
  if (done_) return;
  done_ = true;
  fd_.Close();
  if (!hiddenName_.empty()) ::unlink(hiddenName_.c_str());
}

// ------------------------------------------------------------ whole files

std::string ResolveLinkTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      std::string out = real;
      std::free(real);
      return out;
    }
  }
  return path;
}

namespace {

// Writes a new version of path through fill, which writes into the
// descriptor it is given. With a batch, fill may be called twice.
template <class Fill>
void ReplaceWith(const std::string& path, const TReplaceOptions& options, const Fill& fill) {
  // A file of a batch is nearly always new (a JAD beside a JAR that had
  // none): it is made and linked in at once, with no look at the name first.
  // Only when the name turns out to be taken is it made again below, as the
  // replacement of what stands there.
  if (options.Batch) {
    TNewFile file(FolderOf(path), ExtractFileName(path), 0666);
    if (!fill(file.Fd())) ThrowErrno(path);
    if (options.Mode >= 0 && ::fchmod(file.Fd(), mode_t(options.Mode)) != 0) ThrowErrno(path);
    try {
      file.Commit(path, TPlace::NoReplace, false, options.Batch);
      return;
    } catch (const std::system_error& e) {
      if (e.code().value() != EEXIST) throw;
    }
  }
  // One lstat tells a new file, a file replaced, and a link to follow.
  struct stat old {};
  std::string target = path;
  bool replaces = ::lstat(path.c_str(), &old) == 0;
  if (replaces && S_ISLNK(old.st_mode)) {
    target = ResolveLinkTarget(path);
    replaces = ::stat(target.c_str(), &old) == 0;
  }
  TNewFile file(FolderOf(target), ExtractFileName(target), 0666);
  if (!fill(file.Fd())) ThrowErrno(target);
  int mode = options.Mode;
  if (mode < 0 && replaces && S_ISREG(old.st_mode)) mode = int(old.st_mode & 07777);
  if (mode >= 0 && ::fchmod(file.Fd(), mode_t(mode)) != 0) ThrowErrno(target);
  // A replaced file must never be lost: flushed here. A new one can wait
  // for its batch, since nothing was there to lose.
  const bool durable = replaces || options.Batch == nullptr;
  file.Commit(target, TPlace::Replace, durable, durable ? nullptr : options.Batch);
}

}  // namespace

void ReplaceFileContents(const std::string& path, std::string_view data, const TReplaceOptions& options) {
  ReplaceWith(path, options, [&](int fd) { return WriteAll(fd, data.data(), data.size()); });
}

void CopyFileReplacing(const std::string& src, const std::string& dst) {
  TFd in(::open(src.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.IsOpen()) ThrowErrno(src);
  struct stat st {}, other {};
  if (::fstat(in.Get(), &st) != 0) ThrowErrno(src);
  if (::stat(dst.c_str(), &other) == 0 && SameInode(st, other)) ThrowErrno(dst, EINVAL);
  int64_t offset = 0;
  TReplaceOptions options;
  options.Mode = int(st.st_mode & 07777);
  ReplaceWith(dst, options, [&](int fd) {
    // A source that shrinks while it is copied gives what is there.
    return CopyRange(in.Get(), &offset, fd, int64_t(st.st_size)) >= 0;
  });
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && SameInode(sa, sb);
}

void LinkOrCopyReplacing(const std::string& src, const std::string& dst) {
  const std::string target = ResolveLinkTarget(dst);
  if (SameFile(src, dst)) {
    // Another name of the very file (a backup left by a save that failed)
    // already holds it; the same name is an error.
    char* a = ::realpath(src.c_str(), nullptr);
    char* b = ::realpath(target.c_str(), nullptr);
    const bool same = !a || !b || std::string_view(a) == b;
    std::free(a);
    std::free(b);
    if (same) ThrowErrno(dst, EINVAL);
    return;
  }
  std::string name;
  for (int attempt = 0; attempt < 100 && name.empty(); ++attempt) {
    std::string candidate = FolderOf(target) + "." + ExtractFileName(target) + ".parcelix-tmp-" + RandomSuffix();
    if (::link(src.c_str(), candidate.c_str()) == 0) name = std::move(candidate);
    else if (errno == EXDEV || errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK || errno == ENOSYS)
      return CopyFileReplacing(src, dst);
    else if (errno != EEXIST) ThrowErrno(dst);
  }
  if (name.empty()) ThrowErrno(dst, EEXIST);
  if (::rename(name.c_str(), target.c_str()) != 0) {
    const int e = errno;
    ::unlink(name.c_str());
    ThrowErrno(target, e);
  }
  // When target already was a name of src, rename leaves both names in place:
  // the extra one goes.
  struct stat st {};
  if (::lstat(name.c_str(), &st) == 0) ::unlink(name.c_str());
}

}  // namespace parcelix
