// TMidletSuite on real JARs (tests/data/midlet): manifest reads, rename, JAD, the save and its failures.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "engine/common/arxGbls.h"
#include "midlet/FileUtil.h"
#include "midlet/ManifestModel.h"
#include "midlet/MidletSuite.h"

using namespace parcelix;

namespace {

std::string Fixture(const std::string& name) { return std::string(PARCELIX_TEST_DATA) + "/midlet/" + name; }

std::string ReadAll(const std::string& path) {
  std::string s;
  ReadWholeFile(path, s);
  return s;
}

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class MidletSuiteTest : public ::testing::Test {
 protected:
  TPrivateTempDir dir{"parcelix-suite-test-"};
  TMidletSuite suite;
  // A fixture copied into the scratch directory under a new name.
  std::string Copy(const std::string& fixture, const std::string& as) {
    std::string to = dir.Path() + as;
    CopyFileReplacing(Fixture(fixture), to);
    return to;
  }
};

// ---------------------------------------------------------------- reading the manifest

TEST_F(MidletSuiteTest, ManifestReadOutcomes) {
  struct {
    const char* fixture;
    const char* firstMainLine;  // nullptr: an error of the given kind
    int error;                  // 0 none, 1 missing, 2 damaged
  } cases[] = {
      {"game.jar", "Manifest-Version: 1.0", 0},
      {"nested.jar", "Manifest-Version: 1.0", 0},
      {"nomanifest.jar", nullptr, 1},
      {"crc.jar", nullptr, 2},
  };
  for (const auto& c : cases) {
    std::string jar = Copy(c.fixture, "x.jar");
    try {
      ManifestDoc doc = suite.LoadManifestDoc(jar);
      EXPECT_EQ(c.error, 0) << c.fixture;
      ASSERT_FALSE(doc.empty()) << c.fixture;
      EXPECT_EQ(doc[0], c.firstMainLine) << c.fixture;
    } catch (const EManifestMissing& e) {
      EXPECT_EQ(c.error, 1) << c.fixture;
      EXPECT_STREQ(e.what(), "List index out of bounds (0)");
    } catch (const EJarDamaged& e) {
      EXPECT_EQ(c.error, 2) << c.fixture << ": " << e.what();
    }
  }
  EXPECT_THROW(suite.LoadManifestDoc(dir.Path() + "missing.jar"), EJarDamaged);
  std::ofstream(dir.Path() + "text.jar") << "not an archive\n";
  EXPECT_THROW(suite.LoadManifestDoc(dir.Path() + "text.jar"), EMidletError);
}

TEST_F(MidletSuiteTest, TheManifestIsMetaInfsEvenWhenAnotherComesFirst) {
  std::string jar = Copy("nested.jar", "n.jar");
  EXPECT_EQ(suite.LoadManifestDoc(jar), (ManifestDoc{"Manifest-Version: 1.0", "MIDlet-Name: Outer", "MIDlet-Version: 3", ""}));
  RenameResult r = suite.ComputeMIDletName(jar);
  EXPECT_EQ(r.newPath, dir.Path() + "Outer 3.jar");
}

TEST_F(MidletSuiteTest, SignedJarGivesItsMainSectionOnly) {
  std::string jar = Copy("signed.jar", "s.jar");
  EXPECT_EQ(suite.LoadManifestDoc(jar), (ManifestDoc{"Manifest-Version: 1.0", "MIDlet-Name: Signed", "MIDlet-Version: 2", ""}));
  EXPECT_EQ(suite.LoadManifest(jar), (GridLines{"Manifest-Version=1.0", "MIDlet-Name=Signed", "MIDlet-Version=2"}));
}

// ---------------------------------------------------------------- rename

TEST_F(MidletSuiteTest, RenameOutcomes) {
  struct {
    const char* fixture;
    const char* as;
    bool addVersion;
    const char* want;  // file name afterwards
    bool renamed;
  } cases[] = {
      {"game.jar", "y.JAR", true, "Foo 1.0.jar", true},
      {"game.jar", "y.jar", false, "Foo.jar", true},
      {"game.jar", "Foo 1.0.jar", true, "Foo 1.0.jar", true},  // already named
      {"signed.jar", "z.jar", true, "Signed 2.jar", true},
  };
  for (const auto& c : cases) {
    std::string jar = Copy(c.fixture, c.as);
    suite.Options.AddVersion = c.addVersion;
    RenameResult r = suite.RenameByMIDletName(jar);
    EXPECT_EQ(r.renamed, c.renamed) << c.as;
    EXPECT_EQ(r.newPath, dir.Path() + c.want) << c.as;
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{c.want}) << c.as;
    unlink(r.newPath.c_str());
  }
}

