// The Check tab: the audit of a collection as a table, its sorting and
// filters, and each repair on real JARs checked afterwards by python's
// zipfile and unzip.
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>

#include <gtest/gtest.h>
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QLineEdit>
#include <QTest>

#include "app/gui/HelpViewer.h"
#include "app/gui/ManifestEditorUnit.h"
#include "app/gui/mainUnit.h"
#include "gui_Support.h"
#include "gui_WindowFixture.h"

namespace parcelix::test {
namespace {

const QColor kError(0xb0, 0x00, 0x20);
const QColor kWarning(0x9a, 0x6a, 0x00);
const std::string kClass = std::string("\xCA\xFE\xBA\xBE\0\0\0\x2E", 8) + std::string(300, 'x');

std::string Manifest(const std::string& name) {
  return "Manifest-Version: 1.0\r\nMIDlet-Name: " + name +
         "\r\nMIDlet-Vendor: Ann\r\nMIDlet-Version: 1.0\r\nMIDlet-1: " + name +
         ", , com.example.Main\r\nMicroEdition-Profile: MIDP-2.0\r\nMicroEdition-Configuration: CLDC-1.1\r\n\r\n";
}

std::string Jad(const std::string& name, int64_t size, const std::string& extra = {}) {
  return "MIDlet-Name: " + name + "\r\nMIDlet-Vendor: Ann\r\nMIDlet-Version: 1.0\r\nMIDlet-Jar-URL: " + name +
         ".jar\r\nMIDlet-Jar-Size: " + std::to_string(size) + "\r\n" + extra;
}

// Flips a byte of the class file's compressed data (the second member, after
// the manifest): its CRC check fails, the manifest still reads.
void DamageClass(const QString& jar) {
  std::string bytes = ReadFile(jar);
  const size_t at = bytes.find("com/example/Main.class");
  ASSERT_NE(at, std::string::npos);
  bytes[at + 22 + 10] ^= 0x55;
  WriteFile(jar, bytes);
}

class CheckTabTest : public WindowFixture {
 protected:
  void SetUp() override {
    OpenWindow();
    window->Pages().setCurrentWidget(&Tab());
    // The crypto module (signatures, digests) lies beside the program.
    Tab().SetProgram(PARCELIX_BINARY);
  }

  // clean, last (manifest after the class), stale (its JAD gives another
  // size), damaged (a member fails its CRC), twin (the bytes of clean).
  void MakeCollection() {
    MakeJars({MidletJar(P("clean.jar"), Manifest("clean")),
              JarSpec{P("last.jar"), {{"com/example/Main.class", kClass}, {"META-INF/MANIFEST.MF", Manifest("last")}}},
              MidletJar(P("stale.jar"), Manifest("stale")), MidletJar(P("damaged.jar"), Manifest("damaged"))});
    DamageClass(P("damaged.jar"));
    WriteFile(P("stale.jad"), Jad("stale", 7));
    QFile::copy(P("clean.jar"), P("twin.jar"));
  }
  void AddAll() {
    rec.nextFolder = dir.path();
    Tab().btnCheckAddFolder.click();
    Wait();
  }
  void Wait() {
    ASSERT_TRUE(QTest::qWaitFor([this] { return Tab().Ready(); }, 20000));
  }

