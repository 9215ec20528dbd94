// An update of an archive as a list of steps: copy an old entry's bytes
// unchanged, replace an entry by bytes in memory or by a file, add a file,
// drop an entry. The steps are written into one temporary archive, followed
// by the central directory and the end record; the caller commits it once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/codec/arxStreams.h"
#include "engine/read/ZipArchive.h"
#include "engine/read/ZipRecords.h"

namespace parcelix {

class TArchiveSource;
class THandleStream32;

// An archive opened for an update: the file opened once, its directory and
// local headers read by the reader's open call, and the file held open for
// copying. Each entry's bytes run from its local header to the end of its
// data descriptor (ZipEntry::localHeaderPos .. descriptorEnd).
class TOldArchive {
 public:
  TOldArchive();
  ~TOldArchive();
  TOldArchive(const TOldArchive&) = delete;
  TOldArchive& operator=(const TOldArchive&) = delete;

  // Opens path and reads its directory and every local header. False with a
  // problem text when it cannot be opened or when what is wrong with it
  // means that the directory may not have been read whole.
  bool Open(const std::string& path);
  // Opens path to save what can be saved from it: whatever is wrong with the
  // archive as a whole, the entries come from its directory or, when that is
  // missing or read only in part, from the walk of its local headers
  // (whichever finds more). False only when no entry is found at all.
  bool OpenForSalvage(const std::string& path);
  const std::string& Problem() const { return problem_; }
  bool Opened() const { return file_ != nullptr; }  // the file could be opened

  const ZipArchive& Zip() const { return zip_; }
  const std::vector<ZipEntry>& Entries() const { return zip_.entries; }
  // Why entry i cannot be copied exactly, in plain words; empty when it can.
  const std::string& Uncopyable(int i) const { return uncopyable_.at(size_t(i)); }
  // Entry i's local header lacks its name (and agrees with the central
  // record on everything else): it is copied with the name put back.
  bool LocalNameMissing(int i) const { return nameless_.at(size_t(i)); }
  // The first entry that cannot be copied exactly, or -1.
  int FirstUncopyable() const;
  const std::vector<uint8_t>& Comment() const { return comment_; }
  int64_t PrefixLength() const { return prefix_; }  // bytes before the first entry (a self-extracting stub)
  int64_t Size() const;
  uint64_t Device() const;
  uint64_t Inode() const;
  // True when path still names the very file that was opened, unchanged.
  bool StillNames(const std::string& path) const;
  THandleStream32& File() { return *file_; }
  TArchiveSource& Source() { return *source_; }

 private:
  bool OpenSource(const std::string& path);
  bool WalkLocalHeaders();
  int64_t NextLocalSignature(int64_t from) const;
  void Judge();
  void JudgeEntries();
  void CheckOverlaps();
  bool InsideAnotherComment() const;
  bool ReadComment();

  std::unique_ptr<TArchiveSource> source_;
  std::unique_ptr<THandleStream32> file_;  // the same open file, for kernel copies
  ZipArchive zip_;
  std::vector<std::string> uncopyable_;
  std::vector<bool> nameless_;
  std::vector<uint8_t> comment_;
  std::string problem_;
  int64_t prefix_ = 0;
};

// One entry of the new archive.
struct TPlanStep {
  enum class Kind : uint8_t {
    Copy,    // the old entry's bytes, unchanged
    Rename,  // the old entry's data under another name
    Bytes,   // new data from memory (deflated unless that makes it larger)
    File,    // new data from a file, written by the caller's file writer
    Drop,    // the old entry is left out
    // The old entry's data as they are under a local header made from its
    // central record: no data descriptor (its flag cleared), zip64 fields
    // only where a size or offset needs them. The caller has checked that
    // the data decode to the recorded CRC.
    Restamp,
  };
  Kind kind = Kind::Copy;
  int old = -1;      // the old entry of Copy, Rename and Drop
  int item = -1;     // the caller's index of a File step
  std::string name;  // Rename and Bytes: the stored name, '/' between directories
  std::vector<uint8_t> data;  // Bytes
  uint32_t dosDateTime = 0;   // Bytes
  uint32_t externalAttributes = 0;
  uint16_t versionMadeBy = 0;
};

// What the central directory records of one written entry.
struct TNewEntry {
  CentralHeader header;
  std::vector<uint8_t> name, extra, comment;
  int64_t localOffset = 0;  // full width
  int64_t compressedSize = 0, uncompressedSize = 0;
};

// The stored name as written: '\' becomes '/'; flag bit 11 is set only for
// valid non-ASCII UTF-8 (bytes in a legacy encoding go unchanged, no flag).
std::string EncodeStoredName(const std::string& storedName, uint16_t& utf8Flag);

// The local header and extra field of a new entry. Sizes and offsets that do
// not fit 32 bits go into a zip64 extra block (local: both sizes; central:
// what overflows), as every reader expects.
struct TLocalImage {
  LocalHeader header;
  std::vector<uint8_t> extra;
};
TLocalImage MakeLocalImage(const TNewEntry& e);
// Fills e's central header from its local facts (call after the sizes are known).
void FinishCentral(TNewEntry& e, uint16_t versionMadeBy, uint32_t externalAttributes);
// The central record of an old entry at newOffset as a clean writer makes
// it: the descriptor flag cleared, its extra field without zip64 blocks (and
// without a block that runs past the field), zip64 only for what overflows.
TNewEntry NormalCentral(const ZipEntry& old, int64_t newOffset);
// The blocks of an extra field that are whole and not zip64, in order.
std::vector<uint8_t> ExtraWithoutZip64(std::span<const uint8_t> extra);

// Writes the steps into out, then the central directory and the end record.
class TPlanWriter {
 public:
  TPlanWriter(TStream32& out, TOldArchive* old) : out_(out), old_(old) {}

  TDeflateType Level = dtDeflateN;
  // The bytes in front of the first entry (a self-extracting stub) are kept.
  bool KeepPrefix = true;
  std::vector<uint8_t> Comment;  // the archive comment
  uint8_t* Cancel = nullptr;
  // Writes a File step at the end of out and fills the entry; false drops it.
  std::function<bool(const TPlanStep& step, TNewEntry& entry)> WriteFile;
  // After each step: the step and whether it is in the new archive.
  std::function<void(const TPlanStep& step, bool kept)> OnStep;
  std::function<void(const std::string& name, int code, const std::string& text)> Report;

  // False when the archive could not be written whole (reported).
  bool Run(const std::vector<TPlanStep>& steps);
  int Written() const { return int(entries_.size()); }

 private:
  bool Step(const TPlanStep& step);
  bool CopyOld(int old);
  bool RenameOld(const TPlanStep& step);
  bool WriteOldAs(int old, std::span<const uint8_t> name, uint16_t utf8Flag);
  bool RestampOld(int old);
  bool WriteBytes(const TPlanStep& step);
  bool FlushCopy();
  TNewEntry OldCentral(int old, int64_t newOffset) const;
  bool WriteDirectory();
  bool Fail(const std::string& name, int code, const std::string& text = "");

  TStream32& out_;
  TOldArchive* old_;
  std::vector<TNewEntry> entries_;
  int64_t copyFrom_ = 0, copyLength_ = 0;  // old entries waiting to be copied in one piece
  int64_t end_ = -1;                       // end of out, counting the waiting copy
};

}  // namespace parcelix