TEST_F(MidletSuiteTest, RenameNeverReplaces) {
  std::string jar = Copy("game.jar", "a.jar");
  std::ofstream(dir.Path() + "Foo 1.0.jar") << "precious";
  RenameResult r = suite.RenameByMIDletName(jar);
  EXPECT_FALSE(r.renamed);
  EXPECT_EQ(r.newPath, dir.Path() + "Foo 1.0.jar");
  EXPECT_EQ(r.reason, "'Foo 1.0.jar' exists");
  EXPECT_EQ(ReadAll(dir.Path() + "Foo 1.0.jar"), "precious");
  EXPECT_EQ(ReadAll(jar), ReadAll(Fixture("game.jar")));
}

TEST_F(MidletSuiteTest, RenameOntoAHardLinkOfItselfKeepsBothNames) {
  std::string jar = Copy("game.jar", "a.jar");
  ASSERT_EQ(link(jar.c_str(), (dir.Path() + "Foo 1.0.jar").c_str()), 0);
  RenameResult r = suite.RenameByMIDletName(jar);
  EXPECT_FALSE(r.renamed);
  EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"Foo 1.0.jar", "a.jar"}));
}

TEST_F(MidletSuiteTest, RenameOfDamagedOrNamelessJarsKeepsThem) {
  EXPECT_THROW(suite.RenameByMIDletName(Copy("crc.jar", "c.jar")), EJarDamaged);
  EXPECT_THROW(suite.RenameByMIDletName(Copy("nomanifest.jar", "n.jar")), EManifestMissing);
  EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"c.jar", "n.jar"}));
}

// ---------------------------------------------------------------- JAD

TEST_F(MidletSuiteTest, JadOfTheGameFixture) {
  std::string jar = Copy("game.jar", "Game.jar");
  std::string jad = suite.MakeJAD(jar);
  EXPECT_EQ(jad, dir.Path() + "Game.jad");
  EXPECT_EQ(ReadAll(jad),
            "Manifest-Version: 1.0\r\n"
            "MicroEdition-Configuration: CLDC-1.1\r\n"
            "MicroEdition-Profile: MIDP-2.0\r\n"
            "MIDlet-1: Foo, /i.png, FooMidlet\r\n"
            "MIDlet-Description: A long description that the JDK's jar tool would fold\r\n"
            "MIDlet-Jar-Size: " + std::to_string(GetJarFileSize(jar)) + "\r\n"
            "MIDlet-Jar-URL: Game.jar\r\n"
            "MIDlet-Name: Foo\r\n"
            "MIDlet-Vendor: Tests\r\n"
            "MIDlet-Version: 1.0\r\n");
}

TEST_F(MidletSuiteTest, JadThatCannotBeWrittenLeavesTheOldOne) {
  std::string jar = Copy("game.jar", "g.jar");
  ASSERT_EQ(mkdir((dir.Path() + "g.jad").c_str(), 0755), 0);  // a directory in the way
  try {
    suite.MakeJAD(jar);
    ADD_FAILURE() << "no error";
  } catch (const EMidletError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + dir.Path() + "g.jad\". ", 0), 0u) << e.what();
  }
  EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"g.jad", "g.jar"}));
}

TEST(MidletJarSize, SizeOrMinusOne) {
  EXPECT_EQ(GetJarFileSize("/nonexistent/x.jar"), -1);
  struct stat st;
  ASSERT_EQ(stat(Fixture("game.jar").c_str(), &st), 0);
  EXPECT_EQ(GetJarFileSize(Fixture("game.jar")), int32_t(st.st_size));
}

// ---------------------------------------------------------------- save