  TCheckTab& Tab() { return window->CheckTab(); }
  QVariant Cell(const QString& file, int column, int role = Qt::DisplayRole) {
    const int row = Tab().Model().RowOf(P(file));
    EXPECT_GE(row, 0) << file.toStdString();
    return Tab().Model().data(Tab().Model().index(row, column), role);
  }
  QString Findings(const QString& file) { return Cell(file, TCheckTableModel::Findings).toString(); }
  // The files in the order the table shows them.
  QStringList Shown() {
    QStringList files;
    const auto& view = Tab().Filter();
    for (int i = 0; i < view.rowCount(); ++i) files << view.index(i, 0).data().toString();
    return files;
  }
  void Select(const QStringList& files) {
    QStringList paths;
    for (const QString& f : files) paths << P(f);
    Tab().SelectPaths(paths);
    ASSERT_EQ(Tab().SelectedPaths().size(), files.size());
  }
};

struct RowCase {
  const char* file;
  const char* name;
  const char* code;  // a code the findings hold; "" for none at all
  QColor colour;     // invalid: the default colour
};

TEST_F(CheckTabTest, TableShowsTheAuditOfEachJarWithSeverityColours) {
  MakeCollection();
  AddAll();
  const RowCase rows[] = {
      {"clean.jar", "clean", "duplicate", QColor()},  // twin.jar has its bytes
      {"twin.jar", "clean", "duplicate", QColor()},        {"last.jar", "last", "manifest-not-first", kWarning},
      {"stale.jar", "stale", "jad-size-mismatch", kError}, {"damaged.jar", "damaged", "bad-member", kError},
  };
  ASSERT_EQ(Tab().Model().Count(), 5);
  const QString twinTip = Cell(QStringLiteral("twin.jar"), TCheckTableModel::Findings, Qt::ToolTipRole).toString();
  EXPECT_TRUE(twinTip.contains(P("clean.jar"))) << twinTip.toStdString();
  for (const RowCase& c : rows) {
    SCOPED_TRACE(c.file);
    const QString file = QLatin1String(c.file);
    EXPECT_EQ(Cell(file, TCheckTableModel::File).toString(), file);
    EXPECT_EQ(Cell(file, TCheckTableModel::Name).toString(), QLatin1String(c.name));
    EXPECT_EQ(Cell(file, TCheckTableModel::Vendor).toString(), QStringLiteral("Ann"));
    EXPECT_EQ(Cell(file, TCheckTableModel::Version).toString(), QStringLiteral("1.0"));
    const QVariant brush = Cell(file, TCheckTableModel::Findings, Qt::ForegroundRole);
    EXPECT_EQ(brush.isValid() ? brush.value<QBrush>().color() : QColor(), c.colour);
    if (*c.code == 0) {
      EXPECT_EQ(Findings(file), QString());
      continue;
    }
    EXPECT_TRUE(Findings(file).contains(QLatin1String(c.code))) << Findings(file).toStdString();
    // The sentences, one per finding, are the tooltip.
    const QString tip = Cell(file, TCheckTableModel::Findings, Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains(QLatin1String(c.code) + QStringLiteral(": "))) << tip.toStdString();
  }
  EXPECT_EQ(Cell(QStringLiteral("clean.jar"), TCheckTableModel::File, Qt::ToolTipRole).toString(), P("clean.jar"));
  // Adding the same files again lists nothing twice.
  AddAll();
  EXPECT_EQ(Tab().Model().Count(), 5);
}

TEST_F(CheckTabTest, SortsByAnyColumnAndFiltersByTextAndProblems) {
  MakeCollection();
  AddAll();
  QTableView& table = Tab().Table();
  table.sortByColumn(TCheckTableModel::File, Qt::AscendingOrder);
  EXPECT_EQ(Shown(), (QStringList{"clean.jar", "damaged.jar", "last.jar", "stale.jar", "twin.jar"}));
  table.sortByColumn(TCheckTableModel::Name, Qt::DescendingOrder);
  EXPECT_EQ(Shown().first(), QStringLiteral("stale.jar"));
  // By findings: the worst severity first, then warnings, then none.
  table.sortByColumn(TCheckTableModel::Findings, Qt::DescendingOrder);
  QStringList order = Shown();
  EXPECT_TRUE(order.indexOf("damaged.jar") < 2 && order.indexOf("stale.jar") < 2) << order.join(' ').toStdString();
  EXPECT_EQ(order.at(2), QStringLiteral("last.jar"));

  table.sortByColumn(TCheckTableModel::File, Qt::AscendingOrder);
  auto* problems = window->findChild<QCheckBox*>(QStringLiteral("ProblemsOnlyCheckBox"));
  auto* text = window->findChild<QLineEdit*>(QStringLiteral("CheckFilterEdit"));
  ASSERT_TRUE(problems && text);
  problems->click();
  EXPECT_EQ(Shown().size(), 3);
  EXPECT_FALSE(Shown().contains("clean.jar"));
  text->setText(QStringLiteral("JAD-SIZE"));  // a finding code, any case
  EXPECT_EQ(Shown(), QStringList{"stale.jar"});
  problems->click();
  text->setText(QStringLiteral("twin"));  // a file name
  EXPECT_EQ(Shown(), QStringList{"twin.jar"});
  text->setText(QStringLiteral("clean"));  // the suite's name finds its copy too
  EXPECT_EQ(Shown(), (QStringList{"clean.jar", "twin.jar"}));
  text->clear();
  EXPECT_EQ(Shown().size(), 5);
}

TEST_F(CheckTabTest, FixJadBringsTheJadUpToDate) {
  MakeCollection();
  AddAll();
  Select({"stale.jar", "clean.jar"});
  Tab().FixJadClick();
  Wait();
  const std::string jad = ReadFile(P("stale.jad"));
  EXPECT_NE(jad.find("MIDlet-Jar-Size: " + std::to_string(QFileInfo(P("stale.jar")).size()) + "\r\n"),
            std::string::npos)
      << jad;
  EXPECT_NE(jad.find("MIDlet-Vendor: Ann\r\n"), std::string::npos);
  EXPECT_FALSE(Findings(QStringLiteral("stale.jar")).contains(QStringLiteral("jad-size-mismatch")));
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_NE(rec.messages[0].text.find("stale.jar: the JAD was brought up to date"), std::string::npos);
  EXPECT_FALSE(QFileInfo::exists(P("clean.jad")));
}

TEST_F(CheckTabTest, FixJarPutsTheManifestFirst) {
  MakeCollection();
  AddAll();
  Select({"last.jar"});
  Tab().FixJarClick();
  Wait();
  const auto members = Members(P("last.jar"));
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0].first, "META-INF/MANIFEST.MF");
  EXPECT_EQ(members[0].second, Manifest("last"));
  EXPECT_EQ(members[1].second, kClass);
  EXPECT_EQ(UnzipTest(P("last.jar")), 0);
  EXPECT_EQ(Findings(QStringLiteral("last.jar")), QString());
  EXPECT_TRUE(rec.questions.empty());
}

