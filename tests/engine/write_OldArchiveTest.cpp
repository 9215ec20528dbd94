// The old archive of an update: what the reader's open call gives the plan
// (stored bytes, corrected positions, the byte range of each entry) and the
// verdict on which entries can be copied exactly, over damaged layouts.
#include <gtest/gtest.h>

#include <functional>

#include "engine/common/ByteIO.h"
#include "engine/write/UpdatePlan.h"
#include "engine/write/arxZip.h"
#include "tests/engine/read_zipbuilder.h"

namespace parcelix {
namespace {

using testzip::Build;
using testzip::Built;
using testzip::Layout;
using testzip::Member;

std::vector<Member> Jar() {
  return {{.name = "META-INF/MANIFEST.MF", .data = "Manifest-Version: 1.0\r\n\r\n", .method = 8},
          {.name = "a.bin", .data = std::string(300, 'A')},
          {.name = "b.txt", .data = std::string(900, 'b'), .method = 8},
          {.name = "c.bin", .data = std::string(200, 'C')}};
}

// Where central record i starts.
size_t CentralPos(const Built& b, size_t i) {
  size_t p = size_t(b.centralStart);
  for (; i > 0; --i) p += 46 + GetLE16(&b.bytes[p + 28]) + GetLE16(&b.bytes[p + 30]) + GetLE16(&b.bytes[p + 32]);
  return p;
}

// Cuts the local name of entry i out of the file (its local name length
// becomes 0) and moves every later offset back.
void DropLocalName(Built& b, size_t i) {
  const size_t at = size_t(b.localPositions[i]);
  const uint16_t n = GetLE16(&b.bytes[at + 26]);
  b.bytes.erase(b.bytes.begin() + ptrdiff_t(at + 30), b.bytes.begin() + ptrdiff_t(at + 30 + n));
  PutLE16(&b.bytes[at + 26], 0);
  b.centralStart -= n;
  for (size_t k = i + 1; k < b.localPositions.size(); ++k) {
    b.localPositions[k] -= n;
    const size_t c = CentralPos(b, k);
    PutLE32(&b.bytes[c + 42], GetLE32(&b.bytes[c + 42]) - n);
  }
  const size_t end = b.bytes.size() - 22;
  PutLE32(&b.bytes[end + 16], uint32_t(b.centralStart));
}

class OldArchive : public testzip::Scratch {};

TEST_F(OldArchive, KeepsStoredBytesAndFindsEachEntrysRangeBehindAPrefix) {
  std::vector<Member> members = Jar();
  members[1].comment = "note";
  members[1].centralExtra = {0x55, 0x54, 0x01, 0x00, 0x07};
  members[2].streamed = true;
  members[3].zip64 = true;
  const Built built = Build(members, {.prefix = std::string(64, 'p'), .adjustOffsets = false, .comment = "hi"});
  TOldArchive old;
  ASSERT_TRUE(old.Open(Put("a.jar", built.bytes))) << old.Problem();
  ASSERT_EQ(old.Entries().size(), 4u);
  EXPECT_EQ(old.FirstUncopyable(), -1);
  EXPECT_EQ(old.PrefixLength(), 64);
  EXPECT_EQ(std::string(old.Comment().begin(), old.Comment().end()), "hi");
  const ZipEntry& a = old.Entries()[1];
  EXPECT_EQ(std::string(a.comment.begin(), a.comment.end()), "note");
  EXPECT_EQ(a.extra, members[1].centralExtra);
  EXPECT_EQ(old.Entries()[3].central.compressedSize, 0xFFFFFFFFu);  // as stored
  EXPECT_EQ(old.Entries()[3].compressedSize, 200u);
  for (size_t i = 0; i < 4; ++i) {
    const ZipEntry& e = old.Entries()[i];
    EXPECT_EQ(e.localHeaderPos, built.localPositions[i]) << i;
    // Back to back: each entry ends where the next begins, the last where
    // the directory starts (the streamed one after its descriptor).
    const int64_t next = i + 1 < 4 ? built.localPositions[i + 1] : built.centralStart;
    EXPECT_EQ(e.descriptorEnd, next) << i;
  }
}

struct DamageCase {
  const char* label;
  std::function<void(Built&)> damage;
  int uncopyable;       // the first entry that cannot be copied, -1: none
  const char* says;     // part of the reason (or of the open's problem when the open fails)
  bool opens = true;
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.label; }

class OldArchiveDamage : public testzip::Scratch, public testing::WithParamInterface<DamageCase> {};

TEST_P(OldArchiveDamage, SaysWhichEntryCannotBeCopiedAndWhy) {
  const DamageCase& c = GetParam();
  std::vector<Member> members = Jar();
  members[3].streamed = true;
  members[3].method = 8;
  for (int i = 0; i < 300; ++i) members[3].data += std::to_string(i * 7919 % 1000);
  Built built = Build(members);
  c.damage(built);
  TOldArchive old;
  const bool opened = old.Open(Put("d.jar", built.bytes));
  ASSERT_EQ(opened, c.opens) << old.Problem();
  if (!opened) {
    EXPECT_NE(old.Problem().find(c.says), std::string::npos) << old.Problem();
    return;
  }
  EXPECT_EQ(old.FirstUncopyable(), c.uncopyable);
  if (c.uncopyable >= 0) {
    const std::string& why = old.Uncopyable(c.uncopyable);
    EXPECT_NE(why.find(c.says), std::string::npos) << why;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, OldArchiveDamage,
    testing::Values(
        DamageCase{"sound", [](Built&) {}, -1, ""},
        DamageCase{"central-size-smaller",
                   [](Built& b) { PutLE32(&b.bytes[CentralPos(b, 1) + 20], 100); }, 1, "the local header gives sizes"},
        DamageCase{"central-size-larger",
                   [](Built& b) { PutLE32(&b.bytes[CentralPos(b, 1) + 20], 310); }, 1, "the local header gives sizes"},
        DamageCase{"local-method", [](Built& b) { PutLE16(&b.bytes[size_t(b.localPositions[2]) + 8], 0); }, 2,
                   "compression method"},
        DamageCase{"other-local-header",
                   [](Built& b) { PutLE32(&b.bytes[CentralPos(b, 2) + 42], uint32_t(b.localPositions[1])); }, 2,
                   "the local header names it \"a.bin\""},
        DamageCase{"no-local-header", [](Built& b) { b.bytes[size_t(b.localPositions[1]) + 1] = 'X'; }, 1,
                   "no local header"},
        DamageCase{"streamed-central-size-smaller",
                   [](Built& b) { PutLE32(&b.bytes[CentralPos(b, 3) + 20], GetLE32(&b.bytes[CentralPos(b, 3) + 20]) - 7); },
                   3, "data descriptor"},
        DamageCase{"local-name-missing", [](Built& b) { DropLocalName(b, 1); }, -1, ""},
        DamageCase{"entry-count", [](Built& b) { PutLE16(&b.bytes[b.bytes.size() - 12], 5); }, -1, "announces 5",
                   false},
        DamageCase{"directory-size",
                   [](Built& b) { PutLE32(&b.bytes[b.bytes.size() - 10], GetLE32(&b.bytes[b.bytes.size() - 10]) + 46); },
                   -1, "central directory", false}),
    [](const testing::TestParamInfo<DamageCase>& i) {
      std::string s = i.param.label;
      std::replace(s.begin(), s.end(), '-', '_');
      return s;
    });

TEST_F(OldArchive, TwoEntriesOnTheSameBytesCannotBothBeCopied) {
  std::vector<Member> members = Jar();
  members[2].name = "a.bin";
  members[2].data = members[1].data;
  members[2].method = 0;
  Built built = Build(members);
  // Both central records of "a.bin" point at the first copy.
  PutLE32(&built.bytes[CentralPos(built, 2) + 42], uint32_t(built.localPositions[1]));
  TOldArchive old;
  ASSERT_TRUE(old.Open(Put("twice.jar", built.bytes)));
  EXPECT_EQ(old.FirstUncopyable(), 2);
  EXPECT_NE(old.Uncopyable(2).find("overlap"), std::string::npos) << old.Uncopyable(2);
}

TEST_F(OldArchive, AnEntryWithoutItsLocalNameIsCopiedWithTheNamePutBack) {
  Built built = Build(Jar());
  DropLocalName(built, 2);
  const std::string path = Put("noname.jar", built.bytes);
  TJar jar;
  auto old = jar.OpenOldArchive(path);
  ASSERT_TRUE(old);
  EXPECT_TRUE(old->LocalNameMissing(2));
  EXPECT_FALSE(old->LocalNameMissing(1));
  std::vector<TPlanStep> steps(4);
  for (int i = 0; i < 4; ++i) steps[size_t(i)].old = i;
  jar.SetTempDir(dir_);
  jar.SetArchiveFile(path);
  ASSERT_EQ(jar.UpdateByPlan(*old, steps), 4);
  old.reset();
  TOldArchive again;
  ASSERT_TRUE(again.Open(path));
  EXPECT_EQ(again.FirstUncopyable(), -1);
  EXPECT_FALSE(again.LocalNameMissing(2));
  const ZipEntry& b = again.Entries()[2];
  EXPECT_EQ(b.name, "b.txt");
  EXPECT_EQ(b.local.nameLength, 5);
  EXPECT_TRUE(b.localMatches);
  EXPECT_TRUE(std::none_of(again.Zip().findings.begin(), again.Zip().findings.end(),
                           [](const Finding& f) { return f.severity == TSeverity::error; }));
}

}  // namespace
}  // namespace parcelix
