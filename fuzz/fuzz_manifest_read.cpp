// Fuzz target: the quick manifest read of plain JARs against the full
// reader, over any bytes.
//
// Checked besides the sanitizers: when the quick read answers, the full
// reader reads the very same manifest from the file.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include "engine/read/PlainMember.h"
#include "midlet/MidletSuite.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace parcelix;
  char dir[] = "/tmp/parcelix-fuzz-manifest-XXXXXX";
  if (!mkdtemp(dir)) return 0;
  const std::string path = std::string(dir) + "/a.jar";
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  TPlainMember quick;
  if (ReadPlainMember(path, "META-INF/MANIFEST.MF", 1 << 20, quick)) {
    TUnZip reader;
    std::vector<uint8_t> full;
    try {
      full = ReadJarManifest(reader, path);
    } catch (const std::exception&) {
      std::abort();  // the quick read called sound what the reader refuses
    }
    if (full != quick.bytes) std::abort();
  }
  unlink(path.c_str());
  rmdir(dir);
  return 0;
}
