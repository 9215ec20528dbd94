// The main window: its controls, the two lists, the batch runs on real JARs, drops, options and closing.
#include <memory>

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>

#include "app/gui/AboutUnit.h"
#include "app/gui/HelpViewer.h"
#include "app/gui/ManifestEditorUnit.h"
#include "app/gui/mainUnit.h"
#include "app/shell/ContextMenu.h"
#include "gui_Support.h"
#include "gui_WindowFixture.h"

namespace parcelix::test {
namespace {

std::string Manifest(const std::string& name, const std::string& version) {
  return "Manifest-Version: 1.0\r\nMIDlet-Name: " + name + "\r\nMIDlet-Version: " + version +
         "\r\nMIDlet-Vendor: Example\r\n\r\n";
}

class MainWindowTest : public WindowFixture {
 protected:
  void SetUp() override { OpenWindow(); }

  TCheckListModel& Renames() { return window->RenameListBox().Items(); }
  TCheckListModel& Jads() { return window->MakeJadListBox().Items(); }
  QStringList Paths(const TCheckListModel& m) const {
    QStringList out;
    for (int i = 0; i < m.Count(); ++i) out << QFileInfo(m.Path(i)).fileName();
    return out;
  }
  std::vector<int> Checks(const TCheckListModel& m) const {
    std::vector<int> out;
    for (int i = 0; i < m.Count(); ++i) out.push_back(m.Checked(i) ? 1 : 0);
    return out;
  }
  template <class T>
  T* Find(const char* name) {
    T* found = window->findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  // Makes JARs named name1.jar.. in dir and adds them through the Add dialog.
  QStringList AddJars(TCheckListModel& list, const std::vector<std::pair<QString, std::string>>& jars) {
    std::vector<JarSpec> specs;
    QStringList paths;
    for (const auto& [file, manifest] : jars) {
      paths << P(file);
      specs.push_back(manifest.empty() ? JarSpec{P(file), {{"readme.txt", "no manifest here"}}}
                                       : MidletJar(P(file), manifest));
    }
    MakeJars(specs);
    rec.nextFiles = paths;
    if (&list == &Renames())
      window->btnRenAddClick();
    else
      window->btnMakeJadAddClick();
    return paths;
  }
};

// ---- The window as designed ----

TEST_F(MainWindowTest, WindowCaptionSizeAndTabs) {
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Parcelix v.1.1"));
  EXPECT_EQ(window->minimumSize(), QSize(553, 444));
  EXPECT_EQ(window->size(), QSize(553, 444));
  QTabWidget& tabs = window->Pages();
  ASSERT_EQ(tabs.count(), 4);
  EXPECT_EQ(tabs.currentWidget()->objectName(), QStringLiteral("TabRename"));
  EXPECT_EQ(tabs.tabText(0), QStringLiteral(" Rename "));
  EXPECT_EQ(tabs.tabText(1), QStringLiteral(" Make JAD "));
  EXPECT_EQ(tabs.tabText(2), QStringLiteral(" Options "));
  EXPECT_EQ(tabs.widget(1)->objectName(), QStringLiteral("TabMakeJad"));
  EXPECT_EQ(tabs.widget(2)->objectName(), QStringLiteral("TabOptions"));
  EXPECT_EQ(tabs.tabText(3), QStringLiteral(" Check "));
  EXPECT_EQ(tabs.widget(3)->objectName(), QStringLiteral("TabCheck"));
}

struct ControlCase {
  const char* name;
  const char* caption;
  const char* hint;
};

TEST_F(MainWindowTest, ControlsCarryTheirCaptionsAndHints) {
  const ControlCase buttons[] = {
      {"btnRenAdd", "Add", "Add files to list"},
      {"btnMakeJadAdd", "Add", "Add files to list"},
      {"btnRenDelete", "Delete", "Delete files from list"},
      {"btnMakeJadDelete", "Delete", "Delete files from list"},
      {"btnRenRename", "Rename", "Start process"},
      {"btnMakeJadMake", "Make JAD", "Start process"},
      {"btnRenHelp", "Help", "Help"},
      {"btnMakeJadHelp", "Help", "Help"},
      {"btnOptionsHelp", "Help", "Help"},
      {"AddVersionCheckBox", "Add version number (to avoid same MIDlet-Name conflict)", "Add version number"},
      {"RenameCheckBox", "Rename after save", "Rename after save"},
      {"MakeJadCheckBox", "Make JAD after save", "Make JAD after save"},
      {"BackupCheckBox", "Create backup", "Create backup"},
      {"AlwaysOnTopCheckBox", "Always on Top", "Always on Top"},
      {"MenuIntegrONButton", "ON", "Context menu integration: ON"},
      {"MenuIntegrOFFButton", "OFF", "Context menu integration: OFF"},
  };
  for (const ControlCase& c : buttons) {
    auto* b = Find<QAbstractButton>(c.name);
    if (!b) continue;
    EXPECT_EQ(b->text(), QString::fromUtf8(c.caption)) << c.name;
    EXPECT_EQ(b->toolTip(), QString::fromUtf8(c.hint)) << c.name;
    EXPECT_EQ(b->statusTip(), QString::fromUtf8(c.hint)) << c.name;
  }
  EXPECT_EQ(Find<QAction>("Exit1")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_X));
  EXPECT_EQ(Find<QAction>("Contents1")->shortcut(), QKeySequence(Qt::Key_F1));
}

TEST_F(MainWindowTest, HoveredControlsLongHintGoesToPanelOne) {
  // Qt sends a status-tip event to the control under the mouse; it travels up
  // to the window.
  QStatusTipEvent tip(Find<QAbstractButton>("btnRenAdd")->statusTip());
  QApplication::sendEvent(Find<QAbstractButton>("btnRenAdd"), &tip);
  EXPECT_EQ(window->StatusText(1), QStringLiteral("Add files to list"));
  window->DisplayHint(QStringLiteral("Short|The long part"));
  EXPECT_EQ(window->StatusText(1), QStringLiteral("The long part"));
  window->DisplayHint(QString());
  EXPECT_EQ(window->StatusText(1), QString());
}

// ---- The lists ----

TEST_F(MainWindowTest, AddKeepsTheListSortedAndUncheckedWithDuplicates) {
  rec.nextFiles = {P("b.jar"), P("A.jar"), P("c.jar")};
  window->btnRenAddClick();
  rec.nextFiles = {P("b.jar")};
  window->btnRenAddClick();
  EXPECT_EQ(Paths(Renames()), (QStringList{"A.jar", "b.jar", "b.jar", "c.jar"}));
  EXPECT_EQ(Checks(Renames()), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(Jads().Count(), 0);

  ASSERT_EQ(rec.requests.size(), 2u);
  const TFileRequest& first = rec.requests[0];
  EXPECT_EQ(first.title, QStringLiteral("Add Files"));
  EXPECT_TRUE(first.multiple);
  EXPECT_TRUE(first.filter.startsWith(QStringLiteral("Java ARhives (*.jar)")));
  EXPECT_TRUE(first.filter.contains(QStringLiteral("All Files (*)")));
  EXPECT_EQ(first.directory, QDir::homePath());
  // The next dialog opens where files were last added from.
  EXPECT_EQ(QDir(rec.requests[1].directory), QDir(dir.path()));

  rec.nextFiles = {};  // cancelled
  window->btnMakeJadAddClick();
  EXPECT_EQ(Jads().Count(), 0);
}

struct SelectionCase {
  const char* name;
  std::vector<int> before;
  const char* action;  // an object name of a pop-up item, or "Delete"
  std::vector<int> after;
  QStringList remaining;
};

TEST_F(MainWindowTest, SelectionCommandsAndDelete) {
  const SelectionCase cases[] = {
      {"invert with none checked checks all", {0, 0, 0}, "InvertSelection", {1, 1, 1}, {"a.jar", "b.jar", "c.jar"}},
      {"invert flips each", {1, 0, 1}, "InvertSelection", {0, 1, 0}, {"a.jar", "b.jar", "c.jar"}},
      {"select all", {0, 1, 0}, "SelectAll", {1, 1, 1}, {"a.jar", "b.jar", "c.jar"}},
      {"select none", {1, 1, 0}, "SelectNone", {0, 0, 0}, {"a.jar", "b.jar", "c.jar"}},
      {"delete removes checked only", {1, 0, 1}, "Delete", {0}, {"b.jar"}},
      {"delete with none checked", {0, 0, 0}, "Delete", {0, 0, 0}, {"a.jar", "b.jar", "c.jar"}},
      {"delete all", {1, 1, 1}, "Delete", {}, {}},
  };
  for (const bool renameList : {true, false}) {
    for (const SelectionCase& c : cases) {
      TCheckListModel& list = renameList ? Renames() : Jads();
      while (list.Count() > 0) list.Remove(0);
      for (const char* f : {"c.jar", "a.jar", "b.jar"}) list.Add(P(QLatin1String(f)));
      for (size_t i = 0; i < c.before.size(); ++i) list.SetChecked(static_cast<int>(i), c.before[i] != 0);
      const QString prefix = renameList ? QStringLiteral("Rename") : QStringLiteral("MakeJad");
      if (QLatin1String(c.action) == QLatin1String("Delete")) {
        Find<QAbstractButton>(renameList ? "btnRenDelete" : "btnMakeJadDelete")->click();
      } else {
        auto* action = window->findChild<QAction*>(prefix + QLatin1String(c.action));
        ASSERT_NE(action, nullptr);
        action->trigger();
      }
      EXPECT_EQ(Checks(list), c.after) << c.name << (renameList ? " (Rename)" : " (Make JAD)");
      EXPECT_EQ(Paths(list), c.remaining) << c.name;
    }
  }
}

// ---- Batch runs on real JARs ----

TEST_F(MainWindowTest, RenameBatchRunsCheckedItemsAndCountsByPosition) {
  AddJars(Renames(), {{"j1.jar", Manifest("Alpha", "1.0")},
                      {"j2.jar", Manifest("Bravo", "1.1")},
                      {"j3.jar", Manifest("Charlie", "1.2")},
                      {"j4.jar", Manifest("Delta: Reloaded", "2.0")},
                      {"j5.jar", Manifest("Echo", "1.4")}});
  Renames().SetChecked(1, true);
  Renames().SetChecked(3, true);
  Find<QAbstractButton>("btnRenRename")->click();

  EXPECT_TRUE(rec.messages.empty());
  EXPECT_EQ(window->StatusText(0), QStringLiteral("Processed 4 of 5 files"));
  EXPECT_EQ(DirEntries(dir.path()),
            (QStringList{"Bravo 1.1.jar", "Delta_ Reloaded 2.0.jar", "j1.jar", "j3.jar", "j5.jar"}));
  // The renamed items leave the list; the new names are not added.
  EXPECT_EQ(Paths(Renames()), (QStringList{"j1.jar", "j3.jar", "j5.jar"}));
  EXPECT_EQ(Checks(Renames()), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(window->Pages().isEnabled());
}

TEST_F(MainWindowTest, JadBatchWritesJadsAndKeepsTheList) {
  AddJars(Jads(), {{"k1.jar", Manifest("Alpha", "1.0")},
                   {"k2.jar", Manifest("Bravo", "1.1")},
                   {"k3.jar", Manifest("Charlie", "1.2")}});
  Jads().SetChecked(0, true);
  Jads().SetChecked(2, true);
  Find<QAbstractButton>("btnMakeJadMake")->click();

  EXPECT_TRUE(rec.messages.empty());
  EXPECT_EQ(window->StatusText(0), QStringLiteral("Processed 3 of 3 files"));
  EXPECT_EQ(DirEntries(dir.path()), (QStringList{"k1.jad", "k1.jar", "k2.jar", "k3.jad", "k3.jar"}));
  const std::string jad = ReadFile(P("k3.jad"));
  EXPECT_NE(jad.find("MIDlet-Name: Charlie\r\n"), std::string::npos) << jad;
  EXPECT_NE(jad.find("MIDlet-Jar-Size: " + std::to_string(QFileInfo(P("k3.jar")).size()) + "\r\n"),
            std::string::npos)
      << jad;
  EXPECT_NE(jad.find("MIDlet-Jar-URL: k3.jar\r\n"), std::string::npos) << jad;
  EXPECT_EQ(Checks(Jads()), (std::vector<int>{1, 0, 1}));
}

TEST_F(MainWindowTest, AnErrorInTheMiddleEndsTheBatchWithAMessage) {
  AddJars(Renames(), {{"a_ok.jar", Manifest("First", "1.0")},
                      {"b_bad.jar", ""},
                      {"c_ok.jar", Manifest("Third", "1.0")}});
  window->RenameSelectAllClick();
  window->btnRenRenameClick();

  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_EQ(rec.messages[0].icon, MsgIcon::Error);
  EXPECT_FALSE(rec.messages[0].text.empty());
  EXPECT_EQ(window->StatusText(0), QStringLiteral("Processed 1 of 3 files"));
  // Later items were not processed.
  EXPECT_EQ(DirEntries(dir.path()), (QStringList{"First 1.0.jar", "b_bad.jar", "c_ok.jar"}));
  // The JAR renamed before the error has left the list, so running again
  // does not trip over its old name; the rest stay checked.
  EXPECT_EQ(Paths(Renames()), (QStringList{"b_bad.jar", "c_ok.jar"}));
  EXPECT_EQ(Checks(Renames()), (std::vector<int>{1, 1}));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // The same for JADs: nothing after the bad JAR is written.
  rec.messages.clear();
  AddJars(Jads(), {{"b_bad.jar", ""}, {"c_ok.jar", Manifest("Third", "1.0")}});
  window->MakeJadSelectAllClick();
  window->btnMakeJadMakeClick();
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_FALSE(QFileInfo::exists(P("c_ok.jad")));
}

TEST_F(MainWindowTest, BatchStaysResponsiveAndCannotBeStartedTwice) {
  std::vector<std::pair<QString, std::string>> jars;
  for (int i = 0; i < 120; ++i)
    jars.push_back({QStringLiteral("m%1.jar").arg(i, 3, 10, QLatin1Char('0')), Manifest("Game", std::to_string(i))});
  AddJars(Renames(), jars);
  window->RenameSelectAllClick();
  window->Pump().IntervalMs = 0;

  int ticks = 0;
  bool sawEnabled = false;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    ++ticks;
    sawEnabled |= Find<QAbstractButton>("btnRenRename")->isEnabled() || window->Pages().isEnabled();
    window->btnRenRenameClick();  // a second start while running is ignored
    window->WMDropFiles({P("m000.jar")});
  });
  timer.start(0);
  window->btnRenRenameClick();
  timer.stop();

  EXPECT_GT(ticks, 0) << "no events were processed during the batch";
  EXPECT_FALSE(sawEnabled);
  EXPECT_TRUE(rec.messages.empty());
  EXPECT_EQ(Renames().Count(), 0);
  EXPECT_EQ(DirEntries(dir.path()).size(), 120);
  EXPECT_TRUE(QFileInfo::exists(P("Game 119.jar")));
  EXPECT_TRUE(window->Pages().isEnabled());
}

TEST_F(MainWindowTest, ClosingDuringABatchStopsItThenCloses) {
  std::vector<std::pair<QString, std::string>> jars;
  for (int i = 0; i < 40; ++i)
    jars.push_back({QStringLiteral("n%1.jar").arg(i, 2, 10, QLatin1Char('0')), Manifest("Run", std::to_string(i))});
  AddJars(Renames(), jars);
  window->RenameSelectAllClick();
  window->Pump().IntervalMs = 0;
  QTimer::singleShot(0, window.get(), [this] { window->close(); });
  window->btnRenRenameClick();

  const int left = Renames().Count();
  EXPECT_GT(left, 0);
  EXPECT_LT(left, 40);
  // Exactly the JARs still in the list keep their names.
  int oldNames = 0;
  for (const QString& f : DirEntries(dir.path())) oldNames += f.startsWith(QLatin1Char('n')) ? 1 : 0;
  EXPECT_EQ(oldNames, left);
  EXPECT_TRUE(QTest::qWaitFor([this] { return !window->isVisible(); }, 5000));
}

// ---- Stop, and what the status bar says ----

enum class StopBy { button, escape };
struct StopCase {
  bool rename;
  StopBy by;
};

class BatchStopTest : public MainWindowTest, public ::testing::WithParamInterface<StopCase> {};

// Stop is asked while panel 0 says the k-th JAR is done: the run ends after
// that JAR, or after the next when the ask came while the engine worked on it.
TEST_P(BatchStopTest, EndsAfterTheJarInHandAndLeavesEveryFileDoneOrUntouched) {
  const StopCase c = GetParam();
  constexpr int kJars = 30, kAskAt = 4;
  TCheckListModel& list = c.rename ? Renames() : Jads();
  std::vector<std::pair<QString, std::string>> jars;
  for (int i = 0; i < kJars; ++i)
    jars.push_back({QStringLiteral("s%1.jar").arg(i, 2, 10, QLatin1Char('0')), Manifest("Stop", std::to_string(i))});
  AddJars(list, jars);
  list.CheckAll(true);
  window->Pages().setCurrentIndex(c.rename ? 0 : 1);
  window->Pump().IntervalMs = 0;
  QApplication::setActiveWindow(window.get());
  QPushButton& stop = window->StopButton();
  EXPECT_FALSE(stop.isVisible());

  bool asked = false, shown = true;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    shown &= stop.isVisible() && stop.isEnabled();
    if (asked || window->StatusText(0) != QStringLiteral("Processed %1 of %2 files").arg(kAskAt).arg(kJars)) return;
    asked = true;
    if (c.by == StopBy::button)
      stop.click();
    else
      QTest::keyClick(window.get(), Qt::Key_Escape);
  });
  timer.start(0);
  c.rename ? window->btnRenRenameClick() : window->btnMakeJadMakeClick();
  timer.stop();

