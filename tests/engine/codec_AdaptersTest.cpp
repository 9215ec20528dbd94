// The zlib adapters: output pieces and levels checked against zlib itself, refills, seeks and source positions.
#include <gtest/gtest.h>

#include <stdexcept>

#include "codec_TestSupport.h"

namespace parcelix {
namespace {

using namespace codectest;

// A memory destination that remembers the size of every write.
class RecordingStream : public TMemoryStream32 {
 public:
  int64_t Write(const void* buffer, int64_t count) override {
    writes.push_back(count);
    return TMemoryStream32::Write(buffer, count);
  }
  Bytes Data() { return Bytes(Memory(), Memory() + GetSize()); }
  std::vector<int64_t> writes;
};

Bytes Compress(const Bytes& data, TDeflateType type, uint32_t& crc, RecordingStream& dest) {
  ShortReadStream source(data);
  TJobRecord job;
  EXPECT_TRUE(DeflateStream(source, dest, job, -15, nullptr, type, crc));
  return dest.Data();
}

struct LevelCase {
  TDeflateType type;
  int zlibLevel;
};

class CodecCompressLevel : public ::testing::TestWithParam<LevelCase> {};

// The adapter feeds zlib in 128 KiB pieces; the result must be byte for byte
// what one zlib call makes at the mapped level, written in whole 131070-byte
// work buffers plus one shorter last write.
TEST_P(CodecCompressLevel, MatchesZlibAtTheMappedLevel) {
  Bytes data = WordText(400000, 1);
  const Bytes noise = RandomBytes(300000, 2);
  data.insert(data.end(), noise.begin(), noise.end());
  RecordingStream dest;
  uint32_t crc = 0;
  EXPECT_EQ(Compress(data, GetParam().type, crc, dest), ZlibRawDeflate(data, GetParam().zlibLevel));
  EXPECT_EQ(crc, ZlibCrc(data));
  ASSERT_GE(dest.writes.size(), 3u);
  for (size_t i = 0; i + 1 < dest.writes.size(); ++i) EXPECT_EQ(dest.writes[i], 131070);
  EXPECT_LT(dest.writes.back(), 131070);
}

INSTANTIATE_TEST_SUITE_P(Levels, CodecCompressLevel,
                         ::testing::Values(LevelCase{dtDeflateF, 1}, LevelCase{dtDeflateN, 6},
                                           LevelCase{dtDeflateX, 9}));

TEST(CodecCompress, EmptySourceGivesTheMinimalFinalBlockAndCrcZero) {
  RecordingStream dest;
  uint32_t crc = 1;
  EXPECT_EQ(Compress({}, dtDeflateN, crc, dest), (Bytes{0x03, 0x00}));
  EXPECT_EQ(crc, 0u);
}

TEST(CodecCompress, ContinuesWhereItLeftADestinationThatWasMoved) {
  const Bytes a = WordText(50000, 8), b = WordText(70000, 9);
  RecordingStream dest;
  dest.WriteBuffer("HEADER", 6);
  {
    TJobRecord job;
    TCompressStream c(dest, dtDeflateN, -15, job);
    c.WriteBuffer(a.data(), int64_t(a.size()));
    dest.SetPosition(0);  // an owner peeking at its header meanwhile
    c.WriteBuffer(b.data(), int64_t(b.size()));
    EXPECT_EQ(c.Seek(0, soFromCurrent), int64_t(a.size() + b.size()));
    EXPECT_EQ(c.Seek(1, soFromCurrent), -1);
    EXPECT_THROW(c.Seek(int64_t(1) << 31, soFromCurrent), std::out_of_range);
    EXPECT_EQ(c.Read(nullptr, 1), -1);
  }
  Bytes whole = a;
  whole.insert(whole.end(), b.begin(), b.end());
  const Bytes all = dest.Data();
  ASSERT_EQ(std::string(all.begin(), all.begin() + 6), "HEADER");
  EXPECT_EQ(Bytes(all.begin() + 6, all.end()), ZlibRawDeflate(whole, 6));
}

// A Deflate stream followed by other bytes, as a member inside an archive.
struct Packed {
  Bytes plain, stream;
};
Packed MakePacked(size_t size) {
  Packed p{WordText(size, 21), {}};
  p.stream = ZlibRawDeflate(p.plain, 6);
  p.stream.insert(p.stream.end(), {'N', 'E', 'X', 'T'});
  return p;
}

TEST(CodecDecompress, RefillsAreBoundedByTheRefillSizeAndTheInputLimit) {
  const Packed p = MakePacked(200000);
  ShortReadStream source(p.stream);
  TDecompressStream d(source, -15);
  d.SetInputLimit(int64_t(p.stream.size()) - 4);
  Bytes out(p.plain.size());
  EXPECT_EQ(d.ReadChunk(out.data(), 1000, 100), 1000);
  for (int64_t r : source.requests) EXPECT_LE(r, 100);
  EXPECT_EQ(d.ReadChunk(out.data() + 1000, int64_t(out.size()) - 1000, 1 << 20), int64_t(out.size()) - 1000);
  EXPECT_EQ(out, p.plain);
  EXPECT_LE(source.furthest, int64_t(p.stream.size()) - 4);  // never read the next record
  EXPECT_EQ(d.Write("x", 1), -1);
}

TEST(CodecDecompress, DestroyingLeavesTheSourceJustAfterTheUsedBytes) {
  const Packed p = MakePacked(100000);
  ShortReadStream source(p.stream);
  {
    TDecompressStream d(source, -15);
    Bytes out(p.plain.size() + 10);
    EXPECT_EQ(d.Read(out.data(), int64_t(out.size())), int64_t(p.plain.size()));  // ends at the final block
    EXPECT_TRUE(d.EndOfData());
    EXPECT_EQ(d.Read(out.data(), 10), 0);
  }
  EXPECT_EQ(source.Position(), int64_t(p.stream.size()) - 4);
}

TEST(CodecDecompress, SeeksForwardByDecodingAndRestartsAtZero) {
  const Packed p = MakePacked(30000);
  ShortReadStream source(p.stream);
  TDecompressStream d(source, -15);
  Bytes out(4000);
  d.ReadBuffer(out.data(), 4000);
  EXPECT_EQ(d.Seek(10000, soFromBeginning), 10000);
  EXPECT_EQ(d.Seek(5000, soFromBeginning), 10000);  // backwards: stays
  d.ReadBuffer(out.data(), 10);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), Bytes(p.plain.begin() + 10000, p.plain.begin() + 10010));
  EXPECT_EQ(d.Seek(0, soFromBeginning), 0);
  d.ReadBuffer(out.data(), 10);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), Bytes(p.plain.begin(), p.plain.begin() + 10));
  EXPECT_THROW(d.Seek(int64_t(1) << 31, soFromCurrent), std::out_of_range);
}

