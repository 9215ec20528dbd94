// Reads the JARs of the lists on worker threads: what each suite is, its icon, and the name a rename would
// give it. Results reach the user-interface thread in batches, through its event queue.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include "midlet/MidletSuite.h"
#include "midlet/Settings.h"
#include "midlet/SuiteSummary.h"

namespace parcelix {

// One JAR's result.
struct TSuiteRead {
  QString path;
  // What the JAR is (null for a preview worked out again from an earlier read).
  std::shared_ptr<const TSuiteSummary> summary;
  QImage icon;           // the decoded icon at the row's height; null when none or it does not decode
  RenameResult rename;   // the rename under the options of generation
  bool nameExists = false;  // another file has the new name already
  int generation = 0;
};

class TSuiteReader : public QObject {
 public:
  explicit TSuiteReader(QObject* parent = nullptr);
  ~TSuiteReader() override;  // stops the reads not started and waits for the others
  TSuiteReader(const TSuiteReader&) = delete;
  TSuiteReader& operator=(const TSuiteReader&) = delete;

  // The options the renames are worked out under; a change starts a new generation.
  void SetOptions(const TOptions& options);
  const TOptions& Options() const { return options_; }
  int Generation() const { return generation_; }
  int IconSide = 16;

  // Reads these JARs (summary, icon, rename).
  void Read(const QStringList& paths);
  // Works the renames out again under the current options, from the
  // manifests read before.
  void Rename(const std::vector<std::pair<QString, std::shared_ptr<const TSuiteSummary>>>& jars);
  // Nothing waits to be read or delivered.
  bool Idle() const { return pending_ == 0; }

  // Results, on the user-interface thread, a batch at a time.
  std::function<void(std::vector<TSuiteRead>& batch)> OnRead;

  // The icon's bytes as an image of side x side (aspect kept, centred);
  // null when they do not decode or the picture is implausibly large.
  static QImage DecodeIcon(const std::vector<uint8_t>& bytes, int side);

 private:
  struct Shared;
  struct Job;
  void Start(std::shared_ptr<Job> job);
  void Deliver(std::vector<TSuiteRead>& batch);
  std::shared_ptr<Shared> shared_;
  TOptions options_;
  int generation_ = 0;
  int pending_ = 0;
  QThreadPool pool_;
};

}  // namespace parcelix
