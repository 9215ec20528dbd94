// The archive writer components: the update driver (TCustomCClass), the ZIP
// writer (TZipBase) and its JAR flavour (TJar).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/codec/arxStreams.h"
#include "engine/common/arxBase.h"
#include "engine/read/arxMasks.h"
#include "engine/read/arxUnZip.h"
#include "engine/write/arxCompHeader.h"
#include "engine/write/arxFileScan.h"

namespace parcelix {

enum TSwitch : uint8_t { swAdd, swRefresh, swMove, swDelete, swRead };
enum TStoredDirNames : uint8_t {
  sdNone, sdAbsolute, sdAbsoluteNoDrv, sdAbsoluteNoRoot, sdRelative, sdRelativeStoreStart,
  sdExplorer_Auto, sdExplorer_UserDefineDefaultDir
};
enum TDeleteOptions : uint8_t { doFinal, doAllowUndo };
enum TCompressionMethod : uint8_t { cmTempFile, cmInMemory };
enum TCompressMethod : uint8_t { cmStore, cmDeflate };

class TTempFileStream;
class TPackAhead;
struct TPackedFile;

// The update driver: Compress builds or updates ArchiveFile through a
// temporary archive that replaces the target only when it is complete.
class TCustomCClass : public TZipCommon {
 public:
  TCustomCClass();
  ~TCustomCClass() override;

  // Returns the number of files written (swDelete: entries deleted); 0 when
  // nothing was done or the run was cancelled. The target is untouched
  // unless a complete archive was committed. A run that could not write or
  // commit the whole archive returns 0 with an error in Errors().
  int Compress();

  void SetArchiveFile(const std::string& path);  // DefaultExt appended when the name has none
  const std::string& ArchiveFile() const { return archiveFile_; }
  void SetTempDir(const std::string& dir);  // a missing directory is created
  std::string TempDir() const;              // the system temporary directory when unset
  void SetDefaultExt(const std::string& ext);
  const std::string& DefaultExt() const { return defaultExt_; }

  TStringList FileSpec;     // lines of a directory and a mask ("dir/*.*")
  TStringList ExcludeSpec;
  TarxFileAttributes Attributes = kDefaultScanAttributes;
  TarxFileAttributes AttributesEx = 0;
  bool RecurseDirs = true;
  bool IncludeHiddenDirs = false;
  TStoredDirNames StoredDirNames = sdRelative;
  TSwitch Switch = swAdd;
  TDeleteOptions DeleteOptions = doAllowUndo;
  bool VerifyBeforeDelete = false;
  TCompressionMethod CompressionMethod = cmTempFile;
  bool StoreEmptySubDirs = false;
  // Updating an existing archive: a listed file whose stored name is already
  // in the archive replaces that entry at its place, changed or not, without
  // asking OnReplaceFile (the manifest save relies on this).
  bool ReplaceInPlace = false;
  // Updating an existing archive: new entries go before the old ones.
  bool AddNewFirst = false;
  // Build a new archive even when ArchiveFile exists: the old file is not
  // read, and the commit replaces it (the create command).
  bool CreateNew = false;
  // Base directory of the sdExplorer_* stored-name modes.
  std::string DefaultDir;
  // Lower-case extensions (".bak") of files that are never listed.
  TStringList ExcludeExtensions;

  // Events.
  std::function<void(TCustomCClass& sender, const std::string& fileName, int count, bool& extract)> OnBegin;
  std::function<void(TCustomCClass& sender, const std::string& fileName, bool crcPass)> OnEnd;
  std::function<void(TCustomCClass& sender, const std::string& fileName, int count, int maxCount)> OnDeleteFile;
  std::function<void(TCustomCClass& sender, const std::string& fileName)> OnExcludeFile;
  std::function<void(TCustomCClass& sender, const std::string& fileName, int filesCount, int64_t filesSize)> OnFileScanStatus;
  std::function<void(TCustomCClass& sender, const std::string& dir)> OnRecurseDir;
  std::function<void(TCustomCClass& sender, const std::string& archiveFile, bool& writeToFile)> OnNonWriteableArchive;
  std::function<void(TCustomCClass& sender, const std::string& fileName, const std::string& newFileName,
                     uint32_t date, uint32_t newDate, int64_t fileSize, int64_t newFileSize, uint32_t attr,
                     uint32_t newAttr, bool& replace)> OnReplaceFile;
  std::function<void(TCustomCClass& sender, const std::string& fileName, std::string& newFileName, bool& rename)> OnRenameDupeFile;
  std::function<void(TCustomCClass& sender, const std::string& archive, const std::string& tempFileName, bool& cancel)> OnTmpFileMoveBegin;
  std::function<void(TCustomCClass& sender)> OnTmpFileMoveEnd;
  std::function<void(TCustomCClass& sender, const std::string& storedName)> OnRead;
  // Switches the read progress of the temporary streams on.
  std::function<void(TCustomCClass& sender, uint8_t byFile, uint8_t byArchive)> OnTmpFileProgress;

