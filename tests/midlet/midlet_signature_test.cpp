// The signature checker: MIDP signatures made with OpenSSL over a JAR's bytes
// and damaged in every way a JAD can be, Java signature files, the streamed
// SHA-256, and a JAR signed by the JDK's jarsigner read back through unzip.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>

#include "engine/common/FileSystem.h"
#include "midlet/FileUtil.h"
#include "midlet/JarSignature.h"
#include "midlet/crypto/CryptoApi.h"

using namespace parcelix;

namespace {

std::string Base64(const std::vector<uint8_t>& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  out.resize(size_t(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(), int(bytes.size()))));
  return out;
}
std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> Digest(const EVP_MD* md, std::string_view data) {
  std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned int n = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &n, md, nullptr);
  out.resize(n);
  return out;
}

// A key and a self-signed certificate for it, made by OpenSSL itself.
class TestSigner {
 public:
  explicit TestSigner(const char* keyType) {
    key_.reset(std::string(keyType) == "RSA" ? EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t(1024))
                                             : EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    cert_.reset(X509_new());
    ASN1_INTEGER_set(X509_get_serialNumber(cert_.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert_.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert_.get()), 3600L * 24 * 365 * 20);
    X509_set_pubkey(cert_.get(), key_.get());
    X509_NAME* name = X509_get_subject_name(cert_.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Parcelix Tests"), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Test Signer"), -1,
                               -1, 0);
    X509_set_issuer_name(cert_.get(), name);
    X509_sign(cert_.get(), key_.get(), EVP_sha256());
  }
  std::vector<uint8_t> CertificateDer() const {
    unsigned char* der = nullptr;
    const int n = i2d_X509(cert_.get(), &der);
    std::vector<uint8_t> bytes(der, der + n);
    OPENSSL_free(der);
    return bytes;
  }
  std::string CertificateBase64() const { return Base64(CertificateDer()); }
  // SHA1withRSA over data, base64.
  std::string Sign(std::string_view data) const {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    size_t n = 0;
    EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha1(), nullptr, key_.get());
    EVP_DigestSign(ctx.get(), nullptr, &n, reinterpret_cast<const unsigned char*>(data.data()), data.size());
    std::vector<uint8_t> sig(n);
    EVP_DigestSign(ctx.get(), sig.data(), &n, reinterpret_cast<const unsigned char*>(data.data()), data.size());
    sig.resize(n);
    return Base64(sig);
  }

 private:
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_{nullptr, EVP_PKEY_free};
  std::unique_ptr<X509, decltype(&X509_free)> cert_{nullptr, X509_free};
};

const TestSigner& RsaSigner() {
  static const TestSigner signer("RSA");
  return signer;
}

class SignatureTest : public ::testing::Test {
 protected:
  TPrivateTempDir dir{"parcelix-sig-"};
  TSignatureChecker checker{parcelix_crypto_openssl()};
  std::string jar = dir.Path() + "Game.jar";
  std::string jarBytes = std::string("PK\3\4 a JAR's bytes\0 with a NUL", 30) + std::string(200000, 'x');
  void SetUp() override { ReplaceFileContents(jar, jarBytes); }

  SignatureSubject JadSubject(const JadAttributes& jad) {
    SignatureSubject s;
    s.jarPath = jar;
    s.jad = &jad;
    return s;
  }
  std::vector<AuditFinding> CheckJad(const JadAttributes& jad) { return checker.Check(JadSubject(jad)); }
};

// A JAD as a signer made it, then changed by the case's edit.
struct MidpCase {
  const char* name;
  std::function<void(JadAttributes&, std::string& jarBytes)> edit;
  const char* code;  // "" when no finding is expected
  const char* textHas;
};

void SetAttr(JadAttributes& jad, const std::string& key, const std::string& value) {
  for (auto& [k, v] : jad)
    if (k == key) {
      v = value;
      return;
    }
  jad.emplace_back(key, value);
}
void Drop(JadAttributes& jad, const std::string& key) {
  std::erase_if(jad, [&](const auto& kv) { return kv.first == key; });
}

