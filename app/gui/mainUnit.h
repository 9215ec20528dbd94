// The main window: the Rename and Make JAD lists, the Options tab, the menus and the status bar.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHash>
#include <QSet>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>

#include "app/gui/CheckListBox.h"
#include "app/gui/CheckTab.h"
#include "app/gui/GuiServices.h"
#include "app/gui/SuiteReader.h"
#include "app/gui/WindowFader.h"
#include "midlet/MidletSuite.h"

class QAction;

namespace parcelix {

class TChmHelpViewer;
class TfrmAbout;
class TfrmManifestEditor;

class TfrmMain : public QMainWindow {
 public:
  // services: the desktop services (empty members: the real ones).
  explicit TfrmMain(TChmHelpViewer& help, TGuiServices services = {});
  ~TfrmMain() override;

  static constexpr const char* kCaption = "Parcelix v.1.1";
  static constexpr int kWidth = 553;
  static constexpr int kHeight = 444;

  TGuiServices Services;
  // The settings file; SettingsFilePath() when the window is made.
  std::string SettingsPath;

  TMidletSuite& Suite() { return suite_; }
  TCheckListBox& RenameListBox() { return RenameList; }
  TCheckListBox& MakeJadListBox() { return MakeJadList; }
  TCheckTab& CheckTab() { return TabCheck; }
  TfrmManifestEditor& ManifestEditorForm() { return *editor_; }
  TfrmAbout& AboutForm() { return *about_; }
  TWindowFader& Fader() { return fader_; }
  TEventPump& Pump() { return pump_; }
  QTabWidget& Pages() { return PageControl; }
  QString StatusText(int panel) const;
  bool Busy() const { return busy_; }
  // The status bar's Stop command (shown only while a batch runs).
  QPushButton& StopButton() { return btnStop; }
  // Where the next Add dialog opens: the directory files were last added
  // from, else the user's home.
  QString AddDialogDirectory() const;
  // Every row of both lists shows what its JAR is and what a run will do
  // with it under the current options.
  bool PreviewsReady() const;

  // Handlers.
  void FormCreate();  // reads the settings, sets the window style, accepts drops
  void FormShow();
  bool FormClose();   // saves the settings; false (window stays) when that failed
  void FormDestroy();
  void btnRenAddClick();
  void btnMakeJadAddClick();
  void btnRenAddFolderClick();
  void btnMakeJadAddFolderClick();
  void AddFolder1Click();  // File > Add Folder...: to the list of the active tab
  void btnRenDeleteClick();
  void btnMakeJadDeleteClick();
  void btnRenRenameClick();
  void btnMakeJadMakeClick();
  void RenameSelectAllClick();
  void MakeJadSelectAllClick();
  void RenameSelectNoneClick();
  void MakeJadSelectNoneClick();
  void RenameInvertSelectionClick();
  void MakeJadInvertSelectionClick();
  void ManifestEditorClick();
  void Exit1Click();
  void Contents1Click();
  void About1Click();
  void TabOptionsShow();
  void AddVersionCheckBoxClick();
  void TemplateEditChange();
  void TemplateEditExit();
  void RenameCheckBoxClick();
  void MakeJadCheckBoxClick();
  void BackupCheckBoxClick();
  void AlwaysOnTopCheckBoxClick();
  void MenuIntegrONButtonClick();
  void MenuIntegrOFFButtonClick();
  void btnRenHelpClick();
  void btnMakeJadHelpClick();
  void btnOptionsHelpClick();
  void btnCheckHelpClick();
  // Stop (the status bar's button or Escape): the running batch ends after
  // the JAR in hand.
  void btnStopClick();
  void DisplayHint(const QString& hint);
  // Files dropped from the file manager, in the order of the drop.
  void WMDropFiles(const QStringList& paths);
  // Files the window was opened with ("Open With" in a file manager): they
  // go to the Rename list, as if dropped on its tab.
  void OpenFiles(const QStringList& paths);

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  class BusyScope;
  void BuildMenus();
  struct ListButtons {
    QPushButton& add;
    QPushButton& addFolder;
    QPushButton& del;
    QPushButton& run;
    QPushButton& help;
  };
  void BuildListTab(QWidget& page, QGridLayout& layout, TCheckListBox& list, const ListButtons& buttons);
  void BuildOptionsTab();
  TCheckListBox* ActiveList();
  // The JARs the user picks in the Add dialog, or below the folder picked in
  // the Add Folder dialog; empty when cancelled or busy.
  QStringList ChooseJarFiles();
  QStringList ChooseJarFolder();
  void AddFiles(TCheckListBox& list);
  void AddFolder(TCheckListBox& list);
  void OpenInEditor(const QString& path);
  void AddPaths(TCheckListBox& list, const QStringList& paths);
  // The JARs below a folder (its subfolders included), as display paths.
  static QStringList JarsBelow(const QString& folder);
  void DeleteChecked(TCheckListBox& list);
  void RunBatch(TCheckListBox& list, bool rename);
  void SaveOption(bool& option, const QCheckBox& box);
  void ApplyStayOnTop(bool on);
  void SetBusy(bool busy);
  void CheckTabBusy(bool busy);
  void SetStatus(int panel, const QString& text);
  void ShowReadingProgress();

