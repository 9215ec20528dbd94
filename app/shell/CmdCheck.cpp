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
#include "midlet/AuditDuplicates.h"
#include "midlet/AuditExaminer.h"
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
  TObjectPool<TAuditExaminer> examiners([&] { return std::make_unique<TAuditExaminer>(program); });
  if (o.csv) *ctx.out << "path,size,sha256,name,vendor,version,jad,errors,warnings,codes\n";
  std::vector<AuditResult> kept;  // with duplicates: reported once all are known
  TProgress progress(*ctx.err, ctx.stderrIsTerminal && !ctx.quiet, c.jars.size(), "JARs");
  // Workers examine the JARs; this thread reports them in path order.
  TOrderedRun<AuditExamined> run(BatchWorkers(o.jobs), kExamineAhead);
  run.CallerWorks = true;
  TInterruptWatch interrupt;
  size_t done = 0;
  run.Run(
      c.jars.size(),
      [&](size_t i) {
        return examiners.With([&](TAuditExaminer& with) { return ExamineForAudit(c.jars[i], with, duplicates); });
      },
      [&](size_t i, TOrderedResult<AuditExamined>& result) {
        if (interrupt.Caught()) return false;
        ++done;
        progress.Update(i, ExtractFileName(c.jars[i]));
        AuditExamined e = result.Take();
        progress.Clear();
        AuditResult& r = e.audit;
        if (duplicates && !r.sha256 && r.size >= 0) {
          ReportError(ctx, r.path, "no SHA-256: " + e.digestError);
          totals.failed = true;
        }
        if (o.fix) FixAuditedJad(r);
        if (duplicates) kept.push_back(std::move(r));
        else ReportJar(ctx, o, r, totals);
        return true;
      });
  progress.Clear();
  // Stopped: the duplicates of a part of the collection are not judged.
  if (interrupt.Caught()) return Interrupted(ctx, {interrupt.Caught(), done}, c.jars.size());
  if (duplicates) {
    const auto groups = MarkDuplicates(kept);
    if (o.trashDuplicates) {
      TOptions settings;
      LoadSettings(settings);
      TrashDuplicates(groups, settings);
    }
    for (const AuditResult& r : kept) ReportJar(ctx, o, r, totals);
  }
  if (!o.json && !o.csv && !ctx.quiet) PrintSummary(ctx, totals);
  return totals.failed ? 1 : 0;
}

}  // namespace parcelix
