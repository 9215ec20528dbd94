// Opening a ZIP archive: the end-record search, the central directory walk
// with its offset corrections, the local-header walk, and the findings.
#include "engine/read/ZipArchive.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "engine/codec/Crc32.h"
#include "engine/codec/arxStreams.h"
#include "engine/common/ByteIO.h"
#include "engine/common/arxGbls.h"
#include "engine/read/ArchiveSource.h"

namespace parcelix {

namespace {

// Every search reads the archive in windows of this size.
constexpr int64_t kWindow = 32768;
// The end record is looked for in the last few KiB first (it ends nearly
// every archive, behind a short comment at most), then in the whole window.
constexpr int64_t kTailWindow = 4096;
// The central directory is parsed from memory in pieces of at most this.
constexpr size_t kDirectoryChunkMax = 4 * 1024 * 1024;
constexpr size_t kDirectoryChunkMin = 64 * 1024;

bool IsSignature(std::span<const uint8_t> b, THeaderType kind) {
  if (b.size() < 4) return false;
  const THeaderClass c = ClassifySignature(GetLE32(b.data()), kind);
  // Enciphered headers would need the header cipher, which is not supported:
  // such records are treated as absent.
  return c.type == kind && !c.enciphered;
}

int64_t Clamp64(uint64_t v) { return int64_t(std::min<uint64_t>(v, uint64_t(INT64_MAX))); }

std::string Num(uint64_t v) { return std::to_string(v); }

// Finds the last end record in the last window of the file.
int64_t SearchEndRecord(TArchiveSource& s, EndRecord& rec) {
  const int64_t size = s.Size();
  const int64_t w = std::min(size, kWindow);
  for (const int64_t tw : {std::min(size, kTailWindow), w}) {
    const auto window = s.Load(size - tw, size_t(tw));
    for (int64_t i = int64_t(window.size()) - 4; i >= 0; --i) {
      if (window[size_t(i)] != 'P' || !IsSignature(window.subspan(size_t(i)), htEnding)) continue;
      // A signature too close to the end to hold its record is comment text.
      if (rec.Parse(window.subspan(size_t(i)))) return size - tw + i;
    }
    if (tw == w) break;
  }
  return -1;
}

// The first local header in up to four windows from the start; -1 when none.
int64_t SearchFirstLocal(TArchiveSource& s) {
  const int64_t w = std::min(s.Size(), kWindow);
  std::vector<uint8_t> buf(static_cast<size_t>(w));
  for (int k = 0; k < 4 && w > 0; ++k) {
    const size_t got = s.ReadAt(int64_t(k) * w, buf.data(), buf.size());
    if (got == 0) break;
    for (size_t i = 0; i + 4 <= got; ++i)
      if (buf[i] == 'P' && IsSignature(std::span<const uint8_t>(buf).subspan(i, 4), htLocal))
        return int64_t(k) * w + int64_t(i);
  }
  return -1;
}

void ReadZip64Records(TArchiveSource& s, EndLocation& loc) {
  const int64_t e = loc.endRecordPos;
  uint8_t rec[kZip64EndRecordSize];
  if (e < int64_t(kZip64LocatorSize) || s.ReadAt(e - 20, rec, kZip64LocatorSize) != kZip64LocatorSize ||
      !loc.locator.Parse(std::span<const uint8_t>(rec, kZip64LocatorSize)))
    return;
  loc.headerState |= HtBit(htLocator);
  if (e >= 76 && s.ReadAt(e - 76, rec, kZip64EndRecordSize) == kZip64EndRecordSize &&
      loc.zip64End.Parse(std::span<const uint8_t>(rec, kZip64EndRecordSize))) {
    loc.headerState |= HtBit(htEnding64);
    loc.zip64EndPos = e - 76;
  } else if (loc.locator.endRecordOffset <= uint64_t(s.Size()) - kZip64EndRecordSize &&
             s.ReadAt(int64_t(loc.locator.endRecordOffset), rec, kZip64EndRecordSize) == kZip64EndRecordSize &&
             loc.zip64End.Parse(std::span<const uint8_t>(rec, kZip64EndRecordSize))) {
    // A zip64 end record with extensible data does not end where the
    // locator begins; the locator's recorded position finds it.
    loc.headerState |= HtBit(htEnding64);
    loc.zip64EndPos = int64_t(loc.locator.endRecordOffset);
  }
}

// 1: a central header at pos; 0: something else; -1: fewer than 46 bytes.
int CentralAt(TArchiveSource& s, int64_t pos) {
  uint8_t b[kCentralHeaderSize];
  if (pos < 0 || s.ReadAt(pos, b, sizeof b) < sizeof b) return -1;
  return IsSignature(b, htCentral) ? 1 : 0;
}

// Tries the candidate directory starts: c from the records, then the end
// record minus the directory size (which also measures a prefix), then the
// recorded offset itself (a directory size that lies, or bytes between the
// directory and the end record). Returns the start, or -1.
int64_t ChooseDirectoryStart(TArchiveSource& s, EndLocation& loc, int64_t c, int64_t fallback) {
  loc.prefixAdjust = 0;
  int found = CentralAt(s, c);
  if (found == 1) return c;
  if (CentralAt(s, fallback) == 1) {
    const int64_t adjust = fallback - loc.recordedStart;
    loc.prefixAdjust = (adjust >= INT32_MIN && adjust <= INT32_MAX) ? int32_t(adjust) : 0;
    return fallback;
  }
  if (loc.recordedStart < loc.endRecordPos && CentralAt(s, loc.recordedStart) == 1) {
    loc.foundByOffset = true;
    return loc.recordedStart;
  }
  return -1;
}

// True when an end record lies anywhere an archive comment could hide it.
bool EndRecordAnywhere(TArchiveSource& s) {
  const int64_t size = s.Size();
  return FindEndRecordIn(s, size - int64_t(kEndRecordSize) - 0xFFFF, size, [](int64_t, const EndRecord&) { return true; }) >= 0;
}

}  // namespace

int64_t FindEndRecordIn(TArchiveSource& s, int64_t from, int64_t to,
                        const std::function<bool(int64_t pos, const EndRecord& record)>& accept) {
  from = std::max<int64_t>(from, 0);
  to = std::min(to, s.Size());
  if (to - from < int64_t(kEndRecordSize) || to - from > int64_t(kEndRecordSize) + 0xFFFF) return -1;
  std::vector<uint8_t> buf(size_t(to - from));
  if (s.ReadAt(from, buf.data(), buf.size()) != buf.size()) return -1;
  EndRecord record;
  for (size_t i = buf.size() - kEndRecordSize + 1; i-- > 0;) {
    const auto at = std::span<const uint8_t>(buf).subspan(i);
    if (buf[i] == 'P' && IsSignature(at.first(4), htEnding) && record.Parse(at) && accept(from + int64_t(i), record))
      return from + int64_t(i);
  }
  return -1;
}

EndLocation LocateEndRecord(TArchiveSource& s) {
  EndLocation loc;
  const int64_t size = s.Size();
  if (size <= 0) return loc;
  const int64_t e = SearchEndRecord(s, loc.endRecord);
  if (e < 0) {
    // No end record: the first local header, when there is one.
    const int64_t first = SearchFirstLocal(s);
    if (first >= 0) {
      loc.headerState = HtBit(htLocal);
      loc.directoryStart = first;
    }
    return loc;
  }
  loc.headerState = HtBit(htEnding);
  loc.endRecordPos = e;
  ReadZip64Records(s, loc);
  const bool zip64 = loc.headerState & HtBit(htEnding64);
  const EndRecord& er = loc.endRecord;

  // Candidate start c and the fallback from the directory's size.
  int64_t c, fallback;
  if (er.wide) {
    loc.commentPos = e + int64_t(kWideEndRecordSize);
    c = Clamp64(er.directoryOffset);
    fallback = e - int64_t(er.directorySize);
    loc.recordedStart = c;
  } else if (zip64) {
    loc.commentPos = e + int64_t(kEndRecordSize);
    const int64_t dirSize = int64_t(std::min<uint64_t>(loc.zip64End.directorySize, uint64_t(size)));
    c = int64_t(std::min<uint64_t>(loc.locator.endRecordOffset, uint64_t(size))) - dirSize;
    // The 32-bit size in the end record may be a placeholder: measure from
    // where the zip64 end record really stands, which also holds when bytes
    // were put in front of the archive.
    fallback = loc.zip64EndPos - dirSize;
    loc.recordedStart = Clamp64(loc.zip64End.directoryOffset);
  } else {
    loc.commentPos = e + int64_t(kEndRecordSize);
    c = e - int64_t(er.directorySize);
    fallback = c;
    loc.recordedStart = int64_t(er.directoryOffset);
  }
  const int64_t start = ChooseDirectoryStart(s, loc, c, fallback);
  if (start < 0) return loc;
  loc.directoryStart = start;
  loc.headerState |= HtBit(htCentral);
  uint8_t b[kCentralHeaderSize];
  CentralHeader first;
  if (s.ReadAt(start, b, sizeof b) == sizeof b && first.Parse(b)) {
    uint8_t l[kLocalHeaderSize];
    const int64_t lpos = int64_t(first.localHeaderOffset) + loc.prefixAdjust;
    if (lpos >= 0 && s.ReadAt(lpos, l, sizeof l) == sizeof l && IsSignature(l, htLocal))
      loc.headerState |= HtBit(htLocal);
  }
  return loc;
}

// ------------------------------------------------------------------ archive

bool ZipArchive::HasError() const {
  return std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.severity == TSeverity::error; });
}

