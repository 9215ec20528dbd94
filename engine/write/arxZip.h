// The archive writer components: the update driver (TCustomCClass), the ZIP
// writer (TZipBase) and its JAR flavour (TJar).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/codec/arxStreams.h"
#include "engine/common/arxBase.h"
#include "engine/read/arxMasks.h"
#include "engine/read/arxUnZip.h"

namespace parcelix {

// File attribute set of the scan and the writer (bit i = value i).
enum TarxFileAttribute : uint8_t {
  fsZeroAttr, fsReadOnly, fsHidden, fsSysFile, fsVolumeID, fsDirectory, fsArchive, fsCompressed, fsEncrypted
};
using TarxFileAttributes = uint16_t;
inline constexpr TarxFileAttributes FaBit(TarxFileAttribute a) { return TarxFileAttributes(1u << a); }
inline constexpr TarxFileAttributes kDefaultScanAttributes =
    FaBit(fsZeroAttr) | FaBit(fsReadOnly) | FaBit(fsArchive) | FaBit(fsCompressed) | FaBit(fsEncrypted);

enum TSwitch : uint8_t { swAdd, swRefresh, swMove, swDelete, swRead };
enum TStoredDirNames : uint8_t {
  sdNone, sdAbsolute, sdAbsoluteNoDrv, sdAbsoluteNoRoot, sdRelative, sdRelativeStoreStart,
  sdExplorer_Auto, sdExplorer_UserDefineDefaultDir
};
enum TDeleteOptions : uint8_t { doFinal, doAllowUndo };
enum TCompressionMethod : uint8_t { cmTempFile, cmInMemory };
enum TCompressMethod : uint8_t { cmStore, cmDeflate };

// The update driver: Compress builds or updates ArchiveFile through a
// temporary archive that replaces the target only when it is complete.
class TCustomCClass : public TZipCommon {
 public:
  TCustomCClass();
  ~TCustomCClass() override;

  // Returns the number of files written (swDelete: entries deleted); 0 when
  // nothing was done or the run was cancelled. The target is untouched
  // unless a complete archive was committed.
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

 protected:
  std::string archiveFile_;
  std::string tempDir_;
  std::string defaultExt_;
  bool newArchive_ = true;
};

// The ZIP writer.
class TZipBase : public TCustomCClass {
 public:
  TZipBase();
  void SetCompressMethod(TCompressMethod m);  // only cmStore and cmDeflate
  TCompressMethod CompressMethod() const { return compressMethod_; }
  TDeflateType DeflateType = dtDeflateN;
  TStringList StoreFilesOfType;  // the 24 archive extensions by default
  TDateAttribute DateAttribute = daFileDate;
  bool TranslateOemChar = true;

 protected:
  TCompressMethod compressMethod_ = cmDeflate;
};

class TZip : public TZipBase {};

// The JAR flavour: DefaultExt ".jar".
class TJar : public TZip {
 public:
  TJar();
};

}  // namespace parcelix