  ASSERT_TRUE(asked);
  EXPECT_TRUE(shown) << "Stop is offered throughout the run";
  EXPECT_FALSE(stop.isVisible());
  EXPECT_TRUE(window->Pages().isEnabled());
  EXPECT_TRUE(rec.messages.empty());
  const QString said = window->StatusText(0);
  const int done = said.section(QLatin1Char(' '), 2, 2).toInt();
  EXPECT_EQ(said, QStringLiteral("Stopped after %1 of %2 files").arg(done).arg(kJars));
  ASSERT_TRUE(done == kAskAt || done == kAskAt + 1) << said.toStdString();

  // The first `done` JARs were processed, the rest untouched; no file is half
  // written or left behind.
  QStringList expected, listed;
  for (int i = 0; i < kJars; ++i) {
    const QString old = QStringLiteral("s%1").arg(i, 2, 10, QLatin1Char('0'));
    if (c.rename) {
      expected << (i < done ? QStringLiteral("Stop %1.jar").arg(i) : old + ".jar");
    } else {
      expected << old + ".jar";
      if (i < done) expected << old + ".jad";
    }
    if (!c.rename || i >= done) listed << old + ".jar";
  }
  expected.sort();
  EXPECT_EQ(DirEntries(dir.path()), expected);
  // The list holds what is left to do, still checked: running again goes on.
  EXPECT_EQ(Paths(list), listed);
  EXPECT_EQ(list.CheckedCount(), list.Count());
  if (c.rename) {
    const QString last = P(QStringLiteral("Stop %1.jar").arg(done - 1));
    EXPECT_NE(ReadMember(last, "META-INF/MANIFEST.MF").find("MIDlet-Version: " + std::to_string(done - 1)),
              std::string::npos);
    EXPECT_EQ(UnzipTest(last), 0);
  } else {
    const std::string jad = ReadFile(P(QStringLiteral("s%1.jad").arg(done - 1, 2, 10, QLatin1Char('0'))));
    EXPECT_NE(jad.find("MIDlet-Version: " + std::to_string(done - 1) + "\r\n"), std::string::npos) << jad;
  }
}

