// The settings store over the INI reader/writer: values, defaults, kept lines, failures.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "midlet/FileUtil.h"
#include "midlet/IniFile.h"
#include "midlet/Settings.h"

using namespace parcelix;

namespace {

class MidletSettings : public ::testing::Test {
 protected:
  TPrivateTempDir dir{"parcelix-settings-test-"};
  std::string Path(const std::string& name = "Parcelix.ini") { return dir.Path() + name; }
  void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  std::string Read(const std::string& path) {
    std::string s;
    ReadWholeFile(path, s);
    return s;
  }
};

TEST(MidletIniValues, IntegerParsing) {
  struct {
    const char* text;
    int def;
    int want;
  } cases[] = {
      {"1", 7, 1},       {"0", 7, 0},        {"2", 7, 2},           {"-3", 7, -3},     {"+4", 7, 4},
      {"abc", 7, 7},     {"", 7, 7},         {"0x0", 7, 0},         {"0X1f", 7, 31},   {"0x", 7, 7},
      {"0xg", 7, 7},     {"1 2", 7, 7},      {"0xFFFFFFFF", 7, -1}, {"0x100000000", 7, 7},
      {"2147483647", 7, 2147483647},         {"2147483648", 7, 7},  {"-2147483648", 7, -2147483647 - 1},
      {"-", 7, 7},       {"1.0", 7, 7},
  };
  for (const auto& c : cases) {
    auto v = TIniFile::ParseInteger(c.text);
    EXPECT_EQ(v.value_or(c.def), c.want) << c.text;
  }
}

TEST_F(MidletSettings, NoFileMeansAllOnAndTheFirstSaveWritesAllFive) {
  TOptions o;
  o.AddVersion = o.AlwaysOnTop = false;
  LoadSettings(o, Path());
  EXPECT_TRUE(o.AddVersion && o.RenameAfterSave && o.MakeJadAfterSave && o.CreateBackup && o.AlwaysOnTop);
  o.CreateBackup = false;
  SaveSettings(o, Path());
  EXPECT_EQ(Read(Path()),
            "[Rename]\nAddVersion=1\n[ManifestEditor]\nRenameAfterSave=1\nMakeJadAfterSave=1\nCreateBackup=0\n"
            "[Other]\nAlwaysOnTop=1\n");
  TOptions back;
  LoadSettings(back, Path());
  EXPECT_FALSE(back.CreateBackup);
  EXPECT_TRUE(back.AddVersion);
}

TEST_F(MidletSettings, ValuesAsTheOptionsReadThem) {
  Write(Path(),
        "; comment\r\n[other]\r\n  alwaysontop = 0 \r\n[Rename]\r\nAddVersion=abc\r\n"
        "[ManifestEditor]\r\nRenameAfterSave=0x0\r\nMakeJadAfterSave=\"0\"\r\nCreateBackup=2\r\n");
  TOptions o;
  LoadSettings(o, Path());
  EXPECT_FALSE(o.AlwaysOnTop);       // section and key names without case, blanks trimmed
  EXPECT_TRUE(o.AddVersion);         // not a number: the default
  EXPECT_FALSE(o.RenameAfterSave);   // hexadecimal 0
  EXPECT_FALSE(o.MakeJadAfterSave);  // quotes removed
  EXPECT_TRUE(o.CreateBackup);       // any non-zero value
}

TEST_F(MidletSettings, SaveKeepsOtherLinesAndLineEnds) {
  Write(Path(),
        "; my notes\r\n[Window]\r\nLeft=10\r\n\r\n[Rename]\r\nAddVersion=1\r\nExtra=x\r\n\r\n[Other]\r\nFoo=bar\r\n");
  TOptions o;
  o.AddVersion = false;
  SaveSettings(o, Path());
  EXPECT_EQ(Read(Path()),
            "; my notes\r\n[Window]\r\nLeft=10\r\n\r\n[Rename]\r\nAddVersion=0\r\nExtra=x\r\n\r\n[Other]\r\nFoo=bar\r\n"
            "AlwaysOnTop=1\r\n[ManifestEditor]\r\nRenameAfterSave=1\r\nMakeJadAfterSave=1\r\nCreateBackup=1\r\n");
  // Saving again changes nothing.
  std::string once = Read(Path());
  SaveSettings(o, Path());
  EXPECT_EQ(Read(Path()), once);
}

TEST_F(MidletSettings, KeyLandsBeforeTheBlankLinesOfItsSection) {
  Write(Path(), "[Rename]\nOther=1\n\n\n[Next]\nA=1\n");
  TIniFile ini(Path());
  ini.WriteString("Rename", "AddVersion", "0");
  EXPECT_EQ(ini.Text(), "[Rename]\nOther=1\nAddVersion=0\n\n\n[Next]\nA=1\n");
}

TEST_F(MidletSettings, SymbolicLinkStaysALink) {
  Write(Path("real.ini"), "[Other]\nAlwaysOnTop=1\n");
  ASSERT_EQ(symlink(Path("real.ini").c_str(), Path("link.ini").c_str()), 0);
  TOptions o;
  o.AlwaysOnTop = false;
  SaveSettings(o, Path("link.ini"));
  struct stat st;
  ASSERT_EQ(lstat(Path("link.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(Read(Path("real.ini")).find("AlwaysOnTop=0"), std::string::npos);
}

TEST_F(MidletSettings, MissingDirectoryIsCreated) {
  std::string nested = dir.Path() + "a/b/Parcelix.ini";
  SaveSettings(TOptions{}, nested);
  EXPECT_NE(Read(nested).find("AddVersion=1"), std::string::npos);
}

TEST_F(MidletSettings, UnwritablePlaceRaises) {
  // A file where the directory should be (root can write anywhere else).
  Write(Path("plain"), "x");
  try {
    SaveSettings(TOptions{}, Path("plain") + "/Parcelix.ini");
    ADD_FAILURE() << "no error";
  } catch (const ESettingsError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + Path("plain") + "/Parcelix.ini");
  }
  EXPECT_EQ(Read(Path("plain")), "x");
}

TEST_F(MidletSettings, FileLocation) {
  struct SavedEnv {
    const char* name;
    std::string value;
    bool set;
    explicit SavedEnv(const char* n) : name(n), value(std::getenv(n) ? std::getenv(n) : ""), set(std::getenv(n)) {}
    ~SavedEnv() { set ? setenv(name, value.c_str(), 1) : unsetenv(name); }
  } ini("PARCELIX_INI"), xdg("XDG_CONFIG_HOME"), home("HOME");
  setenv("PARCELIX_INI", "/some/where.ini", 1);
  EXPECT_EQ(SettingsFilePath(), "/some/where.ini");
  unsetenv("PARCELIX_INI");
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  // The test binary has no .ini beside it.
  EXPECT_EQ(SettingsFilePath(), "/cfg/parcelix/Parcelix.ini");
  setenv("XDG_CONFIG_HOME", "relative", 1);
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(SettingsFilePath(), "/home/u/.config/parcelix/Parcelix.ini");
}

}  // namespace
