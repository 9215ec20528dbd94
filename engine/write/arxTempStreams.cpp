// The temporary archive streams: an unnamed file, block copies, and the durable commit over the target.
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

#include "engine/common/FileSystem.h"
#include "engine/common/arxGbls.h"
#include "engine/read/Err_Msgs.h"

namespace parcelix {

namespace {

int ErrorCodeFor(int err) { return (err == ENOSPC || err == EDQUOT || err == EFBIG) ? kErrDiskFull : kErrWriteFile; }

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

// Puts the finished archive at the target: its data flushed first, then a
// rename that replaces only the file that stood there at the start, or a new
// name when there was none (never replacing what appeared meanwhile), then
// the folder flushed. The file is gone on failure.
bool PlaceOverTarget(TNewFile& file, const TCommitTarget& t, int& err, int& code) {
  if (!t.StillSame()) {
    file.Discard();
    err = ENOENT;
    code = kErrFileNotFound;
    return false;
  }
  if (t.Existed && ::fchmod(file.Fd(), mode_t(t.Mode & 07777)) != 0) {
    err = errno;
    code = ErrorCodeFor(err);
    file.Discard();
    return false;
  }
  try {
    file.Commit(t.Path, t.Existed ? TPlace::Replace : TPlace::NoReplace, true);
    return true;
  } catch (const std::system_error& e) {
    err = e.code().value();
    code = ErrorCodeFor(err);
    return false;
  }
}

// Writes an archive into a new file beside the target (so that the last step
// is a rename on one file system) and puts it over the target. fill writes
// the content into the descriptor it is given.
bool CommitBesideTarget(const TCommitTarget& t, const std::function<bool(int fd)>& fill, int& err, int& code) {
  std::unique_ptr<TNewFile> file;
  try {
    file = std::make_unique<TNewFile>(ExtractFilePath(t.Path), ExtractFileName(t.Path));
  } catch (const std::system_error& e) {
    err = e.code().value();
    code = ErrorCodeFor(err) == kErrDiskFull ? kErrDiskFull : kErrOpenFile;
    return false;
  }
  if (!fill(file->Fd())) {
    err = errno;
    code = ErrorCodeFor(err);
    return false;
  }
  return PlaceOverTarget(*file, t, err, code);
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

std::string TempArchiveFolder(const std::string& dir) {
  std::string base = dir;
  if (!base.empty()) ForceDirectories(base);
  if (base.empty() || !DirectoryExists(base)) base = SystemTempDir();
  ForceDirectories(base);
  return base;
}

// ---------------------------------------------------------------------------
// TTempFileStream

TTempFileStream::TTempFileStream(const TTempStreamHooks& hooks, uint16_t mode, const std::string& archiveFile,
                                 const std::string& tempDir)
    : TFileStream32(mode == kTempModeNew ? std::string() : archiveFile, mode == kTempModeNew ? fmOpenRead : mode),
      hooks_(hooks),
      mode_(mode),
      uncaught_(std::uncaught_exceptions()) {
  OwnerCancel = hooks_.Cancel;
  BytesLeft = hooks_.BytesLeft;
  ProcessMessages = hooks_.ProcessMessages;
  if (mode != kTempModeNew) return;
  temporary_ = true;
  target_.Capture(archiveFile);
  // The base opened nothing (an empty name): the stream writes into a file
  // that has no name until the commit, so a run that is killed leaves
  // nothing behind. A file that cannot be made leaves the stream closed, and
  // the first write fails.
  try {
    file_ = std::make_unique<TNewFile>(TempArchiveFolder(tempDir), ExtractFileName(target_.Path));
    handle_ = file_->Fd();
    fileName_ = file_->Name();
  } catch (const std::system_error& e) {
    lastErrno_ = e.code().value();
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
  try {
    return THandleStream32::CopyFrom(source, count);
  } catch (const EStreamError&) {
    // A full disk met by a copy in the kernel is remembered like one met by a write.
    const int e = LastErrno();
    if (e == ENOSPC || e == EDQUOT || e == EFBIG) NoteWriteFailure(e);
    throw;
  }
}

void TTempFileStream::CopiedStep(int64_t n) {
  if (BytesLeft && *BytesLeft > 0) {
    *BytesLeft -= n;
    if (hooks_.Progress) hooks_.Progress();
  }
}

void TTempFileStream::Discard() {
  finished_ = true;
  if (file_) handle_ = -1;  // the descriptor belongs to file_
  Close();
  file_.reset();
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
    // One rename: atomic, and the archive is written only once. Most of its
    // data went to the disk while it was copied (sync_file_range), so the
    // flush before the rename has little left to wait for.
    handle_ = -1;  // the commit closes file_'s descriptor
    ok = PlaceOverTarget(*file_, target_, err, code);
  } else {
    const int src = handle_;
    ok = CommitBesideTarget(target_, [src](int fd) {
      int64_t offset = 0;
      struct stat st {};
      return ::fstat(src, &st) == 0 && CopyRange(src, &offset, fd, st.st_size) == st.st_size;
    }, err, code);
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
  const bool ok =
      CommitBesideTarget(target_, [data, size](int fd) { return WriteAll(fd, data, size_t(size)); }, err, code);
  if (!ok && hooks_.Report) hooks_.Report(target_.Path, code ? code : kErrWriteFile);
  Discard();
  if (ok && hooks_.MoveEnd) hooks_.MoveEnd();
  return ok;
}

}  // namespace parcelix
