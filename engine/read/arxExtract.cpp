// Member extraction: to files under ExtractDir, into a TDecompMemoryStream,
// or into nothing (test); the member step, the decoders and the output writer.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/codec/Inflate.h"
#include "engine/common/ByteIO.h"
#include "engine/common/arxGbls.h"
#include "engine/read/arxReadRun.h"

namespace parcelix {

namespace {

// Stored members are copied, and decoded data handed on, in pieces of this.
constexpr uint32_t kChunk = 32768;
// Directory descriptors kept open during one extraction.
constexpr size_t kMaxCachedDirs = 256;

bool IsJar(TArcType t) { return t == atJar || t == atJarExe; }

uint8_t Percent(int64_t done, int64_t total) {
  if (total <= 0 || done <= 0) return 0;
  if (done >= total) return 100;
  return uint8_t(std::lround(double(done) * 100.0 / double(total)));
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
    TArchiveStream in(*src);
    stream = &in;
    size_t omittedNext = 0;
    auto reportOmitted = [&](size_t upTo) {
      for (; omittedNext < omitted.size() && omitted[omittedNext].first <= upTo; ++omittedNext)
        if (results) results->push_back({omitted[omittedNext].second, false});
    };
    for (size_t i = 0; i < entries.size() && !z.Cancel(); ++i) {
      reportOmitted(i);
      ExtractMember(entries[i]);
      const DirectoryEntry& e = entries[i];
      archiveDone += e.CompressedSize();
    }
    if (!z.Cancel()) reportOmitted(entries.size());
    stream = nullptr;
  } catch (...) {
    stream = nullptr;
    Finish();
    throw;
  }
  Finish();
  return count;
}

void TUnZip::Run::Progress(int64_t fileDone) {
  if (z.OnProgress) z.OnProgress(z, Percent(fileDone, memberCompressed), Percent(archiveDone + fileDone, sumCompressed));
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

void TUnZip::Run::CloseDirectoryCache() {
  for (auto& [path, fd] : dirFds) ::close(fd);
  dirFds.clear();
  if (rootFd >= 0) ::close(rootFd);
  rootFd = -1;
}

// The descriptor of ExtractDir/parts[0..count), each level opened without
// following symbolic links (a link planted in the target tree, or made by an
// earlier member, is refused) and created when create is set.
int TUnZip::Run::DirectoryFd(const std::vector<std::string>& parts, size_t count, bool create) {
  if (rootFd < 0) {
    if (!ForceDirectories(z.extractDir_)) return -1;
    rootFd = ::open(z.extractDir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return -1;
  }
  if (dirFds.size() > kMaxCachedDirs) {
    for (auto& [path, fd] : dirFds) ::close(fd);
    dirFds.clear();
  }
  int parent = rootFd;
  std::string key;
  for (size_t i = 0; i < count; ++i) {
    key += parts[i];
    key += '/';
    auto it = dirFds.find(key);
    if (it != dirFds.end()) {
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
    dirFds.emplace(key, fd);
    parent = fd;
  }
  return parent;
}

int TUnZip::Run::OpenTargetFile(const std::string& target, const std::vector<std::string>& parts, bool fromHandler) {
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
  const int dfd = DirectoryFd(parts, parts.size() - 1, true);
  if (dfd < 0) return -1;
  return ::openat(dfd, parts.back().c_str(), flags, 0666);
}

bool TUnZip::Run::CreateStoredDirectory(const std::string&, const std::vector<std::string>& parts) {
  return DirectoryFd(parts, parts.size(), true) >= 0;
}

// -------------------------------------------------------------- the writer

uint32_t TUnZip::Run::WriteOut(const uint8_t* buffer, uint32_t n) {
  // Whatever a decoder does, no member grows past its recorded size.
  const uint32_t asked = n;
  if (int64_t(n) > memberLimit - memberWritten) n = uint32_t(std::max<int64_t>(memberLimit - memberWritten, 0));
  if (n == 0) return asked;
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
        memberWritten += done;
        return done;  // a part-written chunk stays out of the CRC: the member fails
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
        memberWritten += done;
        return done;
      }
      break;
    default:
      done = n;  // test: decoded, checked, kept nowhere
      break;
  }
  crc.UpdateCrcOfKind(kCrcKind32, buffer, int32_t(n));
  memberWritten += n;
  return asked;
}

// --------------------------------------------------------------- decoding

void TUnZip::Run::Decode(const DirectoryEntry& e, int64_t dataStart, uint16_t method, int64_t csize, int64_t usize) {
  memberLimit = usize;
  memberWritten = 0;
  stream->SetPosition(dataStart);
  if (method == 0) {
    // Stored: the data are the bytes; never more than the recorded size.
    int64_t left = std::min(csize, usize);
    std::vector<uint8_t> buf(size_t(std::min<int64_t>(std::max<int64_t>(left, 1), kChunk)));
    int64_t done = 0;
    while (left > 0 && !z.Cancel()) {
      z.PumpMessages();
      const uint32_t want = uint32_t(std::min<int64_t>(left, kChunk));
      const int64_t got = stream->Read(buf.data(), want);
      if (got <= 0) break;  // the archive ends inside the member
      if (WriteOut(buf.data(), uint32_t(got)) < uint32_t(got)) break;
      left -= got;
      done += got;
      Progress(done);
      if (got < int64_t(want)) break;
    }
    return;
  }
  if (method == 8 || method == 9) {
    TInflateJob job;
    job.Archive = stream;
    job.CompressedSize = csize;
    job.UncompressedSize = usize;
    job.Output = [this](const uint8_t* b, uint32_t n) { return WriteOut(b, n); };
    job.OnWriteFailed = [this] { z.RaiseError(currentTarget, "", z.volumeId_, kErrWriteFile); };
    if (z.OnProgress) job.Progress = [this](int64_t cdone, int64_t) { Progress(cdone); };
    if (z.ProcessMessages) job.ProcessMessages = [this] { z.PumpMessages(); };
    job.Cancel = z.CancelFlag();
    InflateMember(job, -15, method == 9);
    return;
  }
  (void)e;
  // Shrink, Reduce, Implode, and anything unknown: no decoder.
  z.ReportError(e.storedName, "", z.volumeId_, kErrUnsupportedMethod);
}

// ----------------------------------------------------------- the member

void TUnZip::Run::ExtractMember(const DirectoryEntry& e) {
  const CentralHeader& c = e.central;
  const size_t errorsBefore = z.errors_.size();
  z.currentName_ = e.name;
  memberCompressed = e.CompressedSize();

  auto record = [&](bool ok) {
    if (results) results->push_back({InfoOf(e), ok && z.errors_.size() == errorsBefore});
  };

  // The local header: its CRC, date and lengths (the name used is the one
  // the member was selected by).
  uint8_t lb[kLocalHeaderSize];
  LocalHeader lh;
  stream->SetPosition(e.localHeaderPosition);
  if (stream->Read(lb, kLocalHeaderSize) != int64_t(kLocalHeaderSize) || !lh.Parse(lb) ||
      ClassifySignature(lh.signature, htLocal).type != htLocal) {
    z.ReportError(e.storedName, "", z.volumeId_, kErrBadLocalOffset);
    record(false);
    return;
  }
  const int64_t dataStart = e.localHeaderPosition + int64_t(kLocalHeaderSize) + lh.nameLength + lh.extraLength;
  const uint16_t flags = c.flags;
  uint16_t method = c.method;
  if (method == 99 && e.centralExtra.aesMethod) method = e.centralExtra.aesMethod;
  int64_t csize = memberCompressed;
  const int64_t usize = e.UncompressedSize();
  // Streamed members carry CRC 0 in their local header; the directory's is
  // the real one.
  uint32_t storedCrc = c.crc32;
  if (e.hasCentral) storedCrc = (lh.crc32 == 0 && csize > 0) ? c.crc32 : lh.crc32;
  const std::string& name = e.name;
  const bool isDirName = !name.empty() && name.back() == '\\';
  uint32_t attr = e.externalAttributes & 0xFF;
  // A name without a trailing separator that has data is a file, whatever
  // its attribute bits say: skipping it as a directory would lose the data.
  if ((attr & 0x10) && !isDirName && (memberCompressed > 0 || usize > 0)) attr &= ~0x10u;

  std::string target = name;
  std::vector<std::string> parts;
  bool fromHandler = false;
  if (mode == kFiles && !ResolveTarget(name, target, parts)) {
    z.ReportError(e.storedName, "", z.volumeId_, kErrInvalidName);
    record(false);
    Progress(memberCompressed);
    return;
  }
  currentTarget = mode == kFiles ? target : e.storedName;
  // Reports name the file written, or (test, memory) the member with '/'.
  auto who = [&]() -> const std::string& { return mode == kFiles ? target : e.storedName; };
  auto skipped = [&] {
    Progress(memberCompressed);
    record(false);
  };

  // 1. Pre-check (not for members stored with the directory attribute).
  if (!(attr & 0x10)) {
    bool extract = true;
    if (z.OnBegin) {
      if (mode == kFiles && z.OnRenameFile) {
        std::string renamed;
        z.OnRenameFile(z, target, renamed);
        if (!renamed.empty()) {
          target = renamed;
          fromHandler = true;
          const std::string dir = ExtractFilePath(target);
          if (!dir.empty()) ForceDirectories(dir);
        }
      }
      z.OnBegin(z, target, count + 1, extract);
    }
    if (z.Cancel() || !extract) return skipped();
    if (mode != kFiles) {
      ++count;
    } else {
      struct stat st;
      // Only the choices below that depend on it look for an existing file.
      const bool exists = !isDirName && (z.ConfirmOverwrites || z.OverwriteMode == omSkip) &&
                          ::lstat(target.c_str(), &st) == 0;
      if (!z.ConfirmOverwrites) {
        // omSkip leaves existing files alone; new ones are still written.
        if (z.OverwriteMode == omSkip && exists) return skipped();
        ++count;
      } else {
        z.OverwriteMode = omOverwrite;
        if (exists) {
          if (!z.OnFileExists) {
            z.ReportError(who(), "OnFileExists", z.volumeId_, kErrEventNotAssigned);
            z.OverwriteMode = omSkip;
          } else {
            for (;;) {
              std::string newName;
              z.OnFileExists(z, target, newName, z.OverwriteMode);
              if (newName.empty() || newName == target || z.OverwriteMode == omSkip) break;
              target = newName;
              fromHandler = true;
              const std::string dir = ExtractFilePath(target);
              if (!dir.empty()) ForceDirectories(dir);
              if (::lstat(target.c_str(), &st) != 0) break;
            }
          }
          if (z.OverwriteMode == omOverwrite && ::lstat(target.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
              z.ReportError(who(), "", z.volumeId_, kErrWriteFile);
              return skipped();
            }
            // A read-only file the user agreed to replace becomes writable.
            if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) ::chmod(target.c_str(), st.st_mode | S_IWUSR);
          }
        }
        if (z.Cancel() || z.OverwriteMode != omOverwrite || target.empty()) return skipped();
        ++count;
      }
    }
    currentTarget = who();
  }

  // 2. Enciphered members cannot be deciphered here: they are skipped.
  bool skip = false;
  bool checked = true;  // false: a failure already reported stands for the check
  if (flags & kFlagEncrypted) {
    if (!(flags & kFlagStrongEnc)) {
      if (!z.OnGetPassword) z.ReportError(who(), "OnGetPassword", z.volumeId_, kErrEventNotAssigned);
      else z.ReportError(who(), "", z.volumeId_, kErrInvalidPassword);
      checked = false;
    }
    skip = true;
    csize -= 12;
  }

  // 3. The attributes stored in a JAR mean nothing.
  if (IsJar(z.arcType_)) attr = isDirName ? 0x10 : 0x20;

  bool pass = false;
  int memoryIndex = -1;
  if ((attr & 0x10) || isDirName) {
    // 4. A directory member: nothing to write.
    if (mode == kFiles && z.CreateStoredDirs && !fromHandler && !CreateStoredDirectory(target, parts)) {
      z.ReportError(who(), "", z.volumeId_, kErrCreateDir);
      checked = false;
    } else {
      pass = !z.Cancel();
    }
  } else {
    // 5. Open the output.
    bool opened = true;
    if (mode == kFiles) {
      outFd = OpenTargetFile(target, parts, fromHandler);
      if (outFd < 0) {
        z.ReportError(who(), "", z.volumeId_, kErrOpenFile);
        count = std::max(count - 1, 0);
        opened = false;
        checked = false;
      }
    } else if (mode == kMemory) {
      if (z.MaxMemoryMemberSize > 0 && usize > z.MaxMemoryMemberSize) {
        // Memory mode holds the whole member: a header that asks for more
        // than the limit is refused before anything is allocated.
        z.ReportError(e.storedName, "", z.volumeId_, kErrMaxFileSize);
        count = std::max(count - 1, 0);
        return skipped();
      }
      TDecompMemoryStream::Entry entry;
      entry.size = usize;
      entry.position = memory->Position();
      entry.name = name;
      memory->AddEntry(std::move(entry));
      memoryIndex = memory->Count() - 1;
    }
    if (opened) {
      uint32_t running;
      if (skip) {
        // 6. Nothing decoded; the check fails.
        count = std::max(count - 1, 0);
        running = 1;
      } else {
        // 8. Decode, with the running CRC over everything written.
        crc.CrcValue32 = CrcMask;
        try {
          Decode(e, dataStart, method, csize, usize);
        } catch (...) {
          if (outFd >= 0) ::close(outFd);
          outFd = -1;
          if (memoryIndex >= 0) memory->SetEntryWritten(memoryIndex, memberWritten);
          throw;
        }
        running = crc.CrcValue32 ^ CrcMask;
      }
      if (memoryIndex >= 0) memory->SetEntryWritten(memoryIndex, skip ? 0 : memberWritten);
      // 9. Finish the file: its date, its attributes, close.
      if (outFd >= 0) {
        if (!skip && z.DateAttribute != daSysDate) {
          const uint32_t dos = z.DateAttribute == daMaxFileDate ? newestDate : lh.dosDateTime;
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
        if (!skip && z.RestoreFileAttr && attr != 0x20 && (attr & 0x01)) {
          struct stat st;
          if (::fstat(outFd, &st) == 0) ::fchmod(outFd, st.st_mode & ~mode_t(0222));
        }
        if (::close(outFd) != 0) z.ReportError(who(), "", z.volumeId_, kErrCloseFile);
        outFd = -1;
      }
      // A member that decodes to fewer bytes than its header says is damaged
      // even when the bytes it did give match the CRC.
      pass = !z.Cancel() && (storedCrc == running || storedCrc == (running ^ CrcMask)) &&
             (skip || memberWritten == usize);
    }
  }

  // 10. The end-of-member check.
  const std::string& shown = mode == kFiles ? target : name;
  if (z.OnEnd) z.OnEnd(z, shown, pass);
  else if (!pass && checked) z.ReportError(who(), "", z.volumeId_, kErrCrcCheck);
  Progress(memberCompressed);
  record(pass);
}

}  // namespace parcelix
