// The collection audit on crafted JARs and JADs: which codes each gives,
// and the JAD/manifest text reader it stands on.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "engine/read_zipbuilder.h"
#include "midlet/Audit.h"
#include "midlet/AuditSteps.h"
#include "midlet/JadText.h"

using namespace parcelix;
using namespace parcelix::testzip;

namespace {

std::span<const uint8_t> Bytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

const std::string kGood =
    "Manifest-Version: 1.0\r\nMIDlet-Name: Snake\r\nMIDlet-Version: 1.2.3\r\nMIDlet-Vendor: Games Ltd\r\n"
    "MIDlet-1: Snake, /icon.png, com.games.Snake\r\nMIDlet-Icon: /icon.png\r\n"
    "MicroEdition-Profile: MIDP-2.0\r\nMicroEdition-Configuration: CLDC-1.1\r\n\r\n";

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  const size_t at = s.find(from);
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

std::vector<Member> Suite(const std::string& manifest, const std::string& manifestName = "META-INF/MANIFEST.MF") {
  return {{.name = manifestName, .data = manifest, .method = 8},
          {.name = "com/games/Snake.class", .data = std::string(3000, 'c'), .method = 8},
          {.name = "icon.png", .data = "\x89PNG....", .method = 0}};
}

class AuditTest : public Scratch {
 protected:
  // The codes of the JAR's findings (and of its JAD's, when one is given).
  std::set<std::string> Codes(const Built& jar, const std::string& jad = "", const char* name = "s.jar") {
    const std::string path = Put(name, jar.bytes);
    const std::string jadPath = dir_ + std::string(name).substr(0, std::string(name).rfind('.')) + ".jad";
    std::remove(jadPath.c_str());
    if (!jad.empty()) {
      std::string text = Replace(jad, "$SIZE", std::to_string(jar.bytes.size()));
      Put(std::string(name).substr(0, std::string(name).rfind('.')) + ".jad", {text.begin(), text.end()});
    }
    last = AuditJar(path);
    std::set<std::string> codes;
    for (const AuditFinding& f : last.findings) codes.insert(f.code);
    return codes;
  }
  AuditResult last;
};

std::string Joined(const std::set<std::string>& s) {
  std::string out;
  for (const auto& c : s) out += (out.empty() ? "" : " ") + c;
  return out;
}

// ---------------------------------------------------------------- the text reader

TEST(JadTextTest, AttributesAndNotes) {
  struct {
    const char* what;
    std::string text;
    std::vector<std::pair<std::string, std::string>> attributes;
    bool continuation, utf8, finalEnd;
    size_t malformed;
  } cases[] = {
      {"CR LF, blanks trimmed", "A: 1\r\nB:\t two \r\n", {{"A", "1"}, {"B", "two"}}, false, true, true, 0},
      {"lone CR and LF", "A: 1\rB: 2\nC: 3\n", {{"A", "1"}, {"B", "2"}, {"C", "3"}}, false, true, true, 0},
      {"blank lines passed over", "\r\nA: 1\r\n\r\nB: 2\r\n", {{"A", "1"}, {"B", "2"}}, false, true, true, 0},
      {"continuation joined", "A: abc\r\n def\r\nB: 2\n", {{"A", "abcdef"}, {"B", "2"}}, true, true, true, 0},
      {"no final line end", "A: 1\r\nB: 2", {{"A", "1"}, {"B", "2"}}, false, true, false, 0},
      {"colon in the value", "MIDlet-Jar-URL: http://x/y.jar\n", {{"MIDlet-Jar-URL", "http://x/y.jar"}}, false, true,
       true, 0},
      {"no colon, empty name", "junk\n: v\nA: 1\n", {{"A", "1"}}, false, true, true, 2},
      {"continuation first", " orphan\nA: 1\n", {{"A", "1"}}, true, true, true, 1},
      {"Latin-1 byte", "A: caf\xe9\n", {{"A", "caf\xe9"}}, false, false, true, 0},
      {"UTF-8 kept", "A: caf\xc3\xa9\n", {{"A", "caf\xc3\xa9"}}, false, true, true, 0},
      {"NUL ends the attributes", std::string("A: 1\nB: x\0y\nC: 3\n", 17), {{"A", "1"}, {"B", "x"}}, false, true,
       true, 0},
  };
  for (const auto& c : cases) {
    const AttributeText t = ParseJadText(Bytes(c.text));
    EXPECT_EQ(t.attributes, c.attributes) << c.what;
    EXPECT_EQ(t.continuation, c.continuation) << c.what;
    EXPECT_EQ(t.validUtf8, c.utf8) << c.what;
    EXPECT_EQ(t.finalLineEnd, c.finalEnd) << c.what;
    EXPECT_EQ(t.malformedLines, c.malformed) << c.what;
  }
}

TEST(JadTextTest, ManifestMainSectionAndLineLengths) {
  const std::string text = "\xEF\xBB\xBFManifest-Version: 1.0\r\nMIDlet-Name: " + std::string(80, 'n') +
                           "\r\n\r\nName: a.class\r\nSHA1-Digest: " + std::string(600, 'd') + "\r\n";
  const AttributeText t = ParseManifestText(Bytes(text));
  ASSERT_EQ(t.attributes.size(), 2u);  // the per-entry section is not the main one
  EXPECT_EQ(t.attributes[0].first, "Manifest-Version");
  EXPECT_TRUE(t.bom);
  EXPECT_EQ(t.longestLine, 613u);  // measured over the whole text
  EXPECT_EQ(t.longestWithEnd, 615u);
}

TEST(JadTextTest, Utf8Validity) {
  const std::pair<std::string, bool> cases[] = {
      {"", true},         {"plain", true},         {"\xc3\xa9", true},         {"\xe2\x82\xac", true},
      {"\xf0\x9f\x98\x80", true}, {"\xc0\xaf", false}, {"\xe0\x80\xaf", false}, {"\xed\xa0\x80", false},
      {"\xf4\x90\x80\x80", false}, {"\xc3", false},   {"\xe2\x82", false},      {"\x80", false},
  };
  for (const auto& [text, valid] : cases) EXPECT_EQ(IsValidUtf8(Bytes(text)), valid) << testing::PrintToString(text);
}

TEST(JadTextTest, MidletVersionForm) {
  for (const char* good : {"1.0", "0.0", "99.99.99", "1.2.3", "01.5"}) EXPECT_TRUE(IsMidletVersion(good)) << good;
  for (const char* bad : {"", "1", "1.", ".1", "1.0.0.0", "100.0", "1.100", "1.0a", "1,0", "v1.0", "1..0", " 1.0"})
    EXPECT_FALSE(IsMidletVersion(bad)) << bad;
}

TEST(JadTextTest, JarUrlAgainstTheJar) {
  struct {
    const char* url;
    const char* jad;
    const char* jar;
    bool names;
  } cases[] = {
      {"Game.jar", "/c/Game.jad", "/c/Game.jar", true},
      {"./Game.jar", "/c/Game.jad", "/c/Game.jar", true},
      {"Game%20One.jar", "/c/Game One.jad", "/c/Game One.jar", true},
      {"Game One.jar", "/c/Game One.jad", "/c/Game One.jar", true},
      {"Game.jar?x=1", "/c/Game.jad", "/c/Game.jar", true},
      {"sub/../Game.jar", "/c/Game.jad", "/c/Game.jar", true},
      {"Other.jar", "/c/Game.jad", "/c/Game.jar", false},
      {"game.jar", "/c/Game.jad", "/c/Game.jar", false},
      {"sub/Game.jar", "/c/Game.jad", "/c/Game.jar", false},
      {"/Game.jar", "/c/Game.jad", "/c/Game.jar", false},
      {"", "/c/Game.jad", "/c/Game.jar", false},
  };
  for (const auto& c : cases) EXPECT_EQ(JarUrlNamesJar(c.url, c.jad, c.jar), c.names) << c.url;
}

// ---------------------------------------------------------------- manifest and JAD findings

TEST_F(AuditTest, ManifestAndJadCases) {
  const std::string jadGood =
      "MIDlet-Name: Snake\r\nMIDlet-Version: 1.2.3\r\nMIDlet-Vendor: Games Ltd\r\nMIDlet-Jar-URL: s.jar\r\n"
      "MIDlet-Jar-Size: $SIZE\r\n";
  struct {
    const char* what;
    std::string manifest;
    std::string jad;  // empty: no JAD
    std::string codes;
  } cases[] = {
      {"a sound suite", kGood, "", ""},
      {"a sound suite with its JAD", kGood, jadGood, ""},
      {"LF line ends", Replace(kGood, "\r\n", "\n"), "", ""},
      {"byte-order mark", "\xEF\xBB\xBF" + kGood, "", "manifest-bom"},
      {"NUL", kGood + std::string("X: \0\r\n", 6), "", "manifest-nul"},
      {"line of 73 bytes", kGood + "X-A: " + std::string(68, 'a') + "\r\n", "", "manifest-long-line"},
      {"line of 72 bytes", kGood + "X-A: " + std::string(67, 'a') + "\r\n", "", ""},
      {"line over 512 bytes", kGood + "X-A: " + std::string(600, 'a') + "\r\n", "", "manifest-long-line"},
      {"no final line end", Replace(kGood, "CLDC-1.1\r\n\r\n", "CLDC-1.1"), "", "manifest-no-final-newline"},
      {"Latin-1 vendor", Replace(kGood, "Games Ltd", "Jeux \xe9t\xe9"), "", "not-utf8"},
      {"no name", Replace(kGood, "MIDlet-Name: Snake\r\n", ""), "", "missing-attribute"},
      {"no profile", Replace(kGood, "MicroEdition-Profile: MIDP-2.0\r\n", ""), "", "missing-attribute"},
      {"profile in the JAD only", Replace(kGood, "MicroEdition-Profile: MIDP-2.0\r\n", ""),
       jadGood + "MicroEdition-Profile: MIDP-2.0\r\n", ""},
      {"name after the main section", Replace(kGood, "MIDlet-Name: Snake\r\n", "") + "MIDlet-Name: Snake\r\n", "",
       "missing-attribute"},
      {"version of one part", Replace(kGood, "1.2.3", "1"), "", "bad-version"},
      {"version part over 99", Replace(kGood, "1.2.3", "1.100"), "", "bad-version"},
      {"class not in the JAR", Replace(kGood, "com.games.Snake", "com.games.Lost"), "", "missing-class"},
      {"MIDlet-1 without a class", Replace(kGood, "Snake, /icon.png, com.games.Snake", "Snake"), "",
       "missing-class"},
      {"icon not in the JAR", Replace(kGood, "MIDlet-Icon: /icon.png", "MIDlet-Icon: /lost.png"), "", "missing-icon"},
      {"empty icon is fine", Replace(kGood, "Snake, /icon.png,", "Snake, ,"), "", ""},
      {"a line without a colon", Replace(kGood, "MIDlet-Icon", "MIDlet-Icon junk\r\nMIDlet-Icon"), "",
       "manifest-bad-line"},
      {"JAD size wrong", kGood, Replace(jadGood, "$SIZE", "12"), "jad-size-mismatch"},
      {"JAD URL wrong", kGood, Replace(jadGood, "s.jar", "t.jar"), "jad-url-mismatch"},
      {"JAD URL absolute", kGood, Replace(jadGood, "s.jar", "http://example.org/s.jar"), "jad-url-absolute"},
      {"JAD name differs", kGood, Replace(jadGood, "Name: Snake", "Name: Snake II"), "jad-name-mismatch"},
      {"JAD version differs", kGood, Replace(jadGood, "1.2.3", "1.2.4"), "jad-version-mismatch"},
      {"JAD vendor differs", kGood, Replace(jadGood, "Games Ltd", "Other"), "jad-vendor-mismatch"},
      {"JAD without its size", kGood, Replace(jadGood, "MIDlet-Jar-Size: $SIZE\r\n", ""), "missing-attribute"},
      {"JAD continuation", kGood, Replace(jadGood, "Games Ltd", "Games\r\n  Ltd"), "jad-continuation"},
      {"JAD not UTF-8", kGood, jadGood + "MIDlet-Description: caf\xe9\r\n", "not-utf8"},
      {"JAD with a NUL", kGood, jadGood + std::string("X: \0\r\n", 6), "jad-bad-line"},
  };
  for (const auto& c : cases) EXPECT_EQ(Joined(Codes(Build(Suite(c.manifest)), c.jad)), c.codes) << c.what;
}

TEST_F(AuditTest, SuiteFieldsAndJadPath) {
  Codes(Build(Suite(kGood)), "MIDlet-Name: Snake\n", "Up.JAR");
  EXPECT_EQ(last.name, "Snake");
  EXPECT_EQ(last.vendor, "Games Ltd");
  EXPECT_EQ(last.version, "1.2.3");
  EXPECT_EQ(last.jadPath, dir_ + "Up.jad");
  EXPECT_EQ(last.size, int64_t(Build(Suite(kGood)).bytes.size()));
  EXPECT_TRUE(last.HasError());  // that JAD lacks the size, URL, vendor and version
}

TEST_F(AuditTest, TooLargeJadIsNotRead) {
  const std::string big(kAuditJadLimit + 1, 'x');
  EXPECT_EQ(Joined(Codes(Build(Suite(kGood)), big)), "jad-too-large");
}

// A manifest past the audit's limit: its start is still judged (the suite's
// attributes come first), the rest is not kept.
TEST_F(AuditTest, TooLargeManifestIsCut) {
  std::string padded = Replace(kGood, "\r\n\r\n", "\r\n");
  const std::string line = "X-Pad: " + std::string(60, 'p') + "\r\n";
  while (padded.size() <= kAuditManifestLimit) padded += line;
  EXPECT_EQ(Joined(Codes(Build(Suite(padded + "\r\n")))), "manifest-too-large");
  EXPECT_EQ(last.name, "Snake");
  EXPECT_FALSE(last.HasError());
}

// ---------------------------------------------------------------- the manifest's place

TEST_F(AuditTest, ManifestPlace) {
  const Member folder{.name = "META-INF/", .data = ""};
  const Member cls{.name = "com/games/Snake.class", .data = std::string(100, 'c'), .method = 8};
  const Member icon{.name = "icon.png", .data = "png"};
  const Member mf{.name = "META-INF/MANIFEST.MF", .data = kGood, .method = 8};
  struct {
    const char* what;
    std::vector<Member> members;
    std::string codes;
  } cases[] = {
      {"first", {mf, cls, icon}, ""},
      {"second after META-INF/", {folder, mf, cls, icon}, ""},
      {"after a class", {cls, mf, icon}, "manifest-not-first"},
      {"third after META-INF/", {folder, cls, mf, icon}, "manifest-not-first"},
      {"lower case", {{.name = "meta-inf/manifest.mf", .data = kGood}, cls, icon}, "manifest-misnamed"},
      {"at the root", {{.name = "MANIFEST.MF", .data = kGood}, cls, icon}, "manifest-misnamed"},
      {"none", {cls, icon}, "no-manifest"},
  };
  for (const auto& c : cases) EXPECT_EQ(Joined(Codes(Build(c.members))), c.codes) << c.what;
}

// ---------------------------------------------------------------- archive findings

TEST_F(AuditTest, ArchiveCases) {
  std::vector<Member> badCrc = Suite(kGood);
  badCrc[1].crc = 0x12345678;
  std::vector<Member> streamed = Suite(kGood);
  streamed[1].streamed = true;
  std::vector<Member> unknownMethod = Suite(kGood);
  unknownMethod[2].method = 14;
  const Built good = Build(Suite(kGood));
  std::vector<uint8_t> cut(good.bytes.begin(), good.bytes.begin() + good.centralStart + 20);
  struct {
    const char* what;
    std::vector<uint8_t> bytes;
    std::string codes;
  } cases[] = {
      {"sound", good.bytes, ""},
      {"CRC wrong", Build(badCrc).bytes, "crc-error"},
      {"streamed with its descriptor", Build(streamed).bytes, ""},
      {"unknown method", Build(unknownMethod).bytes, "bad-member"},
      {"prefix counted in the offsets", Build(Suite(kGood), {.prefix = std::string(100, 'p')}).bytes, "prefix-bytes"},
      {"prefix not counted", Build(Suite(kGood), {.prefix = std::string(100, 'p'), .adjustOffsets = false}).bytes,
       "prefix-bytes"},
      {"directory offset wrong", Build(Suite(kGood), {.recordedDirectoryOffset = uint32_t(good.centralStart - 7)}).bytes,
       "bad-directory-offset"},
      {"cut inside the directory", cut, "truncated"},
      {"not a ZIP", std::vector<uint8_t>(500, 'z'), "not-zip"},
      {"empty file", {}, "not-zip"},
  };
  for (const auto& c : cases) {
    const std::string path = Put("a.jar", c.bytes);
    std::set<std::string> codes;
    for (const AuditFinding& f : AuditJar(path).findings) codes.insert(f.code);
    // Other codes may come along (a cut archive also misses members); the one
    // asked for must be there, and a sound archive has none.
    if (std::string(c.codes).empty()) EXPECT_EQ(Joined(codes), "") << c.what;
    else EXPECT_TRUE(codes.count(c.codes)) << c.what << ": " << Joined(codes);
  }
}

// Bit 3 set and no descriptor written: the next header follows the data.
TEST_F(AuditTest, DescriptorFlagWithoutDescriptor) {
  std::vector<Member> members = Suite(kGood);
  members[1].flags = kFlagDataDescriptor;
  EXPECT_EQ(Joined(Codes(Build(members))), "descriptor-flag-without-descriptor");
}

// A hostile archive with many bad members: listed up to the limit, then counted.
TEST_F(AuditTest, ManyBadMembersAreCounted) {
  std::vector<Member> members = Suite(kGood);
  for (int i = 0; i < 50; ++i)
    members.push_back({.name = "bad" + std::to_string(i), .data = "data", .crc = 1u});
  Codes(Build(members));
  const auto n = std::count_if(last.findings.begin(), last.findings.end(),
                               [](const AuditFinding& f) { return f.code == "crc-error"; });
  EXPECT_EQ(n, long(kAuditMemberListLimit) + 1);
  EXPECT_EQ(last.findings.back().text, "and 30 more members");
}

}  // namespace
