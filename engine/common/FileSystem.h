// The file-system layer: every file the program writes, replaces, copies or moves goes through these calls.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace parcelix {

// Which file a path named, and in which state: equal identities mean the
// same file, unchanged (device, inode, size and modification time).
struct TFileIdentity {
  uint64_t dev = 0, ino = 0;
  int64_t size = -1, mtimeSec = 0, mtimeNsec = 0;
  bool operator==(const TFileIdentity&) const = default;
};
// The identity of the regular file at path; false when there is none.
bool IdentityOfFile(const std::string& path, TFileIdentity& id);
// The identity of a file from what stat(2) gave.
TFileIdentity IdentityOfStat(const struct stat& st);

// A file descriptor owned by one object and closed when it goes away.
class TFd {
 public:
  TFd() = default;
  explicit TFd(int fd) noexcept : fd_(fd) {}
  TFd(TFd&& other) noexcept : fd_(other.Release()) {}
  TFd& operator=(TFd&& other) noexcept;
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd();
  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  int Release() noexcept;  // the descriptor now belongs to the caller
  bool Close();            // false with errno when close reports a failure (a lost write)

 private:
  int fd_ = -1;
};

// Writes all n bytes, going on after signals and short writes. False with
// errno set on failure (ENOSPC for a write that makes no progress).
bool WriteAll(int fd, const void* data, size_t n);

// The whole of a regular file into out. False with errno set when it cannot
// be opened or read, is no regular file (EISDIR, EINVAL), or is larger than
// maxSize (EFBIG); out is then empty.
bool ReadWholeFile(const std::string& path, std::string& out, size_t maxSize = SIZE_MAX);

// Copies up to count bytes from src to dst at dst's position: from
// *srcOffset (advanced) or, with nullptr, from src's position. In the kernel
// where both file systems allow it, else through a buffer. Returns the bytes
// copied, fewer than count only at the end of src; -1 with errno on failure.
int64_t CopyRange(int src, int64_t* srcOffset, int dst, int64_t count);

// Moves a file without ever replacing an existing one (renameat2 with
// RENAME_NOREPLACE, else link+unlink, else an exclusive placeholder). False,
// with errno set and both names as they were, when the target exists or the
// move fails. A change of letter case of the same file is allowed.
bool MoveFileNoReplace(const std::string& from, const std::string& to);

// Moves a file into the desktop's trash (the freedesktop.org layout) with the
// .trashinfo record that lets a file manager restore it: the home trash
// ($XDG_DATA_HOME/Trash) for a file on that file system, else the
// ".Trash-UID" folder at the top of the file's own file system. A name taken
// in the trash gets ".2", ".3"... False, leaving the file where it was, when
// no trash can take it. trashedAs receives the file's path inside the trash.
bool MoveToTrash(const std::string& path, std::string* trashedAs = nullptr);

// Flushes the folder itself (the names in it) to the disk. False with errno.
bool SyncFolderOf(const std::string& path);

// New files of a batch (JADs of a folder tree) are not flushed one by one:
// the batch remembers the file systems they were written to and flushes each
// once (syncfs: the data and the names) at Flush or when it goes away.
class TDurableBatch {
 public:
  TDurableBatch() = default;
  TDurableBatch(const TDurableBatch&) = delete;
  TDurableBatch& operator=(const TDurableBatch&) = delete;
  ~TDurableBatch() { Flush(); }
  void AddNewFile(const std::string& path);
  bool Flush();  // false with errno when a flush failed
  size_t Pending() const { return folders_.size(); }

 private:
  std::map<uint64_t, TFd> folders_;  // one open folder per file system
  std::string lastFolder_;           // the folder of the last new file, on one of them
};

// How a committed new file meets what stands at its target.
enum class TPlace {
  Replace,    // rename over an existing file (or create the target)
  NoReplace,  // create the target only; EEXIST when something stands there
};

// A file that nobody sees until it is complete: an unnamed file (O_TMPFILE)
// in folder where the file system supports it, else a hidden name that says
// what it is (".NAME.parcelix-tmp-XXXXXX"). Uncommitted, it vanishes when the
// object goes away (the unnamed one even when the process is killed).
class TNewFile {
 public:
  // folder: where the file is made (the target's folder, so that the commit
  // is a rename); forName: the target's name, for the hidden name. Throws
  // std::system_error when no file can be made.
  TNewFile(const std::string& folder, std::string_view forName, mode_t mode = 0666);
  TNewFile(const TNewFile&) = delete;
  TNewFile& operator=(const TNewFile&) = delete;
  ~TNewFile() { Discard(); }

  int Fd() const { return fd_.Get(); }
  // A path that opens the file: the hidden name, or /proc/self/fd/N.
  std::string Name() const;
  bool Unnamed() const { return hiddenName_.empty(); }

  // Puts the file at target, which must lie on the folder's file system.
  // With durable set the data is flushed (fdatasync) before the file gets
  // the name and the folder after; otherwise a batch (when given) flushes
  // it later. Throws std::system_error; the target is then as it was and the
  // file is discarded.
  void Commit(const std::string& target, TPlace place, bool durable, TDurableBatch* batch = nullptr);
  void Discard();  // closes and removes the file; nothing happens at the target

 private:
  bool LinkAs(const std::string& name);
  TFd fd_;
  std::string folder_;
  std::string hiddenName_;  // empty for an unnamed file
  bool done_ = false;
};

// How ReplaceFileContents treats the new file.
struct TReplaceOptions {
  TDurableBatch* Batch = nullptr;  // a new file is flushed with this batch, not at once
  int Mode = -1;                   // its permission bits; -1: the old file's (new: 0666 less the umask)
};

// Writes data as the new content of path, never leaving a partial file:
// a TNewFile in path's folder, renamed over it. A symbolic link at path is
// followed, so the link stays. A file that replaces an existing one is
// flushed before the rename and its folder after; a new file is flushed by
// the batch when one is given, else at once. Throws std::system_error with
// errno; path is then as it was.
void ReplaceFileContents(const std::string& path, std::string_view data, const TReplaceOptions& options = {});

// Makes dst a complete copy of src the same way. Throws std::system_error;
// refuses (EINVAL) to replace src itself.
void CopyFileReplacing(const std::string& src, const std::string& dst);

// Makes dst hold what src holds now, for a src that will only ever be
// replaced by a new file (never written in place): dst becomes a second name
// of the same file, which costs no copy, and replaces an older dst
// atomically. Where the file system has no hard links (or src and dst lie on
// different ones) it falls back to CopyFileReplacing. Throws std::system_error.
void LinkOrCopyReplacing(const std::string& src, const std::string& dst);

// True when both paths name the same existing file (device and inode).
bool SameFile(const std::string& a, const std::string& b);

// The file a path finally names when it is a symbolic link (so that a
// replacement keeps the link); the path itself otherwise.
std::string ResolveLinkTarget(const std::string& path);

}  // namespace parcelix