const MidpCase kMidpCases[] = {
    {"Intact", [](JadAttributes&, std::string&) {}, "signature-valid", "CN=Test Signer"},
    {"JarChangedAfterSigning", [](JadAttributes&, std::string& b) { b.back() ^= 1; }, "signature-broken", "changed"},
    {"JarGrewAfterSigning", [](JadAttributes&, std::string& b) { b += '\n'; }, "signature-broken", "Test Signer"},
    {"SignatureFoldedOverLines",
     [](JadAttributes& j, std::string&) {
       std::string& v = j[1].second;
       v.insert(60, "\r\n ");
     },
     "signature-valid", "valid from"},
    {"SignerInSecondChainOnly",
     [](JadAttributes& j, std::string&) { j[0].first = "MIDlet-Certificate-2-1"; }, "signature-valid", ""},
    {"NoSignature", [](JadAttributes& j, std::string&) { Drop(j, "MIDlet-Jar-RSA-SHA1"); }, "signature-unverifiable",
     "no MIDlet-Jar-RSA-SHA1"},
    {"NoCertificate", [](JadAttributes& j, std::string&) { Drop(j, "MIDlet-Certificate-1-1"); },
     "signature-unverifiable", "no MIDlet-Certificate"},
    {"OnlyASecondCertificateOfTheChain",
     [](JadAttributes& j, std::string&) { j[0].first = "MIDlet-Certificate-1-2"; }, "signature-unverifiable",
     "no signer certificate"},
    {"SignatureNotBase64", [](JadAttributes& j, std::string&) { SetAttr(j, "MIDlet-Jar-RSA-SHA1", "not*base64"); },
     "signature-unverifiable", "not base64"},
    {"SignatureOneByteShort",
     [](JadAttributes& j, std::string&) {
       SetAttr(j, "MIDlet-Jar-RSA-SHA1", Base64(std::vector<uint8_t>(127, 0x55)));
     },
     "signature-unverifiable", "holds 127 bytes"},
    {"SignatureHuge",
     [](JadAttributes& j, std::string&) { SetAttr(j, "MIDlet-Jar-RSA-SHA1", std::string(8 << 20, 'A')); },
     "signature-unverifiable", "too long"},
    {"SignatureOfOtherBytes",
     [](JadAttributes& j, std::string&) { SetAttr(j, "MIDlet-Jar-RSA-SHA1", RsaSigner().Sign("other")); },
     "signature-broken", ""},
    {"CertificateNotDer",
     [](JadAttributes& j, std::string&) { SetAttr(j, "MIDlet-Certificate-1-1", Base64(Bytes("plain text"))); },
     "signature-unverifiable", "not a DER X.509 certificate"},
    {"CertificateTruncated",
     [](JadAttributes& j, std::string&) {
       std::string& v = j[0].second;
       v.resize(v.size() / 2 / 4 * 4);
     },
     "signature-unverifiable", "not a DER"},
    {"CertificateWithBytesAfterIt",
     [](JadAttributes& j, std::string&) {
       std::vector<uint8_t> der = RsaSigner().CertificateDer();
       der.push_back(0);
       SetAttr(j, "MIDlet-Certificate-1-1", Base64(der));
     },
     "signature-unverifiable", "not a DER"},
    {"CertificateBadPadding", [](JadAttributes& j, std::string&) { j[0].second += "=A"; }, "signature-unverifiable",
     "not base64"},
    {"CertificateWithEcKey",
     [](JadAttributes& j, std::string&) {
       static const TestSigner ec("EC");
       SetAttr(j, "MIDlet-Certificate-1-1", ec.CertificateBase64());
     },
     "signature-unverifiable", "EC key"},
    {"CertificateIndexNotANumber",
     [](JadAttributes& j, std::string&) { j[0].first = "MIDlet-Certificate-1-x"; }, "signature-unverifiable",
     "no MIDlet-Certificate"},
    {"Unsigned",
     [](JadAttributes& j, std::string&) { j = {{"MIDlet-Name", "Game"}, {"MIDlet-Jar-Size", "100"}}; }, "", ""},
};

class MidpSignature : public SignatureTest, public ::testing::WithParamInterface<MidpCase> {};

