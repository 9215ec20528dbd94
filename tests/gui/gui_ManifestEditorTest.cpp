// The manifest editor window on real JARs: load, edit, save with the options, cancel, rows, failures.
#include <memory>

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QTextDocument>

#include "app/gui/CheckListBox.h"
#include "app/gui/HelpViewer.h"
#include "app/gui/ManifestEditorUnit.h"
#include "app/gui/SeverityColour.h"
#include "gui_Support.h"

namespace parcelix::test {
namespace {

using Rows = std::vector<std::pair<QString, QString>>;

const std::string kGameManifest =
    "Manifest-Version: 1.0\r\nMIDlet-Name: Foo\r\nMIDlet-Version: 1.0\r\nMIDlet-Vendor: Example\r\n"
    "MIDlet-1: Foo, /icon.png, com.example.Main\r\n\r\n";

class ManifestEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    editor.Fader().DurationMs = 0;
    editor.SetProgram(PARCELIX_BINARY);
    jar = dir.filePath(QStringLiteral("Game.jar"));
  }

  // Makes Game.jar with the manifest, a class, an icon and a nested resource.
  void MakeGame(const std::string& manifest = kGameManifest) {
    JarSpec spec = MidletJar(jar, manifest);
    spec.members.push_back({"icon.png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(64, '\x7f')});
    spec.members.push_back({"res/levels/1.dat", std::string(5000, 'L')});
    MakeJars({spec});
    original = ReadFile(jar);
  }

  void Show() {
    suite.ManifestJarFile = ToNativePath(jar);
    editor.show();
  }

  Rows GridRows() {
    Rows rows;
    for (int r = 0; r < editor.Model().RowCount(); ++r) rows.push_back({editor.Model().Key(r), editor.Model().Value(r)});
    return rows;
  }

  int RowOf(const QString& key) {
    for (int r = 0; r < editor.Model().RowCount(); ++r)
      if (editor.Model().Key(r) == key) return r;
    return -1;
  }

  void SetValue(const QString& key, const QString& value) {
    const int row = RowOf(key);
    ASSERT_GE(row, 0) << key.toStdString();
    editor.Model().setData(editor.Model().index(row, 1), value, Qt::EditRole);
  }

  std::string SavedManifest(const QString& path) { return ReadMember(path, "META-INF/MANIFEST.MF"); }

  void AllOptions(bool on) {
    suite.Options.CreateBackup = on;
    suite.Options.RenameAfterSave = on;
    suite.Options.MakeJadAfterSave = on;
  }

  IsolatedEnv env;
  Recorder rec;
  TGuiServices services = rec.Services();
  QTemporaryDir dir;
  QString jar;
  std::string original;
  TMidletSuite suite;
  TChmHelpViewer help{QStringList{QStringLiteral(PARCELIX_SOURCE_HELP_DIR)}};
  TfrmManifestEditor editor{suite, services, help};
};

TEST_F(ManifestEditorTest, WindowAsDesigned) {
  EXPECT_EQ(editor.windowTitle(), QStringLiteral("Manifest Editor"));
  EXPECT_EQ(editor.size(), QSize(505, 377));
  EXPECT_EQ(editor.minimumSize(), editor.maximumSize());
  EXPECT_EQ(editor.Grid().columnWidth(0), 232);
  EXPECT_EQ(editor.Grid().columnWidth(1), 232);
  EXPECT_FALSE(editor.Grid().horizontalHeader()->isVisible());
}

TEST_F(ManifestEditorTest, LoadShowsTheManifestAsSortedKeyValueRows) {
  struct Case {
    const char* name;
    std::string manifest;
    Rows rows;
  };
  const Case cases[] = {
      {"sorted - the first colon and its space split",
       "Manifest-Version: 1.0\r\nMIDlet-Name: Foo\r\nCreated-By: X\r\n\r\n",
       {{"Created-By", "X"}, {"Manifest-Version", "1.0"}, {"MIDlet-Name", "Foo"}}},
      {"later colons stay in the value",
       "MIDlet-Description: Level 2: Boss\r\nMIDlet-Name: Foo\r\n",
       {{"MIDlet-Description", "Level 2: Boss"}, {"MIDlet-Name", "Foo"}}},
      {"empty lines and LF line ends", "MIDlet-Name: Foo\n\n\nMIDlet-Version: 3\n",
       {{"MIDlet-Name", "Foo"}, {"MIDlet-Version", "3"}}},
  };
  std::vector<JarSpec> specs;
  for (const Case& c : cases) specs.push_back(MidletJar(dir.filePath(QLatin1String(c.name) + ".jar"), c.manifest));
  MakeJars(specs);
  for (const Case& c : cases) {
    jar = dir.filePath(QLatin1String(c.name) + ".jar");
    Show();
    EXPECT_EQ(GridRows(), c.rows) << c.name;
    EXPECT_TRUE(rec.messages.empty()) << c.name;
    editor.btnManifestCancelClick();
  }
}

TEST_F(ManifestEditorTest, SaveWithAllOptionsBacksUpRenamesAndWritesJad) {
  MakeGame();
  AllOptions(true);
  Show();
  SetValue(QStringLiteral("MIDlet-Version"), QStringLiteral("2.0"));
  editor.btnManifestSaveClick();

  ASSERT_TRUE(rec.messages.empty()) << rec.messages[0].text;
  EXPECT_FALSE(editor.isVisible());
  EXPECT_EQ(DirEntries(dir.path()), (QStringList{"Foo 2.0.jad", "Foo 2.0.jar", "Game.bak"}));
  EXPECT_EQ(ReadFile(dir.filePath("Game.bak")), original);
  const QString saved = dir.filePath(QStringLiteral("Foo 2.0.jar"));
  EXPECT_EQ(suite.ManifestJarFile, ToNativePath(saved));
  EXPECT_EQ(UnzipTest(saved), 0);
  const std::string manifest = SavedManifest(saved);
  EXPECT_NE(manifest.find("MIDlet-Version: 2.0\r\n"), std::string::npos) << manifest;
  EXPECT_EQ(manifest.find("1.0\r\nMIDlet-Version"), std::string::npos);
  // Everything else is as it was, in the same order.
  auto before = Members(dir.filePath("Game.bak"));
  auto after = Members(saved);
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].first, before[i].first);
    if (after[i].first != "META-INF/MANIFEST.MF") {
      EXPECT_EQ(after[i].second, before[i].second) << after[i].first;
    }
  }
  EXPECT_EQ(before.size(), 4u);
  const std::string jad = ReadFile(dir.filePath("Foo 2.0.jad"));
  EXPECT_NE(jad.find("MIDlet-Jar-URL: Foo 2.0.jar\r\n"), std::string::npos) << jad;
}

