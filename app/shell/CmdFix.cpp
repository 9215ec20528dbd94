// The fix command: each JAR written again, normalised, so that strict
// readers accept it; per JAR what changed, or "already fine".
#include <algorithm>
#include <memory>
#include <ostream>
#include <thread>

#include "app/shell/CliCommands.h"
#include "app/shell/Interrupt.h"
#include "app/shell/Progress.h"
#include "engine/common/OrderedRun.h"
#include "engine/common/arxGbls.h"
#include "midlet/JarFix.h"
#include "midlet/Settings.h"

namespace parcelix {

namespace {

// JARs examined ahead of the one being fixed, at most.
constexpr size_t kExamineAhead = 16;

struct FixTally {
  size_t fixed = 0, fine = 0, left = 0, lost = 0;
};

// The change lines and notes of a JAR below its status line.
void PrintDetails(CliContext& ctx, const JarFixPlan& plan) {
  for (const std::string& c : plan.changes) *ctx.out << "  - " << c << '\n';
  for (const std::string& n : plan.notes) *ctx.out << "  note: " << n << '\n';
}

// Writes (or with a dry run only tells) the fix of one examined JAR, in the
// order the JARs were named.
void Act(CliContext& ctx, const FixOptions& o, const JarFixOptions& options, JarExamination& exam, FixTally& t) {
  const JarFixPlan& plan = exam.plan;
  if (plan.verdict == TFixVerdict::AlreadyFine) {
    ++t.fine;
    if (!ctx.quiet) {
      *ctx.out << exam.jar << ": already fine\n";
      for (const std::string& n : plan.notes) *ctx.out << "  note: " << n << '\n';
    }
    return;
  }
  if (plan.verdict == TFixVerdict::Refused) {
    ++t.left;
    *ctx.out << exam.jar << ": left as it is (" << plan.refusal << ")\n";
    return;
  }
  if (o.dryRun) {
    *ctx.out << exam.jar << ": would be fixed (dry run)\n";
  } else {
    const JarFixResult r = FixJar(exam, options);
    if (!r.written) {
      ++t.left;
      *ctx.out << exam.jar << ": left as it is (" << r.error << ")\n";
      return;
    }
    *ctx.out << exam.jar << ": fixed\n";
    if (!r.error.empty()) ReportError(ctx, exam.jar, r.error);
    if (!ctx.quiet && !r.backupPath.empty()) *ctx.out << "  backup " << r.backupPath << '\n';
    if (r.jadUpdated) *ctx.out << "  - MIDlet-Jar-Size of " << exam.jadPath << " set to " << r.newSize << '\n';
    if (!r.error.empty()) ++t.left;
  }
  ++t.fixed;
  t.lost += !plan.lost.empty();
  PrintDetails(ctx, plan);
}

}  // namespace

int RunFix(CliContext& ctx, const FixOptions& o) {
  const Collected c = CollectJars(o.paths, o.recursive);
  TOptions settings;
  LoadSettings(settings);
  JarFixOptions options;
  options.salvage = o.salvage;
  options.deflate64ToDeflate = o.deflate64ToDeflate;
  options.breakSignature = o.breakSignature;
  options.backup = settings.CreateBackup && !o.noBackup;
  // A dry run decodes every member while it plans; a fix leaves that to the
  // read-back of what it wrote, so each member is decoded once.
  options.checkOnReadBack = !o.dryRun;

  FixTally t;
  for (const auto& [path, reason] : c.problems) {
    ReportError(ctx, path, reason);
    ++t.left;
  }
  TProgress progress(*ctx.err, ctx.stderrIsTerminal && !ctx.quiet, c.jars.size(), "JARs");
  // Workers examine the JARs; the fixes and the report follow the order named.
  using Examined = std::shared_ptr<JarExamination>;
  TOrderedRun<Examined> run(BatchWorkers(o.jobs), kExamineAhead);
  run.CallerWorks = true;
  TInterruptWatch interrupt;
  size_t done = 0;
  run.Run(
      c.jars.size(), [&](size_t i) { return std::make_shared<JarExamination>(ExamineJar(c.jars[i], options)); },
      [&](size_t i, TOrderedResult<Examined>& result) {
        if (interrupt.Caught()) return false;
        ++done;
        progress.Update(i, ExtractFileName(c.jars[i]));
        JarExamination exam;
        try {
          exam = std::move(*result.Take());
        } catch (const std::exception& e) {
          exam.jar = c.jars[i];
          exam.plan.verdict = TFixVerdict::Refused;
          exam.plan.refusal = e.what();
        }
        progress.Clear();
        Act(ctx, o, options, exam, t);
        return true;
      });
  if (interrupt.Caught()) return Interrupted(ctx, {interrupt.Caught(), done}, c.jars.size());
  if (!ctx.quiet)
    *ctx.out << c.jars.size() + c.problems.size() << (c.jars.size() + c.problems.size() == 1 ? " JAR: " : " JARs: ")
             << t.fixed << (o.dryRun ? " to fix, " : " fixed, ") << t.fine << " already fine, " << t.left
             << " left as they are" << (t.lost ? ", " + std::to_string(t.lost) + " with members lost" : "")
             << (o.dryRun ? " (dry run)" : "") << '\n';
  return t.left == 0 && t.lost == 0 ? 0 : 1;
}

}  // namespace parcelix
