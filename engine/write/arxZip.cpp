// The archive update driver (TCustomCClass): Compress, its checks, the scan and listing, the entry loop, the commit.
#include "engine/write/arxZip.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "engine/common/FileSystem.h"
#include "engine/common/arxGbls.h"
#include "engine/read/Err_Msgs.h"
#include "engine/write/arxTempStreams.h"

namespace parcelix {

namespace {

// Archived attribute bits that take part in comparisons and headers.
constexpr uint32_t kAttrMask = 0x40BF;

std::string DirOrDot(const std::string& path) {
  const std::string d = ExtractFilePath(path);
  return d.empty() ? std::string("./") : d;
}

// The nearest directory that exists on the way up from dir.
std::string ExistingAncestor(std::string dir) {
  while (!dir.empty() && !DirectoryExists(dir)) {
    while (!dir.empty() && dir.back() == '/') dir.pop_back();
    dir = ExtractFilePath(dir);
  }
  return dir.empty() ? std::string(".") : dir;
}

}  // namespace

struct TCustomCClass::Run {
  TCompHeaderObj list;
  TStringList moved;
  std::unique_ptr<TTempFileStream> tempFile;
  std::unique_ptr<TTempMemStream> tempMem;
  TStream32* temp = nullptr;
  std::unique_ptr<TTempFileStream> old;
  bool newArchive = true;
  bool committed = false;