TEST_F(ManifestEditorTest, SaveWithOptionsOffChangesOnlyTheJar) {
  MakeGame();
  AllOptions(false);
  Show();
  SetValue(QStringLiteral("MIDlet-Vendor"), QStringLiteral("Someone Else"));
  editor.btnManifestSaveClick();
  ASSERT_TRUE(rec.messages.empty()) << rec.messages[0].text;
  EXPECT_EQ(DirEntries(dir.path()), QStringList{"Game.jar"});
  EXPECT_EQ(UnzipTest(jar), 0);
  EXPECT_NE(SavedManifest(jar).find("MIDlet-Vendor: Someone Else\r\n"), std::string::npos);
}

TEST_F(ManifestEditorTest, CancelWritesNothing) {
  MakeGame();
  Show();
  SetValue(QStringLiteral("MIDlet-Name"), QStringLiteral("Changed"));
  editor.AddAttribute1Click();
  editor.btnManifestCancelClick();
  EXPECT_FALSE(editor.isVisible());
  EXPECT_EQ(DirEntries(dir.path()), QStringList{"Game.jar"});
  EXPECT_EQ(ReadFile(jar), original);
  // Shown again, the grid is read from the JAR again.
  Show();
  EXPECT_EQ(editor.Model().Value(RowOf(QStringLiteral("MIDlet-Name"))), QStringLiteral("Foo"));
}

