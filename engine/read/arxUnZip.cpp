// The archive reader: type detection, the end-record search, the central
// directory walk with its offset corrections, and the local-header walk.
#include "engine/read/arxUnZip.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <zlib.h>

#include "engine/common/ByteIO.h"
#include "engine/common/arxGbls.h"
#include "engine/read/arxReadRun.h"

namespace parcelix {

namespace {

// Every search reads the archive in windows of this size.
constexpr int64_t kWindow = 32768;
// The end record is looked for in the last few KiB first (it ends nearly
// every archive, behind a short comment at most), then in the whole window.
constexpr int64_t kTailWindow = 4096;
// Archives this small are read whole by detection: one read serves the type
// test, the end record, the directory and the manifest.
constexpr int64_t kReadWholeBelow = 2 * kTailWindow;
// Of a larger archive detection keeps the start: the first members' local
// headers, and in a JAR usually the manifest, lie there. A small JAR's
// manifest is small too; a collection is mostly small JARs, and bytes read
// that are never used cost more than the read itself.
constexpr size_t kHeadWindowSmall = 4096;
constexpr int64_t kLargeArchive = 65536;
constexpr size_t kHeadWindow = 16384;
// The central directory is parsed from memory in pieces of at most this.
constexpr size_t kDirectoryChunkMax = 4 * 1024 * 1024;
constexpr size_t kDirectoryChunkMin = 64 * 1024;

bool IsZipFamily(TArcType t) {
  return t == atZip || t == atZipExe || t == atJar || t == atJarExe || t == atZipMV || t == atZipDS;
}

bool IsSignature(std::span<const uint8_t> b, THeaderType kind) {
  if (b.size() < 4) return false;
  const THeaderClass c = ClassifySignature(GetLE32(b.data()), kind);
  // Enciphered headers would need the header cipher, which is not supported:
  // such records are treated as absent.
  return c.type == kind && !c.enciphered;
}

bool HasExtraBlock(std::span<const uint8_t> extra, uint16_t id) {
  ByteReader r(extra);
  while (r.remaining() >= 4) {
    const uint16_t blockId = r.u16();
    const uint16_t size = r.u16();
    if (blockId == id) return true;
    if (size > r.remaining()) break;
    r.skip(size);
  }
  return false;
}

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
  headerState_ = 0;
  centralStart_ = 0;
  prefixAdjust_ = 0;
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
  const FileIdentity now{source_->Device(), source_->Inode(), source_->Size(),
                         source_->ModifiedSeconds(), source_->ModifiedNanoseconds()};
  // The file changed since its type was detected: what was found then (the
  // directory start, the adjustments) may no longer hold.
  if (!(now == detected_)) DetectType();
  return true;
}

void TUnZip::DetectType() {
  TArchiveSource& s = *source_;
  prefixAdjust_ = 0;
  centralStart_ = -1;
  headerState_ = 0;
  endRecordPos_ = -1;
  commentPos_ = 0;
  endRecord_ = EndRecord{};
  locator_ = Zip64Locator{};
  zip64End_ = Zip64EndRecord{};
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
      if (centralStart_ == 0 && !(headerState_ & HtBit(htLocal))) {
        centralStart_ = 0;  // the signature found at the start of the buffer
        headerState_ |= HtBit(htLocal);
      }
    }
  }
  if (type == atNA) {
    // Not a ZIP at its start: bytes put in front of an archive, or another
    // format. The end record (or a local header further in) decides.
    const int64_t c = FindCentralDirectory();
    if (c != 0) {
      type = endRecord_.thisDisk == 0 ? atZip : atZipMV;
      centralStart_ = c;
    } else if ((headerState_ & HtBit(htEnding)) && endRecord_.totalEntries == 0 &&
               endRecord_.directorySize == 0 && endRecordPos_ == 0) {
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
  TArchiveSource& s = *source_;
  const int64_t size = s.Size();
  if (size <= 0) return 0;
  // The last window, the file's first byte included when the file is small
  // (an empty archive is an end record at offset 0). The search runs from
  // the end, so the short tail finds what the whole window would.
  const int64_t w = std::min(size, kWindow);
  int64_t e = -1;
  for (const int64_t tw : {std::min(size, kTailWindow), w}) {
    const auto window = s.Load(size - tw, size_t(tw));
    const int64_t windowStart = size - tw;
    for (int64_t i = int64_t(window.size()) - 4; i >= 0; --i) {
      if (window[size_t(i)] != 'P' || !IsSignature(window.subspan(size_t(i)), htEnding)) continue;
      EndRecord rec;
      // A signature too close to the end to hold its record is comment text.
      if (!rec.Parse(window.subspan(size_t(i)))) continue;
      endRecord_ = rec;
      e = windowStart + i;
      break;
    }
    if (e >= 0 || tw == w) break;
  }
  if (e < 0) {
    // No end record: look for the first local header from the start of the
    // file, in up to four windows.
    std::vector<uint8_t> buf(static_cast<size_t>(w));
    for (int k = 0; k < 4; ++k) {
      const size_t got = s.ReadAt(int64_t(k) * w, buf.data(), buf.size());
      if (got == 0) break;
      for (size_t i = 0; i + 4 <= got; ++i) {
        if (buf[i] != 'P' || !IsSignature(std::span<const uint8_t>(buf).subspan(i, 4), htLocal)) continue;
        headerState_ = HtBit(htLocal);
        return int64_t(k) * w + int64_t(i);
      }
    }
    return 0;
  }

  headerState_ = HtBit(htEnding);
  endRecordPos_ = e;
  uint8_t rec[kZip64EndRecordSize];
  int64_t zip64Pos = -1;
  if (e >= int64_t(kZip64LocatorSize) && s.ReadAt(e - 20, rec, kZip64LocatorSize) == kZip64LocatorSize &&
      locator_.Parse(std::span<const uint8_t>(rec, kZip64LocatorSize))) {
    headerState_ |= HtBit(htLocator);
    if (e >= 76 && s.ReadAt(e - 76, rec, kZip64EndRecordSize) == kZip64EndRecordSize &&
        zip64End_.Parse(std::span<const uint8_t>(rec, kZip64EndRecordSize))) {
      headerState_ |= HtBit(htEnding64);
      zip64Pos = e - 76;
    } else if (locator_.endRecordOffset <= uint64_t(size) - kZip64EndRecordSize &&
               s.ReadAt(int64_t(locator_.endRecordOffset), rec, kZip64EndRecordSize) == kZip64EndRecordSize &&
               zip64End_.Parse(std::span<const uint8_t>(rec, kZip64EndRecordSize))) {
      // A zip64 end record with extensible data does not end where the
      // locator begins; the locator's recorded position finds it.
      headerState_ |= HtBit(htEnding64);
      zip64Pos = int64_t(locator_.endRecordOffset);
    }
  }
  const bool zip64 = headerState_ & HtBit(htEnding64);

  // Candidate start C and the fallback from the directory's size.
  int64_t c;
  int64_t fallback;
  int64_t recordedStart;
  if (endRecord_.wide) {
    commentPos_ = e + int64_t(kWideEndRecordSize);
    c = int64_t(std::min<uint64_t>(endRecord_.directoryOffset, uint64_t(INT64_MAX)));
    fallback = e - int64_t(endRecord_.directorySize);
    recordedStart = c;
  } else {
    commentPos_ = e + int64_t(kEndRecordSize);
    if (zip64) {
      const int64_t dirSize = int64_t(std::min<uint64_t>(zip64End_.directorySize, uint64_t(size)));
      c = int64_t(std::min<uint64_t>(locator_.endRecordOffset, uint64_t(size))) - dirSize;
      // The 32-bit size in the end record may be a placeholder: measure from
      // where the zip64 end record really stands, which also holds when
      // bytes were put in front of the archive.
      fallback = zip64Pos - dirSize;
      recordedStart = int64_t(std::min<uint64_t>(zip64End_.directoryOffset, uint64_t(INT64_MAX)));
    } else {
      c = e - int64_t(endRecord_.directorySize);
      fallback = c;
      recordedStart = int64_t(endRecord_.directoryOffset);
    }
  }

  // 1: a central header at c; 0: something else; -1: fewer than 46 bytes.
  auto centralAt = [&](int64_t pos) -> int {
    uint8_t b[kCentralHeaderSize];
    if (pos < 0 || s.ReadAt(pos, b, sizeof b) < sizeof b) return -1;
    return IsSignature(b, htCentral) ? 1 : 0;
  };
  prefixAdjust_ = 0;
  int found = centralAt(c);
  if (found < 0) {
    c = fallback;
    found = centralAt(c);
    if (found < 0) return 0;
  }
  if (found == 0) {
    c = fallback;
    found = centralAt(c);
    if (found < 0) return 0;
    if (found == 1) {
      const int64_t adjust = c - recordedStart;
      prefixAdjust_ = (adjust >= INT32_MIN && adjust <= INT32_MAX) ? int32_t(adjust) : 0;
    }
  }
  if (found != 1) return 0;
  headerState_ |= HtBit(htCentral);
  uint8_t b[kCentralHeaderSize];
  CentralHeader first;
  if (s.ReadAt(c, b, sizeof b) == sizeof b && first.Parse(b)) {
    uint8_t l[kLocalHeaderSize];
    const int64_t lpos = int64_t(first.localHeaderOffset) + prefixAdjust_;
    if (lpos >= 0 && s.ReadAt(lpos, l, sizeof l) == sizeof l && IsSignature(l, htLocal))
      headerState_ |= HtBit(htLocal);
  }
  return c;
}

// ------------------------------------------------------------------ a run

TUnZip::Run::Run(TUnZip& owner, Mode runMode) : z(owner), mode(runMode) {}

TUnZip::Run::~Run() {
  CloseDirectoryCache();
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
  CloseDirectoryCache();
  if (opened) z.source_->Close();
  opened = false;
  if (z.OnElapsedTime)
    z.OnElapsedTime(z, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  if (z.OnDeactivate) z.OnDeactivate(z);
}

std::string TUnZip::Run::StoredName(std::span<const uint8_t> raw, uint16_t flags) const {
  return StoredNameToUtf8(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()), flags,
                          z.TranslateOemChar);
}

std::string TUnZip::Run::ConvertName(std::string stored) {
  std::replace(stored.begin(), stored.end(), '/', '\\');
  return stored;
}

bool TUnZip::Run::IsLocalHeaderAt(int64_t pos) {
  uint8_t b[kLocalHeaderSize];
  return pos >= 0 && src->ReadAt(pos, b, sizeof b) == sizeof b && IsSignature(b, htLocal);
}

template <class Visit>
void TUnZip::Run::WalkCentral(Visit&& visit) {
  int64_t pos = z.centralStart_;
  const int64_t size = src->Size();
  // The directory is read in one piece when its recorded size is sane;
  // entries past that size (counts that lie) are read in further pieces.
  int64_t claimed = (z.headerState_ & HtBit(htEnding64)) ? int64_t(std::min<uint64_t>(z.zip64End_.directorySize, uint64_t(size)))
                                                          : int64_t(z.endRecord_.directorySize);
  if (claimed <= 0 || pos < 0 || claimed > size - pos) claimed = int64_t(kDirectoryChunkMin);
  const size_t chunk = std::clamp(size_t(claimed), kDirectoryChunkMin, kDirectoryChunkMax);
  CentralView v;
  while (!z.Cancel() && pos >= 0 && pos < size) {
    auto head = src->Cached(pos, kCentralHeaderSize);
    if (head.size() < kCentralHeaderSize) head = src->Load(pos, chunk);
    if (head.size() < kCentralHeaderSize || !v.header.Parse(head) || !IsSignature(head, htCentral)) break;
    const size_t n = v.header.nameLength, m = v.header.extraLength, k = v.header.commentLength;
    const size_t total = kCentralHeaderSize + n + m + k;
    auto all = src->Cached(pos, total);
    if (all.size() < total) all = src->Load(pos, std::max(chunk, total));
    if (all.size() < total) break;  // the directory runs past the end of the file
    v.name = all.subspan(kCentralHeaderSize, n);
    v.extra = all.subspan(kCentralHeaderSize + n, m);
    v.comment = all.subspan(kCentralHeaderSize + n + m, k);
    if (!visit(v)) break;
    pos += int64_t(total);
    ++v.index;
  }
}

bool TUnZip::Run::LocalHeaderNamed(int64_t pos, std::span<const uint8_t> rawName) {
  std::vector<uint8_t> b(kLocalHeaderSize + rawName.size());
  if (pos < 0 || src->ReadAt(pos, b.data(), b.size()) != b.size() || !IsSignature(b, htLocal)) return false;
  return GetLE16(&b[26]) == rawName.size() &&
         std::equal(rawName.begin(), rawName.end(), b.begin() + kLocalHeaderSize);
}

int64_t TUnZip::Run::CorrectionSearch(int64_t recorded, int64_t prefixed, std::span<const uint8_t> rawName) {
  // Bytes put in front of an archive without adjusting its offsets shift
  // every local header by the same amount: the distance between where the
  // directory was found and where the end record says it starts. That
  // candidate is tried first, so a long stub does not defeat the search.
  const int64_t recordedStart = (z.headerState_ & HtBit(htEnding64)) && z.endRecord_.directoryOffset == 0xFFFFFFFFu
                                    ? int64_t(std::min<uint64_t>(z.zip64End_.directoryOffset, uint64_t(INT64_MAX)))
                                    : int64_t(z.endRecord_.directoryOffset);
  if (z.headerState_ & HtBit(htCentral)) {
    const int64_t shifted = recorded + (z.centralStart_ - recordedStart);
    if (shifted != prefixed && LocalHeaderNamed(shifted, rawName)) return shifted - prefixed;
  }
  // Otherwise the next local header within one window: the one that carries
  // this member's name, else (names may differ) the first one.
  const int64_t start = prefixed + 1;
  if (start < 0 || start >= src->Size()) return 0;
  std::vector<uint8_t> buf(static_cast<size_t>(kWindow));
  const size_t got = src->ReadAt(start, buf.data(), buf.size());
  int64_t first = 0;
  for (size_t i = 0; i + 4 <= got; ++i) {
    if (buf[i] != 'P' || !IsSignature(std::span<const uint8_t>(buf).subspan(i, 4), htLocal)) continue;
    const int64_t hit = start + int64_t(i);
    if (LocalHeaderNamed(hit, rawName)) return hit - prefixed;
    if (first == 0 && IsLocalHeaderAt(hit)) first = hit - prefixed;
  }
  return first;
}

DirectoryEntry TUnZip::Run::MakeEntry(CentralHeader h, const ExtraFieldRecord& rec, int64_t pos, std::string name,
                                      std::string stored) {
  DirectoryEntry e;
  e.localHeaderPosition = pos;
  h.localHeaderOffset = uint32_t(pos);
  e.central = h;
  e.centralExtra = rec;
  e.name = std::move(name);
  e.storedName = std::move(stored);
  return e;
}

MemberInfo TUnZip::Run::InfoOf(const DirectoryEntry& e) {
  MemberInfo info;
  info.name = e.storedName;
  info.method = e.central.method;
  info.compressedSize = Widen48(e.central.compressedSize, e.centralExtra.compressedHigh);
  info.uncompressedSize = Widen48(e.central.uncompressedSize, e.centralExtra.uncompressedHigh);
  info.crc32 = e.central.crc32;
  info.flags = e.central.flags;
  info.dosDateTime = e.central.dosDateTime;
  info.localHeaderPosition = e.localHeaderPosition;
  return info;
}

void TUnZip::Run::AddEntry(DirectoryEntry&& e) {
  const CentralHeader& h = e.central;
  newestDate = std::max(newestDate, h.dosDateTime);
  int64_t csize = Widen48(h.compressedSize, e.centralExtra.compressedHigh);
  if (h.flags & kFlagEncrypted) csize -= 12;  // the classic encipherment header is not data
  sumCompressed += std::max<int64_t>(csize, 0);
  sumUncompressed += Widen48(h.uncompressedSize, e.centralExtra.uncompressedHigh);
  entries.push_back(std::move(e));
}

int TUnZip::Run::BuildList() {
  entries.clear();
  omitted.clear();
  sumCompressed = sumUncompressed = 0;
  newestDate = 0;
  correction = 0;
  correctionTried = false;
  if (!IsZipFamily(z.arcType_)) return 0;
  selector.FileSpec = &z.FileSpec;
  selector.ExcludeSpec = &z.ExcludeSpec;
  selector.RecurseDirs = z.RecurseDirs;
  selector.OnExcludeFile = [this](const std::string& name) {
    if (z.OnExcludeFile) z.OnExcludeFile(z, name);
  };
  if (z.headerState_ == HtBit(htLocal)) {
    WalkLocal();
    return int(entries.size());
  }
  WalkCentral([&](const CentralView& v) {
    std::string stored = StoredName(v.name, v.header.flags);
    std::string name = ConvertName(stored);
    if (!selector.Select(name)) return true;
    CentralHeader h = v.header;
    ExtraFieldRecord rec;
    ParseExtraField(v.extra, true, rec, h.compressedSize, h.uncompressedSize, &h.localHeaderOffset);
    const int64_t recorded = Widen48(h.localHeaderOffset, rec.offsetHigh);
    int64_t pos = recorded + z.prefixAdjust_ + correction;
    bool found = IsLocalHeaderAt(pos);
    // The correction search runs once, for the first selected member, and
    // only while no member has been found where the directory says: then
    // its result holds for the whole archive.
    if (!found && !correctionTried && entries.empty()) {
      correctionTried = true;
      correction = CorrectionSearch(recorded, recorded + z.prefixAdjust_, v.name);
      pos = recorded + z.prefixAdjust_ + correction;
      found = correction != 0 && IsLocalHeaderAt(pos);
    }
    if (!found) {
      z.ReportError(name, "", z.volumeId_, kErrBadLocalOffset);
      omitted.emplace_back(entries.size(), InfoOf(MakeEntry(h, rec, pos, name, std::move(stored))));
      return true;
    }
    correctionTried = true;
    DirectoryEntry e = MakeEntry(h, rec, pos, std::move(name), std::move(stored));
    e.externalAttributes = h.externalAttributes;
    e.diskNumberStart = uint32_t(h.diskNumberStart) + (z.arcType_ == atZipDS ? 1 : 0);
    e.hasCentral = true;
    AddEntry(std::move(e));
    return true;
  });
  return int(entries.size());
}

bool TUnZip::Run::BuildRawList() {
  if (!raw) return false;
  raw->clear();
  correction = 0;
  correctionTried = false;
  if (!IsZipFamily(z.arcType_) || !(z.headerState_ & HtBit(htCentral))) return false;
  {
    // Room for the entries the directory's size can hold (a count in the end
    // record could claim anything).
    const uint64_t dirSize = (z.headerState_ & HtBit(htEnding64)) ? z.zip64End_.directorySize : z.endRecord_.directorySize;
    const uint64_t fits = std::min<uint64_t>(dirSize, uint64_t(src->Size())) / kCentralHeaderSize;
    raw->reserve(size_t(std::min<uint64_t>(fits, 1u << 20)));
  }
  WalkCentral([&](const CentralView& v) {
    RawCentralEntry r;
    r.header = v.header;
    r.rawName.assign(v.name.begin(), v.name.end());
    r.extra.assign(v.extra.begin(), v.extra.end());
    r.comment.assign(v.comment.begin(), v.comment.end());
    r.name = ConvertName(StoredName(v.name, v.header.flags));
    CentralHeader h = v.header;
    ExtraFieldRecord rec;
    ParseExtraField(v.extra, true, rec, h.compressedSize, h.uncompressedSize, &h.localHeaderOffset);
    r.compressedSize = Widen48(h.compressedSize, rec.compressedHigh);
    r.uncompressedSize = Widen48(h.uncompressedSize, rec.uncompressedHigh);
    const int64_t recorded = Widen48(h.localHeaderOffset, rec.offsetHigh);
    r.localHeaderPosition = recorded + z.prefixAdjust_ + correction;
    if (!correctionTried) {
      // The first entry tells whether the offsets need correcting; the rest
      // follow it.
      correctionTried = true;
      if (!IsLocalHeaderAt(r.localHeaderPosition)) {
        correction = CorrectionSearch(recorded, recorded + z.prefixAdjust_, v.name);
        r.localHeaderPosition += correction;
      }
    }
    raw->push_back(std::move(r));
    return true;
  });
  return !z.Cancel();
}

void TUnZip::Run::WalkLocal() {
  if (z.OnCorruptZipHeader) {
    bool cancel = true;
    z.OnCorruptZipHeader(z, z.headerState_, cancel);
    if (cancel) return;
  }
  int64_t pos = z.centralStart_;
  uint8_t b[kLocalHeaderSize];
  if (src->ReadAt(pos, b, 4) == 4 && GetLE32(b) == kSigDataDescriptor) pos += 4;
  std::vector<uint8_t> nameExtra;
  while (!z.Cancel()) {
    LocalHeader lh;
    if (src->ReadAt(pos, b, sizeof b) < sizeof b || !lh.Parse(b) || !IsSignature(b, htLocal)) break;
    const size_t n = lh.nameLength, m = lh.extraLength;
    nameExtra.resize(n + m);
    if (src->ReadAt(pos + int64_t(kLocalHeaderSize), nameExtra.data(), n + m) < n + m) break;
    const std::span<const uint8_t> rawName(nameExtra.data(), n), extra(nameExtra.data() + n, m);
    CentralHeader h;
    h.versionNeeded = lh.versionNeeded;
    h.flags = lh.flags;
    h.method = lh.method;
    h.dosDateTime = lh.dosDateTime;
    h.crc32 = lh.crc32;
    h.compressedSize = lh.compressedSize;
    h.uncompressedSize = lh.uncompressedSize;
    h.nameLength = lh.nameLength;
    h.extraLength = lh.extraLength;
    ExtraFieldRecord rec;
    ParseExtraField(extra, false, rec, h.compressedSize, h.uncompressedSize, nullptr);
    const int64_t dataStart = pos + int64_t(kLocalHeaderSize + n + m);
    int64_t next = dataStart + Widen48(h.compressedSize, rec.compressedHigh);
    // A member written as a stream has no sizes in its header; its sizes and
    // CRC follow the data. Decoding finds where the data end.
    int64_t descriptor = 0;
    if ((lh.flags & kFlagDataDescriptor) && h.compressedSize == 0 && rec.compressedHigh == 0 && lh.method == 8 &&
        MeasureStreamedMember(dataStart, extra, h, descriptor)) {
      rec.compressedHigh = 0;
      rec.uncompressedHigh = 0;
      next = dataStart + int64_t(h.compressedSize) + descriptor;
    }
    std::string stored = StoredName(rawName, lh.flags);
    std::string name = ConvertName(stored);
    if (selector.Select(name)) {
      DirectoryEntry e = MakeEntry(h, rec, pos, std::move(name), std::move(stored));
      e.diskNumberStart = 1;
      AddEntry(std::move(e));
    }
    if (next <= pos) break;
    pos = next;
  }
}

bool TUnZip::Run::EndRecordAnywhere() {
  const int64_t size = src->Size();
  const int64_t w = std::min<int64_t>(size, int64_t(kEndRecordSize) + 0xFFFF);
  std::vector<uint8_t> buf(static_cast<size_t>(w));
  const size_t got = src->ReadAt(size - w, buf.data(), buf.size());
  for (size_t i = got >= kEndRecordSize ? got - kEndRecordSize + 1 : 0; i-- > 0;)
    if (buf[i] == 'P' && IsSignature(std::span<const uint8_t>(buf).subspan(i, 4), htEnding)) return true;
  return false;
}

// Finds the end of a streamed Deflate member by decoding it, then takes CRC
// and sizes from its data descriptor (with or without the optional
// signature; 8-byte sizes when the header has a zip64 block). Sizes that fit
// 32 bits only: a streamed member of 4 GiB is not recovered this way.
bool TUnZip::Run::MeasureStreamedMember(int64_t dataStart, std::span<const uint8_t> extra, CentralHeader& h,
                                        int64_t& descriptorLength) {
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) return false;
  std::vector<uint8_t> in(65536), out(65536);
  int64_t inPos = dataStart;
  uint32_t crc = CrcMask;
  int ret = Z_OK;
  while (ret != Z_STREAM_END && !z.Cancel()) {
    if (zs.avail_in == 0) {
      const size_t got = src->ReadAt(inPos, in.data(), in.size());
      if (got == 0) break;
      inPos += int64_t(got);
      zs.next_in = in.data();
      zs.avail_in = uInt(got);
    }
    zs.next_out = out.data();
    zs.avail_out = uInt(out.size());
    ret = inflate(&zs, Z_NO_FLUSH);
    UpdateCrc32(out.data(), int32_t(out.size() - zs.avail_out), crc);
    if (ret != Z_OK && ret != Z_STREAM_END) break;
  }
  const uint64_t clen = zs.total_in, ulen = zs.total_out;
  inflateEnd(&zs);
  if (ret != Z_STREAM_END || clen > 0xFFFFFFFFu || ulen > 0xFFFFFFFFu) return false;
  const int64_t d = dataStart + int64_t(clen);
  uint8_t desc[24] = {};
  const size_t got = src->ReadAt(d, desc, sizeof desc);
  const bool wideSizes = HasExtraBlock(extra, kExtraZip64);
  size_t length = 0;
  for (size_t skip : {size_t(4), size_t(0)}) {
    if (skip == 4 && (got < 4 || GetLE32(desc) != kSigDataDescriptor)) continue;
    const size_t need = skip + 4 + (wideSizes ? 16 : 8);
    if (got < need) continue;
    const uint8_t* p = desc + skip;
    const uint64_t cs = wideSizes ? GetLE64(p + 4) : GetLE32(p + 4);
    const uint64_t us = wideSizes ? GetLE64(p + 12) : GetLE32(p + 8);
    if (cs != clen || us != ulen) continue;
    h.crc32 = GetLE32(p);
    length = need;
    break;
  }
  if (length == 0) h.crc32 = crc ^ CrcMask;  // no descriptor: what the data decode to
  h.compressedSize = uint32_t(clen);
  h.uncompressedSize = uint32_t(ulen);
  descriptorLength = int64_t(length);
  return true;
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

bool TUnZip::ReadRawDirectory(std::vector<RawCentralEntry>& entries) {
  entries.clear();
  Run run(*this, Run::kRaw);
  run.raw = &entries;
  bool ok = run.Start() && run.BuildRawList();
  run.Finish();
  return ok;
}

}  // namespace parcelix
