// The update plan: the old archive located entry by entry, and the writer
// that copies, replaces, adds and drops entries into a temporary archive.
#include "engine/write/UpdatePlan.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>

#include <fcntl.h>

#include "engine/codec/Crc32.h"
#include "engine/common/ByteIO.h"
#include "engine/common/arxGbls.h"
#include "engine/read/ArchiveSource.h"
#include "engine/read/Err_Msgs.h"

namespace parcelix {

namespace {

constexpr uint32_t kNoFit32 = 0xFFFFFFFFu;
// Version made by: host 3 (Unix), so that readers take the file mode from the
// high half of the external attributes; format version 2.0 (4.5 with zip64).
constexpr uint16_t kMadeByUnix = (3 << 8) | 20;
constexpr uint16_t kVersionPlain = 20;
constexpr uint16_t kVersionZip64 = 45;
constexpr int kWindowBits = -15;           // raw Deflate, 32 KiB window
constexpr size_t kDirectoryFlush = 1 << 20;  // the directory is written in pieces of about this size

// The zip64 block of an extra field: where its data start and how long they are.
bool FindZip64(const std::vector<uint8_t>& extra, size_t& data, size_t& length) {
  size_t p = 0;
  while (p + 4 <= extra.size()) {
    const uint16_t id = GetLE16(&extra[p]);
    const size_t len = GetLE16(&extra[p + 2]);
    if (p + 4 + len > extra.size()) return false;
    if (id == kExtraZip64) {
      data = p + 4;
      length = len;
      return true;
    }
    p += 4 + len;
  }
  return false;
}

// The extra field without its zip64 block.
std::vector<uint8_t> WithoutZip64(const std::vector<uint8_t>& extra) {
  size_t data = 0, length = 0;
  if (!FindZip64(extra, data, length)) return extra;
  std::vector<uint8_t> out(extra.begin(), extra.begin() + int64_t(data - 4));
  out.insert(out.end(), extra.begin() + int64_t(data + length), extra.end());
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// The old archive

TOldArchive::TOldArchive() = default;
TOldArchive::~TOldArchive() = default;

int64_t TOldArchive::Size() const { return source_ ? source_->Size() : 0; }
uint64_t TOldArchive::Device() const { return source_ ? source_->Device() : 0; }
uint64_t TOldArchive::Inode() const { return source_ ? source_->Inode() : 0; }
bool TOldArchive::StillNames(const std::string& path) const { return source_ && source_->StillNames(path); }

bool TOldArchive::OpenSource(const std::string& path) {
  source_ = std::make_unique<TArchiveSource>();
  if (!source_->Open(path)) {
    problem_ = std::string("the archive cannot be opened: ") + std::strerror(source_->Errno());
    return false;
  }
  // The copies read through a second descriptor of the same open file: the
  // archive is opened once, and what was read is what gets copied.
  const int fd = ::fcntl(source_->Fd(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    problem_ = std::string("the archive cannot be opened: ") + std::strerror(errno);
    return false;
  }
  file_ = std::make_unique<THandleStream32>(fd);
  return true;
}

bool TOldArchive::Open(const std::string& path) {
  if (!OpenSource(path)) return false;
  const EndLocation where = LocateEndRecord(*source_);
  if (!OpenZip(*source_, where, OpenOptions{}, zip_) || !where.HasDirectory()) {
    problem_ = "the archive has no readable central directory";
    return false;
  }
  // An error about the archive as a whole (an entry count or a directory
  // size that does not match, bytes before the end record) means that the
  // entries read may not be all there are: nothing is written from them.
  for (const Finding& f : zip_.findings)
    if (f.severity == TSeverity::error && f.member.empty()) {
      problem_ = f.text;
      return false;
    }
  if (zip_.layout.localWalk || !zip_.layout.directoryWhole) {
    problem_ = "the central directory could not be read whole";
    return false;
  }
  Judge();
  if (InsideAnotherComment()) {
    problem_ = "the archive stands in the comment of another archive in front of it (one archive appended to "
               "another); readers differ on which of the two they read";
    return false;
  }
  return ReadComment();
}

bool TOldArchive::OpenForSalvage(const std::string& path) {
  if (!OpenSource(path)) return false;
  const EndLocation where = LocateEndRecord(*source_);
  const bool opened = OpenZip(*source_, where, OpenOptions{}, zip_);
  const bool archiveError = std::any_of(zip_.findings.begin(), zip_.findings.end(), [](const Finding& f) {
    return f.severity == TSeverity::error && f.member.empty();
  });
  if (!opened || archiveError || !zip_.layout.directoryWhole) WalkLocalHeaders();
  if (zip_.entries.empty()) {
    problem_ = "no member of the archive could be found";
    return false;
  }
  Judge();
  if (!ReadComment()) comment_.clear();
  return true;
}

// The local headers from the first one in the file on, in place of a
// directory that is missing or wrong, when they name more entries. Where a
// run of headers breaks off (damaged data), the walk goes on at the next
// local header signature, so that members after the damage are found too.
bool TOldArchive::WalkLocalHeaders() {
  ZipArchive all;
  for (int64_t from = 0, at; (at = NextLocalSignature(from)) >= 0;) {
    EndLocation where;
    where.headerState = HtBit(htLocal);
    where.directoryStart = at;
    ZipArchive walked;
    OpenZip(*source_, where, OpenOptions{}, walked);
    from = std::max(at + 4, walked.layout.directoryEnd);
    if (walked.entries.empty()) continue;
    if (all.entries.empty()) {
      all.layout = walked.layout;
    }
    for (ZipEntry& e : walked.entries) all.entries.push_back(std::move(e));
    for (Finding& f : walked.findings) all.findings.push_back(std::move(f));
  }
  if (all.entries.size() <= zip_.entries.size()) return false;
  all.layout.directoryEnd = Size();
  zip_ = std::move(all);
  return true;
}

// The first local header signature at or after from, or -1.
int64_t TOldArchive::NextLocalSignature(int64_t from) const {
  constexpr size_t kChunk = 1 << 16;
  std::vector<uint8_t> b(kChunk + 3);
  for (int64_t pos = from; pos < Size(); pos += int64_t(kChunk)) {
    const size_t got = source_->ReadAt(pos, b.data(), b.size());
    for (size_t i = 0; i + 4 <= got; ++i)
      if (GetLE32(&b[i]) == kSigLocal) return pos + int64_t(i);
  }
  return -1;
}

// Every entry judged, overlaps found, and the bytes in front measured.
void TOldArchive::Judge() {
  JudgeEntries();
  CheckOverlaps();
  prefix_ = 0;
  for (size_t i = 0; i < zip_.entries.size(); ++i)
    if (i == 0 || zip_.entries[i].localHeaderPos < prefix_) prefix_ = zip_.entries[i].localHeaderPos;
}

// Whether the bytes in front hold the end record of an archive whose comment
// runs to the end of the file: that archive's readers would find a comment
// of another length after any change.
bool TOldArchive::InsideAnotherComment() const {
  // Only the last 64 KiB can hold such a record; an entry's recorded offset
  // may lie anywhere, even past the end, so the window is cut to the file.
  const int64_t size = Size();
  const int64_t to = std::min(prefix_, size);
  return FindEndRecordIn(*source_, size - int64_t(kEndRecordSize) - 0xFFFF, to,
                         [size](int64_t pos, const EndRecord& outer) {
                           return pos + int64_t(kEndRecordSize) + outer.commentLength == size;
                         }) >= 0;
}

// Reads every local header and keeps, per entry, why its bytes cannot be
// copied exactly: the reader's verdict, in the words of its finding.
void TOldArchive::JudgeEntries() {
  uncopyable_.assign(zip_.entries.size(), {});
  nameless_.assign(zip_.entries.size(), false);
  for (size_t i = 0; i < zip_.entries.size(); ++i) {
    ZipEntry& e = zip_.entries[i];
    const size_t before = zip_.findings.size();
    ReadLocalHeader(*source_, zip_, e);
    std::vector<const Finding*> blocking;
    bool crcDiffers = false;
    for (size_t k = before; k < zip_.findings.size(); ++k) {
      if (FindingBlocksCopy(zip_.findings[k].code)) blocking.push_back(&zip_.findings[k]);
      crcDiffers |= zip_.findings[k].code == "local-crc";
    }
    // A local header whose name was left out but that agrees on everything
    // else is the entry's own: it is copied with its name put back.
    if (e.localFound && e.local.nameLength == 0 && !crcDiffers && blocking.size() == 1 &&
        blocking.front()->code == "local-name") {
      nameless_[i] = true;
      continue;
    }
    if (!blocking.empty()) uncopyable_[i] = blocking.front()->text;
    else if (!zip_.CanCopy(e)) uncopyable_[i] = "its local header does not match the central directory";
  }
}

int TOldArchive::FirstUncopyable() const {
  for (size_t i = 0; i < uncopyable_.size(); ++i)
    if (!uncopyable_[i].empty()) return int(i);
  return -1;
}

bool TOldArchive::ReadComment() {
  const ZipLayout& l = zip_.layout;
  comment_.resize(l.commentLength);
  if (source_->ReadAt(l.commentPos, comment_.data(), comment_.size()) != comment_.size()) {
    problem_ = "the archive comment runs past the end of the archive";
    return false;
  }
  return true;
}

// Two entries whose bytes overlap cannot both be copied as they are.
void TOldArchive::CheckOverlaps() {
  const auto& entries = zip_.entries;
  std::vector<size_t> order(entries.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return entries[a].localHeaderPos < entries[b].localHeaderPos; });
  for (size_t k = 1; k < order.size(); ++k) {
    const size_t prev = order[k - 1], next = order[k];
    if (!uncopyable_[prev].empty() || !uncopyable_[next].empty()) continue;
    if (entries[prev].descriptorEnd <= entries[next].localHeaderPos) continue;
    uncopyable_[next] = "its bytes overlap those of \"" + entries[prev].name + "\"";
  }
}

// ---------------------------------------------------------------------------
// Records of new entries

std::string EncodeStoredName(const std::string& storedName, uint16_t& utf8Flag) {
  std::string name = storedName;
  std::replace(name.begin(), name.end(), '\\', '/');
  // What Java's tools expect: ASCII as it is, other names UTF-8 with bit 11.
  utf8Flag = (!IsAscii(name) && IsValidUtf8(name)) ? kFlagUtf8 : 0;
  return name;
}

TLocalImage MakeLocalImage(const TNewEntry& e) {
  TLocalImage img;
  LocalHeader& h = img.header;
  h.flags = e.header.flags;
  h.method = e.header.method;
  h.dosDateTime = e.header.dosDateTime;
  h.crc32 = e.header.crc32;
  // A file that may not fit 32 bits carries both sizes in a zip64 block;
  // deflated data can be a little larger than the file.
  const bool zip64 = e.uncompressedSize >= 0xF0000000LL || e.compressedSize >= int64_t(kNoFit32);
  h.versionNeeded = zip64 ? kVersionZip64 : kVersionPlain;
  if (zip64) {
    const uint64_t values[] = {uint64_t(e.uncompressedSize), uint64_t(e.compressedSize)};
    img.extra = Zip64ExtraBlock(values);
    h.compressedSize = h.uncompressedSize = kNoFit32;
  } else {
    h.compressedSize = uint32_t(e.compressedSize);
    h.uncompressedSize = uint32_t(e.uncompressedSize);
  }
  h.nameLength = uint16_t(e.name.size());
  h.extraLength = uint16_t(img.extra.size());
  return img;
}

namespace {

// Sets the 32-bit size and offset fields of e's central header, the
// placeholder where a value does not fit; returns those values in the order
// of a zip64 block.
std::vector<uint64_t> CentralWideFields(TNewEntry& e) {
  CentralHeader& c = e.header;
  std::vector<uint64_t> wide;
  auto field = [&](int64_t v, uint32_t& slot) {
    if (v >= int64_t(kNoFit32)) wide.push_back(uint64_t(v));
    slot = v >= int64_t(kNoFit32) ? kNoFit32 : uint32_t(v);
  };
  field(e.uncompressedSize, c.uncompressedSize);
  field(e.compressedSize, c.compressedSize);
  field(e.localOffset, c.localHeaderOffset);
  return wide;
}

}  // namespace

void FinishCentral(TNewEntry& e, uint16_t versionMadeBy, uint32_t externalAttributes) {
  CentralHeader& c = e.header;
  c.versionMadeBy = versionMadeBy ? versionMadeBy : kMadeByUnix;
  c.internalAttributes = 1;
  c.externalAttributes = externalAttributes;
  const std::vector<uint64_t> wide = CentralWideFields(e);
  c.versionNeeded = wide.empty() && e.uncompressedSize < 0xF0000000LL ? kVersionPlain : kVersionZip64;
  e.extra = wide.empty() ? std::vector<uint8_t>{} : Zip64ExtraBlock(wide);
}

std::vector<uint8_t> ExtraWithoutZip64(std::span<const uint8_t> extra) {
  std::vector<uint8_t> out;
  for (size_t p = 0; p + 4 <= extra.size();) {
    const size_t len = GetLE16(&extra[p + 2]);
    if (p + 4 + len > extra.size()) break;
    if (GetLE16(&extra[p]) != kExtraZip64) out.insert(out.end(), extra.begin() + int64_t(p), extra.begin() + int64_t(p + 4 + len));
    p += 4 + len;
  }
  return out;
}

TNewEntry NormalCentral(const ZipEntry& old, int64_t newOffset) {
  TNewEntry e;
  e.header = old.central;
  e.header.flags = uint16_t(old.flags & ~kFlagDataDescriptor);
  e.header.method = old.method;
  e.header.crc32 = old.crc32;
  e.header.diskNumberStart = 0;
  e.name = old.rawName;
  e.comment = old.comment;
  e.compressedSize = int64_t(old.compressedSize);
  e.uncompressedSize = int64_t(old.uncompressedSize);
  e.localOffset = newOffset;
  const std::vector<uint64_t> wide = CentralWideFields(e);
  e.extra = wide.empty() ? std::vector<uint8_t>{} : Zip64ExtraBlock(wide);
  const std::vector<uint8_t> rest = ExtraWithoutZip64(old.extra);
  e.extra.insert(e.extra.end(), rest.begin(), rest.end());
  if (!wide.empty()) e.header.versionNeeded = std::max(e.header.versionNeeded, kVersionZip64);
  return e;
}

// ---------------------------------------------------------------------------
// The plan writer

bool TPlanWriter::Fail(const std::string& name, int code, const std::string& text) {
  if (Report) Report(name, code, text);
  return false;
}

bool TPlanWriter::Run(const std::vector<TPlanStep>& steps) {
  end_ = out_.Seek(0, soFromEnd);
  if (old_ && KeepPrefix && end_ == 0 && old_->PrefixLength() > 0) {
    // A self-extracting stub (the bytes before the first entry) stays in front.
    copyFrom_ = 0;
    copyLength_ = old_->PrefixLength();
    end_ += copyLength_;
  }
  for (const TPlanStep& step : steps) {
    if (Cancel && *Cancel) return false;
    const bool kept = Step(step);
    if (step.kind != TPlanStep::Kind::Drop && !kept && step.kind != TPlanStep::Kind::File) return false;
    if (OnStep) OnStep(step, kept);
  }
  return FlushCopy() && WriteDirectory();
}

bool TPlanWriter::Step(const TPlanStep& step) {
  using K = TPlanStep::Kind;
  switch (step.kind) {
    case K::Copy: return CopyOld(step.old);
    case K::Drop: return false;
    case K::Rename: return FlushCopy() && RenameOld(step);
    case K::Restamp: return FlushCopy() && RestampOld(step.old);
    case K::Bytes: return FlushCopy() && WriteBytes(step);
    case K::File: {
      if (!FlushCopy() || !WriteFile) return false;
      const int64_t start = out_.Seek(0, soFromEnd);
      TNewEntry e;
      e.localOffset = start;
      const bool ok = WriteFile(step, e);
      if (!ok) {
        // A failed entry leaves nothing behind: its partial data is cut off.
        out_.SetSize(start);
      } else {
        entries_.push_back(std::move(e));
      }
      end_ = out_.Seek(0, soFromEnd);
      return ok;
    }
  }
  return false;
}

TNewEntry TPlanWriter::OldCentral(int old, int64_t newOffset) const {
  const ZipEntry& r = old_->Entries().at(size_t(old));
  TNewEntry e;
  e.header = r.central;
  e.name = r.rawName;
  e.extra = r.extra;
  e.comment = r.comment;
  e.compressedSize = int64_t(r.compressedSize);
  e.uncompressedSize = int64_t(r.uncompressedSize);
  e.localOffset = newOffset;
  if (r.central.localHeaderOffset != kNoFit32 && newOffset < int64_t(kNoFit32)) {
    e.header.localHeaderOffset = uint32_t(newOffset);
    return e;
  }
  // The offset lives (or must now live) in the zip64 block, after the sizes
  // whose 32-bit fields hold the placeholder.
  std::vector<uint64_t> values;
  if (r.central.uncompressedSize == kNoFit32) values.push_back(r.uncompressedSize);
  if (r.central.compressedSize == kNoFit32) values.push_back(r.compressedSize);
  values.push_back(uint64_t(newOffset));
  e.header.localHeaderOffset = kNoFit32;
  if (e.header.diskNumberStart == 0xFFFF) e.header.diskNumberStart = 0;
  e.extra = WithoutZip64(r.extra);
  const auto block = Zip64ExtraBlock(values);
  e.extra.insert(e.extra.begin(), block.begin(), block.end());
  e.header.versionNeeded = std::max(e.header.versionNeeded, kVersionZip64);
  return e;
}

bool TPlanWriter::CopyOld(int old) {
  const ZipEntry& src = old_->Entries().at(size_t(old));
  if (const std::string& why = old_->Uncopyable(old); !why.empty()) return Fail(src.name, kErrBadBlock, why);
  // A local header without its name gets the central one: the copy reads
  // the same everywhere, and no reader warns about the names disagreeing.
  if (old_->LocalNameMissing(old)) return FlushCopy() && WriteOldAs(old, src.rawName, src.central.flags & kFlagUtf8);
  entries_.push_back(OldCentral(old, end_));
  const int64_t length = src.descriptorEnd - src.localHeaderPos;
  // Old entries that lie back to back are copied in one piece.
  if (copyLength_ > 0 && copyFrom_ + copyLength_ == src.localHeaderPos) {
    copyLength_ += length;
  } else {
    if (!FlushCopy()) return false;
    copyFrom_ = src.localHeaderPos;
    copyLength_ = length;
  }
  end_ += length;
  return true;
}

bool TPlanWriter::FlushCopy() {
  if (copyLength_ <= 0) return true;
  const int64_t length = std::exchange(copyLength_, 0);
  old_->File().SetPosition(copyFrom_);
  out_.Seek(0, soFromEnd);
  if (out_.CopyFrom(old_->File(), length) != length) return Cancel && *Cancel ? false : Fail("", kErrReadFile);
  return true;
}

bool TPlanWriter::RenameOld(const TPlanStep& step) {
  const ZipEntry& src = old_->Entries().at(size_t(step.old));
  if (const std::string& why = old_->Uncopyable(step.old); !why.empty()) return Fail(src.name, kErrBadBlock, why);
  uint16_t flag = 0;
  const std::string name = EncodeStoredName(step.name, flag);
  if (name.empty() || name.size() > 0xFFFF) return Fail(step.name, kErrInvalidName);
  return WriteOldAs(step.old, std::span(reinterpret_cast<const uint8_t*>(name.data()), name.size()), flag);
}

// The old entry's local header and extra field under name, then its data
// and data descriptor as they are.
bool TPlanWriter::WriteOldAs(int old, std::span<const uint8_t> name, uint16_t utf8Flag) {
  const ZipEntry& src = old_->Entries().at(size_t(old));
  LocalHeader h = src.local;
  std::vector<uint8_t> extra(h.extraLength);
  if (old_->File().ReadAt(src.dataStart - h.extraLength, extra.data(), h.extraLength) != h.extraLength)
    return Fail(src.name, kErrReadFile);
  h.flags = uint16_t((h.flags & ~kFlagUtf8) | utf8Flag);
  h.nameLength = uint16_t(name.size());
  TNewEntry e = OldCentral(old, out_.Seek(0, soFromEnd));
  e.header.flags = uint16_t((e.header.flags & ~kFlagUtf8) | utf8Flag);
  e.name.assign(name.begin(), name.end());
  const auto bytes = h.Bytes();
  out_.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  out_.WriteBuffer(name.data(), int64_t(name.size()));
  if (!extra.empty()) out_.WriteBuffer(extra.data(), int64_t(extra.size()));
  const int64_t rest = src.descriptorEnd - src.dataStart;
  old_->File().SetPosition(src.dataStart);
  if (rest > 0 && out_.CopyFrom(old_->File(), rest) != rest) return Fail(src.name, kErrReadFile);
  entries_.push_back(std::move(e));
  end_ = out_.Seek(0, soFromEnd);
  return true;
}

bool TPlanWriter::RestampOld(int old) {
  const ZipEntry& src = old_->Entries().at(size_t(old));
  if (!src.localFound || src.dataStart < 0 || src.dataEnd < src.dataStart || src.dataEnd > old_->Size())
    return Fail(src.name, kErrBadBlock, "its data cannot be found");
  // The local extra field as stored, without its zip64 blocks.
  std::vector<uint8_t> localExtra(src.local.extraLength);
  if (old_->File().ReadAt(src.dataStart - int64_t(localExtra.size()), localExtra.data(), int64_t(localExtra.size())) !=
      int64_t(localExtra.size()))
    return Fail(src.name, kErrReadFile);
  TNewEntry e = NormalCentral(src, out_.Seek(0, soFromEnd));
  TLocalImage local = MakeLocalImage(e);
  const std::vector<uint8_t> kept = ExtraWithoutZip64(localExtra);
  local.extra.insert(local.extra.end(), kept.begin(), kept.end());
  if (local.extra.size() > 0xFFFF) local.extra.resize(local.extra.size() - kept.size());
  local.header.extraLength = uint16_t(local.extra.size());
  local.header.versionNeeded = std::max(local.header.versionNeeded, e.header.versionNeeded);
  const auto bytes = local.header.Bytes();
  out_.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  out_.WriteBuffer(e.name.data(), int64_t(e.name.size()));
  if (!local.extra.empty()) out_.WriteBuffer(local.extra.data(), int64_t(local.extra.size()));
  const int64_t length = src.dataEnd - src.dataStart;
  old_->File().SetPosition(src.dataStart);
  if (length > 0 && out_.CopyFrom(old_->File(), length) != length) return Fail(src.name, kErrReadFile);
  entries_.push_back(std::move(e));
  end_ = out_.Seek(0, soFromEnd);
  return true;
}

bool TPlanWriter::WriteBytes(const TPlanStep& step) {
  uint16_t flag = 0;
  const std::string name = EncodeStoredName(step.name, flag);
  if (name.empty() || name.size() > 0xFFFF) return Fail(step.name, kErrInvalidName);
  TNewEntry e;
  e.name.assign(name.begin(), name.end());
  e.uncompressedSize = int64_t(step.data.size());
  uint32_t crc = CrcMask;
  UpdateCrc32(step.data.data(), int32_t(step.data.size()), crc);
  e.header.crc32 = crc ^ CrcMask;
  TMemoryStream32 packed;
  if (!step.data.empty() && Level != dtDeflateS) {
    TJobRecord job;
    job.Cancel = Cancel;
    TCompressStream deflater(packed, Level, kWindowBits, job);
    deflater.Write(step.data.data(), int64_t(step.data.size()));
    deflater.Finish();
  }
  const bool deflate = packed.GetSize() > 0 && packed.GetSize() <= e.uncompressedSize;
  e.header.method = deflate ? 8 : 0;
  e.header.flags = flag;
  e.header.dosDateTime = step.dosDateTime;
  e.compressedSize = deflate ? packed.GetSize() : e.uncompressedSize;
  e.localOffset = out_.Seek(0, soFromEnd);
  const TLocalImage local = MakeLocalImage(e);
  const auto bytes = local.header.Bytes();
  out_.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  out_.WriteBuffer(e.name.data(), int64_t(e.name.size()));
  if (!local.extra.empty()) out_.WriteBuffer(local.extra.data(), int64_t(local.extra.size()));
  if (deflate) out_.WriteBuffer(packed.Memory(), packed.GetSize());
  else if (!step.data.empty()) out_.WriteBuffer(step.data.data(), int64_t(step.data.size()));
  FinishCentral(e, step.versionMadeBy, step.externalAttributes);
  entries_.push_back(std::move(e));
  end_ = out_.Seek(0, soFromEnd);
  return true;
}

bool TPlanWriter::WriteDirectory() {
  const int64_t directoryOffset = out_.Seek(0, soFromEnd);
  std::vector<uint8_t> out;
  out.reserve(std::min<size_t>(kDirectoryFlush + 4096, entries_.size() * 96 + 64));
  bool ok = true;
  auto flush = [&] {
    if (!out.empty() && out_.Write(out.data(), int64_t(out.size())) != int64_t(out.size())) ok = false;
    out.clear();
  };
  for (TNewEntry& e : entries_) {
    e.header.nameLength = uint16_t(e.name.size());
    e.header.extraLength = uint16_t(e.extra.size());
    e.header.commentLength = uint16_t(e.comment.size());
    ByteWriter w(out);
    w.bytes(e.header.Bytes());
    w.bytes(e.name);
    w.bytes(e.extra);
    w.bytes(e.comment);
    if (out.size() >= kDirectoryFlush) flush();
  }
  flush();
  const int64_t directorySize = out_.Seek(0, soFromEnd) - directoryOffset;
  // An archive with no entry left is the bare end record.
  const bool empty = entries_.empty();
  const auto tail = DirectoryEndBytes(entries_.size(), empty ? 0 : uint64_t(directoryOffset),
                                      uint64_t(directorySize), empty ? std::span<const uint8_t>() : Comment);
  if (!ok || out_.Write(tail.data(), int64_t(tail.size())) != int64_t(tail.size()))
    return Fail("", kErrWriteFile);
  return true;
}

}  // namespace parcelix