TEST_F(ManifestEditorTest, AddedRowsAreSavedAndAnEmptyRowIsNot) {
  MakeGame();
  AllOptions(false);
  Show();
  const int before = editor.Model().RowCount();
  editor.AddAttribute1Click();  // stays empty
  editor.AddAttribute1Click();
  ASSERT_EQ(editor.Model().RowCount(), before + 2);
  EXPECT_EQ(editor.Grid().currentIndex().row(), before + 1);
  editor.Model().setData(editor.Model().index(before + 1, 0), QStringLiteral("X"), Qt::EditRole);
  editor.Model().setData(editor.Model().index(before + 1, 1), QStringLiteral("a=b"), Qt::EditRole);
  editor.btnManifestSaveClick();
  ASSERT_TRUE(rec.messages.empty()) << rec.messages[0].text;
  const std::string manifest = SavedManifest(jar);
  EXPECT_NE(manifest.find("\r\nX: a=b\r\n"), std::string::npos) << manifest;
  EXPECT_EQ(manifest.find(": \r\n"), std::string::npos) << manifest;
  EXPECT_NE(manifest.rfind(": ", 0), 0u) << manifest;
  EXPECT_EQ(manifest.find("\r\n: "), std::string::npos) << manifest;
}

TEST_F(ManifestEditorTest, DeleteAttributeRemovesTheCurrentRowOnly) {
  MakeGame();
  AllOptions(false);
  Show();
  const int vendor = RowOf(QStringLiteral("MIDlet-Vendor"));
  editor.Grid().setCurrentIndex(editor.Model().index(vendor, 1));
  editor.findChild<QAction*>(QStringLiteral("DeleteAttribute1"))->trigger();
  EXPECT_EQ(RowOf(QStringLiteral("MIDlet-Vendor")), -1);
  EXPECT_EQ(editor.Model().RowCount(), 4);
  editor.Grid().setCurrentIndex(QModelIndex());
  editor.DeleteAttribute1Click();
  EXPECT_EQ(editor.Model().RowCount(), 4);
  editor.btnManifestSaveClick();
  EXPECT_EQ(SavedManifest(jar).find("MIDlet-Vendor"), std::string::npos);
}

TEST_F(ManifestEditorTest, BytesThatAreNotUtf8SurviveAnUnrelatedEdit) {
  MakeGame("MIDlet-Name: Foo\r\nMIDlet-Vendor: Caf\xE9 Soft\r\nMIDlet-Version: 1.0\r\n\r\n");
  AllOptions(false);
  Show();
  EXPECT_EQ(editor.Model().Value(RowOf(QStringLiteral("MIDlet-Vendor"))), QString::fromLatin1("Caf\xE9 Soft"));
  SetValue(QStringLiteral("MIDlet-Version"), QStringLiteral("1.1"));
  editor.btnManifestSaveClick();
  const std::string manifest = SavedManifest(jar);
  EXPECT_NE(manifest.find("MIDlet-Vendor: Caf\xE9 Soft\r\n"), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("MIDlet-Version: 1.1\r\n"), std::string::npos) << manifest;
}

// A windows-1251 manifest: shown in Cyrillic, an edit written back in
// windows-1251, a character that code page lacks refused and named.
TEST_F(ManifestEditorTest, ALegacyCodePageIsShownAndWrittenInThatCodePage) {
  const std::string name = "\xC8\xE3\xF0\xE0 \xC7\xEC\xE5\xE9\xEA\xE0";  // "Игра Змейка"
  MakeGame("MIDlet-Name: " + name + "\r\nMIDlet-Vendor: \xCC\xEE\xE1\xE8\xEB\xFC\xED\xFB\xE5 \xE8\xE3\xF0\xFB\r\n"
           "MIDlet-Version: 1.0\r\n\r\n");
  AllOptions(false);
  Show();
  EXPECT_EQ(editor.Model().Value(RowOf(QStringLiteral("MIDlet-Name"))), QStringLiteral("Игра Змейка"));
  SetValue(QStringLiteral("MIDlet-Vendor"), QStringLiteral("贪吃蛇 Studio"));
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_NE(rec.messages[0].text.find("贪"), std::string::npos) << rec.messages[0].text;
  EXPECT_NE(rec.messages[0].text.find("windows-1251"), std::string::npos) << rec.messages[0].text;
  EXPECT_EQ(editor.Model().Value(RowOf(QStringLiteral("MIDlet-Vendor"))), QStringLiteral("Мобильные игры"));
  SetValue(QStringLiteral("MIDlet-Vendor"), QStringLiteral("Студия"));
  editor.btnManifestSaveClick();
  const std::string manifest = SavedManifest(jar);
  EXPECT_NE(manifest.find("MIDlet-Name: " + name + "\r\n"), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("MIDlet-Vendor: \xD1\xF2\xF3\xE4\xE8\xFF\r\n"), std::string::npos) << manifest;
}

