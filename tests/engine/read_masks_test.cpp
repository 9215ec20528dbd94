// Wildcard masks and member selection by FileSpec, ExcludeSpec and RecurseDirs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/read/arxMasks.h"

namespace parcelix {
namespace {

struct MaskCase {
  const char* mask;
  const char* name;
  bool matches;
};

class ReadMask : public testing::TestWithParam<MaskCase> {};

TEST_P(ReadMask, Matches) {
  const MaskCase& c = GetParam();
  EXPECT_EQ(TInternalMask(c.mask).Matches(c.name), c.matches) << c.mask << " vs " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Wildcards, ReadMask,
    testing::Values(MaskCase{"*.*", "a.b", true}, MaskCase{"*.*", "LICENSE", false},
                    MaskCase{"*", "", true}, MaskCase{"*", "anything.at.all", true},
                    MaskCase{"", "", true}, MaskCase{"", "a", false},
                    MaskCase{"MANIFEST.MF", "manifest.mf", true},          // letters ignore case
                    MaskCase{"MANIFEST.MF", "MANIFEST.MF.BAK", false},     // the whole name
                    MaskCase{"*.class", "a\\B.CLASS", true},
                    MaskCase{"?.txt", "a.txt", true}, MaskCase{"?.txt", ".txt", false},
                    MaskCase{"a*?b", "ab", true},                          // "*?" is "*"
                    MaskCase{"a*b", "axxb", true}, MaskCase{"a*b", "axxbx", false},
                    MaskCase{"*a*a*b", "aaaaaaab", true}, MaskCase{"*a*a*b", "aaaaaaa", false},
                    MaskCase{"*.", "README", true},                        // dotless names
                    MaskCase{"*.", "read.me", false},
                    MaskCase{"META-INF/*.MF", "META-INF\\MANIFEST.MF", true},  // separators alike
                    MaskCase{"META-INF/*.MF", "META-INF\\SUB\\X.MF", true},
                    MaskCase{"\xC3\xA9*", "\xC3\x89x", false},             // non-ASCII compares exactly
                    MaskCase{"*X", "x", true}));

TEST(ReadMaskCost, LongHostileNamesStayCheap) {
  // Backtracking over many stars must not explode on a 65535-byte name.
  const std::string name(65535, 'a');
  EXPECT_FALSE(TInternalMask("*a*a*a*a*a*a*a*a*b").Matches(name));
  EXPECT_TRUE(TInternalMask("*a*a*a*a*a*a*a*a*").Matches(name));
}

struct SelectCase {
  std::vector<std::string> spec;
  bool recurse;
  const char* name;
  bool selected;
};

class ReadSelect : public testing::TestWithParam<SelectCase> {};

TEST_P(ReadSelect, Selects) {
  const SelectCase& c = GetParam();
  TStringList spec = c.spec;
  TStringList exclude;
  TMemberSelector s;
  s.FileSpec = &spec;
  s.ExcludeSpec = &exclude;
  s.RecurseDirs = c.recurse;
  EXPECT_EQ(s.Select(c.name), c.selected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Specs, ReadSelect,
    testing::Values(SelectCase{{"MANIFEST.MF"}, true, "META-INF\\MANIFEST.MF", true},
                    SelectCase{{"MANIFEST.MF"}, true, "meta-inf\\manifest.mf", true},
                    SelectCase{{"MANIFEST.MF"}, true, "x\\y\\MANIFEST.MF", true},
                    SelectCase{{"MANIFEST.MF"}, true, "META-INF\\MANIFEST.MF.BAK", false},
                    SelectCase{{"MANIFEST.MF"}, false, "META-INF\\MANIFEST.MF", false},
                    SelectCase{{"MANIFEST.MF"}, false, "MANIFEST.MF", true},
                    SelectCase{{"*.*"}, true, "LICENSE", true},            // the dot retry
                    SelectCase{{"*.*"}, true, "META-INF\\", true},         // empty file part as "."
                    SelectCase{{"*.*"}, false, "a\\b.txt", false},
                    SelectCase{{"META-INF/*.MF"}, true, "META-INF\\MANIFEST.MF", true},
                    SelectCase{{"META-INF/*.MF"}, true, "META-INF\\SUB\\X.MF", true},
                    SelectCase{{"META-INF/*.MF"}, true, "MANIFEST.MF", false},
                    SelectCase{{"META-INF\\*.MF"}, false, "META-INF\\MANIFEST.MF", true},
                    SelectCase{{"META-INF/MANIFEST.MF"}, true, "META-INF\\MANIFEST.MF", true},
                    SelectCase{{}, true, "a.txt", false},
                    SelectCase{{"", "*.txt"}, true, "a.txt", true},
                    SelectCase{{"*.txt"}, true, "", false}));

TEST(ReadSelection, DotlessSpecKeepsItsAddedDot) {
  TStringList spec = {"README"};
  TMemberSelector s;
  s.FileSpec = &spec;
  EXPECT_FALSE(s.Select("docs\\a.txt"));
  EXPECT_EQ(spec[0], "README.");
  EXPECT_TRUE(s.Select("docs\\README"));
  EXPECT_FALSE(s.Select("docs\\README.txt"));
}

TEST(ReadSelection, ExclusionFiresItsEventAndWins) {
  TStringList spec = {"*.*"};
  TStringList exclude = {"*.class"};
  std::vector<std::string> excluded;
  TMemberSelector s;
  s.FileSpec = &spec;
  s.ExcludeSpec = &exclude;
  s.OnExcludeFile = [&](const std::string& n) { excluded.push_back(n); };
  EXPECT_FALSE(s.Select("a\\B.class"));
  EXPECT_TRUE(s.Select("a\\B.txt"));
  EXPECT_EQ(excluded, std::vector<std::string>{"a\\B.class"});
  // Exclusion is tested only while a non-empty spec is tried.
  TStringList none;
  s.FileSpec = &none;
  EXPECT_FALSE(s.Select("c.class"));
  EXPECT_EQ(excluded.size(), 1u);
}

TEST(ReadMaskParts, DirectoryAndFileParts) {
  EXPECT_EQ(MaskDirPart("META-INF\\MANIFEST.MF"), "META-INF\\");
  EXPECT_EQ(MaskDirPart("META-INF/"), "META-INF\\");
  EXPECT_EQ(MaskDirPart("a\\b\\"), "a\\b\\");
  EXPECT_EQ(MaskDirPart("MANIFEST.MF"), "");
  EXPECT_EQ(MaskDirPart("C:\\x"), "C:\\");
  EXPECT_EQ(MaskDirPart("C:x"), "C:\\");
  EXPECT_EQ(MaskFilePart("a\\b/c.txt"), "c.txt");
  EXPECT_EQ(MaskFilePart("a\\"), "");
}

}  // namespace
}  // namespace parcelix
