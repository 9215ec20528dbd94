// Manifest bytes as text: attribute scan, file-safe names, lines, sections, the word sort, the JAD.
#include <gtest/gtest.h>

#include <string>

#include "midlet/ManifestModel.h"
#include "midlet/MidletSuite.h"

using namespace parcelix;

namespace {

// A literal that may hold NUL bytes.
template <size_t N>
std::string Lit(const char (&s)[N]) {
  return std::string(s, N - 1);
}

std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

struct ScanCase {
  const char* what;
  std::string manifest;
  std::string name;     // expected ReadMIDletName
  bool nameFound;
  std::string version;  // expected ReadMIDletVersion
};

const ScanCase kScanCases[] = {
    {"CR LF", "MIDlet-Name: Foo Bar\r\nMIDlet-Version: 1.0.2\r\n", "Foo Bar", true, "1.0.2"},
    {"LF only", "MIDlet-Name: Foo Bar\nMIDlet-Version: 1.0.2\n", "Foo Bar", true, "1.0.2"},
    {"lone CR ends the value", "MIDlet-Name: Foo\rMIDlet-Version: 2\r", "Foo", true, "2"},
    {"NUL ends the value", Lit("MIDlet-Name: Foo\0junk\n"), "Foo", true, ""},
    {"no line end at all", "MIDlet-Name:   Spaced  ", "Spaced", true, ""},
    {"key inside a longer name counts", "X-MIDlet-Name: Other\r\nMIDlet-Name: Real\r\n", "Other", true, ""},
    {"other case is no match", "midlet-name: foo\r\nmidlet-version: 1\r\n", "", false, ""},
    {"empty value", "MIDlet-Name:\nMIDlet-Version:\n", "", true, ""},
    {"no space after the colon", "MIDlet-Name:Tight\r\n", "Tight", true, ""},
    {"tabs and controls trimmed", "MIDlet-Name:\t\x01 Tab\t\r\n", "Tab", true, ""},
    {"name window is 50 bytes after the colon",
     "MIDlet-Name: 0123456789012345678901234567890123456789012345678901234567\r\n",
     "0123456789012345678901234567890123456789012345678", true, ""},
    {"version window is 20 bytes", "MIDlet-Version: 1.2.3.4.5.6.7.8.9.10.11\r\n", "", false, "1.2.3.4.5.6.7.8.9.1"},
    {"stream shorter than the window", "MIDlet-Name: A", "A", true, ""},
    {"key at the very end", "MIDlet-Name:", "", true, ""},
    {"high bytes kept", "MIDlet-Name: \xC3\xA9t\xC3\xA9\r\n", "\xC3\xA9t\xC3\xA9", true, ""},
};

TEST(MidletAttributeScan, Table) {
  for (const auto& c : kScanCases) {
    bool found = !c.nameFound;
    EXPECT_EQ(ReadMIDletName(Bytes(c.manifest), &found), c.name) << c.what;
    EXPECT_EQ(found, c.nameFound) << c.what;
    EXPECT_EQ(ReadMIDletVersion(Bytes(c.manifest)), c.version) << c.what;
  }
}

TEST(MidletFileName, ReplacesTheNineCharactersAndControls) {
  EXPECT_EQ(MakeValidFileName("A/B: C?"), "A_B_ C_");
  EXPECT_EQ(MakeValidFileName("\"*/:<>?\\|"), "_________");
  EXPECT_EQ(MakeValidFileName("a\tb\x01" "c\x7f\x1f"), "a_b_c__");
  std::string keep;
  for (int c = 0x20; c < 256; ++c)
    if (c != 0x7F && std::string("\"*/:<>?\\|").find(char(c)) == std::string::npos) keep += char(c);
  EXPECT_EQ(MakeValidFileName(keep), keep);
  EXPECT_EQ(MakeValidFileName("../.."), ".._..");
}

struct LinesCase {
  const char* what;
  std::string bytes;
  ManifestDoc lines;
};

const LinesCase kLineCases[] = {
    {"CR LF, final empty line", "A: 1\r\nB: 2\r\n\r\n", {"A: 1", "B: 2", ""}},
    {"lone CR and LF mixed", "A: 1\rB: 2\nC: 3", {"A: 1", "B: 2", "C: 3"}},
    {"LF CR is two line ends", "A: 1\n\rB: 2\n", {"A: 1", "", "B: 2"}},
    {"NUL ends the text", Lit("A: 1\r\nB\0C: 3\r\n"), {"A: 1", "B"}},
    {"byte-order mark is not text", "\xEF\xBB\xBFManifest-Version: 1.0\r\n", {"Manifest-Version: 1.0"}},
    {"continuation joined, one blank removed", "MIDlet-Description: a long\r\n  text\r\n here\r\nB: 2\r\n",
     {"MIDlet-Description: a long texthere", "B: 2"}},
    {"continuation after an empty line is not joined", "A: 1\r\n\r\n x\r\n", {"A: 1", "", "x"}},
    {"continuation on the first line", " x\r\nA: 1\r\n", {"x", "A: 1"}},
    {"line of spaces continues", "A: 1\r\n   \r\n", {"A: 1  "}},
    {"empty input", "", {}},
    {"only a terminator", "\r\n", {""}},
};

TEST(MidletManifestLines, Table) {
  for (const auto& c : kLineCases) EXPECT_EQ(ParseManifestLines(Bytes(c.bytes)), c.lines) << c.what;
}

TEST(MidletManifestSections, SignedJarSectionsKeptRaw) {
  const std::string main = "Manifest-Version: 1.0\r\nMIDlet-Name: Game\r\nCreated-By: x\r\n  y\r\n";
  const std::string sections =
      "Name: a/B.class\r\nSHA-256-Digest: abc=\r\n\r\nName: c.png\nSHA-256-Digest: d\n  ef=\r\n\r\n";
  ManifestParts p = SplitManifest(Bytes(main + "\r\n" + sections));
  EXPECT_EQ(p.main, (ManifestDoc{"Manifest-Version: 1.0", "MIDlet-Name: Game", "Created-By: x y", ""}));
  EXPECT_EQ(p.sections, sections);
}

TEST(MidletManifestSections, OnlyANameLineAfterAnEmptyLineStartsSections) {
  // Name: inside the main section, and an empty line followed by another
  // attribute, are main-section text.
  ManifestParts p = SplitManifest(Bytes("Name: x\r\nA: 1\r\n\r\nB: 2\r\n\r\n\r\nname: lower\r\n"));
  EXPECT_EQ(p.main, (ManifestDoc{"Name: x", "A: 1", "", "B: 2", "", ""}));
  EXPECT_EQ(p.sections, "name: lower\r\n");
  // A NUL ends the sections too.
  p = SplitManifest(Bytes(Lit("A: 1\r\n\r\nName: s\r\n\0tail")));
  EXPECT_EQ(p.sections, "Name: s\r\n");
}

TEST(MidletWordSort, HyphensWeighLessThanLetters) {
  // Without hyphens "MIDletJar" < "MIDletName"; a plain byte order would
  // put "MIDlet-Name" before "MIDletJar" ('-' < 'J').
  EXPECT_LT(CompareManifestLines("MIDletJar", "MIDlet-Name"), 0);
  EXPECT_LT(CompareManifestLines("MicroEdition-Configuration: x", "MIDlet-1: y"), 0);
  EXPECT_LT(CompareManifestLines("it's", "itself"), 0);
  EXPECT_EQ(CompareManifestLines("midlet-name: x", "MIDlet-Name: x"), 0);
  // Strings equal but for the marks: the one with fewer marks first.
  EXPECT_LT(CompareManifestLines("coop", "co-op"), 0);
  EXPECT_GT(CompareManifestLines("co-op", "coop"), 0);
}

TEST(MidletWordSort, ClassesOrder) {
  // blanks and punctuation < digits < letters < bytes above 0x7F; a prefix first.
  const char* ordered[] = {"MIDlet-_x", "MIDlet-1: a", "MIDlet-10: a", "MIDlet-2: a", "MIDlet-9",
                           "MIDlet-Jar", "MIDlet-jarz", "MIDlet-\xC3\xA9"};
  for (size_t i = 0; i + 1 < std::size(ordered); ++i)
    EXPECT_LT(CompareManifestLines(ordered[i], ordered[i + 1]), 0) << ordered[i] << " / " << ordered[i + 1];
  EXPECT_LT(CompareManifestLines("A", "A:"), 0);
  EXPECT_LT(CompareManifestLines("", "-"), 0);
}

TEST(MidletWordSort, StableForEqualLines) {
  ManifestDoc doc = {"b: 1", "MIDLET-NAME: 2", "a: 3", "midlet-name: 4", "MIDlet-Name: 5"};
  SortManifestDoc(doc);
  EXPECT_EQ(doc, (ManifestDoc{"a: 3", "b: 1", "MIDLET-NAME: 2", "midlet-name: 4", "MIDlet-Name: 5"}));
}

TEST(MidletJad, ExampleComesOutByteForByte) {
  const std::string manifest =
      "Manifest-Version: 1.0\r\nMIDlet-Name: Game\r\nMIDlet-Version: 1.0\r\n"
      "MIDlet-1: Game, /i.png, GameMidlet\r\nMicroEdition-Profile: MIDP-2.0\r\n"
      "MicroEdition-Configuration: CLDC-1.1\r\n\r\n";
  ManifestDoc doc = SplitManifest(Bytes(manifest)).main;
  EXPECT_EQ(ManifestDocText(ComposeJad(doc, 12345, "Game.jar")),
            "Manifest-Version: 1.0\r\n"
            "MicroEdition-Configuration: CLDC-1.1\r\n"
            "MicroEdition-Profile: MIDP-2.0\r\n"
            "MIDlet-1: Game, /i.png, GameMidlet\r\n"
            "MIDlet-Jar-Size: 12345\r\n"
            "MIDlet-Jar-URL: Game.jar\r\n"
            "MIDlet-Name: Game\r\n"
            "MIDlet-Version: 1.0\r\n");
}

TEST(MidletJad, LinesCarriedOverAndKept) {
  // Blank-only lines stay, an existing Jar-Size stays beside the new one,
  // -1 is written as is (and sorts by its digit: the minus sign is a hyphen).
  ManifestDoc jad = ComposeJad({"MIDlet-Jar-Size: 7", "", "  ", "Created-By: me"}, -1, "a b.jar");
  EXPECT_EQ(jad, (ManifestDoc{"  ", "Created-By: me", "MIDlet-Jar-Size: -1", "MIDlet-Jar-Size: 7",
                              "MIDlet-Jar-URL: a b.jar"}));
}

TEST(MidletJad, PathOfTheJad) {
  EXPECT_EQ(JadPathOf("/m/Game.jar"), "/m/Game.jad");
  EXPECT_EQ(JadPathOf("/m/Game.JAR"), "/m/Game.jad");
  EXPECT_EQ(JadPathOf("/m/Game"), "/m/Game.jad");
  EXPECT_EQ(JadPathOf("/m.d/Game"), "/m.d/Game.jad");
  EXPECT_EQ(JadPathOf("Game.v2.jar"), "Game.v2.jad");
}

}  // namespace