TEST_F(ManifestEditorTest, ALineBreakTypedIntoACellCannotSplitTheAttribute) {
  MakeGame();
  AllOptions(false);
  Show();
  SetValue(QStringLiteral("MIDlet-Vendor"), QStringLiteral("Two\r\nLines\nHere"));
  editor.btnManifestSaveClick();
  EXPECT_NE(SavedManifest(jar).find("MIDlet-Vendor: Two Lines Here\r\n"), std::string::npos);
}

TEST_F(ManifestEditorTest, AnEditInProgressIsSavedToo) {
  MakeGame();
  AllOptions(false);
  Show();
  const QModelIndex cell = editor.Model().index(RowOf(QStringLiteral("MIDlet-Vendor")), 1);
  editor.Grid().setCurrentIndex(cell);
  editor.Grid().edit(cell);
  auto* line = editor.Grid().viewport()->findChild<QLineEdit*>();
  ASSERT_NE(line, nullptr);
  line->setText(QStringLiteral("Typed Vendor"));
  editor.btnManifestSaveClick();
  EXPECT_NE(SavedManifest(jar).find("MIDlet-Vendor: Typed Vendor\r\n"), std::string::npos);
}

TEST_F(ManifestEditorTest, AFailedSaveShowsTheErrorAndKeepsTheEdits) {
  MakeGame();
  AllOptions(true);
  Show();
  SetValue(QStringLiteral("MIDlet-Name"), QStringLiteral("Kept"));
  QFile::remove(jar);  // gone while the editor was open
  editor.btnManifestSaveClick();
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_EQ(rec.messages[0].icon, MsgIcon::Error);
  EXPECT_TRUE(editor.isVisible());
  EXPECT_EQ(editor.Model().Value(RowOf(QStringLiteral("MIDlet-Name"))), QStringLiteral("Kept"));
  EXPECT_TRUE(DirEntries(dir.path()).isEmpty()) << DirEntries(dir.path()).join(',').toStdString();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ManifestEditorTest, AJarWithoutManifestOpensEmptyAfterTheError) {
  MakeJars({JarSpec{jar, {{"readme.txt", "hello"}}}});
  Show();
  EXPECT_TRUE(editor.isVisible());
  EXPECT_EQ(editor.Model().RowCount(), 0);
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_EQ(rec.messages[0].icon, MsgIcon::Error);
}


// A signed JAR: the editor asks before a save breaks the signature; No keeps
// the JAR byte for byte and the edits in the window, Yes saves.
TEST_F(ManifestEditorTest, ASaveThatBreaksASignatureIsAskedFirst) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> extraMembers;
    std::string jad;  // "" for none
    bool answer;
    const char* questionHas;  // nullptr: no question
  };
  const Case cases[] = {
      {"unsigned", {}, "MIDlet-Name: Foo\r\n", true, nullptr},
      {"jar signature, no", {{"META-INF/ME.SF", "x"}, {"META-INF/ME.RSA", "y"}}, "", false, "META-INF/ME.SF signs"},
      {"jar signature, yes", {{"META-INF/ME.SF", "x"}, {"META-INF/ME.EC", "y"}}, "", true, "META-INF/ME.SF signs"},
      {"sf without its block", {{"META-INF/ME.SF", "x"}}, "", true, nullptr},
      {"midp signature, no", {}, "MIDlet-Jar-RSA-SHA1: AAAA\r\nMIDlet-Certificate-1-1: AAAA\r\n", false,
       "Game.jad holds its MIDP signature"},
  };
  AllOptions(false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JarSpec spec = MidletJar(jar, kGameManifest);
    for (const auto& [name, bytes] : c.extraMembers) spec.members.push_back({name, bytes});
    MakeJars({spec});
    const QString jad = dir.filePath(QStringLiteral("Game.jad"));
    QFile::remove(jad);
    if (!c.jad.empty()) WriteFile(jad, c.jad);
    original = ReadFile(jar);
    std::vector<UserMessage> questions;
    services.AskYesNo = [&](QWidget*, const UserMessage& q) {
      questions.push_back(q);
      return c.answer;
    };
    Show();
    SetValue(QStringLiteral("MIDlet-Vendor"), QStringLiteral("Someone Else"));
    editor.btnManifestSaveClick();
    ASSERT_EQ(questions.size(), c.questionHas ? 1u : 0u);
    if (c.questionHas) {
      EXPECT_NE(questions[0].text.find(c.questionHas), std::string::npos) << questions[0].text;
      EXPECT_NE(questions[0].text.find("breaks the signature"), std::string::npos) << questions[0].text;
    }
    EXPECT_TRUE(rec.messages.empty());
    EXPECT_EQ(editor.isVisible(), !c.answer);
    if (c.answer) {
      EXPECT_NE(SavedManifest(jar).find("MIDlet-Vendor: Someone Else\r\n"), std::string::npos);
    } else {
      EXPECT_EQ(ReadFile(jar), original);
      EXPECT_EQ(editor.Model().Value(RowOf(QStringLiteral("MIDlet-Vendor"))), QStringLiteral("Someone Else"));
      editor.btnManifestCancelClick();
    }
    QFile::remove(jar);
  }
}

