// ZIP records: parsing a real archive's bytes, write-then-parse, truncation,
// the signature classifier and the extra-field parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/common/ByteIO.h"
#include "engine/read/ZipRecords.h"

namespace parcelix {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// One member "a.txt" = "hello", dated 2020-05-17 13:45:30, written by
// python's zipfile (not by this code base).
const std::vector<uint8_t> kPythonZip = FromHex(
    "504b0304140000000000af6db15086a61036050000000500000005000000612e74787468656c6c6f"
    "504b01021403140000000000af6db15086a610360500000005000000050000000000000000000000"
    "800100000000612e747874504b0506000000000100010033000000280000000000");

TEST(ReadRecords, ParseTheRecordsOfAnArchiveWrittenElsewhere) {
  std::span<const uint8_t> z(kPythonZip);
  LocalHeader lh;
  ASSERT_TRUE(lh.Parse(z));
  EXPECT_EQ(lh.signature, kSigLocal);
  EXPECT_EQ(lh.method, 0);
  EXPECT_EQ(lh.dosDateTime, 0x50B16DAFu);
  EXPECT_EQ(lh.crc32, 0x3610A686u);
  EXPECT_EQ(lh.compressedSize, 5u);
  EXPECT_EQ(lh.uncompressedSize, 5u);
  EXPECT_EQ(lh.nameLength, 5);
  EXPECT_EQ(lh.extraLength, 0);

  CentralHeader ch;
  ASSERT_TRUE(ch.Parse(z.subspan(40)));
  EXPECT_EQ(ch.signature, kSigCentral);
  EXPECT_EQ(ch.versionMadeBy, 0x0314);
  EXPECT_EQ(ch.crc32, 0x3610A686u);
  EXPECT_EQ(ch.nameLength, 5);
  EXPECT_EQ(ch.externalAttributes, 0x01800000u);
  EXPECT_EQ(ch.localHeaderOffset, 0u);
  EXPECT_EQ(ch.dosDateTime, 0x50B16DAFu);

  EndRecord er;
  ASSERT_TRUE(er.Parse(z.subspan(91)));
  EXPECT_FALSE(er.wide);
  EXPECT_EQ(er.totalEntries, 1);
  EXPECT_EQ(er.directorySize, 51u);
  EXPECT_EQ(er.directoryOffset, 40u);
  EXPECT_EQ(er.commentLength, 0);

  // Writing the parsed records gives the same bytes back.
  auto lb = lh.Bytes();
  EXPECT_TRUE(std::equal(lb.begin(), lb.end(), kPythonZip.begin()));
  auto cb = ch.Bytes();
  EXPECT_TRUE(std::equal(cb.begin(), cb.end(), kPythonZip.begin() + 40));
  auto eb = er.Bytes();
  EXPECT_TRUE(std::equal(eb.begin(), eb.end(), kPythonZip.begin() + 91));
}

TEST(ReadRecords, WideEndRecordCarriesA64BitOffset) {
  EndRecord wide;
  wide.wide = true;
  wide.directoryOffset = 0x123456789AULL;
  auto bytes = wide.Bytes();
  ASSERT_EQ(bytes.size(), kWideEndRecordSize);
  EXPECT_EQ(bytes[1], 0x5B);  // "P[" in place of "PK"
  EndRecord back;
  ASSERT_TRUE(back.Parse(bytes));
  EXPECT_TRUE(back.wide);
  EXPECT_EQ(back.directoryOffset, 0x123456789AULL);
}

TEST(ReadRecords, TruncatedRecordsFailToParse) {
  std::span<const uint8_t> z(kPythonZip);
  LocalHeader lh;
  CentralHeader ch;
  EndRecord er;
  Zip64Locator loc;
  Zip64EndRecord z64;
  EXPECT_FALSE(lh.Parse(z.first(kLocalHeaderSize - 1)));
  EXPECT_FALSE(ch.Parse(z.subspan(40, kCentralHeaderSize - 1)));
  EXPECT_FALSE(er.Parse(z.subspan(91, kEndRecordSize - 1)));
  EXPECT_FALSE(loc.Parse(z.first(kZip64LocatorSize - 1)));
  EXPECT_FALSE(z64.Parse(z.first(10)));
  EXPECT_FALSE(lh.Parse({}));
  // A wide end record needs its 26 bytes.
  EndRecord wide;
  wide.wide = true;
  auto wb = wide.Bytes();
  EXPECT_FALSE(er.Parse(std::span<const uint8_t>(wb).first(kWideEndRecordSize - 1)));
}

struct SigCase {
  uint32_t sig;
  THeaderType wanted;
  THeaderType expected;
  bool enciphered;
};

class ReadClassify : public testing::TestWithParam<SigCase> {};

TEST_P(ReadClassify, AnswersTheWantedKindOrNone) {
  const SigCase& c = GetParam();
  THeaderClass r = ClassifySignature(c.sig, c.wanted);
  EXPECT_EQ(r.type, c.expected);
  EXPECT_EQ(r.enciphered, c.enciphered);
}

INSTANTIATE_TEST_SUITE_P(Signatures, ReadClassify,
                         testing::Values(SigCase{kSigLocal, htLocal, htLocal, false},
                                         SigCase{kSigLocalEnc, htLocal, htLocal, true},
                                         SigCase{kSigCentral, htLocal, htNone, false},
                                         SigCase{kSigCentral, htCentral, htCentral, false},
                                         SigCase{kSigCentralEnc, htCentral, htCentral, true},
                                         SigCase{kSigEnding, htEnding, htEnding, false},
                                         SigCase{kSigWideEnding, htEnding, htEnding, false},
                                         SigCase{kSigEndingEnc, htEnding, htEnding, true},
                                         SigCase{kSigWideEndingEnc, htEnding, htEnding, true},
                                         SigCase{kSigLocal, htEnding, htNone, false},
                                         SigCase{kSigDataDescriptor, htLocal, htNone, false},
                                         SigCase{kSigZip64Locator, htLocator, htLocator, false},
                                         SigCase{kSigZip64Ending, htEnding64, htEnding64, false},
                                         SigCase{kSigZip64Ending, htEnding, htNone, false},
                                         SigCase{0x04034B51, htLocal, htNone, false}));

// ---------------------------------------------------------- extra fields

std::vector<uint8_t> Block(uint16_t id, std::vector<uint8_t> data) {
  std::vector<uint8_t> out;
  ByteWriter w(out);
  w.u16(id);
  w.u16(uint16_t(data.size()));
  w.bytes(data);
  return out;
}

std::vector<uint8_t> Le64(uint64_t v) {
  std::vector<uint8_t> out(8);
  PutLE64(out.data(), v);
  return out;
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct ExtraCase {
  const char* what;
  std::vector<uint8_t> extra;
  bool central;
  uint32_t csize, usize, offset;  // header fields before the parse
  uint32_t wantC, wantU, wantO;   // after
  uint16_t wantCHigh, wantUHigh, wantOHigh;
};

class ReadExtraField : public testing::TestWithParam<ExtraCase> {};

TEST_P(ReadExtraField, ReplacesOnlyPlaceholdersAndStopsAtLies) {
  const ExtraCase& c = GetParam();
  ExtraFieldRecord rec;
  rec.compressedHigh = 99;  // cleared by every parse
  uint32_t cs = c.csize, us = c.usize, off = c.offset;
  ParseExtraField(c.extra, c.central, rec, cs, us, &off);
  EXPECT_EQ(cs, c.wantC) << c.what;
  EXPECT_EQ(us, c.wantU) << c.what;
  EXPECT_EQ(off, c.wantO) << c.what;
  EXPECT_EQ(rec.compressedHigh, c.wantCHigh) << c.what;
  EXPECT_EQ(rec.uncompressedHigh, c.wantUHigh) << c.what;
  EXPECT_EQ(rec.offsetHigh, c.wantOHigh) << c.what;
}

constexpr uint32_t F = 0xFFFFFFFFu;

INSTANTIATE_TEST_SUITE_P(
    Blocks, ReadExtraField,
    testing::Values(
        ExtraCase{"zip64 with only the uncompressed size", Block(0x0001, Le64(0x0000000500000010ULL)), true, 100, F,
                  7, 100, 0x10, 7, 0, 5, 0},
        ExtraCase{"zip64 with all three values", Block(0x0001, Cat({Le64(0x100000001ULL), Le64(0x200000002ULL),
                                                                     Le64(0x300000003ULL)})),
                  true, F, F, F, 2, 1, 3, 2, 1, 3},
        ExtraCase{"a local header has no offset value", Block(0x0001, Cat({Le64(0x100000001ULL), Le64(0x200000002ULL),
                                                                            Le64(0x300000003ULL)})),
                  false, F, F, F, 2, 1, F, 2, 1, 0},
        ExtraCase{"offset keeps 48 bits, the top 16 are ignored", Block(0x0001, Le64(0xABCD001200000040ULL)), true, 5,
                  6, F, 5, 6, 0x40, 0, 0, 0x12},
        ExtraCase{"zip64 block too short for the value", Block(0x0001, {1, 2, 3, 4}), true, 5, F, 7, 5, F, 7, 0, 0,
                  0},
        ExtraCase{"unknown block skipped, next one read", Cat({Block(0x5455, {1, 2, 3, 4, 5}),
                                                              Block(0x0001, Le64(0x300000009ULL))}),
                  true, 1, F, 2, 1, 9, 2, 0, 3, 0},
        ExtraCase{"a block claiming more than remains ends the parse",
                  Cat({std::vector<uint8_t>{0x55, 0x54, 0xFF, 0x00, 1, 2}, Block(0x0001, Le64(9))}), true, 1, F, 2, 1,
                  F, 2, 0, 0, 0},
        ExtraCase{"wide block, central: three high parts", Block(0x0064, {1, 0, 2, 0, 3, 0}), true, 10, 20, 30, 10,
                  20, 30, 1, 2, 3},
        ExtraCase{"wide block, local: two high parts", Block(0x0064, {1, 0, 2, 0}), false, 10, 20, 30, 10, 20, 30,
                  1, 2, 0},
        ExtraCase{"a lone header id without size", std::vector<uint8_t>{0x01, 0x00}, true, F, F, F, F, F, F, 0, 0, 0},
        ExtraCase{"empty extra field", std::vector<uint8_t>{}, true, 1, 2, 3, 1, 2, 3, 0, 0, 0}));

TEST(ReadExtraFieldAes, AesBlockGivesTheRealMethod) {
  ExtraFieldRecord rec;
  uint32_t cs = 1, us = 2;
  ParseExtraField(Block(0x9901, {2, 0, 'A', 'E', 3, 8, 0}), true, rec, cs, us, nullptr);
  EXPECT_EQ(rec.aesMethod, 8);
  EXPECT_EQ(rec.headerId, 0x9901);
  EXPECT_EQ(rec.dataSize, 7);
}

// The one walker every extra-field reader uses: blocks wholly inside the
// field, and a block that overruns the field is reported, not read.
struct WalkCase {
  const char* what;
  std::vector<uint8_t> extra;
  std::vector<uint16_t> ids;
  bool overflow;
};

class ReadExtraBlocks : public testing::TestWithParam<WalkCase> {};

TEST_P(ReadExtraBlocks, YieldsBlocksInsideTheFieldOnly) {
  const WalkCase& c = GetParam();
  ExtraBlocks blocks(c.extra);
  ExtraBlock b;
  std::vector<uint16_t> ids;
  while (blocks.Next(b)) {
    EXPECT_GE(b.data.data(), c.extra.data());
    EXPECT_LE(b.data.data() + b.data.size(), c.extra.data() + c.extra.size());
    ids.push_back(b.id);
  }
  EXPECT_EQ(ids, c.ids) << c.what;
  EXPECT_EQ(blocks.overflow(), c.overflow) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Walk, ReadExtraBlocks,
    testing::Values(WalkCase{"two blocks", Cat({Block(1, Le64(5)), Block(0x5455, {1})}), {1, 0x5455}, false},
                    WalkCase{"size past the end", Cat({Block(7, {}), {0x01, 0x00, 0x09, 0x00, 1}}), {7}, true},
                    WalkCase{"three zero bytes of padding", Cat({Block(7, {1}), {0, 0, 0}}), {7}, false},
                    WalkCase{"a stray byte", Cat({Block(7, {1}), {0x42}}), {7}, true},
                    WalkCase{"empty", {}, {}, false}));

TEST(ReadExtraBlocks, TwoZip64BlocksAreCountedAndOnlyTheFirstRead) {
  ExtraFieldRecord rec;
  uint32_t cs = 1, us = F;
  ParseExtraField(Cat({Block(1, Le64(0x1FFFFFFFFFFFFFFFULL)), Block(1, Le64(3))}), false, rec, cs, us, nullptr);
  EXPECT_EQ(rec.zip64Blocks, 2);
  EXPECT_TRUE(rec.hasUncompressed64);
  // All 64 bits are kept beside the 48 the header fields carry.
  EXPECT_EQ(FullUncompressedSize(us, rec), 0x1FFFFFFFFFFFFFFFULL);
  EXPECT_EQ(Widen48(us, rec.uncompressedHigh), 0xFFFFFFFFFFFFLL);
}

TEST(ReadDataDescriptor, WithAndWithoutSignatureNarrowAndWide) {
  for (const bool sig : {true, false}) {
    for (const bool wide : {false, true}) {
      DataDescriptor d;
      d.hasSignature = sig;
      d.wideSizes = wide;
      d.crc32 = 0xCAFEBABE;
      d.compressedSize = 1234;
      d.uncompressedSize = 5678;
      const auto bytes = d.Bytes();
      ASSERT_EQ(bytes.size(), d.Size());
      DataDescriptor back;
      ASSERT_TRUE(back.Parse(bytes, wide));
      EXPECT_EQ(back.hasSignature, sig);
      EXPECT_EQ(back.crc32, 0xCAFEBABEu);
      EXPECT_EQ(back.compressedSize, 1234u);
      EXPECT_EQ(back.uncompressedSize, 5678u);
      EXPECT_FALSE(back.Parse(std::span<const uint8_t>(bytes).first(bytes.size() - 1), wide));
    }
  }
}

}  // namespace
}  // namespace parcelix
