// The update plan: the old archive located entry by entry, and the writer
// that copies, replaces, adds and drops entries into a temporary archive.
#include "engine/write/UpdatePlan.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>

#include <sys/stat.h>

#include "engine/codec/Crc32.h"
#include "engine/codec/Inflate.h"
#include "engine/common/ByteIO.h"
#include "engine/common/arxGbls.h"
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

std::string Hex(int64_t v) {
  char b[24];
  std::snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(v));
  return b;
}

std::string Shown(const RawCentralEntry& e) {
  std::string s(e.rawName.begin(), e.rawName.end());
  return s.empty() ? e.name : s;
}

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

bool TOldArchive::Open(TUnZip& reader, std::unique_ptr<TFileStream32> file) {
  file_ = std::move(file);
  std::vector<RawCentralEntry> raw;
  if (!reader.ReadRawDirectory(raw)) {
    problem_ = "the archive has no readable central directory";
    return false;
  }
  struct stat byPath {}, opened {};
  if (!file_ || !file_->IsOpen() || ::fstat(file_->Handle(), &opened) != 0 ||
      ::stat(reader.ArchiveFile().c_str(), &byPath) != 0 || opened.st_ino != byPath.st_ino ||
      opened.st_dev != byPath.st_dev) {
    problem_ = "the archive changed while it was opened";
    return false;
  }
  size_ = opened.st_size;
  entries_.reserve(raw.size());
  for (auto& r : raw) entries_.push_back(Entry{std::move(r), 0, 0, 0, {}});
  if (!ReadEnd(reader.CentralDirectoryStart())) return false;
  for (auto& e : entries_) Locate(e);
  CheckOverlaps();
  prefix_ = 0;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (i == 0 || entries_[i].start < prefix_) prefix_ = entries_[i].start;
  return true;
}

int TOldArchive::FirstUncopyable() const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (!entries_[i].problem.empty()) return int(i);
  return -1;
}

bool TOldArchive::ReadAt(int64_t pos, void* dst, int64_t n) const {
  if (pos < 0 || n < 0 || pos > size_ - n) return false;
  return n == 0 || file_->ReadAt(pos, dst, n) == n;
}

bool TOldArchive::ReadMember(int i, std::vector<uint8_t>& out, std::string& problem, int64_t maxSize) {
  const Entry& e = entries_.at(size_t(i));
  const CentralHeader& h = e.raw.header;
  out.clear();
  if (!e.problem.empty()) problem = e.problem;
  else if (h.flags & kFlagEncrypted) problem = "it is encrypted";
  else if (h.method != 0 && h.method != 8 && h.method != 9) problem = ErrorMessage(kErrUnsupportedMethod);
  else if (e.raw.uncompressedSize > maxSize || e.raw.uncompressedSize < 0) problem = "it is too large";
  if (!problem.empty()) return false;
  out.reserve(size_t(e.raw.uncompressedSize));
  if (h.method == 0) {
    out.resize(size_t(std::min(e.raw.compressedSize, e.raw.uncompressedSize)));
    if (!ReadAt(e.dataStart, out.data(), int64_t(out.size()))) out.clear();
  } else {
    TInflateJob job;
    file_->SetPosition(e.dataStart);
    job.Archive = file_.get();
    job.CompressedSize = e.raw.compressedSize;
    job.UncompressedSize = e.raw.uncompressedSize;
    job.Output = [&out](const uint8_t* b, uint32_t n) {
      out.insert(out.end(), b, b + n);
      return n;
    };
    InflateMember(job, -15, h.method == 9);
  }
  uint32_t crc = CrcMask;
  UpdateCrc32(out.data(), int32_t(out.size()), crc);
  if (int64_t(out.size()) != e.raw.uncompressedSize) problem = ErrorMessage(kErrReadFile);
  else if ((crc ^ CrcMask) != h.crc32) problem = ErrorMessage(kErrCrcCheck);
  return problem.empty();
}

