// The audit of one JAR on a worker, and the JAD fix of its findings.
#include "midlet/AuditExaminer.h"

#include <algorithm>

#include "midlet/JadUpdate.h"

namespace parcelix {

namespace {

bool JadFixable(const AuditFinding& f) { return f.code == "jad-size-mismatch" || f.code == "jad-url-mismatch"; }

}  // namespace

AuditExamined ExamineForAudit(const std::string& path, TAuditExaminer& with, bool digest) {
  AuditExamined e{AuditJar(path, &with.signatures, &with.codec), {}};
  if (digest && e.audit.size >= 0) e.audit.sha256 = with.signatures.Sha256File(path, &e.digestError);
  return e;
}

bool HasJadFix(const AuditResult& r) {
  return !r.jadPath.empty() && std::any_of(r.findings.begin(), r.findings.end(), JadFixable);
}

void FixAuditedJad(AuditResult& r) {
  if (!HasJadFix(r)) return;
  const JadUpdateResult u = UpdateJadForJar(r.jadPath, r.path);
  if (u.status == JadUpdateResult::Status::Failed) {
    r.findings.push_back({"jad-fix-failed", AuditSeverity::error, "the JAD could not be updated: " + u.message});
    return;
  }
  std::erase_if(r.findings, JadFixable);
  r.findings.push_back({"jad-fixed", AuditSeverity::info, "the JAD was brought up to date: " + u.message});
}

}  // namespace parcelix
