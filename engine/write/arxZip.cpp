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
#include <utility>

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

// One update run: the entry list, the temporary archive and the old one.
struct TCustomCClass::Run {
  TCompHeaderObj list;
  std::string rootDir;  // root of the current scan group
  TStringList moved;
  std::unique_ptr<TTempFileStream> tempFile;
  std::unique_ptr<TTempMemStream> tempMem;
  TStream32* temp = nullptr;
  std::unique_ptr<TOldArchive> old;
  bool newArchive = true;
  bool committed = false;
  // The archive being replaced, kept out of itself.
  bool targetExists = false;
  uint64_t targetDev = 0, targetIno = 0;

  void Discard() {
    if (tempFile) tempFile->Discard();
    if (tempMem) tempMem->Discard();
  }
  bool WriteFailed() const { return tempFile && tempFile->WriteFailed(); }
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
  run.targetExists = ::stat(archiveFile_.c_str(), &st) == 0;
  run.targetDev = run.targetExists ? uint64_t(st.st_dev) : 0;
  run.targetIno = run.targetExists ? uint64_t(st.st_ino) : 0;
  if (!run.newArchive && (!run.targetExists || !S_ISREG(st.st_mode))) {
    Report(archiveFile_, kErrOpenFile);  // the archive to update is gone
    return;
  }
  if (!CheckWritable()) return;

