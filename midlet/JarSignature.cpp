// The signature checks of a JAR: the MIDP signature its JAD carries, verified
// over the JAR's bytes, and the manifest digest of a Java signature file. The
// cryptography comes from the crypto module's table.
#include "midlet/JarSignature.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <set>
#include <string_view>

#include "engine/common/FileSystem.h"
#include "engine/common/arxGbls.h"
#include "midlet/CryptoModule.h"
#include "midlet/JadText.h"
#include "midlet/JadUpdate.h"
#include "midlet/ManifestModel.h"
#include "midlet/MidletSuite.h"

namespace parcelix {

namespace {

constexpr std::string_view kJadSignature = "MIDlet-Jar-RSA-SHA1";
constexpr std::string_view kJadCertificate = "MIDlet-Certificate-";
// Bounds of what is decoded: a certificate chain entry and an RSA signature
// (16384-bit keys make 2048-byte signatures) are far smaller.
constexpr size_t kMaxCertificateSize = 64 * 1024;
constexpr size_t kMaxSignatureSize = 4096;
constexpr size_t kReadChunk = 64 * 1024;

// Decodes base64, skipping white space (a JAD value may have been folded over
// lines); false on any other character, a misplaced '=' or more than maxSize bytes.
bool Base64Decode(std::string_view text, size_t maxSize, std::vector<uint8_t>& out) {
  out.clear();
  uint32_t bits = 0;
  int count = 0, pad = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    else if (c == '=') { ++pad; continue; }
    else return false;
    if (pad > 0) return false;  // data after padding
    bits = (bits << 6) | uint32_t(v);
    if (++count % 4 == 0) {
      if (out.size() + 3 > maxSize) return false;
      out.push_back(uint8_t(bits >> 16));
      out.push_back(uint8_t(bits >> 8));
      out.push_back(uint8_t(bits));
      bits = 0;
    }
  }
  const int rest = count % 4;
  if (rest == 1 || pad > 2 || (pad > 0 && rest + pad != 4)) return false;
  if (out.size() + size_t(rest > 0 ? rest - 1 : 0) > maxSize) return false;
  if (rest >= 2) out.push_back(uint8_t(bits >> (rest == 2 ? 4 : 10)));
  if (rest == 3) out.push_back(uint8_t(bits >> 2));
  return !out.empty();
}

std::string Hex(const uint8_t* p, size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

bool EndsWithNoCase(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && std::equal(tail.begin(), tail.end(), s.end() - tail.size(), [](char a, char b) {
           return std::tolower(uint8_t(a)) == std::tolower(uint8_t(b));
         });
}

std::string Trim(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  return std::string(s.substr(b, s.find_last_not_of(" \t") - b + 1));
}

// One running digest of the module, freed when it goes away.
class TDigest {
 public:
  TDigest(const ParcelixCryptoApi& api, int kind) : api_(api), handle_(api.digestNew(kind)) {}
  ~TDigest() {
    if (handle_) api_.digestFree(handle_);
  }
  TDigest(const TDigest&) = delete;
  TDigest& operator=(const TDigest&) = delete;
  bool Update(const uint8_t* p, size_t n) { return handle_ && (ok_ = ok_ && api_.digestUpdate(handle_, p, n)); }
  // The digest; empty when the library failed.
  std::vector<uint8_t> Final() {
    uint8_t out[kMaxDigestSize];
    const size_t n = handle_ && ok_ ? api_.digestFinal(handle_, out) : 0;
    return std::vector<uint8_t>(out, out + std::min(n, kMaxDigestSize));
  }

 private:
  const ParcelixCryptoApi& api_;
  void* handle_;
  bool ok_ = true;
};

// The digest of a whole file, read in chunks (constant memory); empty with
// *error set when it cannot be read.
std::vector<uint8_t> DigestFile(const ParcelixCryptoApi& api, int kind, const std::string& path, std::string* error) {
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsOpen()) {
    if (error) *error = std::strerror(errno);
    return {};
  }
  TDigest digest(api, kind);
  std::vector<uint8_t> buf(kReadChunk);
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error) *error = std::strerror(errno);
      return {};
    }
    if (n == 0) break;
    if (!digest.Update(buf.data(), size_t(n))) break;
  }
  std::vector<uint8_t> out = digest.Final();
  if (out.empty() && error) *error = "the digest could not be computed";
  return out;
}

