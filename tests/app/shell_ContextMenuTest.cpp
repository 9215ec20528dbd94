// Tests of the ON/OFF context-menu verbs in the registry and the record of the desktop entries written for them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "app/shell/ContextMenu.h"

namespace fs = std::filesystem;
using namespace parcelix;

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Spit(const std::string& path, const std::string& text, fs::perms perms = fs::perms::owner_read | fs::perms::owner_write) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
  fs::permissions(path, perms);
}

// Every file and folder below a root with its mode and content.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> out;
  if (!fs::exists(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    struct stat st {};
    lstat(e.path().c_str(), &st);
    out[e.path().string().substr(root.size())] =
        std::to_string(st.st_mode & 07777) + (e.is_directory() ? "/" : ":" + Slurp(e.path()));
  }
  return out;
}

const std::string kProgram = "/opt/Parcelix Tools/parcelix";

class ContextMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/parcelix-menu-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    data = dir + "/data";
    if (const char* old = getenv("XDG_DATA_HOME")) oldXdg = old;
    setenv("XDG_DATA_HOME", data.c_str(), 1);  // where Add/Remove keep the entries
    reg = std::make_unique<TRegistry>(dir + "/reg/registry");
  }
  void TearDown() override {
    if (oldXdg) setenv("XDG_DATA_HOME", oldXdg->c_str(), 1); else unsetenv("XDG_DATA_HOME");
    fs::remove_all(dir);
  }
  std::string Value(const std::string& key) {
    std::string v = reg->OpenKeyReadOnly(key) ? reg->ReadString("") : "<missing>";
    reg->CloseKey();
    return v;
  }
  void SetJarType(const std::string& type) {
    ASSERT_TRUE(reg->OpenKey("\\.jar", true));
    reg->WriteString("", type);
    reg->CloseKey();
  }
  std::string dir, data;
  std::optional<std::string> oldXdg;
  std::unique_ptr<TRegistry> reg;
};

TEST_F(ContextMenuTest, OnWithJarMissingCreatesJarfileAndBothVerbs) {
  IntegrateOn(*reg, kProgram);
  EXPECT_EQ(Value("\\.jar"), "jarfile");
  EXPECT_EQ(Value("\\jarfile\\shell\\Parcelix: Rename\\command"), "\"/opt/Parcelix Tools/parcelix\" /rename \"%1\"");
  EXPECT_EQ(Value("\\jarfile\\shell\\Parcelix: Make JAD\\command"), "\"/opt/Parcelix Tools/parcelix\" /jadgen \"%1\"");
  // Each file manager's entry, executable where the manager needs it.
  const std::map<std::string, unsigned> expected = {
      {"/kio/servicemenus/parcelix-jar.desktop", 0755},      {"/nautilus/scripts/Parcelix: Rename", 0755},
      {"/nautilus/scripts/Parcelix: Make JAD", 0755},         {"/nemo/actions/parcelix-rename.nemo_action", 0644},
      {"/nemo/actions/parcelix-make-jad.nemo_action", 0644}, {"/parcelix/menu/parcelix-rename.sh", 0755},
      {"/parcelix/menu/parcelix-make-jad.sh", 0755}};
  for (const auto& [rel, mode] : expected) {
    struct stat st {};
    ASSERT_EQ(stat((data + rel).c_str(), &st), 0) << rel;
    EXPECT_EQ(st.st_mode & 0777, mode) << rel;
  }
}

TEST_F(ContextMenuTest, OnUsesTheTypeJarNamesOrFillsInJarfile) {
  SetJarType("javaarchive");
  IntegrateOn(*reg, kProgram);
  EXPECT_EQ(Value("\\.jar"), "javaarchive");
  EXPECT_TRUE(reg->KeyExists("\\javaarchive\\shell\\Parcelix: Rename\\command"));
  EXPECT_FALSE(reg->KeyExists("\\jarfile"));

  SetJarType("");  // .jar there, but holding no type
  IntegrateOn(*reg, kProgram);
  EXPECT_EQ(Value("\\.jar"), "jarfile");
  EXPECT_EQ(RegisteredVerbs(*reg).size(), 2u);
}

TEST_F(ContextMenuTest, OnTwiceWritesTheSameAgain) {
  IntegrateOn(*reg, kProgram);
  const auto once = Snapshot(dir);
  IntegrateOn(*reg, kProgram);
  EXPECT_EQ(Snapshot(dir), once);
}