TEST_F(MidletSuiteTest, SaveCommandWithEveryOption) {
  std::string jar = Copy("game.jar", "Game.jar");
  std::string old = ReadAll(jar);
  suite.ManifestJarFile = jar;
  GridLines grid = suite.LoadManifest(jar);
  GridSet(grid, "MIDlet-Version", "2.0");
  SaveResult r = suite.SaveCommand(grid);
  EXPECT_EQ(r.jarPath, dir.Path() + "Foo 2.0.jar");
  EXPECT_EQ(suite.ManifestJarFile, r.jarPath);
  EXPECT_TRUE(r.renamed);
  EXPECT_TRUE(r.jadWritten);
  EXPECT_EQ(r.backupPath, dir.Path() + "Game.bak");
  EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"Foo 2.0.jad", "Foo 2.0.jar", "Game.bak"}));
  EXPECT_EQ(ReadAll(dir.Path() + "Game.bak"), old);
  EXPECT_EQ(suite.UnJar.FileSpec, TStringList{"MANIFEST.MF"});
  EXPECT_EQ(suite.LoadManifest(r.jarPath), grid);
}

TEST_F(MidletSuiteTest, SaveKeepsSectionsAndWritesTheMainSectionSorted) {
  std::string jar = Copy("signed.jar", "s.jar");
  suite.SaveManifest(jar, {"MIDlet-Name=Signed", "A=1", "=dropped", "MIDlet-Version=3"});
  suite.UnJar.FileSpec = {"MANIFEST.MF"};
  std::vector<uint8_t> bytes = suite.ReadManifestBytes(jar);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "A: 1\r\nMIDlet-Name: Signed\r\nMIDlet-Version: 3\r\n\r\n"
            "Name: FooMidlet.class\r\nSHA-256-Digest: AAAA=\r\n\r\nName: res/numbers.txt\r\nSHA-256-Digest: BBBB=\r\n\r\n");
}

TEST_F(MidletSuiteTest, BackupNeverNamesTheJarItself) {
  EXPECT_EQ(BackupPathOf("/m/Game.jar"), "/m/Game.bak");
  EXPECT_EQ(BackupPathOf("/m/Game.bak"), "/m/Game.bak.bak");
  std::string jar = Copy("game.jar", "old.bak");
  suite.ManifestJarFile = jar;
  suite.Options.RenameAfterSave = suite.Options.MakeJadAfterSave = false;
  SaveResult r = suite.SaveCommand(suite.LoadManifest(jar));
  EXPECT_EQ(r.backupPath, jar + ".bak");
  EXPECT_EQ(ReadAll(jar + ".bak"), ReadAll(Fixture("game.jar")));
}

TEST_F(MidletSuiteTest, RefusedSavesLeaveTheJarAsItWas) {
  // A row that would break the manifest; a damaged manifest (its sections
  // would be lost); a file without extension (the writer would make x.jar).
  struct {
    const char* fixture;
    const char* as;
    GridLines grid;
  } cases[] = {
      {"game.jar", "a.jar", {"A=b\r\nInjected: 1"}},
      {"crc.jar", "b.jar", {"A=1"}},
      {"game.jar", "noext", {"A=1"}},
  };
  for (const auto& c : cases) {
    std::string jar = Copy(c.fixture, c.as);
    suite.ManifestJarFile = jar;
    EXPECT_THROW(suite.SaveCommand(c.grid), EMidletError) << c.as;
    EXPECT_EQ(ReadAll(jar), ReadAll(Fixture(c.fixture))) << c.as;
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{c.as}) << c.as;
    unlink(jar.c_str());
  }
}

TEST_F(MidletSuiteTest, JarThatDisappearsDuringTheSave) {
  // The JAR is moved away while the writer runs: the save fails and says so,
  // the moved file is intact, and no file is made at the old path.
  std::string jar = Copy("game.jar", "g.jar");
  std::string away = dir.Path() + "moved.jar";
  bool moved = false;
  suite.Jar.OnBegin = [&](TCustomCClass&, const std::string&, int, bool&) {
    if (!moved) moved = rename(jar.c_str(), away.c_str()) == 0;
  };
  EXPECT_THROW(suite.SaveManifest(jar, {"MIDlet-Name=Other"}), EMidletError);
  ASSERT_TRUE(moved);
  EXPECT_EQ(ReadAll(away), ReadAll(Fixture("game.jar")));
  EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"moved.jar"});
}

}  // namespace
