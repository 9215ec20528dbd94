// The main window: the Rename and Make JAD lists, the Options tab, the menus and the status bar.
#include "app/gui/mainUnit.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>

#include "app/gui/AboutUnit.h"
#include "app/gui/Design.h"
#include "app/gui/HelpViewer.h"
#include "app/gui/Logo.h"
#include "app/gui/ManifestEditorUnit.h"
#include "app/shell/CliCommands.h"
#include "app/shell/ContextMenu.h"
#include "midlet/NameTemplate.h"


namespace parcelix {

namespace {

const QString kJarFilter = QStringLiteral("Java ARhives (*.jar);;All Files (*)");
constexpr const char* kAddFolderHint = "Add the JARs of a folder and its subfolders to list";

// The extension as the drop handler sees it: from the last '.' of the file
// part, with spaces and control characters trimmed, in lower case.
QString DropExtension(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
  if (dot < 0 || dot < slash) return {};
  QString ext = path.mid(dot);
  qsizetype begin = 0;
  qsizetype end = ext.size();
  while (begin < end && ext.at(begin).unicode() <= 0x20) ++begin;
  while (end > begin && ext.at(end - 1).unicode() <= 0x20) --end;
  return ext.mid(begin, end - begin).toLower();
}

void SetContextMenuIntegration(bool on) {
  if (on)
    IntegrateOn(ProgramPath());
  else
    IntegrateOff();
}

}  // namespace

// Disables what could start a second run or change the lists while a batch
// or a save is under way, and shows the wait cursor.
class TfrmMain::BusyScope {
 public:
  explicit BusyScope(TfrmMain& window) : window_(window) {
    window_.SetBusy(true);
    QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  ~BusyScope() {
    QApplication::restoreOverrideCursor();
    window_.SetBusy(false);
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  TfrmMain& window_;
};

TfrmMain::TfrmMain(TChmHelpViewer& help, TGuiServices services)
    : Services(std::move(services)),
      SettingsPath(SettingsFilePath()),
      help_(help),
      stopShortcut_(QKeySequence(Qt::Key_Escape), this),
      TabCheck(Services, suite_.Options),
      fader_(*this) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QLatin1String(kCaption));
  setWindowIcon(ProgramIcon());
  setMinimumSize(kWidth, kHeight);
  resize(kWidth, kHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kWidth / 2, kHeight / 2));
  }

  Design(PageControl, "PageControl");
  Design(TabRename, "TabRename");
  Design(TabMakeJad, "TabMakeJad");
  Design(TabOptions, "TabOptions");
  Design(RenameList, "RenameList");
  Design(MakeJadList, "MakeJadList");
  Design(btnRenAdd, "btnRenAdd", "Add", "Add files to list");
  Design(btnRenAddFolder, "btnRenAddFolder", "Add Folder", kAddFolderHint);
  Design(btnRenDelete, "btnRenDelete", "Delete", "Delete files from list");
  Design(btnRenRename, "btnRenRename", "Rename", "Start process");
  Design(btnRenHelp, "btnRenHelp", "Help", "Help");
  Design(btnMakeJadAdd, "btnMakeJadAdd", "Add", "Add files to list");
  Design(btnMakeJadAddFolder, "btnMakeJadAddFolder", "Add Folder", kAddFolderHint);
  Design(btnMakeJadDelete, "btnMakeJadDelete", "Delete", "Delete files from list");
  Design(btnMakeJadMake, "btnMakeJadMake", "Make JAD", "Start process");
  Design(btnMakeJadHelp, "btnMakeJadHelp", "Help", "Help");
  Design(RenameGroupBox, "RenameGroupBox", "Rename", "Rename options");
  Design(AddVersionCheckBox, "AddVersionCheckBox", "Add version number (to avoid same MIDlet-Name conflict)",
         "Add version number");
  Design(TemplateLabel, "TemplateLabel", "Name template:");
  Design(TemplateEdit, "TemplateEdit", "",
         "Empty: the name (and version). {Attribute-Name}, {file}, {ext}; '/' makes folders below the JAR's");
  Design(TemplatePreview, "TemplatePreview", "");
  Design(ManifestEditorGroupBox, "ManifestEditorGroupBox", "Manifest Editor", "Manifest Editor options");
  Design(RenameCheckBox, "RenameCheckBox", "Rename after save", "Rename after save");
  Design(MakeJadCheckBox, "MakeJadCheckBox", "Make JAD after save", "Make JAD after save");
  Design(BackupCheckBox, "BackupCheckBox", "Create backup", "Create backup");
  Design(OtherGroupBox, "OtherGroupBox", "Other", "Other options");
  Design(AlwaysOnTopCheckBox, "AlwaysOnTopCheckBox", "Always on Top", "Always on Top");
  Design(MenuIntegrLabel, "MenuIntegrLabel", "Context menu integration:");
  Design(MenuIntegrONButton, "MenuIntegrONButton", "ON", "Context menu integration: ON");
  Design(MenuIntegrOFFButton, "MenuIntegrOFFButton", "OFF", "Context menu integration: OFF");
  Design(btnOptionsHelp, "btnOptionsHelp", "Help", "Help");
  Design(btnStop, "btnStop", "Stop", "Stop after the file in hand (Esc)");

  BuildListTab(TabRename, renameLayout_, RenameList,
               {btnRenAdd, btnRenAddFolder, btnRenDelete, btnRenRename, btnRenHelp});
  BuildListTab(TabMakeJad, makeJadLayout_, MakeJadList,
               {btnMakeJadAdd, btnMakeJadAddFolder, btnMakeJadDelete, btnMakeJadMake, btnMakeJadHelp});
  BuildOptionsTab();
  PageControl.addTab(&TabRename, QStringLiteral(" Rename "));
  PageControl.addTab(&TabMakeJad, QStringLiteral(" Make JAD "));
  PageControl.addTab(&TabOptions, QStringLiteral(" Options "));
  PageControl.addTab(&TabCheck, QStringLiteral(" Check "));
  PageControl.setCurrentIndex(0);
  setCentralWidget(&PageControl);
  BuildMenus();

  // Status bar: panel 0 (200 pixels) for progress, panel 1 for hints.
  panel0_.setObjectName(QStringLiteral("StatusPanel0"));
  panel1_.setObjectName(QStringLiteral("StatusPanel1"));
  panel0_.setFixedWidth(200);
  panel1_.setMinimumWidth(50);
  statusBar()->setObjectName(QStringLiteral("StatusBar1"));
  statusBar()->setSizeGripEnabled(true);
  statusBar()->addWidget(&panel0_);
  statusBar()->addWidget(&panel1_, 1);
  // Stop: offered only while a batch runs.
  statusBar()->addPermanentWidget(&btnStop);
  btnStop.setFocusPolicy(Qt::NoFocus);
  btnStop.hide();
  stopShortcut_.setEnabled(false);
  connect(&btnStop, &QPushButton::clicked, this, &TfrmMain::btnStopClick);
  connect(&stopShortcut_, &QShortcut::activated, this, &TfrmMain::btnStopClick);

  connect(&btnRenAdd, &QPushButton::clicked, this, &TfrmMain::btnRenAddClick);
  connect(&btnMakeJadAdd, &QPushButton::clicked, this, &TfrmMain::btnMakeJadAddClick);
  connect(&btnRenAddFolder, &QPushButton::clicked, this, &TfrmMain::btnRenAddFolderClick);
  connect(&btnMakeJadAddFolder, &QPushButton::clicked, this, &TfrmMain::btnMakeJadAddFolderClick);
  connect(&btnRenDelete, &QPushButton::clicked, this, &TfrmMain::btnRenDeleteClick);
  connect(&btnMakeJadDelete, &QPushButton::clicked, this, &TfrmMain::btnMakeJadDeleteClick);
  connect(&btnRenRename, &QPushButton::clicked, this, &TfrmMain::btnRenRenameClick);
  connect(&btnMakeJadMake, &QPushButton::clicked, this, &TfrmMain::btnMakeJadMakeClick);
  connect(&btnRenHelp, &QPushButton::clicked, this, &TfrmMain::btnRenHelpClick);
  connect(&btnMakeJadHelp, &QPushButton::clicked, this, &TfrmMain::btnMakeJadHelpClick);
  connect(&btnOptionsHelp, &QPushButton::clicked, this, &TfrmMain::btnOptionsHelpClick);
  connect(&TabCheck.btnCheckAdd, &QPushButton::clicked, this, [this] { TabCheck.AddPaths(ChooseJarFiles()); });
  connect(&TabCheck.btnCheckAddFolder, &QPushButton::clicked, this, [this] { TabCheck.AddPaths(ChooseJarFolder()); });
  connect(&TabCheck.btnCheckHelp, &QPushButton::clicked, this, &TfrmMain::btnCheckHelpClick);
  TabCheck.OpenInEditor = [this](const QString& path) { OpenInEditor(path); };
  TabCheck.OnStatus = [this](const QString& text) { SetStatus(0, text); };
  TabCheck.OnBusy = [this](bool busy) { CheckTabBusy(busy); };
  connect(&AddVersionCheckBox, &QCheckBox::clicked, this, &TfrmMain::AddVersionCheckBoxClick);
  connect(&TemplateEdit, &QLineEdit::textChanged, this, &TfrmMain::TemplateEditChange);
  connect(&TemplateEdit, &QLineEdit::editingFinished, this, &TfrmMain::TemplateEditExit);
  connect(&RenameCheckBox, &QCheckBox::clicked, this, &TfrmMain::RenameCheckBoxClick);
  connect(&MakeJadCheckBox, &QCheckBox::clicked, this, &TfrmMain::MakeJadCheckBoxClick);
  connect(&BackupCheckBox, &QCheckBox::clicked, this, &TfrmMain::BackupCheckBoxClick);
  connect(&AlwaysOnTopCheckBox, &QCheckBox::clicked, this, &TfrmMain::AlwaysOnTopCheckBoxClick);
  connect(&MenuIntegrONButton, &QPushButton::clicked, this, &TfrmMain::MenuIntegrONButtonClick);
  connect(&MenuIntegrOFFButton, &QPushButton::clicked, this, &TfrmMain::MenuIntegrOFFButtonClick);
  connect(&PageControl, &QTabWidget::currentChanged, this, [this](int index) {
    if (index == PageControl.indexOf(&TabOptions)) TabOptionsShow();
  });

  // The engine calls this once per chunk: long runs keep the window alive.
  suite_.UnJar.ProcessMessages = [this] { pump_(); };
  suite_.Jar.ProcessMessages = [this] { pump_(); };

  // The previews: rows describe themselves from what the workers read; the
  // lists are told of new results at most every 50 ms.
  RenameList.Items().SetResultTitle(QStringLiteral("New name"));
  MakeJadList.Items().SetResultTitle(QStringLiteral("JAD"));
  for (TCheckListBox* list : {&RenameList, &MakeJadList})
    list->Items().Describe = [this, list](int row) { return DescribeRow(*list, row); };
  RenameList.Items().OnChecksChanged = [this] { ScheduleRefresh(); };
  refreshTimer_.setSingleShot(true);
  refreshTimer_.setInterval(50);
  connect(&refreshTimer_, &QTimer::timeout, this, &TfrmMain::RefreshLists);
  optionsTimer_.setSingleShot(true);
  optionsTimer_.setInterval(150);  // typing a template works the names out once it pauses
  connect(&optionsTimer_, &QTimer::timeout, this, &TfrmMain::PreviewOptionsChanged);
  progressTimer_.setInterval(100);
  connect(&progressTimer_, &QTimer::timeout, this, &TfrmMain::ShowReadingProgress);
  reader_.IconSide = RenameList.IconSide();
  reader_.OnRead = [this](std::vector<TSuiteRead>& batch) { SuitesRead(batch); };
  reader_.SetOptions(PreviewOptions());

  editor_ = std::make_unique<TfrmManifestEditor>(suite_, Services, help_, this);
  about_ = std::make_unique<TfrmAbout>(Services, this);
}

