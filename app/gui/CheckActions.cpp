// The Check tab's repairs: the JAD brought up to date, the JAR fixed (asking
// first where the command line wants a flag), identical copies to the Trash.
#include <QFileInfo>

#include "app/gui/CheckTab.h"
#include "midlet/AuditDuplicates.h"
#include "midlet/AuditExaminer.h"
#include "midlet/JadUpdate.h"
#include "midlet/JarFix.h"

namespace parcelix {

namespace {

QString Text(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QString Line(const QString& path, const QString& what) {
  return QFileInfo(path).fileName() + QStringLiteral(": ") + what;
}

}  // namespace

void TCheckTab::FixJadClick() {
  QStringList lines, fixed;
  bool problem = false;
  for (const QString& path : SelectedPaths()) {
    const AuditResult* audit = model_.Audit(model_.RowOf(path));
    if (!audit || !HasJadFix(*audit)) continue;
    AuditResult r = *audit;
    FixAuditedJad(r);
    const AuditFinding& outcome = r.findings.back();
    problem = problem || outcome.severity == AuditSeverity::error;
    lines << Line(path, Text(outcome.text));
    fixed << path;
  }
  if (lines.isEmpty()) lines << QStringLiteral("No JAD of the selected files needs an update.");
  Reexamine(fixed);
  Report(QStringLiteral("Fix JAD"), lines, problem);
}

// Fixes one JAR; a JAR its JAD signs, or one that is damaged, is fixed only
// when the user agrees to break the signature or to salvage what can be read.
QString TCheckTab::FixJarAt(const QString& path) {
  JarFixOptions options;
  options.backup = options_.CreateBackup;
  options.checkOnReadBack = true;
  const std::string jar = ToNativePath(path);
  const QString file = QFileInfo(path).fileName();
  for (;;) {
    JarExamination exam = ExamineJar(jar, options);
    const JarFixPlan& plan = exam.plan;
    if (plan.verdict == TFixVerdict::AlreadyFine) return QStringLiteral("already fine");
    if (plan.verdict == TFixVerdict::NeedsFix) {
      const JarFixResult r = FixJar(exam, options);
      if (!r.written) return QStringLiteral("left as it is (%1)").arg(Text(r.error));
      QString text = QStringLiteral("fixed");
      if (!r.backupPath.empty()) text += QStringLiteral(", backup ") + QFileInfo(Text(r.backupPath)).fileName();
      if (!plan.lost.empty()) text += QStringLiteral(", %1 members left out").arg(plan.lost.size());
      if (!r.error.empty()) text += QStringLiteral(" (") + Text(r.error) + QLatin1Char(')');
      return text;
    }
    // Refused: the refusals that a flag of the command line lifts mention it.
    const QString refusal = Text(plan.refusal);
    if (!options.salvage && refusal.contains(QLatin1String("--salvage"))) {
      const std::string q = file.toStdString() + " is damaged: " + plan.refusal +
                            "\n\nWrite a new JAR of the members that can be read whole?";
      if (!services_.Ask(this, UserMessage{"Fix JAR", q, MsgIcon::Warning})) break;
      options.salvage = true;
      continue;
    }
    if (!options.breakSignature && !exam.jadText.empty() && HasMidpSignature(ParseJadAttributes(exam.jadText))) {
      const std::string q = file.toStdString() + ": " + plan.refusal + "\n\nFix it anyway and break the signature?";
      if (!services_.Ask(this, UserMessage{"Fix JAR", q, MsgIcon::Warning})) break;
      options.breakSignature = true;
      continue;
    }
    return QStringLiteral("left as it is (%1)").arg(refusal);
  }
  return QStringLiteral("left as it is");
}

void TCheckTab::FixJarClick() {
  const QStringList paths = SelectedPaths();
  QStringList lines;
  bool problem = false;
  for (const QString& path : paths) {
    QString outcome;
    try {
      outcome = FixJarAt(path);
    } catch (const std::exception& e) {
      outcome = QStringLiteral("left as it is (%1)").arg(QString::fromUtf8(e.what()));
    }
    problem = problem || outcome.startsWith(QLatin1String("left"));
    lines << Line(path, outcome);
  }
  Reexamine(paths);
  Report(QStringLiteral("Fix JAR"), lines, problem);
}

// Among the selected rows, each group of identical JARs keeps one (the one
// already named as rename would name it, else the first by path).
void TCheckTab::TrashDuplicatesClick() {
  std::vector<AuditResult> audits;
  for (const QString& path : SelectedPaths())
    if (const AuditResult* a = model_.Audit(model_.RowOf(path)); a && a->sha256) audits.push_back(*a);
  const auto groups = MarkDuplicates(audits);
  if (groups.empty()) {
    Report(QStringLiteral("Move Duplicates to Trash"), {QStringLiteral("No identical JARs among the selected files.")},
           false);
    return;
  }
  TrashDuplicates(groups, options_);
  QStringList lines, touched;
  bool problem = false;
  for (const auto& group : groups)
    for (const AuditResult* r : group) {
      touched << FromNativePath(r->path);
      const AuditFinding& last = r->findings.back();
      if (last.code != "trashed" && last.code != "trash-failed") continue;
      problem = problem || last.severity == AuditSeverity::error;
      lines << Line(FromNativePath(r->path), Text(last.text));
    }
  Reexamine(touched);
  Report(QStringLiteral("Move Duplicates to Trash"), lines, problem);
}

}  // namespace parcelix
