// File helpers of the MIDlet operations: whole-file reads, replacing a file
// only by a complete new one, private temporary directories.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace parcelix {

// The whole file; false (and errno) when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& out);

// Writes data to a new file beside path (same directory, so the rename
// cannot cross file systems), flushes it to disk and renames it over path.
// An existing file's permission bits are kept; a symbolic link at path is
// followed so that the link stays. On failure path is as it was, the
// temporary file is gone, and std::system_error carries errno.
void WriteFileReplacing(const std::string& path, std::string_view data);

// Copies src to dst the same way (complete copy first, then rename). Throws
// std::system_error; refuses (EINVAL) to replace src itself.
void CopyFileReplacing(const std::string& src, const std::string& dst);

// Makes dst hold what src holds now, for a src that will only ever be
// replaced by a new file (never written in place): dst becomes a second name
// of the same file, which costs no copy and no flush, and dst replaces an
// older dst atomically. Where the file system has no hard links (or src and
// dst lie on different ones) it falls back to CopyFileReplacing.
void LinkOrCopyReplacing(const std::string& src, const std::string& dst);

// True when both paths name the same existing file (device and inode).
bool SameFile(const std::string& a, const std::string& b);

// Removes a directory tree without following symbolic links. True when
// nothing is left.
bool RemoveTree(const std::string& dir);

// A directory made with mkdtemp under the system temporary directory and
// removed with everything in it when the object goes away.
class TPrivateTempDir {
 public:
  explicit TPrivateTempDir(std::string_view prefix = "parcelix-");  // throws std::system_error
  ~TPrivateTempDir();
  TPrivateTempDir(const TPrivateTempDir&) = delete;
  TPrivateTempDir& operator=(const TPrivateTempDir&) = delete;
  const std::string& Path() const { return path_; }  // ends in '/'
  void Keep() { keep_ = true; }                      // leave it on disk

 private:
  std::string path_;
  bool keep_ = false;
};

// A file made with O_EXCL and a random name in dir; removed when the object
// goes away unless Release() was called.
class TUniqueFile {
 public:
  TUniqueFile(const std::string& dir, std::string_view prefix, unsigned mode = 0666);  // throws std::system_error
  ~TUniqueFile();
  TUniqueFile(const TUniqueFile&) = delete;
  TUniqueFile& operator=(const TUniqueFile&) = delete;
  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }
  void WriteAll(std::string_view data);  // throws std::system_error
  void SyncAndClose();                   // throws std::system_error
  void Close();                          // without the flush to disk; throws std::system_error
  void Release() { released_ = true; }   // the file now belongs elsewhere (renamed)

 private:
  int fd_ = -1;
  std::string path_;
  bool released_ = false;
};

}  // namespace parcelix