TfrmMain::~TfrmMain() {
  // The pages leave the tab control one by one as the members go; no handler
  // may run for that.
  PageControl.blockSignals(true);
  FormDestroy();
  suite_.UnJar.ProcessMessages = nullptr;
  suite_.Jar.ProcessMessages = nullptr;
}

void TfrmMain::BuildListTab(QWidget& page, QGridLayout& layout, TCheckListBox& list, const ListButtons& buttons) {
  layout.addWidget(&list, 0, 0, 6, 1);
  layout.addWidget(&buttons.add, 0, 1);
  layout.addWidget(&buttons.addFolder, 1, 1);
  layout.addWidget(&buttons.del, 2, 1);
  layout.addWidget(&buttons.run, 3, 1);
  layout.setRowStretch(4, 1);
  layout.addWidget(&buttons.help, 5, 1);
  layout.setColumnStretch(0, 1);
  page.setLayout(&layout);

  // The pop-up menu of the list.
  const bool renameList = &list == &RenameList;
  const QString prefix = renameList ? QStringLiteral("Rename") : QStringLiteral("MakeJad");
  list.setContextMenuPolicy(Qt::ActionsContextMenu);
  struct Entry {
    const char* name;
    const char* caption;
    void (TfrmMain::*handler)();
  };
  const Entry entries[] = {
      {"SelectAll", "Select All", renameList ? &TfrmMain::RenameSelectAllClick : &TfrmMain::MakeJadSelectAllClick},
      {"SelectNone", "Select None",
       renameList ? &TfrmMain::RenameSelectNoneClick : &TfrmMain::MakeJadSelectNoneClick},
      {"InvertSelection", "Invert Selection",
       renameList ? &TfrmMain::RenameInvertSelectionClick : &TfrmMain::MakeJadInvertSelectionClick},
  };
  for (const Entry& entry : entries) {
    QAction* action = list.addAction(QLatin1String(entry.caption));
    action->setObjectName(prefix + QLatin1String(entry.name));
    SetHint(*action, QLatin1String(entry.caption));
    connect(action, &QAction::triggered, this, entry.handler);
  }
}