bool FindingBlocksCopy(std::string_view code) {
  static constexpr std::string_view kCodes[] = {"local-header-missing", "data-beyond-file", "local-name",
                                                "local-method",         "local-size",       "zip64-extra-duplicated",
                                                "descriptor-missing",   "descriptor-mismatch"};
  return std::find(std::begin(kCodes), std::end(kCodes), code) != std::end(kCodes);
}

bool ZipArchive::CanCopy(const ZipEntry& e) const {
  return e.localRead && e.localFound && e.localMatches && e.dataEnd >= 0 && e.dataEnd <= layout.archiveSize;
}

bool ZipArchive::CanCopyAll() const {
  return layout.directoryWhole && !layout.localWalk &&
         std::all_of(entries.begin(), entries.end(), [this](const ZipEntry& e) { return CanCopy(e); });
}

void ZipArchive::Add(std::string code, TSeverity severity, std::string member, std::string text) {
  findings.push_back({std::move(code), severity, std::move(member), std::move(text)});
}

namespace {

class Opener {
 public:
  Opener(TArchiveSource& s, const EndLocation& w, const OpenOptions& o, ZipArchive& a)
      : src(s), where(w), opt(o), zip(a) {}
  bool Run();

 private:
  bool Cancelled() const { return opt.cancel && *opt.cancel; }
  std::string Name(std::span<const uint8_t> raw, uint16_t flags) const;
  void WalkCentral();
  void EntryFromCentral(std::span<const uint8_t> all, const CentralHeader& h, ZipEntry& e);
  void CorrectOffsets();
  bool LocalNamed(int64_t pos, std::span<const uint8_t> rawName);
  int64_t CorrectionSearch(int64_t stated, std::span<const uint8_t> rawName);
  void WalkLocal(int64_t pos);
  bool MeasureStreamed(int64_t dataStart, std::span<const uint8_t> extra, ZipEntry& e, int64_t& descriptor);
  void CheckRecords();
  void CheckEntry(const ZipEntry& e);

