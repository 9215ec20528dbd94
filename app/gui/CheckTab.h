// The Check tab of the main window: the audit of a collection as a table,
// and what can be done about its findings (the JAD or the JAR fixed, the
// manifest edited, the file shown, identical copies moved to the Trash).
#pragma once

#include <functional>

#include <QCheckBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QWidget>

#include "app/gui/AuditReader.h"
#include "app/gui/CheckTable.h"
#include "app/gui/GuiServices.h"
#include "midlet/Settings.h"

class QAction;

namespace parcelix {

class TCheckTab : public QWidget {
 public:
  // options: the settings in use (backups, the names a rename gives).
  TCheckTab(const TGuiServices& services, const TOptions& options, QWidget* parent = nullptr);

  TCheckTableModel& Model() { return model_; }
  TCheckFilter& Filter() { return filter_; }
  QTableView& Table() { return CheckTable; }
  // Every row has its audit and nothing waits to be read.
  bool Ready() const { return reader_.Idle() && model_.AllRead(); }

  // The program whose crypto module the audit uses (this one by default).
  void SetProgram(const std::string& program) { reader_.SetProgram(program); }
  // Adds JARs (display paths) not listed yet and audits them.
  void AddPaths(const QStringList& paths);
  // The paths of the selected rows, in the order shown.
  QStringList SelectedPaths() const;
  void SelectPaths(const QStringList& paths);

  // Actions on the selected rows; each row is audited again afterwards.
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
  void BuildActions();
  void Reexamine(const QStringList& paths);
  void MarkDuplicateRows();
  void Report(const QString& title, const QStringList& lines, bool problem);
  QString FixJarAt(const QString& path);

  const TGuiServices& services_;
  const TOptions& options_;
  bool stopRequested_ = false;
  TCheckTableModel model_;
  TCheckFilter filter_;
  TAuditReader reader_;

  QGridLayout layout_;
  QLineEdit FilterEdit;
  QCheckBox ProblemsOnlyCheckBox;
  QTableView CheckTable;
  QPushButton btnCheckDelete;
  QPushButton btnCheckFixJad;
  QPushButton btnCheckFixJar;
};

}  // namespace parcelix
