// Member extraction: to files under ExtractDir, into a TDecompMemoryStream,
// or into nothing (test); the member step, the decoders and the output writer.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/codec/Inflate.h"
#include "engine/common/ByteIO.h"
#include "engine/common/OrderedRun.h"
#include "engine/common/arxGbls.h"
#include "engine/read/ZipMember.h"
#include "engine/read/arxReadRun.h"

namespace parcelix {

namespace {

// Directory descriptors kept open during one extraction.
constexpr size_t kMaxCachedDirs = 256;
// Decoding ahead: members up to 1 MiB, at most 16 of them waiting, so the
// decoded bytes held never pass 16 MiB; larger members are decoded in turn.
constexpr int64_t kAheadMemberBytes = int64_t(1) << 20;
constexpr size_t kAheadMembers = 16;
constexpr size_t kAheadChunk = 256 * 1024;

bool IsJar(TArcType t) { return t == atJar || t == atJarExe; }

uint8_t Percent(int64_t done, int64_t total) {
  if (total <= 0 || done <= 0) return 0;
  if (done >= total) return 100;
  return uint8_t(double(done) * 100.0 / double(total) + 0.5);  // rounded half up
}

}  // namespace

int TUnZip::Extract() {
  Run run(*this, Run::kFiles);
  return run.Extract();
}

int TUnZip::ExtractToMemoryStream(TDecompMemoryStream* stream) {
  if (!stream) {
    cancel_ = 0;
    ClearErrors();
    ReportError("", "", archiveFile_, kErrStreamNil);
    return 0;
  }
  Run run(*this, Run::kMemory);
  run.memory = stream;
  return run.Extract();
}

int TUnZip::Test(std::vector<MemberResult>* results) {
  if (results) results->clear();
  Run run(*this, Run::kTest);
  run.results = results;
  return run.Extract();
}

int TUnZip::Run::Extract() {
  if (!Start()) {
    Finish();
    return 0;
  }
  try {
    BuildList();
    if (mode == kFiles && z.extractDir_.empty()) {
      z.SetExtractDir("");
      if (z.extractDir_.empty()) z.extractDir_ = "./";
    }
    tree.SetRoot(z.extractDir_);
    TArchiveStream in(*src);
    stream = &in;
    ExtractAll();
    stream = nullptr;
  } catch (...) {
    stream = nullptr;
    ahead = nullptr;
    Finish();
    throw;
  }
  Finish();
  return count;
}

// Every member in the archive's order. Writing files, a worker thread decodes
// the members ahead into memory while this thread creates and writes the
// files, and decodes ahead too while the member it must write next is still
// being decoded; every event, report and decision stays on this thread, in
// order.
void TUnZip::Run::ExtractAll() {
  size_t omittedNext = 0;
  auto reportOmitted = [&](size_t upTo) {
    for (; omittedNext < omitted.size() && omitted[omittedNext].first <= upTo; ++omittedNext)
      if (results) results->push_back({omitted[omittedNext].second, false});
  };
  auto step = [&](size_t i) {
    reportOmitted(i);
    ExtractMember(entries[i]);
    archiveDone = AddClamped(archiveDone, entries[i].CompressedSize());
    return !z.Cancel();
  };
  bool whole = true;
  if (mode == kFiles && entries.size() > 1) {
    // Each thread that decodes reads through a stream of its own; the
    // source's reads (pread and copies from its fixed cache) are safe from
    // two threads.
    TObjectPool<TArchiveStream> streams([this] { return std::make_unique<TArchiveStream>(*src); });
    TOrderedRun<DecodedAhead> run(1, kAheadMembers);
    run.CallerWorks = true;
    whole = run.Run(
        entries.size(),
        [&](size_t i) { return streams.With([&](TArchiveStream& in) { return DecodeAhead(in, entries[i]); }); },
        [&](size_t i, TOrderedResult<DecodedAhead>& r) {
          DecodedAhead decoded = r.Take();
          ahead = &decoded;
          const bool goOn = step(i);
          ahead = nullptr;
          return goOn;
        });
  } else {
    for (size_t i = 0; i < entries.size() && whole; ++i) whole = step(i);
  }
  if (whole && !z.Cancel()) reportOmitted(entries.size());
}

// Runs on either thread: no events, no reports, nothing shared but the source.
TUnZip::Run::DecodedAhead TUnZip::Run::DecodeAhead(TArchiveStream& in, const DirectoryEntry& e) const {
  DecodedAhead d;
  MemberStep m(e);
  if ((e.central.flags & kFlagEncrypted) || !ReadLocalFacts(in, m) || m.isDirName) return d;
  if (m.usize > kAheadMemberBytes || m.csize > 2 * kAheadMemberBytes) return d;
  if (m.method != 0 && m.method != 8 && m.method != 9) return d;  // the main thread reports these
  d.dataStart = m.dataStart;
  d.csize = m.csize;
  d.usize = m.usize;
  d.method = m.method;
  d.storedCrc = m.storedCrc;
  d.bytes.reserve(size_t(m.usize));
  in.SetPosition(m.dataStart);
  TInflateJob job;
  job.Archive = &in;
  job.CompressedSize = m.csize;
  job.UncompressedSize = m.usize;
  job.Output = [&d](const uint8_t* b, uint32_t n) {
    d.bytes.insert(d.bytes.end(), b, b + n);
    return n;
  };
  d.result = DecodeMember(std::move(job), m.method, m.storedCrc);
  d.decoded = true;
  return d;
}

// Writes what the worker decoded for m, as the decoder would have, chunk by
// chunk with progress; false when the worker's facts are not m's.
bool TUnZip::Run::WriteDecoded(const MemberStep& m, TMemberResult& r) {
  if (!ahead || !ahead->decoded || ahead->dataStart != m.dataStart || ahead->csize != m.csize ||
      ahead->usize != m.usize || ahead->method != m.method || ahead->storedCrc != m.storedCrc)
    return false;
  memberWritten = 0;
  r = ahead->result;
  const std::vector<uint8_t>& bytes = ahead->bytes;
  for (size_t done = 0; done < bytes.size() && !z.Cancel();) {
    const uint32_t n = uint32_t(std::min<size_t>(bytes.size() - done, kAheadChunk));
    const uint32_t w = WriteOut(bytes.data() + done, n);
    if (w < n) {
      // As in the decoder: a chunk written in part fails the member, one
      // written not at all is the fatal "Error writing to file".
      r.crcMatches = false;
      r.written = memberWritten;
      if (w == 0) z.RaiseError(currentTarget, "", z.volumeId_, kErrWriteFile);
      return true;
    }
    done += n;
    Progress(std::min<int64_t>(m.csize, int64_t(double(m.csize) * double(done) / double(bytes.size()))));
    if (z.ProcessMessages) z.PumpMessages();
  }
  if (z.Cancel()) r.status = TMemberStatus::msCancelled;
  return true;
}

void TUnZip::Run::Progress(int64_t fileDone) {
  if (z.OnProgress) z.OnProgress(z, Percent(fileDone, memberCompressed), Percent(AddClamped(archiveDone, fileDone), sumCompressed));
}

// ------------------------------------------------------------ target paths

bool TUnZip::Run::ResolveTarget(const std::string& storedName, std::string& target, std::vector<std::string>& parts) {
  parts.clear();
  // A name that would leave ExtractDir is never written: an absolute path,
  // a drive, a ".." anywhere, or a NUL that would cut the name short.
  if (storedName.find('\0') != std::string::npos) return false;
  if (!storedName.empty() && storedName[0] == '\\') return false;
  if (storedName.size() >= 2 && storedName[1] == ':' &&
      ((storedName[0] >= 'A' && storedName[0] <= 'Z') || (storedName[0] >= 'a' && storedName[0] <= 'z')))
    return false;
  size_t start = 0;
  while (start <= storedName.size()) {
    size_t end = storedName.find('\\', start);
    if (end == std::string::npos) end = storedName.size();
    std::string part = storedName.substr(start, end - start);
    if (part == "..") return false;
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    start = end + 1;
  }
  const bool isDirName = !storedName.empty() && storedName.back() == '\\';
  if (!z.UseStoredDirs) {
    if (isDirName || parts.empty()) parts.clear();
    else parts.erase(parts.begin(), parts.end() - 1);
  }
  target = z.extractDir_;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) target += '/';
    target += parts[i];
  }
  if (isDirName && !parts.empty()) target += '/';
  return true;
}

