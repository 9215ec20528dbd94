// The collection audit of one JAR and the JAD beside it: what a phone or
// Java would refuse, and what is merely odd. A pure function of the files:
// it prints nothing and changes nothing, so it can run on a worker thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "midlet/AuditFinding.h"

namespace parcelix {

class TSignatureChecker;
class TManifestCodec;

struct AuditResult {
  std::string path;
  int64_t size = -1;                   // -1 when the file cannot be read
  std::optional<std::string> sha256;   // filled by the duplicate search, when asked
  std::string name, vendor, version;   // from the manifest's main section (empty when absent)
  std::string jadPath;                 // the JAD of the same stem beside it, empty when none
  std::vector<AuditFinding> findings;  // in the order they were found

  bool HasError() const;
};

// Reads at most this much of a manifest or a JAD; anything beyond gets a
// finding of its own and is not looked at.
constexpr size_t kAuditManifestLimit = 4u << 20;
constexpr size_t kAuditJadLimit = 1u << 20;
// A code that fails for many members is listed for this many, then counted.
constexpr size_t kAuditMemberListLimit = 20;

// Examines the JAR at path and its JAD (path with ".jad" in place of its
// extension, in any case of the extension). signatures, when given, checks
// the MIDP and Java signatures; codec, when given, reads the name, vendor and
// version of a manifest that is not UTF-8 in its likely code page (and the
// not-utf8 finding names that page). Never throws for anything the files
// hold: an unreadable file is a finding too.
AuditResult AuditJar(const std::string& path, TSignatureChecker* signatures = nullptr,
                     TManifestCodec* codec = nullptr);

// The JAD beside a JAR: "<stem>.jad" or "<stem>.JAD"; empty when neither exists.
std::string FindJadBeside(const std::string& jarPath);

}  // namespace parcelix