  TArchiveSource& src;
  const EndLocation& where;
  const OpenOptions& opt;
  ZipArchive& zip;
};

std::string Opener::Name(std::span<const uint8_t> raw, uint16_t flags) const {
  // Separators as stored: '/' in every archive that follows the format; a
  // '\\' is kept, it may be part of a file name.
  return StoredNameToUtf8(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()), flags,
                          opt.translateOemChar);
}

bool Opener::Run() {
  ZipLayout& l = zip.layout;
  l.archiveSize = src.Size();
  l.headerState = where.headerState;
  l.endRecordPos = where.endRecordPos;
  l.commentPos = where.commentPos;
  l.commentLength = where.endRecord.commentLength;
  l.zip64 = where.headerState & HtBit(htEnding64);
  l.prefixAdjust = where.prefixAdjust;
  l.directorySize = where.DirectorySize();
  if (where.HasDirectory()) {
    l.directoryStart = where.directoryStart;
    WalkCentral();
    CorrectOffsets();
    CheckRecords();
  } else {
    int64_t first = where.headerState == HtBit(htLocal) ? where.directoryStart : -1;
    // An empty archive is an end record that announces nothing.
    if ((where.headerState & HtBit(htEnding)) && where.endRecord.totalEntries == 0 &&
        where.DirectorySize() == 0)
      return true;
    if (where.headerState & HtBit(htEnding)) {
      first = SearchFirstLocal(src);
      zip.Add("directory-missing", TSeverity::error, "",
              "the end record says the central directory starts at offset " + Num(uint64_t(where.recordedStart)) +
                  " (" + Num(l.directorySize) + " bytes), but no central directory is there" +
                  (first >= 0 ? "; the members were read from their local headers" : ""));
    }
    if (first < 0) return false;
    l.localWalk = true;
    l.directoryWhole = false;
    l.directoryStart = first;
    WalkLocal(first);
    // An end record hidden behind a long comment is fine; a file with none
    // at all was cut short or had its tail overwritten.
    if (!(where.headerState & HtBit(htEnding)) && !EndRecordAnywhere(src))
      zip.Add("end-record-missing", TSeverity::error, "",
              "the archive has no end record: it was cut short or its end was overwritten");
  }
  for (const ZipEntry& e : zip.entries) CheckEntry(e);
  return true;
}

