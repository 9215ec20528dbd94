// Tests of the registry store: persistence of awkward names and values, key paths, damaged and unwritable stores.
#include <gtest/gtest.h>

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
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
  }
  std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void Spit(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string dir, store;
};

constexpr char kControlBytes[] = "\x01\x1f\x7f\0end";
constexpr char kStoreWithNul[] = "[k]\n@=\"a\0b\"\n[m]\n@=\"ok\"\n";

struct ValueCase {
  const char* what;
  std::string key;
  std::string name;
  std::string value;
};

// Everything written must come back byte for byte from a fresh registry object
// (so from the file), whatever the bytes are.
TEST_F(RegistryTest, NamesAndValuesSurviveTheStore) {
  const std::vector<ValueCase> cases = {
      {"default value", "jarfile", "", "jarfile"},
      {"the verb command", "jarfile\\shell\\Parcelix: Rename\\command", "",
       "\"/opt/My Tools/parcelix\" /rename \"%1\""},
      {"quotes and backslashes", "a", "x", "\\\"\\\\\"\\"},
      {"line breaks and tabs", "a", "y", "one\ntwo\r\nthree\tfour\n"},
      {"control bytes and DEL", "a", "z", std::string(kControlBytes, sizeof kControlBytes - 1)},
      {"UTF-8 and high bytes", "\xc3\xa9t\xc3\xa9", "n\xc3\xa4me", "\xff\xfe caf\xc3\xa9"},
      {"section-like text", "b", "[c]", "[d]\n[e]=\"f\""},
      {"brackets and equals in key", "k]ey=[1]", "@", "="},
      {"empty value", "c", "empty", ""},
      {"leading and trailing blanks", " sp ", " v ", "  padded  "},
  };
  {
    TRegistry reg(store);
    for (const auto& c : cases) {
      ASSERT_TRUE(reg.OpenKey("\\" + c.key, true)) << c.what;
      reg.WriteString(c.name, c.value);
      reg.CloseKey();
    }
  }
  TRegistry again(store);
  for (const auto& c : cases) {
    ASSERT_TRUE(again.OpenKey("\\" + c.key, false)) << c.what;
    EXPECT_TRUE(again.ValueExists(c.name)) << c.what;
    EXPECT_EQ(again.ReadString(c.name), c.value) << c.what;
  }
  // Nothing but the store is left in its folder (the writes went through temporary files).
  int files = 0;
  for (const auto& e : fs::directory_iterator(fs::path(store).parent_path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST_F(RegistryTest, KeyPathsAreCaseInsensitiveAndRelativeToTheOpenKey) {
  TRegistry reg(store);
  ASSERT_TRUE(reg.OpenKey("JarFile\\Shell", true));
  ASSERT_TRUE(reg.OpenKey("Open\\command", true));  // relative to JarFile\Shell
  reg.WriteString("", "cmd");
  reg.CloseKey();

  EXPECT_TRUE(reg.KeyExists("jarfile\\shell\\open\\COMMAND"));
  EXPECT_TRUE(reg.KeyExists("\\JARFILE\\shell\\"));  // a trailing separator names the same key
  ASSERT_TRUE(reg.OpenKey("\\jarfile", false));
  EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>{"Shell"});  // the case it was made with
  ASSERT_TRUE(reg.OpenKey("SHELL\\OPEN\\Command", false));
  EXPECT_EQ(reg.ReadString(""), "cmd");
  EXPECT_EQ(reg.ReadString("missing"), "");
  EXPECT_FALSE(reg.ValueExists("missing"));

  // A failed open leaves no key open, so a following write cannot land in the previous key.
  EXPECT_FALSE(reg.OpenKey("nowhere", false));
  EXPECT_FALSE(reg.HasCurrentKey());
  EXPECT_THROW(reg.WriteString("", "x"), ERegistryError);
  EXPECT_EQ(reg.ReadString(""), "");
}

TEST_F(RegistryTest, InvalidKeyNamesCreateNothing) {
  TRegistry reg(store);
  for (const std::string& bad : {std::string("a\\\\b"), std::string("tab\there"), std::string("nl\nx"), std::string("x\x7f")}) {
    EXPECT_FALSE(reg.OpenKey(bad, true)) << bad;
    EXPECT_FALSE(reg.KeyExists(bad)) << bad;
  }
  EXPECT_FALSE(fs::exists(store));
}

TEST_F(RegistryTest, DeleteKeyTakesTheSubtreeAndNothingElse) {
  TRegistry reg(store);
  for (const char* k : {"\\t\\shell\\A\\command", "\\t\\shell\\B\\command", "\\t\\shell\\AB"}) {
    ASSERT_TRUE(reg.OpenKey(k, true));
    reg.WriteString("", k);
  }
  reg.CloseKey();
  ASSERT_TRUE(reg.OpenKey("\\t\\shell", false));
  EXPECT_TRUE(reg.DeleteKey("a"));
  EXPECT_FALSE(reg.DeleteKey("a"));  // gone already
  EXPECT_FALSE(reg.DeleteKey(""));   // never the open key itself by an empty name
  EXPECT_EQ(reg.GetKeyNames(), (std::vector<std::string>{"B", "AB"}));
  EXPECT_FALSE(reg.KeyExists("\\t\\shell\\A\\command"));
  EXPECT_TRUE(reg.KeyExists("\\t\\shell\\B\\command"));
}

// Two objects on one store (the window and a command line) see each other's changes.
TEST_F(RegistryTest, ChangesAreVisibleToOtherObjectsAtOnce) {
  TRegistry a(store), b(store);
  ASSERT_TRUE(a.OpenKey("\\.jar", true));
  ASSERT_TRUE(b.OpenKey("\\.jar", false));
  a.WriteString("", "jarfile");
  EXPECT_EQ(b.ReadString(""), "jarfile");
  ASSERT_TRUE(b.OpenKey("\\x", true));
  b.WriteString("", "from b");
  a.WriteString("v", "from a");  // must not drop b's key
  TRegistry c(store);
  EXPECT_TRUE(c.KeyExists("\\x"));
  ASSERT_TRUE(c.OpenKey("\\.jar", false));
  EXPECT_EQ(c.ReadString("v"), "from a");
  // A key deleted by another object cannot be written through a stale handle.
  ASSERT_TRUE(c.DeleteKey("\\.jar"));
  EXPECT_THROW(a.WriteString("", "again"), ERegistryError);
  EXPECT_FALSE(c.KeyExists("\\.jar"));
}

struct DamagedCase {
  const char* what;
  std::string text;
  std::string key;
  std::string name;
  std::string expected;  // "<missing key>" when the key must not exist
};

TEST_F(RegistryTest, ADamagedStoreKeepsWhatStillParses) {
  const std::vector<DamagedCase> cases = {
      {"CR LF line ends", "[.jar]\r\n@=\"jarfile\"\r\n", ".jar", "", "jarfile"},
      {"value without a key", "@=\"lost\"\n[k]\n@=\"kept\"\n", "k", "", "kept"},
      {"unterminated value", "[k]\n@=\"open\n\"x\"=\"fine\"\n", "k", "", ""},
      {"unterminated value keeps the next", "[k]\n@=\"open\n\"x\"=\"fine\"\n", "k", "x", "fine"},
      {"trailing junk after value", "[k]\n@=\"v\" junk\n", "k", "", ""},
      {"bad hex escape", "[k]\n@=\"\\xZZ\"\n", "k", "", ""},
      {"section with empty part", "[a\\\\b]\n@=\"v\"\n", "a", "", "<missing key>"},
      {"unclosed section", "[a\n@=\"v\"\n", "a", "", "<missing key>"},
      {"ancestors of a section exist", "[a\\b\\c]\n", "a\\b", "", ""},
      {"last value wins", "[k]\n@=\"1\"\n@=\"2\"\n", "k", "", "2"},
      {"no final line break", "[k]\n@=\"v\"", "k", "", "v"},
      {"NUL in the file", std::string(kStoreWithNul, sizeof kStoreWithNul - 1), "m", "", "ok"},
  };
  for (const auto& c : cases) {
    Spit(store, c.text);
    TRegistry reg(store);
    if (c.expected == "<missing key>") {
      EXPECT_FALSE(reg.KeyExists("\\" + c.key)) << c.what;
      continue;
    }
    ASSERT_TRUE(reg.OpenKey("\\" + c.key, false)) << c.what;
    EXPECT_EQ(reg.ReadString(c.name), c.expected) << c.what;
  }
}

// The Part's failure case: no write access. Creating fails, reads are empty,
// and the first write names the value ("" for a default value).
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
  EXPECT_FALSE(reg.DeleteKey("\\.jar"));
}

TEST_F(RegistryTest, AStoreThatCannotBeReadIsNeverOverwritten) {
  // A folder where the store file should be cannot be read as a store.
  fs::create_directories(store);
  TRegistry reg(store);
  EXPECT_FALSE(reg.OpenKey("\\.jar", true));
  EXPECT_TRUE(fs::is_directory(store));
  // So is a read-only store file (root may write anyway; the store still respects the mode).
  fs::remove(store);
  Spit(store, "[.jar]\n@=\"jarfile\"\n");
  fs::permissions(store, fs::perms::owner_read);
  ASSERT_TRUE(reg.OpenKey("\\.jar", false));
  EXPECT_EQ(reg.ReadString(""), "jarfile");
  EXPECT_THROW(reg.WriteString("", "other"), ERegistryError);
  EXPECT_FALSE(reg.OpenKey("\\new", true));
  EXPECT_EQ(Slurp(store), "[.jar]\n@=\"jarfile\"\n");
}

TEST_F(RegistryTest, StorePathFollowsTheEnvironment) {
  const char* oldReg = getenv("PARCELIX_REGISTRY");
  const char* oldXdg = getenv("XDG_DATA_HOME");
  const std::string savedReg = oldReg ? oldReg : "", savedXdg = oldXdg ? oldXdg : "";
  unsetenv("PARCELIX_REGISTRY");
  setenv("XDG_DATA_HOME", "/srv/data", 1);
  EXPECT_EQ(parcelix::RegistryFilePath(), "/srv/data/parcelix/registry");
  setenv("XDG_DATA_HOME", "relative/ignored", 1);  // the base-directory rules ignore relative paths
  const std::string home = getenv("HOME") ? getenv("HOME") : "";
  if (!home.empty() && home != "/") {
    EXPECT_EQ(parcelix::DataHome(), home + "/.local/share");
  }
  setenv("PARCELIX_REGISTRY", "/x/y", 1);
  EXPECT_EQ(parcelix::RegistryFilePath(), "/x/y");
  if (oldReg) setenv("PARCELIX_REGISTRY", savedReg.c_str(), 1); else unsetenv("PARCELIX_REGISTRY");
  if (oldXdg) setenv("XDG_DATA_HOME", savedXdg.c_str(), 1); else unsetenv("XDG_DATA_HOME");
}

}  // namespace
