// The check command: the collection audit of every JAR named or found, its
// findings as lines, JSON lines or CSV rows, and the duplicate search.
// Each JAR is examined on a worker thread (a pure function of the files) and
// then reported on this thread, in path order.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <tuple>
#include <vector>

#include "app/shell/CliCommands.h"
#include "app/shell/Interrupt.h"
#include "app/shell/CliJson.h"
#include "app/shell/ContextMenu.h"
#include "app/shell/Progress.h"
#include "engine/common/FileSystem.h"
#include "engine/common/OrderedRun.h"
#include "engine/common/arxGbls.h"
#include "midlet/Audit.h"
#include "midlet/CodePage.h"
#include "midlet/JadUpdate.h"
#include "midlet/JarSignature.h"
#include "midlet/MidletSuite.h"
#include "midlet/Settings.h"

namespace parcelix {

namespace {

struct CheckTotals {
  std::map<std::string, size_t> perCode;
  size_t jars = 0, withErrors = 0, withWarnings = 0;
  bool failed = false;  // an error finding, or a JAR that could not be taken
};

// JARs examined ahead of the report, at most: bounds the memory a batch holds.
constexpr size_t kExamineAhead = 64;

// The audit of one JAR, and its digest when duplicates are looked for.
struct Examined {
  AuditResult audit;
  std::string digestError;
};

// What a worker examines with: a signature checker and a code-page reader,
// each used by one thread at a time and kept for the next JAR, so the crypto
// module and the charset detector are loaded once per worker, not per JAR.
struct TExaminer {
  explicit TExaminer(const std::string& program) : signatures(program) {}
  TSignatureChecker signatures;
  TManifestCodec codec;
};


Examined ExamineJar(const std::string& path, TExaminer& with, bool digest) {
  Examined e{AuditJar(path, &with.signatures, &with.codec), {}};
  if (digest && e.audit.size >= 0) e.audit.sha256 = with.signatures.Sha256File(path, &e.digestError);
  return e;
}

std::string CsvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

void PrintCsv(std::ostream& out, const AuditResult& r) {
  size_t errors = 0, warnings = 0;
  std::vector<std::string> seen;  // each code once, in the order found
  std::string codes;
  for (const AuditFinding& f : r.findings) {
    errors += f.severity == AuditSeverity::error;
    warnings += f.severity == AuditSeverity::warning;
    if (std::find(seen.begin(), seen.end(), f.code) != seen.end()) continue;
    seen.push_back(f.code);
    codes += (codes.empty() ? "" : " ") + f.code;
  }
  out << CsvField(r.path) << ',' << r.size << ',' << r.sha256.value_or("") << ',' << CsvField(r.name) << ','
      << CsvField(r.vendor) << ',' << CsvField(r.version) << ',' << CsvField(r.jadPath) << ',' << errors << ','
      << warnings << ',' << CsvField(codes) << '\n';
}

Json ResultJson(const AuditResult& r) {
  Json j;
  PutText(j, "path", r.path);
  j["size"] = r.size;
  if (r.sha256) j["sha256"] = *r.sha256;
  PutText(j, "name", r.name);
  PutText(j, "vendor", r.vendor);
  PutText(j, "version", r.version);
  if (r.jadPath.empty()) j["jad"] = nullptr;
  else PutText(j, "jad", r.jadPath);
  j["findings"] = Json::array();
  for (const AuditFinding& f : r.findings) {
    Json fj;
    fj["code"] = f.code;
    fj["severity"] = AuditSeverityName(f.severity);
    PutText(fj, "text", f.text);
    j["findings"].push_back(std::move(fj));
  }
  return j;
}

// --fix: a JAD whose MIDlet-Jar-Size or MIDlet-Jar-URL does not fit its JAR
// is brought up to date (every other line kept); the findings it answered
// give way to one that says what changed.
void FixJad(AuditResult& r) {
  const auto fixable = [](const AuditFinding& f) { return f.code == "jad-size-mismatch" || f.code == "jad-url-mismatch"; };
  if (r.jadPath.empty() || std::none_of(r.findings.begin(), r.findings.end(), fixable)) return;
  const JadUpdateResult u = UpdateJadForJar(r.jadPath, r.path);
  if (u.status == JadUpdateResult::Status::Failed) {
    r.findings.push_back({"jad-fix-failed", AuditSeverity::error, "the JAD could not be updated: " + u.message});
    return;
  }
  std::erase_if(r.findings, fixable);
  r.findings.push_back({"jad-fixed", AuditSeverity::info, "the JAD was brought up to date: " + u.message});
}

void ReportJar(CliContext& ctx, const CheckOptions& o, const AuditResult& r, CheckTotals& totals) {
  ++totals.jars;
  bool error = false, warning = false;
  for (const AuditFinding& f : r.findings) {
    ++totals.perCode[f.code];
    error = error || f.severity == AuditSeverity::error;
    warning = warning || f.severity == AuditSeverity::warning;
  }
  totals.withErrors += error;
  totals.withWarnings += warning && !error;
  totals.failed = totals.failed || error;
  if (o.json) return WriteJsonLine(*ctx.out, ResultJson(r));
  if (o.csv) return PrintCsv(*ctx.out, r);
  for (const AuditFinding& f : r.findings) {
    if (ctx.quiet && f.severity != AuditSeverity::error) continue;
    *ctx.out << r.path << ": " << AuditSeverityName(f.severity) << ": " << f.code << ": " << f.text << '\n';
  }
}

void PrintSummary(CliContext& ctx, const CheckTotals& t) {
  *ctx.out << t.jars << (t.jars == 1 ? " JAR" : " JARs") << " checked: " << t.withErrors << " with errors, "
           << t.withWarnings << " with warnings only\n";
  for (const auto& [code, count] : t.perCode) *ctx.out << "  " << code << ": " << count << '\n';
}

// ------------------------------------------------------------- duplicates

std::string Others(const std::vector<AuditResult*>& group, const AuditResult* self) {
  std::string text;
  for (const AuditResult* r : group)
    if (r != self) text += (text.empty() ? "" : ", ") + r->path;
  return text;
}

// Identical JARs (equal SHA-256) and the same suite (equal name, vendor and
// version) in different bytes; each member of a group is told the others.
// Returns the groups of identical JARs.
std::vector<std::vector<AuditResult*>> MarkDuplicates(std::vector<AuditResult>& results) {
  std::map<std::string, std::vector<AuditResult*>> byDigest;
  std::map<std::tuple<std::string, std::string, std::string>, std::vector<AuditResult*>> bySuite;
  for (AuditResult& r : results) {
    if (!r.sha256) continue;
    byDigest[*r.sha256].push_back(&r);
    if (!r.name.empty()) bySuite[{r.name, r.vendor, r.version}].push_back(&r);
  }
  std::vector<std::vector<AuditResult*>> identical;
  for (auto& [digest, group] : byDigest) {
    if (group.size() < 2) continue;
    for (AuditResult* r : group)
      r->findings.push_back({"duplicate", AuditSeverity::info, "the same bytes as " + Others(group, r)});
    identical.push_back(group);
  }
  for (auto& [suite, group] : bySuite) {
    std::vector<AuditResult*> differing;
    for (AuditResult* r : group)
      if (std::any_of(group.begin(), group.end(), [r](const AuditResult* o) { return *o->sha256 != *r->sha256; }))
        differing.push_back(r);
    for (AuditResult* r : differing) {
      std::vector<AuditResult*> others;
      for (AuditResult* o : group)
        if (*o->sha256 != *r->sha256) others.push_back(o);
      r->findings.push_back({"same-suite", AuditSeverity::info,
                             "the same suite (name, vendor and version) in other bytes: " + Others(others, r)});
    }
  }
  return identical;
}

// Of each group of identical JARs one stays: the one that already has the
// name rename would give it, else the first in path order; the others go to
// the Trash, from where a file manager can restore them.
void TrashDuplicates(const std::vector<std::vector<AuditResult*>>& groups) {
  TMidletSuite suite;
  LoadSettings(suite.Options);
  for (std::vector<AuditResult*> group : groups) {
    std::sort(group.begin(), group.end(), [](const AuditResult* a, const AuditResult* b) { return a->path < b->path; });
    AuditResult* keep = group.front();
    for (AuditResult* r : group) {
      try {
        if (suite.ComputeMIDletName(r->path).newPath == r->path) {
          keep = r;
          break;
        }
      } catch (const std::exception&) {
      }
    }
    for (AuditResult* r : group) {
      if (r == keep) continue;
      std::string trashedAs;
      if (MoveToTrash(r->path, &trashedAs))
        r->findings.push_back({"trashed", AuditSeverity::info, "moved to the Trash; " + keep->path + " stays"});
      else
        r->findings.push_back({"trash-failed", AuditSeverity::error,
                               std::string("could not be moved to the Trash: ") + std::strerror(errno)});
    }
  }
}

}  // namespace

int RunCheck(CliContext& ctx, const CheckOptions& o) {
  const Collected c = CollectJars(o.paths, o.recursive);
  CheckTotals totals;
  for (const auto& [path, reason] : c.problems) {
    ReportError(ctx, path, reason);
    totals.failed = true;
  }
  const bool duplicates = o.duplicates || o.trashDuplicates;
  const std::string program = ProgramPath();
  TObjectPool<TExaminer> examiners([&] { return std::make_unique<TExaminer>(program); });
  if (o.csv) *ctx.out << "path,size,sha256,name,vendor,version,jad,errors,warnings,codes\n";
  std::vector<AuditResult> kept;  // with duplicates: reported once all are known
  TProgress progress(*ctx.err, ctx.stderrIsTerminal && !ctx.quiet, c.jars.size(), "JARs");
  // Workers examine the JARs; this thread reports them in path order.
  TOrderedRun<Examined> run(BatchWorkers(o.jobs), kExamineAhead);
  run.CallerWorks = true;
  TInterruptWatch interrupt;
  size_t done = 0;
  run.Run(
      c.jars.size(),
      [&](size_t i) { return examiners.With([&](TExaminer& with) { return ExamineJar(c.jars[i], with, duplicates); }); },
      [&](size_t i, TOrderedResult<Examined>& result) {
        if (interrupt.Caught()) return false;
        ++done;
        progress.Update(i, ExtractFileName(c.jars[i]));
        Examined e = result.Take();
        progress.Clear();
        AuditResult& r = e.audit;
        if (duplicates && !r.sha256 && r.size >= 0) {
          ReportError(ctx, r.path, "no SHA-256: " + e.digestError);
          totals.failed = true;
        }
        if (o.fix) FixJad(r);
        if (duplicates) kept.push_back(std::move(r));
        else ReportJar(ctx, o, r, totals);
        return true;
      });
  progress.Clear();
  // Stopped: the duplicates of a part of the collection are not judged.
  if (interrupt.Caught()) return Interrupted(ctx, {interrupt.Caught(), done}, c.jars.size());
  if (duplicates) {
    const auto groups = MarkDuplicates(kept);
    if (o.trashDuplicates) TrashDuplicates(groups);
    for (const AuditResult& r : kept) ReportJar(ctx, o, r, totals);
  }
  if (!o.json && !o.csv && !ctx.quiet) PrintSummary(ctx, totals);
  return totals.failed ? 1 : 0;
}

}  // namespace parcelix
