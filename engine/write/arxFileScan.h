// The file scan of the archive writer: walks directory trees by masks and attributes.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "engine/read/arxMasks.h"

namespace parcelix {

// File attribute set of the scan and the writer (bit i = value i).
enum TarxFileAttribute : uint8_t {
  fsZeroAttr, fsReadOnly, fsHidden, fsSysFile, fsVolumeID, fsDirectory, fsArchive, fsCompressed, fsEncrypted
};
using TarxFileAttributes = uint16_t;
inline constexpr TarxFileAttributes FaBit(TarxFileAttribute a) { return TarxFileAttributes(1u << a); }
inline constexpr TarxFileAttributes kDefaultScanAttributes =
    FaBit(fsZeroAttr) | FaBit(fsReadOnly) | FaBit(fsArchive) | FaBit(fsCompressed) | FaBit(fsEncrypted);

// Bits of the attribute word of a directory entry (the DOS values archives carry).
inline constexpr uint32_t kFaReadOnly = 0x01;
inline constexpr uint32_t kFaHidden = 0x02;
inline constexpr uint32_t kFaSysFile = 0x04;
inline constexpr uint32_t kFaVolumeID = 0x08;
inline constexpr uint32_t kFaDirectory = 0x10;
inline constexpr uint32_t kFaArchive = 0x20;
inline constexpr uint32_t kFaNormal = 0x80;
inline constexpr uint32_t kFaCompressed = 0x800;
inline constexpr uint32_t kFaNotContentIndexed = 0x2000;
inline constexpr uint32_t kFaEncrypted = 0x4000;

// One directory entry as the scan found it (symbolic links already followed).
struct TSearchRec {
  std::string Name;      // the entry's own name, no directory
  uint32_t Attr = 0;     // attribute word: 0x20 file, 0x10 directory, 0x01 no write permission, 0x02 dot name
  int64_t Size = 0;      // 0 for a directory
  std::time_t Time = 0;  // last modification
  uint32_t Mode = 0;     // st_mode
  uint64_t Dev = 0;      // identity, to keep the archive being written out of itself
  uint64_t Ino = 0;
  bool IsDirectory() const { return (Attr & kFaDirectory) != 0; }
};

// Fills rec from the file at path (following a symbolic link). False for a
// path that does not exist or is neither a regular file nor a directory
// (FIFOs, sockets and devices are never archived: reading them could block).
bool StatSearchRec(const std::string& path, const std::string& name, TSearchRec& rec);

// True when no file lies anywhere below dir. Names beginning with '.' do not
// count (they are never archived); a subdirectory that is not a plain
// directory (attribute word other than 0x10, e.g. without write permission)
// counts as a file.
bool DirectoryHoldsNoFiles(const std::string& dir);

// The include/exclude attribute test of the scan.
bool AttributeIncludeTest(uint32_t attr, TarxFileAttributes set);
bool AttributeExcludeTest(uint32_t attr, TarxFileAttributes set);
inline bool AttributeTest(uint32_t attr, TarxFileAttributes include, TarxFileAttributes exclude) {
  return AttributeIncludeTest(attr, include) && !AttributeExcludeTest(attr, exclude);
}

// Path pieces of a scan spec: the directory (with its trailing '/', or
// empty) and the mask after it.
std::string ScanDirPart(const std::string& spec);
std::string ScanFilePart(const std::string& spec);

enum TfsScanOption : uint8_t { soScanDir, soScanDrvs };
enum TarxSortOptions : uint8_t { soUnsort, soByName, soByType, soBySize, soByTime, soByPath };

// What the default per-entry handler keeps of each accepted file.
struct TFileObject {
  std::string Name;
  std::string Directory;  // with a trailing '/'
  std::time_t Date = 0;
  uint32_t Attr = 0;
  int64_t Size = 0;
};

// The scan's built-in result list; kept in order of Sorted (insertion by
// binary search) or in the order the files were found.
class TFilesList {
 public:
  void Clear() { items_.clear(); }
  void Add(TFileObject obj);
  void SetSorted(TarxSortOptions s);  // re-sorts the list
  TarxSortOptions Sorted() const { return sorted_; }
  bool CaseSensitive = false;
  int Count() const { return int(items_.size()); }
  const TFileObject& operator[](int i) const { return items_.at(size_t(i)); }
  const std::vector<TFileObject>& Items() const { return items_; }

 private:
  bool Less(const TFileObject& a, const TFileObject& b) const;
  std::vector<TFileObject> items_;
  TarxSortOptions sorted_ = soUnsort;
};

class TarxFileScan {
 public:
  // Handler for each entry that passed the tests: Dir is the directory of a
  // file (ending in '/'), or the full path of a directory entry (ending in
  // '/'). A true result counts the file.
  using TFileHandler = std::function<bool(TarxFileScan& sender, const std::string& dir, const TSearchRec& rec)>;

  TarxFileScan();  // installs the default handler, which fills Files()

  void SetFileSpec(const TStringList& specs);  // copies the list; the scan consumes its copy
  const TStringList& FileSpec() const { return fileSpec_; }
  void SetRootDir(const std::string& dir);  // a '/' is appended when missing
  const std::string& RootDir() const { return rootDir_; }
  // Comma-separated masks for RootDir, used only while no FileSpec was assigned.
  void SetFileMask(const std::string& masks) { maskString_ = masks; }
  bool RecurseDirs = true;
  bool IncludeHiddenDirs = false;
  TarxFileAttributes Attributes = kDefaultScanAttributes;
  TarxFileAttributes AttributesEx = 0;
  TfsScanOption ScanOptions = soScanDir;  // soScanDrvs walks the file system root
  bool UpdateList = true;
  void SetSorted(TarxSortOptions s);
  TarxSortOptions Sorted() const { return files_.Sorted(); }

  std::function<void(TarxFileScan& sender, const std::string& fileName, int64_t totalSize, int count)> OnScanFile;
  std::function<void(TarxFileScan& sender, int count, int64_t totalSize)> OnFinished;
  std::function<void(TarxFileScan& sender, const std::string& dir)> OnRootDirChange;
  std::function<void(TarxFileScan& sender, const std::string& dir)> OnRecurseDir;
  std::function<void()> ProcessMessages;  // once per entry of a recursive walk
  TFileHandler FileHandler;

  // Walks the specs; returns when done or cancelled. OnFinished fires in every case.
  void Scan();
  void Cancel() { *cancel_ = 1; }
  // Points the cancel flag at the caller's byte (nullptr: the scan's own).
  void SetCancelFlag(uint8_t* flag) { cancel_ = flag ? flag : &ownCancel_; }
  bool Cancelled() const { return *cancel_ != 0; }

  int Count() const { return count_; }
  int64_t TotalSize() const { return totalSize_; }
  const TFilesList& Files() const { return files_; }

 private:
  struct DirId {
    uint64_t dev, ino;
  };
  void Walk(const std::string& dir, const std::vector<TInternalMask>& masks, std::vector<DirId>& ancestors);
  void WalkFlat();
  void EntryTest(const std::string& dir, const TSearchRec& rec, const std::vector<TInternalMask>* masks);
  void WalkGroup(const std::string& dir, const std::vector<TInternalMask>& masks);
  std::string DefaultDir() const;

  TStringList fileSpec_;
  bool fileSpecAssigned_ = false;
  std::string rootDir_;
  std::string maskString_ = "*";
  uint8_t ownCancel_ = 0;
  uint8_t* cancel_ = &ownCancel_;
  int count_ = 0;
  int64_t totalSize_ = 0;
  TFilesList files_;
};

}  // namespace parcelix
