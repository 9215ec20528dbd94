// Member decoding: InflateMember's chunking and end conditions, and the Deflate64 decoder against zlib, hand-built streams and 7z.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "codec_TestSupport.h"
#include "engine/codec/Inflate.h"
#include "engine/common/ByteIO.h"

namespace parcelix {
namespace {

using namespace codectest;

// Runs one member through InflateMember and keeps what the output writer saw.
struct MemberRun {
  Bytes out;
  std::vector<uint32_t> chunks;
  int writeFailures = 0;
  bool result = false;
  int64_t furthest = 0;
  size_t reads = 0;

  MemberRun(const Bytes& stream, int64_t compressed, int64_t uncompressed, bool deflate64, int64_t piece = INT64_MAX,
            std::function<uint32_t(uint32_t)> accept = nullptr, const uint8_t* cancel = nullptr) {
    ShortReadStream source(stream, piece);
    TInflateJob job;
    job.Archive = &source;
    job.CompressedSize = compressed;
    job.UncompressedSize = uncompressed;
    job.Cancel = cancel;
    job.Output = [&](const uint8_t* b, uint32_t n) {
      chunks.push_back(n);
      const uint32_t w = accept ? accept(n) : n;
      out.insert(out.end(), b, b + w);
      return w;
    };
    job.OnWriteFailed = [&] { ++writeFailures; };
    if (deflate64)
      result = Inflate64(job);
    else
      InflateMember(job, -15, false);
    furthest = source.furthest;
    reads = source.requests.size();
  }
};

// ---------------------------------------------------------------------------
// InflateMember (method 8)

class CodecInflateSizes : public ::testing::TestWithParam<size_t> {};

TEST_P(CodecInflateSizes, HandsOnWholeChunksAndNeverReadsPastTheMember) {
  const Bytes plain = WordText(GetParam(), 31);
  Bytes stream = ZlibRawDeflate(plain, 6);
  const int64_t compressed = int64_t(stream.size());
  stream.insert(stream.end(), 100, 0xAA);  // the next record of the archive
  MemberRun run(stream, compressed, int64_t(plain.size()), false);
  EXPECT_EQ(run.out, plain);
  EXPECT_EQ(run.chunks.size(), (plain.size() + 32767) / 32768);
  for (uint32_t c : run.chunks) EXPECT_LE(c, 32768u);
  EXPECT_LE(run.furthest, compressed);
}

INSTANTIATE_TEST_SUITE_P(Sizes, CodecInflateSizes, ::testing::Values(0, 1, 32767, 32768, 32769, 300000));

TEST(CodecInflate, DamagedOrShortMembersEndWithoutSpinning) {
  const Bytes plain = WordText(200000, 32);
  const Bytes stream = ZlibRawDeflate(plain, 6);
  const int64_t half = int64_t(stream.size()) / 2;

  // Compressed data that ends early: complete chunks only, and a prompt stop.
  MemberRun cut(Bytes(stream.begin(), stream.begin() + half), half, int64_t(plain.size()), false);
  EXPECT_LT(cut.out.size(), plain.size());
  EXPECT_EQ(cut.out.size() % 32768, 0u);
  EXPECT_EQ(cut.out, Bytes(plain.begin(), plain.begin() + int64_t(cut.out.size())));

  // A directory claiming 4 GiB for 10 bytes of data.
  MemberRun huge(Bytes(stream.begin(), stream.begin() + 10), 10, int64_t(1) << 32, false);
  EXPECT_TRUE(huge.out.empty());
  EXPECT_LE(huge.reads, 3u);

  // A complete Deflate stream shorter than the member's size: what it holds is written.
  MemberRun longer(stream, int64_t(stream.size()), int64_t(plain.size()) + 50000, false);
  EXPECT_EQ(longer.out, plain);

  // Damaged bytes in the middle: zlib reports it and decoding stops.
  Bytes damaged = stream;
  for (int64_t i = half; i < half + 64; ++i) damaged[size_t(i)] ^= 0x5A;
  MemberRun bad(damaged, int64_t(damaged.size()), int64_t(plain.size()), false);
  EXPECT_NE(bad.out, plain);
  EXPECT_LE(bad.chunks.size(), plain.size() / 32768 + 1);
}

TEST(CodecInflate, WriterFailuresAndCancel) {
  const Bytes plain = WordText(100000, 33);
  const Bytes stream = ZlibRawDeflate(plain, 6);
  const auto size = int64_t(plain.size());

  MemberRun none(stream, int64_t(stream.size()), size, false, INT64_MAX, [](uint32_t) { return 0u; });
  EXPECT_EQ(none.writeFailures, 4);  // each chunk, since this writer does not throw

  MemberRun part(stream, int64_t(stream.size()), size, false, INT64_MAX, [](uint32_t n) { return n / 2; });
  EXPECT_EQ(part.writeFailures, 0);
  EXPECT_EQ(part.chunks.size(), 4u);  // decoding goes on after a partial write

  uint8_t cancel = 0;
  MemberRun cancelled(stream, int64_t(stream.size()), size, false, INT64_MAX,
                      [&](uint32_t n) { cancel = 1; return n; }, &cancel);
  EXPECT_EQ(cancelled.chunks.size(), 1u);
}

// ---------------------------------------------------------------------------
// Deflate64: the decoder against zlib on streams that avoid length code 285

struct ZlibCase {
  const char* name;
  Bytes data;
  int level, strategy;
};

std::vector<ZlibCase> ZlibCases() {
  Bytes runs;
  std::mt19937 rng(40);
  // Runs shorter than 259 bytes, each of a byte other than the one before.
  for (uint8_t b = 0; runs.size() < 150000; b = uint8_t((b + 1 + rng() % 3) % 4)) runs.insert(runs.end(), 1 + rng() % 200, b);
  return {{"text-1", WordText(300000, 41), 1, Z_DEFAULT_STRATEGY},
          {"text-9", WordText(300000, 42), 9, Z_DEFAULT_STRATEGY},
          {"text-fixed", WordText(70000, 43), 6, Z_FIXED},
          {"huffman-only", WordText(50000, 44), 6, Z_HUFFMAN_ONLY},
          {"runs-rle", runs, 6, Z_RLE},
          {"stored", RandomBytes(140000, 45), 0, Z_DEFAULT_STRATEGY},
          {"noise", RandomBytes(90000, 46), 6, Z_DEFAULT_STRATEGY},
          {"one-byte", Bytes{'q'}, 6, Z_DEFAULT_STRATEGY},
          {"empty", Bytes{}, 6, Z_DEFAULT_STRATEGY}};
}

TEST(CodecDeflate64, DecodesPlainDeflateLikeZlibWhateverTheReadSizes) {
  for (const auto& c : ZlibCases()) {
    const Bytes stream = ZlibRawDeflate(c.data, c.level, c.strategy);
    for (int64_t piece : {int64_t(1), int64_t(7), int64_t(4093), INT64_MAX}) {
      SCOPED_TRACE(std::string(c.name) + " piece " + std::to_string(piece));
      MemberRun run(stream, int64_t(stream.size()), int64_t(c.data.size()), true, piece);
      EXPECT_TRUE(run.result);
      EXPECT_EQ(run.out, c.data);
    }
  }
}

// ---------------------------------------------------------------------------
// Deflate64: hand-built streams for what zlib never produces

class BitWriter {
 public:
  void Put(uint32_t value, unsigned bits) {  // least significant bit first
    for (unsigned i = 0; i < bits; ++i) PutBit((value >> i) & 1);
  }
  void PutCode(uint32_t code, unsigned len) {  // Huffman codes go most significant bit first
    for (unsigned i = len; i-- > 0;) PutBit((code >> i) & 1);
  }
  void Align() { while (n_) PutBit(0); }
  Bytes Finish() { Align(); return out_; }