// The end record gives the comment, and tells whether the directory was read
// whole: its entry count and directory size must be those of the entries.
bool TOldArchive::ReadEnd(int64_t directoryStart) {
  const int64_t tail = std::min<int64_t>(size_, int64_t(kEndRecordSize) + 0xFFFF);
  std::vector<uint8_t> buf(size_t(std::max<int64_t>(tail, 0)));
  if (tail < int64_t(kEndRecordSize) || !ReadAt(size_ - tail, buf.data(), tail)) {
    problem_ = "the archive has no end record";
    return false;
  }
  EndRecord end;
  int64_t at = -1;
  for (int64_t p = tail - int64_t(kEndRecordSize); p >= 0 && at < 0; --p) {
    if (GetLE32(&buf[size_t(p)]) != kSigEnding) continue;
    if (end.Parse(std::span<const uint8_t>(buf).subspan(size_t(p))) &&
        p + int64_t(kEndRecordSize) + end.commentLength <= tail)
      at = p;
  }
  if (at < 0) {
    problem_ = "the archive has no end record";
    return false;
  }
  comment_.assign(buf.begin() + at + int64_t(kEndRecordSize),
                  buf.begin() + at + int64_t(kEndRecordSize) + end.commentLength);
  uint64_t directorySize = 0;
  for (const auto& e : entries_)
    directorySize += kCentralHeaderSize + e.raw.rawName.size() + e.raw.extra.size() + e.raw.comment.size();
  if (end.totalEntries != 0xFFFF && end.totalEntries != (entries_.size() & 0xFFFF)) {
    problem_ = "the end record counts " + std::to_string(end.totalEntries) + " entries, the central directory holds " +
               std::to_string(entries_.size());
    return false;
  }
  if (end.directorySize != kNoFit32 && end.directorySize != directorySize) {
    problem_ = "the end record gives a central directory of " + std::to_string(end.directorySize) +
               " bytes, its entries take " + std::to_string(directorySize);
    return false;
  }
  (void)directoryStart;
  return true;
}

// Finds where an entry's bytes lie and whether they can be copied as they are.
void TOldArchive::Locate(Entry& e) {
  e.start = e.raw.localHeaderPosition;
  uint8_t fixed[kLocalHeaderSize];
  LocalHeader h;
  if (!ReadAt(e.start, fixed, int64_t(kLocalHeaderSize)) || !h.Parse(fixed) || h.signature != kSigLocal) {
    e.problem = "no local header at offset " + Hex(e.start);
    return;
  }
  std::vector<uint8_t> name(h.nameLength), extra(h.extraLength);
  const int64_t namePos = e.start + int64_t(kLocalHeaderSize);
  if (!ReadAt(namePos, name.data(), int64_t(name.size())) ||
      !ReadAt(namePos + int64_t(name.size()), extra.data(), int64_t(extra.size()))) {
    e.problem = "the local header at offset " + Hex(e.start) + " runs past the end of the archive";
    return;
  }
  e.problem = CheckLocal(e, h, name, extra);
  if (!e.problem.empty()) return;
  e.dataStart = namePos + int64_t(name.size() + extra.size());
  e.end = e.dataStart + e.raw.compressedSize;
  if (e.raw.compressedSize < 0 || e.end > size_) {
    e.problem = "its data (" + std::to_string(e.raw.compressedSize) + " bytes from offset " + Hex(e.dataStart) +
                ") run past the end of the archive";
    return;
  }
  if ((h.flags | e.raw.header.flags) & kFlagDataDescriptor) {
    size_t data = 0, length = 0;
    const int64_t d = DescriptorLength(e, FindZip64(extra, data, length));
    if (d < 0) {
      e.problem = "no data descriptor after its data at offset " + Hex(e.end);
      return;
    }
    e.end += d;
  }
}