// MIDlet-Certificate-<n>-<m> parsed; false for any other name.
bool CertificateIndex(std::string_view key, int& chain, int& position) {
  if (key.substr(0, kJadCertificate.size()) != kJadCertificate) return false;
  key.remove_prefix(kJadCertificate.size());
  int* parts[2] = {&chain, &position};
  for (int i = 0; i < 2; ++i) {
    size_t n = 0;
    *parts[i] = 0;
    while (n < key.size() && n < 6 && key[n] >= '0' && key[n] <= '9') *parts[i] = *parts[i] * 10 + (key[n++] - '0');
    if (n == 0 || *parts[i] == 0) return false;
    key.remove_prefix(n);
    if (i == 0 && (key.empty() || key[0] != '-')) return false;
    if (i == 0) key.remove_prefix(1);
  }
  return key.empty();
}

// The signer's certificate: position 1 of the lowest chain; its name in *name.
const std::string* SignerCertificate(const JadAttributes& jad, std::string* name, bool* any) {
  const std::string* best = nullptr;
  int bestChain = 0;
  *any = false;
  for (const auto& [key, value] : jad) {
    int chain = 0, position = 0;
    if (!CertificateIndex(key, chain, position)) continue;
    *any = true;
    if (position == 1 && (!best || chain < bestChain)) {
      best = &value;
      bestChain = chain;
      *name = key;
    }
  }
  return best;
}

// A signature or certificates in the JAD: the MIDP signature is checked.
bool HasMidpAttributes(const JadAttributes& jad) {
  std::string name;
  bool anyCertificate = false;
  SignerCertificate(jad, &name, &anyCertificate);
  return anyCertificate || FindAttribute(jad, kJadSignature);
}

std::string Day(int64_t t) {
  const std::time_t tt = std::time_t(t);
  std::tm tm{};
  if (!gmtime_r(&tt, &tm)) return "?";
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
  return buf;
}

// "signed by C=FI, CN=Signer, certificate valid from 2024-01-01 to 2034-01-01"
std::string SignerWords(const ParcelixCertificateInfo& info) {
  std::string s = "signed by " + std::string(info.subject[0] ? info.subject : "(no subject)") +
                  ", certificate valid from " + Day(info.notBefore) + " to " + Day(info.notAfter);
  const int64_t now = int64_t(std::time(nullptr));
  if (now > info.notAfter) s += " (expired)";
  else if (now < info.notBefore) s += " (not yet valid)";
  return s;
}

const char* KeyName(int kind) {
  switch (kind) {
    case kKeyDsa: return "a DSA key";
    case kKeyEc: return "an EC key";
  }
  return "a key that is not RSA";
}

AuditFinding Finding(AuditSeverity severity, std::string text) {
  static constexpr const char* kCodes[] = {"signature-valid", "signature-unverifiable", "signature-broken"};
  return {kCodes[int(severity)], severity, std::move(text)};
}
AuditFinding Unverifiable(std::string text) { return Finding(AuditSeverity::warning, std::move(text)); }

// The signer's certificate decoded and read; a finding when that fails.
std::optional<AuditFinding> ReadSigner(const ParcelixCryptoApi& api, const JadAttributes& jad,
                                       std::vector<uint8_t>& der, ParcelixCertificateInfo& info) {
  std::string name;
  bool any = false;
  const std::string* cert = SignerCertificate(jad, &name, &any);
  if (!cert)
    return Unverifiable(any ? "the JAD has no signer certificate (MIDlet-Certificate-<n>-1)"
                            : "the JAD has MIDlet-Jar-RSA-SHA1 but no MIDlet-Certificate-<n>-<m>");
  if (!Base64Decode(*cert, kMaxCertificateSize, der)) return Unverifiable(name + " is not base64 (or too long)");
  if (!api.certificateRead(der.data(), der.size(), &info))
    return Unverifiable(name + " is not a DER X.509 certificate");
  if (info.keyKind != kKeyRsa)
    return Unverifiable(name + " holds " + KeyName(info.keyKind) + "; MIDlet-Jar-RSA-SHA1 needs an RSA key");
  return std::nullopt;
}

