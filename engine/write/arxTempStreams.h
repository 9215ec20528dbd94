// The temporary archive streams: an update is written into one and committed over the target at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/common/FileSystem.h"

#include "engine/codec/arxStreams.h"

namespace parcelix {

// What a temporary stream takes from its owner (the writer component).
struct TTempStreamHooks {
  uint8_t* Cancel = nullptr;                   // the owner's cancel flag
  int64_t* BytesLeft = nullptr;                // the owner's count of bytes still to process
  std::function<void()> Progress;              // the owner's progress routine (after BytesLeft moved)
  std::function<void()> ReadProgress;          // progress of reads, when the owner wants it
  std::function<void()> ProcessMessages;       // once per copied chunk
  std::function<void(const std::string& archive, const std::string& tempFileName, bool& cancel)> MoveBegin;
  std::function<void()> MoveEnd;
  // An error of the commit: FileName, code (25160 "Disk full", 25136 "Error
  // writing to file", 25192 "File not found", 25235 "Error opening file").
  std::function<void(const std::string& fileName, int code)> Report;
};

// The target of a commit, taken when the temporary stream is made: its path
// (a symbolic link resolved, so that the link keeps pointing at the archive)
// and which file stood there. A commit replaces only that very file, or, when
// there was none, creates the target without replacing anything that
// appeared meanwhile.
struct TCommitTarget {
  std::string Path;
  bool Existed = false;
  uint64_t Dev = 0;
  uint64_t Ino = 0;
  uint32_t Mode = 0;  // st_mode of the old file
  void Capture(const std::string& path);
  bool StillSame() const;
};

inline constexpr uint16_t kTempModeNew = 0xFFFF;  // a new temporary archive
inline constexpr uint16_t kTempModeDiscard = 0;   // set by the driver: commit nothing

// A temporary archive in a file (or, with a mode below 0xFFFF, the old
// archive opened for reading). The file has no name while it is written (a
// hidden ".NAME.parcelix-tmp-..." one where the file system cannot do that),
// so a run that dies leaves nothing. Committing flushes it and moves it onto
// the target: a rename when both lie on one file system, else a copy into a
// new file beside the target that is then renamed over it; the folder is
// flushed after. The target is replaced only by a complete archive; every
// failure leaves it as it was and removes the temporary files.
class TTempFileStream : public TFileStream32 {
 public:
  TTempFileStream(const TTempStreamHooks& hooks, uint16_t mode, const std::string& archiveFile,
                  const std::string& tempDir);
  // Commits when Commit/Discard was not called, unless an exception is
  // unwinding the stack: a run that failed half-way never replaces the target.
  ~TTempFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  // As a handle stream copies; a full disk met on the way makes the
  // archive one that is never committed.
  int64_t CopyFrom(TStream32& source, int64_t count) override;

  // Moves the archive onto the target. True when the target now holds it.
  // False when it was discarded (cancel, mode 0, nothing to replace) or the
  // move failed; a failure is reported through the hooks.
  bool Commit();
  void Discard();  // closes and deletes the temporary file; the target is untouched

  uint16_t Mode() const { return mode_; }
  void SetMode(uint16_t mode) { mode_ = mode; }
  bool IsTemporary() const { return temporary_; }
  const std::string& TargetName() const { return target_.Path; }
  // A write into the archive failed (sticky): such an archive is never committed.
  bool WriteFailed() const { return writeFailed_; }
  int WriteErrno() const { return writeErrno_; }
  void NoteWriteFailure(int err);
  int64_t OldArchiveSize = 0;  // OnTmpFileMoveEnd is raised when it exceeds 64 KiB

 private:
  bool MoveTempFile();
  void CopiedStep(int64_t n) override;  // moves the progress on
  std::unique_ptr<TNewFile> file_;  // the temporary archive; handle_ is its descriptor
  TTempStreamHooks hooks_;
  TCommitTarget target_;
  uint16_t mode_;
  bool temporary_ = false;
  bool finished_ = false;
  bool writeFailed_ = false;
  int writeErrno_ = 0;
  int uncaught_ = 0;
};

// A temporary archive in memory; its commit writes the content to the target
// the same safe way (a new file beside the target, renamed over it).
class TTempMemStream : public TMemoryStream32 {
 public:
  TTempMemStream(const TTempStreamHooks& hooks, uint16_t mode, const std::string& archiveFile);
  ~TTempMemStream() override;
  bool Commit();
  void Discard();
  uint16_t Mode() const { return mode_; }
  void SetMode(uint16_t mode) { mode_ = mode; }
  bool IsTemporary() const { return temporary_; }
  const std::string& FileName() const { return name_; }
  const std::string& TargetName() const { return target_.Path; }

 private:
  TTempStreamHooks hooks_;
  TCommitTarget target_;
  std::string name_;
  uint16_t mode_;
  bool temporary_ = false;
  bool finished_ = false;
  int uncaught_ = 0;
};

// The folder of a new temporary archive: dir (created with its parents when
// missing), or the system temporary directory when dir is empty or cannot be made.
std::string TempArchiveFolder(const std::string& dir);

}  // namespace parcelix