TTargetTree::~TTargetTree() { Close(); }

void TTargetTree::Close() {
  for (auto& [path, fd] : dirs_) ::close(fd);
  dirs_.clear();
  if (rootFd_ >= 0) ::close(rootFd_);
  rootFd_ = -1;
}

// Each level is opened without following symbolic links (a link planted in
// the target tree, or made by an earlier member, is refused).
int TTargetTree::Directory(const std::vector<std::string>& parts, size_t count, bool create) {
  if (rootFd_ < 0) {
    if (!ForceDirectories(root_)) return -1;
    rootFd_ = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd_ < 0) return -1;
  }
  if (dirs_.size() > kMaxCachedDirs) {
    for (auto& [path, fd] : dirs_) ::close(fd);
    dirs_.clear();
  }
  int parent = rootFd_;
  std::string key;
  for (size_t i = 0; i < count; ++i) {
    key += parts[i];
    key += '/';
    auto it = dirs_.find(key);
    if (it != dirs_.end()) {
      parent = it->second;
      continue;
    }
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(parent, parts[i].c_str(), flags);
    if (fd < 0 && errno == ENOENT && create) {
      if (::mkdirat(parent, parts[i].c_str(), 0777) != 0 && errno != EEXIST) return -1;
      fd = ::openat(parent, parts[i].c_str(), flags);
    }
    if (fd < 0) return -1;
    dirs_.emplace(key, fd);
    parent = fd;
  }
  return parent;
}

