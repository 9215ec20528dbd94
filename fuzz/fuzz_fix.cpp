// Fuzz target: the fix of a JAR, plain and with --salvage (and Deflate64
// re-encoded), over any bytes.
//
// Checked besides the sanitizers: a fix either leaves the file byte for
// byte as it was, or writes an archive that opens without an error finding,
// whose every member decodes to the bytes the same name had before, and
// whose second fix finds nothing to do.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include "engine/read/ArchiveSource.h"
#include "midlet/JarFix.h"

namespace {

using namespace parcelix;
using Members = std::map<std::string, std::vector<uint8_t>>;

std::vector<char> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Name -> decoded bytes of the first entry of each name that decodes whole
// from data the directory places inside the file (an entry whose recorded
// size runs past the end is damaged, even when its Deflate stream ends
// sooner: strict readers refuse it, and salvage leaves it out).
Members Decoded(TArchiveSource& source, const std::vector<ZipEntry>& entries) {
  Members out;
  for (const ZipEntry& e : entries) {
    if (out.count(e.name) || e.dataStart < 0 || e.dataEnd > source.Size() || e.uncompressedSize > (1u << 24)) continue;
    std::vector<uint8_t> data;
    if (DecodeEntry(source, e, &data).ok()) out.emplace(e.name, std::move(data));
  }
  return out;
}

void FixAndReadBack(const std::string& path, const JarFixOptions& options) {
  const std::vector<char> before = ReadAll(path);
  JarExamination exam = ExamineJar(path, options);
  if (exam.plan.verdict != TFixVerdict::NeedsFix) {
    if (ReadAll(path) != before) std::abort();
    return;
  }
  const Members old = Decoded(exam.old->Source(), exam.old->Entries());
  const JarFixResult r = FixJar(exam, options);
  exam.old.reset();
  if (!r.written) {
    if (ReadAll(path) != before) std::abort();  // refused or failed: untouched
    return;
  }
  TArchiveSource source;
  ZipArchive zip;
  if (!source.Open(path) || !OpenZip(source, OpenOptions{}, zip)) std::abort();
  ReadLocalHeaders(source, zip);
  for (const Finding& f : zip.findings)
    if (f.severity == TSeverity::error) std::abort();
  for (const ZipEntry& e : zip.entries)
    if (!DecodeEntry(source, e).ok()) std::abort();  // every member written decodes
  const Members now = Decoded(source, zip.entries);
  for (const auto& [name, data] : now) {
    const auto was = old.find(name);
    // The manifest (found in any letter case) may have been repaired.
    if (!SameIgnoringCase(name, "META-INF/MANIFEST.MF") && (was == old.end() || was->second != data)) std::abort();
  }
  if (ExamineJar(path, options).plan.verdict != TFixVerdict::AlreadyFine) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char dir[] = "/tmp/parcelix-fuzz-fix-XXXXXX";
  if (!mkdtemp(dir)) return 0;
  const std::string path = std::string(dir) + "/a.jar";
  for (const bool salvage : {false, true}) {
    {
      std::ofstream f(path, std::ios::binary | std::ios::trunc);
      f.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    JarFixOptions options;
    options.salvage = salvage;
    options.deflate64ToDeflate = salvage;
    options.checkOnReadBack = !salvage;  // as the command line fixes
    options.backup = false;
    FixAndReadBack(path, options);
  }
  unlink(path.c_str());
  rmdir(dir);
  return 0;
}
