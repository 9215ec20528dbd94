// The Check tab of the main window: the audit of a collection as a table,
// and what can be done about its findings (the JAD or the JAR fixed, the
// manifest edited, the file shown, identical copies moved to the Trash).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTableView>
#include <QWidget>

#include "app/gui/AuditReader.h"
#include "app/gui/CheckTable.h"
#include "app/gui/GuiServices.h"
#include "midlet/Settings.h"

class QAction;

namespace parcelix {

struct TJarFixJob;

class TCheckTab : public QWidget {
 public:
  // options: the settings in use (backups, the names a rename gives).
  TCheckTab(const TGuiServices& services, const TOptions& options, QWidget* parent = nullptr);
  ~TCheckTab() override;  // a running batch stops after the JAR in hand
  TCheckTab(const TCheckTab&) = delete;
  TCheckTab& operator=(const TCheckTab&) = delete;

  TCheckTableModel& Model() { return model_; }
  TCheckFilter& Filter() { return filter_; }
  QTableView& Table() { return CheckTable; }
  // No batch runs, every row has its audit and nothing waits to be read.
  bool Ready() const { return !Busy() && reader_.Idle() && landing_.empty() && model_.AllRead(); }
  // A batch on the selected rows runs.
  bool Busy() const { return batch_ != nullptr; }

  // The program whose crypto module the audit uses (this one by default).
  void SetProgram(const std::string& program) { reader_.SetProgram(program); }
  // Adds JARs (display paths) not listed yet and audits them.
  void AddPaths(const QStringList& paths);
  // The paths of the selected rows, in the order shown.
  QStringList SelectedPaths() const;
  void SelectPaths(const QStringList& paths);

  // Actions on the selected rows. The repairs run as a batch on a worker
  // thread (the questions they ask come first); each row is audited again
  // once its JAR is done.
  void DeleteClick();
  void FixJadClick();
  void FixJarClick();
  void OpenInEditorClick();
  void ShowInFileManagerClick();
  void TrashDuplicatesClick();

  // Opens a JAR in the manifest editor (set by the window).
  std::function<void(const QString& path)> OpenInEditor;
  // What the tab is doing, for the window's status bar ("" when idle).
  std::function<void(const QString& text)> OnStatus;
  // A batch on the selected rows starts (true) or ends (false); the window
  // offers its Stop command while one runs.
  std::function<void(bool busy)> OnBusy;
  // Asks a running batch to stop after the JAR it is working on.
  void Stop() { stopRequested_ = true; }

  QPushButton btnCheckAdd;
  QPushButton btnCheckAddFolder;
  QPushButton btnCheckHelp;

 private:
  // A batch: its steps run one after another on the worker thread; what the
  // finished steps mean for the table is taken up on the window's thread.
  struct TBatch {
    QString status;  // "Fixing %1 of %2 JARs..."
    int count = 0;
    std::function<void(int i)> step;             // on the worker; catches what it raises
    std::function<void(int from, int to)> done;  // steps [from, to) finished
    std::function<void(int finished)> finish;    // after the last step, or a Stop
  };
  void BuildActions();
  void SetBusy(bool busy);
  void StartBatch(std::shared_ptr<TBatch> batch);
  void RunBatch(std::shared_ptr<TBatch> batch);
  void WorkBatch(const std::shared_ptr<TBatch>& batch);
  // The batch is over: the window hears so, then the report is shown.
  void EndBatch(const QString& title, const QStringList& lines, bool problem);
  void AskFixJarQuestions(const std::shared_ptr<std::vector<TJarFixJob>>& jobs, int examined);
  void FixExaminedJars(const std::shared_ptr<std::vector<TJarFixJob>>& jobs);
  void ShowReadProgress();
  void LandReads();
  void Reexamine(const QStringList& paths);
  void MarkDuplicateRows();
  void Report(const QString& title, const QStringList& lines, bool problem);

  const TGuiServices& services_;
  const TOptions& options_;
  std::atomic<bool> stopRequested_{false};
  std::shared_ptr<TBatch> batch_;  // the batch running, null when none
  std::thread worker_;             // runs the batch's steps
  QElapsedTimer readStatusClock_;  // when "Checking i of n JARs" was last shown
  bool readStatusShown_ = false;
  TCheckTableModel model_;
  TCheckFilter filter_;
  TAuditReader reader_;
  std::vector<TAuditRead> landing_;  // read, waiting for landTimer_
  QTimer landTimer_;

  QGridLayout layout_;
  QLineEdit FilterEdit;
  QCheckBox ProblemsOnlyCheckBox;
  QTableView CheckTable;
  QPushButton btnCheckDelete;
  QPushButton btnCheckFixJad;
  QPushButton btnCheckFixJar;
  std::vector<QWidget*> batchControls_;
  std::vector<QAction*> batchActions_;
};

}  // namespace parcelix