INSTANTIATE_TEST_SUITE_P(RenameAndJad, BatchStopTest,
                         ::testing::Values(StopCase{true, StopBy::button}, StopCase{true, StopBy::escape},
                                           StopCase{false, StopBy::button}, StopCase{false, StopBy::escape}),
                         [](const ::testing::TestParamInfo<StopCase>& info) {
                           return std::string(info.param.rename ? "Rename" : "MakeJad") +
                                  (info.param.by == StopBy::button ? "ByButton" : "ByEscape");
                         });

TEST_F(MainWindowTest, ReadingProgressTakesPanelZeroAndGivesItBack) {
  AddJars(Jads(), {{"r1.jar", Manifest("One", "1")}, {"r2.jar", Manifest("Two", "1")}, {"r3.jar", ""}});
  EXPECT_EQ(window->StatusText(0), QStringLiteral("Reading 0 of 3 JARs"));
  ASSERT_TRUE(QTest::qWaitFor([this] { return window->PreviewsReady(); }, 20000));
  EXPECT_EQ(window->StatusText(0), QString());

  // What a batch said comes back once a later read is over.
  Jads().SetChecked(0, true);
  window->btnMakeJadMakeClick();
  EXPECT_EQ(window->StatusText(0), QStringLiteral("Processed 1 of 3 files"));
  ASSERT_TRUE(QTest::qWaitFor([this] { return window->PreviewsReady(); }, 20000));  // the new JAD read again
  EXPECT_EQ(window->StatusText(0), QStringLiteral("Processed 1 of 3 files"));
  AddJars(Renames(), {{"r4.jar", Manifest("Four", "1")}, {"r5.jar", Manifest("Five", "1")}});
  EXPECT_EQ(window->StatusText(0), QStringLiteral("Reading 0 of 2 JARs"));
  ASSERT_TRUE(QTest::qWaitFor([this] { return window->PreviewsReady(); }, 20000));
  EXPECT_EQ(window->StatusText(0), QStringLiteral("Processed 1 of 3 files"));
}