TEST_F(CheckTabTest, FixJarAsksBeforeBreakingASignatureOrSalvaging) {
  MakeCollection();
  WriteFile(P("last.jad"), Jad("last", QFileInfo(P("last.jar")).size(), "MIDlet-Jar-RSA-SHA1: c2lnbmF0dXJl\r\n"));
  AddAll();
  const std::string last = ReadFile(P("last.jar")), damaged = ReadFile(P("damaged.jar"));

  // Answered No: both stay byte for byte.
  Select({"last.jar", "damaged.jar"});
  Tab().FixJarClick();
  Wait();
  ASSERT_EQ(rec.questions.size(), 2u);
  EXPECT_NE(rec.questions[0].text.find("damaged.jar is damaged"), std::string::npos) << rec.questions[0].text;
  EXPECT_NE(rec.questions[1].text.find("break the signature"), std::string::npos) << rec.questions[1].text;
  EXPECT_EQ(ReadFile(P("last.jar")), last);
  EXPECT_EQ(ReadFile(P("damaged.jar")), damaged);
  EXPECT_EQ(rec.messages.back().icon, MsgIcon::Warning);

  // Answered Yes: the signed one is fixed (its JAD's size follows), the
  // damaged one keeps what reads whole.
  rec.answer = true;
  Select({"last.jar", "damaged.jar"});
  Tab().FixJarClick();
  Wait();
  EXPECT_EQ(Members(P("last.jar"))[0].first, "META-INF/MANIFEST.MF");
  EXPECT_EQ(UnzipTest(P("last.jar")), 0);
  EXPECT_NE(ReadFile(P("last.jad")).find("MIDlet-Jar-Size: " + std::to_string(QFileInfo(P("last.jar")).size())),
            std::string::npos);
  const auto salvaged = Members(P("damaged.jar"));
  ASSERT_EQ(salvaged.size(), 1u);
  EXPECT_EQ(salvaged[0].first, "META-INF/MANIFEST.MF");
  EXPECT_EQ(UnzipTest(P("damaged.jar")), 0);
  EXPECT_FALSE(Findings(QStringLiteral("damaged.jar")).contains(QStringLiteral("bad-member")));
}