void TfrmMain::BuildOptionsTab() {
  renameGroupLayout_.addWidget(&AddVersionCheckBox, 0, 0, 1, 2);
  renameGroupLayout_.addWidget(&TemplateLabel, 1, 0);
  renameGroupLayout_.addWidget(&TemplateEdit, 1, 1);
  renameGroupLayout_.addWidget(&TemplatePreview, 2, 1);
  renameGroupLayout_.setColumnStretch(1, 1);
  TemplateEdit.setPlaceholderText(QStringLiteral("{MIDlet-Name} {MIDlet-Version}"));
  TemplatePreview.setTextInteractionFlags(Qt::TextSelectableByMouse);
  RenameGroupBox.setLayout(&renameGroupLayout_);

  editorGroupLayout_.addWidget(&RenameCheckBox, 0, 0);
  editorGroupLayout_.addWidget(&MakeJadCheckBox, 1, 0);
  editorGroupLayout_.addWidget(&BackupCheckBox, 2, 0);
  ManifestEditorGroupBox.setLayout(&editorGroupLayout_);

  otherGroupLayout_.addWidget(&AlwaysOnTopCheckBox, 0, 0, 1, 4);
  otherGroupLayout_.addWidget(&MenuIntegrLabel, 1, 0);
  otherGroupLayout_.addWidget(&MenuIntegrONButton, 1, 1);
  otherGroupLayout_.addWidget(&MenuIntegrOFFButton, 1, 2);
  otherGroupLayout_.setColumnStretch(3, 1);
  OtherGroupBox.setLayout(&otherGroupLayout_);

  // As designed, the boxes start checked, like the options before the
  // settings are read.
  for (QCheckBox* box : {&AddVersionCheckBox, &RenameCheckBox, &MakeJadCheckBox, &BackupCheckBox,
                         &AlwaysOnTopCheckBox})
    box->setChecked(true);

  optionsLayout_.addWidget(&RenameGroupBox, 0, 0, 1, 2);
  optionsLayout_.addWidget(&ManifestEditorGroupBox, 1, 0, 1, 2);
  optionsLayout_.addWidget(&OtherGroupBox, 2, 0, 1, 2);
  optionsLayout_.setRowStretch(3, 1);
  optionsLayout_.addWidget(&btnOptionsHelp, 4, 1);
  optionsLayout_.setColumnStretch(0, 1);
  TabOptions.setLayout(&optionsLayout_);
}

