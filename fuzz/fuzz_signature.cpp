// Fuzz target: the signature checks on a JAD, a JAR's bytes, a signature file
// and a manifest that may all be anything.
//
// The input is cut into fields at the marker "\n@@\n": the JAD text (parsed
// as every JAD is), certificate bytes and signature bytes (base64-encoded
// here into MIDlet-Certificate-1-1 and MIDlet-Jar-RSA-SHA1 when the JAD does
// not name them itself, so the fuzzer reaches the DER reader and the RSA
// check directly), the JAR's bytes (an in-memory file), a signature file
// META-INF/S.SF and the manifest. Checked besides the sanitizers: each
// finding is one of the three signature codes with its severity, the checks
// find nothing on an unsigned suite, and the same input gives the same
// findings twice.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "engine/common/FileSystem.h"
#include "midlet/JadUpdate.h"
#include "midlet/JarSignature.h"
#include "midlet/crypto/CryptoApi.h"

namespace {

using namespace parcelix;

constexpr std::string_view kMarker = "\n@@\n";
enum Field { kJad, kCertificate, kSignature, kJar, kSignatureFile, kManifest, kFields };

std::vector<std::string_view> Fields(std::string_view input) {
  std::vector<std::string_view> fields;
  while (fields.size() + 1 < kFields) {
    const size_t at = input.find(kMarker);
    if (at == std::string_view::npos) break;
    fields.push_back(input.substr(0, at));
    input.remove_prefix(at + kMarker.size());
  }
  fields.push_back(input);
  fields.resize(kFields);
  return fields;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
    if (i + 1 < bytes.size()) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) v |= uint8_t(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
  }
  return out;
}

bool Has(const JadAttributes& jad, std::string_view prefix) {
  for (const auto& [key, value] : jad)
    if (key.starts_with(prefix)) return true;
  return false;
}

// The JAR's bytes as a file the checker opens by path, closed when done.
class TMemFile {
 public:
  explicit TMemFile(std::string_view bytes) : fd_(memfd_create("jar", MFD_CLOEXEC)) {
    if (fd_.IsOpen() && ::write(fd_.Get(), bytes.data(), bytes.size()) == ssize_t(bytes.size()))
      path_ = "/proc/self/fd/" + std::to_string(fd_.Get());
  }
  const std::string& Path() const { return path_; }

 private:
  TFd fd_;
  std::string path_;
};

void CheckFindings(const std::vector<AuditFinding>& findings, size_t most) {
  if (findings.size() > most) std::abort();
  for (const AuditFinding& f : findings) {
    const bool known = (f.code == "signature-valid" && f.severity == AuditSeverity::info) ||
                       (f.code == "signature-broken" && f.severity == AuditSeverity::error) ||
                       (f.code == "signature-unverifiable" && f.severity == AuditSeverity::warning);
    if (!known || f.text.empty()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string_view> fields = Fields(std::string_view(reinterpret_cast<const char*>(data), size));
  JadAttributes jad = ParseJadAttributes(fields[kJad]);
  if (!fields[kCertificate].empty() && !Has(jad, "MIDlet-Certificate-"))
    jad.emplace_back("MIDlet-Certificate-1-1", Base64(fields[kCertificate]));
  if (!fields[kSignature].empty() && !Has(jad, "MIDlet-Jar-RSA-SHA1"))
    jad.emplace_back("MIDlet-Jar-RSA-SHA1", Base64(fields[kSignature]));
  const TMemFile jar(fields[kJar]);
  if (jar.Path().empty()) return 0;

  const std::string_view sf = fields[kSignatureFile];
  const std::string_view manifest = fields[kManifest];
  SignatureSubject subject;
  subject.jarPath = jar.Path();
  subject.jad = &jad;
  subject.manifest = std::span(reinterpret_cast<const uint8_t*>(manifest.data()), manifest.size());
  if (!sf.empty()) subject.memberNames = {"META-INF/MANIFEST.MF", "META-INF/S.SF", "META-INF/S.RSA"};
  subject.readMember = [&](const std::string& name, std::vector<uint8_t>& bytes) {
    if (name != "META-INF/S.SF") return false;
    bytes.assign(sf.begin(), sf.end());
    return true;
  };

  TSignatureChecker checker(parcelix_crypto_openssl());
  const std::vector<AuditFinding> first = checker.Check(subject);
  CheckFindings(first, 1 + subject.memberNames.size());
  const bool midp = Has(jad, "MIDlet-Jar-RSA-SHA1") || Has(jad, "MIDlet-Certificate-");
  if (!midp && sf.empty() && !first.empty()) std::abort();
  const std::vector<AuditFinding> again = checker.Check(subject);
  if (again.size() != first.size()) std::abort();
  for (size_t i = 0; i < first.size(); ++i)
    if (again[i].code != first[i].code) std::abort();
  return 0;
}
