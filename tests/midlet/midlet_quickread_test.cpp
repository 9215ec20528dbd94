// The quick manifest read of plain JARs against the full reader: where the
// quick read answers it gives the reader's bytes, and it leaves every odd
// archive to the reader.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/read/PlainMember.h"
#include "engine/read_zipbuilder.h"
#include "midlet/MidletSuite.h"

using namespace parcelix;
using namespace parcelix::testzip;

namespace {

const std::string kManifest = "Manifest-Version: 1.0\r\nMIDlet-Name: Quick\r\nMIDlet-Version: 1.0\r\n\r\n";
constexpr const char* kName = "META-INF/MANIFEST.MF";

// The full reader's answer: the manifest, or "!" and why it failed.
std::string FullRead(const std::string& path) {
  TUnZip reader;
  try {
    const std::vector<uint8_t> b = ReadJarManifest(reader, path);
    return std::string(b.begin(), b.end());
  } catch (const std::exception& e) {
    return std::string("!") + e.what();
  }
}

std::string QuickOrFullRead(const std::string& path) {
  TUnZip reader;
  try {
    const TPlainMember m = ReadJarManifestAndIdentity(reader, path);
    return std::string(m.bytes.begin(), m.bytes.end());
  } catch (const std::exception& e) {
    return std::string("!") + e.what();
  }
}

struct Case {
  const char* name;
  std::vector<Member> members;
  Layout layout{};
  bool quick = true;  // the quick read answers
};

std::vector<Case> Cases() {
  const Member mf{kName, kManifest, 8};
  const Member cls{"a/Main.class", std::string(3000, 'c'), 8};
  auto with = [&](void (*change)(Member&)) {
    Member m = mf;
    change(m);
    return std::vector<Member>{{"META-INF/", ""}, m, cls};
  };
  return {
      {"deflated", {{"META-INF/", ""}, mf, cls}},
      {"stored", with([](Member& m) { m.method = 0; })},
      {"manifest last", {cls, mf}},
      {"written as the JDK writes (data descriptor)", with([](Member& m) { m.streamed = true; })},
      {"lower-case name", with([](Member& m) { m.name = "meta-inf/manifest.mf"; })},
      {"short archive comment", {mf, cls}, {.comment = "made by hand"}},
      {"empty manifest", with([](Member& m) { m.data = ""; })},
      {"bytes in front, offsets counting them", {mf, cls}, {.prefix = std::string(64, 'x')}},
      {"bytes in front, offsets not adjusted", {mf, cls}, {.prefix = std::string(64, 'x'), .adjustOffsets = false}, false},
      {"zip64 end records", {mf, cls}, {.zip64End = true}, false},
      {"zip64 sizes", with([](Member& m) { m.zip64 = true; }), {}, false},
      {"wrong directory offset", {mf, cls}, {.recordedDirectoryOffset = 5}, false},
      {"wrong entry count", {mf, cls}, {.recordedCount = 30}, false},
      {"bad CRC", with([](Member& m) { m.crc = 77; }), {}, false},
      {"wrong size", with([](Member& m) { m.usize = 5; }), {}, false},
      {"encrypted", with([](Member& m) { m.flags = kFlagEncrypted; }), {}, false},
      {"Deflate64 or another method", with([](Member& m) { m.method = 9; }), {}, false},
      {"stored twice", {mf, cls, mf}, {}, false},
      {"only a nested manifest", {{"lib/MANIFEST.MF", kManifest, 8}, cls}, {}, false},
      {"no manifest", {cls}, {}, false},
  };
}

using QuickRead = Scratch;

// What follows the case's members: nothing (the whole JAR lies in the last
// page, which the quick read reads first), a large member (the manifest lies
// before it), or so many members that the directory itself lies before it.
std::vector<Member> Padding(int kind) {
  std::vector<Member> extra;
  if (kind == 1) extra.push_back({"res/big.bin", std::string(9000, 'p'), 0});
  for (int i = 0; kind == 2 && i < 150; ++i) extra.push_back({"res/r" + std::to_string(i) + ".png", "png", 0});
  return extra;
}

TEST_F(QuickRead, AnswersForPlainJarsAndLeavesTheRestToTheReader) {
  for (int padding = 0; padding < 3; ++padding)
  for (Case c : Cases()) {
    SCOPED_TRACE(std::string(c.name) + ", padding " + std::to_string(padding));
    for (Member& m : Padding(padding)) c.members.push_back(m);
    const std::string jar = Put("q.jar", Build(c.members, c.layout).bytes);
    TPlainMember m;
    const bool quick = ReadPlainMember(jar, kName, 1 << 20, m);
    EXPECT_EQ(quick, c.quick);
    const std::string full = FullRead(jar);
    if (quick) {
      EXPECT_EQ(std::string(m.bytes.begin(), m.bytes.end()), full);
      TFileIdentity id;
      ASSERT_TRUE(IdentityOfFile(jar, id));
      EXPECT_EQ(m.identity, id);
    }
    EXPECT_EQ(QuickOrFullRead(jar), full);
  }
}

TEST_F(QuickRead, TruncatedAndCutArchivesGiveTheReadersAnswer) {
  const std::vector<uint8_t> whole = Build({{kName, kManifest, 8}, {"b.bin", std::string(500, 'b'), 0}}).bytes;
  for (size_t keep = 0; keep <= whole.size(); keep += 7) {
    SCOPED_TRACE(keep);
    const std::string jar = Put("cut.jar", std::vector<uint8_t>(whole.begin(), whole.begin() + std::ptrdiff_t(keep)));
    EXPECT_EQ(QuickOrFullRead(jar), FullRead(jar));
  }
}

// Hostile and odd archives of the fuzz corpus and the test data.
TEST(QuickReadCorpus, EveryStoredArchiveGetsTheReadersAnswer) {
  const std::filesystem::path root = std::filesystem::path(PARCELIX_TEST_DATA).parent_path().parent_path();
  size_t seen = 0;
  for (const auto& dir : {root / "fuzz" / "corpus", root / "tests" / "data"})
    for (const auto& f : std::filesystem::recursive_directory_iterator(dir)) {
      if (!f.is_regular_file()) continue;
      SCOPED_TRACE(f.path().string());
      EXPECT_EQ(QuickOrFullRead(f.path()), FullRead(f.path()));
      ++seen;
    }
  EXPECT_GT(seen, 50u);
}

}  // namespace