TEST_F(CheckTabTest, ShowOpenAndTrashActOnTheSelectedRows) {
  MakeCollection();
  AddAll();
  Select({"stale.jar", "clean.jar"});
  window->findChild<QAction*>(QStringLiteral("CheckShowInFileManager"))->trigger();
  ASSERT_EQ(rec.shown.size(), 1u);
  EXPECT_EQ(QSet<QString>(rec.shown[0].begin(), rec.shown[0].end()), (QSet<QString>{P("stale.jar"), P("clean.jar")}));

  Select({"last.jar"});
  window->findChild<QAction*>(QStringLiteral("CheckOpenInEditor"))->trigger();
  ASSERT_EQ(rec.execs.size(), 1u);
  EXPECT_EQ(window->Suite().ManifestJarFile, ToNativePath(P("last.jar")));
  window->ManifestEditorForm().close();

  // Of the identical pair the first by path stays; the other goes to the Trash.
  Select({"clean.jar", "twin.jar", "stale.jar"});
  window->findChild<QAction*>(QStringLiteral("CheckTrashDuplicates"))->trigger();
  Wait();
  ASSERT_FALSE(rec.messages.empty());
  EXPECT_EQ(rec.messages.back().text, "twin.jar: moved to the Trash; " + ToNativePath(P("clean.jar")) + " stays");
  EXPECT_TRUE(QFileInfo::exists(P("clean.jar")));
  EXPECT_FALSE(QFileInfo::exists(P("twin.jar")));
  EXPECT_TRUE(QFileInfo::exists(env.Path("data/Trash/files/twin.jar")));
  EXPECT_EQ(Tab().Model().RowOf(P("twin.jar")), -1);
  EXPECT_EQ(Tab().Model().Count(), 4);
  EXPECT_FALSE(Findings(QStringLiteral("clean.jar")).contains(QStringLiteral("duplicate")));
}

TEST_F(CheckTabTest, DroppedFolderAddsItsJarsToTheCheckTab) {
  MakeCollection();
  window->WMDropFiles({dir.path()});
  Wait();
  EXPECT_EQ(Tab().Model().Count(), 5);
  EXPECT_EQ(window->RenameListBox().Items().Count(), 0);
  EXPECT_TRUE(rec.messages.empty());
}

// Bytes that deflate hardly at all, so that a JAR of them takes a while to fix.
std::string Noise(size_t n) {
  std::string bytes(n, '\0');
  uint32_t seed = 2024;
  for (char& c : bytes) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return bytes;
}

// What a batch tells the window, and whether the tab's fixing controls were
// enabled each time it spoke while busy.
struct BatchWatch {
  explicit BatchWatch(TfrmMain& window) : tab(window.CheckTab()) {
    fixJar = window.findChild<QPushButton*>(QStringLiteral("btnCheckFixJar"));
    fixAction = window.findChild<QAction*>(QStringLiteral("CheckFixJar"));
    tab.OnBusy = [this](bool on) { busy.push_back(on); };
    tab.OnStatus = [this](const QString& text) {
      statuses << text;
      if (tab.Busy()) enabledWhileBusy = enabledWhileBusy || fixJar->isEnabled() || fixAction->isEnabled();
      if (OnText) OnText(text);
    };
  }
  TCheckTab& tab;
  QPushButton* fixJar = nullptr;
  QAction* fixAction = nullptr;
  std::vector<bool> busy;
  QStringList statuses;
  bool enabledWhileBusy = false;
  std::function<void(const QString&)> OnText;
};

// n JARs with the manifest last (each needs a fix); the first, a.jar, is big.
QStringList ManifestLastJars(const QTemporaryDir& dir, int n, size_t bigBytes) {
  std::vector<JarSpec> specs;
  QStringList files;
  for (int i = 0; i < n; ++i) {
    const std::string name = i == 0 ? "a" : "m" + std::to_string(i);
    files << QString::fromStdString(name + ".jar");
    specs.push_back(JarSpec{
        dir.filePath(files.back()),
        {{"com/example/Main.class", i == 0 ? Noise(bigBytes) : kClass}, {"META-INF/MANIFEST.MF", Manifest(name)}}});
  }
  MakeJars(specs);
  return files;
}

