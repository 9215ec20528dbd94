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
constexpr int kWindowBits = -15;  // raw Deflate, 32 KiB window
// Files up to this size are deflated into memory first and stored when
// Deflate would make them larger.
constexpr int64_t kSmallFile = 256;
// Packing ahead: files up to this size, at most this much packed data held.
constexpr int64_t kPackAheadMaxFile = 16 << 20;
constexpr int64_t kPackAheadBudget = 64 << 20;
constexpr size_t kReadChunk = 256 * 1024;

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

bool TZipBase::StoredByType(const std::string& storedName) const {
  const std::string ext = ExtractFileExt(storedName);
  if (ext.empty()) return false;
  return std::any_of(StoreFilesOfType.begin(), StoreFilesOfType.end(),
                     [&](const std::string& t) { return SameTextAscii(t, ext); });
}

// ---------------------------------------------------------------------------
// New entries

bool TZipBase::WriteFileEntry(TStream32& out, int index, TCompHeaderItem& item, TNewEntry& e) {
  // The archive being written, and the one it will replace, never go into
  // the archive (the temporary directory may lie inside the tree).
  if (!item.Record.IsDirectory && (IsTemporaryArchive(item.Name) || IsArchiveItself(item.Record))) return false;
  TZipCommon::currentName_ = item.Name;
  if (OnBegin) {
    bool extract = true;
    OnBegin(*this, item.Name, index + 1, extract);
    if (!extract) return false;
  }
  bool ok = false;
  if (item.Record.IsDirectory) {
    ok = WriteDirectory(out, item, e);
  } else {
    TPackedFile packed;
    const auto take = packAhead_ ? packAhead_->TakeEntry(
                                       index, packed, [this] { PumpMessages(); }, [this] { return cancel_ != 0; })
                                 : TPackAhead::Take::DoItYourself;
    if (take == TPackAhead::Take::Cancelled) ok = false;
    else if (take == TPackAhead::Take::Packed) ok = WritePacked(out, item, e, packed);
    else ok = WriteFromFile(out, item, e);
  }
  if (OnEnd) OnEnd(*this, item.StoredName, ok);
  return ok;
}

void TZipBase::EntryLoopBegin(TCompHeaderObj& list) {
  packAhead_.reset();
  const unsigned cores = std::thread::hardware_concurrency();
  if (CompressWorkers == 0 || OnBegin || (CompressWorkers < 0 && cores < 2)) return;
  const int workers = CompressWorkers > 0 ? CompressWorkers : int(std::min(cores, 4u));
  std::vector<TPackJob> jobs;
  for (int i = 0; i < list.Count(); ++i) {
    const TCompHeaderItem& item = list[i];
    const TEntryRecord& rec = item.Record;
    if (rec.State != esAdd || rec.IsDirectory || IsArchiveItself(rec)) continue;
    if (item.Info.Size > kPackAheadMaxFile) continue;  // streamed by the writer itself
    jobs.push_back(TPackJob{i, item.Name, Stores(item.StoredName), DeflateLevel()});
  }
  if (jobs.size() > 1) packAhead_ = std::make_unique<TPackAhead>(std::move(jobs), workers, kPackAheadBudget);
}

void TZipBase::EntryLoopEnd() { packAhead_.reset(); }

// The stored name as written; an empty or over-long one is reported.
bool TZipBase::NameEntry(const TCompHeaderItem& item, TNewEntry& e) {
  uint16_t flag = 0;
  const std::string name = EncodeStoredName(item.StoredName, flag);
  e.name.assign(name.begin(), name.end());
  e.header.flags = flag;
  if (!name.empty() && name.size() <= 0xFFFF) return true;
  Report(item.Name, kErrInvalidName);
  return false;
}

void TZipBase::DateEntry(const TCompHeaderItem& item, TNewEntry& e) const {
  uint32_t date = item.Info.Date;
  if (DateAttribute == daSysDate) date = UnixToDosDateTime(std::time(nullptr));
  else if (DateAttribute == daMaxFileDate) date = maxDate_;
  e.header.dosDateTime = date;
}

// Method, flags and CRC from the data; the central header from the rest.
void TZipBase::FinishEntry(const TCompHeaderItem& item, TNewEntry& e, const TDataResult& data) const {
  e.header.method = data.method;
  e.header.crc32 = e.uncompressedSize == 0 ? 0 : data.crc;
  e.header.flags = uint16_t((e.header.flags & kFlagUtf8) | (data.method == 8 ? LevelFlags(DeflateLevel()) : 0));
  uint32_t external = item.Info.Attr & kAttrMask;
  if (item.Record.UnixMode) external |= (item.Record.UnixMode & 0xFFFFu) << 16;
  FinishCentral(e, 0, external);
}

static void WriteLocal(TStream32& out, const TNewEntry& e) {
  const TLocalImage local = MakeLocalImage(e);
  const auto bytes = local.header.Bytes();
  out.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  out.WriteBuffer(e.name.data(), int64_t(e.name.size()));
  if (!local.extra.empty()) out.WriteBuffer(local.extra.data(), int64_t(local.extra.size()));
}

