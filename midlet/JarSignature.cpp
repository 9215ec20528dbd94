// Placeholder until the crypto module lands: nothing is verified yet.
#include "midlet/JarSignature.h"

namespace parcelix {

struct TSignatureChecker::Impl {};

TSignatureChecker::TSignatureChecker(const std::string&) : impl_(std::make_unique<Impl>()) {}
TSignatureChecker::~TSignatureChecker() = default;

std::vector<AuditFinding> TSignatureChecker::Check(const SignatureSubject&) { return {}; }

std::optional<std::string> TSignatureChecker::Sha256File(const std::string&, std::string* error) {
  if (error) *error = "digests are not available in this build";
  return std::nullopt;
}

bool HasMidpSignature(const JadAttributes&) { return false; }
bool HasJarSignature(const std::vector<std::string>&) { return false; }

}  // namespace parcelix