  const auto started = std::chrono::steady_clock::now();
  if (OnActivate) OnActivate(*this);
  run_ = &run;
  if (OpenTemporary(run)) WriteAndCommit(run);
  if (!run.committed) run.Discard();
  run.old.reset();
  run_ = nullptr;
  if (OnDeactivate) OnDeactivate(*this);
  if (OnElapsedTime)
    OnElapsedTime(*this, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

// An existing read-only archive is written only when OnNonWriteableArchive allows it.
bool TCustomCClass::CheckWritable() {
  struct stat st {};
  if (::stat(archiveFile_.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) != 0) return true;
  if (!OnNonWriteableArchive) {
    Report(archiveFile_, kErrEventNotAssigned, "OnNonWriteableArchive");
    return false;
  }
  bool writeToFile = false;
  OnNonWriteableArchive(*this, archiveFile_, writeToFile);
  if (writeToFile) ::chmod(archiveFile_.c_str(), st.st_mode | S_IWUSR);
  return writeToFile;
}

TTempStreamHooks TCustomCClass::Hooks() {
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
  return hooks;
}

bool TCustomCClass::OpenTemporary(Run& run) {
  if (CompressionMethod == cmTempFile) {
    run.tempFile = std::make_unique<TTempFileStream>(Hooks(), kTempModeNew, archiveFile_, TempDir());
    if (!run.tempFile->IsOpen()) {
      Report(TempDir(), kErrOpenFile);
      runFailed_ = true;
      return false;
    }
    run.temp = run.tempFile.get();
  } else {
    run.tempMem = std::make_unique<TTempMemStream>(Hooks(), kTempModeNew, archiveFile_);
    run.temp = run.tempMem.get();
  }
  return true;
}

std::unique_ptr<TOldArchive> TCustomCClass::OpenOldArchive(const std::string& path) {
  auto old = std::make_unique<TOldArchive>();
  if (old->Open(path)) return old;
  Report(path, old->Opened() ? kErrBadArcType : kErrOpenFile, old->Problem());
  return nullptr;
}

// Writes the entries, the directory and the end record, then commits.
void TCustomCClass::WriteAndCommit(Run& run) {
  try {
    if (!run.newArchive && !ReadOldDirectory(run)) runFailed_ = true;
    if (!runFailed_) ScanAndList(run);
    if (run.tempFile) run.tempFile->OldArchiveSize = run.list.Count() == 0 || !run.old ? 0 : run.old->Size();
    if (run.WriteFailed()) runFailed_ = true;
    if (runFailed_ || cancel_ || (filesCompressed_ == 0 && entriesDeleted_ == 0)) return;
    run.old.reset();
    run.committed = run.tempFile ? run.tempFile->Commit() : run.tempMem->Commit();
    if (!run.committed && !cancel_) runFailed_ = true;
    if (run.committed) ReportAdded(run.list);
  } catch (const std::exception& e) {
    int code = kErrWriteFile;
    if (run.WriteFailed()) {
      const int err = run.tempFile->WriteErrno();
      code = (err == ENOSPC || err == EDQUOT || err == EFBIG) ? kErrDiskFull : kErrWriteFile;
    } else if (dynamic_cast<const EStreamError*>(&e) && std::string(e.what()) == "Stream read error") {
      code = kErrReadFile;
    }
    Report(archiveFile_, code, e.what());
    runFailed_ = true;
  }
}

bool TCustomCClass::ReadOldDirectory(Run& run) {
  run.old = OpenOldArchive(archiveFile_);
  if (!run.old) return false;
  if (run.old->Inode() != run.targetIno || run.old->Device() != run.targetDev) {
    Report(archiveFile_, kErrOpenFile);
    return false;
  }
  if (Switch == swDelete) ExcludeSpec.clear();
  const auto& entries = run.old->Entries();
  run.list.Reserve(entries.size() + 16);
  TStringList specs = FileSpec;
  TStringList noExcludes;
  TMemberSelector selector;
  selector.FileSpec = &specs;
  selector.ExcludeSpec = &noExcludes;
  selector.RecurseDirs = RecurseDirs;
  for (size_t i = 0; i < entries.size(); ++i) {
    const ZipEntry& e = entries[i];
    TCompHeaderItem item;
    // Names are matched and listed with '\\' between directories.
    item.StoredName = e.name;
    std::replace(item.StoredName.begin(), item.StoredName.end(), '/', '\\');
    item.Name = item.StoredName;
    TEntryRecord& rec = item.Record;
    rec.State = esCopy;
    rec.OldIndex = int(i);
    rec.OldCompressedSize = int64_t(e.compressedSize);
    rec.IsDirectory = e.IsDirectory() || (!e.name.empty() && e.name.back() == '\\');
    item.Info = EntryInfo{int64_t(e.uncompressedSize), int64_t(e.compressedSize), e.central.dosDateTime,
                          e.central.externalAttributes & kAttrMask};
    if (Switch == swDelete && selector.Select(item.StoredName)) {
      rec.State = esDrop;
      rec.MarkedForDeletion = true;
      ++deletesPending_;
    }
    run.list.Add(std::move(item));
  }
  return true;
}

bool TCustomCClass::IsArchiveItself(const TEntryRecord& rec) const {
  if (!run_) return false;
  if (run_->tempFile) {
    struct stat st {};
    if (::fstat(run_->tempFile->Handle(), &st) == 0 && uint64_t(st.st_dev) == rec.Dev && uint64_t(st.st_ino) == rec.Ino)
      return true;
  }
  return run_->targetExists && rec.Dev == run_->targetDev && rec.Ino == run_->targetIno;
}

bool TCustomCClass::IsTemporaryArchive(const std::string& path) const {
  return run_ && run_->tempFile && path == run_->tempFile->FileName();
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
    scan.OnRootDirChange = [&run](TarxFileScan&, const std::string& dir) { run.rootDir = dir; };
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
  const std::string stored = StoredName(fullPath, run.rootDir);
  if (!rec.IsDirectory() && ExcludedBySpec(run.rootDir, dir, rec.Name)) return true;
  Listing(run, fullPath, stored, rec);
  return true;
}

bool TCustomCClass::ExcludedBySpec(const std::string& root, const std::string& dir, const std::string& name) const {
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
    if (ldir[0] != '/') ldir = root + ldir;
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
  if (ReplaceInPlace && (old.Record.State == esCopy || old.Record.State == esRewrite)) {
    old.StoredName = stored;
    TakeOldPlace(run, found, fullPath, stored, rec, info);
    return;
  }
  const EntryInfo archived = old.Info;
  const bool unchanged = archived.Size == info.Size && archived.Date == info.Date &&
                         (archived.Attr & kAttrMask) == (info.Attr & kAttrMask);
  if (Switch == swMove) run.moved.push_back(fullPath);
  if (Switch == swRefresh) {
    // An unchanged file keeps its archived copy; a newer one replaces it in place.
    if (!unchanged && info.Date > archived.Date) TakeOldPlace(run, found, fullPath, stored, rec, info);
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

namespace {

// The record of a file listed from disk in this run.
TEntryRecord NewRecord(const TSearchRec& rec) {
  TEntryRecord r;
  r.IsNew = true;
  r.IsDirectory = rec.IsDirectory();
  r.UnixMode = rec.Mode;
  r.Dev = rec.Dev;
  r.Ino = rec.Ino;
  return r;
}

}  // namespace

// The listed file takes the archived entry's place in the list.
void TCustomCClass::TakeOldPlace(Run& run, int found, const std::string& fullPath, const std::string& stored,
                                 const TSearchRec& rec, const EntryInfo& info) {
  TCompHeaderItem& old = run.list[found];
  old.Name = fullPath;
  old.RootLength = int(run.rootDir.size());
  old.Record = NewRecord(rec);
  old.Info = info;
  run.list.Rename(found, stored);
  ++listed_;
}

void TCustomCClass::ListNew(Run& run, const std::string& fullPath, const std::string& stored, const TSearchRec& rec,
                            const EntryInfo& info) {
  TCompHeaderItem item;
  item.Name = fullPath;
  item.StoredName = stored;
  item.RootLength = int(run.rootDir.size());
  item.Record = NewRecord(rec);
  item.Record.Appended = true;
  item.Info = info;
  run.list.Add(std::move(item));
  ++listed_;
}

// ---------------------------------------------------------------------------
// Entry loop

// The entry list as a plan: new files, old entries copied, renamed or dropped.
std::vector<TPlanStep> TCustomCClass::PlanOf(const TCompHeaderObj& list) const {
  std::vector<TPlanStep> steps(size_t(list.Count()));
  for (int i = 0; i < list.Count(); ++i) {
    const TEntryRecord& rec = list[i].Record;
    TPlanStep& step = steps[size_t(i)];
    step.item = i;
    step.old = rec.OldIndex;
    switch (rec.State) {
      case esAdd: step.kind = TPlanStep::Kind::File; break;
      case esCopy: step.kind = TPlanStep::Kind::Copy; break;
      case esDrop: step.kind = TPlanStep::Kind::Drop; break;
      case esRewrite:
        step.kind = TPlanStep::Kind::Rename;
        step.name = list[i].StoredName;
        break;
    }
  }
  return steps;
}

bool TCustomCClass::RefuseUncopyable(const TOldArchive& old, const std::vector<TPlanStep>& steps) {
  for (const TPlanStep& step : steps) {
    if (step.kind != TPlanStep::Kind::Copy && step.kind != TPlanStep::Kind::Rename) continue;
    const std::string& why = old.Uncopyable(step.old);
    if (why.empty()) continue;
    Report(old.Entries().at(size_t(step.old)).name, kErrBadBlock, "cannot be copied exactly: " + why);
    return true;
  }
  return false;
}

void TCustomCClass::EntryLoop(Run& run) {
  const int maxCount = std::exchange(deletesPending_, 0);
  const std::vector<TPlanStep> steps = PlanOf(run.list);
  if (run.old && RefuseUncopyable(*run.old, steps)) {
    runFailed_ = true;
    return;
  }
  struct LoopScope {
    TCustomCClass& self;
    ~LoopScope() { self.EntryLoopEnd(); }
  } scope{*this};
  EntryLoopBegin(run.list);
  TPlanWriter writer(*run.temp, run.old.get());
  if (run.old) writer.Comment = run.old->Comment();
  writer.Cancel = &cancel_;
  writer.WriteFile = [&](const TPlanStep& step, TNewEntry& entry) {
    currentEntry_ = step.item + 1;
    TCompHeaderItem& item = run.list[step.item];
    if (item.Record.IsDirectory && !StoreEmptySubDirs) return false;
    return WriteFileEntry(*run.temp, step.item, item, entry) && !run.WriteFailed();
  };
  writer.OnStep = [&](const TPlanStep& step, bool kept) { StepDone(run, step, kept, maxCount); };
  writer.Report = [this](const std::string& name, int code, const std::string& text) {
    Report(name.empty() ? archiveFile_ : name, code, text);
  };
  if (!writer.Run(steps) && !cancel_) runFailed_ = true;
  if (run.WriteFailed()) runFailed_ = true;
}

void TCustomCClass::StepDone(Run& run, const TPlanStep& step, bool kept, int maxCount) {
  TCompHeaderItem& item = run.list[step.item];
  if (step.kind == TPlanStep::Kind::Drop && item.Record.MarkedForDeletion) {
    ++entriesDeleted_;
    if (OnDeleteFile) OnDeleteFile(*this, item.StoredName, entriesDeleted_, maxCount);
  }
  if (step.kind != TPlanStep::Kind::File) return;
  if (!kept) {
    item.Record.State = esDrop;
    return;
  }
  ++filesCompressed_;
  item.Record.Written = true;
  if (Switch == swMove && !item.Record.IsDirectory) run.moved.push_back(item.Name);
}

int TCustomCClass::UpdateByPlan(TOldArchive& old, const std::vector<TPlanStep>& steps) {
  ClearErrors();
  volumeId_ = archiveFile_;
  cancel_ = 0;
  if (RefuseUncopyable(old, steps)) return 0;
  if (!CheckWritable()) return 0;
  Run run;
  if (!OpenTemporary(run)) return 0;
  TPlanWriter writer(*run.temp, &old);
  writer.Comment = old.Comment();
  writer.Cancel = &cancel_;
  writer.Level = dtDeflateN;
  writer.Report = [this](const std::string& name, int code, const std::string& text) {
    Report(name.empty() ? archiveFile_ : name, code, text);
  };
  bool ok = false;
  try {
    ok = writer.Run(steps) && !run.WriteFailed();
  } catch (const std::exception& e) {
    Report(archiveFile_, run.WriteFailed() ? kErrWriteFile : kErrReadFile, e.what());
  }
  if (ok && !cancel_) {
    if (run.tempFile) run.tempFile->OldArchiveSize = old.Size();
    run.committed = run.tempFile ? run.tempFile->Commit() : run.tempMem->Commit();
  }
  if (!run.committed) {
    run.Discard();
    return 0;
  }
  return writer.Written();
}

void TCustomCClass::ReportAdded(const TCompHeaderObj& list) {
  if (!OnRead) return;
  for (int i = 0; i < list.Count(); ++i)
    if (list[i].Record.Written) OnRead(*this, list[i].StoredName);
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
