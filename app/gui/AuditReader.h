// Audits the JARs of the Check tab on worker threads: each JAR's findings, its
// digest (for the duplicate search) and its icon. Results reach the
// user-interface thread in batches, through its event queue.
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

#include "midlet/Audit.h"

namespace parcelix {

// One JAR's result.
struct TAuditRead {
  QString path;
  AuditResult audit;
  QImage icon;  // the suite's icon at the row's height; null when none or it does not decode
};

class TAuditReader : public QObject {
 public:
  explicit TAuditReader(QObject* parent = nullptr);
  ~TAuditReader() override;  // stops the reads not started and waits for the others
  TAuditReader(const TAuditReader&) = delete;
  TAuditReader& operator=(const TAuditReader&) = delete;

  int IconSide = 16;
  // The program whose crypto module checks signatures and digests (this
  // process's program unless set before the first read).
  void SetProgram(const std::string& program);
  // Audits these JARs.
  void Read(const QStringList& paths);
  // Nothing waits to be read or delivered.
  bool Idle() const { return pending_ == 0; }
  // Results, on the user-interface thread, a batch at a time.
  std::function<void(std::vector<TAuditRead>& batch)> OnRead;

 private:
  struct Shared;
  void Deliver(std::vector<TAuditRead>& batch);
  std::shared_ptr<Shared> shared_;
  int pending_ = 0;
  QThreadPool pool_;
};

}  // namespace parcelix
