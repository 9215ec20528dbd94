// The archive reader: type detection, the end-record search, the central
// directory walk with its offset corrections, and the local-header walk.
#include "engine/read/arxUnZip.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "engine/common/ByteIO.h"
#include "engine/common/arxGbls.h"
#include "engine/read/arxReadRun.h"

namespace parcelix {

namespace {

// Archives this small are read whole by detection: one read serves the type
// test, the end record, the directory and the manifest.
constexpr int64_t kReadWholeBelow = 8192;
// Of a larger archive detection keeps the start: the first members' local
// headers, and in a JAR usually the manifest, lie there. A small JAR's
// manifest is small too; a collection is mostly small JARs, and bytes read
// that are never used cost more than the read itself.
constexpr size_t kHeadWindowSmall = 4096;
constexpr int64_t kLargeArchive = 65536;
constexpr size_t kHeadWindow = 16384;

}  // namespace

const char* ArcTypeName(TArcType t) {
  switch (t) {
    case atNA: return "atNA";
    case atJar: return "atJar";
    case atJarExe: return "atJarExe";
    case atZip: return "atZip";
    case atZipExe: return "atZipExe";
    case atZipDS: return "atZipDS";
    case atZipMV: return "atZipMV";
    case atFileOpenErr: return "atFileOpenErr";
    case atUnknown: return "atUnknown";
  }
  return "atUnknown";
}

void TDecompMemoryStream::Clear() {
  index_.clear();
  TMemoryStream32::Clear();
}

TUnZip::TUnZip() : source_(std::make_unique<TArchiveSource>()) {}
TUnZip::~TUnZip() = default;

// ------------------------------------------------------------ the archive

void TUnZip::SetArchiveFile(const std::string& path) {
  source_->Close();
  justOpened_ = false;
  detected_ = {};
  where_ = EndLocation{};
  centralStart_ = 0;
  if (path.empty() || !source_->Open(path)) {
    const int err = source_->Errno();
    // A path that names no file clears the property; a file that exists but
    // cannot be read keeps it (the next run reports "Error opening file").
    if (path.empty() || err == ENOENT || err == ENOTDIR || err == EISDIR || err == ENODEV ||
        err == ENAMETOOLONG || err == ELOOP) {
      archiveFile_.clear();
    } else {
      archiveFile_ = path;
    }
    arcType_ = atNA;
    return;
  }
  archiveFile_ = path;
  DetectType();
  // The descriptor stays open for the next run (see OpenForRun).
  justOpened_ = source_->IsOpen();
}

void TUnZip::SetArcType(TArcType) {
  if (archiveFile_.empty()) {
    arcType_ = atNA;
    return;
  }
  source_->Close();
  if (!source_->Open(archiveFile_)) {
    arcType_ = atFileOpenErr;
    detected_ = {};
    return;
  }
  DetectType();
}

void TUnZip::SetExtractDir(const std::string& dir) {
  if (dir.empty()) {
    extractDir_ = archiveFile_.empty() ? std::string() : ExtractFilePath(archiveFile_);
    return;
  }
  extractDir_ = IncludeTrailingSlash(dir);
}

bool TUnZip::OpenForRun() {
  if (archiveFile_.empty()) {
    ReportError("", "", volumeId_, kErrFileNotFound);
    return false;
  }
  const bool justOpened = std::exchange(justOpened_, false);
  if (source_->IsOpen() && (justOpened || source_->StillNames(archiveFile_))) return true;
  if (!source_->Open(archiveFile_)) {
    ReportError(archiveFile_, "", volumeId_, kErrOpenFile);
    return false;
  }
  const TFileIdentity now{source_->Device(), source_->Inode(), source_->Size(),
                         source_->ModifiedSeconds(), source_->ModifiedNanoseconds()};
  // The file changed since its type was detected: what was found then (the
  // directory start, the adjustments) may no longer hold.
  if (!(now == detected_)) DetectType();
  return true;
}

void TUnZip::DetectType() {
  TArchiveSource& s = *source_;
  centralStart_ = -1;
  where_ = EndLocation{};
  archiveSize_ = s.Size();
  detected_ = {s.Device(), s.Inode(), s.Size(), s.ModifiedSeconds(), s.ModifiedNanoseconds()};

  if (archiveSize_ < 20) {
    arcType_ = atNA;
    centralStart_ = 0;
    return;
  }
  uint8_t head[4] = {};
  if (archiveSize_ <= kReadWholeBelow) s.Load(0, size_t(archiveSize_));
  else s.LoadHead(archiveSize_ < kLargeArchive ? kHeadWindowSmall : kHeadWindow);
  s.ReadAt(0, head, sizeof head);

  TArcType type = atNA;
  if (head[0] == 'M' && head[1] == 'Z') {
    // A program image that may carry an archive (a self-extractor). Other
    // formats' self-extractors are not recognised; a ZIP is found by its end
    // record and typed atZipExe when its directory does not start at 0.
    const int64_t c = FindCentralDirectory();
    if (c > 0) {
      type = atZipExe;
      centralStart_ = c;
    }
  } else {
    const uint32_t sig = GetLE32(head);
    if (ClassifySignature(sig, htLocal).type == htLocal) {
      type = atZip;
    } else if (sig == kSigCentral || sig == kSigDataDescriptor) {
      // The first volume of a split set (or a one-piece archive written with
      // the spanning marker). Removable-drive labels do not exist here.
      type = atZipMV;
    }
    if (type != atNA) {
      centralStart_ = FindCentralDirectory();
      if (centralStart_ == 0 && !(where_.headerState & HtBit(htLocal))) {
        // The signature found at the start of the buffer.
        where_.headerState |= HtBit(htLocal);
        where_.directoryStart = 0;
      }
    }
  }
  if (type == atNA) {
    // Not a ZIP at its start: bytes put in front of an archive, or another
    // format. The end record (or a local header further in) decides.
    const int64_t c = FindCentralDirectory();
    if (c != 0) {
      type = where_.endRecord.thisDisk == 0 ? atZip : atZipMV;
      centralStart_ = c;
    } else if ((where_.headerState & HtBit(htEnding)) && where_.endRecord.totalEntries == 0 &&
               where_.endRecord.directorySize == 0 && where_.endRecordPos == 0) {
      // An empty archive: nothing but an end record. It is a ZIP with no
      // members, not "no archive".
      type = atZip;
      centralStart_ = 0;
    }
  }
  if (centralStart_ == -1) centralStart_ = 0;
  if (type == atZip && ToLowerAscii(ExtractFileExt(archiveFile_)) == ".jar") type = atJar;
  arcType_ = type;
}

int64_t TUnZip::FindCentralDirectory() {
  where_ = LocateEndRecord(*source_);
  return where_.HasDirectory() || where_.headerState == HtBit(htLocal) ? where_.directoryStart : 0;
}

// ------------------------------------------------------------------ a run

TUnZip::Run::Run(TUnZip& owner, Mode runMode) : z(owner), mode(runMode), selector(owner.selector_) {}

TUnZip::Run::~Run() {
  tree.Close();
  if (opened) z.source_->Close();
}

bool TUnZip::Run::Start() {
  z.cancel_ = 0;
  z.ClearErrors();
  z.volumeId_ = z.archiveFile_;
  z.currentName_.clear();
  count = 0;
  if (z.OnActivate) z.OnActivate(z);
  if (z.OnElapsedTime) started = std::chrono::steady_clock::now();
  if (!z.OpenForRun()) return false;
  src = z.source_.get();
  opened = true;
  return true;
}

void TUnZip::Run::Finish() {
  tree.Close();
  if (opened) z.source_->Close();
  opened = false;
  if (z.OnElapsedTime)
    z.OnElapsedTime(z, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  if (z.OnDeactivate) z.OnDeactivate(z);
}

std::string TUnZip::Run::ConvertName(std::string stored) {
  std::replace(stored.begin(), stored.end(), '/', '\\');
  return stored;
}

DirectoryEntry TUnZip::Run::MakeEntry(const ZipEntry& ze, int64_t pos) {
  DirectoryEntry e;
  e.localHeaderPosition = pos;
  e.central = ze.central;
  // The copy carries the values the extra field gave: low 32 bits in the
  // header fields, the high parts in the extra record.
  e.central.localHeaderOffset = uint32_t(pos);
  e.central.compressedSize = uint32_t(ze.compressedSize);
  e.central.uncompressedSize = uint32_t(ze.uncompressedSize);
  e.centralExtra = ze.centralExtra;
  e.name = ConvertName(ze.name);
  e.storedName = ze.name;
  e.compressedSize = ze.compressedSize;
  e.uncompressedSize = ze.uncompressedSize;
  e.hasCentral = ze.fromCentral;
  if (ze.fromCentral) {
    e.externalAttributes = ze.central.externalAttributes;
  } else {
    e.diskNumberStart = 1;
    e.central.crc32 = ze.crc32;
  }
  return e;
}

MemberInfo TUnZip::Run::InfoOf(const DirectoryEntry& e) {
  MemberInfo info;
  info.name = e.storedName;
  info.method = e.central.method;
  info.compressedSize = e.compressedSize;
  info.uncompressedSize = e.uncompressedSize;
  info.crc32 = e.central.crc32;
  info.flags = e.central.flags;
  info.dosDateTime = e.central.dosDateTime;
  info.localHeaderPosition = e.localHeaderPosition;
  return info;
}

void TUnZip::Run::AddEntry(DirectoryEntry&& e) {
  const CentralHeader& h = e.central;
  newestDate = std::max(newestDate, h.dosDateTime);
  int64_t csize = e.CompressedSize();
  if (h.flags & kFlagEncrypted) csize -= 12;  // the classic encipherment header is not data
  sumCompressed = AddClamped(sumCompressed, std::max<int64_t>(csize, 0));
  sumUncompressed = AddClamped(sumUncompressed, e.UncompressedSize());
  entries.push_back(std::move(e));
}

bool TUnZip::Run::Open() {
  OpenOptions options;
  options.translateOemChar = z.TranslateOemChar;
  options.cancel = z.CancelFlag();
  z.archive_ = ZipArchive{};
  if (!IsZipFamily(z.arcType_)) return false;
  OpenZip(*src, z.where_, options, z.archive_);
  return true;
}

int TUnZip::Run::BuildList() {
  entries.clear();
  omitted.clear();
  sumCompressed = sumUncompressed = 0;
  newestDate = 0;
  if (!Open()) return 0;
  ZipArchive& zip = z.archive_;
  if (zip.layout.localWalk && z.OnCorruptZipHeader) {
    bool cancel = true;
    z.OnCorruptZipHeader(z, z.where_.headerState, cancel);
    if (cancel) return 0;
  }
  selector.FileSpec = &z.FileSpec;
  selector.ExcludeSpec = &z.ExcludeSpec;
  selector.RecurseDirs = z.RecurseDirs;
  selector.OnExcludeFile = [this](const std::string& name) {
    if (z.OnExcludeFile) z.OnExcludeFile(z, name);
  };
  std::string name;  // one buffer for every name tested
  for (ZipEntry& ze : zip.entries) {
    if (z.Cancel()) break;
    name.assign(ze.name);
    std::replace(name.begin(), name.end(), '/', '\\');
    if (!selector.Select(name)) continue;
    ReadLocalHeader(*src, zip, ze);
    DirectoryEntry e = MakeEntry(ze, ze.localHeaderPos);
    if (!ze.localFound) {
      z.ReportError(ze.name, "", z.volumeId_, kErrBadLocalOffset);
      omitted.emplace_back(entries.size(), InfoOf(e));
      continue;
    }
    e.diskNumberStart += uint32_t(ze.central.diskNumberStart) + (z.arcType_ == atZipDS ? 1 : 0);
    AddEntry(std::move(e));
  }
  return int(entries.size());
}

// ------------------------------------------------------------- the listing

bool TUnZip::List(std::vector<MemberInfo>& members) {
  members.clear();
  Run run(*this, Run::kList);
  if (!run.Start()) {
    run.Finish();
    return false;
  }
  run.BuildList();
  for (const DirectoryEntry& e : run.entries) members.push_back(Run::InfoOf(e));
  run.Finish();
  return true;
}

}  // namespace parcelix