bool TZipBase::WriteFromFile(TStream32& out, TCompHeaderItem& item, TNewEntry& e) {
  TFileStream32 source(item.Name, fmOpenRead);
  const int64_t size = source.IsOpen() ? source.GetSize() : -1;
  if (size < 0) {
    Report(item.Name, kErrOpenFile);
    return false;
  }
  if (!NameEntry(item, e)) return false;
  DateEntry(item, e);
  // The entry takes the file as it is now; the listing may be older. The
  // header goes first with the file's size and is finished in place: one
  // seek back, the data stay where they are.
  e.uncompressedSize = e.compressedSize = size;
  const int64_t start = out.Seek(0, soFromEnd);
  const size_t headerLength = kLocalHeaderSize + e.name.size() + MakeLocalImage(e).extra.size();
  WriteLocal(out, e);
  TDataResult data;
  if (!WriteFileData(out, source, size, Stores(item.StoredName), data)) return false;
  e.compressedSize = out.Seek(0, soFromEnd) - start - int64_t(headerLength);
  FinishEntry(item, e, data);
  if (kLocalHeaderSize + e.name.size() + MakeLocalImage(e).extra.size() != headerLength) {
    Report(item.Name, kErrMaxFileSize);
    return false;
  }
  out.Seek(start, soFromBeginning);
  WriteLocal(out, e);
  out.Seek(0, soFromEnd);
  return true;
}

bool TZipBase::WritePacked(TStream32& out, TCompHeaderItem& item, TNewEntry& e, TPackedFile& packed) {
  if (packed.Status) {
    Report(item.Name, packed.Status);
    return false;
  }
  if (!NameEntry(item, e)) return false;
  DateEntry(item, e);
  // The sizes are known: the header is written once, already finished.
  e.uncompressedSize = packed.Size;
  e.compressedSize = packed.Data->GetSize();
  FinishEntry(item, e, TDataResult{packed.Method, packed.Crc});
  WriteLocal(out, e);
  if (e.compressedSize > 0) out.WriteBuffer(packed.Data->Memory(), e.compressedSize);
  fileTotal_ = packed.Size;
  fileLeft_ = 0;
  bytesLeft_ -= packed.Size;
  DoProgress();
  return true;
}

bool TZipBase::WriteDirectory(TStream32& out, TCompHeaderItem& item, TNewEntry& e) {
  if (!StoreEmptySubDirs || !DirectoryHoldsNoFiles(item.Name)) return false;
  if (!NameEntry(item, e)) return false;
  DateEntry(item, e);
  FinishEntry(item, e, TDataResult{0, 0});
  WriteLocal(out, e);
  return true;
}

bool TZipBase::WriteFileData(TStream32& out, TFileStream32& source, int64_t size, bool store, TDataResult& r) {
  fileTotal_ = fileLeft_ = size;
  if (size <= kSmallFile) return WriteSmallFile(out, source, size, store, r);
  TJobRecord job;
  job.Cancel = &cancel_;
  if (store) {
    r.method = 0;
    TStoreStream storer(out, job, kCrcKind32);
    if (!PumpSource(source, storer, size)) return false;
    r.crc = storer.Crc ^ CrcMask;
    return true;
  }
  r.method = 8;
  TCompressStream deflater(out, DeflateLevel(), kWindowBits, job);
  const bool ok = PumpSource(source, deflater, size);
  deflater.Finish();
  r.crc = deflater.Crc ^ CrcMask;
  return ok && !cancel_;
}

// Small files are read whole, deflated into memory and stored instead when
// Deflate does not pay (an empty file is always stored).
bool TZipBase::WriteSmallFile(TStream32& out, TFileStream32& source, int64_t size, bool store, TDataResult& r) {
  uint8_t data[kSmallFile];
  if (size > 0 && source.Read(data, size) != size) {
    Report(TZipCommon::currentName_, kErrReadFile);
    return false;
  }
  if (!SourceEndsAt(source, size)) return false;
  uint32_t crc = CrcMask;
  UpdateCrc32(data, int32_t(size), crc);
  r.crc = crc ^ CrcMask;
  r.method = 0;
  TMemoryStream32 packed;
  if (!store && size > 0) {
    TJobRecord job;
    job.Cancel = &cancel_;
    TCompressStream deflater(packed, DeflateLevel(), kWindowBits, job);
    deflater.Write(data, size);
    deflater.Finish();
    if (cancel_) return false;
    if (packed.GetSize() <= size) r.method = 8;
  }
  if (r.method == 8) out.WriteBuffer(packed.Memory(), packed.GetSize());
  else if (size > 0) out.WriteBuffer(data, size);
  bytesLeft_ -= size;
  fileLeft_ = 0;
  DoProgress();
  return true;
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

}  // namespace parcelix