int TTargetTree::OpenFile(const std::string& target, const std::vector<std::string>& parts, bool fromHandler) {
  // O_NOFOLLOW: an existing symbolic link at the target is not written
  // through. O_NONBLOCK: a FIFO there fails instead of hanging the run.
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  if (fromHandler) {
    // A path chosen by the program's own handler, not by the archive.
    const std::string dir = ExtractFilePath(target);
    if (!dir.empty()) ForceDirectories(dir);
    return ::open(target.c_str(), flags, 0666);
  }
  if (parts.empty()) return -1;
  const int dfd = Directory(parts, parts.size() - 1, true);
  if (dfd < 0) return -1;
  return ::openat(dfd, parts.back().c_str(), flags, 0666);
}

// -------------------------------------------------------------- the writer

uint32_t TUnZip::Run::WriteOut(const uint8_t* buffer, uint32_t n) {
  uint32_t done = 0;
  switch (mode) {
    case kFiles: {
      while (done < n) {
        const ssize_t w = ::write(outFd, buffer + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        done += uint32_t(w);
      }
      if (done < n) {
        const int err = errno;
        if (err == ENOSPC || err == EDQUOT) {
          count = 0;
          z.RaiseError(currentTarget, "", z.volumeId_, kErrDiskFull);
        }
        count = std::max(count - 1, 0);
        z.ReportError(currentTarget, "", z.volumeId_, kErrWriteFile);
      }
      break;
    }
    case kMemory:
      try {
        done = uint32_t(memory->Write(buffer, n));
      } catch (const EStreamError&) {
        done = 0;
      }
      if (done < n) {
        count = std::max(count - 1, 0);
        z.ReportError(currentTarget, "", z.volumeId_, kErrWriteFile);
      }
      break;
    default:
      done = n;  // test: decoded, checked, kept nowhere
      break;
  }
  memberWritten += done;
  return done;
}

// --------------------------------------------------------------- decoding

TMemberResult TUnZip::Run::Decode(const MemberStep& m) {
  if (TMemberResult r; WriteDecoded(m, r)) return r;
  memberWritten = 0;
  stream->SetPosition(m.dataStart);
  TInflateJob job;
  job.Archive = stream;
  job.CompressedSize = m.csize;
  job.UncompressedSize = m.usize;
  job.Output = [this](const uint8_t* b, uint32_t n) { return WriteOut(b, n); };
  job.OnWriteFailed = [this] { z.RaiseError(currentTarget, "", z.volumeId_, kErrWriteFile); };
  job.Progress = [this](int64_t cdone, int64_t) { Progress(cdone); };
  if (z.ProcessMessages) job.ProcessMessages = [this] { z.PumpMessages(); };
  job.Cancel = z.CancelFlag();
  const TMemberResult r = DecodeMember(std::move(job), m.method, m.storedCrc);
  // Shrink, Reduce, Implode, and anything unknown: no decoder.
  if (r.status == TMemberStatus::msUnsupportedMethod)
    z.ReportError(m.e.storedName, "", z.volumeId_, kErrUnsupportedMethod);
  return r;
}

// ----------------------------------------------------------- the member

// The local header: its CRC, date and lengths (the name used is the one the
// member was selected by), and what the member step works from.
bool TUnZip::Run::ReadLocal(MemberStep& m) {
  if (ReadLocalFacts(*stream, m)) return true;
  z.ReportError(m.e.storedName, "", z.volumeId_, kErrBadLocalOffset);
  return false;
}

bool TUnZip::Run::ReadLocalFacts(TStream32& in, MemberStep& m) {
  const DirectoryEntry& e = m.e;
  const CentralHeader& c = e.central;
  uint8_t lb[kLocalHeaderSize];
  in.SetPosition(e.localHeaderPosition);
  if (in.Read(lb, kLocalHeaderSize) != int64_t(kLocalHeaderSize) || !m.lh.Parse(lb) ||
      ClassifySignature(m.lh.signature, htLocal).type != htLocal)
    return false;
  m.dataStart = e.localHeaderPosition + int64_t(kLocalHeaderSize) + m.lh.nameLength + m.lh.extraLength;
  m.method = c.method;
  if (m.method == 99 && e.centralExtra.aesMethod) m.method = e.centralExtra.aesMethod;
  m.csize = e.CompressedSize();
  m.usize = e.UncompressedSize();
  // Streamed members carry CRC 0 in their local header; the directory's is
  // the real one.
  m.storedCrc = c.crc32;
  if (e.hasCentral) m.storedCrc = (m.lh.crc32 == 0 && m.csize > 0) ? c.crc32 : m.lh.crc32;
  m.isDirName = !e.name.empty() && e.name.back() == '\\';
  m.attr = e.externalAttributes & 0xFF;
  // A name without a trailing separator that has data is a file, whatever
  // its attribute bits say: skipping it as a directory would lose the data.
  if ((m.attr & 0x10) && !m.isDirName && (m.csize > 0 || m.usize > 0)) m.attr &= ~0x10u;
  return true;
}

// A target chosen by the program's own handler: its folder is made here.
void TUnZip::Run::TakeHandlerTarget(MemberStep& m, const std::string& path) {
  m.target = path;
  m.fromHandler = true;
  const std::string dir = ExtractFilePath(path);
  if (!dir.empty()) ForceDirectories(dir);
}

// With ConfirmOverwrites: OnFileExists decides about an existing target.
bool TUnZip::Run::ConfirmOverwrite(MemberStep& m, bool exists) {
  z.OverwriteMode = omOverwrite;
  struct stat st;
  if (exists) {
    if (!z.OnFileExists) {
      z.ReportError(m.Who(mode), "OnFileExists", z.volumeId_, kErrEventNotAssigned);
      z.OverwriteMode = omSkip;
    } else {
      for (;;) {
        std::string newName;
        z.OnFileExists(z, m.target, newName, z.OverwriteMode);
        if (newName.empty() || newName == m.target || z.OverwriteMode == omSkip) break;
        TakeHandlerTarget(m, newName);
        if (::lstat(m.target.c_str(), &st) != 0) break;
      }
    }
    if (z.OverwriteMode == omOverwrite && ::lstat(m.target.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) {
        z.ReportError(m.Who(mode), "", z.volumeId_, kErrWriteFile);
        return false;
      }
      // A read-only file the user agreed to replace becomes writable.
      if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) ::chmod(m.target.c_str(), st.st_mode | S_IWUSR);
    }
  }
  return !z.Cancel() && z.OverwriteMode == omOverwrite && !m.target.empty();
}