// The local header must belong to the entry and agree with the central one
// on the method and the sizes (with flag bit 3 it may hold zeros instead).
std::string TOldArchive::CheckLocal(const Entry& e, const LocalHeader& h, std::span<const uint8_t> name,
                                    std::span<const uint8_t> extra) const {
  const RawCentralEntry& c = e.raw;
  if (!name.empty() && !std::equal(name.begin(), name.end(), c.rawName.begin(), c.rawName.end()))
    return "the local header at offset " + Hex(e.start) + " belongs to '" +
           std::string(name.begin(), name.end()) + "'";
  if (h.method != c.header.method)
    return "the local header gives method " + std::to_string(h.method) + ", the central directory " +
           std::to_string(c.header.method);
  uint32_t csize = h.compressedSize, usize = h.uncompressedSize;
  ExtraFieldRecord rec;
  ParseExtraField(extra, false, rec, csize, usize, nullptr);
  const int64_t localC = Widen48(csize, rec.compressedHigh), localU = Widen48(usize, rec.uncompressedHigh);
  const bool descriptor = (h.flags | c.header.flags) & kFlagDataDescriptor;
  auto differs = [&](int64_t local, int64_t central) { return local != central && !(descriptor && local == 0); };
  if (differs(localC, c.compressedSize))
    return "the local header gives a compressed size of " + std::to_string(localC) + ", the central directory " +
           std::to_string(c.compressedSize);
  if (differs(localU, c.uncompressedSize))
    return "the local header gives a size of " + std::to_string(localU) + ", the central directory " +
           std::to_string(c.uncompressedSize);
  return {};
}

// The descriptor after data written with flag bit 3: CRC, compressed and
// uncompressed size (8 bytes each in the zip64 form), optionally led by the
// signature. -1 when none of its forms stands there.
int64_t TOldArchive::DescriptorLength(const Entry& e, bool zip64) const {
  const int64_t sizes = zip64 ? 16 : 8;
  uint8_t b[8] = {};
  const int64_t avail = std::min<int64_t>(8, size_ - e.end);
  if (avail < 4 || !ReadAt(e.end, b, avail)) return -1;
  const uint32_t first = GetLE32(b);
  int64_t length = -1;
  if (first == kSigDataDescriptor) length = 8 + sizes;
  else if (first == e.raw.header.crc32) length = 4 + sizes;
  else if (first == kSigLocal || first == kSigCentral) length = 0;  // written without one after all
  return length >= 0 && e.end + length <= size_ ? length : -1;
}