 private:
  void PutBit(uint32_t b) {
    if (n_ == 0) out_.push_back(0);
    out_.back() |= uint8_t(b << n_);
    n_ = (n_ + 1) % 8;
  }
  Bytes out_;
  unsigned n_ = 0;
};

struct Op {
  uint32_t literalOrLength;
  uint32_t distance;  // 0: a literal
};

constexpr uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr uint32_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};

// Canonical codes for a list of code lengths.
std::vector<uint32_t> Canonical(const std::vector<uint8_t>& lens) {
  uint32_t count[16] = {}, next[16] = {};
  for (auto l : lens) ++count[l];
  count[0] = 0;
  for (unsigned l = 1, code = 0; l < 16; ++l) next[l] = code = (code + count[l - 1]) << 1;
  std::vector<uint32_t> codes(lens.size());
  for (size_t s = 0; s < lens.size(); ++s)
    if (lens[s]) codes[s] = next[lens[s]]++;
  return codes;
}

// Emits one fixed (type 1) or dynamic (type 2) block. The dynamic block sends
// all 288 literal/length and 32 distance codes (HLIT = HDIST = 31).
void EmitBlock(BitWriter& w, int type, bool final, const std::vector<Op>& ops) {
  std::vector<uint8_t> lit(288), dist(32, 5);
  if (type == 1) {
    for (int s = 0; s < 288; ++s) lit[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  } else {
    for (int s = 0; s < 288; ++s) lit[s] = s < 224 ? 8 : 9;  // 224/256 + 64/512: complete
  }
  w.Put(final, 1);
  w.Put(type, 2);
  if (type == 2) {
    w.Put(31, 5);
    w.Put(31, 5);
    w.Put(15, 4);  // all 19 code-length code lengths: 4 bits for 0..15, none for 16..18
    const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (uint8_t sym : order) w.Put(sym < 16 ? 4 : 0, 3);
    for (uint8_t l : lit) w.PutCode(l, 4);  // with 16 codes of 4 bits, code == symbol
    for (uint8_t l : dist) w.PutCode(l, 4);
  }
  const auto litCodes = Canonical(lit), distCodes = Canonical(dist);
  for (const Op& op : ops) {
    if (!op.distance) {
      w.PutCode(litCodes[op.literalOrLength], lit[op.literalOrLength]);
      continue;
    }
    int lc = op.literalOrLength <= 257 ? 27 : 28;
    while (lc > 0 && kLenBase[lc] > op.literalOrLength) --lc;
    w.PutCode(litCodes[257 + lc], lit[257 + lc]);
    w.Put(op.literalOrLength - kLenBase[lc], kLenExtra[lc]);
    int dc = 31;
    while (kDistBase[dc] > op.distance) --dc;
    w.PutCode(distCodes[dc], 5);
    w.Put(op.distance - kDistBase[dc], dc < 4 ? 0 : dc / 2 - 1);
  }
  w.PutCode(litCodes[256], lit[256]);
}

void EmitStored(BitWriter& w, bool final, const Bytes& data, uint32_t nlen) {
  w.Put(final, 1);
  w.Put(0, 2);
  w.Align();
  w.Put(uint32_t(data.size()), 16);
  w.Put(nlen, 16);
  for (uint8_t b : data) w.Put(b, 8);
}
void EmitStored(BitWriter& w, bool final, const Bytes& data) {
  EmitStored(w, final, data, ~uint32_t(data.size()) & 0xFFFF);
}

// What a list of operations decodes to, by the definition of a match.
void Apply(Bytes& out, const std::vector<Op>& ops) {
  for (const Op& op : ops) {
    if (!op.distance) out.push_back(uint8_t(op.literalOrLength));
    else
      for (uint32_t i = 0; i < op.literalOrLength; ++i) out.push_back(out[out.size() - op.distance]);
  }
}

struct HandCase {
  std::string name;
  Bytes stream, expected;
  bool valid;
};

std::vector<HandCase> HandCases() {
  std::vector<HandCase> cases;
  const Bytes first = RandomBytes(65535, 50), second = RandomBytes(1, 51);
  const std::vector<Op> longRun = {{'x', 0}, {65538, 1}, {'y', 0}};  // length code 285, 16 extra bits all 1
  const std::vector<Op> far = {{300, 65536}, {1000, 32769}, {65538, 49153 + 5}, {7, 65536}};
  for (int type : {1, 2}) {
    const std::string kind = type == 1 ? "fixed" : "dynamic";
    {
      BitWriter w;
      EmitBlock(w, type, true, longRun);
      HandCase c{kind + "-length-65538", w.Finish(), {}, true};
      Apply(c.expected, longRun);
      cases.push_back(c);
    }
    {
      // 64 KiB of history, then matches reaching back exactly 65536 bytes
      // (from window position 0) and through distance codes 30 and 31.
      BitWriter w;
      EmitStored(w, false, first);
      EmitStored(w, false, {});  // LEN 0 is a valid empty block
      EmitStored(w, false, second);
      EmitBlock(w, type, true, far);
      HandCase c{kind + "-distance-65536", w.Finish(), first, true};
      c.expected.insert(c.expected.end(), second.begin(), second.end());
      Apply(c.expected, far);
      cases.push_back(c);
    }
  }
  {
    // Two complete streams in one member: the second starts at the next byte.
    BitWriter w1, w2;
    EmitBlock(w1, 1, true, {{'a', 0}, {20, 1}});
    EmitBlock(w2, 2, true, {{'b', 0}, {30, 1}});
    HandCase c{"two-streams", w1.Finish(), {}, true};
    const Bytes s2 = w2.Finish();
    c.stream.insert(c.stream.end(), s2.begin(), s2.end());
    Apply(c.expected, {{'a', 0}, {20, 1}, {'b', 0}, {30, 1}});
    cases.push_back(c);
  }
  // Damaged streams, each declared with the size it would have if accepted,
  // so that only the damage can make decoding fail.
  auto bad = [&](const std::string& name, size_t size, const std::function<void(BitWriter&)>& emit) {
    BitWriter w;
    emit(w);
    cases.push_back({name, w.Finish(), Bytes(size), false});
  };
  bad("len-nlen-mismatch", 10, [](BitWriter& w) { EmitStored(w, true, Bytes(10, 'a'), 0x1234); });
  bad("block-type-3", 0, [](BitWriter& w) { w.Put(1, 1); w.Put(3, 2); });
  bad("distance-before-start", 6, [](BitWriter& w) { EmitBlock(w, 1, true, {{'a', 0}, {5, 2}}); });
  bad("repeat-with-no-previous-length", 0, [](BitWriter& w) {
    w.Put(1, 1); w.Put(2, 2); w.Put(0, 5); w.Put(0, 5); w.Put(0, 4);
    for (int len : {1, 2, 3, 3}) w.Put(len, 3);  // symbols 16, 17, 18, 0: a complete code
    w.PutCode(0, 1);  // code-length symbol 16 first
  });
  bad("stored-cut-short", 65535, [&](BitWriter& w) { EmitStored(w, true, first); });
  cases.back().stream.resize(1000);
  bad("no-final-block", 1, [](BitWriter& w) { EmitBlock(w, 1, false, {{'a', 0}}); });
  return cases;
}

TEST(CodecDeflate64, HandBuiltStreams) {
  for (const auto& c : HandCases()) {
    for (int64_t piece : {int64_t(1), int64_t(5), INT64_MAX}) {
      SCOPED_TRACE(c.name + " piece " + std::to_string(piece));
      MemberRun run(c.stream, int64_t(c.stream.size()), int64_t(c.expected.size()), true, piece);
      EXPECT_EQ(run.result, c.valid);
      if (c.valid) {
        EXPECT_EQ(run.out, c.expected);
      }
      for (uint32_t n : run.chunks) EXPECT_LE(n, 65536u);
    }
  }
}

TEST(CodecDeflate64, NeverWritesMoreThanTheMemberSizeNorReadsPastItsData) {
  const HandCase c = HandCases()[0];  // 65540 bytes
  Bytes stream = c.stream;
  stream.insert(stream.end(), 50, 0x00);
  MemberRun run(stream, int64_t(c.stream.size()), 40000, true);
  EXPECT_FALSE(run.result);
  EXPECT_EQ(run.out, Bytes(c.expected.begin(), c.expected.begin() + 40000));
  EXPECT_LE(run.furthest, int64_t(c.stream.size()));
  // The last byte missing: the final codes cannot be complete.
  MemberRun cut(c.stream, int64_t(c.stream.size()) - 1, int64_t(c.expected.size()), true);
  EXPECT_FALSE(cut.result);
}

// ---------------------------------------------------------------------------
// Deflate64 from 7z: the committed fixtures and archives made now

struct ZipMember {
  std::string name;
  uint16_t method;
  uint32_t crc;
  Bytes stream;
  int64_t size;
};

std::vector<ZipMember> LocalMembers(const std::filesystem::path& zip) {
  std::ifstream f(zip, std::ios::binary);
  const Bytes all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<ZipMember> members;
  size_t pos = 0;
  while (pos + 30 <= all.size() && GetLE32(&all[pos]) == 0x04034B50) {
    ByteReader r(std::span<const uint8_t>(all).subspan(pos, 30));
    r.skip(6);
    const uint16_t flags = r.u16(), method = r.u16();
    r.skip(4);
    const uint32_t crc = r.u32(), csize = r.u32(), usize = r.u32();
    const uint16_t nameLen = r.u16(), extraLen = r.u16();
    const size_t data = pos + 30 + nameLen + extraLen;
    EXPECT_EQ(flags & 8, 0) << "sizes only in a data descriptor";
    if (data + csize > all.size()) break;
    members.push_back({std::string(all.begin() + int64_t(pos) + 30, all.begin() + int64_t(pos) + 30 + nameLen), method,
                       crc, Bytes(all.begin() + int64_t(data), all.begin() + int64_t(data + csize)), usize});
    pos = data + csize;
  }
  return members;
}

// Decodes every member of a 7z-made archive; returns how many were Deflate64.
int CheckArchive(const std::filesystem::path& zip) {
  int deflate64 = 0;
  for (const auto& m : LocalMembers(zip)) {
    SCOPED_TRACE(zip.filename().string() + ":" + m.name);
    if (m.method == 0) continue;
    EXPECT_EQ(m.method, 9);
    ++deflate64;
    MemberRun run(m.stream, int64_t(m.stream.size()), m.size, true, 3001);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(int64_t(run.out.size()), m.size);
    EXPECT_EQ(ZlibCrc(run.out), m.crc);
  }
  return deflate64;
}

TEST(CodecDeflate64, CommittedSevenZipFixtures) {
  const std::filesystem::path dir = std::filesystem::path(PARCELIX_TEST_DATA) / "codec";
  EXPECT_EQ(CheckArchive(dir / "codec_d64_far.zip"), 1);
  EXPECT_EQ(CheckArchive(dir / "codec_d64_text.zip"), 2);
}

TEST(CodecDeflate64, LargeArchivesMadeBySevenZip) {
  if (std::system("command -v 7z >/dev/null 2>&1") != 0) GTEST_SKIP() << "7z not installed";
  const auto dir = std::filesystem::temp_directory_path() / ("codec_7z_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  Bytes far = RandomBytes(20000, 60), text = WordText(45000, 61);
  far.insert(far.end(), text.begin(), text.end());
  far.insert(far.end(), far.begin(), far.begin() + 20000);
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"text.txt", WordText(900000, 62)},
      {"run.bin", Bytes(700000, 'A')},
      {"far.bin", far},
      {"noise.bin", RandomBytes(250000, 63)}};
  for (const auto& [name, data] : files)
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  for (const char* level : {"-mx=1", "-mx=9"}) {
    const auto zip = dir / (std::string("d64") + level + ".zip");
    const std::string cmd = "cd '" + dir.string() + "' && 7z a -tzip -mm=Deflate64 " + level + " '" + zip.string() +
                            "' text.txt run.bin far.bin noise.bin >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_GE(CheckArchive(zip), 3);  // 7z may store the noise
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace parcelix