void TfrmMain::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("File1"));
  manifestEditorAction_ = file->addAction(QStringLiteral("Manifest Editor..."));
  manifestEditorAction_->setObjectName(QStringLiteral("ManifestEditor"));
  SetHint(*manifestEditorAction_, QStringLiteral("Manifest Editor..."));
  connect(manifestEditorAction_, &QAction::triggered, this, &TfrmMain::ManifestEditorClick);
  addFolderAction_ = file->addAction(QStringLiteral("Add Folder..."));
  addFolderAction_->setObjectName(QStringLiteral("AddFolder1"));
  SetHint(*addFolderAction_, QLatin1String(kAddFolderHint));
  connect(addFolderAction_, &QAction::triggered, this, &TfrmMain::AddFolder1Click);
  file->addSeparator();
  QAction* exit = file->addAction(QStringLiteral("Exit"));
  exit->setObjectName(QStringLiteral("Exit1"));
  exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
  SetHint(*exit, QStringLiteral("Exit"));
  connect(exit, &QAction::triggered, this, &TfrmMain::Exit1Click);

  QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
  helpMenu->setObjectName(QStringLiteral("Help1"));
  QAction* contents = helpMenu->addAction(QStringLiteral("Contents"));
  contents->setObjectName(QStringLiteral("Contents1"));
  contents->setShortcut(QKeySequence(Qt::Key_F1));
  SetHint(*contents, QStringLiteral("Contents"));
  connect(contents, &QAction::triggered, this, &TfrmMain::Contents1Click);
  aboutAction_ = helpMenu->addAction(QStringLiteral("About"));
  aboutAction_->setObjectName(QStringLiteral("About1"));
  SetHint(*aboutAction_, QStringLiteral("About"));
  connect(aboutAction_, &QAction::triggered, this, &TfrmMain::About1Click);
}