TEST(CodecDecompress, ReportsRunOutAndDamageAsZlibStatus) {
  const Packed p = MakePacked(100000);
  Bytes cut(p.stream.begin(), p.stream.begin() + int64_t(p.stream.size()) / 2);
  ShortReadStream truncated(cut);
  TDecompressStream d1(truncated, -15);
  Bytes out(p.plain.size());
  EXPECT_EQ(d1.Read(out.data(), int64_t(out.size())), Z_BUF_ERROR);
  ShortReadStream garbage(Bytes(1000, 0xFF));  // block type 3
  TDecompressStream d2(garbage, -15);
  EXPECT_EQ(d2.Read(out.data(), 100), Z_DATA_ERROR);
}

TEST(CodecStore, CopiesUnchangedWithItsCrc) {
  const Bytes data = RandomBytes(250000, 6);
  ShortReadStream source(data, 7777);  // short reads are fine: the copy goes by what arrived
  RecordingStream dest;
  TJobRecord job;
  TCrcRegister regs;
  EXPECT_TRUE(StoreStream(source, dest, job, kCrcKind32, nullptr, regs));
  EXPECT_EQ(dest.Data(), data);
  EXPECT_EQ(regs.CrcValue32, ZlibCrc(data));
  TMemoryStream32 empty;
  EXPECT_TRUE(StoreStream(empty, dest, job, kCrcKind32, nullptr, regs));
  EXPECT_EQ(regs.CrcValue32, 0u);
}

// A source whose size claims more than it can deliver (a file that shrank).
class ShrunkStream : public ShortReadStream {
 public:
  using ShortReadStream::ShortReadStream;
  int64_t GetSize() override { return 5000; }
};

TEST(CodecStore, ASourceThatDeliversLessThanItsSizeFails) {
  ShrunkStream source(Bytes(3000, 'x'));
  TMemoryStream32 dest;
  TJobRecord job;
  TCrcRegister regs;
  EXPECT_FALSE(StoreStream(source, dest, job, kCrcKind32, nullptr, regs));
  EXPECT_EQ(dest.GetSize(), 3000);
}

}  // namespace
}  // namespace parcelix
