// Fuzz target: the JAD and manifest reader and the audit's checks of both.
// The input is a manifest and a JAD, split at the first "\0JAD\0" (both are
// the whole input when it holds none). The text readers run on the bytes
// directly; then the manifest is stored in a small JAR with a JAD beside it
// in a private folder, and the whole audit runs over the pair. Checked
// besides the sanitizers: the reader keeps its attributes within the text,
// and the audit reports sizes as they are.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/ByteIO.h"
#include "midlet/Audit.h"
#include "midlet/FileUtil.h"
#include "midlet/JadText.h"

namespace {

using namespace parcelix;

// A JAR of one stored member, the manifest, and a class MIDlet-1 may name.
std::vector<uint8_t> StoredJar(std::string_view manifest) {
  const std::string_view names[] = {"META-INF/MANIFEST.MF", "a/Main.class"};
  const std::string_view datas[] = {manifest, "\xca\xfe\xba\xbe"};
  std::vector<uint8_t> out, central;
  for (int i = 0; i < 2; ++i) {
    const auto crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(datas[i].data()), uInt(datas[i].size())));
    uint8_t h[46] = {};
    PutLE32(h, 0x04034B50);
    PutLE16(h + 4, 20);
    PutLE32(h + 14, crc);
    PutLE32(h + 18, uint32_t(datas[i].size()));
    PutLE32(h + 22, uint32_t(datas[i].size()));
    PutLE16(h + 26, uint16_t(names[i].size()));
    uint8_t c[46] = {};
    PutLE32(c, 0x02014B50);
    PutLE16(c + 4, 20);
    PutLE16(c + 6, 20);
    PutLE32(c + 16, crc);
    PutLE32(c + 20, uint32_t(datas[i].size()));
    PutLE32(c + 24, uint32_t(datas[i].size()));
    PutLE16(c + 28, uint16_t(names[i].size()));
    PutLE32(c + 42, uint32_t(out.size()));
    out.insert(out.end(), h, h + 30);
    out.insert(out.end(), names[i].begin(), names[i].end());
    out.insert(out.end(), datas[i].begin(), datas[i].end());
    central.insert(central.end(), c, c + 46);
    central.insert(central.end(), names[i].begin(), names[i].end());
  }
  uint8_t e[22] = {};
  PutLE32(e, 0x06054B50);
  PutLE16(e + 8, 2);
  PutLE16(e + 10, 2);
  PutLE32(e + 12, uint32_t(central.size()));
  PutLE32(e + 16, uint32_t(out.size()));
  out.insert(out.end(), central.begin(), central.end());
  out.insert(out.end(), e, e + 22);
  return out;
}

void Write(const std::string& path, const void* data, size_t n) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(static_cast<const char*>(data), std::streamsize(n));
}

void CheckReader(std::string_view text) {
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  for (const AttributeText& t : {ParseJadText(bytes), ParseManifestText(bytes)}) {
    size_t total = 0;
    for (const auto& [name, value] : t.attributes) total += name.size() + value.size();
    if (total > text.size() || t.longestLine > text.size()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Manifests past 64 KiB add nothing the reader has not seen.
  if (size > (64u << 10)) return 0;
  static const TPrivateTempDir dir("parcelix-fuzz-jad-");
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const size_t split = all.find(std::string_view("\0JAD\0", 5));
  const std::string_view manifest = split == std::string_view::npos ? all : all.substr(0, split);
  const std::string_view jad = split == std::string_view::npos ? all : all.substr(split + 5);
  CheckReader(manifest);
  CheckReader(jad);
  const std::vector<uint8_t> jar = StoredJar(manifest);
  const std::string jarPath = dir.Path() + "suite.jar";
  Write(jarPath, jar.data(), jar.size());
  Write(dir.Path() + "suite.jad", jad.data(), jad.size());
  const AuditResult r = AuditJar(jarPath);
  if (r.size != int64_t(jar.size()) || r.jadPath.empty()) std::abort();
  return 0;
}