TEST_P(MidpSignature, Verdict) {
  JadAttributes jad = {{"MIDlet-Certificate-1-1", RsaSigner().CertificateBase64()},
                       {"MIDlet-Jar-RSA-SHA1", RsaSigner().Sign(jarBytes)},
                       {"MIDlet-Name", "Game"}};
  GetParam().edit(jad, jarBytes);
  ReplaceFileContents(jar, jarBytes);
  const auto findings = CheckJad(jad);
  if (!*GetParam().code) {
    EXPECT_TRUE(findings.empty());
    EXPECT_FALSE(HasMidpSignature(jad));
    return;
  }
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].code, GetParam().code) << findings[0].text;
  EXPECT_NE(findings[0].text.find(GetParam().textHas), std::string::npos) << findings[0].text;
  const auto expected = std::string(GetParam().code) == "signature-valid"    ? AuditSeverity::info
                        : std::string(GetParam().code) == "signature-broken" ? AuditSeverity::error
                                                                               : AuditSeverity::warning;
  EXPECT_EQ(findings[0].severity, expected);
}

INSTANTIATE_TEST_SUITE_P(Jad, MidpSignature, ::testing::ValuesIn(kMidpCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SignatureTest, JarThatCannotBeReadIsUnverifiable) {
  const JadAttributes jad = {{"MIDlet-Certificate-1-1", RsaSigner().CertificateBase64()},
                             {"MIDlet-Jar-RSA-SHA1", RsaSigner().Sign(jarBytes)}};
  ::unlink(jar.c_str());
  const auto findings = CheckJad(jad);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].code, "signature-unverifiable");
}

// Without the crypto module a signed suite is never called valid, an
// unsigned one gets no finding, and no digest is made up.
TEST_F(SignatureTest, MissingModuleIsToldNotFatal) {
  TSignatureChecker none(dir.Path() + "bin/parcelix");
  EXPECT_FALSE(none.Available());
  EXPECT_NE(none.Error().find("parcelix-crypto.so"), std::string::npos);
  const JadAttributes jad = {{"MIDlet-Certificate-1-1", "AAAA"}, {"MIDlet-Jar-RSA-SHA1", "AAAA"}};
  SignatureSubject s = JadSubject(jad);
  auto findings = none.Check(s);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].code, "signature-unverifiable");
  EXPECT_NE(findings[0].text.find("parcelix-crypto.so"), std::string::npos);
  s.jad = nullptr;
  EXPECT_TRUE(none.Check(s).empty());
  std::string error;
  EXPECT_FALSE(none.Sha256File(jar, &error));
  EXPECT_FALSE(error.empty());
}

// The module the program loads: built beside it, and it verifies as the linked table does.
TEST_F(SignatureTest, ModuleBesideTheProgramLoads) {
  TSignatureChecker loaded(PARCELIX_BINARY);
  ASSERT_TRUE(loaded.Available()) << loaded.Error();
  const JadAttributes jad = {{"MIDlet-Certificate-1-1", RsaSigner().CertificateBase64()},
                             {"MIDlet-Jar-RSA-SHA1", RsaSigner().Sign(jarBytes)}};
  auto findings = loaded.Check(JadSubject(jad));
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].code, "signature-valid");
}

std::string Output(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> p(popen(command.c_str(), "r"), pclose);
  if (!p) return out;
  char buf[4096];
  while (size_t n = fread(buf, 1, sizeof buf, p.get())) out.append(buf, n);
  return out;
}

// sha256sum is the reference; the file spans several read chunks.
TEST_F(SignatureTest, Sha256FileMatchesSha256sum) {
  for (const std::string& content : {std::string(), std::string("abc"), jarBytes + std::string(70000, '\0')}) {
    ReplaceFileContents(jar, content);
    std::string error;
    const auto hex = checker.Sha256File(jar, &error);
    ASSERT_TRUE(hex) << error;
    EXPECT_EQ(*hex, Output("sha256sum '" + jar + "'").substr(0, 64));
  }
  std::string error;
  EXPECT_FALSE(checker.Sha256File(dir.Path() + "missing.jar", &error));
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
  EXPECT_FALSE(checker.Sha256File(dir.Path(), &error)) << "a directory has no digest";
}