// The Check tab runs its own batches: the window shows its words, locks the
// rest while it runs, and its Stop and closing reach the tab.
TEST_F(MainWindowTest, CheckTabTalksThroughTheStatusBar) {
  TCheckTab& tab = window->CheckTab();
  ASSERT_TRUE(tab.OnStatus && tab.OnBusy);
  QPushButton& stop = window->StopButton();
  tab.OnStatus(QStringLiteral("Checking 3 of 9 JARs"));
  EXPECT_EQ(window->StatusText(0), QStringLiteral("Checking 3 of 9 JARs"));

  tab.OnBusy(true);
  EXPECT_TRUE(stop.isVisible());
  EXPECT_TRUE(stop.isEnabled());
  EXPECT_TRUE(window->Busy());
  EXPECT_FALSE(window->Pages().isEnabled());
  stop.click();
  EXPECT_FALSE(stop.isEnabled()) << "asked once";
  tab.OnBusy(false);
  EXPECT_FALSE(stop.isVisible());
  EXPECT_FALSE(window->Busy());
  EXPECT_TRUE(window->Pages().isEnabled());
  tab.OnStatus(QString());
  EXPECT_EQ(window->StatusText(0), QString());

  // Closed while the tab works: the window waits for it, then closes.
  tab.OnBusy(true);
  window->close();
  QTest::qWait(50);
  EXPECT_TRUE(window->isVisible());
  tab.OnBusy(false);
  EXPECT_TRUE(QTest::qWaitFor([this] { return !window->isVisible(); }, 5000));
}

