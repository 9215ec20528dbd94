// The file scan of the archive writer: grouping of specs, recursive and flat walks, attribute tests.
#include "engine/write/arxFileScan.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string_view>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/common/arxGbls.h"

namespace parcelix {

namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  return s.substr(b, e - b);
}

// A mask as a group keeps it: an empty mask and "*.*" select every name,
// including names without an extension.
std::string NormalizeMask(const std::string& m) { return (m.empty() || m == "*.*") ? "*" : m; }

std::vector<TInternalMask> CompileMasks(const TStringList& masks) {
  std::vector<TInternalMask> out;
  out.reserve(masks.size());
  for (const auto& m : masks) out.emplace_back(NormalizeMask(m));
  return out;
}

bool MatchesAny(const std::vector<TInternalMask>& masks, const std::string& name) {
  for (const auto& m : masks)
    if (m.Matches(name)) return true;
  return false;
}

// The names of one directory in the order the file system gives them. The
// directory is read whole and closed before anything is walked, so a deep
// tree never holds more than one directory handle open.
bool ListDirectory(const std::string& dir, std::vector<std::string>& names) {
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.empty() ? "." : dir.c_str()), ::closedir);
  if (!d) return false;
  while (dirent* e = ::readdir(d.get())) names.emplace_back(e->d_name);
  return true;
}

std::string CurrentDir() {
  std::string buf(4096, '\0');
  if (::getcwd(buf.data(), buf.size()) == nullptr) return "./";
  buf.resize(std::char_traits<char>::length(buf.c_str()));
  return IncludeTrailingSlash(buf);
}

}  // namespace

// ---------------------------------------------------------------------------
// Entries and attributes

bool StatSearchRec(const std::string& path, const std::string& name, TSearchRec& rec) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  rec = TSearchRec{};
  rec.Name = name;
  if (S_ISDIR(st.st_mode)) {
    rec.Attr = kFaDirectory;
  } else if (S_ISREG(st.st_mode)) {
    rec.Attr = kFaArchive;
    rec.Size = st.st_size;
  } else {
    return false;
  }
  if ((st.st_mode & S_IWUSR) == 0) rec.Attr |= kFaReadOnly;
  if (!name.empty() && name[0] == '.') rec.Attr |= kFaHidden;
  rec.Time = st.st_mtime;
  rec.Mode = st.st_mode;
  rec.Dev = st.st_dev;
  rec.Ino = st.st_ino;
  return true;
}

namespace {

// Rows 2 to 10 of the attribute test, shared by the include and exclude sets.
bool AttributeRows(uint32_t attr, TarxFileAttributes set) {
  auto has = [set](TarxFileAttribute a) { return (set & FaBit(a)) != 0; };
  return (has(fsEncrypted) && (attr & kFaEncrypted)) || (has(fsArchive) && (attr & kFaArchive)) ||
         (has(fsZeroAttr) && (attr == 0 || attr == kFaNormal)) ||
         (has(fsDirectory) && (attr & kFaDirectory)) || (has(fsReadOnly) && (attr & kFaReadOnly)) ||
         (has(fsHidden) && (attr & kFaHidden)) || (has(fsSysFile) && (attr & kFaSysFile)) ||
         (has(fsCompressed) && (attr & kFaCompressed));
}

}  // namespace

bool AttributeIncludeTest(uint32_t attr, TarxFileAttributes set) {
  // Row 1: the not-content-indexed bit passes whatever the set holds.
  return (attr & kFaNotContentIndexed) != 0 || AttributeRows(attr, set);
}

bool AttributeExcludeTest(uint32_t attr, TarxFileAttributes set) { return AttributeRows(attr, set); }

std::string ScanDirPart(const std::string& spec) {
  const size_t p = spec.rfind('/');
  return p == std::string::npos ? std::string() : spec.substr(0, p + 1);
}

std::string ScanFilePart(const std::string& spec) {
  const size_t p = spec.rfind('/');
  return p == std::string::npos ? spec : spec.substr(p + 1);
}

