// The Check tab's repairs: the JAD brought up to date, the JAR fixed (asking
// first where the command line wants a flag), identical copies to the Trash.
// Each runs as a batch on the worker thread; the questions come before it.
#include <algorithm>

#include <QFileInfo>

#include "app/gui/CheckTab.h"
#include "midlet/AuditDuplicates.h"
#include "midlet/AuditExaminer.h"
#include "midlet/JadUpdate.h"
#include "midlet/JarFix.h"

namespace parcelix {

namespace {

QString Line(const QString& path, const QString& what) {
  return QFileInfo(path).fileName() + QStringLiteral(": ") + what;
}

QString LeftAsItIs(const QString& why) { return QStringLiteral("left as it is (%1)").arg(why); }

// The closing line of a batch the user stopped: how many of its files
// (or groups of files) it did not come to.
QString StoppedLine(int untouched, int count, const char* what) {
  return QStringLiteral("Stopped: %1 of the %2 %3 are left as they were.")
      .arg(untouched)
      .arg(count)
      .arg(QLatin1String(what));
}

}  // namespace

// One JAR of a Fix JAR batch: first examined (with the options the answers
// would give), then, when every question is answered Yes, fixed.
struct TJarFixJob {
  QString path;
  JarFixOptions options;
  std::vector<std::string> questions;  // asked in turn; a No leaves the JAR as it is
  bool fix = false;                    // the JAR needs the fix that options allow
  QString outcome;                     // what became of it; "" while nothing did
};

namespace {

// The questions a JAR asks before it is fixed: a damaged one whether to
// salvage what reads whole, one its JAD signs whether to break the signature.
// Examines with the options each Yes would give, so that every question can
// be asked before anything is written; reads only.
void ExamineForFix(TJarFixJob& job) {
  const std::string jar = ToNativePath(job.path);
  const std::string file = QFileInfo(job.path).fileName().toStdString();
  for (;;) {
    const JarExamination exam = ExamineJar(jar, job.options);
    const JarFixPlan& plan = exam.plan;
    if (plan.verdict == TFixVerdict::NeedsFix) {
      job.fix = true;
      return;
    }
    if (plan.verdict == TFixVerdict::AlreadyFine) break;
    // Refused: the refusals that a flag of the command line lifts mention it.
    if (!job.options.salvage && plan.refusal.find("--salvage") != std::string::npos) {
      job.questions.push_back(file + " is damaged: " + plan.refusal +
                              "\n\nWrite a new JAR of the members that can be read whole?");
      job.options.salvage = true;
      continue;
    }
    if (!job.options.breakSignature && !exam.jadText.empty() && HasMidpSignature(ParseJadAttributes(exam.jadText))) {
      job.questions.push_back(file + ": " + plan.refusal + "\n\nFix it anyway and break the signature?");
      job.options.breakSignature = true;
      continue;
    }
    job.outcome = LeftAsItIs(QString::fromStdString(plan.refusal));
    break;
  }
  // No question is worth asking when the JAR stays as it is whatever the answer.
  job.questions.clear();
  if (job.outcome.isEmpty()) job.outcome = QStringLiteral("already fine");
}

// Writes the fix the answers allowed. The JAR is examined again: it may have
// changed since the questions.
QString FixExamined(const TJarFixJob& job) {
  JarExamination exam = ExamineJar(ToNativePath(job.path), job.options);
  const JarFixPlan& plan = exam.plan;
  if (plan.verdict == TFixVerdict::AlreadyFine) return QStringLiteral("already fine");
  if (plan.verdict == TFixVerdict::Refused) return LeftAsItIs(QString::fromStdString(plan.refusal));
  const JarFixResult r = FixJar(exam, job.options);
  if (!r.written) return LeftAsItIs(QString::fromStdString(r.error));
  QString text = QStringLiteral("fixed");
  if (!r.backupPath.empty())
    text += QStringLiteral(", backup ") + QFileInfo(QString::fromStdString(r.backupPath)).fileName();
  if (!plan.lost.empty()) text += QStringLiteral(", %1 members left out").arg(plan.lost.size());
  if (!r.error.empty()) text += QStringLiteral(" (") + QString::fromStdString(r.error) + QLatin1Char(')');
  return text;
}

// Runs a step of a worker; what it raises leaves the JAR as it is.
template <class F>
void Guarded(QString& outcome, F&& step) {
  try {
    step();
  } catch (const std::exception& e) {
    outcome = LeftAsItIs(QString::fromUtf8(e.what()));
  }
}

}  // namespace

void TCheckTab::FixJadClick() {
  if (Busy()) return;
  auto audits = std::make_shared<std::vector<AuditResult>>();
  for (const QString& path : SelectedPaths())
    if (const AuditResult* audit = model_.Audit(model_.RowOf(path)); audit && HasJadFix(*audit))
      audits->push_back(*audit);
  if (audits->empty()) {
    Report(QStringLiteral("Fix JAD"), {QStringLiteral("No JAD of the selected files needs an update.")}, false);
    return;
  }
  auto batch = std::make_shared<TBatch>();
  batch->status = QStringLiteral("Fixing the JAD of %1 of %2 JARs...");
  batch->count = static_cast<int>(audits->size());
  batch->step = [audits](int i) {
    AuditResult& r = (*audits)[static_cast<size_t>(i)];
    try {
      FixAuditedJad(r);
    } catch (const std::exception& e) {
      r.findings.push_back(
          {"jad-fix-failed", AuditSeverity::error, std::string("the JAD could not be updated: ") + e.what()});
    }
  };
  batch->done = [this, audits](int from, int to) {
    QStringList paths;
    for (int i = from; i < to; ++i) paths << FromNativePath((*audits)[static_cast<size_t>(i)].path);
    Reexamine(paths);
  };
  batch->finish = [this, audits](int finished) {
    QStringList lines;
    bool problem = false;
    for (int i = 0; i < finished; ++i) {
      const AuditResult& r = (*audits)[static_cast<size_t>(i)];
      const AuditFinding& outcome = r.findings.back();
      problem = problem || outcome.severity == AuditSeverity::error;
      lines << Line(FromNativePath(r.path), QString::fromStdString(outcome.text));
    }
    const int count = static_cast<int>(audits->size());
    if (finished < count) lines << StoppedLine(count - finished, count, "JADs");
    EndBatch(QStringLiteral("Fix JAD"), lines, problem);
  };
  StartBatch(std::move(batch));
}

// Fix JAR runs in two batches with the questions between them: every
// selected JAR is examined, the questions of the damaged and the signed ones
// are asked, then the JARs that need it are fixed.
void TCheckTab::FixJarClick() {
  if (Busy()) return;
  auto jobs = std::make_shared<std::vector<TJarFixJob>>();
  for (const QString& path : SelectedPaths()) {
    jobs->push_back(TJarFixJob{path, {}, {}, false, {}});
    jobs->back().options.backup = options_.CreateBackup;
    jobs->back().options.checkOnReadBack = true;
  }
  if (jobs->empty()) return;
  auto batch = std::make_shared<TBatch>();
  batch->status = QStringLiteral("Examining %1 of %2 JARs...");
  batch->count = static_cast<int>(jobs->size());
  batch->step = [jobs](int i) {
    TJarFixJob& job = (*jobs)[static_cast<size_t>(i)];
    Guarded(job.outcome, [&] { ExamineForFix(job); });
  };
  batch->done = [](int, int) {};
  batch->finish = [this, jobs](int examined) { AskFixJarQuestions(jobs, examined); };
  StartBatch(std::move(batch));
}

void TCheckTab::AskFixJarQuestions(const std::shared_ptr<std::vector<TJarFixJob>>& jobs, int examined) {
  const int count = static_cast<int>(jobs->size());
  if (examined == count && !stopRequested_) {
    for (TJarFixJob& job : *jobs) {
      if (!job.fix) continue;
      for (const std::string& q : job.questions) {
        if (services_.Ask(this, UserMessage{"Fix JAR", q, MsgIcon::Warning})) continue;
        job.fix = false;
        job.outcome = QStringLiteral("left as it is");
        break;
      }
    }
  }
  if (examined == count && !stopRequested_) {
    FixExaminedJars(jobs);
    return;
  }
  // Stopped while examining (or answering): nothing was written.
  QStringList lines;
  for (const TJarFixJob& job : *jobs)
    if (!job.fix && !job.outcome.isEmpty()) lines << Line(job.path, job.outcome);
  const auto waiting = [](const TJarFixJob& j) { return j.fix || j.outcome.isEmpty(); };
  lines << StoppedLine(static_cast<int>(std::count_if(jobs->begin(), jobs->end(), waiting)), count, "JARs");
  EndBatch(QStringLiteral("Fix JAR"), lines, false);
}

void TCheckTab::FixExaminedJars(const std::shared_ptr<std::vector<TJarFixJob>>& jobs) {
  auto order = std::make_shared<std::vector<size_t>>();  // the jobs to fix
  for (size_t i = 0; i < jobs->size(); ++i)
    if ((*jobs)[i].fix) order->push_back(i);
  auto batch = std::make_shared<TBatch>();
  batch->status = QStringLiteral("Fixing %1 of %2 JARs...");
  batch->count = static_cast<int>(order->size());
  batch->step = [jobs, order](int i) {
    TJarFixJob& job = (*jobs)[(*order)[static_cast<size_t>(i)]];
    Guarded(job.outcome, [&] { job.outcome = FixExamined(job); });
  };
  batch->done = [this, jobs, order](int from, int to) {
    QStringList paths;
    for (int i = from; i < to; ++i) paths << (*jobs)[(*order)[static_cast<size_t>(i)]].path;
    Reexamine(paths);
  };
  batch->finish = [this, jobs, order](int finished) {
    QStringList lines;
    bool problem = false;
    for (const TJarFixJob& job : *jobs) {
      if (job.outcome.isEmpty()) continue;  // stopped before it
      problem = problem || job.outcome.startsWith(QLatin1String("left"));
      lines << Line(job.path, job.outcome);
    }
    const int count = static_cast<int>(order->size());
    if (finished < count) lines << StoppedLine(count - finished, count, "JARs to fix");
    EndBatch(QStringLiteral("Fix JAR"), lines, problem);
  };
  RunBatch(std::move(batch));
}

// Among the selected rows, each group of identical JARs keeps one (the one
// already named as rename would name it, else the first by path).
void TCheckTab::TrashDuplicatesClick() {
  if (Busy()) return;
  struct TWork {
    std::vector<AuditResult> audits;
    std::vector<std::vector<AuditResult*>> groups;  // into audits
  };
  auto work = std::make_shared<TWork>();
  for (const QString& path : SelectedPaths())
    if (const AuditResult* a = model_.Audit(model_.RowOf(path)); a && a->sha256) work->audits.push_back(*a);
  work->groups = MarkDuplicates(work->audits);
  if (work->groups.empty()) {
    Report(QStringLiteral("Move Duplicates to Trash"), {QStringLiteral("No identical JARs among the selected files.")},
           false);
    return;
  }
  auto batch = std::make_shared<TBatch>();
  batch->status = QStringLiteral("Moving duplicates to the Trash: group %1 of %2...");
  batch->count = static_cast<int>(work->groups.size());
  // The options as they are now: the user may change them while this runs.
  batch->step = [work, options = options_](int i) {
    const auto& group = work->groups[static_cast<size_t>(i)];
    try {
      TrashDuplicates({group}, options);
    } catch (const std::exception& e) {
      group.back()->findings.push_back({"trash-failed", AuditSeverity::error, e.what()});
    }
  };
  batch->done = [this, work](int from, int to) {
    QStringList touched;
    for (int i = from; i < to; ++i)
      for (const AuditResult* r : work->groups[static_cast<size_t>(i)]) touched << FromNativePath(r->path);
    Reexamine(touched);
  };
  batch->finish = [this, work](int finished) {
    QStringList lines;
    bool problem = false;
    for (int i = 0; i < finished; ++i)
      for (const AuditResult* r : work->groups[static_cast<size_t>(i)]) {
        const AuditFinding& last = r->findings.back();
        if (last.code != "trashed" && last.code != "trash-failed") continue;
        problem = problem || last.severity == AuditSeverity::error;
        lines << Line(FromNativePath(r->path), QString::fromStdString(last.text));
      }
    const int count = static_cast<int>(work->groups.size());
    if (finished < count) lines << StoppedLine(count - finished, count, "groups of identical JARs");
    EndBatch(QStringLiteral("Move Duplicates to Trash"), lines, problem);
  };
  StartBatch(std::move(batch));
}

}  // namespace parcelix