QString TfrmMain::StatusText(int panel) const { return panel == 0 ? panel0_.text() : panel1_.text(); }

void TfrmMain::SetStatus(int panel, const QString& text) { (panel == 0 ? panel0_ : panel1_).setText(text); }

QString TfrmMain::AddDialogDirectory() const {
  if (!lastAddDir_.isEmpty() && QFileInfo(lastAddDir_).isDir()) return lastAddDir_;
  return QDir::homePath();
}

void TfrmMain::FormCreate() {
  Services.Guard(this, [this] { LoadSettings(suite_.Options, SettingsPath); });
  ApplyStayOnTop(suite_.Options.AlwaysOnTop);
  setAcceptDrops(true);
  PreviewOptionsChanged();
}

void TfrmMain::FormShow() {
  // Nothing to prepare: the Add dialog works out its directory each time it
  // opens (AddDialogDirectory), and the lists keep their items while hidden.
}

bool TfrmMain::FormClose() {
  return Services.Guard(this, [this] { SaveSettings(suite_.Options, SettingsPath); });
}

void TfrmMain::FormDestroy() { setAcceptDrops(false); }

void TfrmMain::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  if (!e->spontaneous()) FormShow();
}

void TfrmMain::closeEvent(QCloseEvent* e) {
  if (closing_) {
    help_.CloseAll();
    e->accept();
    return;
  }
  e->ignore();
  if (busy_) {
    // Stop after the JAR being processed, then close.
    closeAfterBatch_ = true;
    btnStopClick();
    return;
  }
  if (fader_.Running()) return;
  if (!FormClose()) return;
  fader_.Start([this] {
    closing_ = true;
    QTimer::singleShot(0, this, [this] { close(); });
  });
}

bool TfrmMain::event(QEvent* e) {
  if (e->type() == QEvent::StatusTip) {
    DisplayHint(static_cast<QStatusTipEvent*>(e)->tip());
    return true;
  }
  return QMainWindow::event(e);
}

void TfrmMain::DisplayHint(const QString& hint) { SetStatus(1, LongHint(hint)); }

QStringList TfrmMain::ChooseJarFiles() {
  if (busy_) return {};
  const QStringList files =
      Services.Choose(this, TFileRequest{QStringLiteral("Add Files"), AddDialogDirectory(), kJarFilter, true});
  if (!files.isEmpty()) lastAddDir_ = QFileInfo(files.first()).absolutePath();
  return files;
}

QStringList TfrmMain::ChooseJarFolder() {
  if (busy_) return {};
  const QString folder = Services.Folder(this, QStringLiteral("Add Folder"), AddDialogDirectory());
  if (folder.isEmpty()) return {};
  lastAddDir_ = folder;
  return JarsBelow(folder);
}

void TfrmMain::AddFiles(TCheckListBox& list) { AddPaths(list, ChooseJarFiles()); }
void TfrmMain::AddFolder(TCheckListBox& list) { AddPaths(list, ChooseJarFolder()); }

