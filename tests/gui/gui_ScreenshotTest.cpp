// Opt-in runs: screenshots of the windows (PARCELIX_SCREENSHOT_DIR) and the longest event-loop stall of a big batch (PARCELIX_GUI_BATCH_JARS).
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "app/gui/AboutUnit.h"
#include "app/gui/HelpViewer.h"
#include "app/gui/ManifestEditorUnit.h"
#include "app/gui/mainUnit.h"
#include "gui_Support.h"

namespace parcelix::test {
namespace {

void Save(QWidget& w, const QString& dir, const char* name) {
  w.show();
  w.raise();
  w.activateWindow();
  QTest::qWait(300);  // let the window manager map and paint it
  ASSERT_TRUE(w.grab().save(QDir(dir).filePath(QLatin1String(name)))) << name;
}

TEST(Screenshots, EveryWindow) {
  const char* out = std::getenv("PARCELIX_SCREENSHOT_DIR");
  if (!out) GTEST_SKIP() << "set PARCELIX_SCREENSHOT_DIR to take screenshots";
  const QString dir = QString::fromLocal8Bit(out);
  IsolatedEnv env;
  Recorder rec;
  TChmHelpViewer help(QStringList{QStringLiteral(PARCELIX_SOURCE_HELP_DIR)});
  TfrmMain window(help, rec.Services());
  window.FormCreate();
  const char* games[] = {"/home/ann/Games/Moon_Miner_240x320.jar", "/home/ann/Games/kart_racer_k800.jar",
                         "/home/ann/Games/game_1234.jar", "/home/ann/Games/Tile Tower.jar",
                         "/home/ann/Games/snake_redux.jar"};
  for (const char* g : games) {
    window.RenameListBox().Items().Add(QLatin1String(g));
    window.MakeJadListBox().Items().Add(QLatin1String(g));
  }
  window.RenameListBox().Items().SetChecked(0, true);
  window.RenameListBox().Items().SetChecked(2, true);
  window.RenameListBox().Items().SetChecked(3, true);
  window.MakeJadListBox().Items().CheckAll(true);
  window.DisplayHint(QStringLiteral("Start process"));
  Save(window, dir, "main-rename.png");
  window.Pages().setCurrentIndex(1);
  window.DisplayHint(QStringLiteral("Add files to list"));
  Save(window, dir, "main-makejad.png");
  window.Pages().setCurrentIndex(2);
  if (auto* tmpl = window.findChild<QLineEdit*>(QStringLiteral("TemplateEdit")))
    tmpl->setText(QStringLiteral("{MIDlet-Vendor}/{MIDlet-Name} {MIDlet-Version}"));
  window.DisplayHint(QStringLiteral("Context menu integration: ON"));
  Save(window, dir, "main-options.png");

  QTemporaryDir jars;
  const QString jar = jars.filePath(QStringLiteral("Tile Tower.jar"));
  MakeJars({MidletJar(jar, "Manifest-Version: 1.0\r\nMIDlet-1: Tile Tower, /icon.png, TowerMIDlet\r\n"
                           "MIDlet-Name: Tile Tower\r\nMIDlet-Vendor: Example Games\r\n"
                           "MIDlet-Version: 1.0.3\r\nMIDlet-Description: Stack the tiles: 30 levels\r\n"
                           "MicroEdition-Configuration: CLDC-1.0\r\nMicroEdition-Profile: MIDP-2.0\r\n"
                           "Created-By: 1.4.2 (Example Inc.)\r\n\r\n")});
  window.Suite().ManifestJarFile = ToNativePath(jar);
  Save(window.ManifestEditorForm(), dir, "manifest-editor.png");
  window.ManifestEditorForm().Fader().DurationMs = 0;
  window.ManifestEditorForm().reject();
  Save(window.AboutForm(), dir, "about.png");
  window.AboutForm().Fader().DurationMs = 0;
  window.AboutForm().reject();
  help.ShowTopic(QStringLiteral("rename"));
  Save(help.Window(), dir, "help-rename.png");
}

// Runs a rename batch over many JARs and reports the longest time the event
// loop went without running (a timer ticking every 10 ms measures it).
TEST(BatchResponsiveness, LongestStall) {
  const char* count = std::getenv("PARCELIX_GUI_BATCH_JARS");
  if (!count) GTEST_SKIP() << "set PARCELIX_GUI_BATCH_JARS=2000 to measure";
  const int n = std::atoi(count);
  IsolatedEnv env;
  Recorder rec;
  QTemporaryDir dir;
  TChmHelpViewer help(QStringList{});
  TfrmMain window(help, rec.Services());
  window.show();
  std::vector<JarSpec> specs;
  QStringList paths;
  for (int i = 0; i < n; ++i) {
    paths << dir.filePath(QStringLiteral("g%1.jar").arg(i));
    specs.push_back(MidletJar(paths.back(), "MIDlet-Name: Game\r\nMIDlet-Version: " + std::to_string(i) + "\r\n"));
  }
  MakeJars(specs);
  rec.nextFiles = paths;
  window.btnRenAddClick();
  window.RenameSelectAllClick();
  QElapsedTimer clock;
  qint64 last = 0;
  qint64 worst = 0;
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    worst = std::max(worst, now - last);
    last = now;
    ++ticks;
  });
  clock.start();
  timer.start(10);
  window.btnRenRenameClick();
  const qint64 total = clock.elapsed();
  worst = std::max(worst, total - last);
  std::printf("%d JARs renamed in %lld ms; event loop ran %d times; longest stall %lld ms\n", n,
              static_cast<long long>(total), ticks, static_cast<long long>(worst));
  EXPECT_TRUE(rec.messages.empty());
  EXPECT_EQ(window.RenameListBox().Items().Count(), 0);
}

}  // namespace
}  // namespace parcelix::test