// Java signature files: the manifest digest the .SF names, against the manifest.
struct JarSigCase {
  const char* name;
  std::vector<std::string> members;
  std::string sf;  // {SHA256} and {SHA1} stand for the manifest's digests
  const char* manifest;
  std::vector<std::string> codes;
  const char* textHas;
};

const char kManifest[] = "Manifest-Version: 1.0\r\nMIDlet-Name: Game\r\n\r\nName: a.class\r\nSHA-256-Digest: x\r\n\r\n";
const std::vector<std::string> kSigned = {"META-INF/MANIFEST.MF", "META-INF/SIGNER.SF", "META-INF/SIGNER.RSA",
                                          "a.class"};

const JarSigCase kJarSigCases[] = {
    {"Sha256Intact", kSigned, "Signature-Version: 1.0\r\nSHA-256-Digest-Manifest: {SHA256}\r\n\r\n", kManifest,
     {"signature-valid"}, "SHA-256 manifest digest matches"},
    {"Sha1Intact", kSigned, "Signature-Version: 1.0\nSHA1-Digest-Manifest: {SHA1}\n", kManifest, {"signature-valid"},
     "SHA-1"},
    {"ManifestChanged", kSigned, "SHA-256-Digest-Manifest: {SHA256}\r\n", "Manifest-Version: 1.0\r\n",
     {"signature-broken"}, "changed since signing"},
    {"DigestOnlyInAnEntrySection", kSigned,
     "Signature-Version: 1.0\r\n\r\nName: a.class\r\nSHA-256-Digest-Manifest: {SHA256}\r\n", kManifest,
     {"signature-unverifiable"}, "names no digest"},
    {"DigestNotBase64", kSigned, "SHA-256-Digest-Manifest: ???\r\n", kManifest, {"signature-unverifiable"},
     "not base64"},
    {"DigestFoldedOnAContinuationLine", kSigned, "SHA-256-Digest-Manifest: \r\n {SHA256}\r\n", kManifest,
     {"signature-valid"}, ""},
    {"EcBlockFile", {"META-INF/MANIFEST.MF", "META-INF/S.SF", "META-INF/S.EC"},
     "SHA1-Digest-Manifest: {SHA1}\r\n", kManifest, {"signature-valid"}, "META-INF/S.SF"},
    {"SfWithoutBlockIsNoSignature", {"META-INF/MANIFEST.MF", "META-INF/SIGNER.SF"}, "garbage", kManifest, {}, ""},
    {"SfBelowMetaInfIsNoSignature", {"META-INF/x/S.SF", "META-INF/x/S.RSA"}, "garbage", kManifest, {}, ""},
    {"TwoSigners",
     {"META-INF/A.SF", "META-INF/A.DSA", "META-INF/B.SF", "META-INF/B.RSA"},
     "SHA-256-Digest-Manifest: {SHA256}\r\n", kManifest, {"signature-valid", "signature-valid"}, ""},
};

std::string Substitute(std::string sf, std::string_view manifest) {
  for (auto [token, md] : {std::pair{"{SHA256}", EVP_sha256()}, std::pair{"{SHA1}", EVP_sha1()}})
    if (size_t at = sf.find(token); at != std::string::npos)
      sf.replace(at, std::string_view(token).size(), Base64(Digest(md, manifest)));
  return sf;
}

class JavaSignature : public SignatureTest, public ::testing::WithParamInterface<JarSigCase> {};

TEST_P(JavaSignature, ManifestDigest) {
  const JarSigCase& c = GetParam();
  const std::string signedManifest = kManifest;
  const std::string sf = Substitute(c.sf, signedManifest);
  const std::string manifest = c.manifest;
  SignatureSubject s;
  s.jarPath = jar;
  s.memberNames = c.members;
  s.manifest = std::span(reinterpret_cast<const uint8_t*>(manifest.data()), manifest.size());
  s.readMember = [&](const std::string& name, std::vector<uint8_t>& bytes) {
    if (!name.ends_with(".SF")) return false;
    bytes.assign(sf.begin(), sf.end());
    return true;
  };
  const auto findings = checker.Check(s);
  EXPECT_EQ(HasJarSignature(c.members), !c.codes.empty());
  ASSERT_EQ(findings.size(), c.codes.size());
  for (size_t i = 0; i < findings.size(); ++i) {
    EXPECT_EQ(findings[i].code, c.codes[i]) << findings[i].text;
    EXPECT_NE(findings[i].text.find(c.textHas), std::string::npos) << findings[i].text;
  }
}