QStringList TfrmMain::JarsBelow(const QString& folder) {
  // Links to folders are not followed: a link that leads back up would add
  // the same JARs again and again.
  QStringList jars;
  for (const std::string& jar : CollectJars({ToNativePath(folder)}, true).jars) jars << FromNativePath(jar);
  return jars;
}

void TfrmMain::AddPaths(TCheckListBox& list, const QStringList& paths) {
  if (paths.isEmpty()) return;
  list.Items().AddMany(paths);
  ReadSuites(paths);
  ShowReadingProgress();  // what was added is counted at once
  ScheduleRefresh();
}

TCheckListBox* TfrmMain::ActiveList() {
  const int tab = PageControl.currentIndex();
  if (tab == PageControl.indexOf(&TabRename)) return &RenameList;
  if (tab == PageControl.indexOf(&TabMakeJad)) return &MakeJadList;
  return nullptr;
}

void TfrmMain::DeleteChecked(TCheckListBox& list) {
  if (busy_) return;
  TCheckListModel& items = list.Items();
  for (int i = items.Count() - 1; i >= 0; --i)
    if (items.Checked(i)) items.Remove(i);
  ForgetUnlisted();
  ScheduleRefresh();
}

void TfrmMain::btnRenAddClick() { AddFiles(RenameList); }
void TfrmMain::btnMakeJadAddClick() { AddFiles(MakeJadList); }
void TfrmMain::btnRenAddFolderClick() { AddFolder(RenameList); }
void TfrmMain::btnMakeJadAddFolderClick() { AddFolder(MakeJadList); }

void TfrmMain::AddFolder1Click() {
  if (busy_) return;
  if (TCheckListBox* list = ActiveList())
    AddFolder(*list);
  else if (PageControl.currentWidget() == &TabCheck)
    TabCheck.AddPaths(ChooseJarFolder());
  else
    Services.Message(this, UserMessage{"Warning!", "Please select 'Rename' or 'Make JAD' tab!", MsgIcon::Warning});
}
void TfrmMain::btnRenDeleteClick() { DeleteChecked(RenameList); }
void TfrmMain::btnMakeJadDeleteClick() { DeleteChecked(MakeJadList); }
void TfrmMain::btnRenRenameClick() { RunBatch(RenameList, true); }
void TfrmMain::btnMakeJadMakeClick() { RunBatch(MakeJadList, false); }
void TfrmMain::RenameSelectAllClick() { RenameList.Items().CheckAll(true); }
void TfrmMain::MakeJadSelectAllClick() { MakeJadList.Items().CheckAll(true); }
void TfrmMain::RenameSelectNoneClick() { RenameList.Items().CheckAll(false); }
void TfrmMain::MakeJadSelectNoneClick() { MakeJadList.Items().CheckAll(false); }
void TfrmMain::RenameInvertSelectionClick() { RenameList.Items().InvertAll(); }
void TfrmMain::MakeJadInvertSelectionClick() { MakeJadList.Items().InvertAll(); }

void TfrmMain::SetBusy(bool busy) {
  busy_ = busy;
  if (busy) stopRequested_ = false;
  // The whole tab area (lists, buttons, options) and the commands that open
  // another window wait for the run; help stays available, and Stop is
  // offered.
  PageControl.setEnabled(!busy);
  manifestEditorAction_->setEnabled(!busy);
  addFolderAction_->setEnabled(!busy);
  aboutAction_->setEnabled(!busy);
  btnStop.setEnabled(busy);
  btnStop.setVisible(busy);
  stopShortcut_.setEnabled(busy);
}

// The Check tab runs its batches itself; the window locks the rest and
// offers Stop as for its own.
void TfrmMain::CheckTabBusy(bool busy) {
  if (busy == checkBusy_ || (busy && busy_)) return;
  checkBusy_ = busy;
  SetBusy(busy);
  if (!busy && std::exchange(closeAfterBatch_, false)) QTimer::singleShot(0, this, [this] { close(); });
}

void TfrmMain::btnStopClick() {
  if (!busy_) return;
  stopRequested_ = true;
  if (checkBusy_) TabCheck.Stop();
  btnStop.setEnabled(false);  // asked once; the run ends after the JAR in hand
}