void Opener::EntryFromCentral(std::span<const uint8_t> all, const CentralHeader& h, ZipEntry& e) {
  const size_t n = h.nameLength, m = h.extraLength, k = h.commentLength;
  e.central = h;
  e.rawName.assign(all.begin() + kCentralHeaderSize, all.begin() + kCentralHeaderSize + n);
  e.extra.assign(all.begin() + kCentralHeaderSize + n, all.begin() + kCentralHeaderSize + n + m);
  e.comment.assign(all.begin() + kCentralHeaderSize + n + m, all.begin() + kCentralHeaderSize + n + m + k);
  e.name = Name(e.rawName, h.flags);
  CentralHeader wide = h;
  ParseExtraField(e.extra, true, e.centralExtra, wide.compressedSize, wide.uncompressedSize, &wide.localHeaderOffset);
  e.compressedSize = FullCompressedSize(wide.compressedSize, e.centralExtra);
  e.uncompressedSize = FullUncompressedSize(wide.uncompressedSize, e.centralExtra);
  e.localHeaderPos = Widen48(wide.localHeaderOffset, e.centralExtra.offsetHigh) + where.prefixAdjust;
  e.crc32 = h.crc32;
  e.method = h.method;
  e.flags = h.flags;
}

void Opener::WalkCentral() {
  int64_t pos = where.directoryStart;
  const int64_t size = src.Size();
  // The directory is read in one piece when its recorded size is sane;
  // entries past that size (counts that lie) are read in further pieces.
  int64_t claimed = int64_t(std::min<uint64_t>(where.DirectorySize(), uint64_t(size)));
  if (claimed <= 0 || claimed > size - pos) claimed = int64_t(kDirectoryChunkMin);
  const size_t chunk = std::clamp(size_t(claimed), kDirectoryChunkMin, kDirectoryChunkMax);
  zip.entries.reserve(size_t(std::min<int64_t>(claimed / int64_t(kCentralHeaderSize) + 1, 1 << 20)));
  CentralHeader h;
  while (!Cancelled() && pos >= 0 && pos < size) {
    auto head = src.Cached(pos, kCentralHeaderSize);
    if (head.size() < kCentralHeaderSize) head = src.Load(pos, chunk);
    if (head.size() < kCentralHeaderSize || !h.Parse(head) || !IsSignature(head, htCentral)) break;
    const size_t total = kCentralHeaderSize + h.nameLength + h.extraLength + h.commentLength;
    auto all = src.Cached(pos, total);
    if (all.size() < total) all = src.Load(pos, std::max(chunk, total));
    if (all.size() < total) break;  // the directory runs past the end of the file
    EntryFromCentral(all, h, zip.entries.emplace_back());
    pos += int64_t(total);
  }
  zip.layout.directoryEnd = pos;
}

bool Opener::LocalNamed(int64_t pos, std::span<const uint8_t> rawName) {
  std::vector<uint8_t> b(kLocalHeaderSize + rawName.size());
  if (pos < 0 || src.ReadAt(pos, b.data(), b.size()) != b.size() || !IsSignature(b, htLocal)) return false;
  return GetLE16(&b[26]) == rawName.size() && std::equal(rawName.begin(), rawName.end(), b.begin() + kLocalHeaderSize);
}

// The distance from stated to the local header of the entry named rawName:
// first where a prefix put in front without adjusting the offsets moves
// every header (the distance between where the directory was found and
// where the records say it starts), then the next local header within one
// window that carries the name, else the first one there. 0: none.
int64_t Opener::CorrectionSearch(int64_t stated, std::span<const uint8_t> rawName) {
  const int64_t shifted = stated - where.prefixAdjust + (where.directoryStart - where.recordedStart);
  if (shifted != stated && LocalNamed(shifted, rawName)) return shifted - stated;
  const int64_t start = stated + 1;
  if (start < 0 || start >= src.Size()) return 0;
  std::vector<uint8_t> buf(static_cast<size_t>(kWindow));
  const size_t got = src.ReadAt(start, buf.data(), buf.size());
  int64_t first = 0;
  for (size_t i = 0; i + 4 <= got; ++i) {
    if (buf[i] != 'P' || !IsSignature(std::span<const uint8_t>(buf).subspan(i, 4), htLocal)) continue;
    const int64_t hit = start + int64_t(i);
    if (LocalNamed(hit, rawName)) return hit - stated;
    uint8_t b[kLocalHeaderSize];
    if (first == 0 && src.ReadAt(hit, b, sizeof b) == sizeof b) first = hit - stated;
  }
  return first;
}