INSTANTIATE_TEST_SUITE_P(SignatureFile, JavaSignature, ::testing::ValuesIn(kJarSigCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A JAR signed by the JDK's jarsigner, read back through unzip (not our
// reader): its .SF digest holds, and stops holding once the manifest changes.
TEST_F(SignatureTest, JarsignerJar) {
  if (!Output("for t in jarsigner keytool jar unzip; do command -v $t >/dev/null || echo $t; done").empty()) GTEST_SKIP() << "no JDK or unzip";
  const std::string d = dir.Path();
  ReplaceFileContents(d + "Main.class", "not really a class");
  ReplaceFileContents(d + "m.txt", "MIDlet-Name: Signed Game\nMIDlet-Version: 1.0\n");
  const std::string quiet = " >/dev/null 2>&1";
  ASSERT_EQ(std::system(("cd '" + d + "' && jar cfm signed.jar m.txt Main.class" + quiet).c_str()), 0);
  ASSERT_EQ(std::system(("keytool -genkeypair -keystore '" + d + "ks' -storepass secret1 -keypass secret1 " +
                         "-alias me -keyalg RSA -keysize 2048 -dname CN=Me -validity 3650" + quiet)
                            .c_str()),
            0);
  ASSERT_EQ(std::system(("jarsigner -keystore '" + d + "ks' -storepass secret1 '" + d + "signed.jar' me" + quiet)
                            .c_str()),
            0);
  const std::string jarPath = d + "signed.jar";
  auto subjectOf = [&](const std::string& manifest, SignatureSubject& s) {
    s.jarPath = jarPath;
    const std::string names = Output("unzip -Z1 '" + jarPath + "'");
    for (size_t p = 0, e; (e = names.find('\n', p)) != std::string::npos; p = e + 1) s.memberNames.push_back(names.substr(p, e - p));
    s.manifest = std::span(reinterpret_cast<const uint8_t*>(manifest.data()), manifest.size());
    s.readMember = [&](const std::string& name, std::vector<uint8_t>& bytes) {
      bytes = Bytes(Output("unzip -p '" + jarPath + "' '" + name + "'"));
      return !bytes.empty();
    };
  };
  ASSERT_EQ(std::system(("jarsigner -verify '" + jarPath + "'" + quiet).c_str()), 0) << "the JDK verifies it as made";
  const std::string manifest = Output("unzip -p '" + jarPath + "' META-INF/MANIFEST.MF");
  SignatureSubject s;
  subjectOf(manifest, s);
  auto findings = checker.Check(s);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].code, "signature-valid") << findings[0].text;
  EXPECT_NE(findings[0].text.find("META-INF/ME.SF"), std::string::npos) << findings[0].text;

  // The save refuses a signed JAR unless told to break the signature.
  const std::string set = std::string(PARCELIX_BINARY) + " set --no-backup --no-rename --no-jad '" + jarPath +
                          "' MIDlet-Vendor=Other";
  EXPECT_NE(std::system((set + quiet).c_str()), 0);
  EXPECT_EQ(Output("unzip -p '" + jarPath + "' META-INF/MANIFEST.MF"), manifest);
  ASSERT_EQ(std::system((set + " --break-signature" + quiet).c_str()), 0);
  const std::string changed = Output("unzip -p '" + jarPath + "' META-INF/MANIFEST.MF");
  SignatureSubject after;
  subjectOf(changed, after);
  findings = checker.Check(after);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].code, "signature-broken") << findings[0].text;
  EXPECT_NE(std::system(("jarsigner -verify '" + jarPath + "'" + quiet).c_str()), 0)
      << "the JDK agrees that the signature no longer holds";
}

}  // namespace
