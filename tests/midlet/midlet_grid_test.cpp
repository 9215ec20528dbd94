// The editor's grid lines, their conversion to manifest text, and line folding.
#include <gtest/gtest.h>

#include "midlet/ManifestModel.h"

using namespace parcelix;

namespace {

TEST(MidletGrid, LoadConversion) {
  ManifestDoc doc = {"Manifest-Version: 1.0", "MIDlet-Name: Foo", "Created-By: X", "",
                     "MIDlet-Description: Level 2: Boss", "Tight:value", "NoColon", "Empty:"};
  EXPECT_EQ(ManifestToGrid(doc),
            (GridLines{"Created-By=X", "Empty=", "Manifest-Version=1.0", "MIDlet-Description=Level 2: Boss",
                       "MIDlet-Name=Foo", "NoColon", "Tight=value"}));
}

TEST(MidletGrid, SaveConversion) {
  GridLines grid = {"MIDlet-Name=Foo", "X=a=b", "=orphan value", "", "Bare", "Created-By=X", "K="};
  EXPECT_EQ(GridToManifest(grid), (ManifestDoc{"Bare", "Created-By: X", "K: ", "MIDlet-Name: Foo", "X: a=b"}));
}

TEST(MidletGrid, UnchangedRoundTripOfThePartExample) {
  ManifestDoc doc = {"Manifest-Version: 1.0", "MIDlet-Name: Foo", "Created-By: X", ""};
  GridLines grid = ManifestToGrid(doc);
  EXPECT_EQ(grid, (GridLines{"Created-By=X", "Manifest-Version=1.0", "MIDlet-Name=Foo"}));
  EXPECT_EQ(ComposeManifest(GridToManifest(grid), ""),
            "Created-By: X\r\nManifest-Version: 1.0\r\nMIDlet-Name: Foo\r\n\r\n");
}

TEST(MidletGrid, LineBreaksRejected) {
  EXPECT_THROW(GridToManifest({"A=b\r\nInjected: x"}), EMidletError);
  EXPECT_THROW(GridToManifest({"A=b\n"}), EMidletError);
  EXPECT_THROW(GridToManifest({std::string("A=b\0c", 5)}), EMidletError);
}

TEST(MidletGrid, SetAndUnset) {
  GridLines grid = {"A=1", "midlet-name=old", "B=2", "MIDLET-NAME=dupe"};
  GridSet(grid, "MIDlet-Name", "New");
  EXPECT_EQ(grid, (GridLines{"A=1", "MIDlet-Name=New", "B=2"}));
  GridSet(grid, "C", "x=y");
  EXPECT_EQ(grid.back(), "C=x=y");
  EXPECT_EQ(GridUnset(grid, "b"), 1);
  EXPECT_EQ(GridUnset(grid, "missing"), 0);
  EXPECT_EQ(grid, (GridLines{"A=1", "MIDlet-Name=New", "C=x=y"}));
}

TEST(MidletFold, ShortLinesStayWhole) {
  std::string line(kMaxManifestLineBytes - 2, 'a');
  EXPECT_EQ(FoldManifestLine(line), std::vector<std::string>{line});
}

TEST(MidletFold, LongLinesFitJavasReader) {
  for (size_t len : {kMaxManifestLineBytes - 1, kMaxManifestLineBytes, size_t(1500), size_t(5000)}) {
    std::string line = "MIDlet-Description: ";
    while (line.size() < len) line += char('a' + line.size() % 26);
    auto parts = FoldManifestLine(line);
    ASSERT_GT(parts.size(), 1u) << len;
    std::string joined = parts[0];
    for (size_t i = 0; i < parts.size(); ++i) {
      EXPECT_LE(parts[i].size() + 2, kMaxManifestLineBytes);
      if (i) {
        ASSERT_EQ(parts[i][0], ' ');
        joined += parts[i].substr(1);
      }
    }
    EXPECT_EQ(joined, line);
    // And the manifest reader joins them back.
    std::string text = ComposeManifest({line}, "");
    EXPECT_EQ(ParseManifestLines({reinterpret_cast<const uint8_t*>(text.data()), text.size()}),
              (ManifestDoc{line, ""}));
  }
}

TEST(MidletFold, NeverSplitsAUtf8Character) {
  std::string line = "K: ";
  while (line.size() < 1200) line += "\xE2\x82\xAC";  // three-byte euro sign
  for (const auto& part : FoldManifestLine(line)) {
    size_t start = part[0] == ' ' ? 1 : 0;
    if (part.size() > start) {
      EXPECT_NE(uint8_t(part[start]) & 0xC0, 0x80) << "piece starts inside a character";
    }
  }
}

TEST(MidletCompose, SectionsFollowTheEmptyLine) {
  const std::string sections = "Name: a.class\nSHA1-Digest: x\n\n";
  EXPECT_EQ(ComposeManifest({"A: 1"}, sections), "A: 1\r\n\r\n" + sections);
  EXPECT_EQ(ComposeManifest({}, ""), "\r\n");
}

}  // namespace