// The first entry tells whether the recorded offsets need correcting: when
// its local header is missing, or belongs to another entry (an archive
// appended to another, whose comment then holds this one), the correction
// search runs once and its result holds for every entry.
void Opener::CorrectOffsets() {
  if (zip.entries.empty()) return;
  const ZipEntry& first = zip.entries.front();
  const int64_t stated = first.localHeaderPos;
  if (LocalNamed(stated, first.rawName)) return;
  uint8_t b[kLocalHeaderSize];
  const bool someLocal = stated >= 0 && src.ReadAt(stated, b, sizeof b) == sizeof b && IsSignature(b, htLocal);
  int64_t correction = CorrectionSearch(stated, first.rawName);
  // A local header of another name at the stated offset stays, unless the
  // search found one that carries this entry's name.
  if (someLocal && correction != 0 && !LocalNamed(stated + correction, first.rawName)) correction = 0;
  if (correction == 0) return;
  zip.layout.offsetCorrection = correction;
  for (ZipEntry& e : zip.entries) e.localHeaderPos += correction;
}

// ---------------------------------------------------------- the local walk

// Finds the end of a streamed Deflate member by decoding it, then takes CRC
// and sizes from its data descriptor (with or without the optional
// signature; 8-byte sizes when the header has a zip64 block). Sizes that fit
// 32 bits only: a streamed member of 4 GiB is not recovered this way.
bool Opener::MeasureStreamed(int64_t dataStart, std::span<const uint8_t> extra, ZipEntry& e, int64_t& descriptor) {
  TArchiveStream in(src);
  in.SetPosition(dataStart);
  TCrcRegister crc;
  crc.CrcValue32 = CrcMask;
  int64_t clen = 0, ulen = 0;
  {
    TDecompressStream decoder(in, -15);
    std::vector<uint8_t> out(65536);
    while (!decoder.EndOfData() && !Cancelled()) {
      const int64_t n = decoder.ReadChunk(out.data(), int64_t(out.size()), int64_t(out.size()));
      if (n <= 0) break;
      crc.UpdateCrcOfKind(kCrcKind32, out.data(), int32_t(n));
    }
    if (!decoder.EndOfData()) return false;
    clen = decoder.TotalIn();
    ulen = decoder.TotalOut();
  }
  if (clen > 0xFFFFFFFF || ulen > 0xFFFFFFFF) return false;
  uint8_t desc[24] = {};
  const size_t got = src.ReadAt(dataStart + clen, desc, sizeof desc);
  const bool wide = CountExtraBlocks(extra, kExtraZip64) > 0;
  DataDescriptor d;
  descriptor = 0;
  e.crc32 = crc.CrcValue32 ^ CrcMask;  // without a descriptor: what the data decode to
  if (d.Parse(std::span<const uint8_t>(desc, got), wide) && d.compressedSize == uint64_t(clen) &&
      d.uncompressedSize == uint64_t(ulen)) {
    e.crc32 = d.crc32;
    descriptor = int64_t(d.Size());
  }
  e.compressedSize = uint64_t(clen);
  e.uncompressedSize = uint64_t(ulen);
  return true;
}

