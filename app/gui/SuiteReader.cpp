// Reads the JARs of the lists on worker threads, one suite (reader and code page converter) per worker.
#include "app/gui/SuiteReader.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

#include "app/gui/GuiServices.h"
#include "engine/common/OrderedRun.h"

namespace parcelix {

namespace {

// JARs per job: each job is one delivery to the user-interface thread.
constexpr int kJobSize = 64;
// The workers yield to the user-interface thread when the cores are busy:
// the window must answer at once, a row may wait a moment.
constexpr int kWorkerNice = 10;
// Phone icons are tens of pixels wide; a picture beyond this is not an icon.
constexpr int kMaxIconPixels = 1024 * 1024;

bool PathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

struct TSuiteReader::Shared {
  std::atomic<bool> stop{false};
  TObjectPool<TMidletSuite> suites{[] { return std::make_unique<TMidletSuite>(); }};
};

// A batch of JARs for one worker: read in full, or only renamed again.
struct TSuiteReader::Job {
  std::vector<QString> paths;
  std::vector<std::shared_ptr<const TSuiteSummary>> summaries;  // given: rename only
  TOptions options;
  int generation = 0;
  int iconSide = 16;
};

TSuiteReader::TSuiteReader(QObject* parent) : QObject(parent), shared_(std::make_shared<Shared>()) {
  pool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

TSuiteReader::~TSuiteReader() {
  shared_->stop = true;
  pool_.clear();
  pool_.waitForDone();
}

void TSuiteReader::SetOptions(const TOptions& options) {
  options_ = options;
  ++generation_;
}

QImage TSuiteReader::DecodeIcon(const std::vector<uint8_t>& bytes, int side) {
  if (bytes.empty() || side <= 0) return {};
  QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  const QSize size = reader.size();
  if (size.isValid() && qint64(size.width()) * size.height() > kMaxIconPixels) return {};
  QImage image;
  if (!reader.read(&image) || image.isNull()) return {};
  if (qint64(image.width()) * image.height() > kMaxIconPixels) return {};
  const QImage scaled = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  QImage square(side, side, QImage::Format_ARGB32_Premultiplied);
  square.fill(Qt::transparent);
  QPainter painter(&square);
  painter.drawImage((side - scaled.width()) / 2, (side - scaled.height()) / 2, scaled);
  return square;
}

void TSuiteReader::Read(const QStringList& paths) {
  for (qsizetype at = 0; at < paths.size(); at += kJobSize) {
    auto job = std::make_shared<Job>();
    for (qsizetype i = at; i < std::min(paths.size(), at + kJobSize); ++i) job->paths.push_back(paths[i]);
    Start(job);
  }
}

void TSuiteReader::Rename(const std::vector<std::pair<QString, std::shared_ptr<const TSuiteSummary>>>& jars) {
  for (size_t at = 0; at < jars.size(); at += kJobSize) {
    auto job = std::make_shared<Job>();
    for (size_t i = at; i < std::min(jars.size(), at + kJobSize); ++i) {
      job->paths.push_back(jars[i].first);
      job->summaries.push_back(jars[i].second);
    }
    Start(job);
  }
}

namespace {

// The rename a JAR would get, as the batch decides it (the new name taken or
// not is told apart, for the list to say so).
void WorkOutRename(TMidletSuite& suite, TSuiteRead& r) {
  if (!r.summary || !r.summary->error.empty()) return;
  const std::string path = ToNativePath(r.path);
  try {
    r.rename = suite.ComputeMIDletName(r.summary->manifest, path, PathExists);
  } catch (const std::exception& e) {
    r.rename.newPath = path;
    r.rename.reason = e.what();
  }
  r.nameExists = r.rename.reason.empty() && r.rename.newPath != path && PathExists(r.rename.newPath);
}

// What the JAR is, and its icon.
std::shared_ptr<const TSuiteSummary> ReadOne(TMidletSuite& suite, const QString& path, int iconSide, QImage& icon) {
  auto summary = std::make_shared<TSuiteSummary>();
  // Nothing may leave a worker's job: the row says what went wrong instead.
  try {
    *summary = ReadSuiteSummary(suite.UnJar, suite.Codec(), ToNativePath(path));
    icon = TSuiteReader::DecodeIcon(summary->iconBytes, iconSide);
  } catch (const std::exception& e) {
    summary->error = e.what();  // a code page of the settings that names none, or no memory
  }
  summary->iconBytes.clear();  // the image is kept, not its bytes
  return summary;
}

}  // namespace

void TSuiteReader::Start(std::shared_ptr<Job> job) {
  job->options = options_;
  job->generation = generation_;
  job->iconSide = IconSide;
  ++pending_;
  std::shared_ptr<Shared> shared = shared_;
  pool_.start([this, shared, job] {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWorkerNice);  // this thread only
    auto batch = std::make_shared<std::vector<TSuiteRead>>();
    shared->suites.With([&](TMidletSuite& suite) {
      suite.Options = job->options;
      for (size_t i = 0; i < job->paths.size() && !shared->stop; ++i) {
        TSuiteRead r;
        r.path = job->paths[i];
        r.generation = job->generation;
        if (i < job->summaries.size()) {
          r.summary = job->summaries[i];
        } else {
          r.summary = ReadOne(suite, r.path, job->iconSide, r.icon);
        }
        WorkOutRename(suite, r);
        batch->push_back(std::move(r));
      }
    });
    if (shared->stop) return;
    QMetaObject::invokeMethod(this, [this, batch] { Deliver(*batch); }, Qt::QueuedConnection);
  });
}

void TSuiteReader::Deliver(std::vector<TSuiteRead>& batch) {
  --pending_;
  if (OnRead) OnRead(batch);
}

}  // namespace parcelix