// Step 1: OnRenameFile, OnBegin and the overwrite rules. False: skipped.
bool TUnZip::Run::PreCheck(MemberStep& m) {
  bool extract = true;
  if (z.OnBegin) {
    if (mode == kFiles && z.OnRenameFile) {
      std::string renamed;
      z.OnRenameFile(z, m.target, renamed);
      if (!renamed.empty()) TakeHandlerTarget(m, renamed);
    }
    z.OnBegin(z, m.target, count + 1, extract);
  }
  if (z.Cancel() || !extract) return false;
  if (mode == kFiles) {
    struct stat st;
    // Only the choices below that depend on it look for an existing file.
    const bool exists = !m.isDirName && (z.ConfirmOverwrites || z.OverwriteMode == omSkip) &&
                        ::lstat(m.target.c_str(), &st) == 0;
    // omSkip leaves existing files alone; new ones are still written.
    if (!z.ConfirmOverwrites && z.OverwriteMode == omSkip && exists) return false;
    if (z.ConfirmOverwrites && !ConfirmOverwrite(m, exists)) return false;
  }
  ++count;
  currentTarget = m.Who(mode);
  return true;
}

// Step 5: the file, or the memory index entry. False: nothing to write to.
bool TUnZip::Run::OpenOutput(MemberStep& m) {
  if (mode == kFiles) {
    outFd = tree.OpenFile(m.target, m.parts, m.fromHandler);
    if (outFd >= 0) return true;
    z.ReportError(m.Who(mode), "", z.volumeId_, kErrOpenFile);
    count = std::max(count - 1, 0);
    m.checked = false;
    return false;
  }
  if (mode == kMemory) {
    TDecompMemoryStream::Entry entry;
    entry.size = m.usize;
    entry.position = memory->Position();
    entry.name = m.e.name;
    memory->AddEntry(std::move(entry));
    m.memoryIndex = memory->Count() - 1;
  }
  return true;
}