TEST_F(CheckTabTest, FixJarRunsAsABatchBesideTheWindow) {
  const QStringList files = ManifestLastJars(dir, 5, 64 << 10);
  AddAll();
  BatchWatch watch(*window);
  // Rows land while the table is sorted by findings; the fixed rows are read
  // again into it and it stays sorted.
  Tab().Table().sortByColumn(TCheckTableModel::Findings, Qt::DescendingOrder);
  Select(files);
  Tab().FixJarClick();
  EXPECT_TRUE(Tab().Busy());  // the click returns at once; the work goes on beside the window
  EXPECT_FALSE(watch.fixJar->isEnabled());
  Tab().FixJarClick();  // a second click while busy does nothing
  Wait();
  EXPECT_EQ(watch.busy, (std::vector<bool>{true, false}));
  EXPECT_FALSE(watch.enabledWhileBusy);
  EXPECT_TRUE(watch.fixJar->isEnabled());
  EXPECT_TRUE(watch.fixAction->isEnabled());
  EXPECT_TRUE(watch.statuses.contains(QStringLiteral("Examining 1 of 5 JARs...")))
      << watch.statuses.join('|').toStdString();
  EXPECT_TRUE(watch.statuses.contains(QStringLiteral("Fixing 1 of 5 JARs...")))
      << watch.statuses.join('|').toStdString();
  EXPECT_EQ(watch.statuses.last(), QString());
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_EQ(rec.messages[0].icon, MsgIcon::Information) << rec.messages[0].text;
  for (const QString& f : files) {
    SCOPED_TRACE(f.toStdString());
    EXPECT_EQ(CheckedMemberNames(P(f)), (std::vector<std::string>{"META-INF/MANIFEST.MF", "com/example/Main.class"}));
    EXPECT_EQ(UnzipTest(P(f)), 0);
    EXPECT_EQ(Findings(f), QString());
    EXPECT_NE(rec.messages[0].text.find(f.toStdString() + ": fixed"), std::string::npos) << rec.messages[0].text;
  }
}

TEST_F(CheckTabTest, StopLeavesEachJarFixedOrUntouched) {
  const QStringList files = ManifestLastJars(dir, 6, 8 << 20);
  std::map<QString, std::string> before;
  for (const QString& f : files) before[f] = ReadFile(P(f));
  AddAll();
  BatchWatch watch(*window);
  // Stop as soon as the first JAR (the big one) is being fixed.
  watch.OnText = [this](const QString& text) {
    if (text.startsWith(QLatin1String("Fixing 1 of"))) Tab().Stop();
  };
  Select(files);
  Tab().FixJarClick();
  Wait();
  EXPECT_EQ(watch.busy, (std::vector<bool>{true, false}));
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_NE(rec.messages[0].text.find("Stopped: "), std::string::npos) << rec.messages[0].text;
  int fixed = 0;
  for (const QString& f : files) {
    SCOPED_TRACE(f.toStdString());
    if (ReadFile(P(f)) == before[f]) {
      EXPECT_EQ(rec.messages[0].text.find(f.toStdString() + ": "), std::string::npos);
      continue;
    }
    ++fixed;
    EXPECT_EQ(CheckedMemberNames(P(f)).front(), "META-INF/MANIFEST.MF");
    EXPECT_EQ(UnzipTest(P(f)), 0);
    EXPECT_EQ(ReadFile(P(QFileInfo(f).completeBaseName() + ".bak")), before[f]);
  }
  // The big one was in hand when Stop came; the small ones after it wait.
  EXPECT_GE(fixed, 1);
  EXPECT_LT(fixed, files.size());
  // Nothing but the JARs and the backups of the fixed ones: no temporary file.
  EXPECT_EQ(DirEntries(dir.path()).size(), static_cast<qsizetype>(files.size() + fixed))
      << DirEntries(dir.path()).join(' ').toStdString();
}

