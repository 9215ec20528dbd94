// The temporary archive streams: creation with mkstemp, block copies, and the commit over the target.
#include "engine/write/arxTempStreams.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/common/arxGbls.h"
#include "engine/read/Err_Msgs.h"

namespace parcelix {

namespace {

// Copies between files move this much per step between two looks at the
// cancel flag; read/write copies use a buffer of kCopyBuffer bytes.
constexpr int64_t kKernelCopyChunk = 8 << 20;
constexpr int64_t kCopyBuffer = 1 << 20;

// The file-creation mask of the process, read without changing it.
mode_t CurrentUmask() {
  if (FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 022;
    bool found = false;
    while (std::fgets(line, sizeof line, f))
      if (std::sscanf(line, "Umask: %o", &mask) == 1) {
        found = true;
        break;
      }
    std::fclose(f);
    if (found) return mode_t(mask);
  }
  return 022;
}

int ErrorCodeFor(int err) { return (err == ENOSPC || err == EDQUOT || err == EFBIG) ? kErrDiskFull : kErrWriteFile; }

// Writes all of count bytes; false with errno set on failure.
bool WriteAll(int fd, const uint8_t* p, int64_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, p, size_t(count < INT_MAX ? count : INT_MAX));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    p += n;
    count -= n;
  }
  return true;
}

// Copies the whole of src (from offset 0) into dst at its current position.
bool CopyWholeFile(int src, int dst) {
  struct stat st {};
  if (::fstat(src, &st) != 0) return false;
  int64_t left = st.st_size;
  loff_t inOff = 0;
  bool kernel = true;
  while (left > 0 && kernel) {
    const ssize_t n = ::copy_file_range(src, &inOff, dst, nullptr, size_t(left < kKernelCopyChunk ? left : kKernelCopyChunk), 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
        kernel = false;
        break;
      }
      return false;
    }
    if (n == 0) {
      errno = EIO;  // the file got shorter under us
      return false;
    }
    left -= n;
  }
  if (left == 0) return true;
  auto buffer = std::make_unique_for_overwrite<uint8_t[]>(size_t(kCopyBuffer));
  while (left > 0) {
    const ssize_t n = ::pread(src, buffer.get(), size_t(left < kCopyBuffer ? left : kCopyBuffer), inOff);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    if (!WriteAll(dst, buffer.get(), n)) return false;
    inOff += n;
    left -= n;
  }
  return true;
}

// What a temporary archive that is destroyed unfinished does: commit, unless
// an exception is unwinding (then the archive is not complete); a commit
// that throws (a hook) cannot leave the temporary file behind.
template <class Stream>
void CommitOrDiscard(Stream& stream, bool unwinding) {
  if (unwinding) {
    stream.Discard();
    return;
  }
  try {
    stream.Commit();
  } catch (...) {
    stream.Discard();
  }
}

// Flushes the directory entry of a rename.
void SyncDirectoryOf(const std::string& path) {
  std::string dir = ExtractFilePath(path);
  if (dir.empty()) dir = ".";
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// Permissions of the archive that replaces the target: those of the old
// file, or those a newly created file would get.
mode_t TargetMode(const TCommitTarget& t) {
  return t.Existed ? mode_t(t.Mode & 07777) : mode_t(0666 & ~CurrentUmask());
}

// Puts the finished archive at the target: a rename that replaces only the
// file that stood there at the start, or creates the target only when it
// still does not exist. With durable, the directory is flushed afterwards.
bool PlaceOverTarget(const std::string& from, const TCommitTarget& t, bool durable, int& err, int& code) {
  if (!t.StillSame()) {
    err = ENOENT;
    code = kErrFileNotFound;
    return false;
  }
  if (t.Existed) {
    if (::rename(from.c_str(), t.Path.c_str()) != 0) {
      err = errno;
      code = ErrorCodeFor(err);
      return false;
    }
  } else if (!MoveFileNoReplace(from, t.Path)) {
    err = errno ? errno : EEXIST;
    code = kErrWriteFile;
    return false;
  }
  if (durable) SyncDirectoryOf(t.Path);
  return true;
}

// Writes an archive into a new temporary file beside the target (so that the
// last step is a rename on one file system), flushes it to the disk and moves
// it over the target. fill writes the content into the descriptor it is given.
bool CommitBesideTarget(const TCommitTarget& t, const std::function<bool(int fd)>& fill, int& err, int& code) {
  const std::string name = CreateTempArchiveName(ExtractFilePath(t.Path).empty() ? "./" : ExtractFilePath(t.Path));
  if (name.empty()) {
    err = errno;
    code = ErrorCodeFor(err) == kErrDiskFull ? kErrDiskFull : kErrOpenFile;
    return false;
  }
  const int fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
  bool ok = fd >= 0 && ::fchmod(fd, TargetMode(t)) == 0 && fill(fd) && ::fsync(fd) == 0;
  if (!ok) err = errno;
  if (fd >= 0 && ::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    code = ErrorCodeFor(err);
  } else {
    ok = PlaceOverTarget(name, t, true, err, code);
  }
  if (!ok) ::unlink(name.c_str());
  return ok;
}

// Asks the owner's move-begin handler whether the commit may go on; a
// cancel there sets the owner's flag and is reported as "User canceled".
bool MoveBeginCancels(const TTempStreamHooks& hooks, const std::string& target, const std::string& tempName,
                      bool cancelled) {
  if (!hooks.MoveBegin) return false;
  bool cancel = cancelled;
  hooks.MoveBegin(target, tempName, cancel);
  if (!cancel) return false;
  if (hooks.Cancel) *hooks.Cancel = 1;
  if (hooks.Report) hooks.Report(target, kErrUserCanceled);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------

void TCommitTarget::Capture(const std::string& path) {
  Path = path;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      Path = real;
      std::free(real);
    }
  }
  Existed = ::stat(Path.c_str(), &st) == 0;
  Dev = Existed ? uint64_t(st.st_dev) : 0;
  Ino = Existed ? uint64_t(st.st_ino) : 0;
  Mode = Existed ? uint32_t(st.st_mode) : 0;
}