void Opener::WalkLocal(int64_t pos) {
  uint8_t b[kLocalHeaderSize];
  if (src.ReadAt(pos, b, 4) == 4 && GetLE32(b) == kSigDataDescriptor) pos += 4;
  std::vector<uint8_t> nameExtra;
  while (!Cancelled()) {
    LocalHeader lh;
    if (src.ReadAt(pos, b, sizeof b) < sizeof b || !lh.Parse(b) || !IsSignature(b, htLocal)) break;
    const size_t n = lh.nameLength, m = lh.extraLength;
    nameExtra.resize(n + m);
    if (src.ReadAt(pos + int64_t(kLocalHeaderSize), nameExtra.data(), n + m) < n + m) break;
    ZipEntry e;
    e.fromCentral = false;
    e.rawName.assign(nameExtra.begin(), nameExtra.begin() + n);
    e.extra.assign(nameExtra.begin() + n, nameExtra.end());
    e.name = Name(e.rawName, lh.flags);
    CentralHeader& h = e.central;
    h.versionNeeded = lh.versionNeeded;
    h.flags = e.flags = lh.flags;
    h.method = e.method = lh.method;
    h.dosDateTime = lh.dosDateTime;
    h.crc32 = e.crc32 = lh.crc32;
    h.nameLength = lh.nameLength;
    h.extraLength = lh.extraLength;
    uint32_t cs = lh.compressedSize, us = lh.uncompressedSize;
    ParseExtraField(e.extra, false, e.centralExtra, cs, us, nullptr);
    e.compressedSize = FullCompressedSize(cs, e.centralExtra);
    e.uncompressedSize = FullUncompressedSize(us, e.centralExtra);
    e.localHeaderPos = pos;
    const int64_t dataStart = pos + int64_t(kLocalHeaderSize + n + m);
    int64_t next = AddClamped(dataStart, Clamp64(e.compressedSize));
    // A member written as a stream has no sizes in its header; its sizes and
    // CRC follow the data. Decoding finds where the data end.
    int64_t descriptor = 0;
    if ((lh.flags & kFlagDataDescriptor) && e.compressedSize == 0 && lh.method == 8 &&
        MeasureStreamed(dataStart, e.extra, e, descriptor)) {
      e.centralExtra.compressedHigh = e.centralExtra.uncompressedHigh = 0;
      e.centralExtra.hasCompressed64 = e.centralExtra.hasUncompressed64 = false;
      next = dataStart + Clamp64(e.compressedSize) + descriptor;
    }
    h.crc32 = e.crc32;
    h.compressedSize = uint32_t(e.compressedSize);
    h.uncompressedSize = uint32_t(e.uncompressedSize);
    zip.entries.push_back(std::move(e));
    if (next <= pos) break;
    pos = next;
  }
  zip.layout.directoryEnd = pos;
  if (!zip.entries.empty() && (zip.entries.front().flags & 0x2000))
    zip.Add("directory-encrypted", TSeverity::error, "",
            "the central directory is encrypted and the local headers hide their values; Parcelix does not "
            "decrypt it");
}

// ------------------------------------------------------------- findings

// The end record (and the zip64 end record) against the directory walked.
void Opener::CheckRecords() {
  ZipLayout& l = zip.layout;
  const EndRecord& er = where.endRecord;
  const bool zip64 = l.zip64;
  const uint64_t announced = zip64 ? where.zip64End.totalEntries : er.totalEntries;
  const uint64_t walked = zip.entries.size();
  const bool countOk = announced == walked || (!zip64 && er.totalEntries == (walked & 0xFFFF));
  if (!countOk) {
    l.directoryWhole = walked >= announced;
    zip.Add("entry-count", TSeverity::error, "",
            "the end record announces " + Num(announced) + " entries, the central directory holds " + Num(walked));
  }
  const uint64_t walkedSize = uint64_t(l.directoryEnd - l.directoryStart);
  const uint64_t recordedSize = where.DirectorySize();
  if (countOk && walkedSize != recordedSize && (zip64 || (walkedSize & 0xFFFFFFFF) != recordedSize))
    zip.Add("directory-size", TSeverity::error, "",
            "the end record gives the central directory " + Num(recordedSize) + " bytes, it holds " + Num(walkedSize));
  const int64_t expectedEnd = zip64 ? where.zip64EndPos : where.endRecordPos;
  if (countOk && walkedSize == recordedSize && l.directoryEnd < expectedEnd)
    zip.Add("gap-before-end-record", TSeverity::error, "",
            Num(uint64_t(expectedEnd - l.directoryEnd)) + " bytes lie between the central directory (ending at offset " +
                Num(uint64_t(l.directoryEnd)) + ") and the end record");
  if (zip64) {
    const Zip64EndRecord& z = where.zip64End;
    if ((er.totalEntries != 0xFFFF && er.totalEntries != z.totalEntries) ||
        (er.directorySize != 0xFFFFFFFF && er.directorySize != z.directorySize) ||
        (!er.wide && er.directoryOffset != 0xFFFFFFFF && er.directoryOffset != z.directoryOffset))
      zip.Add("zip64-end-record", TSeverity::error, "",
              "the zip64 end record (" + Num(z.totalEntries) + " entries, " + Num(z.directorySize) + " bytes at offset " +
                  Num(z.directoryOffset) + ") disagrees with the end record (" + Num(er.totalEntries) + " entries, " +
                  Num(er.directorySize) + " bytes at offset " + Num(er.directoryOffset) + ")");
  }
  const int64_t shift = int64_t(l.prefixAdjust) + l.offsetCorrection;
  if (shift > 0)
    zip.Add("bytes-before-archive", TSeverity::warning, "",
            Num(uint64_t(shift)) + " bytes stand in front of the archive and its offsets do not count them; "
            "they were corrected");
  const uint64_t tail = uint64_t(l.archiveSize - l.commentPos);
  if (tail != l.commentLength)
    zip.Add("comment-length", TSeverity::warning, "",
            "the end record gives the archive comment " + Num(l.commentLength) + " bytes, " + Num(tail) +
                " bytes follow the end record");
}