// OFF takes both verbs and exactly the files ON wrote; the user's files in the
// same folders, .jar, FileType\shell and verbs of others stay.
TEST_F(ContextMenuTest, OffAfterOnLeavesNothingOfOurs) {
  Spit(data + "/nautilus/scripts/My script", "#!/bin/sh\n", fs::perms::owner_all);
  Spit(data + "/nautilus/scripts/Parcelix: Make JAD", "mine\n");  // at one of our names, not ours
  const auto before = Snapshot(data);
  AddContextMenuVerb(*reg, "jar", "Run in Emulator", "\"/usr/bin/emu\"");
  IntegrateOn(*reg, kProgram);
  IntegrateOff(*reg);
  const auto verbs = RegisteredVerbs(*reg);
  ASSERT_EQ(verbs.size(), 1u);
  EXPECT_EQ(verbs[0].command, "\"/usr/bin/emu\" \"%1\"");
  EXPECT_EQ(Value("\\.jar"), "jarfile");
  EXPECT_TRUE(reg->KeyExists("\\jarfile\\shell"));
  EXPECT_FALSE(reg->KeyExists("\\jarfile\\shell\\Parcelix: Rename"));

  RemoveContextMenuVerb(*reg, "jar", "Run in Emulator");
  EXPECT_EQ(Snapshot(data), before);
}

TEST_F(ContextMenuTest, OffWithNothingRegisteredCreatesNothing) {
  IntegrateOff(*reg);
  EXPECT_FALSE(fs::exists(dir + "/reg"));
  EXPECT_FALSE(fs::exists(data));
  SetJarType("javaarchive");  // a type without verbs: no "shell" key appears
  const std::string storeBefore = Slurp(dir + "/reg/registry");
  IntegrateOff(*reg);
  EXPECT_EQ(Slurp(dir + "/reg/registry"), storeBefore);
  EXPECT_FALSE(fs::exists(data));
}

TEST_F(ContextMenuTest, AStoreThatCannotBeWrittenIsReported) {
  Spit(dir + "/blocker", "not a folder");
  TRegistry blocked(dir + "/blocker/registry");
  try {
    IntegrateOn(blocked, kProgram);
    FAIL() << "no exception";
  } catch (const ERegistryError& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for ''");
  }
  EXPECT_FALSE(fs::exists(data));
  // Made read-only after ON: OFF cannot remove the verbs and must say so.
  IntegrateOn(*reg, kProgram);
  fs::permissions(dir + "/reg/registry", fs::perms::owner_read);
  EXPECT_THROW(IntegrateOff(*reg), ERegistryError);
  EXPECT_EQ(RegisteredVerbs(*reg).size(), 2u);
  EXPECT_TRUE(fs::exists(data + "/kio/servicemenus/parcelix-jar.desktop"));
}

TEST_F(ContextMenuTest, EntriesFollowTheRegistryAndTheRecordStaysBelowTheDataFolder) {
  Spit(dir + "/precious", "keep me");
  Spit(data + "/parcelix/desktop-entries", "../precious\n" + dir + "/precious\nkio/../../precious\n");
  IntegrateOn(*reg, kProgram);
  ASSERT_TRUE(reg->OpenKey("\\jarfile\\shell", false));
  ASSERT_TRUE(reg->DeleteKey(kMakeJadVerb));
  SyncDesktopEntries(*reg, data);
  EXPECT_FALSE(fs::exists(data + "/nautilus/scripts/Parcelix: Make JAD"));
  EXPECT_FALSE(fs::exists(data + "/parcelix/menu/parcelix-make-jad.sh"));
  EXPECT_NE(Slurp(data + "/kio/servicemenus/parcelix-jar.desktop").find("Actions=parcelix-rename;\n"), std::string::npos);
  for (const auto& e : DesktopEntryStatus(*reg, data)) EXPECT_TRUE(e.present && e.ours) << e.path;
  IntegrateOff(*reg);
  EXPECT_EQ(Slurp(dir + "/precious"), "keep me");
  for (const auto& [path, what] : Snapshot(data)) EXPECT_EQ(what.back(), '/') << path;  // folders the test made
}

// A command made of quoted words splits back into the same words.
TEST(ContextMenuCommandLine, QuotedWordsSplitBack) {
  const std::vector<std::vector<std::string>> cases = {
      {"/usr/bin/parcelix", "/rename", "%1"},
      {"/opt/My Tools/parcelix", "a b", " lead", "trail "},
      {"say \"hi\"", "\"", "\"\""},
      {"C:\\Tools\\", "a\\\\b", "\\\"", "\\", "end\\"},
      {"", "x", ""},
      {"a\tb", "$HOME", "`id`", "'s'"},
  };
  for (const auto& words : cases) {
    std::string command;
    for (const auto& w : words) command += (command.empty() ? "" : " ") + QuoteCommandWord(w);
    EXPECT_EQ(SplitCommandLine(command), words) << command;
  }
  for (const char* path : {"/o\"dd/p", "/back\\slash/p", "/ends/with\\", "/x\\\\y"})
    EXPECT_EQ(SplitCommandLine(MakeVerbCommand(path, "/jadgen") + " \"%1\""),
              (std::vector<std::string>{path, "/jadgen", "%1"}));
  EXPECT_EQ(MakeVerbCommand("/usr/bin/parcelix", "/rename"), "\"/usr/bin/parcelix\" /rename");
}

}  // namespace