void TfrmMain::RunBatch(TCheckListBox& list, bool rename) {
  if (busy_) return;
  TCheckListModel& items = list.Items();
  QString error;
  bool finished = true;
  std::vector<int> done;  // items processed before an error or a stop
  {
    BusyScope busy(*this);
    const int count = items.Count();
    int position = 0;  // of the last item processed, counted from 1
    for (int i = 0; i < count; ++i) {
      if (!items.Checked(i)) continue;
      try {
        const std::string path = ToNativePath(items.Path(i));
        if (rename)
          suite_.RenameByMIDletName(path);
        else
          suite_.MakeJAD(path);
      } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
        finished = false;
        break;
      }
      done.push_back(i);
      position = i + 1;
      SetStatus(0, QStringLiteral("Processed %1 of %2 files").arg(position).arg(count));
      pump_();
      if (stopRequested_) {
        finished = false;
        SetStatus(0, QStringLiteral("Stopped after %1 of %2 files").arg(position).arg(count));
        break;
      }
    }
  }
  if (rename) {
    if (finished) {
      btnRenDeleteClick();
    } else {
      // The JARs renamed before the run stopped have new names: their old
      // paths leave the list, so that running again starts where it stopped.
      for (auto it = done.rbegin(); it != done.rend(); ++it) items.Remove(*it);
      ForgetUnlisted();
    }
    // Names the run took or freed change what the other rows would get.
    RenameAgain();
  } else {
    // A new JAD replaced a signed one: read those JARs again.
    QStringList made;
    for (int i : done) made << items.Path(i);
    ForgetSuites(made);
    ReadSuites(made);
  }
  ScheduleRefresh();
  if (!error.isEmpty()) Services.ShowError(this, error);
  if (closeAfterBatch_) {
    closeAfterBatch_ = false;
    QTimer::singleShot(0, this, [this] { close(); });
  }
}

void TfrmMain::OpenInEditor(const QString& path) {
  if (busy_) return;
  suite_.ManifestJarFile = ToNativePath(path);
  Services.Exec(*editor_);
}

void TfrmMain::ManifestEditorClick() {
  if (busy_) return;
  const QString dir = !lastOpenDir_.isEmpty() && QFileInfo(lastOpenDir_).isDir() ? lastOpenDir_ : AddDialogDirectory();
  const QStringList files = Services.Choose(this, TFileRequest{QStringLiteral("Open"), dir, kJarFilter, false});
  if (files.isEmpty()) return;
  lastOpenDir_ = QFileInfo(files.first()).absolutePath();
  suite_.ManifestJarFile = ToNativePath(files.first());
  Services.Exec(*editor_);
}

void TfrmMain::Exit1Click() { close(); }
void TfrmMain::Contents1Click() { help_.ShowContents(); }

void TfrmMain::About1Click() {
  if (busy_) return;
  Services.Exec(*about_);
}

void TfrmMain::TabOptionsShow() {
  Services.Guard(this, [this] { LoadSettings(suite_.Options, SettingsPath); });
  // A box whose state changes counts as a click: its handler runs.
  struct Box {
    QCheckBox& box;
    bool option;
    void (TfrmMain::*handler)();
  };
  const TOptions& o = suite_.Options;
  const Box boxes[] = {
      {AddVersionCheckBox, o.AddVersion, &TfrmMain::AddVersionCheckBoxClick},
      {RenameCheckBox, o.RenameAfterSave, &TfrmMain::RenameCheckBoxClick},
      {MakeJadCheckBox, o.MakeJadAfterSave, &TfrmMain::MakeJadCheckBoxClick},
      {BackupCheckBox, o.CreateBackup, &TfrmMain::BackupCheckBoxClick},
      {AlwaysOnTopCheckBox, o.AlwaysOnTop, &TfrmMain::AlwaysOnTopCheckBoxClick},
  };
  for (const Box& b : boxes) {
    if (b.box.isChecked() == b.option) continue;
    b.box.setChecked(b.option);
    (this->*b.handler)();
  }
  TemplateEdit.setText(QString::fromStdString(o.Template));
  TemplateEditChange();
}

// The preview: what a sample suite would be named, or what is wrong with
// the template.
void TfrmMain::TemplateEditChange() {
  const std::string text = TemplateEdit.text().toStdString();
  try {
    TemplatePreview.setText(QStringLiteral("Example: ") +
                            QString::fromStdString(SampleNewName(text, AddVersionCheckBox.isChecked())));
    TemplatePreview.setStyleSheet({});
  } catch (const std::invalid_argument& e) {
    TemplatePreview.setText(QString::fromUtf8(e.what()));
    TemplatePreview.setStyleSheet(QStringLiteral("color: #b00020"));
  }
  optionsTimer_.start();
}