bool TCommitTarget::StillSame() const {
  struct stat st {};
  const bool exists = ::stat(Path.c_str(), &st) == 0;
  if (!Existed) return !exists;
  return exists && uint64_t(st.st_dev) == Dev && uint64_t(st.st_ino) == Ino;
}

std::string CreateTempArchiveName(const std::string& dir) {
  std::string base = dir;
  if (!base.empty()) ForceDirectories(base);
  if (base.empty() || !DirectoryExists(base)) base = SystemTempDir();
  ForceDirectories(base);
  std::string templ = IncludeTrailingSlash(base) + "arxXXXXXX.tmp";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  const int fd = ::mkostemps(buf.data(), 4, O_CLOEXEC);
  if (fd < 0) return {};
  ::close(fd);
  return std::string(buf.data());
}

// ---------------------------------------------------------------------------
// TTempFileStream

TTempFileStream::TTempFileStream(const TTempStreamHooks& hooks, uint16_t mode, const std::string& archiveFile,
                                 const std::string& tempDir)
    : TFileStream32(mode == kTempModeNew ? CreateTempArchiveName(tempDir) : archiveFile,
                    mode == kTempModeNew ? fmOpenReadWrite : mode),
      hooks_(hooks),
      mode_(mode),
      uncaught_(std::uncaught_exceptions()) {
  OwnerCancel = hooks_.Cancel;
  BytesLeft = hooks_.BytesLeft;
  ProcessMessages = hooks_.ProcessMessages;
  if (mode == kTempModeNew) {
    temporary_ = true;
    target_.Capture(archiveFile);
    if (!IsOpen() && !fileName_.empty()) ::unlink(fileName_.c_str());
  }
}

TTempFileStream::~TTempFileStream() {
  if (!finished_) CommitOrDiscard(*this, std::uncaught_exceptions() > uncaught_);
}

void TTempFileStream::NoteWriteFailure(int err) {
  if (writeFailed_) return;
  writeFailed_ = true;
  writeErrno_ = err ? err : EIO;
}

int64_t TTempFileStream::Read(void* buffer, int64_t count) {
  const int64_t n = THandleStream32::Read(buffer, count);
  if (hooks_.ReadProgress && BytesLeft && *BytesLeft > 0 && count > 0) {
    *BytesLeft -= count;
    hooks_.ReadProgress();
  }
  return n;
}

int64_t TTempFileStream::Write(const void* buffer, int64_t count) {
  const int64_t n = THandleStream32::Write(buffer, count);
  if (count > 0 && n != count) NoteWriteFailure(IsOpen() ? LastErrno() : EBADF);
  return n;
}

int64_t TTempFileStream::CopyFrom(TStream32& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  if (count <= 0) return 0;
  int64_t copied = 0;
  auto step = [&](int64_t n) {
    copied += n;
    count -= n;
    if (BytesLeft && *BytesLeft > 0) {
      *BytesLeft -= n;
      if (hooks_.Progress) hooks_.Progress();
    }
  };
  // In the kernel first: both sides are files, and the bytes never pass
  // through user space.
  auto* src = dynamic_cast<THandleStream32*>(&source);
  bool kernel = src != nullptr && src->IsOpen() && IsOpen();
  while (kernel && count > 0 && !Cancelled()) {
    if (ProcessMessages) ProcessMessages();
    if (Cancelled()) break;
    const ssize_t n = ::copy_file_range(src->Handle(), nullptr, handle_, nullptr,
                                        size_t(count < kKernelCopyChunk ? count : kKernelCopyChunk), 0);
    if (n < 0) {
      const int e = errno;
      if (e == EINTR) continue;
      if (copied == 0 && (e == EXDEV || e == EINVAL || e == ENOSYS || e == EOPNOTSUPP)) {
        kernel = false;
        break;
      }
      if (e == ENOSPC || e == EDQUOT || e == EFBIG) {
        NoteWriteFailure(e);
        throw EStreamError("Stream write error");
      }
      throw EStreamError("Stream read error");
    }
    if (n == 0) throw EStreamError("Stream read error");
    step(n);
    // Start writing the copied bytes to the disk now, in the background. The
    // rename that later puts this archive over the old one makes the file
    // system write out whatever is still pending first (ext4 does so to keep
    // a replaced file's data safe), and then the save waits for all of it.
    ::sync_file_range(handle_, 0, 0, SYNC_FILE_RANGE_WRITE);
  }
  if (count > 0 && !Cancelled()) {
    const int64_t chunk = count < kCopyBuffer ? count : kCopyBuffer;
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(size_t(chunk));
    while (count > 0 && !Cancelled()) {
      const int64_t n = count < chunk ? count : chunk;
      if (ProcessMessages) ProcessMessages();
      if (Cancelled()) break;
      source.ReadBuffer(buffer.get(), n);
      WriteBuffer(buffer.get(), n);
      step(n);
    }
  }
  return copied;
}