// Step 9: the file's date and attributes, then close it.
void TUnZip::Run::FinishFile(MemberStep& m) {
  if (outFd < 0) return;
  if (!m.skip && z.DateAttribute != daSysDate) {
    const uint32_t dos = z.DateAttribute == daMaxFileDate ? newestDate : m.lh.dosDateTime;
    auto it = dosTimes.find(dos);
    if (it == dosTimes.end()) {
      std::time_t t = DosDateTimeToUnix(dos);
      if (t == -1) t = DosDateTimeToUnix(kDefaultDosDate);
      it = dosTimes.emplace(dos, int64_t(t)).first;
    }
    if (it->second != -1) {
      struct timespec ts[2];
      ts[0].tv_sec = ts[1].tv_sec = std::time_t(it->second);
      ts[0].tv_nsec = ts[1].tv_nsec = 0;
      ::futimens(outFd, ts);
    }
  }
  if (!m.skip && z.RestoreFileAttr && m.attr != 0x20 && (m.attr & 0x01)) {
    struct stat st;
    if (::fstat(outFd, &st) == 0) ::fchmod(outFd, st.st_mode & ~mode_t(0222));
  }
  if (::close(outFd) != 0) z.ReportError(m.Who(mode), "", z.volumeId_, kErrCloseFile);
  outFd = -1;
}

