// The audit of one JAR as a batch runs it on a worker: with a signature
// checker and a code-page reader kept for the next JAR, and the JAD fix that
// answers a JAD whose size or URL no longer fits its JAR.
#pragma once

#include <string>

#include "midlet/Audit.h"
#include "midlet/CodePage.h"
#include "midlet/JarSignature.h"

namespace parcelix {

// What a worker examines with, used by one thread at a time and kept for the
// next JAR, so the crypto module and the charset detector are loaded once per
// worker, not per JAR. program: this program's path (the crypto module lies
// beside it).
struct TAuditExaminer {
  explicit TAuditExaminer(const std::string& program) : signatures(program) {}
  TSignatureChecker signatures;
  TManifestCodec codec;
};

// The audit of one JAR, and its digest when duplicates are looked for.
struct AuditExamined {
  AuditResult audit;
  std::string digestError;  // why there is no SHA-256 when one was asked for
};

AuditExamined ExamineForAudit(const std::string& path, TAuditExaminer& with, bool digest);

// A JAD whose MIDlet-Jar-Size or MIDlet-Jar-URL does not fit its JAR is
// brought up to date (every other line kept); the findings it answered give
// way to one that says what changed ("jad-fixed"), or "jad-fix-failed".
// Nothing happens when r has neither finding.
void FixAuditedJad(AuditResult& r);

// True when r has a finding FixAuditedJad answers.
bool HasJadFix(const AuditResult& r);

}  // namespace parcelix