void TTempFileStream::Discard() {
  finished_ = true;
  Close();
  if (temporary_ && !fileName_.empty()) ::unlink(fileName_.c_str());
}

bool TTempFileStream::Commit() {
  if (finished_) return false;
  if (!temporary_) {
    finished_ = true;
    Close();
    return false;
  }
  if (Cancelled() || mode_ == kTempModeDiscard || target_.Path.empty() || !IsOpen()) {
    Discard();
    return false;
  }
  if (writeFailed_) {
    if (hooks_.Report) hooks_.Report(target_.Path, ErrorCodeFor(writeErrno_));
    Discard();
    return false;
  }
  if (MoveBeginCancels(hooks_, target_.Path, fileName_, Cancelled())) {
    Discard();
    return false;
  }
  const bool ok = MoveTempFile();
  Discard();  // the temporary name is gone after a rename; after a copy it is deleted here
  if (ok && OldArchiveSize > 65536 && hooks_.MoveEnd) hooks_.MoveEnd();
  return ok;
}

bool TTempFileStream::MoveTempFile() {
  int err = 0, code = 0;
  bool ok = false;
  struct stat tempSt {}, dirSt {};
  std::string targetDir = ExtractFilePath(target_.Path);
  if (targetDir.empty()) targetDir = ".";
  const bool sameFs = ::fstat(handle_, &tempSt) == 0 && ::stat(targetDir.c_str(), &dirSt) == 0 &&
                      tempSt.st_dev == dirSt.st_dev;
  if (sameFs) {
    // One rename: atomic, and the archive is written only once. There is no
    // flush to the disk here: on a slow disk it costs many times the whole
    // update, and ext4 (auto_da_alloc) already pushes out the data of a file
    // renamed over another ahead of the rename.
    ok = ::fchmod(handle_, TargetMode(target_)) == 0;
    if (!ok) {
      err = errno;
      code = ErrorCodeFor(err);
    }
    Close();
    if (ok) ok = PlaceOverTarget(fileName_, target_, false, err, code);
  } else {
    const int src = handle_;
    ok = CommitBesideTarget(target_, [src](int fd) { return CopyWholeFile(src, fd); }, err, code);
  }
  if (!ok && hooks_.Report) hooks_.Report(target_.Path, code ? code : kErrWriteFile);
  return ok;
}

// ---------------------------------------------------------------------------
// TTempMemStream

TTempMemStream::TTempMemStream(const TTempStreamHooks& hooks, uint16_t mode, const std::string& archiveFile)
    : hooks_(hooks), mode_(mode), uncaught_(std::uncaught_exceptions()) {
  OwnerCancel = hooks_.Cancel;
  BytesLeft = hooks_.BytesLeft;
  ProcessMessages = hooks_.ProcessMessages;
  if (mode == kTempModeNew) {
    name_ = "NoName";
    temporary_ = true;
    target_.Capture(archiveFile);
  } else {
    name_ = archiveFile;
  }
}

TTempMemStream::~TTempMemStream() {
  if (!finished_) CommitOrDiscard(*this, std::uncaught_exceptions() > uncaught_);
}

void TTempMemStream::Discard() {
  finished_ = true;
  Clear();
}

bool TTempMemStream::Commit() {
  if (finished_) return false;
  if (!temporary_ || Cancelled() || mode_ == kTempModeDiscard || target_.Path.empty()) {
    Discard();
    return false;
  }
  if (MoveBeginCancels(hooks_, target_.Path, name_, Cancelled())) {
    Discard();
    return false;
  }
  int err = 0, code = 0;
  const uint8_t* data = Memory();
  const int64_t size = GetSize();
  const bool ok = CommitBesideTarget(target_, [data, size](int fd) { return WriteAll(fd, data, size); }, err, code);
  if (!ok && hooks_.Report) hooks_.Report(target_.Path, code ? code : kErrWriteFile);
  Discard();
  if (ok && hooks_.MoveEnd) hooks_.MoveEnd();
  return ok;
}

}  // namespace parcelix
