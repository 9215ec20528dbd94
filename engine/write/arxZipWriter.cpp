// The ZIP writer (TZipBase, TJar): local headers finished in place, stored or deflated data, old entries copied, the central directory and end record.
#include <algorithm>
#include <cstring>
#include <thread>

#include <sys/stat.h>

#include "engine/common/ByteIO.h"
#include "engine/common/arxGbls.h"
#include "engine/read/Err_Msgs.h"
#include "engine/write/arxPackAhead.h"
#include "engine/write/arxTempStreams.h"
#include "engine/write/arxZip.h"

namespace parcelix {

namespace {

constexpr uint32_t kAttrMask = 0x40BF;
// Version made by: host 3 (Unix), so that readers take the file mode from the
// high half of the external attributes; format version 2.0.
constexpr uint16_t kVersionMadeBy = (3 << 8) | 20;
constexpr uint16_t kVersionNeeded = 20;
constexpr int kWindowBits = -15;  // raw Deflate, 32 KiB window
// Files up to this size are deflated into memory first and stored when
// Deflate would make them larger.
constexpr int64_t kSmallFile = 256;
// Packing ahead: files up to this size, at most this much packed data held.
constexpr int64_t kPackAheadMaxFile = 16 << 20;
constexpr int64_t kPackAheadBudget = 64 << 20;
constexpr size_t kReadChunk = 256 * 1024;
// The central directory is written in pieces of about this size.
constexpr size_t kDirectoryFlush = 1 << 20;

// Deflate level hint in general-purpose flag bits 1 and 2.
uint16_t LevelFlags(TDeflateType t) {
  switch (t) {
    case dtDeflateS: return 6;
    case dtDeflateF: return 4;
    case dtDeflateN: return 0;
    case dtDeflateX: return 2;
  }
  return 0;
}

bool HasExtraBlock(const std::vector<uint8_t>& extra, uint16_t id) {
  size_t p = 0;
  while (p + 4 <= extra.size()) {
    const uint16_t bid = GetLE16(&extra[p]);
    const uint16_t len = GetLE16(&extra[p + 2]);
    if (bid == id) return true;
    p += 4 + size_t(len);
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Components

TZipBase::TZipBase() {
  classDefaultExt_ = ".zip";
  SetDefaultExt(".ZIP");
  StoreFilesOfType = {".ACE", ".ARC", ".ARJ", ".BH",  ".CAB", ".ENC", ".GZ",  ".HA",
                      ".JAR", ".LHA", ".LZH", ".PAK", ".PK3", ".PK_", ".RAR", ".TAR",
                      ".TGZ", ".UUE", ".UU",  ".WAR", ".XXE", ".Z",   ".ZIP", ".ZOO"};
}

TZipBase::~TZipBase() = default;

TJar::TJar() {
  classDefaultExt_ = ".jar";
  SetDefaultExt(".JAR");
}

void TZipBase::SetCompressMethod(TCompressMethod m) {
  if (m == cmStore || m == cmDeflate) compressMethod_ = m;
}

std::string TZipBase::EncodeName(const std::string& storedName, uint16_t& utf8Flag) {
  std::string name = storedName;
  std::replace(name.begin(), name.end(), '\\', '/');
  // ASCII goes as it is; other names are UTF-8 with flag bit 11, which is
  // what Java's tools expect. Bytes that are not UTF-8 (a file name in some
  // legacy encoding) are written unchanged without the flag.
  utf8Flag = (!IsAscii(name) && IsValidUtf8(name)) ? kFlagUtf8 : 0;
  return name;
}

bool TZipBase::StoredByType(const std::string& storedName) const {
  const std::string ext = ExtractFileExt(storedName);
  if (ext.empty()) return false;
  return std::any_of(StoreFilesOfType.begin(), StoreFilesOfType.end(),
                     [&](const std::string& t) { return SameTextAscii(t, ext); });
}

// ---------------------------------------------------------------------------
// Header images

void TZipBase::SetHeaderInfo(THeaderImage& image, const EntryInfo& info) {
  PutLE32(&image[chdr::kDosDateTime], info.Date);
  PutLE32(&image[chdr::kCompressedSize], uint32_t(info.CompressedSize));
  PutLE32(&image[chdr::kSize], uint32_t(info.Size));
  PutLE32(&image[chdr::kExternalAttr], info.Attr);
}

void TZipBase::GetHeaderInfo(const THeaderImage& image, const TEntryRecord& rec, EntryInfo& info) const {
  if (rec.State != esAdd && !rec.IsNew) {
    // An old entry: zip64 sizes are already widened.
    info.Size = rec.OldSize;
    info.CompressedSize = rec.OldCompressedSize;
  } else {
    info.Size = int64_t(GetLE32(&image[chdr::kSize])) | (int64_t(rec.SizeHigh) << 32);
    info.CompressedSize = int64_t(GetLE32(&image[chdr::kCompressedSize])) | (int64_t(rec.CompressedHigh) << 32);
  }
  info.Date = GetLE32(&image[chdr::kDosDateTime]);
  info.Attr = GetLE32(&image[chdr::kExternalAttr]) & kAttrMask;
}

bool TZipBase::EncodeCurrentName(const TCompHeaderItem& item) {
  encodedName_ = EncodeName(storedName_, nameFlag_);
  if (!encodedName_.empty() && encodedName_.size() <= 0xFFFF) return true;
  Report(item.Name, kErrInvalidName);
  return false;
}

void TZipBase::InitLocalHeader(const TEntryRecord& rec) {
  (void)rec;
  localHeader_.fill(0);
  PutLE32(&localHeader_[0], kSigLocal);
  PutLE16(&localHeader_[lhdr::kVersionNeeded], kVersionNeeded);
  uint32_t date = info_.Date;
  if (DateAttribute == daSysDate) date = UnixToDosDateTime(std::time(nullptr));
  else if (DateAttribute == daMaxFileDate) date = maxDate_;
  PutLE32(&localHeader_[lhdr::kDosDateTime], date);
  PutLE32(&localHeader_[lhdr::kSize], uint32_t(info_.Size));
  PutLE16(&localHeader_[lhdr::kMethod], 8);
}

void TZipBase::FinishLocalHeader(int64_t compressedSize, int64_t uncompressedSize) {
  if (uncompressedSize == 0 && crcValue32_ == CrcMask) crcValue32_ = 0;
  uint16_t extraLength = 0;
  if (wideExtra_) {
    extraLength = 8;
    compressedSize -= 8;
  }
  PutLE16(&localHeader_[lhdr::kExtraLength], extraLength);
  PutLE16(&localHeader_[lhdr::kNameLength], uint16_t(encodedName_.size()));
  PutLE32(&localHeader_[lhdr::kSize], uint32_t(uncompressedSize));
  PutLE32(&localHeader_[lhdr::kCrc], crcValue32_);
  uint16_t flags = 0;
  if (methodUsed_ == 8) {
    flags = LevelFlags(DeflateType);
    PutLE16(&localHeader_[lhdr::kMethod], 8);
  } else {
    PutLE16(&localHeader_[lhdr::kMethod], 0);
  }
  PutLE16(&localHeader_[lhdr::kFlags], uint16_t(flags | nameFlag_));
  PutLE32(&localHeader_[lhdr::kCompressedSize], compressedSize > 0 ? uint32_t(compressedSize) : 0);
  if (currentRecord_) currentRecord_->CompressedHigh = compressedSize > 0 ? uint16_t(uint64_t(compressedSize) >> 32) : 0;
}

void TZipBase::BuildCentralHeader(int index, uint32_t attributes, TCompHeaderObj& list) {
  TCompHeaderItem& item = list[index];
  THeaderImage& h = item.Header;
  h.fill(0);
  PutLE32(&h[0], kSigCentral);
  PutLE16(&h[chdr::kVersionMadeBy], kVersionMadeBy);
  PutLE16(&h[chdr::kVersionNeeded], kVersionNeeded);
  // Flags, method, date-time, CRC, both sizes, name and extra lengths: as in
  // the local header.
  std::memcpy(&h[chdr::kFlags], &localHeader_[lhdr::kFlags], 24);
  PutLE16(&h[chdr::kExtraLength], uint16_t(item.Record.Extra.size()));
  PutLE16(&h[chdr::kInternalAttr], 1);
  uint32_t external = attributes & kAttrMask;
  if (item.Record.UnixMode) external |= (item.Record.UnixMode & 0xFFFFu) << 16;
  PutLE32(&h[chdr::kExternalAttr], external);
  PutLE32(&h[chdr::kLocalOffset], uint32_t(item.Record.HeaderOffset));
}

void TZipBase::WriteWideExtra(TStream32& stream, TEntryRecord& rec) {
  if (!wideExtra_) return;
  uint8_t local[8];
  PutLE16(local, kExtraWide);
  PutLE16(local + 2, 4);
  PutLE16(local + 4, rec.CompressedHigh);
  PutLE16(local + 6, rec.SizeHigh);
  stream.WriteBuffer(local, sizeof local);
  rec.Extra.assign(10, 0);
  PutLE16(&rec.Extra[0], kExtraWide);
  PutLE16(&rec.Extra[2], 6);
  PutLE16(&rec.Extra[4], rec.CompressedHigh);
  PutLE16(&rec.Extra[6], rec.SizeHigh);
  PutLE16(&rec.Extra[8], uint16_t(uint64_t(rec.HeaderOffset) >> 32));
}

// ---------------------------------------------------------------------------
// New entries

void TZipBase::CompressEntry(TStream32& temp, int index, bool& success, TCompHeaderObj& list) {
  success = false;
  TCompHeaderItem& item = list[index];
  currentRecord_ = &item.Record;
  GetHeaderInfo(item.Header, item.Record, info_);
  InitLocalHeader(item.Record);
  if (compressMethod_ == cmStore) DeflateType = dtDeflateS;

  // The archive being written, and the one it will replace, never go into
  // the archive (the temporary directory may lie inside the tree).
  if (!item.Record.IsDirectory && ((tempFile_ && item.Name == tempFile_->FileName()) || IsArchiveItself(item.Record)))
    return;

  TZipCommon::currentName_ = item.Name;
  if (OnBegin) {
    bool extract = true;
    OnBegin(*this, item.Name, index + 1, extract);
    if (!extract) return;
  }
  storedName_ = item.StoredName;
  item.Record.HeaderOffset = temp.Seek(0, soFromEnd);
  success = CompressFile(temp, index, list);
  ReportEnd();
}

bool TZipBase::IsArchiveItself(const TEntryRecord& rec) const {
  if (tempFile_) {
    struct stat st {};
    if (::fstat(tempFile_->Handle(), &st) == 0 && uint64_t(st.st_dev) == rec.Dev && uint64_t(st.st_ino) == rec.Ino)
      return true;
  }
  return targetExists_ && rec.Dev == targetDev_ && rec.Ino == targetIno_;
}

void TZipBase::EntryLoopBegin(TCompHeaderObj& list) {
  packAhead_.reset();
  const unsigned cores = std::thread::hardware_concurrency();
  if (CompressWorkers == 0 || OnBegin || (CompressWorkers < 0 && cores < 2)) return;
  const int workers = CompressWorkers > 0 ? CompressWorkers : int(std::min(cores, 4u));
  if (compressMethod_ == cmStore) DeflateType = dtDeflateS;
  std::vector<TPackJob> jobs;
  for (int i = 0; i < list.Count(); ++i) {
    const TCompHeaderItem& item = list[i];
    const TEntryRecord& rec = item.Record;
    if (rec.State != esAdd || rec.IsDirectory || IsArchiveItself(rec)) continue;
    EntryInfo info;
    GetHeaderInfo(item.Header, rec, info);
    if (info.Size > kPackAheadMaxFile) continue;  // streamed by the writer itself
    jobs.push_back(TPackJob{i, item.Name, DeflateType == dtDeflateS || StoredByType(item.StoredName), DeflateType});
  }
  if (jobs.size() > 1) packAhead_ = std::make_unique<TPackAhead>(std::move(jobs), workers, kPackAheadBudget);
}

void TZipBase::EntryLoopEnd() { packAhead_.reset(); }

bool TZipBase::CompressFile(TStream32& temp, int index, TCompHeaderObj& list) {
  TCompHeaderItem& item = list[index];
  if (item.Record.IsDirectory) return CompressDirectory(temp, index, list);
  if (packAhead_) {
    TPackedFile packed;
    const auto take = packAhead_->TakeEntry(
        index, packed, [this] { PumpMessages(); }, [this] { return cancel_ != 0; });
    if (take == TPackAhead::Take::Cancelled) return false;
    if (take == TPackAhead::Take::Packed) return WritePacked(temp, index, list, packed);
  }

  TFileStream32 source(item.Name, fmOpenRead);
  const int64_t size = source.IsOpen() ? source.GetSize() : -1;
  if (size < 0) {
    Report(item.Name, kErrOpenFile);
    return false;
  }
  // The entry takes the file as it is now; the listing may be older.
  info_.Size = size;
  item.Record.SizeHigh = uint16_t(uint64_t(size) >> 32);
  PutLE32(&localHeader_[lhdr::kSize], uint32_t(size));
  methodUsed_ = size == 0 ? 0 : 8;
  crcValue32_ = CrcMask;
  if (!EncodeCurrentName(item)) return false;

  const int64_t start = temp.Seek(0, soFromEnd);
  wideExtra_ = item.Record.SizeHigh != 0 || start > int64_t(0xFFFFFFFF);
  PutLE16(&localHeader_[lhdr::kNameLength], uint16_t(encodedName_.size()));
  PutLE16(&localHeader_[lhdr::kExtraLength], wideExtra_ ? 8 : 0);
  temp.WriteBuffer(localHeader_.data(), kLocalHeaderSize);
  temp.WriteBuffer(encodedName_.data(), int64_t(encodedName_.size()));
  WriteWideExtra(temp, item.Record);

  const bool store = DeflateType == dtDeflateS || StoredByType(storedName_);
  if (!WriteFileData(temp, source, size, store)) return false;

  const int64_t end = temp.Seek(0, soFromEnd);
  FinishLocalHeader(end - start - int64_t(kLocalHeaderSize) - int64_t(encodedName_.size()), size);
  // The header is finished in place: one seek back, the data stays where it is.
  temp.Seek(start, soFromBeginning);
  temp.WriteBuffer(localHeader_.data(), kLocalHeaderSize);
  temp.WriteBuffer(encodedName_.data(), int64_t(encodedName_.size()));
  WriteWideExtra(temp, item.Record);
  temp.Seek(0, soFromEnd);
  BuildCentralHeader(index, info_.Attr & kAttrMask, list);
  return true;
}

bool TZipBase::WritePacked(TStream32& temp, int index, TCompHeaderObj& list, TPackedFile& packed) {
  TCompHeaderItem& item = list[index];
  if (packed.Status) {
    Report(item.Name, packed.Status);
    return false;
  }
  info_.Size = packed.Size;
  item.Record.SizeHigh = uint16_t(uint64_t(packed.Size) >> 32);
  methodUsed_ = packed.Method;
  crcValue32_ = packed.Crc;
  if (!EncodeCurrentName(item)) return false;
  const int64_t start = temp.Seek(0, soFromEnd);
  wideExtra_ = item.Record.SizeHigh != 0 || start > int64_t(0xFFFFFFFF);
  const int64_t dataSize = packed.Data->GetSize();
  // The sizes are known: the header is written once, already finished.
  FinishLocalHeader(dataSize + (wideExtra_ ? 8 : 0), packed.Size);
  temp.WriteBuffer(localHeader_.data(), kLocalHeaderSize);
  temp.WriteBuffer(encodedName_.data(), int64_t(encodedName_.size()));
  WriteWideExtra(temp, item.Record);
  if (dataSize > 0) temp.WriteBuffer(packed.Data->Memory(), dataSize);
  fileTotal_ = packed.Size;
  fileLeft_ = 0;
  bytesLeft_ -= packed.Size;
  DoProgress();
  BuildCentralHeader(index, info_.Attr & kAttrMask, list);
  return true;
}

bool TZipBase::CompressDirectory(TStream32& temp, int index, TCompHeaderObj& list) {
  TCompHeaderItem& item = list[index];
  if (!StoreEmptySubDirs || !DirectoryHoldsNoFiles(item.Name)) return false;
  crcValue32_ = CrcMask;
  methodUsed_ = 0;
  if (!EncodeCurrentName(item)) return false;
  const int64_t start = temp.Seek(0, soFromEnd);
  wideExtra_ = start > int64_t(0xFFFFFFFF);
  FinishLocalHeader(wideExtra_ ? 8 : 0, 0);
  temp.WriteBuffer(localHeader_.data(), kLocalHeaderSize);
  temp.WriteBuffer(encodedName_.data(), int64_t(encodedName_.size()));
  WriteWideExtra(temp, item.Record);
  BuildCentralHeader(index, info_.Attr & kAttrMask, list);
  return true;
}

bool TZipBase::WriteFileData(TStream32& temp, TFileStream32& source, int64_t size, bool store) {
  fileTotal_ = fileLeft_ = size;
  TJobRecord job;
  job.Cancel = &cancel_;
  if (size <= kSmallFile) {
    // Small files are read whole, deflated into memory and stored instead
    // when Deflate does not pay (an empty file is always stored).
    uint8_t data[kSmallFile];
    if (size > 0 && source.Read(data, size) != size) {
      Report(TZipCommon::currentName_, kErrReadFile);
      return false;
    }
    if (!SourceEndsAt(source, size)) return false;
    uint32_t crc = CrcMask;
    UpdateCrc32(data, int32_t(size), crc);
    crcValue32_ = crc ^ CrcMask;
    if (!store) {
      TMemoryStream32 packed;
      {
        TCompressStream deflater(packed, DeflateType, kWindowBits, job);
        if (size > 0) deflater.Write(data, size);
        deflater.Finish();
      }
      if (cancel_) return false;
      if (packed.GetSize() <= size) {
        methodUsed_ = 8;
        temp.WriteBuffer(packed.Memory(), packed.GetSize());
        bytesLeft_ -= size;
        fileLeft_ = 0;
        DoProgress();
        return true;
      }
    }
    methodUsed_ = 0;
    if (size > 0) temp.WriteBuffer(data, size);
    bytesLeft_ -= size;
    fileLeft_ = 0;
    DoProgress();
    return true;
  }
  if (store) {
    methodUsed_ = 0;
    TStoreStream storer(temp, job, kCrcKind32);
    if (!PumpSource(source, storer, size)) return false;
    crcValue32_ = storer.Crc ^ CrcMask;
    return true;
  }
  methodUsed_ = 8;
  TCompressStream deflater(temp, DeflateType, kWindowBits, job);
  const bool ok = PumpSource(source, deflater, size);
  deflater.Finish();
  crcValue32_ = deflater.Crc ^ CrcMask;
  return ok && !cancel_;
}

bool TZipBase::PumpSource(TFileStream32& source, TStream32& sink, int64_t size) {
  if (buffer_.size() < kReadChunk) buffer_.resize(kReadChunk);
  int64_t got = 0;
  while (got < size) {
    PumpMessages();
    if (cancel_) return false;
    const int64_t want = std::min<int64_t>(int64_t(buffer_.size()), size - got);
    const int64_t n = source.Read(buffer_.data(), want);
    if (n <= 0) {
      // The file got shorter while it was read: its header would lie.
      Report(TZipCommon::currentName_, kErrReadFile);
      return false;
    }
    if (sink.Write(buffer_.data(), n) != n) return false;
    got += n;
    fileLeft_ -= n;
    bytesLeft_ -= n;
    DoProgress();
  }
  return !cancel_ && SourceEndsAt(source, size);
}

bool TZipBase::SourceEndsAt(TFileStream32& source, int64_t size) {
  // A file that grew while it was read, or whose size changed meanwhile,
  // would give an entry that is not the file: the entry fails instead.
  uint8_t probe;
  struct stat st {};
  if (source.Read(&probe, 1) != 0 || ::fstat(source.Handle(), &st) != 0 || st.st_size != size) {
    Report(TZipCommon::currentName_, kErrReadFile);
    return false;
  }
  return true;
}

void TZipBase::ReportEnd() {
  if (OnEnd) OnEnd(*this, storedName_, crcValue32_ == GetLE32(&localHeader_[lhdr::kCrc]));
}

// ---------------------------------------------------------------------------
// Old entries

bool TZipBase::ReadOldDirectory(TStream32& old, TCompHeaderObj& list) {
  oldWindow_.clear();
  TUnZip reader;
  reader.ProcessMessages = ProcessMessages;
  reader.SetArchiveFile(archiveFile_);
  std::vector<RawCentralEntry> entries;
  if (!reader.ReadRawDirectory(entries)) {
    for (const auto& e : reader.Errors()) Report(e.fileName, e.code, e.extendedMsg);
    if (reader.Errors().empty()) Report(archiveFile_, kErrBadArcType);
    return false;
  }
  list.Reserve(entries.size() + 16);
  TStringList specs = FileSpec;
  TStringList noExcludes;
  TMemberSelector selector;
  selector.FileSpec = &specs;
  selector.ExcludeSpec = &noExcludes;
  selector.RecurseDirs = RecurseDirs;
  for (auto& e : entries) {
    TCompHeaderItem item;
    item.Name = e.name;
    item.StoredName = e.name;
    TEntryRecord& rec = item.Record;
    rec.State = esCopy;
    rec.HeaderOffset = e.localHeaderPosition;
    rec.OldCompressedSize = e.compressedSize;
    rec.OldSize = e.uncompressedSize;
    rec.IsDirectory = !e.name.empty() && (e.name.back() == '\\' || e.name.back() == '/');
    CentralHeader h = e.header;
    h.nameLength = uint16_t(e.rawName.size());
    h.extraLength = uint16_t(e.extra.size());
    h.commentLength = uint16_t(e.comment.size());
    const auto bytes = h.Bytes();
    std::copy(bytes.begin(), bytes.end(), item.Header.begin());
    rec.RawName = std::move(e.rawName);
    rec.Extra = std::move(e.extra);
    rec.Comment = std::move(e.comment);
    if (Switch == swDelete && selector.Select(e.name)) {
      rec.State = esDrop;
      rec.MarkedForDeletion = true;
      ++deletesPending_;
    }
    list.Add(std::move(item));
  }
  ReadArchiveComment(old, list);
  return true;
}

void TZipBase::ReadArchiveComment(TStream32& old, TCompHeaderObj& list) {
  const int64_t size = old.GetSize();
  const int64_t tail = std::min<int64_t>(size, int64_t(kEndRecordSize) + 0xFFFF);
  if (tail < int64_t(kEndRecordSize)) return;
  std::vector<uint8_t> buf(size_t(tail), 0);
  old.SetPosition(size - tail);
  if (old.Read(buf.data(), tail) != tail) return;
  for (int64_t p = tail - int64_t(kEndRecordSize); p >= 0; --p) {
    if (GetLE32(&buf[size_t(p)]) != kSigEnding) continue;
    const uint16_t len = GetLE16(&buf[size_t(p) + 20]);
    if (p + int64_t(kEndRecordSize) + len > tail) continue;
    list.ArchiveComment.assign(buf.begin() + p + int64_t(kEndRecordSize), buf.begin() + p + int64_t(kEndRecordSize) + len);
    return;
  }
}

bool TZipBase::ReadOld(int64_t position, void* buffer, int64_t count) {
  // Local headers of old entries are read through a window of the old
  // archive: small entries lie close together, so most need no system call.
  constexpr int64_t kWindow = 4 * 1024;
  constexpr int64_t kSmallWindow = 512;
  if (position < 0 || count < 0 || position > oldArchiveSize_ - count) return false;
  if (count > kWindow) return oldStream_->ReadAt(position, buffer, count) == count;
  if (oldWindow_.empty() || position < oldWindowPos_ ||
      position + count > oldWindowPos_ + int64_t(oldWindow_.size())) {
    // Far from the last window the entries are large: a header, its name and
    // extra field fit in a small read, and copying more costs more than it saves.
    const bool farApart = !oldWindow_.empty() && position >= oldWindowPos_ + 2 * kWindow;
    const int64_t want = std::max(farApart ? kSmallWindow : kWindow, count);
    const int64_t n = std::min(want, oldArchiveSize_ - position);
    oldWindow_.resize(size_t(n));
    if (oldStream_->ReadAt(position, oldWindow_.data(), n) != n) {
      oldWindow_.clear();
      return false;
    }
    oldWindowPos_ = position;
  }
  std::memcpy(buffer, oldWindow_.data() + (position - oldWindowPos_), size_t(count));
  return true;
}

int64_t TZipBase::DataDescriptorLength(int64_t position, const TCompHeaderItem& item, bool zip64) {
  // The descriptor after data written with flag bit 3: CRC, compressed and
  // uncompressed size (8 bytes each in the zip64 form), optionally led by
  // the signature 0x08074B50. Which form it is shows in its first bytes.
  const int64_t sigForm = zip64 ? 24 : 16;
  const int64_t plainForm = zip64 ? 20 : 12;
  uint8_t b[8] = {};
  const int64_t avail = std::min<int64_t>(8, oldArchiveSize_ - position);
  if (avail < 4) return 0;
  if (!ReadOld(position, b, avail)) return 0;
  const uint32_t crc = GetLE32(&item.Header[chdr::kCrc]);
  const uint32_t first = GetLE32(b);
  int64_t length = sigForm;
  if (avail >= 8 && first == kSigDataDescriptor && GetLE32(b + 4) == crc) length = sigForm;
  else if (first == crc) length = plainForm;
  else if (first == kSigDataDescriptor) length = sigForm;
  else if (first == kSigLocal || first == kSigCentral) length = 0;  // nothing there after all
  return position + length <= oldArchiveSize_ ? length : 0;
}

int64_t TZipBase::OldEntryLength(TCompHeaderObj& list, int index) {
  TCompHeaderItem& item = list[index];
  TEntryRecord& rec = item.Record;
  const int64_t pos = rec.HeaderOffset;
  const std::string& shown = item.StoredName;
  uint8_t local[kLocalHeaderSize];
  if (!oldStream_ || pos < 0 || pos > oldArchiveSize_ - int64_t(kLocalHeaderSize)) {
    Report(shown, kErrBadLocalOffset);
    return -1;
  }
  if (!ReadOld(pos, local, kLocalHeaderSize) || GetLE32(local) != kSigLocal) {
    Report(shown, kErrBadLocalOffset);
    return -1;
  }
  const uint16_t n = GetLE16(local + lhdr::kNameLength);
  const uint16_t m = GetLE16(local + lhdr::kExtraLength);
  if (rec.OldCompressedSize < 0 || rec.OldCompressedSize > oldArchiveSize_) {
    Report(shown, kErrReadFile);
    return -1;
  }
  int64_t length = int64_t(kLocalHeaderSize) + n + m + rec.OldCompressedSize;
  if (pos + length > oldArchiveSize_) {
    Report(shown, kErrReadFile);
    return -1;
  }
  const uint16_t flags = GetLE16(local + lhdr::kFlags) | GetLE16(&item.Header[chdr::kFlags]);
  if (flags & kFlagDataDescriptor) {
    std::vector<uint8_t> extra(m);
    if (m > 0 && !ReadOld(pos + int64_t(kLocalHeaderSize) + n, extra.data(), m)) {
      Report(shown, kErrReadFile);
      return -1;
    }
    length += DataDescriptorLength(pos + length, item, HasExtraBlock(extra, kExtraZip64));
  }

  // The entry moves to the end of the new archive (after the old entries
  // still waiting to be copied).
  if (copyBase_ < 0) copyBase_ = tempStream_->Seek(0, soFromEnd);
  const int64_t newOffset = copyBase_ + pendingCopy_;
  if (GetLE32(&item.Header[chdr::kLocalOffset]) == 0xFFFFFFFFu) {
    // The offset lives in the zip64 block: the 8-byte value after the sizes
    // whose 32-bit fields hold 0xFFFFFFFF.
    size_t p = 0;
    bool patched = false;
    while (p + 4 <= rec.Extra.size() && !patched) {
      const uint16_t id = GetLE16(&rec.Extra[p]);
      const uint16_t len = GetLE16(&rec.Extra[p + 2]);
      if (p + 4 + len > rec.Extra.size()) break;
      if (id == kExtraZip64) {
        size_t slot = p + 4;
        if (GetLE32(&item.Header[chdr::kSize]) == 0xFFFFFFFFu) slot += 8;
        if (GetLE32(&item.Header[chdr::kCompressedSize]) == 0xFFFFFFFFu) slot += 8;
        if (slot + 8 <= p + 4 + len) {
          PutLE64(&rec.Extra[slot], uint64_t(newOffset));
          patched = true;
        }
      }
      p += 4 + size_t(len);
    }
    if (!patched) {
      Report(shown, kErrBadLocalOffset);
      return -1;
    }
  } else if (newOffset > int64_t(0xFFFFFFFE)) {
    Report(shown, kErrMaxFileSize);
    return -1;
  } else {
    PutLE32(&item.Header[chdr::kLocalOffset], uint32_t(newOffset));
  }
  return length;
}

void TZipBase::RewriteOldEntry(TStream32& temp, TCompHeaderObj& list, int index) {
  TCompHeaderItem& item = list[index];
  const int64_t pos = item.Record.HeaderOffset;
  const int64_t length = OldEntryLength(list, index);
  if (length <= 0) {
    FailRun();
    return;
  }
  uint8_t local[kLocalHeaderSize];
  if (!ReadOld(pos, local, kLocalHeaderSize)) throw EStreamError("Stream read error");
  const uint16_t n = GetLE16(local + lhdr::kNameLength);
  const uint16_t m = GetLE16(local + lhdr::kExtraLength);
  std::vector<uint8_t> extra(m);
  if (m > 0 && !ReadOld(pos + int64_t(kLocalHeaderSize) + n, extra.data(), m)) throw EStreamError("Stream read error");

  uint16_t flag = 0;
  const std::string name = EncodeName(item.StoredName, flag);
  const uint16_t localFlags = uint16_t((GetLE16(local + lhdr::kFlags) & ~kFlagUtf8) | flag);
  PutLE16(local + lhdr::kFlags, localFlags);
  PutLE16(local + lhdr::kNameLength, uint16_t(name.size()));
  temp.Seek(0, soFromEnd);
  temp.WriteBuffer(local, kLocalHeaderSize);
  temp.WriteBuffer(name.data(), int64_t(name.size()));
  if (m > 0) temp.WriteBuffer(extra.data(), m);
  const int64_t rest = length - int64_t(kLocalHeaderSize) - n - m;
  if (rest > 0) {
    oldStream_->SetPosition(pos + int64_t(kLocalHeaderSize) + n + m);
    if (temp.CopyFrom(*oldStream_, rest) != rest && !cancel_) {
      Report(item.StoredName, kErrReadFile);
      FailRun();
      return;
    }
  }
  PutLE16(&item.Header[chdr::kFlags], uint16_t((GetLE16(&item.Header[chdr::kFlags]) & ~kFlagUtf8) | flag));
  PutLE16(&item.Header[chdr::kNameLength], uint16_t(name.size()));
  item.Record.RawName.assign(name.begin(), name.end());
}

// ---------------------------------------------------------------------------
// Directory and end record

void TZipBase::WriteEmptyArchive(TStream32& temp) {
  uint8_t end[kEndRecordSize] = {};
  PutLE32(end, kSigEnding);
  if (temp.Write(end, kEndRecordSize) != int64_t(kEndRecordSize)) {
    Report(archiveFile_, kErrWriteFile);
    FailRun();
  }
}

void TZipBase::FinishArchive(TStream32& temp, TCompHeaderObj& list) {
  if (OnProgress) OnProgress(*this, 0, 0);
  if (list.Count() == 0) return;
  const int64_t directoryOffset = temp.Seek(0, soFromEnd);
  std::vector<uint8_t> out;
  out.reserve(std::min<size_t>(kDirectoryFlush + 4096, size_t(list.Count()) * 96));
  int64_t kept = 0;
  bool ok = true;
  auto flush = [&] {
    if (!out.empty() && temp.Write(out.data(), int64_t(out.size())) != int64_t(out.size())) ok = false;
    out.clear();
  };
  for (int i = 0; i < list.Count(); ++i) {
    const TCompHeaderItem& item = list[i];
    const TEntryRecord& rec = item.Record;
    if (rec.State == esDrop || (rec.State == esAdd && !rec.Written)) continue;
    ByteWriter w(out);
    w.bytes(std::span<const uint8_t>(item.Header.data(), item.Header.size()));
    if (rec.State == esAdd) {
      uint16_t flag = 0;
      w.bytes(EncodeName(item.StoredName, flag));
    } else {
      w.bytes(rec.RawName);
    }
    if (!rec.Extra.empty()) w.bytes(rec.Extra);
    if (!rec.Comment.empty()) w.bytes(rec.Comment);
    ++kept;
    if (out.size() >= kDirectoryFlush) flush();
  }
  flush();
  const int64_t directoryEnd = temp.Seek(0, soFromEnd);
  const int64_t directorySize = directoryEnd - directoryOffset;
  if (!ok || kept == 0) {
    Report(archiveFile_, kErrWriteFile);
    FailRun();
    return;
  }

  std::vector<uint8_t> tail;
  ByteWriter w(tail);
  const uint16_t count16 = kept > 0xFFFF ? 0xFFFF : uint16_t(kept);
  if (directoryOffset > int64_t(0xFFFFFFFF)) {
    // The wide end record of archives of 4 GiB and more: a 64-bit offset.
    w.u32(kSigWideEnding);
    w.u16(0);
    w.u16(0);
    w.u16(count16);
    w.u16(count16);
    w.u32(uint32_t(directorySize));
    w.u64(uint64_t(directoryOffset));
    w.u16(uint16_t(list.ArchiveComment.size()));
  } else {
    if (kept > 0xFFFF) {
      // More entries than the 16-bit counts hold: the zip64 end record and
      // its locator carry the real count, as every reader expects.
      Zip64EndRecord z;
      z.entriesThisDisk = z.totalEntries = uint64_t(kept);
      z.directorySize = uint64_t(directorySize);
      z.directoryOffset = uint64_t(directoryOffset);
      const auto zb = z.Bytes();
      w.bytes(std::span<const uint8_t>(zb.data(), zb.size()));
      Zip64Locator loc;
      loc.endRecordOffset = uint64_t(directoryEnd);
      loc.totalDisks = 1;
      const auto lb = loc.Bytes();
      w.bytes(std::span<const uint8_t>(lb.data(), lb.size()));
    }
    w.u32(kSigEnding);
    w.u16(0);
    w.u16(0);
    w.u16(count16);
    w.u16(count16);
    w.u32(uint32_t(directorySize));
    w.u32(uint32_t(directoryOffset));
    w.u16(uint16_t(list.ArchiveComment.size()));
  }
  if (!list.ArchiveComment.empty()) w.bytes(list.ArchiveComment);
  if (temp.Write(tail.data(), int64_t(tail.size())) != int64_t(tail.size())) {
    Report(archiveFile_, kErrWriteFile);
    FailRun();
  }
}

void TZipBase::ReportAdded(TCompHeaderObj& list) {
  if (!OnRead) return;
  for (int i = 0; i < list.Count(); ++i)
    if (list[i].Record.Written) OnRead(*this, list[i].StoredName);
}

}  // namespace parcelix