// ---- Dropped files ----

TEST_F(MainWindowTest, DropsAddOnlyJarFilesToTheActiveTabsList) {
  QDir(dir.path()).mkpath(QStringLiteral("folder"));
  QDir(dir.path()).mkpath(QStringLiteral("folder.jar"));
  for (const char* f : {"X.JAR", "notes.txt", "Y.jar ", "jar", "Z.jar.txt"}) WriteFile(P(QLatin1String(f)), "x");
  const QStringList dropped = {P("X.JAR"), P("notes.txt"), P("folder"), P("folder.jar"),
                               P("Y.jar "), P("jar"),      P("Z.jar.txt")};
  struct DropCase {
    int tab;
    QStringList renames;
    QStringList jads;
    bool warning;
  };
  const DropCase cases[] = {
      {0, {"X.JAR", "Y.jar "}, {}, false},
      {1, {"X.JAR", "Y.jar "}, {"X.JAR", "Y.jar "}, false},
      {2, {"X.JAR", "Y.jar "}, {"X.JAR", "Y.jar "}, true},
  };
  for (const DropCase& c : cases) {
    rec.messages.clear();
    window->Pages().setCurrentIndex(c.tab);
    window->WMDropFiles(dropped);
    EXPECT_EQ(Paths(Renames()), c.renames) << "tab " << c.tab;
    EXPECT_EQ(Paths(Jads()), c.jads) << "tab " << c.tab;
    ASSERT_EQ(rec.messages.size(), c.warning ? 1u : 0u) << "tab " << c.tab;
    if (c.warning) {
      EXPECT_EQ(rec.messages[0].title, "Warning!");
      EXPECT_EQ(rec.messages[0].text, "Please select 'Rename' or 'Make JAD' tab!");
      EXPECT_EQ(rec.messages[0].icon, MsgIcon::Warning);
    }
  }
}

