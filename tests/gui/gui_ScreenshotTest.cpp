// Opt-in runs: screenshots of the windows (PARCELIX_SCREENSHOT_DIR) and the longest event-loop stall of a big batch
// (PARCELIX_GUI_BATCH_JARS, PARCELIX_GUI_LIST_JARS, PARCELIX_GUI_CHECK_JARS).
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QBuffer>
#include <QPainter>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <ctime>

#include "app/gui/AboutUnit.h"
#include "app/gui/HelpViewer.h"
#include "app/gui/ManifestEditorUnit.h"
#include "app/gui/CheckTab.h"
#include "app/gui/mainUnit.h"
#include "gui_Support.h"

namespace parcelix::test {
namespace {

// An application icon as phones show them: a rounded square of the colour
// with the game's initial.
std::string AppIcon(unsigned rgb, char initial) {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient shade(0, 0, 0, 32);
    shade.setColorAt(0, QColor::fromRgb(rgb).lighter(140));
    shade.setColorAt(1, QColor::fromRgb(rgb));
    p.setBrush(shade);
    p.setPen(QColor::fromRgb(rgb).darker(150));
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 7, 7);
    QFont font = p.font();
    font.setPixelSize(20);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, QString(QLatin1Char(initial)));
  }
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return png.toStdString();
}

// A small collection as downloaded: file names from the sites, suites with
// their icons, one without, one damaged, one without a name, one signed.
void MakeCollection(const QTemporaryDir& dir) {
  struct Game {
    const char* file;
    const char* name;
    const char* vendor;
    const char* version;
    unsigned colour;
  };
  const Game games[] = {
      {"Moon_Miner_240x320.jar", "Moon Miner", "Lunar Soft", "1.2", 0xE07020},
      {"kart_racer_k800.jar", "Kart Racer", "Pit Lane", "2.0.1", 0x2060C0},
      {"game_1234.jar", "Tile Tower", "Example Games", "1.0.3", 0x8030A0},
      {"snake_redux.jar", "Snake Redux", "Nokey", "1.1", 0x209040},
      {"Tile Tower 1.0.3.jar", "Tile Tower", "Example Games", "1.0.3", 0x8030A0},
      {"chess_free.jar", "Chess", "Board Works", "3.0", 0},
      {"broken_dl.jar", "Bowling", "Strike", "1.0", 0xC02030},
      {"mystery.jar", nullptr, "Unknown", "0.9", 0x707070},
  };
  std::vector<JarSpec> specs;
  for (const Game& g : games) {
    std::string manifest = "Manifest-Version: 1.0\r\n";
    if (g.name) manifest += std::string("MIDlet-Name: ") + g.name + "\r\n";
    manifest += std::string("MIDlet-Vendor: ") + g.vendor + "\r\nMIDlet-Version: " + g.version + "\r\n";
    if (g.colour) manifest += std::string("MIDlet-1: ") + (g.name ? g.name : "Game") + ", /icon.png, Main\r\n";
    specs.push_back(MidletJar(dir.filePath(QLatin1String(g.file)), manifest + "\r\n"));
    if (g.colour) specs.back().members.emplace_back("icon.png", AppIcon(g.colour, g.name ? g.name[0] : '?'));
  }
  MakeJars(specs);
  // A download with a damaged byte: its manifest fails its CRC check.
  const QString broken = dir.filePath(QStringLiteral("broken_dl.jar"));
  std::string bytes = ReadFile(broken);
  bytes[30 + 20 + 5] ^= 0x55;
  WriteFile(broken, bytes);
  WriteFile(dir.filePath(QStringLiteral("snake_redux.jad")),
            "MIDlet-Name: Snake Redux\r\nMIDlet-Jar-RSA-SHA1: c2lnbmF0dXJl\r\n");
}

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
  QTemporaryDir games;
  MakeCollection(games);
  const QDir g(games.path());
  QStringList paths;
  for (const QString& f : g.entryList({QStringLiteral("*.jar")}, QDir::Files)) paths << g.filePath(f);
  rec.nextFiles = paths;
  window.btnRenAddClick();
  window.btnMakeJadAddClick();
  window.RenameListBox().Items().CheckAll(true);
  window.MakeJadListBox().Items().CheckAll(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.PreviewsReady(); }, 20000));
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
  window.Pages().setCurrentWidget(&window.CheckTab());
  window.CheckTab().SetProgram(PARCELIX_BINARY);
  window.CheckTab().AddPaths(paths);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.CheckTab().Ready(); }, 20000));
  window.DisplayHint(QStringLiteral("Repair the selected JARs for strict readers"));
  Save(window, dir, "main-check.png");

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