AuditFinding CheckMidp(const ParcelixCryptoApi& api, const SignatureSubject& subject) {
  const JadAttributes& jad = *subject.jad;
  const std::string* sigText = FindAttribute(jad, kJadSignature);
  if (!sigText) return Unverifiable("the JAD has MIDlet-Certificate-<n>-<m> but no MIDlet-Jar-RSA-SHA1");
  std::vector<uint8_t> der, signature;
  ParcelixCertificateInfo info{};
  if (auto failed = ReadSigner(api, jad, der, info)) return *failed;
  if (!Base64Decode(*sigText, kMaxSignatureSize, signature))
    return Unverifiable("MIDlet-Jar-RSA-SHA1 is not base64 (or too long)");
  if (signature.size() != size_t(info.keyBytes))
    return Unverifiable("MIDlet-Jar-RSA-SHA1 holds " + std::to_string(signature.size()) +
                        " bytes; the signer's key makes signatures of " + std::to_string(info.keyBytes));
  std::string error;
  const std::vector<uint8_t> sha1 = DigestFile(api, kDigestSha1, subject.jarPath, &error);
  if (sha1.size() != 20) return Unverifiable("the JAR cannot be read for its signature: " + error);
  switch (api.verifyRsaSha1(der.data(), der.size(), sha1.data(), signature.data(), signature.size())) {
    case kVerifyValid:
      return Finding(AuditSeverity::info, "the MIDP signature (MIDlet-Jar-RSA-SHA1) holds; " + SignerWords(info));
    case kVerifyMismatch:
      return Finding(AuditSeverity::error,
                     "the JAR changed since it was signed: MIDlet-Jar-RSA-SHA1 does not match its bytes (" +
                         SignerWords(info) + ")");
  }
  return Unverifiable("the MIDP signature could not be verified (" + SignerWords(info) + ")");
}

// The attributes of the main section of a signature file (up to its first
// empty line), continuation lines joined.
JadAttributes MainSection(std::span<const uint8_t> bytes) {
  JadAttributes attrs;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    if (line.empty()) break;
    if (line[0] == ' ' && !attrs.empty()) {
      attrs.back().second.append(line.substr(1));
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    attrs.emplace_back(std::string(line.substr(0, colon)), Trim(line.substr(colon + 1)));
  }
  return attrs;
}

struct DigestName {
  const char* attribute;
  const char* shown;
  int kind;
};
// The strongest digest a signature file names is checked.
constexpr DigestName kManifestDigests[] = {
    {"SHA-512-Digest-Manifest", "SHA-512", kDigestSha512}, {"SHA-384-Digest-Manifest", "SHA-384", kDigestSha384},
    {"SHA-256-Digest-Manifest", "SHA-256", kDigestSha256}, {"SHA1-Digest-Manifest", "SHA-1", kDigestSha1},
    {"SHA-1-Digest-Manifest", "SHA-1", kDigestSha1},
};

AuditFinding CheckSignatureFile(const ParcelixCryptoApi& api, const SignatureSubject& subject, const std::string& sf) {
  std::vector<uint8_t> bytes;
  if (!subject.readMember || !subject.readMember(sf, bytes)) return Unverifiable(sf + " cannot be read");
  const JadAttributes attrs = MainSection(bytes);
  for (const DigestName& d : kManifestDigests) {
    const std::string* value = FindAttribute(attrs, d.attribute);
    if (!value) continue;
    std::vector<uint8_t> expected;
    if (!Base64Decode(*value, kMaxDigestSize, expected))
      return Unverifiable(sf + ": " + d.attribute + " is not base64");
    TDigest digest(api, d.kind);
    digest.Update(subject.manifest.data(), subject.manifest.size());
    if (digest.Final() == expected)
      return Finding(AuditSeverity::info, sf + ": the " + d.shown +
                                              " manifest digest matches (the signature block itself is not verified)");
    return Finding(AuditSeverity::error, sf + ": the " + d.shown +
                                             " digest of the manifest does not match; the manifest changed since signing");
  }
  return Unverifiable(sf + " names no digest of the whole manifest (SHA-256-Digest-Manifest or SHA1-Digest-Manifest)");
}

