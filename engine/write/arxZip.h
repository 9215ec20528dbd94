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
#include "engine/write/UpdatePlan.h"
#include "engine/write/arxTempStreams.h"

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

  // Opens an archive for an update: its directory and local headers, and
  // the file held open for copying. Null, with the error reported, when it
  // cannot be opened or has no directory that can be updated.
  std::unique_ptr<TOldArchive> OpenOldArchive(const std::string& path);
  // Writes a plan over old (the archive of ArchiveFile) into a temporary
  // archive and commits it once. Refuses, reporting which entry and why,
  // when a step would copy an entry whose bytes cannot be copied exactly.
  // Returns the number of entries written; 0 (errors in Errors()) when the
  // archive was left as it was.
  int UpdateByPlan(TOldArchive& old, const std::vector<TPlanStep>& steps);

 protected:
  // Writes a new entry from its file (or an empty directory) at the end of
  // out and fills entry; false drops it (the caller cuts off what it wrote).
  virtual bool WriteFileEntry(TStream32& out, int index, TCompHeaderItem& item, TNewEntry& entry) = 0;
  // Around the entry loop (the writer may start helpers for it).
  virtual void EntryLoopBegin(TCompHeaderObj& list) { (void)list; }
  virtual void EntryLoopEnd() {}

  void Report(const std::string& fileName, int code, const std::string& extendedMsg = "") {
    ReportError(fileName, extendedMsg, volumeId_, code);
  }
  void DoProgress();               // OnProgress from the byte counters
  // The archive being replaced and the temporary archive, never written into themselves.
  bool IsArchiveItself(const TEntryRecord& rec) const;
  bool IsTemporaryArchive(const std::string& path) const;
  uint32_t maxDate_ = 0;           // largest DOS date-time listed (daMaxFileDate)
  int64_t bytesTotal_ = 0, bytesLeft_ = 0;  // whole run
  int64_t fileTotal_ = 0, fileLeft_ = 0;    // current file
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
  bool CheckWritable();
  bool OpenTemporary(Run& run);
  void WriteAndCommit(Run& run);
  TTempStreamHooks Hooks();
  bool ReadOldDirectory(Run& run);
  void ScanAndList(Run& run);
  bool HandleEntry(Run& run, const std::string& dir, const TSearchRec& rec);
  void Listing(Run& run, const std::string& fullPath, const std::string& stored, const TSearchRec& rec);
  void TakeOldPlace(Run& run, int found, const std::string& fullPath, const std::string& stored,
                    const TSearchRec& rec, const EntryInfo& info);
  void ListNew(Run& run, const std::string& fullPath, const std::string& stored, const TSearchRec& rec,
               const EntryInfo& info);
  bool RenameDupe(Run& run, int oldIndex);
  bool ExcludedBySpec(const std::string& root, const std::string& dir, const std::string& name) const;
  std::vector<TPlanStep> PlanOf(const TCompHeaderObj& list) const;
  void EntryLoop(Run& run);
  void StepDone(Run& run, const TPlanStep& step, bool kept, int maxCount);
  bool RefuseUncopyable(const TOldArchive& old, const std::vector<TPlanStep>& steps);
  void DeleteMovedFiles(Run& run);
  void ReportAdded(const TCompHeaderObj& list);
  Run* run_ = nullptr;  // the run in progress, for the writer's checks
  int filesCompressed_ = 0;
  int entriesDeleted_ = 0;
  int deletesPending_ = 0;
  int currentEntry_ = 0;
  int listed_ = 0;
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


 protected:
  bool WriteFileEntry(TStream32& out, int index, TCompHeaderItem& item, TNewEntry& entry) override;
  void EntryLoopBegin(TCompHeaderObj& list) override;
  void EntryLoopEnd() override;

  TCompressMethod compressMethod_ = cmDeflate;

 private:
  // What the data of one file came to.
  struct TDataResult {
    uint16_t method = 0;
    uint32_t crc = 0;
  };
  bool NameEntry(const TCompHeaderItem& item, TNewEntry& e);
  void DateEntry(const TCompHeaderItem& item, TNewEntry& e) const;
  void FinishEntry(const TCompHeaderItem& item, TNewEntry& e, const TDataResult& data) const;
  bool WriteFromFile(TStream32& out, TCompHeaderItem& item, TNewEntry& e);
  bool WriteDirectory(TStream32& out, TCompHeaderItem& item, TNewEntry& e);
  bool WritePacked(TStream32& out, TCompHeaderItem& item, TNewEntry& e, TPackedFile& packed);
  bool WriteFileData(TStream32& out, TFileStream32& source, int64_t size, bool store, TDataResult& r);
  bool WriteSmallFile(TStream32& out, TFileStream32& source, int64_t size, bool store, TDataResult& r);
  bool PumpSource(TFileStream32& source, TStream32& sink, int64_t size);
  bool SourceEndsAt(TFileStream32& source, int64_t size);
  bool StoredByType(const std::string& storedName) const;
  bool Stores(const std::string& storedName) const { return DeflateLevel() == dtDeflateS || StoredByType(storedName); }
  TDeflateType DeflateLevel() const { return compressMethod_ == cmStore ? dtDeflateS : DeflateType; }

  std::vector<uint8_t> buffer_;  // source reads
  std::unique_ptr<TPackAhead> packAhead_;
};

class TZip : public TZipBase {};

// The JAR flavour: DefaultExt ".jar".
class TJar : public TZip {
 public:
  TJar();
};

}  // namespace parcelix