// What an entry's own central record says that is wrong.
void Opener::CheckEntry(const ZipEntry& e) {
  const std::string& who = e.name;
  auto err = [&](const char* code, std::string text) { zip.Add(code, TSeverity::error, who, std::move(text)); };
  if (e.rawName.empty()) err("name-empty", "a member has an empty name");
  if (std::find(e.rawName.begin(), e.rawName.end(), uint8_t(0)) != e.rawName.end())
    err("name-nul", "the name holds a NUL byte");
  const std::string& n = e.name;
  if (!n.empty() && (n[0] == '/' || (n.size() >= 2 && n[1] == ':' && std::isalpha(static_cast<unsigned char>(n[0])))))
    err("name-absolute", "the name is an absolute path");
  if (n == ".." || n.starts_with("../") || n.find("/../") != std::string::npos || n.ends_with("/.."))
    err("name-parent", "the name climbs out of its folder with \"..\"");
  if (e.Encrypted())
    err("encrypted", "the member is encrypted; Parcelix does not decrypt it");
  if (e.centralExtra.overflow)
    err("extra-overflow", "a block of the central extra field runs past the field's end");
  if (e.centralExtra.zip64Blocks > 1) err("zip64-extra-duplicated", "the central extra field holds two zip64 blocks");
  const uint64_t room = uint64_t(std::max<int64_t>(zip.layout.archiveSize - e.localHeaderPos, 0));
  if (e.compressedSize > room || e.uncompressedSize > uint64_t(INT64_MAX))
    err("size-beyond-file", "the recorded sizes (" + Num(e.compressedSize) + " compressed, " +
                                Num(e.uncompressedSize) + " uncompressed) do not fit in the file of " +
                                Num(uint64_t(zip.layout.archiveSize)) + " bytes");
}

}  // namespace

bool OpenZip(TArchiveSource& source, const EndLocation& where, const OpenOptions& options, ZipArchive& archive) {
  archive = ZipArchive{};
  return Opener(source, where, options, archive).Run();
}

bool OpenZip(TArchiveSource& source, const OpenOptions& options, ZipArchive& archive) {
  return OpenZip(source, LocateEndRecord(source), options, archive);
}

// ------------------------------------------------------------ local headers

namespace {

std::string Hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "%08x", v);
  return b;
}

// The data descriptor after the entry's data against the directory.
void CheckDescriptor(TArchiveSource& s, ZipArchive& zip, ZipEntry& e, bool wideLocal) {
  uint8_t b[24] = {};
  const size_t got = s.ReadAt(e.dataEnd, b, sizeof b);
  DataDescriptor d;
  for (const bool wide : {wideLocal, !wideLocal}) {
    if (!d.Parse(std::span<const uint8_t>(b, got), wide)) continue;
    if (d.crc32 == e.crc32 && d.compressedSize == e.compressedSize && d.uncompressedSize == e.uncompressedSize) {
      e.descriptorEnd = e.dataEnd + int64_t(d.Size());
      return;
    }
  }
  if (!d.Parse(std::span<const uint8_t>(b, got), wideLocal)) {
    zip.Add("descriptor-missing", TSeverity::error, e.name, "the data descriptor after the data is cut off");
    return;
  }
  zip.Add("descriptor-mismatch", TSeverity::error, e.name,
          "the data descriptor gives CRC " + Hex(d.crc32) + " and sizes " + Num(d.compressedSize) + "/" +
              Num(d.uncompressedSize) + ", the central directory CRC " + Hex(e.crc32) + " and sizes " +
              Num(e.compressedSize) + "/" + Num(e.uncompressedSize));
  e.descriptorEnd = e.dataEnd + int64_t(d.Size());
}