// The longest time the event loop went without running, from now: a timer
// ticking every 10 ms measures it.
class StallMeter {
 public:
  StallMeter() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.elapsed();
      worst_ = std::max(worst_, now - last_);
      last_ = now;
      ++ticks_;
    });
    clock_.start();
    timer_.start(10);
  }
  qint64 Elapsed() const { return clock_.elapsed(); }
  qint64 Worst() const { return std::max(worst_, clock_.elapsed() - last_); }
  int Ticks() const { return ticks_; }

 private:
  QElapsedTimer clock_;
  QTimer timer_;
  qint64 last_ = 0;
  qint64 worst_ = 0;
  int ticks_ = 0;
};

// n JARs g0.jar.. in dir, each with its own new name (with icon: and a
// PNG icon each).
QStringList ManyJars(const QTemporaryDir& dir, int n, bool icon) {
  const std::string png = PngIcon(0x20A040);
  std::vector<JarSpec> specs;
  QStringList paths;
  for (int i = 0; i < n; ++i) {
    paths << dir.filePath(QStringLiteral("g%1.jar").arg(i));
    std::string manifest = "MIDlet-Name: Game\r\nMIDlet-Version: " + std::to_string(i) + "\r\n";
    if (icon) manifest += "MIDlet-Icon: /i.png\r\n";
    specs.push_back(MidletJar(paths.back(), manifest));
    if (icon) specs.back().members.emplace_back("i.png", png);
  }
  MakeJars(specs);
  return paths;
}

// A shown window in a settings file of its own, and a folder for its JARs.
struct MeasuredWindow {
  MeasuredWindow() { window.show(); }
  IsolatedEnv env;
  Recorder rec;
  QTemporaryDir dir;
  TChmHelpViewer help{QStringList{}};
  TfrmMain window{help, rec.Services()};
};

// Runs a rename batch over many JARs and reports the longest time the event
// loop went without running.
TEST(BatchResponsiveness, LongestStall) {
  const char* count = std::getenv("PARCELIX_GUI_BATCH_JARS");
  if (!count) GTEST_SKIP() << "set PARCELIX_GUI_BATCH_JARS=2000 to measure";
  const int n = std::atoi(count);
  MeasuredWindow m;
  TfrmMain& window = m.window;
  m.rec.nextFiles = ManyJars(m.dir, n, false);
  window.btnRenAddClick();
  window.RenameSelectAllClick();
  StallMeter meter;
  window.btnRenRenameClick();
  std::printf("%d JARs renamed in %lld ms; event loop ran %d times; longest stall %lld ms\n", n,
              static_cast<long long>(meter.Elapsed()), meter.Ticks(), static_cast<long long>(meter.Worst()));
  EXPECT_TRUE(m.rec.messages.empty());
  EXPECT_EQ(window.RenameListBox().Items().Count(), 0);
}

// Adds many JARs to the Rename list and reports how long the list takes to
// show every row's icon and new name, and the longest event-loop stall.
TEST(BatchResponsiveness, ListPreviews) {
  const char* count = std::getenv("PARCELIX_GUI_LIST_JARS");
  if (!count) GTEST_SKIP() << "set PARCELIX_GUI_LIST_JARS=20000 to measure";
  const int n = std::atoi(count);
  MeasuredWindow m;
  TfrmMain& window = m.window;
  m.rec.nextFiles = ManyJars(m.dir, n, true);
  StallMeter meter;
  window.btnRenAddClick();
  window.RenameSelectAllClick();
  const qint64 listed = meter.Elapsed();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.PreviewsReady(); }, 600000));
  std::printf("%d JARs listed in %lld ms; every row with its icon and new name after %lld ms; longest stall %lld ms\n",
              n, static_cast<long long>(listed), static_cast<long long>(meter.Elapsed()),
              static_cast<long long>(meter.Worst()));
  EXPECT_EQ(window.RenameListBox().Items().Count(), n);
}

