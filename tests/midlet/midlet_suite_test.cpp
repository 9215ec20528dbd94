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

// ---------------------------------------------------------------- rename

TEST_F(MidletSuiteTest, RenameOntoAHardLinkOfItselfKeepsBothNames) {
  std::string jar = Copy("game.jar", "a.jar");
  ASSERT_EQ(link(jar.c_str(), (dir.Path() + "Foo 1.0.jar").c_str()), 0);
  RenameResult r = suite.RenameByMIDletName(jar);
  EXPECT_FALSE(r.renamed);
  EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"Foo 1.0.jar", "a.jar"}));
}

// ---------------------------------------------------------------- JAD

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

// ---------------------------------------------------------------- save

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

TEST_F(MidletSuiteTest, BackupIsTheOldFileAndOutlivesRepeatedSaves) {
  std::string jar = Copy("game.jar", "g.jar");
  const std::string original = ReadAll(jar);
  suite.ManifestJarFile = jar;
  suite.Options.RenameAfterSave = suite.Options.MakeJadAfterSave = false;
  GridLines grid = suite.LoadManifest(jar);
  grid.push_back("X-First=1");
  suite.SaveCommand(grid);
  const std::string first = ReadAll(jar);
  EXPECT_NE(first, original);
  EXPECT_EQ(ReadAll(dir.Path() + "g.bak"), original);
  struct stat a {}, b {};
  ASSERT_EQ(stat(jar.c_str(), &a), 0);
  ASSERT_EQ(stat((dir.Path() + "g.bak").c_str(), &b), 0);
  EXPECT_NE(a.st_ino, b.st_ino) << "after the save the backup and the JAR are two files";

  // The second save replaces the backup with the first save's JAR.
  grid = suite.LoadManifest(jar);
  grid.push_back("X-Second=2");
  suite.SaveCommand(grid);
  EXPECT_EQ(ReadAll(dir.Path() + "g.bak"), first);
  EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"g.bak", "g.jar"}));
}

TEST(LinkOrCopyReplacing, ABackupThatIsAlreadyTheSameFileLeavesNoExtraName) {
  TPrivateTempDir d{"parcelix-link-test-"};
  const std::string src = d.Path() + "a.jar", dst = d.Path() + "a.bak";
  ReplaceFileContents(src, "old bytes");
  ASSERT_EQ(link(src.c_str(), dst.c_str()), 0);  // left by a save that failed after its backup
  LinkOrCopyReplacing(src, dst);
  EXPECT_EQ(Listing(d.Path()), (std::vector<std::string>{"a.bak", "a.jar"}));
  std::string text;
  ASSERT_TRUE(ReadWholeFile(dst, text));
  EXPECT_EQ(text, "old bytes");
}

TEST(LinkOrCopyReplacing, AcrossFileSystemsItCopies) {
  // /dev/shm is a tmpfs on Linux; the scratch directory lies elsewhere.
  struct stat shm {};
  if (stat("/dev/shm", &shm) != 0 || access("/dev/shm", W_OK) != 0) GTEST_SKIP() << "no /dev/shm";
  TPrivateTempDir d{"parcelix-link-test-"};
  struct stat here {};
  ASSERT_EQ(stat(d.Path().c_str(), &here), 0);
  if (here.st_dev == shm.st_dev) GTEST_SKIP() << "scratch directory is on /dev/shm";
  const std::string src = d.Path() + "a.jar";
  ReplaceFileContents(src, "old bytes");
  const std::string dst = "/dev/shm/parcelix-test-" + std::to_string(getpid()) + ".bak";
  LinkOrCopyReplacing(src, dst);
  std::string text;
  EXPECT_TRUE(ReadWholeFile(dst, text));
  EXPECT_EQ(text, "old bytes");
  unlink(dst.c_str());
}

TEST_F(MidletSuiteTest, RefusedSavesLeaveTheJarAsItWas) {
  // A row that would break the manifest; a damaged manifest (its sections
  // would be lost); a file without extension (the writer would make x.jar);
  // a JAR without write permission.
  struct {
    const char* fixture;
    const char* as;
    GridLines grid;
    mode_t mode;
  } cases[] = {
      {"game.jar", "a.jar", {"A=b\r\nInjected: 1"}, 0644},
      {"crc.jar", "b.jar", {"A=1"}, 0644},
      {"game.jar", "noext", {"A=1"}, 0644},
      {"game.jar", "ro.jar", {"A=1"}, 0444},
  };
  for (const auto& c : cases) {
    std::string jar = Copy(c.fixture, c.as);
    chmod(jar.c_str(), c.mode);
    suite.ManifestJarFile = jar;
    EXPECT_THROW(suite.SaveCommand(c.grid), EMidletError) << c.as;
    EXPECT_EQ(ReadAll(jar), ReadAll(Fixture(c.fixture))) << c.as;
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{c.as}) << c.as;
    unlink(jar.c_str());
  }
}

TEST_F(MidletSuiteTest, JarThatDisappearsDuringTheSave) {
  // The JAR is moved away just before the new one would take its place:
  // the save fails and says so, the moved file is intact, and no file is
  // made at the old path.
  std::string jar = Copy("game.jar", "g.jar");
  std::string away = dir.Path() + "moved.jar";
  bool moved = false;
  suite.Jar.OnTmpFileMoveBegin = [&](TCustomCClass&, const std::string&, const std::string&, bool&) {
    if (!moved) moved = rename(jar.c_str(), away.c_str()) == 0;
  };
  EXPECT_THROW(suite.SaveManifest(jar, {"MIDlet-Name=Other"}), EMidletError);
  ASSERT_TRUE(moved);
  EXPECT_EQ(ReadAll(away), ReadAll(Fixture("game.jar")));
  EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"moved.jar"});
}

}  // namespace
