// The engine's global helpers: DOS dates, names and code pages, paths and
// the move that never replaces.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/common/arxGbls.h"

namespace parcelix {
namespace {

TEST(ReadDosDate, RoundTripsThroughLocalTime) {
  // 2020-05-17 13:45:30 packed as a DOS date (even seconds only).
  const uint32_t dos = 0x50B16DAFu;
  const std::time_t t = DosDateTimeToUnix(dos);
  ASSERT_NE(t, -1);
  std::tm tm{};
  localtime_r(&t, &tm);
  EXPECT_EQ(tm.tm_year + 1900, 2020);
  EXPECT_EQ(tm.tm_mon + 1, 5);
  EXPECT_EQ(tm.tm_mday, 17);
  EXPECT_EQ(tm.tm_hour, 13);
  EXPECT_EQ(tm.tm_min, 45);
  EXPECT_EQ(tm.tm_sec, 30);
  EXPECT_EQ(UnixToDosDateTime(t), dos);
  // An odd second is rounded down to the even one below.
  EXPECT_EQ(UnixToDosDateTime(t + 1), dos);
  EXPECT_EQ(DosDateTimeToUnix(kDefaultDosDate), DosDateTimeToUnix(0x00210020));
}

TEST(ReadDosDate, InvalidFieldsAndOutOfRangeYears) {
  EXPECT_EQ(DosDateTimeToUnix(0), -1);           // month 0, day 0
  EXPECT_EQ(DosDateTimeToUnix(0x00210000 | 30), -1);  // 60 seconds
  EXPECT_EQ(DosDateTimeToUnix(0x00210000 | (24u << 11)), -1);
  EXPECT_EQ(DosDateTimeToUnix((uint32_t(40 << 9 | 2 << 5 | 30) << 16)), -1);  // 30 February 2020
  EXPECT_NE(DosDateTimeToUnix((uint32_t(40 << 9 | 2 << 5 | 29) << 16)), -1);  // 29 February 2020
  EXPECT_EQ(DosDateTimeToUnix((uint32_t(41 << 9 | 2 << 5 | 29) << 16)), -1);  // 29 February 2021
  EXPECT_EQ(UnixToDosDateTime(0), 0x00210000u);  // 1970 clamps to the first DOS day
}

TEST(ReadCodePages, Utf8Validation) {
  struct Case {
    std::string s;
    bool valid;
  } cases[] = {
      {"", true},
      {"plain", true},
      {"caf\xC3\xA9", true},
      {"\xE2\x82\xAC", true},           // euro sign
      {"\xF0\x9F\x98\x80", true},       // emoji
      {"\xC3", false},                  // cut short
      {"\xC0\xAF", false},              // overlong '/'
      {"\xE0\x80\xAF", false},          // overlong '/'
      {"\xED\xA0\x80", false},          // a surrogate
      {"\xF4\x90\x80\x80", false},      // above U+10FFFF
      {"\x80", false},                  // lone continuation
      {"\x81" "Ab", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.s), c.valid) << c.s;
}

TEST(ReadCodePages, Cp437UpperHalf) {
  EXPECT_EQ(Cp437ToUtf8("abc"), "abc");
  EXPECT_EQ(Cp437ToUtf8("\x80"), "\xC3\x87");          // C cedilla
  EXPECT_EQ(Cp437ToUtf8("\x81"), "\xC3\xBC");          // u umlaut
  EXPECT_EQ(Cp437ToUtf8("\x9E"), "\xE2\x82\xA7");      // peseta
  EXPECT_EQ(Cp437ToUtf8("\xE1"), "\xC3\x9F");          // sharp s
  EXPECT_EQ(Cp437ToUtf8("\xFF"), "\xC2\xA0");          // no-break space
  std::string all;
  for (int c = 128; c < 256; ++c) all += char(c);
  const std::string utf8 = Cp437ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
}

TEST(ReadCodePages, StoredNamesFollowFlagThenUtf8ThenCp437) {
  const std::string utf8 = "Spa\xC3\x9F.txt";
  const std::string oem = "Spa\xE1.txt";  // the same name in code page 437
  EXPECT_EQ(StoredNameToUtf8(utf8, 0x0800, true), utf8);
  EXPECT_EQ(StoredNameToUtf8(utf8, 0, true), utf8);  // valid UTF-8 without the flag stays
  EXPECT_EQ(StoredNameToUtf8(oem, 0, true), utf8);
  EXPECT_EQ(StoredNameToUtf8(oem, 0, false), oem);   // no translation asked for
  EXPECT_EQ(StoredNameToUtf8(oem, 0x0800, true), oem);  // the flag is believed
}

TEST(ReadPaths, PiecesOfPathsAndNames) {
  EXPECT_EQ(ExtractFilePath("/a/b/c.jar"), "/a/b/");
  EXPECT_EQ(ExtractFilePath("c.jar"), "");
  EXPECT_EQ(ExtractFilePath("META-INF\\MANIFEST.MF"), "META-INF\\");
  EXPECT_EQ(ExtractFileName("/a/b/c.jar"), "c.jar");
  EXPECT_EQ(ExtractFileName("/a/b/"), "");
  EXPECT_EQ(ExtractFileExt("/a/b.d/c.JAR"), ".JAR");
  EXPECT_EQ(ExtractFileExt("/a/b.d/c"), "");
  EXPECT_EQ(ExtractFileExt("x.tar.gz"), ".gz");
  EXPECT_EQ(ChangeFileExt("/a/b.d/c.jar", ".jad"), "/a/b.d/c.jad");
  EXPECT_EQ(ChangeFileExt("/a/b.d/c", ".jad"), "/a/b.d/c.jad");
  EXPECT_EQ(IncludeTrailingSlash("/x"), "/x/");
  EXPECT_EQ(IncludeTrailingSlash("/x/"), "/x/");
  EXPECT_EQ(IncludeTrailingSlash(""), "");
  EXPECT_TRUE(SameTextAscii("Manifest.MF", "MANIFEST.mf"));
  EXPECT_FALSE(SameTextAscii("a", "ab"));
  EXPECT_EQ(ToLowerAscii("A\xC3\x89Z"), "a\xC3\x89z");  // only ASCII letters change
}

class ReadGblsFiles : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/parcelix-gbls-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = std::string(tmpl) + "/";
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  void Write(const std::string& name, const std::string& text) { std::ofstream(dir_ + name) << text; }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ + name);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir_;
};

TEST_F(ReadGblsFiles, ForceDirectoriesMakesEveryLevel) {
  EXPECT_TRUE(ForceDirectories(dir_ + "x/y/z/"));
  EXPECT_TRUE(DirectoryExists(dir_ + "x/y/z"));
  EXPECT_TRUE(ForceDirectories(dir_ + "x/y/z"));
  Write("file", "");
  EXPECT_FALSE(ForceDirectories(dir_ + "file/sub"));
  EXPECT_FALSE(DirectoryExists(dir_ + "file"));
  EXPECT_TRUE(FileExists(dir_ + "file"));
  EXPECT_FALSE(FileExists(dir_ + "x"));
}

}  // namespace
}  // namespace parcelix