TEST_F(MainWindowTest, FilesTheWindowIsOpenedWithGoToTheRenameList) {
  WriteFile(P("Game.jar"), "x");
  WriteFile(P("readme.txt"), "x");
  window->Pages().setCurrentIndex(2);  // whatever tab was shown last
  window->OpenFiles({P("Game.jar"), P("readme.txt")});
  EXPECT_EQ(window->Pages().currentIndex(), 0);
  EXPECT_EQ(Paths(Renames()), QStringList{"Game.jar"});
  EXPECT_TRUE(rec.messages.empty());
}

TEST_F(MainWindowTest, ARealDropEventReachesTheList) {
  WriteFile(P("Game.jar"), "x");
  WriteFile(P("readme.txt"), "x");
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(P("Game.jar")), QUrl::fromLocalFile(P("readme.txt")),
                QUrl(QStringLiteral("https://example.org/remote.jar"))});
  window->Pages().setCurrentIndex(1);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window.get(), &drop);
  EXPECT_TRUE(QTest::qWaitFor([this] { return Jads().Count() > 0; }, 2000));
  EXPECT_EQ(Paths(Jads()), QStringList{"Game.jar"});
  EXPECT_EQ(Renames().Count(), 0);
}

// ---- Options and settings ----

std::string Ini(bool addVersion, bool renameAfter, bool jadAfter, bool backup, bool onTop) {
  auto v = [](bool b) { return b ? "1" : "0"; };
  return std::string("[Rename]\nAddVersion=") + v(addVersion) + "\n[ManifestEditor]\nRenameAfterSave=" +
         v(renameAfter) + "\nMakeJadAfterSave=" + v(jadAfter) + "\nCreateBackup=" + v(backup) +
         "\n[Other]\nAlwaysOnTop=" + v(onTop) + "\n";
}

