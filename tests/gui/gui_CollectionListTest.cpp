// The Rename and Make JAD lists as a collection: icons, what a run will do with each JAR, and adding folders.
#include <unistd.h>

#include <memory>

#include <gtest/gtest.h>
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QTest>

#include "app/gui/HelpViewer.h"
#include "app/gui/mainUnit.h"
#include "gui_Support.h"
#include "gui_WindowFixture.h"

namespace parcelix::test {
namespace {

constexpr unsigned kRed = 0xD03030;
constexpr unsigned kBlue = 0x3050D0;

std::string Manifest(const std::string& attributes) { return "Manifest-Version: 1.0\r\n" + attributes + "\r\n"; }

// Flips a byte inside the compressed manifest (the first member, as
// MidletJar and MakeCollection store it): its CRC check fails.
void DamageManifest(const QString& jar) {
  std::string bytes = ReadFile(jar);
  ASSERT_GT(bytes.size(), 60u);
  bytes[30 + 20 + 5] ^= 0x55;
  WriteFile(jar, bytes);
}

constexpr const char* kDamaged = "damaged: File fails CRC check (META-INF/MANIFEST.MF)";
// Any reason that starts so: the engine's words for what is wrong may change.
constexpr const char* kAnyDamage = "damaged*";

// Bytes that do not compress, the same on every run.
std::string Noise(size_t size) {
  std::string out(size, '\0');
  uint32_t x = 2463534242u;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return out;
}

class CollectionListTest : public WindowFixture {
 protected:
  void SetUp() override { OpenWindow(); }
  TCheckListModel& Renames() { return window->RenameListBox().Items(); }
  TCheckListModel& Jads() { return window->MakeJadListBox().Items(); }
  void WaitForPreviews() { ASSERT_TRUE(QTest::qWaitFor([this] { return window->PreviewsReady(); }, 20000)); }
  int RowOf(const TCheckListModel& m, const QString& file) const {
    for (int i = 0; i < m.Count(); ++i)
      if (QFileInfo(m.Path(i)).fileName() == file) return i;
    return -1;
  }
  QVariant Cell(TCheckListModel& m, const QString& file, int column, int role = Qt::DisplayRole) {
    const int row = RowOf(m, file);
    EXPECT_GE(row, 0) << file.toStdString();
    return m.data(m.index(row, column), role);
  }
  QString Result(TCheckListModel& m, const QString& file) { return Cell(m, file, 1).toString(); }
  void ExpectResult(TCheckListModel& m, const QString& file, const QString& expected) {
    const QString result = Result(m, file);
    if (expected.endsWith(QLatin1Char('*')))
      EXPECT_TRUE(result.startsWith(expected.chopped(1))) << result.toStdString();
    else
      EXPECT_EQ(result, expected);
  }
  bool Problem(TCheckListModel& m, const QString& file) {
    return Cell(m, file, 1, Qt::ForegroundRole).value<QColor>() == QColor(0xb0, 0x00, 0x20);
  }
  // The colour in the middle of a row's icon; 0 for the neutral JAR icon.
  unsigned IconColour(TCheckListModel& m, const QString& file) {
    const QImage icon = Cell(m, file, 0, Qt::DecorationRole).value<QImage>();
    const int side = window->RenameListBox().IconSide();
    EXPECT_EQ(icon.size(), QSize(side, side)) << file.toStdString();
    if (icon == TCheckListBox::NeutralJarIcon(side)) return 0;
    return icon.pixel(side / 2, side / 2) & 0xFFFFFF;
  }
};

// One JAR of the collection and what its row must show.
struct RowCase {
  const char* file;
  std::string manifest;  // empty: no JAR at all but these bytes ("garbage")
  std::vector<std::pair<std::string, std::string>> extra;
  unsigned icon;          // colour in the icon's middle; 0: the neutral icon
  const char* withVersion;  // the second column with Add version on
  bool problem;
};

std::vector<RowCase> Collection() {
  const std::string red = PngIcon(kRed), blue = PngIcon(kBlue);
  return {
      {"moon.jar", Manifest("MIDlet-Name: Moon Miner\r\nMIDlet-Vendor: Ann\r\nMIDlet-Version: 1.2\r\n"
                            "MIDlet-Icon: /icons/moon.png\r\nMIDlet-1: Moon, /wrong.png, M\r\n"),
       {{"icons/moon.png", red}, {"wrong.png", blue}}, kRed, "Moon Miner 1.2.jar", false},
      {"kart.jar", Manifest("MIDlet-Name: Kart\r\nMIDlet-Version: 2.0\r\nMIDlet-1: Kart, /kart.png, KartMIDlet\r\n"),
       {{"kart.png", blue}}, kBlue, "Kart 2.0.jar", false},
      // Not read: a member above 1 MiB is no icon a phone shows.
      {"big.jar", Manifest("MIDlet-Name: Big\r\nMIDlet-Version: 1\r\nMIDlet-Icon: big.png\r\n"),
       {{"big.png", PngIcon(kRed, 800, 2400000)}}, 0, "Big 1.jar", false},
      {"broken.jar", Manifest("MIDlet-Name: Broken Icon\r\nMIDlet-Icon: i.png\r\n"), {{"i.png", "not a picture"}}, 0,
       "Broken Icon.jar", false},
      {"absent.jar", Manifest("MIDlet-Name: Absent\r\nMIDlet-1: Absent, /sub/none.png, A\r\n"), {{"none.png", red}},
       0, "Absent.jar", false},
      {"Tile Tower 1.0.jar", Manifest("MIDlet-Name: Tile Tower\r\nMIDlet-Version: 1.0\r\n"), {}, 0, "already named",
       false},
      {"damaged.jar", Manifest("MIDlet-Name: Damaged\r\nMIDlet-Icon: i.png\r\n"), {{"i.png", red}}, 0, kDamaged,
       true},
      {"noname.jar", Manifest("MIDlet-Vendor: Ann\r\n"), {}, 0, "no MIDlet-Name", true},
      // A sound ZIP without a manifest is told apart from files that are no ZIP at all: text named
      // .jar, a local header and nothing after it, a JAR cut off before its manifest.
      {"nomanifest.jar", "", {{"readme.txt", "x"}}, 0, "no META-INF/MANIFEST.MF", true},
      {"garbage.jar", "", {}, 0, kAnyDamage, true},
      {"text.jar", "", {}, 0, kAnyDamage, true},
      {"cut.jar", "", {{"game.class", Noise(40000)}, {"META-INF/MANIFEST.MF", Manifest("MIDlet-Name: Cut\r\n")}}, 0,
       kAnyDamage, true},
      {"snake.jar", Manifest("MIDlet-Name: Snake\r\nMIDlet-Version: 1.0\r\n"), {}, 0, "name taken: Snake 1.0.jar",
       true},
      // The first moves away from the name the second wants: the run frees it in time.
      {"Chain.jar", Manifest("MIDlet-Name: Linked\r\nMIDlet-Version: 1\r\n"), {}, 0, "Linked 1.jar", false},
      {"chainz.jar", Manifest("MIDlet-Name: Chain\r\n"), {}, 0, "Chain.jar", false},
      {"duel_a.jar", Manifest("MIDlet-Name: Duel\r\nMIDlet-Version: 3\r\n"), {}, 0, "Duel 3.jar", false},
      {"duel_b.jar", Manifest("MIDlet-Name: Duel\r\nMIDlet-Version: 3\r\n"), {}, 0, "name taken: Duel 3.jar", true},
  };
}

void MakeCollection(const QTemporaryDir& dir, const std::vector<RowCase>& rows) {
  std::vector<JarSpec> specs;
  for (const RowCase& c : rows) {
    JarSpec spec{dir.filePath(QLatin1String(c.file)), c.extra};
    if (!c.manifest.empty()) spec.members.insert(spec.members.begin(), {"META-INF/MANIFEST.MF", c.manifest});
    specs.push_back(spec);
  }
  MakeJars(specs);
  DamageManifest(dir.filePath(QStringLiteral("damaged.jar")));
  WriteFile(dir.filePath(QStringLiteral("garbage.jar")), "PK\x03\x04 this is no archive");
  WriteFile(dir.filePath(QStringLiteral("text.jar")), "Manifest-Version: 1.0\r\nMIDlet-Name: Text\r\n\r\n");
  const QString cut = dir.filePath(QStringLiteral("cut.jar"));
  WriteFile(cut, ReadFile(cut).substr(0, 20000));
  WriteFile(dir.filePath(QStringLiteral("Snake 1.0.jar")), "another file has the name");
}

TEST_F(CollectionListTest, RowsShowIconsAndWhatTheRenameWillDoAndTheRenameDoesIt) {
  const std::vector<RowCase> rows = Collection();
  MakeCollection(dir, rows);
  QStringList paths;
  for (const RowCase& c : rows) paths << P(QLatin1String(c.file));
  rec.nextFiles = paths;
  window->btnRenAddClick();
  window->RenameSelectAllClick();
  WaitForPreviews();

  for (const RowCase& c : rows) {
    SCOPED_TRACE(c.file);
    ExpectResult(Renames(), QLatin1String(c.file), QString::fromUtf8(c.withVersion));
    EXPECT_EQ(Problem(Renames(), QLatin1String(c.file)), c.problem);
    EXPECT_EQ(IconColour(Renames(), QLatin1String(c.file)), c.icon);
  }
  // unzip agrees: the files called damaged are no sound archives, the one without a manifest is.
  for (const RowCase& c : rows) {
    const std::string said = c.withVersion;
    const bool noManifest = said.starts_with("no META");
    if (noManifest || said == kAnyDamage) {
      EXPECT_EQ(UnzipTest(P(QLatin1String(c.file))) == 0, noManifest) << c.file;
    }
  }
  const QString tip = Cell(Renames(), QStringLiteral("moon.jar"), 0, Qt::ToolTipRole).toString();
  EXPECT_EQ(tip, P("moon.jar") + "\nName: Moon Miner\nVendor: Ann\nVersion: 1.2");

  // Only checked rows take names: with the first Duel unchecked the second gets it.
  Renames().SetChecked(RowOf(Renames(), QStringLiteral("duel_a.jar")), false);
  WaitForPreviews();
  EXPECT_EQ(Result(Renames(), QStringLiteral("duel_b.jar")), QStringLiteral("Duel 3.jar"));
  Renames().SetChecked(RowOf(Renames(), QStringLiteral("duel_a.jar")), true);

  // The previews follow the options as they change.
  window->Pages().setCurrentIndex(2);
  window->findChild<QAbstractButton*>(QStringLiteral("AddVersionCheckBox"))->click();
  WaitForPreviews();
  EXPECT_EQ(Result(Renames(), QStringLiteral("moon.jar")), QStringLiteral("Moon Miner.jar"));
  EXPECT_EQ(Result(Renames(), QStringLiteral("snake.jar")), QStringLiteral("Snake.jar"));
  EXPECT_FALSE(Problem(Renames(), QStringLiteral("snake.jar")));
  auto* tmpl = window->findChild<QLineEdit*>(QStringLiteral("TemplateEdit"));
  tmpl->setText(QStringLiteral("{MIDlet-Vendor}/{MIDlet-Name}"));
  WaitForPreviews();
  EXPECT_EQ(Result(Renames(), QStringLiteral("moon.jar")), QStringLiteral("Ann/Moon Miner.jar"));
  EXPECT_EQ(Result(Renames(), QStringLiteral("kart.jar")), QStringLiteral("no MIDlet-Vendor"));
  tmpl->setText(QString());
  window->findChild<QAbstractButton*>(QStringLiteral("AddVersionCheckBox"))->click();
  WaitForPreviews();

  // What the rows said is what the rename does.
  struct Said {
    QString path, text;
    bool problem;
  };
  std::vector<Said> said;
  int unchecked = 0;
  for (int i = 0; i < Renames().Count(); ++i) {
    const QString file = QFileInfo(Renames().Path(i)).fileName();
    said.push_back({Renames().Path(i), Result(Renames(), file), Problem(Renames(), file)});
    // An unreadable JAR would stop the batch with an error: the user, told
    // so by its row, leaves it out.
    const QString& text = said.back().text;
    if (text.startsWith(QStringLiteral("damaged")) || text.startsWith(QStringLiteral("no META"))) {
      Renames().SetChecked(i, false);
      ++unchecked;
    }
  }
  QStringList expectedAfter = DirEntries(dir.path());
  window->Pages().setCurrentIndex(0);
  window->btnRenRenameClick();
  EXPECT_TRUE(rec.messages.empty());
  EXPECT_EQ(Renames().Count(), unchecked);
  for (const Said& s : said) {
    if (s.problem || s.text == QStringLiteral("already named")) continue;
    expectedAfter.removeOne(QFileInfo(s.path).fileName());
    expectedAfter << s.text;
  }
  QStringList after = DirEntries(dir.path());
  after.sort();
  expectedAfter.sort();
  EXPECT_EQ(after.join(QLatin1Char('|')).toStdString(), expectedAfter.join(QLatin1Char('|')).toStdString());
  EXPECT_NE(ReadMember(P("Chain.jar"), "META-INF/MANIFEST.MF").find("MIDlet-Name: Chain\r\n"), std::string::npos);
  EXPECT_EQ(UnzipTest(P("Moon Miner 1.2.jar")), 0);
  EXPECT_EQ(ReadFile(P("Snake 1.0.jar")), "another file has the name");
}

TEST_F(CollectionListTest, NewNamesFollowTheCodePageOfTheSettings) {
  // "Игра" in windows-1251; read as KOI8-R the same bytes say "хЦПЮ".
  MakeJars({MidletJar(P("igra.jar"), Manifest("MIDlet-Name: \xC8\xE3\xF0\xE0\r\nMIDlet-Version: 1.0\r\n"))});
  const struct {
    const char* codePage;
    const char* newName;
  } cases[] = {{"windows-1251", "Игра 1.0.jar"}, {"KOI8-R", "хЦПЮ 1.0.jar"}};
  rec.nextFiles = {P("igra.jar")};
  window->btnRenAddClick();
  for (const auto& c : cases) {
    WriteFile(env.SettingsFile(), std::string("[Rename]\nAddVersion=1\nCodePage=") + c.codePage + "\n");
    window->Pages().setCurrentIndex(2);  // the Options tab reads the settings again
    WaitForPreviews();
    window->Pages().setCurrentIndex(0);
    EXPECT_EQ(Result(Renames(), QStringLiteral("igra.jar")), QString::fromUtf8(c.newName)) << c.codePage;
  }
  Renames().CheckAll(true);
  window->btnRenRenameClick();
  EXPECT_TRUE(QFileInfo::exists(P(QString::fromUtf8("хЦПЮ 1.0.jar"))));
}

TEST_F(CollectionListTest, MakeJadRowsNameTheJadOrSayWhyNot) {
  MakeJars({MidletJar(P("plain.jar"), Manifest("MIDlet-Name: Plain\r\n")),
            MidletJar(P("signed.jar"), Manifest("MIDlet-Name: Signed\r\n"))});
  WriteFile(P("signed.jad"), "MIDlet-Name: Signed\r\nMIDlet-Jar-RSA-SHA1: c2lnbmF0dXJl\r\n");
  MakeJars({MidletJar(P("damaged.jar"), Manifest("MIDlet-Name: Damaged\r\n"))});
  DamageManifest(P("damaged.jar"));
  window->Pages().setCurrentIndex(1);
  window->WMDropFiles({P("plain.jar"), P("signed.jar"), P("damaged.jar")});
  WaitForPreviews();
  EXPECT_EQ(Result(Jads(), QStringLiteral("plain.jar")), QStringLiteral("plain.jad"));
  EXPECT_FALSE(Problem(Jads(), QStringLiteral("plain.jar")));
  EXPECT_EQ(Result(Jads(), QStringLiteral("signed.jar")), QStringLiteral("signed.jad (replaces the signed JAD)"));
  EXPECT_TRUE(Problem(Jads(), QStringLiteral("signed.jar")));
  EXPECT_EQ(Result(Jads(), QStringLiteral("damaged.jar")), QLatin1String(kDamaged));

  // Once replaced, the JAD is no longer signed and the row reads again.
  Jads().SetChecked(RowOf(Jads(), QStringLiteral("signed.jar")), true);
  window->btnMakeJadMakeClick();
  WaitForPreviews();
  EXPECT_EQ(Result(Jads(), QStringLiteral("signed.jar")), QStringLiteral("signed.jad"));
  EXPECT_EQ(ReadFile(P("signed.jad")).find("RSA"), std::string::npos);
}

TEST_F(CollectionListTest, AddFolderAndDroppedFoldersAddTheJarsBelowThem) {
  QDir root(dir.path());
  root.mkpath(QStringLiteral("games/sub/deeper"));
  root.mkpath(QStringLiteral("other"));
  for (const char* f : {"games/a.jar", "games/sub/b.JAR", "games/sub/deeper/c.jar", "games/notes.txt",
                        "other/d.jar", "loose.jar"})
    WriteFile(P(QLatin1String(f)), "x");
  // A link back up would list the same JARs without end; a link to a JAR file is a JAR.
  ASSERT_EQ(symlink("..", P("games/sub/up").toLocal8Bit().constData()), 0);
  ASSERT_EQ(symlink("a.jar", P("games/alias.jar").toLocal8Bit().constData()), 0);
  const QStringList gamesJars = {"a.jar", "alias.jar", "b.JAR", "c.jar"};
  const auto names = [](const TCheckListModel& m) {
    QStringList out;
    for (int i = 0; i < m.Count(); ++i) out << QFileInfo(m.Path(i)).fileName();
    return out;
  };

  rec.nextFolder = P("games");
  window->btnRenAddFolderClick();
  EXPECT_EQ(names(Renames()), gamesJars);
  EXPECT_EQ(window->AddDialogDirectory(), P("games"));
  rec.nextFolder.clear();  // cancelled
  window->btnMakeJadAddFolderClick();
  EXPECT_EQ(Jads().Count(), 0);

  // The menu item adds to the active tab's list, and only there.
  window->Pages().setCurrentIndex(2);
  rec.nextFolder = P("other");
  window->AddFolder1Click();
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_EQ(rec.messages[0].text, "Please select 'Rename' or 'Make JAD' tab!");
  window->Pages().setCurrentIndex(1);
  window->AddFolder1Click();
  EXPECT_EQ(names(Jads()), QStringList{"d.jar"});

  // A dropped folder brings its JARs; dropped files keep their rules.
  window->WMDropFiles({P("games/sub"), P("loose.jar"), P("games/notes.txt")});
  EXPECT_EQ(names(Jads()), (QStringList{"b.JAR", "c.jar", "loose.jar", "d.jar"}));  // by path
  EXPECT_EQ(names(Renames()), gamesJars);
}

}  // namespace
}  // namespace parcelix::test
