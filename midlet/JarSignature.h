// Signatures and digests of a JAR: the MIDP signature a JAD carries
// (MIDlet-Jar-RSA-SHA1 with MIDlet-Certificate-n-m) and the Java way
// (META-INF/*.SF with *.RSA, *.DSA or *.EC). The cryptography lives in a
// module of its own that is loaded only when a command needs it, so the
// commands that never verify anything do not pay for loading it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "midlet/AuditFinding.h"

struct ParcelixCryptoApi;  // midlet/crypto/CryptoApi.h

namespace parcelix {

using JadAttributes = std::vector<std::pair<std::string, std::string>>;

// What the checks look at for one JAR.
struct SignatureSubject {
  std::string jarPath;                          // the JAR's bytes are read from here
  const JadAttributes* jad = nullptr;           // the JAD beside it, in file order; null when none
  std::span<const uint8_t> manifest;            // META-INF/MANIFEST.MF as stored (decoded)
  std::vector<std::string> memberNames;         // the archive's member names, with '/'
  // Reads one member whole; false when it cannot be read.
  std::function<bool(const std::string& name, std::vector<uint8_t>& bytes)> readMember;
};

class TSignatureChecker {
 public:
  // Looks for the crypto module beside programPath (as the window module is).
  explicit TSignatureChecker(const std::string& programPath);
  // Uses a crypto table that is linked in (tests), no module.
  explicit TSignatureChecker(const ParcelixCryptoApi* api);
  ~TSignatureChecker();
  TSignatureChecker(const TSignatureChecker&) = delete;
  TSignatureChecker& operator=(const TSignatureChecker&) = delete;

  // Findings signature-valid (info), signature-broken (error) and
  // signature-unverifiable (warning), with the certificate's subject and
  // validity in the text; empty when the suite is not signed.
  std::vector<AuditFinding> Check(const SignatureSubject& subject);
  // SHA-256 of a whole file as lowercase hex; nullopt and *error on failure.
  std::optional<std::string> Sha256File(const std::string& path, std::string* error);

  // False when the crypto module could not be loaded; Error() says why. A
  // signed suite is then reported unverifiable, never valid.
  bool Available() const;
  std::string Error() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// True when the JAR is signed (a MIDP signature in its JAD, or a .SF with its
// block file in the JAR): a manifest save would break the signature.
bool HasMidpSignature(const JadAttributes& jad);
bool HasJarSignature(const std::vector<std::string>& memberNames);

class TMidletSuite;
// What a manifest save of the JAR would break, in words ("META-INF/ME.SF
// signs the JAR", "Game.jad holds its MIDP signature"); empty when it is not
// signed, and when the JAR cannot be opened (the save then says why).
std::string SignatureASaveBreaks(TMidletSuite& suite, const std::string& jarFile);

}  // namespace parcelix
