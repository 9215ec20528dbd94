// CRC-32/CRC-16 against known vectors and zlib; the plain streams' size, capacity and failure rules.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "codec_TestSupport.h"
#include "engine/codec/Crc32.h"

namespace parcelix {
namespace {

using namespace codectest;

TEST(CodecCrc, KnownVectorsAndTableEntries) {
  EXPECT_EQ(Crc32Table[1], 0x77073096u);
  EXPECT_EQ(Crc32Table[128], 0xEDB88320u);
  uint32_t crc = CrcMask;
  UpdateCrc32("123456789", 9, crc);
  EXPECT_EQ(crc, 0x340BC6D9u);
  EXPECT_EQ(crc ^ CrcMask, 0xCBF43926u);
  uint32_t crc16 = 0;
  UpdateCrc16("123456789", 9, crc16);
  EXPECT_EQ(crc16, 0xBB3Du);
  // Zero and negative counts leave the register alone.
  UpdateCrc32("x", 0, crc);
  UpdateCrc32("x", -5, crc);
  UpdateCrc16("x", -1, crc16);
  EXPECT_EQ(crc, 0x340BC6D9u);
  EXPECT_EQ(crc16, 0xBB3Du);
}

TEST(CodecCrc, ChunkingAndAlignmentNeverChangeTheResult) {
  const Bytes data = RandomBytes(70001, 7);
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    const size_t start = rng() % 64;  // every alignment of the sliced loop
    uint32_t crc = CrcMask;
    for (size_t pos = start; pos < data.size();) {
      const size_t n = std::min<size_t>(data.size() - pos, rng() % (round < 20 ? 40 : 9000));
      UpdateCrc32(data.data() + pos, int32_t(n), crc);
      pos += n;
    }
    EXPECT_EQ(crc ^ CrcMask, uint32_t(crc32(0, data.data() + start, uInt(data.size() - start)))) << round;
  }
}

TEST(CodecCrc, EveryLengthAndOffsetAgreesWithZlib) {
  // Short runs take the table loop, long ones the folding path with a table
  // tail: every split between the two, at every alignment, must agree.
  const Bytes data = RandomBytes(1 << 20, 3);
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t n = 0; n <= 1100; n += (n < 300 ? 1 : 7)) {
      const uint32_t crc = UpdateCrc32Block(data.data() + offset, n, CrcMask) ^ CrcMask;
      ASSERT_EQ(crc, uint32_t(crc32(0, data.data() + offset, uInt(n)))) << "offset " << offset << " length " << n;
    }
  }
  // A register carried in from earlier data, and a long run.
  const uint32_t head = UpdateCrc32Block(data.data(), 1000, CrcMask);
  EXPECT_EQ(UpdateCrc32Block(data.data() + 1000, data.size() - 1000, head) ^ CrcMask,
            uint32_t(crc32(0, data.data(), uInt(data.size()))));
  const Bytes zeros(100000, 0), ones(100000, 0xFF);
  EXPECT_EQ(UpdateCrc32Block(zeros.data(), zeros.size(), CrcMask) ^ CrcMask, uint32_t(crc32(0, zeros.data(), 100000)));
  EXPECT_EQ(UpdateCrc32Block(ones.data(), ones.size(), CrcMask) ^ CrcMask, uint32_t(crc32(0, ones.data(), 100000)));
}

TEST(CodecCrc, RegisterOfKindSelectsTheChecksum) {
  TCrcRegister regs;
  regs.UpdateCrcOfKind(kCrcKind32, "123456789", 9);
  regs.UpdateCrcOfKind(kCrcKind16, "123456789", 9);
  regs.UpdateCrcOfKind(0, "123456789", 9);
  EXPECT_EQ(regs.CrcValue32 ^ CrcMask, 0xCBF43926u);
  EXPECT_EQ(regs.CrcValue16, 0xBB3Du);
}

TEST(CodecMemoryStream, CapacityGrowsInWholeBlocksOf8192) {
  TMemoryStream32 m;
  EXPECT_EQ(m.Write("a", 1), 1);
  EXPECT_EQ(m.Capacity(), 8192);
  const Bytes big(8193, 'b');
  m.SetPosition(0);
  EXPECT_EQ(m.Write(big.data(), 8193), 8193);
  EXPECT_EQ(m.Capacity(), 16384);
  m.SetSize(100);
  EXPECT_EQ(m.Capacity(), 8192);
  EXPECT_EQ(m.Position(), 100);  // the old position lay beyond the new size
  m.SetSize(0);
  EXPECT_EQ(m.Capacity(), 0);
}

