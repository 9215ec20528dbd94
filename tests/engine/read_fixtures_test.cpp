// Archives made by other tools (tests/data/read): every member listed as
// python's zipfile lists it, decoded to bytes whose zlib CRC is the stored one.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "engine/read/arxUnZip.h"

namespace parcelix {
namespace {

struct Expected {
  const char* name;
  uint16_t method;
  int64_t size;
  uint32_t crc;
};

struct Fixture {
  const char* file;
  TArcType type;
  std::vector<Expected> members;  // as python's zipfile lists them
  int taken;  // the count a run returns: directory members stored with the
              // directory attribute skip the pre-check and are not counted
};

class ReadFixtures : public testing::TestWithParam<Fixture> {};

TEST_P(ReadFixtures, ListTestAndDecodeAgreeWithZipfile) {
  const Fixture& f = GetParam();
  TUnJar z;
  z.SetArchiveFile(std::string(PARCELIX_TEST_DATA) + "/read/" + f.file);
  ASSERT_EQ(z.ArcType(), f.type);
  z.FileSpec = {"*.*"};
  std::vector<MemberInfo> listed;
  ASSERT_TRUE(z.List(listed));
  ASSERT_EQ(listed.size(), f.members.size());
  for (size_t i = 0; i < listed.size(); ++i) {
    EXPECT_EQ(listed[i].name, f.members[i].name);
    EXPECT_EQ(listed[i].method, f.members[i].method) << listed[i].name;
    EXPECT_EQ(listed[i].uncompressedSize, f.members[i].size) << listed[i].name;
    EXPECT_EQ(listed[i].crc32, f.members[i].crc) << listed[i].name;
  }
  std::vector<MemberResult> results;
  EXPECT_EQ(z.Test(&results), f.taken);
  ASSERT_EQ(results.size(), f.members.size());
  for (const auto& r : results) EXPECT_TRUE(r.ok) << r.info.name;
  EXPECT_TRUE(z.Errors().empty());

  TDecompMemoryStream s;
  z.ExtractToMemoryStream(&s);
  int files = 0;
  for (const auto& m : f.members) files += m.name[std::string(m.name).size() - 1] != '/';
  ASSERT_EQ(s.Count(), files);
  int k = 0;
  for (const auto& m : f.members) {
    if (std::string(m.name).back() == '/') continue;
    ASSERT_EQ(s.EntryWritten(k), m.size) << m.name;
    const uLong crc = crc32(0, s.Memory() + s.EntryPosition(k), uInt(s.EntryWritten(k)));
    EXPECT_EQ(uint32_t(crc), m.crc) << m.name;
    ++k;
  }
}

const std::vector<Expected> kTree8 = {{"META-INF/", 8, 0, 0},
                                      {"META-INF/MANIFEST.MF", 8, 98, 0x23753118},
                                      {"res/", 0, 0, 0},
                                      {"res/rep.bin", 8, 270000, 0xb7eb1fbd},
                                      {"res/text.txt", 8, 99120, 0xe1879394}};
const std::vector<Expected> kTree9 = {{"META-INF/", 0, 0, 0},
                                      {"META-INF/MANIFEST.MF", 9, 68, 0xe45f51de},
                                      {"res/", 0, 0, 0},
                                      {"res/rep.bin", 9, 270000, 0xb7eb1fbd},
                                      {"res/text.txt", 9, 99120, 0xe1879394}};

INSTANTIATE_TEST_SUITE_P(Tools, ReadFixtures,
                         testing::Values(Fixture{"jdk-streamed.jar", atJar, kTree8, 5},
                                         Fixture{"deflate64.zip", atZip, kTree9, 3}));

}  // namespace
}  // namespace parcelix