// ---- The strip above the grid: the suite's icon, name and audit findings ----

// A manifest the audit finds nothing in: every required attribute, the
// MIDlet's class and icon in the JAR (MidletJar holds com/example/Main.class).
std::string CleanManifest(const std::string& extra = "", const std::string& vendor = "Example",
                          const std::string& icon = "/icon.png") {
  return "Manifest-Version: 1.0\r\nMIDlet-Name: Foo\r\nMIDlet-Version: 1.0\r\n" +
         (vendor.empty() ? std::string() : "MIDlet-Vendor: " + vendor + "\r\n") + "MIDlet-1: Foo, " + icon +
         ", com.example.Main\r\nMicroEdition-Profile: MIDP-2.0\r\n"
         "MicroEdition-Configuration: CLDC-1.1\r\n" + extra + "\r\n";
}

// Tool tip text as the user reads it, one line per finding.
QStringList TipLines(const QString& tip) {
  QTextDocument doc;
  doc.setHtml(tip);
  QString text = doc.toPlainText();
  text.replace(QChar::LineSeparator, QLatin1Char('\n'));
  return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// What the header shows, read from its widgets.
struct HeaderView {
  struct Chip {
    QString text;
    QColor colour;
    QStringList lines;
    QRect geometry;
  };
  QString title;
  QImage icon;
  std::vector<Chip> chips;  // the visible ones, left to right
  QString more;             // "" when hidden
  QStringList moreLines;
  bool clean = false;
  int findingsWidth = 0;

  // Every finding the header tells of, as "severity: code: text", sorted.
  QStringList AllFindings() const {
    QStringList all = moreLines;
    if (more.isEmpty())
      for (const Chip& c : chips) all << c.lines;
    all.sort();
    return all;
  }
};

HeaderView ReadHeader(TSuiteHeader& header) {
  HeaderView v;
  v.title = header.findChild<QLabel*>(QStringLiteral("SuiteTitle"))->text();
  v.icon = header.findChild<QLabel*>(QStringLiteral("SuiteIcon"))->pixmap().toImage();
  for (int i = 0; i < TSuiteHeader::kMaxShown; ++i) {
    auto* chip = header.findChild<QLabel*>(QStringLiteral("Finding%1").arg(i));
    if (chip->isHidden()) continue;
    v.chips.push_back({chip->text(), chip->palette().color(QPalette::WindowText), TipLines(chip->toolTip()),
                       chip->geometry()});
    v.findingsWidth = chip->parentWidget()->width();
  }
  auto* more = header.findChild<QLabel*>(QStringLiteral("MoreFindings"));
  if (!more->isHidden()) {
    v.more = more->text();
    v.moreLines = TipLines(more->toolTip());
  }
  v.clean = !header.findChild<QLabel*>(QStringLiteral("NoFindings"))->isHidden();
  return v;
}

// The findings `parcelix check` prints for a JAR, as "severity: code: text", sorted.
QStringList CheckCommandFindings(const QString& jar) {
  QProcess check;
  check.start(QStringLiteral(PARCELIX_BINARY), {QStringLiteral("check"), QStringLiteral("--json"), jar});
  EXPECT_TRUE(check.waitForFinished(60000));
  const QJsonObject result = QJsonDocument::fromJson(check.readAllStandardOutput().split('\n').first()).object();
  QStringList all;
  for (const QJsonValue f : result[QStringLiteral("findings")].toArray())
    all << QStringLiteral("%1: %2: %3").arg(f[QStringLiteral("severity")].toString(),
                                            f[QStringLiteral("code")].toString(), f[QStringLiteral("text")].toString());
  all.sort();
  return all;
}

QImage Argb(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32_Premultiplied); }

