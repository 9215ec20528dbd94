// Fuzz target: open an archive, list it, read its raw directory, test every
// member and extract every member to memory, on whatever bytes arrive.
//
// The bytes become an in-memory file (memfd) opened through /proc/self/fd,
// so the reader runs exactly as on a disk file. Checked besides the
// sanitizers: nothing in memory mode grows past the member size limit, and
// no index entry claims more written bytes than its member's size.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "engine/read/arxUnZip.h"

namespace {

using namespace parcelix;

// Every reading path over one archive: list, test, memory.
void RunAll(const std::string& path) {
  TUnJar z;
  z.SetArchiveFile(path);
  z.FileSpec = {"*.*"};
  std::vector<MemberInfo> members;
  z.List(members);
  try {
    std::vector<MemberResult> results;
    z.Test(&results);
  } catch (const E_RAISE&) {
  }
  constexpr int64_t kLimit = 1 << 20;
  z.MaxMemoryMemberSize = kLimit;
  TDecompMemoryStream s;
  try {
    z.ExtractToMemoryStream(&s);
  } catch (const E_RAISE&) {
  }
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