// The signature files that have a block file of the same stem beside them.
std::vector<std::string> SignatureFiles(const std::vector<std::string>& names) {
  std::set<std::string> blocks, seen;
  for (const std::string& n : names)
    if (EndsWithNoCase(n, ".RSA") || EndsWithNoCase(n, ".DSA")) blocks.insert(n.substr(0, n.size() - 4));
    else if (EndsWithNoCase(n, ".EC")) blocks.insert(n.substr(0, n.size() - 3));
  std::vector<std::string> files;
  for (const std::string& n : names) {
    if (n.size() < 13 || !EndsWithNoCase(n, ".SF") || n.find('/', 9) != std::string::npos) continue;
    if (!EndsWithNoCase(n.substr(0, 9), "META-INF/")) continue;
    if (blocks.count(n.substr(0, n.size() - 3)) && seen.insert(n).second) files.push_back(n);
  }
  return files;
}

}  // namespace

struct TSignatureChecker::Impl {
  std::unique_ptr<TCryptoModule> module;
  const ParcelixCryptoApi* api = nullptr;
};

TSignatureChecker::TSignatureChecker(const std::string& programPath) : impl_(std::make_unique<Impl>()) {
  impl_->module = std::make_unique<TCryptoModule>(programPath);
  impl_->api = impl_->module->Api();
}

TSignatureChecker::TSignatureChecker(const ParcelixCryptoApi* api) : impl_(std::make_unique<Impl>()) {
  impl_->api = api;
}

TSignatureChecker::~TSignatureChecker() = default;

bool TSignatureChecker::Available() const { return impl_->api != nullptr; }

std::string TSignatureChecker::Error() const {
  if (impl_->api) return {};
  return impl_->module ? impl_->module->Error() : "no crypto library";
}

std::vector<AuditFinding> TSignatureChecker::Check(const SignatureSubject& subject) {
  const bool midp = subject.jad && HasMidpAttributes(*subject.jad);
  const std::vector<std::string> files = SignatureFiles(subject.memberNames);
  if (!midp && files.empty()) return {};
  if (!impl_->api) return {Unverifiable("the signature cannot be checked: " + Error())};
  std::vector<AuditFinding> findings;
  if (midp) findings.push_back(CheckMidp(*impl_->api, subject));
  for (const std::string& sf : files) findings.push_back(CheckSignatureFile(*impl_->api, subject, sf));
  return findings;
}

std::optional<std::string> TSignatureChecker::Sha256File(const std::string& path, std::string* error) {
  if (!impl_->api) {
    if (error) *error = "no SHA-256: " + Error();
    return std::nullopt;
  }
  const std::vector<uint8_t> digest = DigestFile(*impl_->api, kDigestSha256, path, error);
  if (digest.size() != 32) return std::nullopt;
  return Hex(digest.data(), digest.size());
}

bool HasMidpSignature(const JadAttributes& jad) { return FindAttribute(jad, kJadSignature) != nullptr; }

bool HasJarSignature(const std::vector<std::string>& memberNames) { return !SignatureFiles(memberNames).empty(); }

std::string SignatureASaveBreaks(TMidletSuite& suite, const std::string& jarFile) {
  std::vector<std::string> files;
  try {
    files = SignatureFiles(suite.MemberNames(jarFile));
  } catch (const std::exception&) {
    return {};
  }
  if (!files.empty()) return files.front() + " signs the JAR";
  const std::string jadPath = JadPathOf(jarFile);
  std::string jad;
  if (ReadWholeFile(jadPath, jad, kMaxJadSize) && HasMidpSignature(ParseJadAttributes(jad)))
    return ExtractFileName(jadPath) + " holds its MIDP signature";
  return {};
}

}  // namespace parcelix
