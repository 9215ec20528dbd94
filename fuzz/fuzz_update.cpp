// Fuzz target: open an archive for an update, run the plan "copy every
// entry, replace the first by new bytes", and read the result back.
//
// Checked besides the sanitizers: an update either leaves the archive byte
// for byte as it was or writes one whose every entry can itself be copied
// exactly, holding as many entries as the plan wrote.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include "engine/common/arxGbls.h"
#include "engine/read/arxUnZip.h"
#include "engine/write/arxZip.h"

namespace {

using namespace parcelix;

std::vector<char> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void UpdateAndReadBack(const std::string& path) {
  const std::vector<char> before = ReadAll(path);
  TJar jar;
  int written = 0;
  {
    auto old = jar.OpenOldArchive(path);
    if (!old) return;
    std::vector<TPlanStep> steps;
    for (size_t i = 0; i < old->Entries().size(); ++i) {
      TPlanStep step;
      step.old = int(i);
      if (i == 0) {
        step.kind = TPlanStep::Kind::Bytes;
        step.name = "replaced.txt";
        step.data.assign(100, uint8_t('r'));
      }
      steps.push_back(step);
    }
    jar.SetTempDir(ExtractFilePath(path));
    jar.SetArchiveFile(path);
    written = jar.UpdateByPlan(*old, steps);
  }
  if (written == 0) {
    if (ReadAll(path) != before) std::abort();  // refused or failed: untouched
    return;
  }
  auto result = jar.OpenOldArchive(path);
  if (!result || result->FirstUncopyable() >= 0 || int(result->Entries().size()) != written) std::abort();
  TUnJar again;
  again.SetArchiveFile(path);
  try {
    again.FileSpec = {"*.*"};
    again.Test();
  } catch (const E_RAISE&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char dir[] = "/tmp/parcelix-fuzz-update-XXXXXX";
  if (!mkdtemp(dir)) return 0;
  const std::string path = std::string(dir) + "/a.jar";
  {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  UpdateAndReadBack(path);
  unlink(path.c_str());
  rmdir(dir);
  return 0;
}