// A valid template is saved when the user leaves the field; a template that
// is not valid stays unsaved, its fault shown below it.
void TfrmMain::TemplateEditExit() {
  const std::string text = TemplateEdit.text().toStdString();
  if (text == suite_.Options.Template) return;
  try {
    if (!text.empty()) TNameTemplate check(text);
  } catch (const std::invalid_argument&) {
    return;
  }
  Services.Guard(this, [this, &text] {
    suite_.Options.Template = text;
    SaveSettings(suite_.Options, SettingsPath);
  });
}

void TfrmMain::SaveOption(bool& option, const QCheckBox& box) {
  option = box.isChecked();
  SaveSettings(suite_.Options, SettingsPath);
}

void TfrmMain::AddVersionCheckBoxClick() {
  Services.Guard(this, [this] { SaveOption(suite_.Options.AddVersion, AddVersionCheckBox); });
  TemplateEditChange();
  PreviewOptionsChanged();
}
void TfrmMain::RenameCheckBoxClick() {
  Services.Guard(this, [this] { SaveOption(suite_.Options.RenameAfterSave, RenameCheckBox); });
}
void TfrmMain::MakeJadCheckBoxClick() {
  Services.Guard(this, [this] { SaveOption(suite_.Options.MakeJadAfterSave, MakeJadCheckBox); });
}
void TfrmMain::BackupCheckBoxClick() {
  Services.Guard(this, [this] { SaveOption(suite_.Options.CreateBackup, BackupCheckBox); });
}
void TfrmMain::AlwaysOnTopCheckBoxClick() {
  Services.Guard(this, [this] {
    SaveOption(suite_.Options.AlwaysOnTop, AlwaysOnTopCheckBox);
    ApplyStayOnTop(suite_.Options.AlwaysOnTop);
  });
}

void TfrmMain::ApplyStayOnTop(bool on) {
  if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) return;
  // Changing a window flag hides a visible window; show it again at once.
  const bool visible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, on);
  if (visible) show();
}

void TfrmMain::MenuIntegrONButtonClick() {
  Services.Guard(this, [] { SetContextMenuIntegration(true); });
}
void TfrmMain::MenuIntegrOFFButtonClick() {
  Services.Guard(this, [] { SetContextMenuIntegration(false); });
}

void TfrmMain::btnRenHelpClick() { help_.ShowTopic(QStringLiteral("rename")); }
void TfrmMain::btnMakeJadHelpClick() { help_.ShowTopic(QStringLiteral("makejad")); }
void TfrmMain::btnOptionsHelpClick() { help_.ShowTopic(QStringLiteral("options")); }
void TfrmMain::btnCheckHelpClick() { help_.ShowTopic(QStringLiteral("check")); }

void TfrmMain::WMDropFiles(const QStringList& paths) {
  if (busy_) return;
  TCheckListBox* list = ActiveList();
  const bool check = PageControl.currentWidget() == &TabCheck;
  if (!list && !check) {
    Services.Message(this, UserMessage{"Warning!", "Please select 'Rename' or 'Make JAD' tab!", MsgIcon::Warning});
    return;
  }
  QStringList jars;
  for (const QString& path : paths) {
    // A folder is never a JAR, even when its name ends in ".jar": the JARs
    // below it are added instead.
    if (QFileInfo(path).isDir())
      jars << JarsBelow(path);
    else if (DropExtension(path) == QLatin1String(".jar"))
      jars << path;
  }
  if (check)
    TabCheck.AddPaths(jars);
  else
    AddPaths(*list, jars);
}

void TfrmMain::OpenFiles(const QStringList& paths) {
  if (paths.isEmpty()) return;
  PageControl.setCurrentWidget(&TabRename);
  WMDropFiles(paths);
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* e) {
  if (!busy_ && e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void TfrmMain::dragMoveEvent(QDragMoveEvent* e) {
  if (!busy_ && e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* e) {
  QStringList paths;
  for (const QUrl& url : e->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  e->acceptProposedAction();
  // Handled once the drop is over: the file manager is not kept waiting while
  // a warning box is open.
  QTimer::singleShot(0, this, [this, paths] { WMDropFiles(paths); });
}

}  // namespace parcelix