bool DirectoryHoldsNoFiles(const std::string& dir) {
  // Each directory is looked into once, so symbolic links that lead back
  // into the tree cannot make the walk endless.
  std::vector<std::pair<uint64_t, uint64_t>> seen;
  std::vector<std::string> pending{IncludeTrailingSlash(dir)};
  while (!pending.empty()) {
    const std::string d = pending.back();
    pending.pop_back();
    std::vector<std::string> names;
    if (!ListDirectory(d, names)) return false;
    for (const auto& name : names) {
      if (name.empty() || name[0] == '.') continue;
      TSearchRec rec;
      if (!StatSearchRec(d + name, name, rec)) continue;
      if (rec.Attr != kFaDirectory) return false;
      const std::pair<uint64_t, uint64_t> id{rec.Dev, rec.Ino};
      if (std::find(seen.begin(), seen.end(), id) != seen.end()) continue;
      seen.push_back(id);
      pending.push_back(d + name + "/");
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// TFilesList

bool TFilesList::Less(const TFileObject& a, const TFileObject& b) const {
  auto cmp = [this](const std::string& x, const std::string& y) {
    return CaseSensitive ? x.compare(y) : ToLowerAscii(x).compare(ToLowerAscii(y));
  };
  switch (sorted_) {
    case soByName: return cmp(a.Name, b.Name) < 0;
    case soByType: return cmp(ExtractFileExt(a.Name), ExtractFileExt(b.Name)) < 0;
    case soBySize: return a.Size < b.Size;
    case soByTime: return a.Date < b.Date;
    case soByPath: return cmp(a.Directory, b.Directory) < 0;
    case soUnsort: break;
  }
  return false;
}

void TFilesList::Add(TFileObject obj) {
  if (sorted_ == soUnsort) {
    items_.push_back(std::move(obj));
    return;
  }
  auto at = std::upper_bound(items_.begin(), items_.end(), obj,
                             [this](const TFileObject& a, const TFileObject& b) { return Less(a, b); });
  items_.insert(at, std::move(obj));
}

void TFilesList::SetSorted(TarxSortOptions s) {
  sorted_ = s;
  if (s != soUnsort)
    std::stable_sort(items_.begin(), items_.end(),
                     [this](const TFileObject& a, const TFileObject& b) { return Less(a, b); });
}

// ---------------------------------------------------------------------------
// TarxFileScan

TarxFileScan::TarxFileScan() {
  FileHandler = [](TarxFileScan& self, const std::string& dir, const TSearchRec& rec) {
    self.files_.Add(TFileObject{rec.Name, dir, rec.Time, rec.Attr, rec.Size});
    return true;
  };
}

void TarxFileScan::SetFileSpec(const TStringList& specs) {
  fileSpec_ = specs;
  fileSpecAssigned_ = true;
  maskString_.clear();
}

void TarxFileScan::SetRootDir(const std::string& dir) { rootDir_ = dir.empty() ? dir : IncludeTrailingSlash(dir); }

void TarxFileScan::SetSorted(TarxSortOptions s) {
  files_.SetSorted(s);
  if (files_.Count() > 0 && OnFinished) OnFinished(*this, count_, totalSize_);
}

std::string TarxFileScan::DefaultDir() const { return rootDir_.empty() ? CurrentDir() : rootDir_; }

void TarxFileScan::Scan() {
  files_.Clear();
  count_ = 0;
  totalSize_ = 0;
  *cancel_ = 0;

  if (!RecurseDirs) {
    WalkFlat();
  } else if (!fileSpecAssigned_ && !maskString_.empty()) {
    if (!rootDir_.empty() && DirectoryExists(rootDir_)) {
      TStringList masks;
      size_t start = 0;
      while (start <= maskString_.size()) {
        size_t comma = maskString_.find(',', start);
        if (comma == std::string::npos) comma = maskString_.size();
        masks.push_back(Trim(maskString_.substr(start, comma - start)));
        start = comma + 1;
      }
      WalkGroup(rootDir_, CompileMasks(masks));
    }
  } else {
    // Empty lines are dropped, then the specs are taken in groups: the
    // first spec's directory with every later spec of the same directory.
    fileSpec_.erase(std::remove_if(fileSpec_.begin(), fileSpec_.end(),
                                   [](const std::string& s) { return Trim(s).empty(); }),
                    fileSpec_.end());
    while (!fileSpec_.empty() && !Cancelled()) {
      std::string dir = ScanDirPart(fileSpec_[0]);
      if (dir.empty()) dir = DefaultDir();
      TStringList masks{ScanFilePart(fileSpec_[0])};
      for (size_t i = 1; i < fileSpec_.size();) {
        std::string idir = ScanDirPart(fileSpec_[i]);
        if (idir.empty()) idir = DefaultDir();
        // Directory names compare exactly: on this platform /t/ and /T/ are
        // two directories, and merging them would leave one unarchived.
        if (idir != dir) {
          ++i;
          continue;
        }
        const std::string n = ScanFilePart(fileSpec_[i]);
        bool placed = false;
        for (auto& m : masks) {
          if (TInternalMask(NormalizeMask(m)).Matches(n)) {  // already covered
            placed = true;
            break;
          }
          if (TInternalMask(NormalizeMask(n)).Matches(m)) {  // the new mask is wider
            m = n;
            placed = true;
            break;
          }
        }
        if (!placed) masks.push_back(n);
        fileSpec_.erase(fileSpec_.begin() + std::ptrdiff_t(i));
      }
      rootDir_ = dir;
      if (OnRootDirChange) OnRootDirChange(*this, dir);
      fileSpec_.erase(fileSpec_.begin());
      WalkGroup(ScanOptions == soScanDrvs ? std::string("/") : dir, CompileMasks(masks));
    }
  }
  if (OnFinished) OnFinished(*this, count_, totalSize_);
}

void TarxFileScan::WalkGroup(const std::string& dir, const std::vector<TInternalMask>& masks) {
  std::vector<DirId> ancestors;
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) ancestors.push_back({uint64_t(st.st_dev), uint64_t(st.st_ino)});
  Walk(dir, masks, ancestors);
}

void TarxFileScan::Walk(const std::string& dir, const std::vector<TInternalMask>& masks,
                        std::vector<DirId>& ancestors) {
  if (OnRecurseDir) OnRecurseDir(*this, dir);
  std::vector<std::string> names;
  if (!ListDirectory(dir, names)) return;
  for (const auto& name : names) {
    if (Cancelled()) break;
    // Dot names are skipped: ".", "..", and every hidden file or directory.
    if (name.empty() || name[0] == '.') continue;
    const std::string path = dir + name;
    TSearchRec rec;
    if (!StatSearchRec(path, name, rec)) continue;
    EntryTest(dir, rec, &masks);
    if (rec.IsDirectory() && (!(rec.Attr & kFaHidden) || IncludeHiddenDirs)) {
      // A directory reached again through a symbolic link to one of its own
      // ancestors would be walked for ever; it is walked once.
      const bool loop = std::any_of(ancestors.begin(), ancestors.end(),
                                    [&](const DirId& a) { return a.dev == rec.Dev && a.ino == rec.Ino; });
      if (!loop && !Cancelled()) {
        ancestors.push_back({rec.Dev, rec.Ino});
        Walk(path + "/", masks, ancestors);
        ancestors.pop_back();
      }
    }
    if (ProcessMessages) ProcessMessages();
  }
}

void TarxFileScan::WalkFlat() {
  for (const auto& spec : fileSpec_) {
    if (Cancelled()) break;
    if (Trim(spec).empty()) continue;
    std::string dir = ScanDirPart(spec);
    if (dir.empty()) dir = DefaultDir();
    const TInternalMask mask(NormalizeMask(ScanFilePart(spec)));
    std::vector<std::string> names;
    if (!ListDirectory(dir, names)) continue;
    bool announced = false;
    for (const auto& name : names) {
      if (Cancelled()) break;
      if (name.empty() || name[0] == '.' || !mask.Matches(name)) continue;
      TSearchRec rec;
      if (!StatSearchRec(dir + name, name, rec)) continue;
      if (!announced) {
        announced = true;
        if (OnRootDirChange) OnRootDirChange(*this, dir);
      }
      EntryTest(dir, rec, nullptr);
    }
  }
}

void TarxFileScan::EntryTest(const std::string& dir, const TSearchRec& rec, const std::vector<TInternalMask>* masks) {
  if (!AttributeTest(rec.Attr, Attributes, AttributesEx)) return;
  const bool handled = UpdateList && FileHandler;
  if (rec.IsDirectory()) {
    // Directories are neither counted nor matched against the masks.
    if (handled) FileHandler(*this, dir + rec.Name + "/", rec);
    return;
  }
  if (masks && !MatchesAny(*masks, rec.Name)) return;
  if (!handled) {
    ++count_;
    totalSize_ += rec.Size;
    return;
  }
  if (FileHandler(*this, dir, rec)) {
    ++count_;
    totalSize_ += rec.Size;
    if (OnScanFile) OnScanFile(*this, dir + rec.Name, totalSize_, count_);
  }
}

}  // namespace parcelix
