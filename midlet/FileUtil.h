// File helpers of the MIDlet operations: private temporary directories and
// files. Reading, replacing, copying and moving files is engine/common/FileSystem.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "engine/common/FileSystem.h"

namespace parcelix {

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

// A named scratch file (mode 0600) made with O_EXCL in dir, a private
// directory: it is never flushed to the disk. Removed when the object goes away unless
// Release() was called.
class TUniqueFile {
 public:
  TUniqueFile(const std::string& dir, std::string_view prefix);  // throws std::system_error
  ~TUniqueFile();
  TUniqueFile(const TUniqueFile&) = delete;
  TUniqueFile& operator=(const TUniqueFile&) = delete;
  int Fd() const { return fd_.Get(); }
  const std::string& Path() const { return path_; }
  void WriteAll(std::string_view data);  // throws std::system_error
  void Close();                          // throws std::system_error
  void Release() { released_ = true; }   // the file now belongs elsewhere (renamed)

 private:
  TFd fd_;
  std::string path_;
  bool released_ = false;
};

}  // namespace parcelix