TEST_F(CheckTabTest, FindingsShowTheWorstCompactlyAndEverySentenceInTheTooltip) {
  // No attributes at all and the manifest last: six missing attributes
  // (errors) after a warning.
  MakeJars({JarSpec{P("bare.jar"), {{"a.class", kClass}, {"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n"}}},
            MidletJar(P("fine.jar"), Manifest("fine"))});
  AddAll();
  const QString tip = Cell(QStringLiteral("bare.jar"), TCheckTableModel::Findings, Qt::ToolTipRole).toString();
  const QStringList sentences = tip.split(QLatin1Char('\n'));
  EXPECT_EQ(Findings(QStringLiteral("bare.jar")), QStringLiteral("missing-attribute +%1").arg(sentences.size() - 1));
  for (const char* part : {"error: missing-attribute: the manifest has no MIDlet-Vendor",
                           "error: missing-attribute: the manifest has no MIDlet-Name", "warning: manifest-not-first"})
    EXPECT_TRUE(tip.contains(QLatin1String(part))) << part << "\n" << tip.toStdString();
  EXPECT_EQ(Findings(QStringLiteral("fine.jar")), QString());
}

// Rows of a sorted or filtered table land in batches; whatever the order the
// workers deliver them in, the table shows them in order.
TEST_F(CheckTabTest, RowsArrivingInASortedTableKeepTheSort) {
  MakeCollection();
  std::vector<JarSpec> more;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "g" + std::to_string(i);
    more.push_back(i % 3 == 0 ? JarSpec{P(QString::fromStdString(name + ".jar")),
                                        {{"x.class", kClass}, {"META-INF/MANIFEST.MF", Manifest(name)}}}
                              : MidletJar(P(QString::fromStdString(name + ".jar")), Manifest(name)));
  }
  MakeJars(more);
  struct SortCase {
    int column;
    Qt::SortOrder order;
    bool problemsOnly;
  };
  const SortCase cases[] = {{TCheckTableModel::Findings, Qt::DescendingOrder, false},
                            {TCheckTableModel::Name, Qt::AscendingOrder, false},
                            {TCheckTableModel::Findings, Qt::AscendingOrder, true}};
  auto* problems = window->findChild<QCheckBox*>(QStringLiteral("ProblemsOnlyCheckBox"));
  for (const SortCase& c : cases) {
    SCOPED_TRACE(c.column);
    for (int row = Tab().Model().Count() - 1; row >= 0; --row) Tab().Model().Remove(Tab().Model().Path(row));
    Tab().Table().sortByColumn(c.column, c.order);
    problems->setChecked(c.problemsOnly);
    AddAll();
    const TCheckFilter& view = Tab().Filter();
    int problemRows = 0;
    for (int i = 0; i < Tab().Model().Count(); ++i) {
      const auto worst = TCheckTableModel::Worst(*Tab().Model().Audit(i));
      problemRows += worst && *worst != AuditSeverity::info;
    }
    EXPECT_EQ(view.rowCount(), c.problemsOnly ? problemRows : 45);
    for (int i = 1; i < view.rowCount(); ++i) {
      const QVariant a = view.index(i - 1, c.column).data(TCheckTableModel::SortRole);
      const QVariant b = view.index(i, c.column).data(TCheckTableModel::SortRole);
      const bool inOrder =
          a.typeId() == QMetaType::Int
              ? (c.order == Qt::AscendingOrder ? a.toInt() <= b.toInt() : a.toInt() >= b.toInt())
              : (c.order == Qt::AscendingOrder ? a.toString() <= b.toString() : a.toString() >= b.toString());
      EXPECT_TRUE(inOrder) << i << ": " << a.toString().toStdString() << " then " << b.toString().toStdString();
    }
  }
}

// Without a file manager on the session bus each folder is opened once.
TEST(ShowInFileManager, WithoutTheDBusServiceOpensEachFolderOnce) {
  if (std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "a session bus may hold a file manager";
  std::vector<QUrl> opened;
  TGuiServices services;
  services.OpenUrl = [&](const QUrl& url) {
    opened.push_back(url);
    return true;
  };
  services.ShowInFileManager({"/games/a/x.jar", "/games/b/z.jar", "/games/a/y.jar"});
  EXPECT_EQ(opened, (std::vector<QUrl>{QUrl::fromLocalFile("/games/a"), QUrl::fromLocalFile("/games/b")}));
}

}  // namespace
}  // namespace parcelix::test
