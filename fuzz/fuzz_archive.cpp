// Fuzz target: open an archive and decode every member through the core
// calls (open, local headers, member), then through the reader component:
// list, raw directory, test, and extraction to memory.
//
// The bytes become an in-memory file (memfd) opened through /proc/self/fd,
// so the reader runs exactly as on a disk file. Checked besides the
// sanitizers: an entry said to be copyable lies inside the file; nothing in
// memory mode grows past the member size limit, and no index entry claims
// more written bytes than its member's size; test and extraction give the
// same verdict.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "engine/read/ArchiveSource.h"
#include "engine/read/ZipArchive.h"
#include "engine/read/ZipMember.h"
#include "engine/read/arxUnZip.h"

namespace {

using namespace parcelix;

constexpr int64_t kLimit = 1 << 20;

// The core calls: open, every local header, every member decoded to nowhere.
void RunCore(const std::string& path) {
  TArchiveSource src;
  if (!src.Open(path)) return;
  ZipArchive zip;
  if (!OpenZip(src, LocateEndRecord(src), {}, zip)) return;
  ReadLocalHeaders(src, zip);
  TArchiveStream in(src);
  for (const ZipEntry& e : zip.entries) {
    if (zip.CanCopy(e) && (e.dataStart < 0 || e.descriptorEnd > src.Size() || e.dataEnd > e.descriptorEnd))
      std::abort();
    if (!e.localFound || e.uncompressedSize > uint64_t(kLimit)) continue;
    in.SetPosition(e.dataStart);
    TInflateJob job;
    job.Archive = &in;
    job.CompressedSize = int64_t(std::min<uint64_t>(e.compressedSize, uint64_t(src.Size())));
    job.UncompressedSize = int64_t(e.uncompressedSize);
    job.Output = [](const uint8_t*, uint32_t n) { return n; };
    const TMemberResult r = DecodeMember(std::move(job), e.method, e.crc32);
    if (r.written > int64_t(e.uncompressedSize)) std::abort();
  }
}

bool Failed(const TUnZip& z) { return !z.Errors().empty() || z.Archive().HasError(); }

bool Reported(const TUnZip& z, int code) {
  for (const auto& e : z.Errors())
    if (e.code == code) return true;
  return false;
}

// Every reading path over one archive: list, test, memory.
void RunAll(const std::string& path) {
  RunCore(path);
  TUnJar z;
  z.SetArchiveFile(path);
  z.FileSpec = {"*.*"};
  std::vector<MemberInfo> members;
  z.List(members);
  z.MaxMemoryMemberSize = kLimit;
  bool tested = false, testFailed = false;
  try {
    std::vector<MemberResult> results;
    z.Test(&results);
    tested = true;
    testFailed = Failed(z);
    for (const auto& r : results) testFailed = testFailed || !r.ok;
  } catch (const E_RAISE&) {
  }
  TDecompMemoryStream s;
  bool memberFailed = false;
  z.OnEnd = [&](TUnZip&, const std::string&, bool pass) { memberFailed = memberFailed || !pass; };
  try {
    z.ExtractToMemoryStream(&s);
    // The same members, the same checks: the same verdict (unless a member
    // was too large for memory, which a test does not refuse).
    const bool extractFailed = memberFailed || Failed(z);
    if (tested && !Reported(z, kErrMaxFileSize) && extractFailed != testFailed) std::abort();
  } catch (const E_RAISE&) {
  }
  z.OnEnd = nullptr;
  for (int i = 0; i < s.Count(); ++i) {
    if (s.EntrySize(i) > kLimit || s.EntryWritten(i) > s.EntrySize(i) ||
        s.EntryPosition(i) + s.EntryWritten(i) > s.GetSize())
      std::abort();
  }
  z.FileSpec = {"MANIFEST.MF"};
  s.Clear();
  try {
    z.ExtractToMemoryStream(&s);
  } catch (const E_RAISE&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("parcelix-fuzz", MFD_CLOEXEC);
  if (fd < 0) return 0;
  size_t done = 0;
  while (done < size) {
    const ssize_t w = write(fd, data + done, size - done);
    if (w <= 0) break;
    done += size_t(w);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  RunAll(path);
  close(fd);
  return 0;
}
