// Tests of the registry store: awkward names and values, key paths, damaged and unwritable stores.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "app/shell/Registry.h"

namespace fs = std::filesystem;
using parcelix::ERegistryError;
using parcelix::TRegistry;

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/parcelix-reg-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    store = dir + "/data/parcelix/registry";
  }
  void TearDown() override { fs::remove_all(dir); }
  void Spit(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string dir, store;
};

constexpr char kControlBytes[] = "\x01\x1f\x7f\0end";
constexpr char kStoreWithNul[] = "[k]\n@=\"a\0b\"\n[m]\n@=\"ok\"\n";

// Whatever the bytes, a fresh object (so the file) gives them back.
TEST_F(RegistryTest, NamesAndValuesSurviveTheStore) {
  const std::vector<std::array<std::string, 3>> cases = {  // key, value name, value
      {"jarfile\\shell\\Parcelix: Rename\\command", "", "\"/opt/My Tools/parcelix\" /rename \"%1\""},
      {"a", "x", "\\\"\\\\\"\\"},
      {"a", "y", "one\ntwo\r\nthree\tfour\n"},
      {"a", "z", std::string(kControlBytes, sizeof kControlBytes - 1)},
      {"\xc3\xa9t\xc3\xa9", "n\xc3\xa4me", "\xff\xfe caf\xc3\xa9"},
      {"b", "[c]", "[d]\n[e]=\"f\""},
      {"k]ey=[1]", "@", "="},
      {" sp ", " v ", ""},
  };
  {
    TRegistry reg(store);
    for (const auto& [key, name, value] : cases) {
      ASSERT_TRUE(reg.OpenKey("\\" + key, true)) << key;
      reg.WriteString(name, value);
    }
  }
  TRegistry again(store);
  for (const auto& [key, name, value] : cases) {
    ASSERT_TRUE(again.OpenKey("\\" + key, false)) << key;
    EXPECT_TRUE(again.ValueExists(name)) << key;
    EXPECT_EQ(again.ReadString(name), value) << key;
  }
  // The writes went through temporary files, none of which is left.
  EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(store).parent_path()), fs::directory_iterator()), 1);
}

TEST_F(RegistryTest, KeyPathsAreCaseInsensitiveAndRelativeToTheOpenKey) {
  TRegistry reg(store);
  ASSERT_TRUE(reg.OpenKey("JarFile\\Shell", true));
  ASSERT_TRUE(reg.OpenKey("Open\\command", true));  // relative to JarFile\Shell
  reg.WriteString("", "cmd");
  EXPECT_TRUE(reg.KeyExists("\\jarfile\\shell\\open\\COMMAND\\"));
  ASSERT_TRUE(reg.OpenKey("\\jarfile", false));
  EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>{"Shell"});  // the case it was made with
  ASSERT_TRUE(reg.OpenKey("SHELL\\OPEN\\Command", false));
  EXPECT_EQ(reg.ReadString(""), "cmd");

  for (const std::string& bad : {std::string("a\\\\b"), std::string("tab\there"), std::string("x\x7f")})
    EXPECT_FALSE(reg.OpenKey("\\" + bad, true)) << bad;
  // A failed open leaves no key open: a following write cannot land in the previous key.
  EXPECT_FALSE(reg.HasCurrentKey());
  EXPECT_THROW(reg.WriteString("", "x"), ERegistryError);
  EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>{"JarFile"});
}

TEST_F(RegistryTest, DeleteKeyTakesTheSubtreeAndNeverTheOpenKey) {
  TRegistry reg(store);
  for (const char* k : {"\\t\\shell\\A\\command", "\\t\\shell\\B\\command", "\\t\\shell\\AB"}) ASSERT_TRUE(reg.OpenKey(k, true));
  ASSERT_TRUE(reg.OpenKey("\\t\\shell", false));
  EXPECT_TRUE(reg.DeleteKey("a"));
  EXPECT_FALSE(reg.DeleteKey("a"));
  EXPECT_FALSE(reg.DeleteKey(""));  // an empty verb must not take the whole "shell" key
  EXPECT_EQ(reg.GetKeyNames(), (std::vector<std::string>{"B", "AB"}));
  EXPECT_TRUE(reg.KeyExists("\\t\\shell\\B\\command"));
}