// The local header's own values against the directory's.
bool CompareLocal(ZipArchive& zip, ZipEntry& e, std::span<const uint8_t> name, const ExtraFieldRecord& rec) {
  const LocalHeader& lh = e.local;
  auto err = [&](const char* code, std::string text) { zip.Add(code, TSeverity::error, e.name, std::move(text)); };
  bool same = true;
  if (!std::equal(name.begin(), name.end(), e.rawName.begin(), e.rawName.end())) {
    err("local-name", "the local header names it \"" +
                          std::string(reinterpret_cast<const char*>(name.data()), name.size()) + "\"");
    same = false;
  }
  if (lh.method != e.method) {
    err("local-method", "the local header gives compression method " + Num(lh.method) +
                            ", the central directory " + Num(e.method));
    same = false;
  }
  if ((lh.flags & kFlagEncrypted) != (e.flags & kFlagEncrypted))
    err("local-flags", "the local header and the central directory disagree on whether it is encrypted");
  const uint64_t cs = FullCompressedSize(lh.compressedSize, rec);
  const uint64_t us = FullUncompressedSize(lh.uncompressedSize, rec);
  // With bit 3 the values follow the data; zeros here are normal.
  const bool streamed = lh.flags & kFlagDataDescriptor;
  if (!(streamed && lh.crc32 == 0) && lh.crc32 != e.crc32)
    err("local-crc", "the local header gives CRC " + Hex(lh.crc32) + ", the central directory " + Hex(e.crc32));
  if (!(streamed && cs == 0 && us == 0) && (cs != e.compressedSize || us != e.uncompressedSize)) {
    err("local-size", "the local header gives sizes " + Num(cs) + " compressed / " + Num(us) +
                          " uncompressed, the central directory " + Num(e.compressedSize) + " / " +
                          Num(e.uncompressedSize));
    same = false;
  }
  if (rec.overflow) err("extra-overflow", "a block of the local extra field runs past the field's end");
  if (rec.zip64Blocks > 1) err("zip64-extra-duplicated", "the local extra field holds two zip64 blocks");
  return same && rec.zip64Blocks <= 1;
}

}  // namespace

void ReadLocalHeader(TArchiveSource& source, ZipArchive& zip, ZipEntry& e) {
  if (e.localRead) return;
  e.localRead = true;
  // One read for the header, its name and (usually) its extra field: the
  // local name and extra field are most often those of the directory.
  std::vector<uint8_t> b(kLocalHeaderSize + e.rawName.size() + e.extra.size() + 16);
  size_t got = e.localHeaderPos < 0 ? 0 : source.ReadAt(e.localHeaderPos, b.data(), b.size());
  if (got < kLocalHeaderSize || !e.local.Parse(b) || !IsSignature(b, htLocal)) {
    zip.Add("local-header-missing", TSeverity::error, e.name,
            "no local header at offset " + Num(uint64_t(std::max<int64_t>(e.localHeaderPos, 0))));
    return;
  }
  e.localFound = true;
  const size_t n = e.local.nameLength, m = e.local.extraLength;
  const size_t need = kLocalHeaderSize + n + m;
  if (got < need && got == b.size()) {
    b.resize(need);
    got += source.ReadAt(e.localHeaderPos + int64_t(got), b.data() + got, need - got);
  }
  e.dataStart = e.localHeaderPos + int64_t(need);
  e.dataEnd = AddClamped(e.dataStart, Clamp64(e.compressedSize));
  e.descriptorEnd = e.dataEnd;
  if (got < need) {
    zip.Add("data-beyond-file", TSeverity::error, e.name, "the archive ends inside the local header");
    return;
  }
  const uint8_t* nameExtra = b.data() + kLocalHeaderSize;
  const std::span<const uint8_t> name(nameExtra, n), extra(nameExtra + n, m);
  ExtraFieldRecord rec;
  uint32_t cs = e.local.compressedSize, us = e.local.uncompressedSize;
  ParseExtraField(extra, false, rec, cs, us, nullptr);
  e.localMatches = !e.fromCentral || CompareLocal(zip, e, name, rec);
  if (e.compressedSize > uint64_t(zip.layout.archiveSize) || e.dataEnd > zip.layout.archiveSize) {
    zip.Add("data-beyond-file", TSeverity::error, e.name,
            "the data should end at offset " + Num(uint64_t(e.dataEnd)) + ", the archive ends at " +
                Num(uint64_t(zip.layout.archiveSize)));
    return;
  }
  if (e.fromCentral && ((e.flags | e.local.flags) & kFlagDataDescriptor) && e.dataEnd < zip.layout.archiveSize)
    CheckDescriptor(source, zip, e, rec.zip64Blocks > 0);
}

void ReadLocalHeaders(TArchiveSource& source, ZipArchive& zip, size_t first, size_t count) {
  const size_t end = count > zip.entries.size() - std::min(first, zip.entries.size())
                         ? zip.entries.size()
                         : first + count;
  for (size_t i = first; i < end; ++i) ReadLocalHeader(source, zip, zip.entries[i]);
}

}  // namespace parcelix
