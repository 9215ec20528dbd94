// The open call over layouts: where the directory and the local headers are
// found, which findings it gives, and whether the entries can be copied.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "engine/common/ByteIO.h"
#include "engine/read/ArchiveSource.h"
#include "engine/read/ZipArchive.h"
#include "tests/engine/read_zipbuilder.h"

namespace parcelix {
namespace {

using testzip::Build;
using testzip::Built;
using testzip::Layout;
using testzip::Member;

std::vector<Member> Members() {
  return {{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMIDlet-Name: Game\r\n\r\n", 8},
          {"a/b.class", std::string(3000, 'x') + "tail", 8},
          {"LICENSE", "free"}};
}

struct LayoutCase {
  const char* what;
  std::function<Built()> build;
  std::function<void(std::vector<uint8_t>&, const Built&)> mutate;
  std::set<std::string> codes;  // findings expected (exactly)
  int64_t shift = 0;            // prefix adjustment + correction
  bool localWalk = false;
  bool copyable = true;
};

void Nothing(std::vector<uint8_t>&, const Built&) {}

Built Plain() { return Build(Members()); }

const LayoutCase kCases[] = {
    {"plain", Plain, Nothing, {}},
    {"prefix counted by the offsets", [] { return Build(Members(), {.prefix = std::string(64, 'p')}); }, Nothing, {}},
    {"prefix the offsets ignore",
     [] { return Build(Members(), {.prefix = std::string(100, 'p'), .adjustOffsets = false}); }, Nothing,
     {"bytes-before-archive"}, 100},
    {"zip64 records and a prefix",
     [] {
       auto m = Members();
       for (auto& x : m) x.zip64 = true;
       return Build(m, {.prefix = std::string(10, 'p'), .adjustOffsets = false, .zip64End = true});
     },
     Nothing, {"bytes-before-archive"}, 10},
    {"streamed members",
     [] {
       auto m = Members();
       for (auto& x : m) x.streamed = true;
       return Build(m);
     },
     Nothing, {}},
    {"a count that lies", [] { return Build(Members(), {.recordedCount = 7}); }, Nothing, {"entry-count"}, 0, false,
     false},
    {"no end record", Plain,
     [](std::vector<uint8_t>& b, const Built& x) { b.resize(size_t(x.centralStart)); },
     {"end-record-missing"}, 0, true, false},
    {"central signature broken", Plain,
     [](std::vector<uint8_t>& b, const Built& x) { b[size_t(x.centralStart) + 2] = 9; }, {"directory-missing"}, 0,
     true, false},
    {"local method differs", Plain,
     [](std::vector<uint8_t>& b, const Built& x) { PutLE16(&b[size_t(x.localPositions[1]) + 8], 0); },
     {"local-method"}, 0, false, false},
    {"local name differs", Plain,
     [](std::vector<uint8_t>& b, const Built& x) { b[size_t(x.localPositions[2]) + 30] = 'X'; }, {"local-name"}, 0,
     false, false},
    {"local CRC differs", Plain,
     [](std::vector<uint8_t>& b, const Built& x) { b[size_t(x.localPositions[0]) + 14] ^= 1; }, {"local-crc"}},
    {"local header missing", Plain,
     [](std::vector<uint8_t>& b, const Built& x) { b[size_t(x.localPositions[2]) + 1] = 'X'; },
     {"local-header-missing"}, 0, false, false},
    {"comment length lies", Plain, [](std::vector<uint8_t>& b, const Built&) { b.push_back(0); }, {"comment-length"}},
    {"encrypted member",
     [] {
       auto m = Members();
       m[2].flags = kFlagEncrypted;
       return Build(m);
     },
     Nothing, {"encrypted"}},
};

class ReadArchive : public testzip::Scratch, public testing::WithParamInterface<LayoutCase> {};

TEST_P(ReadArchive, FindsTheDirectoryAndSaysWhatIsWrong) {
  const LayoutCase& c = GetParam();
  Built built = c.build();
  c.mutate(built.bytes, built);
  TArchiveSource src;
  ASSERT_TRUE(src.Open(Put("a.zip", built.bytes)));
  ZipArchive zip;
  ASSERT_TRUE(OpenZip(src, LocateEndRecord(src), {}, zip));
  ReadLocalHeaders(src, zip);
  std::set<std::string> codes;
  for (const Finding& f : zip.findings) codes.insert(f.code);
  EXPECT_EQ(codes, c.codes);
  EXPECT_EQ(zip.layout.prefixAdjust + zip.layout.offsetCorrection, c.shift);
  EXPECT_EQ(zip.layout.localWalk, c.localWalk);
  EXPECT_EQ(zip.CanCopyAll(), c.copyable);
  ASSERT_EQ(zip.entries.size(), 3u);
  EXPECT_EQ(zip.entries[1].name, "a/b.class");
  for (size_t i = 0; i < 3; ++i) {
    if (!zip.entries[i].localFound) continue;
    EXPECT_EQ(zip.entries[i].localHeaderPos, built.localPositions[i]) << i;
    // The data of a member end where the next local header, or the
    // directory, begins: what a copy of the entry takes.
    const int64_t next = i + 1 < 3 ? built.localPositions[i + 1] : built.centralStart;
    if (!c.localWalk) {
      EXPECT_EQ(zip.entries[i].descriptorEnd, next) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ReadArchive, testing::ValuesIn(kCases),
                         [](const auto& info) {
                           std::string n = info.param.what;
                           for (char& ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

// Findings speak of the member by its name with '/', and the severity is
// what the independent readers make of the kind: junk in front of an
// archive reads the same everywhere (warning), a local header that
// disagrees reads differently (error).
TEST_F(ReadArchive, SeverityFollowsWhatOtherReadersDo) {
  Built b = Build(Members(), {.prefix = std::string(40, 'j'), .adjustOffsets = false});
  PutLE16(&b.bytes[size_t(b.localPositions[1]) + 8], 0);
  TArchiveSource src;
  ASSERT_TRUE(src.Open(Put("s.zip", b.bytes)));
  ZipArchive zip;
  ASSERT_TRUE(OpenZip(src, {}, zip));
  ReadLocalHeaders(src, zip);
  ASSERT_EQ(zip.findings.size(), 2u);
  EXPECT_EQ(zip.findings[0].severity, TSeverity::warning);
  EXPECT_EQ(zip.findings[1].severity, TSeverity::error);
  EXPECT_EQ(zip.findings[1].member, "a/b.class");
  EXPECT_NE(zip.findings[1].text.find("method 0"), std::string::npos) << zip.findings[1].text;
  EXPECT_TRUE(zip.HasError());
  EXPECT_TRUE(zip.CanCopy(zip.entries[0]));
  EXPECT_FALSE(zip.CanCopy(zip.entries[1]));
}

}  // namespace
}  // namespace parcelix
