// The walk's record of folder names that spares a dry run a stat per new
// name: it may only ever answer "absent" for a name the folder cannot hold.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/shell/CliCommands.h"
#include "app/shell/ListedNames.h"
#include "engine/common/FileSystem.h"

using namespace parcelix;
namespace fs = std::filesystem;

namespace {

struct Query {
  const char* path;
  bool surelyAbsent;
};

void List(TListedNames& listed, const std::string& prefix, std::initializer_list<const char*> names, bool exact) {
  listed.Open(prefix);
  for (const char* name : names) listed.Add(name);
  listed.Close(exact);
}

TEST(ShellListedNames, AnswersAbsentOnlyForAsciiNamesOfExactFoldersItRead) {
  TListedNames listed;
  List(listed, "jars/", {"a.jar", "Space Golf 1.0.jar", "sub", "Игра.jar"}, true);
  List(listed, "stick/", {"a.jar"}, false);  // a folder that finds names in any case
  List(listed, "jars/deep/", {}, true);
  const Query queries[] = {
      {"jars/b.jar", true},
      {"jars/a.jar", false},               // there
      {"jars/Space Golf 1.0.jar", false},  // there
      {"jars/A.jar", true},                // only "a.jar" is there, and the folder tells them apart
      {"jars/sub", false},                 // a folder is an entry too
      {"jars/Игра 2.jar", false},          // text beyond ASCII: the file system is asked
      {"stick/b.jar", false},              // a case-folding folder: always asked
      {"other/b.jar", false},              // a folder the walk did not read
      {"jars/sub/b.jar", false},           // nor one below it
      {"jars/deep/b.jar", true},           // an empty folder it read
      {"b.jar", false},                    // no folder at all
      {"jars/", false},                    // no name
  };
  for (const Query& q : queries) EXPECT_EQ(listed.SurelyAbsent(q.path), q.surelyAbsent) << q.path;
}

TEST(ShellListedNames, AFolderNamedTwiceKeepsWhatWasFirstRead) {
  TListedNames listed;
  List(listed, "d/", {"x.jar"}, true);
  List(listed, "d/", {}, true);
  List(listed, "e/", {"x.jar"}, true);
  EXPECT_FALSE(listed.SurelyAbsent("d/x.jar"));
  EXPECT_TRUE(listed.SurelyAbsent("d/y.jar"));
  EXPECT_FALSE(listed.SurelyAbsent("e/x.jar"));
}

class ListedFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("parcelix-listed-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "sub");
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Touch(const fs::path& p) { std::ofstream(p) << "x"; }
  bool Exactly(const std::string& name) {
    TFd fd(open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return FolderMatchesExactly(fd.Get(), name);
  }
  fs::path dir_;
};

TEST_F(ListedFolder, AnOrdinaryFolderIsFoundToMatchExactly) {
  Touch(dir_ / "Game.jar");
  EXPECT_TRUE(Exactly("Game.jar"));
}

TEST_F(ListedFolder, ANameWithoutLettersOrWithATwinOfTheOtherCaseProvesNothing) {
  Touch(dir_ / "12");
  EXPECT_FALSE(Exactly("12"));
  Touch(dir_ / "a.jar");
  Touch(dir_ / "A.JAR");
  EXPECT_FALSE(Exactly("a.jar"));  // only costs the folder its stats
}

TEST_F(ListedFolder, CollectJarsRecordsEveryFolderItWalks) {
  Touch(dir_ / "one.jar");
  Touch(dir_ / "notes.txt");
  Touch(dir_ / "sub" / "two.jar");
  const std::string root = dir_.string();
  TListedNames listed;
  const Collected c = CollectJars({root}, true, &listed);
  ASSERT_EQ(c.jars.size(), 2u);
  EXPECT_FALSE(listed.SurelyAbsent(root + "/one.jar"));
  EXPECT_FALSE(listed.SurelyAbsent(root + "/notes.txt"));  // not a JAR, still an entry
  EXPECT_FALSE(listed.SurelyAbsent(root + "/sub"));
  EXPECT_TRUE(listed.SurelyAbsent(root + "/New Name 1.0.jar"));
  EXPECT_FALSE(listed.SurelyAbsent(root + "/sub/two.jar"));
  EXPECT_TRUE(listed.SurelyAbsent(root + "/sub/three.jar"));
  // The new names are judged in the folders as the JARs' paths spell them.
  for (const std::string& jar : c.jars) EXPECT_FALSE(listed.SurelyAbsent(jar)) << jar;
}

}  // namespace