// Steps 6 to 9 for a member with data: decode (or skip) and finish. True
// when the member passed its check.
bool TUnZip::Run::WriteMember(MemberStep& m) {
  if (mode == kMemory && z.MaxMemoryMemberSize > 0 && m.usize > z.MaxMemoryMemberSize) {
    // Memory mode holds the whole member: a header that asks for more than
    // the limit is refused before anything is allocated.
    z.ReportError(m.e.storedName, "", z.volumeId_, kErrMaxFileSize);
    count = std::max(count - 1, 0);
    m.skippedOut = true;
    return false;
  }
  if (!OpenOutput(m)) return false;
  TMemberResult r;
  if (m.skip) {
    // Nothing decoded; the check fails.
    count = std::max(count - 1, 0);
  } else {
    try {
      r = Decode(m);
    } catch (...) {
      if (outFd >= 0) ::close(outFd);
      outFd = -1;
      if (m.memoryIndex >= 0) memory->SetEntryWritten(m.memoryIndex, memberWritten);
      throw;
    }
  }
  if (m.memoryIndex >= 0) memory->SetEntryWritten(m.memoryIndex, m.skip ? 0 : memberWritten);
  FinishFile(m);
  // A member that decodes to fewer bytes than its header says is damaged
  // even when the bytes it did give match the CRC.
  return !m.skip && !z.Cancel() && r.crcMatches && r.written == m.usize;
}

void TUnZip::Run::ExtractMember(const DirectoryEntry& e) {
  const size_t errorsBefore = z.errors_.size();
  z.currentName_ = e.name;
  memberCompressed = e.CompressedSize();
  auto record = [&](bool ok) {
    if (results) results->push_back({InfoOf(e), ok && z.errors_.size() == errorsBefore});
  };
  MemberStep m(e);
  if (!ReadLocal(m)) return record(false);
  m.target = e.name;
  if (mode == kFiles && !ResolveTarget(e.name, m.target, m.parts)) {
    z.ReportError(e.storedName, "", z.volumeId_, kErrInvalidName);
    Progress(memberCompressed);
    return record(false);
  }
  currentTarget = m.Who(mode);
  auto skipped = [&] {
    Progress(memberCompressed);
    record(false);
  };
  // 1. Pre-check (not for members stored with the directory attribute).
  if (!(m.attr & 0x10) && !PreCheck(m)) return skipped();
  // 2. Enciphered members cannot be deciphered here: they are skipped.
  if (e.central.flags & kFlagEncrypted) {
    if (!(e.central.flags & kFlagStrongEnc)) {
      z.ReportError(m.Who(mode), z.OnGetPassword ? "" : "OnGetPassword", z.volumeId_,
                    z.OnGetPassword ? kErrInvalidPassword : kErrEventNotAssigned);
      m.checked = false;
    }
    m.skip = true;
    m.csize -= 12;
  }
  // 3. The attributes stored in a JAR mean nothing.
  if (IsJar(z.arcType_)) m.attr = m.isDirName ? 0x10 : 0x20;
  bool pass = false;
  if ((m.attr & 0x10) || m.isDirName) {
    // 4. A directory member: nothing to write.
    if (mode == kFiles && z.CreateStoredDirs && !m.fromHandler && !tree.MakeDirectory(m.parts)) {
      z.ReportError(m.Who(mode), "", z.volumeId_, kErrCreateDir);
      m.checked = false;
    } else {
      pass = !z.Cancel();
    }
  } else {
    pass = WriteMember(m);
    if (m.skippedOut) return skipped();
  }
  // 10. The end-of-member check.
  if (z.OnEnd) z.OnEnd(z, mode == kFiles ? m.target : e.name, pass);
  else if (!pass && m.checked) z.ReportError(m.Who(mode), "", z.volumeId_, kErrCrcCheck);
  Progress(memberCompressed);
  record(pass);
}

}  // namespace parcelix
