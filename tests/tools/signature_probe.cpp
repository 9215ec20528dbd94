// A test driver for the scenario scripts: runs the signature checks on JARs
// as the program does (the crypto module loaded beside a program path) and
// prints one line per finding, "JAR: severity: code: text".
//
//   parcelix-signature-probe [--program PATH] [--sha256] JAR...
//
// --program: where the crypto module is looked for (default: this driver);
// --sha256: prints "JAR: sha256: HEX" first. Exit status 1 when the module
// could not be loaded or a JAR could not be read, else 0.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/FileSystem.h"
#include "engine/read/arxUnZip.h"
#include "midlet/JadUpdate.h"
#include "midlet/JarSignature.h"
#include "midlet/ManifestModel.h"
#include "midlet/MidletSuite.h"

using namespace parcelix;

namespace {

// One member read whole through the reader; false when it is not there or damaged.
bool ReadMember(const std::string& jar, const std::string& name, std::vector<uint8_t>& bytes) {
  TUnZip reader;
  reader.FileSpec = {name};
  TDecompMemoryStream stream;
  try {
    reader.SetArchiveFile(jar);
    reader.ExtractToMemoryStream(&stream);
  } catch (const std::exception&) {
    return false;
  }
  if (!reader.Errors().empty() || stream.Count() != 1 || stream.EntryWritten(0) != stream.EntrySize(0)) return false;
  const auto* data = stream.Memory() + stream.EntryPosition(0);
  bytes.assign(data, data + stream.EntryWritten(0));
  return true;
}

bool Probe(TSignatureChecker& checker, const std::string& jar, bool sha256) {
  if (sha256) {
    std::string error;
    const auto hex = checker.Sha256File(jar, &error);
    std::printf("%s: sha256: %s\n", jar.c_str(), hex ? hex->c_str() : ("(" + error + ")").c_str());
  }
  TMidletSuite suite;
  SignatureSubject subject;
  std::vector<uint8_t> manifest;
  JadAttributes jad;
  try {
    subject.memberNames = suite.MemberNames(jar);
    manifest = suite.ReadManifestBytes(jar);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", jar.c_str(), e.what());
    return false;
  }
  std::string jadText;
  if (ReadWholeFile(JadPathOf(jar), jadText, kMaxJadSize)) {
    jad = ParseJadAttributes(jadText);
    subject.jad = &jad;
  }
  subject.jarPath = jar;
  subject.manifest = manifest;
  subject.readMember = [&](const std::string& name, std::vector<uint8_t>& bytes) {
    return ReadMember(jar, name, bytes);
  };
  for (const AuditFinding& f : checker.Check(subject))
    std::printf("%s: %s: %s: %s\n", jar.c_str(), AuditSeverityName(f.severity), f.code.c_str(), f.text.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string program = argv[0];
  bool sha256 = false;
  std::vector<std::string> jars;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--program" && i + 1 < argc) program = argv[++i];
    else if (arg == "--sha256") sha256 = true;
    else jars.emplace_back(arg);
  }
  TSignatureChecker checker(program);
  if (!checker.Available()) {
    std::fprintf(stderr, "%s\n", checker.Error().c_str());
    return 1;
  }
  bool ok = true;
  for (const std::string& jar : jars) ok = Probe(checker, jar, sha256) && ok;
  return ok ? 0 : 1;
}