// The window and a command line may hold objects on one store at once.
TEST_F(RegistryTest, ChangesAreVisibleToOtherObjectsAtOnce) {
  TRegistry a(store), b(store);
  ASSERT_TRUE(a.OpenKey("\\.jar", true));
  ASSERT_TRUE(b.OpenKey("\\.jar", false));
  a.WriteString("", "jarfile");
  EXPECT_EQ(b.ReadString(""), "jarfile");
  ASSERT_TRUE(b.OpenKey("\\x", true));
  a.WriteString("v", "from a");  // must not drop b's key
  EXPECT_TRUE(TRegistry(store).KeyExists("\\x"));
  ASSERT_TRUE(b.DeleteKey("\\.jar"));
  EXPECT_THROW(a.WriteString("", "again"), ERegistryError);  // no write through a stale handle
  EXPECT_FALSE(b.KeyExists("\\.jar"));
}

TEST_F(RegistryTest, ADamagedStoreKeepsWhatStillParses) {
  const std::vector<std::array<std::string, 4>> cases = {  // store text, key, value name, expected ("-" = no key)
      {"[.jar]\r\n@=\"jarfile\"\r\n", ".jar", "", "jarfile"},
      {"@=\"lost\"\n[k]\n@=\"kept\"\n", "k", "", "kept"},
      {"[k]\n@=\"open\n\"x\"=\"fine\"\n", "k", "", ""},
      {"[k]\n@=\"open\n\"x\"=\"fine\"\n", "k", "x", "fine"},
      {"[k]\n@=\"v\" junk\n", "k", "", ""},
      {"[k]\n@=\"\\xZZ\"\n", "k", "", ""},
      {"[a\\\\b]\n@=\"v\"\n", "a", "", "-"},
      {"[a\n@=\"v\"\n", "a", "", "-"},
      {"[a\\b\\c]\n", "a\\b", "", ""},
      {"[k]\n@=\"1\"\n@=\"2\"", "k", "", "2"},
      {std::string(kStoreWithNul, sizeof kStoreWithNul - 1), "m", "", "ok"},
  };
  for (const auto& [text, key, name, expected] : cases) {
    Spit(store, text);
    TRegistry reg(store);
    if (expected == "-") {
      EXPECT_FALSE(reg.KeyExists("\\" + key)) << text;
    } else {
      ASSERT_TRUE(reg.OpenKey("\\" + key, false)) << text;
      EXPECT_EQ(reg.ReadString(name), expected) << text;
    }
  }
}

// No write access: creating fails, reads are empty, and the first write names
// the value ("" for a default value).
TEST_F(RegistryTest, AStoreThatCannotBeWrittenFailsOnTheFirstWrite) {
  Spit(dir + "/blocker", "a file where a folder should be");
  TRegistry reg(dir + "/blocker/parcelix/registry");
  EXPECT_FALSE(reg.OpenKey("\\.jar", true));
  EXPECT_EQ(reg.ReadString(""), "");
  try {
    reg.WriteString("", "jarfile");
    FAIL() << "no exception";
  } catch (const ERegistryError& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for ''");
  }
}

TEST_F(RegistryTest, AStoreThatCannotBeReadOrIsReadOnlyIsNeverOverwritten) {
  fs::create_directories(store);  // a folder where the file should be
  TRegistry reg(store);
  EXPECT_FALSE(reg.OpenKey("\\.jar", true));
  EXPECT_TRUE(fs::is_directory(store));
  // A read-only store stays so, also for root.
  fs::remove(store);
  const std::string text = "[.jar]\n@=\"jarfile\"\n";
  Spit(store, text);
  fs::permissions(store, fs::perms::owner_read);
  ASSERT_TRUE(reg.OpenKey("\\.jar", false));
  EXPECT_EQ(reg.ReadString(""), "jarfile");
  EXPECT_THROW(reg.WriteString("", "other"), ERegistryError);
  EXPECT_FALSE(reg.OpenKey("\\new", true));
  EXPECT_FALSE(reg.DeleteKey("\\.jar"));
  std::stringstream now;
  now << std::ifstream(store).rdbuf();
  EXPECT_EQ(now.str(), text);
}

}  // namespace