  void Discard() {
    if (tempFile) tempFile->Discard();
    if (tempMem) tempMem->Discard();
  }
};

// ---------------------------------------------------------------------------
// Properties

TCustomCClass::TCustomCClass() : tempDir_(SystemTempDir()), defaultExt_(".zip") {}
TCustomCClass::~TCustomCClass() = default;

void TCustomCClass::SetArchiveFile(const std::string& path) {
  archiveFile_ = path;
  if (!archiveFile_.empty() && ExtractFileExt(archiveFile_).empty() && archiveFile_.back() != '/')
    archiveFile_ += defaultExt_;
  // Taken now: a caller that wants a fresh archive deletes the old one
  // before it assigns the name.
  struct stat st {};
  newArchive_ = archiveFile_.empty() || ::stat(archiveFile_.c_str(), &st) != 0;
  cancel_ = 0;
}

void TCustomCClass::SetTempDir(const std::string& dir) {
  if (dir.empty()) {
    tempDir_ = SystemTempDir();
    return;
  }
  tempDir_ = IncludeTrailingSlash(dir);
  // There is no window to ask in: a missing directory is made, and when it
  // cannot be made the system temporary directory serves instead.
  if (!DirectoryExists(tempDir_) && !ForceDirectories(tempDir_)) tempDir_ = SystemTempDir();
}

std::string TCustomCClass::TempDir() const { return DirectoryExists(tempDir_) ? tempDir_ : SystemTempDir(); }

void TCustomCClass::SetDefaultExt(const std::string& ext) {
  const std::string previous = defaultExt_;
  std::string v = (ext.empty() || ext == ".") ? classDefaultExt_ : ext;
  if (v.find('.') == std::string::npos) v = "." + v;
  if (v.size() > 4) v.resize(4);
  defaultExt_ = ToLowerAscii(v);
  if (!archiveFile_.empty()) {
    const std::string current = ExtractFileExt(archiveFile_);
    if (current.empty()) archiveFile_ += defaultExt_;
    else if (SameTextAscii(current, previous)) archiveFile_ = ChangeFileExt(archiveFile_, defaultExt_);
  }
}

std::string TCustomCClass::StoredName(const std::string& fullPath, const std::string& root) const {
  auto noDrive = [](std::string p) {
    // A network path (//server/share/...) loses its server and share.
    if (p.size() > 2 && p[0] == '/' && p[1] == '/') {
      size_t s = p.find('/', 2);
      s = s == std::string::npos ? p.size() : p.find('/', s + 1);
      p = s == std::string::npos ? std::string("/") : p.substr(s);
    }
    return p;
  };
  auto relative = [](const std::string& p, const std::string& r) {
    if (!r.empty() && p.size() >= r.size() && SameTextAscii(p.substr(0, r.size()), r)) return p.substr(r.size());
    return p;
  };
  const bool isDir = !fullPath.empty() && fullPath.back() == '/';
  switch (StoredDirNames) {
    case sdNone: {
      std::string p = fullPath;
      if (isDir) p.pop_back();
      return ExtractFileName(p) + (isDir ? "/" : "");
    }
    case sdAbsolute: return fullPath;
    case sdAbsoluteNoDrv: return noDrive(fullPath);
    case sdAbsoluteNoRoot: {
      std::string p = noDrive(fullPath);
      size_t k = 0;
      while (k < p.size() && p[k] == '/') ++k;
      return p.substr(k);
    }
    case sdRelative: return relative(fullPath, root);
    case sdRelativeStoreStart: {
      std::string r = root;
      if (!r.empty() && r.back() == '/') r.pop_back();
      return relative(fullPath, ExtractFilePath(r));
    }
    case sdExplorer_Auto:
    case sdExplorer_UserDefineDefaultDir:
      return relative(fullPath, DefaultDir.empty() ? DefaultDir : IncludeTrailingSlash(DefaultDir));
  }
  return fullPath;
}

void TCustomCClass::DoProgress() {
  if (!OnProgress) return;
  auto pct = [](int64_t total, int64_t left) -> uint8_t {
    if (total <= 0) return 100;
    const int64_t done = std::clamp<int64_t>(total - left, 0, total);
    return uint8_t(done * 100 / total);
  };
  OnProgress(*this, pct(fileTotal_, fileLeft_), pct(bytesTotal_, bytesLeft_));
}

// ---------------------------------------------------------------------------
// Compress

int TCustomCClass::Compress() {
  ClearErrors();
  if (!Prepare()) return 0;
  return Update();
}

bool TCustomCClass::Prepare() {
  filesCompressed_ = entriesDeleted_ = deletesPending_ = currentEntry_ = listed_ = 0;
  runFailed_ = false;
  maxDate_ = 0;
  bytesTotal_ = bytesLeft_ = fileTotal_ = fileLeft_ = 0;
  oldArchiveSize_ = 0;
  volumeId_ = archiveFile_;
  cancel_ = 0;

  // The file system that will hold the archive must be reachable and writable.
  const std::string probe = ExistingAncestor(DirOrDot(archiveFile_));
  struct statvfs vfs {};
  if (::statvfs(probe.c_str(), &vfs) != 0) {
    Report(probe, kErrNotAccessible);
    return false;
  }
  if (vfs.f_flag & ST_RDONLY) {
    Report(probe, kErrWriteProtected);
    return false;
  }

  if (!FileSpec.empty() && Switch != swDelete) {
    if (StoredDirNames == sdExplorer_Auto) {
      // The longest directory that every spec lies in.
      std::string common = ScanDirPart(FileSpec[0]);
      for (const auto& spec : FileSpec) {
        const std::string d = ScanDirPart(spec);
        size_t n = 0;
        while (n < common.size() && n < d.size() && common[n] == d[n]) ++n;
        common.resize(n);
      }
      DefaultDir = ExtractFilePath(common);
    } else if (StoredDirNames == sdExplorer_UserDefineDefaultDir && DefaultDir.empty()) {
      Report(archiveFile_, kErrPropNotAssigned, "DefaultDir");
      return false;
    }
  }
  return true;
}

int TCustomCClass::Update() {
  const std::string dir = ExtractFilePath(archiveFile_);
  if (!DirectoryExists(dir.empty() ? std::string(".") : dir)) {
    Report(archiveFile_, kErrInvalidDir, dir);
    return 0;
  }
  if (archiveFile_.empty()) {
    Report("", kErrPropNotAssigned, "ArchiveFile");
    return 0;
  }
  if (!cancel_) {
    Run run;
    WriteArchive(run);
    struct stat st {};
    if (::stat(archiveFile_.c_str(), &st) == 0) newArchive_ = false;
    // Sources are deleted only once the archive that holds them is in place.
    if (Switch == swMove && run.committed) DeleteMovedFiles(run);
  }
  if (cancel_ || runFailed_) return 0;
  return Switch == swDelete ? entriesDeleted_ : filesCompressed_;
}

void TCustomCClass::WriteArchive(Run& run) {
  if (Switch == swRead) return;
  run.newArchive = newArchive_ || CreateNew;
  if (run.newArchive && (Switch == swDelete || Switch == swRefresh)) {
    Report(archiveFile_, kErrNothingToDo2);
    return;
  }
  struct stat st {};
  targetExists_ = ::stat(archiveFile_.c_str(), &st) == 0;
  targetDev_ = targetExists_ ? uint64_t(st.st_dev) : 0;
  targetIno_ = targetExists_ ? uint64_t(st.st_ino) : 0;
  if (!run.newArchive && (!targetExists_ || !S_ISREG(st.st_mode))) {
    Report(archiveFile_, kErrOpenFile);  // the archive to update is gone
    return;
  }
  if (targetExists_ && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
    if (!OnNonWriteableArchive) {
      Report(archiveFile_, kErrEventNotAssigned, "OnNonWriteableArchive");
      return;
    }
    bool writeToFile = false;
    OnNonWriteableArchive(*this, archiveFile_, writeToFile);
    if (!writeToFile) return;
    ::chmod(archiveFile_.c_str(), st.st_mode | S_IWUSR);
  }

  const auto started = std::chrono::steady_clock::now();
  if (OnActivate) OnActivate(*this);

  TTempStreamHooks hooks;
  hooks.Cancel = &cancel_;
  hooks.BytesLeft = &bytesLeft_;
  hooks.Progress = [this] { DoProgress(); };
  if (OnTmpFileProgress)
    hooks.ReadProgress = [this] {
      const uint8_t all = bytesTotal_ > 0 ? uint8_t(std::clamp<int64_t>((bytesTotal_ - bytesLeft_) * 100 / bytesTotal_, 0, 100)) : 100;
      OnTmpFileProgress(*this, all, all);
    };
  hooks.ProcessMessages = [this] { PumpMessages(); };
  if (OnTmpFileMoveBegin)
    hooks.MoveBegin = [this](const std::string& a, const std::string& t, bool& c) { OnTmpFileMoveBegin(*this, a, t, c); };
  if (OnTmpFileMoveEnd) hooks.MoveEnd = [this] { OnTmpFileMoveEnd(*this); };
  hooks.Report = [this](const std::string& f, int code) { Report(f, code); };

  if (CompressionMethod == cmTempFile) {
    run.tempFile = std::make_unique<TTempFileStream>(hooks, kTempModeNew, archiveFile_, TempDir());
    if (!run.tempFile->IsOpen()) {
      Report(TempDir(), kErrOpenFile);
      runFailed_ = true;
      run.Discard();
      return;
    }
    run.temp = run.tempFile.get();
    tempFile_ = run.tempFile.get();
    tempStream_ = run.temp;
  } else {
    run.tempMem = std::make_unique<TTempMemStream>(hooks, kTempModeNew, archiveFile_);
    run.temp = run.tempMem.get();
    tempFile_ = nullptr;
    tempStream_ = run.temp;
  }

  try {
    if (!run.newArchive) {
      run.old = std::make_unique<TTempFileStream>(hooks, uint16_t(fmOpenRead | fmShareDenyWrite), archiveFile_, "");
      struct stat ost {};
      if (!run.old->IsOpen() || ::fstat(run.old->Handle(), &ost) != 0 || uint64_t(ost.st_ino) != targetIno_ ||
          uint64_t(ost.st_dev) != targetDev_) {
        Report(archiveFile_, kErrOpenFile);
        runFailed_ = true;
      } else {
        oldStream_ = run.old.get();
        oldArchiveSize_ = run.old->GetSize();
        if (Switch == swDelete) ExcludeSpec.clear();
        if (!ReadOldDirectory(*run.old, run.list)) runFailed_ = true;
      }
      if (!runFailed_) {
        // A self-extracting stub (any bytes before the first entry) stays in front.
        int64_t first = -1;
        for (int i = 0; i < run.list.Count(); ++i)
          if (first < 0 || run.list[i].Record.HeaderOffset < first) first = run.list[i].Record.HeaderOffset;
        if (first > 0) {
          run.old->SetPosition(0);
          if (run.temp->CopyFrom(*run.old, first) != first) runFailed_ = true;
        }
      }
    }
    if (!runFailed_) ScanAndList(run);
    if (run.list.Count() == 0) oldArchiveSize_ = 0;
    if (run.tempFile) run.tempFile->OldArchiveSize = oldArchiveSize_;
    if (run.tempFile && run.tempFile->WriteFailed()) runFailed_ = true;

    if (!runFailed_ && !cancel_ && (filesCompressed_ > 0 || entriesDeleted_ > 0)) {
      bool anyLeft = false;
      for (int i = 0; i < run.list.Count(); ++i) anyLeft |= run.list[i].Record.State != esDrop;
      run.temp->Seek(0, soFromEnd);
      if (Switch == swDelete && !anyLeft) WriteEmptyArchive(*run.temp);
      else FinishArchive(*run.temp, run.list);
      run.old.reset();
      oldStream_ = nullptr;
      if (run.tempFile && run.tempFile->WriteFailed()) runFailed_ = true;
      if (!runFailed_ && !cancel_) {
        run.committed = run.tempFile ? run.tempFile->Commit() : run.tempMem->Commit();
        if (!run.committed && !cancel_) runFailed_ = true;
      }
      if (run.committed) ReportAdded(run.list);
    }
  } catch (const std::exception& e) {
    int code = kErrWriteFile;
    if (run.tempFile && run.tempFile->WriteFailed()) {
      const int err = run.tempFile->WriteErrno();
      code = (err == ENOSPC || err == EDQUOT || err == EFBIG) ? kErrDiskFull : kErrWriteFile;
    } else if (std::string(e.what()) == "Stream read error") {
      code = kErrReadFile;
    }
    Report(archiveFile_, code, e.what());
    runFailed_ = true;
  }
  if (!run.committed) run.Discard();
  run.old.reset();
  oldStream_ = nullptr;
  tempFile_ = nullptr;
  tempStream_ = nullptr;

  if (OnDeactivate) OnDeactivate(*this);
  if (OnElapsedTime)
    OnElapsedTime(*this, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

// ---------------------------------------------------------------------------
// Scan and list

void TCustomCClass::ScanAndList(Run& run) {
  if (Switch != swDelete) {
    TarxFileScan scan;
    scan.SetFileSpec(FileSpec);
    scan.Attributes = Attributes | (StoreEmptySubDirs ? FaBit(fsDirectory) : 0);
    scan.AttributesEx = AttributesEx;
    scan.RecurseDirs = RecurseDirs;
    scan.IncludeHiddenDirs = IncludeHiddenDirs;
    scan.FileHandler = [this, &run](TarxFileScan&, const std::string& dir, const TSearchRec& rec) {
      return HandleEntry(run, dir, rec);
    };
    scan.OnRootDirChange = [this](TarxFileScan&, const std::string& dir) { rootDir_ = dir; };
    if (OnFileScanStatus)
      scan.OnScanFile = [this](TarxFileScan&, const std::string& f, int64_t total, int count) {
        OnFileScanStatus(*this, f, count, total);
      };
    if (OnRecurseDir) scan.OnRecurseDir = [this](TarxFileScan&, const std::string& d) { OnRecurseDir(*this, d); };
    scan.ProcessMessages = [this] { PumpMessages(); };
    scan.SetCancelFlag(&cancel_);
    scan.Scan();
    bytesTotal_ += scan.TotalSize();
  }
  for (int i = 0; i < run.list.Count(); ++i)
    if (run.list[i].Record.State == esCopy || run.list[i].Record.State == esRewrite)
      bytesTotal_ += run.list[i].Record.OldCompressedSize;
  bytesLeft_ = bytesTotal_;
  if (AddNewFirst && !run.newArchive) run.list.MoveNewFirst();

  if (!cancel_ && (Switch == swDelete || listed_ > 0)) {
    EntryLoop(run);
    return;
  }
  if (listed_ == 0 && !cancel_) Report(archiveFile_, kErrNothingToDo);
}

bool TCustomCClass::HandleEntry(Run& run, const std::string& dir, const TSearchRec& rec) {
  if (rec.IsDirectory() && !(StoreEmptySubDirs && DirectoryHoldsNoFiles(dir))) return false;
  if (!rec.IsDirectory() && !ExcludeExtensions.empty()) {
    const std::string ext = ToLowerAscii(ExtractFileExt(rec.Name));
    if (std::find(ExcludeExtensions.begin(), ExcludeExtensions.end(), ext) != ExcludeExtensions.end()) {
      if (OnExcludeFile) OnExcludeFile(*this, dir + rec.Name);
      return false;
    }
  }
  const std::string fullPath = rec.IsDirectory() ? dir : dir + rec.Name;
  const std::string stored = StoredName(fullPath, rootDir_);
  if (!rec.IsDirectory() && ExcludedBySpec(dir, rec.Name)) return true;
  Listing(run, fullPath, stored, rec);
  return true;
}

bool TCustomCClass::ExcludedBySpec(const std::string& dir, const std::string& name) const {
  for (const auto& line : ExcludeSpec) {
    if (line.empty()) continue;
    std::string mask = ScanFilePart(line);
    if (mask.empty() || mask == "*.*") mask = "*";  // as the scan reads masks
    std::string ldir = ScanDirPart(line);
    if (ldir.empty()) {
      if (TInternalMask(mask).Matches(name)) return true;
      continue;
    }
    // A relative directory counts from the root of the scan group, as the
    // stored names do.
    if (ldir[0] != '/') ldir = rootDir_ + ldir;
    if (dir.compare(0, ldir.size(), ldir) == 0 && TInternalMask(mask).Matches(name)) return true;
  }
  return false;
}

void TCustomCClass::Listing(Run& run, const std::string& fullPath, const std::string& stored, const TSearchRec& rec) {
  EntryInfo info;
  info.Size = info.CompressedSize = rec.Size;
  info.Date = UnixToDosDateTime(rec.Time);
  info.Attr = rec.Attr;
  if (!rec.IsDirectory() && int32_t(info.Date) > int32_t(maxDate_)) maxDate_ = info.Date;

  const int found = run.list.IndexOf(stored);
  if (found < 0) {
    if (Switch == swRefresh) return;
    ListNew(run, fullPath, stored, rec, info);
    return;
  }
  TCompHeaderItem& old = run.list[found];
  // An old entry already replaced by a file of this run.
  if (old.Record.State == esDrop && old.Record.MarkedForDeletion) return;
  // The same name reached twice in this run (two specs, or two trees with
  // the same relative path): the first one wins, so the archive never holds
  // two entries of one name.
  if (old.Record.IsNew) return;
  // The listed file takes the archived entry's place in the list.
  auto takeOldPlace = [&] {
    old.Name = fullPath;
    old.RootLength = int(rootDir_.size());
    old.Record = TEntryRecord{};
    old.Record.State = esAdd;
    old.Record.IsNew = true;
    old.Record.IsDirectory = rec.IsDirectory();
    old.Record.UnixMode = rec.Mode;
    old.Record.Dev = rec.Dev;
    old.Record.Ino = rec.Ino;
    old.Record.SizeHigh = uint16_t(uint64_t(rec.Size) >> 32);
    old.Header.fill(0);
    SetHeaderInfo(old.Header, info);
    run.list.Rename(found, stored);
    ++listed_;
  };
  if (ReplaceInPlace && (old.Record.State == esCopy || old.Record.State == esRewrite)) {
    old.StoredName = stored;
    takeOldPlace();
    return;
  }
  EntryInfo archived;
  GetHeaderInfo(old.Header, old.Record, archived);
  const bool unchanged = archived.Size == info.Size && archived.Date == info.Date &&
                         (archived.Attr & kAttrMask) == (info.Attr & kAttrMask);
  if (Switch == swMove) run.moved.push_back(fullPath);
  if (Switch == swRefresh) {
    // An unchanged file keeps its archived copy; a newer one replaces it in place.
    if (!unchanged && info.Date > archived.Date) takeOldPlace();
    return;
  }
  if (!unchanged) {
    if (OnReplaceFile) {
      bool replace = false;
      OnReplaceFile(*this, old.StoredName, fullPath, archived.Date, info.Date, archived.Size, info.Size,
                    archived.Attr, info.Attr, replace);
      if (replace) {
        old.Record.State = esDrop;
        old.Record.MarkedForDeletion = true;
        ++deletesPending_;
        ListNew(run, fullPath, stored, rec, info);
        return;
      }
    } else {
      Report(fullPath, kErrEventNotAssigned, "OnReplaceFile");
    }
  }
  if (RenameDupe(run, found)) ListNew(run, fullPath, stored, rec, info);
}

bool TCustomCClass::RenameDupe(Run& run, int oldIndex) {
  if (!OnRenameDupeFile) return false;
  for (;;) {
    std::string newName = run.list[oldIndex].StoredName;
    bool rename = false;
    OnRenameDupeFile(*this, run.list[oldIndex].StoredName, newName, rename);
    if (!rename) return false;
    if (run.list.IndexOf(newName) < 0) {
      run.list[oldIndex].Record.State = esRewrite;
      run.list.Rename(oldIndex, newName);
      ++listed_;
      return true;
    }
  }
}

void TCustomCClass::ListNew(Run& run, const std::string& fullPath, const std::string& stored, const TSearchRec& rec,
                            const EntryInfo& info) {
  TCompHeaderItem item;
  item.Name = fullPath;
  item.StoredName = stored;
  item.RootLength = int(rootDir_.size());
  item.Record.State = esAdd;
  item.Record.IsNew = true;
  item.Record.Appended = true;
  item.Record.IsDirectory = rec.IsDirectory();
  item.Record.UnixMode = rec.Mode;
  item.Record.Dev = rec.Dev;
  item.Record.Ino = rec.Ino;
  item.Record.SizeHigh = uint16_t(uint64_t(rec.Size) >> 32);
  std::copy_n(LocalHeaderTemplate(), LocalHeaderSize(), item.Header.begin());
  SetHeaderInfo(item.Header, info);
  run.list.Add(std::move(item));
  ++listed_;
}

// ---------------------------------------------------------------------------
// Entry loop

void TCustomCClass::EntryLoop(Run& run) {
  const int maxCount = deletesPending_;
  deletesPending_ = 0;
  TStream32& temp = *run.temp;
  struct LoopScope {
    TCustomCClass& self;
    ~LoopScope() { self.EntryLoopEnd(); }
  } scope{*this};
  EntryLoopBegin(run.list);
  pendingCopy_ = 0;
  copyBase_ = -1;
  for (int i = 0; i < run.list.Count() && !cancel_ && !runFailed_; ++i) {
    currentEntry_ = i + 1;
    TCompHeaderItem& item = run.list[i];
    switch (item.Record.State) {
      case esAdd: {
        FlushCopy(run);
        if (item.Record.IsDirectory && !StoreEmptySubDirs) {
          item.Record.State = esDrop;
          break;
        }
        const int64_t start = temp.Seek(0, soFromEnd);
        bool success = false;
        CompressEntry(temp, i, success, run.list);
        if (run.tempFile && run.tempFile->WriteFailed()) {
          runFailed_ = true;
          break;
        }
        if (success) {
          ++filesCompressed_;
          item.Record.Written = true;
          if (Switch == swMove && !item.Record.IsDirectory) run.moved.push_back(item.Name);
          break;
        }
        // A failed entry leaves nothing behind: its partial data is cut off.
        temp.SetSize(start);
        temp.Seek(0, soFromEnd);
        item.Record.State = esDrop;
        if (cancel_) {
          --currentEntry_;
          for (int j = i; j < run.list.Count(); ++j) run.list[j].Record.State = esDrop;
        }
        break;
      }
      case esCopy: {
        const int64_t length = OldEntryLength(run.list, i);
        if (length <= 0) {
          runFailed_ = true;
          break;
        }
        // Old entries that lie back to back are copied in one piece.
        if (pendingCopy_ > 0 && pendingFrom_ + pendingCopy_ == item.Record.HeaderOffset) {
          pendingCopy_ += length;
        } else {
          FlushCopy(run);
          pendingFrom_ = item.Record.HeaderOffset;
          pendingCopy_ = length;
        }
        break;
      }
      case esDrop:
        if (item.Record.MarkedForDeletion) {
          ++entriesDeleted_;
          if (OnDeleteFile) OnDeleteFile(*this, item.StoredName, entriesDeleted_, maxCount);
        }
        break;
      case esRewrite:
        FlushCopy(run);
        RewriteOldEntry(temp, run.list, i);
        break;
    }
  }
  FlushCopy(run);
}

void TCustomCClass::FlushCopy(Run& run) {
  // Whatever comes next may write to the temporary archive: its end must be
  // looked up again.
  if (pendingCopy_ <= 0 || cancel_ || runFailed_) {
    copyBase_ = -1;
    return;
  }
  const int64_t length = pendingCopy_;
  pendingCopy_ = 0;
  copyBase_ = -1;
  run.old->SetPosition(pendingFrom_);
  run.temp->Seek(0, soFromEnd);
  if (run.temp->CopyFrom(*run.old, length) != length && !cancel_) {
    Report(archiveFile_, kErrReadFile);
    runFailed_ = true;
  }
}

void TCustomCClass::DeleteMovedFiles(Run& run) {
  const int total = int(run.moved.size());
  int k = 0;
  for (const auto& path : run.moved) {
    if (cancel_) break;
    ++k;
    if (VerifyBeforeDelete) {
      // Only a file whose entry made it into the archive.
      bool inArchive = false;
      for (int i = 0; i < run.list.Count() && !inArchive; ++i)
        inArchive = run.list[i].Name == path && run.list[i].Record.State != esDrop;
      if (!inArchive) continue;
    }
    const bool gone = DeleteOptions == doFinal ? ::unlink(path.c_str()) == 0 : MoveToTrash(path);
    if (gone && OnDeleteFile) OnDeleteFile(*this, path, k, total);
  }
}

}  // namespace parcelix
