// The archive reader component: type detection, directory reading and the
// extraction of selected members to files, to memory, or to nowhere (test).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/common/FileSystem.h"
#include "engine/codec/Crc32.h"
#include "engine/codec/arxStreams.h"
#include "engine/common/arxBase.h"
#include "engine/read/ZipArchive.h"
#include "engine/read/ZipRecords.h"
#include "engine/read/arxMasks.h"

namespace parcelix {

enum TArcType : int {
  atNA = 0,
  atJar = 16,
  atJarExe = 17,
  atZip = 30,
  atZipExe = 31,
  atZipDS = 32,
  atZipMV = 33,
  atFileOpenErr = 100,
  atUnknown = 101,
};
const char* ArcTypeName(TArcType t);  // "atJar", "atZip", ...
// A ZIP archive of any kind (a JAR, with bytes in front, spanned): not a
// file that failed to open or is no archive at all.
inline bool IsZipFamily(TArcType t) {
  return t == atZip || t == atZipExe || t == atJar || t == atJarExe || t == atZipMV || t == atZipDS;
}

enum TOverwriteMode : uint8_t { omOverwrite, omSkip };
enum TDateAttribute : uint8_t { daFileDate, daSysDate, daMaxFileDate };

// A growable memory stream plus one index entry per member written into it.
class TDecompMemoryStream : public TMemoryStream32 {
 public:
  struct Entry {
    int64_t size = 0;      // uncompressed size from the header
    int64_t position = 0;  // where the member's bytes start
    std::string name;      // stored name as converted ('\' separators)
    // Bytes actually decoded into the stream for this member: after damaged
    // data or an unsupported method fewer than `size`. Read this, not size.
    int64_t written = 0;
  };
  void Clear();  // drops the index and empties the stream
  int Count() const { return int(index_.size()); }
  int64_t EntrySize(int i) const { return index_.at(size_t(i)).size; }
  int64_t EntryPosition(int i) const { return index_.at(size_t(i)).position; }
  const std::string& EntryName(int i) const { return index_.at(size_t(i)).name; }
  int64_t EntryWritten(int i) const { return index_.at(size_t(i)).written; }
  void AddEntry(Entry e) { index_.push_back(std::move(e)); }
  void SetEntryWritten(int i, int64_t written) { index_.at(size_t(i)).written = written; }

 private:
  std::vector<Entry> index_;
};

// What `list` shows of a member.
struct MemberInfo {
  std::string name;  // in UTF-8 by the code page rules, '/' separators (directories end in '/')
  uint16_t method = 0;
  uint64_t compressedSize = 0;  // all 64 bits, as recorded
  uint64_t uncompressedSize = 0;
  uint32_t crc32 = 0;
  uint16_t flags = 0;
  uint32_t dosDateTime = 0;
  int64_t localHeaderPosition = 0;
};

// Outcome of one member in a test run.
struct MemberResult {
  MemberInfo info;
  bool ok = false;
};

class TArchiveSource;

class TUnZip : public TZipCommon {
 public:
  TUnZip();
  ~TUnZip() override;

  // Setting the archive detects its type; a path that is no file clears it.
  void SetArchiveFile(const std::string& path);
  const std::string& ArchiveFile() const { return archiveFile_; }
  // The file ArchiveFile named when it was opened and examined (size -1 when
  // it could not be opened).
  const TFileIdentity& ArchiveIdentity() const { return detected_; }
  TArcType ArcType() const { return arcType_; }
  void SetArcType(TArcType);  // re-runs detection on the current archive

  // Selection.
  TStringList FileSpec;
  TStringList ExcludeSpec;
  bool RecurseDirs = true;

  // Extraction settings.
  void SetExtractDir(const std::string& dir);  // trailing '/' added; empty: the archive's directory
  const std::string& ExtractDir() const { return extractDir_; }
  bool UseStoredDirs = true;
  bool CreateStoredDirs = false;
  TOverwriteMode OverwriteMode = omOverwrite;
  bool ConfirmOverwrites = false;
  bool RestoreFileAttr = true;
  TDateAttribute DateAttribute = daFileDate;
  bool TranslateOemChar = true;
  int PasswordAttempts = 3;
  TStringList Passwords;
  // Largest member ExtractToMemoryStream accepts (0: no limit).
  int64_t MaxMemoryMemberSize = 16 * 1024 * 1024;

  // Runs. Each returns the number of members taken; errors go to the error
  // report (Errors(), OnError). Disk full and unwritable chunks throw E_RAISE.
  int Extract();
  int ExtractToMemoryStream(TDecompMemoryStream* stream);
  // Decodes every selected member into a sink that keeps nothing and checks
  // its CRC; results (when given) get one entry per member.
  int Test(std::vector<MemberResult>* results = nullptr);
  // Opens the archive and walks its directory with the current selection.
  // False when the archive cannot be opened.
  bool List(std::vector<MemberInfo>& members);

  // Events.
  std::function<void(TUnZip& sender, const std::string& fileName, int count, bool& extract)> OnBegin;
  std::function<void(TUnZip& sender, const std::string& fileName, bool crcPass)> OnEnd;
  std::function<void(TUnZip& sender, const std::string& fileName, std::string& newFileName)> OnRenameFile;
  std::function<void(TUnZip& sender, const std::string& fileName, std::string& newFileName,
                     TOverwriteMode& mode)> OnFileExists;
  std::function<void(TUnZip& sender, const std::string& fileName, std::string& password,
                     bool& tryAgain)> OnGetPassword;
  std::function<void(TUnZip& sender, const std::string& fileName)> OnExcludeFile;
  std::function<void(TUnZip& sender, THeaderTypeState state, bool& cancel)> OnCorruptZipHeader;

  // What the last open found (for tests and diagnostics).
  THeaderTypeState HeaderState() const { return where_.headerState; }
  int64_t CentralDirectoryStart() const { return centralStart_; }
  int32_t PrefixAdjustment() const { return where_.prefixAdjust; }
  // What is wrong with the archive, as far as the last run looked: the
  // directory, and the local headers of the members it selected.
  const std::vector<Finding>& Findings() const { return archive_.findings; }
  const ZipArchive& Archive() const { return archive_; }
  const ZipLayout& Layout() const { return archive_.layout; }

 private:
  struct Run;
  std::string archiveFile_;
  TArcType arcType_ = atNA;
  std::string extractDir_;
  int64_t centralStart_ = 0;
  friend struct Run;

  // Type detection over source_ (the ZIP family); fills the fields below.
  void DetectType();
  // The end-record search into where_; the central directory start, or 0
  // when none.
  int64_t FindCentralDirectory();
  // Reuses the descriptor detection opened when the path still names the
  // same unchanged file, else reopens (and re-detects when it changed). The
  // first run after setting ArchiveFile reads the file that was opened then,
  // without asking again: what detection found holds for that descriptor.
  bool OpenForRun();

  // The archive stays open from detection to the end of the next run, so
  // that setting ArchiveFile and reading a manifest open the file once.
  std::unique_ptr<TArchiveSource> source_;
  TFileIdentity detected_;
  // Member selection; its compiled masks outlive a run, so that reading the
  // manifests of a whole collection compiles "MANIFEST.MF" once.
  TMemberSelector selector_;
  bool justOpened_ = false;  // set by SetArchiveFile, taken by the next run
  int64_t archiveSize_ = 0;
  EndLocation where_;
  ZipArchive archive_;  // what the last run opened
};

// The JAR flavour; adds no behaviour of its own.
class TUnJar : public TUnZip {};

}  // namespace parcelix
