// Audits the JARs of the Check tab on worker threads, one examiner and one suite reader per worker.
#include "app/gui/AuditReader.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include <QThread>

#include "app/gui/GuiServices.h"
#include "app/gui/SuiteReader.h"
#include "app/shell/ContextMenu.h"
#include "engine/common/OrderedRun.h"
#include "midlet/AuditExaminer.h"
#include "midlet/SuiteSummary.h"

namespace parcelix {

namespace {

// JARs per job: each job is one delivery to the user-interface thread. An
// audit decodes every member, so jobs are smaller than the lists' reads.
constexpr int kJobSize = 16;
// The workers yield to the user-interface thread when the cores are busy.
constexpr int kWorkerNice = 10;

// What one worker audits with: kept for the next JAR.
struct TAuditWorker {
  explicit TAuditWorker(const std::string& program) : examiner(program) {}
  TAuditExaminer examiner;
  TMidletSuite suite;
};

TAuditRead AuditOne(TAuditWorker& worker, const QString& path, int iconSide) {
  TAuditRead r;
  r.path = path;
  const std::string native = ToNativePath(path);
  // Nothing may leave a worker's job: the row says what went wrong instead.
  try {
    r.audit = ExamineForAudit(native, worker.examiner, true).audit;
    if (r.audit.size >= 0) {
      const TSuiteSummary summary = ReadSuiteSummary(worker.suite.UnJar, worker.suite.Codec(), native);
      r.icon = TSuiteReader::DecodeIcon(summary.iconBytes, iconSide);
    }
  } catch (const std::exception& e) {
    r.audit.path = native;
    r.audit.findings.push_back({"unreadable", AuditSeverity::error, e.what()});
  }
  return r;
}

}  // namespace

struct TAuditReader::Shared {
  std::atomic<bool> stop{false};
  std::string program = ProgramPath();  // set before the workers start, read by them only
  TObjectPool<TAuditWorker> workers{[this] { return std::make_unique<TAuditWorker>(program); }};
};

void TAuditReader::SetProgram(const std::string& program) { shared_->program = program; }

TAuditReader::TAuditReader(QObject* parent) : QObject(parent), shared_(std::make_shared<Shared>()) {
  pool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

TAuditReader::~TAuditReader() {
  shared_->stop = true;
  pool_.clear();
  pool_.waitForDone();
}

void TAuditReader::Read(const QStringList& paths) {
  for (qsizetype at = 0; at < paths.size(); at += kJobSize) {
    const QStringList job = paths.mid(at, kJobSize);
    ++pending_;
    std::shared_ptr<Shared> shared = shared_;
    const int side = IconSide;
    pool_.start([this, shared, job, side] {
      setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWorkerNice);  // this thread only
      auto batch = std::make_shared<std::vector<TAuditRead>>();
      shared->workers.With([&](TAuditWorker& worker) {
        for (const QString& path : job) {
          if (shared->stop) return;
          batch->push_back(AuditOne(worker, path, side));
        }
      });
      if (shared->stop) return;
      QMetaObject::invokeMethod(this, [this, batch] { Deliver(*batch); }, Qt::QueuedConnection);
    });
  }
}

void TAuditReader::Deliver(std::vector<TAuditRead>& batch) {
  --pending_;
  if (OnRead) OnRead(batch);
}

}  // namespace parcelix