TEST_F(ManifestEditorTest, HeaderShowsTheSuitesIconElseTheNeutralJarIcon) {
  struct Case {
    const char* name;
    std::string manifest;
    std::vector<std::pair<std::string, std::string>> members;
    unsigned colour;  // the disc colour at the icon's centre; 0: the neutral icon
  };
  const std::string broken = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(64, '\x7f');
  const Case cases[] = {
      {"MIDlet-Icon", CleanManifest("MIDlet-Icon: /img/i.png\r\n"), {{"img/i.png", PngIcon(0x2060C0, 48)}}, 0x2060C0},
      {"icon field of MIDlet-1", CleanManifest(), {{"icon.png", PngIcon(0xE07020, 16)}}, 0xE07020},
      {"MIDlet-Icon before MIDlet-1", CleanManifest("MIDlet-Icon: i.png\r\n"),
       {{"i.png", PngIcon(0x209040)}, {"icon.png", PngIcon(0xE07020)}}, 0x209040},
      {"icon not in the JAR", CleanManifest(), {}, 0},
      {"icon that does not decode", CleanManifest(), {{"icon.png", broken}}, 0},
      {"no icon named", CleanManifest("", "Example", ""), {{"icon.png", PngIcon(0xE07020)}}, 0},
  };
  const QImage neutral = Argb(TCheckListBox::NeutralJarIcon(TSuiteHeader::kIconSide));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JarSpec spec = MidletJar(jar, c.manifest);
    for (const auto& m : c.members) spec.members.push_back(m);
    MakeJars({spec});
    Show();
    const HeaderView v = ReadHeader(editor.Header());
    EXPECT_EQ(v.title, QString::fromUtf8("Foo 1.0 \u2014 Example"));
    const QImage icon = Argb(v.icon);
    ASSERT_EQ(icon.size(), QSize(TSuiteHeader::kIconSide, TSuiteHeader::kIconSide));
    EXPECT_EQ(editor.Header().HasSuiteIcon(), c.colour != 0);
    if (c.colour) {
      EXPECT_EQ(icon.pixel(16, 16), 0xFF000000u | c.colour);
    } else {
      EXPECT_EQ(icon, neutral);
    }
    editor.btnManifestCancelClick();
  }
}