TEST_F(MainWindowTest, OptionsRoundTripThroughTheSettingsFile) {
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));  // no file: all on
  window->Pages().setCurrentIndex(2);
  const char* boxes[] = {"AddVersionCheckBox", "RenameCheckBox", "MakeJadCheckBox", "BackupCheckBox",
                         "AlwaysOnTopCheckBox"};
  for (const char* b : boxes) EXPECT_TRUE(Find<QAbstractButton>(b)->isChecked()) << b;
  EXPECT_FALSE(QFileInfo::exists(env.SettingsFile()));

  // One click writes all five keys.
  Find<QAbstractButton>("AddVersionCheckBox")->click();
  EXPECT_FALSE(window->Suite().Options.AddVersion);
  const std::string text = ReadFile(env.SettingsFile());
  for (const char* line : {"AddVersion=0", "RenameAfterSave=1", "MakeJadAfterSave=1", "CreateBackup=1",
                           "AlwaysOnTop=1"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;

  // Changed behind the window's back: showing the tab reads the file again.
  WriteFile(env.SettingsFile(), Ini(true, false, true, false, false));
  window->Pages().setCurrentIndex(0);
  window->Pages().setCurrentIndex(2);
  const bool expected[] = {true, false, true, false, false};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(Find<QAbstractButton>(boxes[i])->isChecked(), expected[i]) << boxes[i];
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(rec.messages.empty());
}

TEST_F(MainWindowTest, AlwaysOnTopSwitchesTheWindowAtOnce) {
  window->Pages().setCurrentIndex(2);
  auto* box = Find<QAbstractButton>("AlwaysOnTopCheckBox");
  box->click();
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window->isVisible());
  EXPECT_NE(ReadFile(env.SettingsFile()).find("AlwaysOnTop=0"), std::string::npos);
  box->click();
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window->isVisible());
}

// The template field previews the name of a sample suite, shows what is
// wrong with a template, and saves only a valid one when the user leaves it.
TEST_F(MainWindowTest, TemplatePreviewAndSave) {
  window->Pages().setCurrentIndex(2);
  auto* edit = Find<QLineEdit>("TemplateEdit");
  auto* preview = Find<QLabel>("TemplatePreview");
  EXPECT_EQ(preview->text(), QStringLiteral("Example: Игра Змейка 1.0.2.jar"));
  edit->setText(QStringLiteral("{MIDlet-Vendor}/{MIDlet-Name}"));
  EXPECT_EQ(preview->text(), QStringLiteral("Example: Мобильные игры/Игра Змейка.jar"));
  edit->setText(QStringLiteral("{MIDlet-Icon}"));
  EXPECT_EQ(preview->text(), QStringLiteral("Example: (no MIDlet-Icon)"));
  edit->setText(QStringLiteral("{MIDlet-Vendor/x"));
  EXPECT_TRUE(preview->text().contains(QStringLiteral("unbalanced"))) << preview->text().toStdString();
  emit edit->editingFinished();
  EXPECT_TRUE(window->Suite().Options.Template.empty());
  edit->setText(QStringLiteral("{MIDlet-Vendor} - {MIDlet-Name}"));
  emit edit->editingFinished();
  EXPECT_EQ(window->Suite().Options.Template, "{MIDlet-Vendor} - {MIDlet-Name}");
  EXPECT_NE(ReadFile(env.SettingsFile()).find("Template={MIDlet-Vendor} - {MIDlet-Name}"), std::string::npos);
  EXPECT_TRUE(rec.messages.empty());
}