  // The rows' previews: what each JAR is (read on worker threads), what a
  // run will do with it.
  struct SuiteEntry;
  void ReadSuites(const QStringList& paths);
  void SuitesRead(std::vector<TSuiteRead>& batch);
  TOptions PreviewOptions() const;
  void PreviewOptionsChanged();
  void RenameAgain();
  void ForgetSuites(const QStringList& paths);
  void ForgetUnlisted();
  void ScheduleRefresh();
  void RefreshLists();
  void UpdateRenameConflicts();
  std::optional<TRowView> DescribeRow(const TCheckListBox& list, int row) const;
  void DescribeRename(const SuiteEntry& e, int row, TRowView& v) const;
  void DescribeJad(const SuiteEntry& e, TRowView& v) const;
  const SuiteEntry* EntryOf(const QString& path) const;

  TMidletSuite suite_;
  TChmHelpViewer& help_;
  TEventPump pump_;
  QString lastAddDir_;
  QString lastOpenDir_;
  bool busy_ = false;
  bool stopRequested_ = false;
  bool checkBusy_ = false;  // the busy state is the Check tab's batch
  bool closeAfterBatch_ = false;
  bool closing_ = false;

  // Controls, each declared after the widget that holds it (they are
  // destroyed in reverse order, children first).
  QTabWidget PageControl;
  QWidget TabRename;
  QGridLayout renameLayout_;
  TCheckListBox RenameList;
  QPushButton btnRenAdd;
  QPushButton btnRenAddFolder;
  QPushButton btnRenDelete;
  QPushButton btnRenRename;
  QPushButton btnRenHelp;
  QWidget TabMakeJad;
  QGridLayout makeJadLayout_;
  TCheckListBox MakeJadList;
  QPushButton btnMakeJadAdd;
  QPushButton btnMakeJadAddFolder;
  QPushButton btnMakeJadDelete;
  QPushButton btnMakeJadMake;
  QPushButton btnMakeJadHelp;
  QWidget TabOptions;
  QGridLayout optionsLayout_;
  QGroupBox RenameGroupBox;
  QGridLayout renameGroupLayout_;
  QCheckBox AddVersionCheckBox;
  QLabel TemplateLabel;
  QLineEdit TemplateEdit;
  QLabel TemplatePreview;
  QGroupBox ManifestEditorGroupBox;
  QGridLayout editorGroupLayout_;
  QCheckBox RenameCheckBox;
  QCheckBox MakeJadCheckBox;
  QCheckBox BackupCheckBox;
  QGroupBox OtherGroupBox;
  QGridLayout otherGroupLayout_;
  QCheckBox AlwaysOnTopCheckBox;
  QLabel MenuIntegrLabel;
  QPushButton MenuIntegrONButton;
  QPushButton MenuIntegrOFFButton;
  QPushButton btnOptionsHelp;
  QLabel panel0_;
  QLabel panel1_;
  QPushButton btnStop;
  QShortcut stopShortcut_;
  // After the status bar's panels: while it goes, the tab shown in its place
  // may still post hints to them.
  TCheckTab TabCheck;

  // Owned by the menus.
  QAction* manifestEditorAction_ = nullptr;
  QAction* addFolderAction_ = nullptr;
  QAction* aboutAction_ = nullptr;

  TWindowFader fader_;
  std::unique_ptr<TfrmManifestEditor> editor_;
  std::unique_ptr<TfrmAbout> about_;

  // What the JARs of the lists are, by display path; shared by both lists.
  QHash<QString, std::shared_ptr<SuiteEntry>> suites_;
  QSet<QString> reading_;
  // Reading progress in panel 0: the JARs of this round of reads, and what
  // the panel said before the round (given back when it ends).
  int readTotal_ = 0;
  QString beforeReading_;
  QString readingText_;
  QTimer progressTimer_;
  // Rename rows (by index) whose new name another file has, or an earlier
  // checked row takes first.
  std::vector<bool> renameTaken_;
  QTimer refreshTimer_;
  QTimer optionsTimer_;
  // Last: its workers stop before anything above goes.
  TSuiteReader reader_;
};

}  // namespace parcelix