// The manifest editor on a suite as collectors have them: its icon, a
// description longer than the JAR rules allow and a JAD left from an older
// build. Runs after EveryWindow and takes the editor's picture again.
TEST(Screenshots, ManifestEditorWithFindings) {
  const char* out = std::getenv("PARCELIX_SCREENSHOT_DIR");
  if (!out) GTEST_SKIP() << "set PARCELIX_SCREENSHOT_DIR to take screenshots";
  IsolatedEnv env;
  Recorder rec;
  const TGuiServices services = rec.Services();
  TChmHelpViewer help(QStringList{QStringLiteral(PARCELIX_SOURCE_HELP_DIR)});
  TMidletSuite suite;
  TfrmManifestEditor editor(suite, services, help);
  editor.SetProgram(PARCELIX_BINARY);
  QTemporaryDir jars;
  const QString jar = jars.filePath(QStringLiteral("Tile Tower.jar"));
  JarSpec spec = MidletJar(jar, "Manifest-Version: 1.0\r\nMIDlet-1: Tile Tower, /icon.png, TowerMIDlet\r\n"
                                "MIDlet-Name: Tile Tower\r\nMIDlet-Vendor: Example Games\r\nMIDlet-Version: 1.0.3\r\n"
                                "MIDlet-Description: Stack the tiles: 30 levels in 4 worlds, a level editor and "
                                "high scores\r\nMicroEdition-Configuration: CLDC-1.0\r\n"
                                "MicroEdition-Profile: MIDP-2.0\r\nCreated-By: 1.4.2 (Example Inc.)\r\n\r\n");
  spec.members.emplace_back("TowerMIDlet.class", std::string("\xCA\xFE\xBA\xBE\0\0\0\x2E", 8) + std::string(900, 't'));
  spec.members.emplace_back("icon.png", AppIcon(0x8030A0, 'T'));
  MakeJars({spec});
  WriteFile(jars.filePath(QStringLiteral("Tile Tower.jad")),
            "MIDlet-Name: Tile Tower\r\nMIDlet-Vendor: Example Games\r\nMIDlet-Version: 1.0.3\r\n"
            "MIDlet-Jar-URL: Tile Tower.jar\r\nMIDlet-Jar-Size: 48213\r\n");
  suite.ManifestJarFile = ToNativePath(jar);
  Save(editor, QString::fromLocal8Bit(out), "manifest-editor.png");
  EXPECT_TRUE(editor.Header().HasSuiteIcon());
  editor.Fader().DurationMs = 0;
  editor.reject();
}

// The most CPU time the window's thread spent between two turns of the
// event loop: the part of a stall that is the window's own work, not the
// scheduler giving the cores to other processes.
class WorkStallMeter {
 public:
  WorkStallMeter() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = ThreadCpuMs();
      worst_ = std::max(worst_, now - last_);
      last_ = now;
    });
    last_ = ThreadCpuMs();
    timer_.start(10);
  }
  qint64 Worst() const { return std::max(worst_, ThreadCpuMs() - last_); }

 private:
  static qint64 ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
  }
  QTimer timer_;
  qint64 last_ = 0;
  qint64 worst_ = 0;
};

// Adds many JARs to the Check tab, sorted by findings, and reports how long
// the table takes to show every row's findings, and the longest event-loop
// stall (with the window thread's own work in it).
TEST(BatchResponsiveness, CheckTable) {
  const char* count = std::getenv("PARCELIX_GUI_CHECK_JARS");
  if (!count) GTEST_SKIP() << "set PARCELIX_GUI_CHECK_JARS=20000 to measure";
  const int n = std::atoi(count);
  MeasuredWindow m;
  TCheckTab& tab = m.window.CheckTab();
  m.window.Pages().setCurrentWidget(&tab);
  tab.SetProgram(PARCELIX_BINARY);
  const QStringList paths = ManyJars(m.dir, n, true);
  tab.Table().sortByColumn(TCheckTableModel::Findings, Qt::DescendingOrder);
  int statuses = 0;
  tab.OnStatus = [&](const QString&) { ++statuses; };
  StallMeter meter;
  WorkStallMeter work;
  tab.AddPaths(paths);
  const qint64 listed = meter.Elapsed();
  ASSERT_TRUE(QTest::qWaitFor([&] { return tab.Ready(); }, 1200000));
  std::printf("%d JARs listed in %lld ms; every row with its findings after %lld ms; longest stall %lld ms "
              "(%lld ms of it the window's own work); %d status texts\n",
              n, static_cast<long long>(listed), static_cast<long long>(meter.Elapsed()),
              static_cast<long long>(meter.Worst()), static_cast<long long>(work.Worst()), statuses);
  EXPECT_EQ(tab.Model().Count(), n);
  EXPECT_LT(work.Worst(), 50);
  EXPECT_LT(meter.Worst(), 50) << "(on a machine whose cores are busy with other work, see the window's own part)";
}

}  // namespace
}  // namespace parcelix::test