// Two entries whose bytes overlap cannot both be copied as they are.
void TOldArchive::CheckOverlaps() {
  std::vector<size_t> order(entries_.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return entries_[a].start < entries_[b].start; });
  for (size_t k = 1; k < order.size(); ++k) {
    Entry& prev = entries_[order[k - 1]];
    Entry& next = entries_[order[k]];
    if (!prev.problem.empty() || !next.problem.empty() || prev.end <= next.start) continue;
    next.problem = "its bytes overlap those of '" + Shown(prev.raw) + "'";
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

void FinishCentral(TNewEntry& e, uint16_t versionMadeBy, uint32_t externalAttributes) {
  CentralHeader& c = e.header;
  c.versionMadeBy = versionMadeBy ? versionMadeBy : kMadeByUnix;
  c.internalAttributes = 1;
  c.externalAttributes = externalAttributes;
  std::vector<uint64_t> wide;
  auto field = [&](int64_t v, uint32_t& slot) {
    if (v >= int64_t(kNoFit32)) wide.push_back(uint64_t(v));
    slot = v >= int64_t(kNoFit32) ? kNoFit32 : uint32_t(v);
  };
  field(e.uncompressedSize, c.uncompressedSize);
  field(e.compressedSize, c.compressedSize);
  field(e.localOffset, c.localHeaderOffset);
  c.versionNeeded = wide.empty() && e.uncompressedSize < 0xF0000000LL ? kVersionPlain : kVersionZip64;
  e.extra = wide.empty() ? std::vector<uint8_t>{} : Zip64ExtraBlock(wide);
}

// ---------------------------------------------------------------------------
// The plan writer

bool TPlanWriter::Fail(const std::string& name, int code, const std::string& text) {
  if (Report) Report(name, code, text);
  return false;
}

bool TPlanWriter::Run(const std::vector<TPlanStep>& steps) {
  end_ = out_.Seek(0, soFromEnd);
  if (old_ && end_ == 0 && old_->PrefixLength() > 0) {
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
  const RawCentralEntry& r = old_->Entries().at(size_t(old)).raw;
  TNewEntry e;
  e.header = r.header;
  e.name = r.rawName;
  e.extra = r.extra;
  e.comment = r.comment;
  e.compressedSize = r.compressedSize;
  e.uncompressedSize = r.uncompressedSize;
  e.localOffset = newOffset;
  if (r.header.localHeaderOffset != kNoFit32 && newOffset < int64_t(kNoFit32)) {
    e.header.localHeaderOffset = uint32_t(newOffset);
    return e;
  }
  // The offset lives (or must now live) in the zip64 block, after the sizes
  // whose 32-bit fields hold the placeholder.
  std::vector<uint64_t> values;
  if (r.header.uncompressedSize == kNoFit32) values.push_back(uint64_t(r.uncompressedSize));
  if (r.header.compressedSize == kNoFit32) values.push_back(uint64_t(r.compressedSize));
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
  const TOldArchive::Entry& src = old_->Entries().at(size_t(old));
  if (!src.problem.empty()) return Fail(Shown(src.raw), kErrBadBlock, src.problem);
  entries_.push_back(OldCentral(old, end_));
  const int64_t length = src.end - src.start;
  // Old entries that lie back to back are copied in one piece.
  if (copyLength_ > 0 && copyFrom_ + copyLength_ == src.start) {
    copyLength_ += length;
  } else {
    if (!FlushCopy()) return false;
    copyFrom_ = src.start;
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
  const TOldArchive::Entry& src = old_->Entries().at(size_t(step.old));
  if (!src.problem.empty()) return Fail(Shown(src.raw), kErrBadBlock, src.problem);
  // The old local header, name left out, under the new name.
  uint8_t fixed[kLocalHeaderSize];
  LocalHeader h;
  if (old_->File().ReadAt(src.start, fixed, int64_t(kLocalHeaderSize)) != int64_t(kLocalHeaderSize) || !h.Parse(fixed))
    return Fail(Shown(src.raw), kErrReadFile);
  std::vector<uint8_t> extra(h.extraLength);
  if (old_->File().ReadAt(src.dataStart - h.extraLength, extra.data(), h.extraLength) != h.extraLength)
    return Fail(Shown(src.raw), kErrReadFile);
  uint16_t flag = 0;
  const std::string name = EncodeStoredName(step.name, flag);
  if (name.empty() || name.size() > 0xFFFF) return Fail(step.name, kErrInvalidName);
  h.flags = uint16_t((h.flags & ~kFlagUtf8) | flag);
  h.nameLength = uint16_t(name.size());
  TNewEntry e = OldCentral(step.old, out_.Seek(0, soFromEnd));
  e.header.flags = uint16_t((e.header.flags & ~kFlagUtf8) | flag);
  e.name.assign(name.begin(), name.end());
  const auto bytes = h.Bytes();
  out_.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  out_.WriteBuffer(name.data(), int64_t(name.size()));
  if (!extra.empty()) out_.WriteBuffer(extra.data(), int64_t(extra.size()));
  const int64_t rest = src.end - src.dataStart;
  old_->File().SetPosition(src.dataStart);
  if (rest > 0 && out_.CopyFrom(old_->File(), rest) != rest) return Fail(step.name, kErrReadFile);
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