  // The stored name of a full path under a root, by StoredDirNames.
  std::string StoredName(const std::string& fullPath, const std::string& root) const;

 protected:
  // Operations the ZIP writer supplies, in slot order.
  virtual void RewriteOldEntry(TStream32& temp, TCompHeaderObj& list, int index) = 0;
  virtual void BuildCentralHeader(int index, uint32_t attributes, TCompHeaderObj& list) = 0;
  virtual void InitLocalHeader(const TEntryRecord& rec) = 0;
  virtual void CompressEntry(TStream32& temp, int index, bool& success, TCompHeaderObj& list) = 0;
  virtual void FinishLocalHeader(int64_t compressedSize, int64_t uncompressedSize) = 0;
  virtual void SetHeaderInfo(THeaderImage& image, const EntryInfo& info) = 0;
  virtual void WriteEmptyArchive(TStream32& temp) = 0;
  virtual bool CompressFile(TStream32& temp, int index, TCompHeaderObj& list) = 0;
  virtual void ReportEnd() = 0;
  virtual int CentralHeaderSize() const = 0;
  virtual int LocalHeaderSize() const = 0;
  virtual const uint8_t* LocalHeaderTemplate() const = 0;
  virtual void WriteWideExtra(TStream32& stream, TEntryRecord& rec) = 0;
  virtual bool ReadOldDirectory(TStream32& old, TCompHeaderObj& list) = 0;
  virtual void ReportAdded(TCompHeaderObj& list) = 0;
  virtual void FinishArchive(TStream32& temp, TCompHeaderObj& list) = 0;
  virtual void GetHeaderInfo(const THeaderImage& image, const TEntryRecord& rec, EntryInfo& info) const = 0;
  virtual int64_t OldEntryLength(TCompHeaderObj& list, int index) = 0;
  // Around the entry loop (the writer may start helpers for it).
  virtual void EntryLoopBegin(TCompHeaderObj& list) { (void)list; }
  virtual void EntryLoopEnd() {}

  // Run state shared with the writer.
  void Report(const std::string& fileName, int code, const std::string& extendedMsg = "") {
    ReportError(fileName, extendedMsg, volumeId_, code);
  }
  void DoProgress();               // OnProgress from the byte counters
  void FailRun() { runFailed_ = true; }
  bool RunFailed() const { return runFailed_; }
  TStream32* oldStream_ = nullptr;  // the old archive during an update
  int64_t oldArchiveSize_ = 0;
  // Old entries waiting to be copied in one piece: where they start in the
  // old archive and how many bytes; the new offsets already count them.
  int64_t pendingFrom_ = 0, pendingCopy_ = 0;
  int64_t copyBase_ = -1;  // end of the temporary archive before them; -1 not known
  TStream32* tempStream_ = nullptr;      // the temporary archive during a run
  TTempFileStream* tempFile_ = nullptr;  // the same, when it is a file
  uint64_t targetDev_ = 0, targetIno_ = 0;  // the archive being replaced, kept out of itself
  bool targetExists_ = false;
  std::string rootDir_;            // root of the current scan group
  uint32_t maxDate_ = 0;           // largest DOS date-time listed (daMaxFileDate)
  int64_t bytesTotal_ = 0, bytesLeft_ = 0;  // whole run
  int64_t fileTotal_ = 0, fileLeft_ = 0;    // current file
  int filesCompressed_ = 0;
  int entriesDeleted_ = 0;
  int deletesPending_ = 0;
  int currentEntry_ = 0;
  int listed_ = 0;
  std::string archiveFile_;
  std::string tempDir_;
  std::string defaultExt_;
  std::string classDefaultExt_ = ".zip";
  bool newArchive_ = true;