TEST_F(MainWindowTest, StartsInNormalStyleWhenTheFileSaysSo) {
  window.reset();
  WriteFile(env.SettingsFile(), "[Other]\nAlwaysOnTop=0\n");
  OpenWindow();
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window->Suite().Options.AddVersion);
}

TEST_F(MainWindowTest, UnwritableSettingsAreReportedAndKeepTheWindowOpen) {
  // A settings path below a plain file can never be written, even by root.
  WriteFile(P("plain"), "x");
  window->SettingsPath = ToNativePath(P("plain/Parcelix.ini"));
  window->Pages().setCurrentIndex(2);
  Find<QAbstractButton>("BackupCheckBox")->click();
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_EQ(rec.messages[0].icon, MsgIcon::Error);
  EXPECT_NE(rec.messages[0].text.find("Unable to write to"), std::string::npos) << rec.messages[0].text;
  EXPECT_FALSE(window->Suite().Options.CreateBackup);  // the option keeps its new value

  rec.messages.clear();
  window->close();
  QTest::qWait(50);
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_TRUE(window->isVisible());

  window->SettingsPath = ToNativePath(env.SettingsFile());
  window->close();
  EXPECT_TRUE(QTest::qWaitFor([this] { return !window->isVisible(); }, 3000));
  EXPECT_NE(ReadFile(env.SettingsFile()).find("CreateBackup=0"), std::string::npos);
}

TEST_F(MainWindowTest, ClosingFadesTheWindowOutOverHalfASecond) {
  window->Fader().DurationMs = 500;
  window->close();
  EXPECT_TRUE(window->isVisible());
  bool faded = false;
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        faded |= window->windowOpacity() > 0.0 && window->windowOpacity() < 1.0;
        return !window->isVisible();
      },
      3000));
  EXPECT_TRUE(faded);
  EXPECT_TRUE(QFileInfo::exists(env.SettingsFile()));  // closing saved the settings
}

// ---- Menus, other windows, context menu ----

TEST_F(MainWindowTest, ManifestEditorCommandOpensTheChosenJar) {
  MakeJars({MidletJar(P("Game.jar"), Manifest("Foo", "1.0"))});
  rec.nextFiles = {P("Game.jar")};
  Find<QAction>("ManifestEditor")->trigger();
  ASSERT_EQ(rec.requests.size(), 1u);
  EXPECT_FALSE(rec.requests[0].multiple);
  EXPECT_EQ(rec.execs, std::vector<QString>{QStringLiteral("frmManifestEditor")});
  EXPECT_EQ(window->Suite().ManifestJarFile, ToNativePath(P("Game.jar")));
  TfrmManifestEditor& editor = window->ManifestEditorForm();
  EXPECT_TRUE(editor.isVisible());
  EXPECT_EQ(editor.Model().RowCount(), 4);
  editor.Fader().DurationMs = 0;
  editor.btnManifestCancelClick();
  EXPECT_FALSE(editor.isVisible());

  rec.nextFiles = {};  // cancelled: nothing opens
  window->ManifestEditorClick();
  EXPECT_EQ(rec.execs.size(), 1u);
}

TEST_F(MainWindowTest, AboutOpensTheAboutBox) {
  Find<QAction>("About1")->trigger();
  EXPECT_EQ(rec.execs, std::vector<QString>{QStringLiteral("frmAbout")});
  EXPECT_TRUE(window->AboutForm().isVisible());
}

TEST_F(MainWindowTest, OnAndOffRegisterAndRemoveTheVerbs) {
  Find<QAbstractButton>("MenuIntegrONButton")->click();
  ASSERT_TRUE(rec.messages.empty()) << rec.messages[0].text;
  TRegistry reg;
  std::vector<TContextMenuVerb> verbs = RegisteredVerbs(reg);
  ASSERT_EQ(verbs.size(), 2u);
  std::string commands = verbs[0].command + "\n" + verbs[1].command;
  EXPECT_NE(commands.find(" /rename \"%1\""), std::string::npos) << commands;
  EXPECT_NE(commands.find(" /jadgen \"%1\""), std::string::npos) << commands;
  Find<QAbstractButton>("MenuIntegrOFFButton")->click();
  EXPECT_TRUE(rec.messages.empty());
  EXPECT_TRUE(RegisteredVerbs(reg).empty());
}

}  // namespace
}  // namespace parcelix::test