// The header tells what `parcelix check` finds: the worst codes that fit,
// in the severity's colour, the rest counted, every sentence in a tool tip.
TEST_F(ManifestEditorTest, HeaderShowsTheFindingsOfTheCheckCommand) {
  struct Case {
    const char* name;
    std::string manifest;
    std::string jad;        // "" for none
    const char* firstChip;  // nullptr: a clean JAR
    AuditSeverity severity;
    bool overflows;  // more codes than fit: "+N more"
  };
  const Case cases[] = {
      {"clean", CleanManifest(), "", nullptr, AuditSeverity::info, false},
      {"no MIDlet-Vendor", CleanManifest("", ""), "", "missing-attribute", AuditSeverity::error, false},
      {"icon gone", CleanManifest("MIDlet-Icon: /gone.png\r\n"), "", "missing-icon", AuditSeverity::warning, false},
      {"stale JAD", CleanManifest(),
       "MIDlet-Name: Foo\r\nMIDlet-Version: 1.0\r\nMIDlet-Vendor: Example\r\nMIDlet-Jar-URL: Game.jar\r\n"
       "MIDlet-Jar-Size: 99\r\n",
       "jad-size-mismatch", AuditSeverity::error, false},
      {"many", "\xEF\xBB\xBFManifest-Version: 1.0\r\nMIDlet-Name: Foo\r\nMIDlet-Version: 1.0.0.0\r\n"
               "MIDlet-Icon: /gone.png\r\nMIDlet-Description: " + std::string(90, 'd') +
               "\r\nMIDlet-1: Foo, /gone.png, com.example.Gone\r\nMIDlet-2: Bar, /bar.png, a.B",
       "MIDlet-Name: Foo\r\nMIDlet-Jar-URL: Other.jar\r\n", "manifest-no-final-newline", AuditSeverity::error, true},
  };
  const auto rank = [](const HeaderView::Chip& c) {
    if (c.lines.isEmpty()) return -1;
    return c.lines[0].startsWith(QLatin1String("error")) ? 2 : c.lines[0].startsWith(QLatin1String("warning")) ? 1 : 0;
  };
  const QString jad = dir.filePath(QStringLiteral("Game.jad"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JarSpec spec = MidletJar(jar, c.manifest);
    spec.members.push_back({"icon.png", PngIcon(0xE07020)});
    MakeJars({spec});
    QFile::remove(jad);
    if (!c.jad.empty()) WriteFile(jad, c.jad);
    Show();
    const HeaderView v = ReadHeader(editor.Header());
    const QStringList all = CheckCommandFindings(jar);
    EXPECT_EQ(v.AllFindings(), all);
    EXPECT_EQ(v.clean, c.firstChip == nullptr);
    EXPECT_EQ(v.chips.empty(), c.firstChip == nullptr);
    EXPECT_EQ(!v.more.isEmpty(), c.overflows);
    if (c.firstChip) {
      ASSERT_FALSE(v.chips.empty());
      EXPECT_EQ(v.chips[0].text, QStringLiteral("\u25CF ") + QLatin1String(c.firstChip));
      EXPECT_EQ(v.chips[0].colour, SeverityColour(c.severity));
    }
    qsizetype covered = 0;
    for (size_t i = 0; i < v.chips.size(); ++i) {
      covered += v.chips[i].lines.size();
      if (i > 0) {
        EXPECT_LE(rank(v.chips[i]), rank(v.chips[i - 1])) << v.chips[i].text.toStdString();
      }
      EXPECT_LE(v.chips[i].geometry.right(), v.findingsWidth) << v.chips[i].text.toStdString();
    }
    if (c.overflows) {
      EXPECT_EQ(v.more, QStringLiteral("+%1 more").arg(all.size() - covered));
    }
    // The grid only gets shorter.
    EXPECT_EQ(editor.size(), QSize(505, 377));
    EXPECT_GT(editor.Grid().height(), 200);
    editor.btnManifestCancelClick();
  }
  QFile::remove(jad);
}

// The header follows the JAR: another JAR when the editor opens again, and
// the saved JAR after a save.
TEST_F(ManifestEditorTest, HeaderFollowsTheJarItShows) {
  const QString other = dir.filePath(QStringLiteral("Other.jar"));
  JarSpec withIcon = MidletJar(other, CleanManifest("", "Someone <b>Else</b>"));
  withIcon.members.push_back({"icon.png", PngIcon(0x2060C0)});
  MakeJars({MidletJar(jar, CleanManifest("", "", "")), withIcon});
  AllOptions(false);
  Show();
  HeaderView v = ReadHeader(editor.Header());
  EXPECT_EQ(v.title, QStringLiteral("Foo 1.0"));
  EXPECT_FALSE(editor.Header().HasSuiteIcon());
  ASSERT_FALSE(v.chips.empty());
  EXPECT_EQ(v.chips[0].text, QStringLiteral("\u25CF missing-attribute"));
  editor.btnManifestCancelClick();

  jar = other;
  Show();
  v = ReadHeader(editor.Header());
  EXPECT_EQ(v.title, QStringLiteral("Foo 1.0 \u2014 Someone <b>Else</b>"));
  EXPECT_TRUE(editor.Header().HasSuiteIcon());
  EXPECT_TRUE(v.chips.empty());
  EXPECT_TRUE(v.clean);
  editor.btnManifestCancelClick();

  jar = dir.filePath(QStringLiteral("Game.jar"));
  Show();
  editor.AddAttribute1Click();
  const int row = editor.Model().RowCount() - 1;
  editor.Model().setData(editor.Model().index(row, 0), QStringLiteral("MIDlet-Vendor"), Qt::EditRole);
  editor.Model().setData(editor.Model().index(row, 1), QStringLiteral("Example"), Qt::EditRole);
  editor.btnManifestSaveClick();
  ASSERT_TRUE(rec.messages.empty()) << rec.messages[0].text;
  v = ReadHeader(editor.Header());
  EXPECT_EQ(v.title, QString::fromUtf8("Foo 1.0 \u2014 Example"));
  EXPECT_TRUE(v.clean);
  EXPECT_TRUE(v.chips.empty()) << v.AllFindings().join('\n').toStdString();
}

}  // namespace
}  // namespace parcelix::test