 private:
  struct Run;
  bool Prepare();
  int Update();
  void WriteArchive(Run& run);
  void ScanAndList(Run& run);
  bool HandleEntry(Run& run, const std::string& dir, const TSearchRec& rec);
  void Listing(Run& run, const std::string& fullPath, const std::string& stored, const TSearchRec& rec);
  void ListNew(Run& run, const std::string& fullPath, const std::string& stored, const TSearchRec& rec,
               const EntryInfo& info);
  bool RenameDupe(Run& run, int oldIndex);
  bool ExcludedBySpec(const std::string& dir, const std::string& name) const;
  void EntryLoop(Run& run);
  void DeleteMovedFiles(Run& run);
  void FlushCopy(Run& run);
  bool runFailed_ = false;
};

// The ZIP writer.
class TZipBase : public TCustomCClass {
 public:
  TZipBase();
  ~TZipBase() override;
  void SetCompressMethod(TCompressMethod m);  // only cmStore and cmDeflate
  TCompressMethod CompressMethod() const { return compressMethod_; }
  TDeflateType DeflateType = dtDeflateN;
  TStringList StoreFilesOfType;  // the 24 archive extensions by default
  TDateAttribute DateAttribute = daFileDate;
  bool TranslateOemChar = true;
  // Threads that pack files ahead of the writer on spare cores: -1 one per
  // core (at most 4), 0 none. The archive is byte for byte the same either
  // way. Not used while OnBegin is assigned (a handler there may still change
  // the file before it is read).
  int CompressWorkers = -1;

  // A stored name as written: '\' becomes '/'; flag bit 11 tells whether the
  // bytes are UTF-8 (set only for valid non-ASCII UTF-8).
  static std::string EncodeName(const std::string& storedName, uint16_t& utf8Flag);

 protected:
  void RewriteOldEntry(TStream32& temp, TCompHeaderObj& list, int index) override;
  void BuildCentralHeader(int index, uint32_t attributes, TCompHeaderObj& list) override;
  // The current stored name as written (encodedName_); reports an empty or
  // over-long one (kErrInvalidName) and returns false.
  bool EncodeCurrentName(const TCompHeaderItem& item);
  void InitLocalHeader(const TEntryRecord& rec) override;
  void CompressEntry(TStream32& temp, int index, bool& success, TCompHeaderObj& list) override;
  void FinishLocalHeader(int64_t compressedSize, int64_t uncompressedSize) override;
  void SetHeaderInfo(THeaderImage& image, const EntryInfo& info) override;
  void WriteEmptyArchive(TStream32& temp) override;
  bool CompressFile(TStream32& temp, int index, TCompHeaderObj& list) override;
  void ReportEnd() override;
  int CentralHeaderSize() const override { return int(kCentralHeaderSize); }
  int LocalHeaderSize() const override { return int(kLocalHeaderSize); }
  const uint8_t* LocalHeaderTemplate() const override { return localHeader_.data(); }
  void WriteWideExtra(TStream32& stream, TEntryRecord& rec) override;
  bool ReadOldDirectory(TStream32& old, TCompHeaderObj& list) override;
  void ReportAdded(TCompHeaderObj& list) override;
  void FinishArchive(TStream32& temp, TCompHeaderObj& list) override;
  void GetHeaderInfo(const THeaderImage& image, const TEntryRecord& rec, EntryInfo& info) const override;
  int64_t OldEntryLength(TCompHeaderObj& list, int index) override;
  void EntryLoopBegin(TCompHeaderObj& list) override;
  void EntryLoopEnd() override;

  TCompressMethod compressMethod_ = cmDeflate;

 private:
  bool CompressDirectory(TStream32& temp, int index, TCompHeaderObj& list);
  bool WritePacked(TStream32& temp, int index, TCompHeaderObj& list, TPackedFile& packed);
  bool IsArchiveItself(const TEntryRecord& rec) const;
  bool WriteFileData(TStream32& temp, TFileStream32& source, int64_t size, bool store);
  bool PumpSource(TFileStream32& source, TStream32& sink, int64_t size);
  bool SourceEndsAt(TFileStream32& source, int64_t size);
  bool StoredByType(const std::string& storedName) const;
  int64_t DataDescriptorLength(int64_t position, const TCompHeaderItem& item, bool zip64);
  void ReadArchiveComment(TStream32& old, TCompHeaderObj& list);
  bool ReadOld(int64_t position, void* buffer, int64_t count);

  std::array<uint8_t, kLocalHeaderSize> localHeader_{};
  std::string storedName_;     // stored name of the current entry
  std::string encodedName_;    // the current name as written
  uint16_t nameFlag_ = 0;      // flag bit 11 of the current name
  uint16_t methodUsed_ = 8;
  uint32_t crcValue32_ = CrcMask;  // the CRC register of the current entry
  EntryInfo info_;                 // size, date and attributes of the current entry
  bool wideExtra_ = false;
  std::vector<uint8_t> buffer_;  // source reads
  TEntryRecord* currentRecord_ = nullptr;
  std::unique_ptr<TPackAhead> packAhead_;
  std::vector<uint8_t> oldWindow_;  // a piece of the old archive, from oldWindowPos_
  int64_t oldWindowPos_ = 0;
};

class TZip : public TZipBase {};

// The JAR flavour: DefaultExt ".jar".
class TJar : public TZip {
 public:
  TJar();
};

}  // namespace parcelix