TEST(CodecMemoryStream, ReadsAndWritesOutsideTheDataAreHarmless) {
  TMemoryStream32 m;
  m.WriteBuffer("hello", 5);
  char buf[16] = {};
  m.Seek(-3, soFromBeginning);  // seeks are not clamped...
  EXPECT_EQ(m.Read(buf, 4), 0);  // ...but a negative position reads nothing
  EXPECT_EQ(m.Write(buf, 4), 0);
  EXPECT_EQ(m.Seek(10, soFromBeginning), 10);
  EXPECT_EQ(m.Read(buf, 4), 0);
  EXPECT_EQ(m.Write("!", 1), 1);  // a gap is filled with zeros
  EXPECT_EQ(m.GetSize(), 11);
  EXPECT_EQ(std::memcmp(m.Memory(), "hello\0\0\0\0\0!", 11), 0);
  m.SetSize(2);  // shrinking and writing past the end again: no old bytes resurface
  m.Seek(4, soFromBeginning);
  m.WriteBuffer("!", 1);
  EXPECT_EQ(std::memcmp(m.Memory(), "he\0\0!", 5), 0);
  EXPECT_EQ(m.Seek(INT64_MAX, soFromBeginning), INT64_MAX);
  EXPECT_EQ(m.Seek(1, soFromCurrent), -1);  // no overflow
}

class CodecFileStream : public ::testing::Test {
 protected:
  std::filesystem::path dir_ = std::filesystem::temp_directory_path() /
                               ("codec_fs_" + std::to_string(::getpid()) + "_" +
                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
  void SetUp() override { std::filesystem::create_directories(dir_); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
};

TEST_F(CodecFileStream, OpenFailuresLeaveANegativeHandleWithoutThrowing) {
  TFileStream32 missing((dir_ / "missing").string(), fmOpenRead);
  EXPECT_LT(missing.Handle(), 0);
  EXPECT_EQ(missing.LastErrno(), ENOENT);
  EXPECT_EQ(missing.Read(nullptr, 10), 0);
  TFileStream32 directory(dir_.string(), fmOpenRead);
  EXPECT_LT(directory.Handle(), 0);
  TFileStream32 noParent((dir_ / "no" / "file").string(), fmCreate);
  EXPECT_LT(noParent.Handle(), 0);
}

TEST_F(CodecFileStream, CreateTruncatesAndSetSizeCutsOrExtends) {
  const std::string name = (dir_ / "f.bin").string();
  {
    TFileStream32 f(name, fmCreate);
    f.WriteBuffer("0123456789", 10);
  }
  {
    TFileStream32 f(name, fmCreate);
    EXPECT_EQ(f.GetSize(), 0);
    f.WriteBuffer("abc", 3);
    f.SetSize(2);
    EXPECT_EQ(f.GetSize(), 2);
    f.SetSize(5000000000LL);  // beyond 4 GiB: the full 64-bit size counts
    EXPECT_EQ(f.GetSize(), 5000000000LL);
    f.SetSize(2);
  }
  TFileStream32 f(name, fmOpenRead);
  char buf[8] = {};
  EXPECT_EQ(f.Read(buf, 8), 2);
  EXPECT_EQ(std::string(buf), "ab");
  EXPECT_EQ(f.Write("x", 1), 0);  // opened for reading only
}

TEST_F(CodecFileStream, DiskFullIsReportedAsENOSPC) {
  TFileStream32 full("/dev/full", fmOpenWrite);
  ASSERT_GE(full.Handle(), 0);
  const Bytes data(1000, 1);
  EXPECT_EQ(full.Write(data.data(), 1000), 0);
  EXPECT_EQ(full.LastErrno(), ENOSPC);
  EXPECT_THROW(full.WriteBuffer(data.data(), 1000), EStreamError);
}

TEST(CodecCopyFrom, CopiesTheWholeSourceInChunksAndStopsOnCancel) {
  const Bytes data = RandomBytes(300000, 3);
  ShortReadStream source(data);
  source.Seek(123, soFromBeginning);
  TMemoryStream32 dest;
  int pumps = 0;
  dest.ProcessMessages = [&] { ++pumps; };
  EXPECT_EQ(dest.CopyFrom(source, 0), 300000);  // 0: the whole source from its start
  EXPECT_EQ(pumps, 3);
  EXPECT_EQ(source.requests, (std::vector<int64_t>{131072, 131072, 37856}));
  EXPECT_EQ(std::memcmp(dest.Memory(), data.data(), data.size()), 0);

  uint8_t cancel = 0;
  TMemoryStream32 dest2;
  dest2.OwnerCancel = &cancel;
  dest2.ProcessMessages = [&] { cancel = dest2.GetSize() > 0; };
  EXPECT_EQ(dest2.CopyFrom(source, 0), 131072);

  ShortReadStream shortSource(Bytes(10));
  EXPECT_THROW(dest.CopyFrom(shortSource, 20), EStreamError);
}

}  // namespace
}  // namespace parcelix
