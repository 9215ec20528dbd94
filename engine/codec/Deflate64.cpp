// Inflate64: the engine's own decoder for ZIP method 9 (Deflate64), one member per decoder object.
//
// Format notes. Deflate64 is the Deflate of RFC 1951 with three changes:
//  1. the window is 64 KiB, so a distance reaches 65536;
//  2. length code 285 means base 3 plus 16 extra bits (lengths 3..65538),
//     where Deflate gives it the fixed length 258;
//  3. distance codes 30 and 31 are used: bases 32769 and 49153, 14 extra bits
//     each (Deflate never emits them).
// Everything else (block types, bit order, fixed codes, the code-length
// alphabet) is Deflate's, so a Deflate stream that never uses length code 285
// decodes the same here as with zlib.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/codec/Inflate.h"
#include "engine/codec/arxStreams.h"

namespace parcelix {

namespace {

constexpr uint32_t kWindowSize = 65536;
constexpr int64_t kInputSize = 32768;
// The widest first-level lookup of any table built here.
constexpr unsigned kMaxRoot = 10;

// Length codes 257..287 and distance codes 0..31 with the Deflate64 values.
constexpr uint16_t kLengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                      35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3,   0,  0};
constexpr uint8_t kLengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                      3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16, 99, 99};
constexpr uint16_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
// The order in which a dynamic header sends the code-length code lengths.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Entry kinds (field e): 0..16 a length or distance base with e extra bits,
// 31 end of block, 32 literal, 33..48 a link to a sub-table indexed by (e-32)
// further bits, 99 an invalid code.
constexpr uint8_t kEndOfBlock = 31;
constexpr uint8_t kLiteral = 32;
constexpr uint8_t kInvalid = 99;

struct Entry {
  uint8_t e = kInvalid;
  uint8_t b = 0;  // bits of the whole code (in a sub-table too)
  uint16_t v = 0; // literal, base, or first index of the sub-table
};

enum class TableKind { CodeLengths, LiteralLength, Distance };
enum class BuildResult { Complete, Incomplete, Bad };

// A canonical Huffman decoding table: a first level of 2^root entries indexed
// by the next root bits, followed by the sub-tables for longer codes.
struct HuffTable {
  std::vector<Entry> entries;
  unsigned root = 1;
  unsigned maxLen = 0;
};

uint32_t ReverseBits(uint32_t code, unsigned len) {
  uint32_t r = 0;
  for (unsigned i = 0; i < len; ++i, code >>= 1) r = (r << 1) | (code & 1);
  return r;
}

Entry SymbolEntry(TableKind kind, unsigned sym, unsigned len) {
  Entry en;
  en.b = uint8_t(len);
  switch (kind) {
    case TableKind::CodeLengths: en.e = kLiteral; en.v = uint16_t(sym); break;
    case TableKind::LiteralLength:
      if (sym < 256) { en.e = kLiteral; en.v = uint16_t(sym); }
      else if (sym == 256) en.e = kEndOfBlock;
      else { en.e = kLengthExtra[sym - 257]; en.v = kLengthBase[sym - 257]; }
      break;
    case TableKind::Distance: en.e = kDistExtra[sym]; en.v = kDistBase[sym]; break;
  }
  return en;
}

// Builds t from n code lengths (each 0..15). Bad: over-subscribed.
BuildResult BuildTable(const uint8_t* lens, unsigned n, TableKind kind, unsigned rootWanted, HuffTable& t) {
  std::array<uint16_t, 16> count{};
  for (unsigned i = 0; i < n; ++i) ++count[lens[i]];
  count[0] = 0;
  unsigned maxLen = 15;
  while (maxLen > 0 && count[maxLen] == 0) --maxLen;
  t.maxLen = maxLen;
  if (maxLen == 0) {  // no codes at all: every lookup is invalid
    t.root = 1;
    t.entries.assign(2, Entry{});
    return BuildResult::Incomplete;
  }
  // The first level never needs more bits than the longest code. (It is not
  // widened to the shortest one: a lone long code, legal in an incomplete
  // distance code, would otherwise ask for a 2^15-entry table.)
  const unsigned root = std::min(rootWanted, maxLen);

  int left = 1;
  for (unsigned len = 1; len <= 15; ++len) {
    left = (left << 1) - count[len];
    if (left < 0) return BuildResult::Bad;
  }

  std::array<uint32_t, 16> next{};
  uint32_t code = 0;
  for (unsigned len = 1; len <= 15; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }

  // Canonical codes, reversed because Deflate sends Huffman codes from their
  // most significant bit while every other field comes least significant first.
  std::array<uint16_t, 320> rev{};
  for (unsigned sym = 0; sym < n; ++sym)
    if (lens[sym]) rev[sym] = uint16_t(ReverseBits(next[lens[sym]]++, lens[sym]));

  const uint32_t rootSize = 1u << root;
  const uint32_t rootMask = rootSize - 1;
  std::array<uint8_t, 1u << kMaxRoot> subLen{};  // longest code behind each first-level slot
  for (unsigned sym = 0; sym < n; ++sym)
    if (lens[sym] > root) {
      uint8_t& m = subLen[rev[sym] & rootMask];
      m = std::max(m, lens[sym]);
    }

  size_t total = rootSize;
  for (uint32_t i = 0; i < rootSize; ++i)
    if (subLen[i]) total += size_t(1) << (subLen[i] - root);
  t.root = root;
  t.entries.assign(total, Entry{});
  size_t nextSub = rootSize;
  for (uint32_t i = 0; i < rootSize; ++i)
    if (subLen[i]) {
      Entry& link = t.entries[i];
      link.e = uint8_t(kLiteral + (subLen[i] - root));
      link.b = uint8_t(root);
      link.v = uint16_t(nextSub);
      nextSub += size_t(1) << (subLen[i] - root);
    }

  for (unsigned sym = 0; sym < n; ++sym) {
    const unsigned len = lens[sym];
    if (!len) continue;
    const Entry en = SymbolEntry(kind, sym, len);
    if (len <= root) {
      for (uint32_t i = rev[sym]; i < rootSize; i += 1u << len) t.entries[i] = en;
    } else {
      const Entry& link = t.entries[rev[sym] & rootMask];
      const uint32_t subSize = 1u << (link.e - kLiteral);
      for (uint32_t j = uint32_t(rev[sym]) >> root; j < subSize; j += 1u << (len - root))
        t.entries[link.v + j] = en;
    }
  }
  return left > 0 ? BuildResult::Incomplete : BuildResult::Complete;
}

class Deflate64Decoder {
 public:
  explicit Deflate64Decoder(TInflateJob& job) : job_(job), remaining_(job.UncompressedSize) {}
  bool Run();

 private:
  // --- input and bits ---
  bool Refill();                // reads the next piece of the member's compressed bytes; false at its end
  void Need(unsigned n);        // makes at least n bits (n <= 56) available, padding with zeros past the end
  uint32_t Peek(unsigned n) const { return uint32_t(bitBuf_ & ((uint64_t(1) << n) - 1)); }  // next n bits
  void Drop(unsigned n) { bitBuf_ >>= n; bitCnt_ -= n; }  // consumes n available bits
  uint32_t Bits(unsigned n) { Need(n); const uint32_t v = Peek(n); Drop(n); return v; }  // takes n bits
  bool Overrun() const { return bitCnt_ < padBits_; }  // true once a padding bit was consumed
  bool MoreInput();             // true while real compressed bits remain
  int64_t CompressedDone() const { return bytesRead_ - (inEnd_ - inPos_); }

  // --- blocks ---
  bool Cancelled() const { return job_.Cancel && *job_.Cancel; }
  bool StoredBlock();
  bool FixedBlock();
  bool DynamicBlock();
  bool Codes(const HuffTable& lit, const HuffTable& dist);
  bool Decode(const HuffTable& t, Entry& out);
  bool CopyMatch(uint32_t length, uint32_t distance);
  bool Flush(uint32_t count);   // hands window bytes to the output writer; false on a failed write or excess data

  TInflateJob& job_;
  std::unique_ptr<uint8_t[]> in_ = std::make_unique_for_overwrite<uint8_t[]>(kInputSize);
  int64_t inPos_ = 0, inEnd_ = 0;
  int64_t bytesRead_ = 0;
  bool exhausted_ = false;
  uint64_t bitBuf_ = 0;
  unsigned bitCnt_ = 0;
  unsigned padBits_ = 0;

  std::unique_ptr<uint8_t[]> window_ = std::make_unique_for_overwrite<uint8_t[]>(kWindowSize);
  uint32_t wpos_ = 0;
  uint64_t streamOut_ = 0;  // bytes this stream has produced (bounds match distances)
  int64_t remaining_;       // bytes the member may still receive
  int64_t written_ = 0;

  HuffTable lit_, dist_, lens_;
  bool fixedBuilt_ = false;
  HuffTable fixedLit_, fixedDist_;
};

bool Deflate64Decoder::Refill() {
  if (exhausted_) return false;
  const int64_t left = job_.CompressedSize - bytesRead_;
  const int64_t want = std::min(left, kInputSize);
  const int64_t got = want > 0 && job_.Archive ? job_.Archive->Read(in_.get(), want) : 0;
  if (got <= 0) {
    exhausted_ = true;
    return false;
  }
  bytesRead_ += got;
  inPos_ = 0;
  inEnd_ = got;
  return true;
}

void Deflate64Decoder::Need(unsigned n) {
  if (bitCnt_ >= n) return;
  if (inEnd_ - inPos_ >= 8) {
    // Fast path: top the buffer up to 56..63 bits with one 8-byte load. The
    // bits of the next, partly taken byte also land above bitCnt_; they are
    // that byte's real bits and are put there again when it is taken.
    uint64_t word;
    std::memcpy(&word, in_.get() + inPos_, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    bitBuf_ |= word << bitCnt_;
    const unsigned take = (63 - bitCnt_) >> 3;
    inPos_ += take;
    bitCnt_ += take * 8;
    return;
  }
  while (bitCnt_ < n) {
    if (inPos_ == inEnd_ && !Refill()) {
      // Past the end of the data the bits read as zeros; decoding may look
      // ahead into them (a code is looked up with more bits than it has), and
      // only consuming one of them is an error (see Overrun).
      bitCnt_ += 8;
      padBits_ += 8;
      continue;
    }
    bitBuf_ |= uint64_t(in_[size_t(inPos_++)]) << bitCnt_;
    bitCnt_ += 8;
  }
}

bool Deflate64Decoder::MoreInput() {
  if (bitCnt_ > padBits_) return true;
  return inPos_ < inEnd_ || Refill();
}

bool Deflate64Decoder::Decode(const HuffTable& t, Entry& out) {
  Need(t.root + 15);
  Entry en = t.entries[Peek(t.root)];
  if (en.e > kLiteral && en.e <= kLiteral + 16)
    en = t.entries[en.v + ((bitBuf_ >> t.root) & ((1u << (en.e - kLiteral)) - 1))];
  if (en.e == kInvalid) return false;
  Drop(en.b);
  out = en;
  return !Overrun();
}

bool Deflate64Decoder::Flush(uint32_t count) {
  if (count == 0) return true;
  const int64_t n = std::min<int64_t>(count, std::max<int64_t>(remaining_, 0));
  if (n > 0) {
    const uint32_t w = job_.Output ? job_.Output(window_.get(), uint32_t(n)) : 0;
    if (w == 0 && job_.OnWriteFailed) job_.OnWriteFailed();
    if (w < n) return false;
    remaining_ -= n;
    written_ += n;
    if (job_.Progress) job_.Progress(CompressedDone(), written_);
    if (job_.ProcessMessages) job_.ProcessMessages();
  }
  // A stream that decodes to more than the member's size is damaged: the
  // excess is never written and decoding stops.
  return n == count;
}

bool Deflate64Decoder::CopyMatch(uint32_t length, uint32_t distance) {
  if (distance > streamOut_) return false;  // reaches before the start of the data
  uint32_t src = (wpos_ - distance) & (kWindowSize - 1);
  while (length > 0) {
    uint32_t step = kWindowSize - std::max(src, wpos_);
    step = std::min(step, length);
    uint8_t* d = window_.get() + wpos_;
    const uint8_t* s = window_.get() + src;
    if (src < wpos_ && wpos_ - src < step) {
      // The match overlaps its own output: a period of (wpos - src) bytes
      // repeats. Each copy doubles the run already laid down.
      const uint32_t period = wpos_ - src;
      if (period == 1) {
        std::memset(d, *s, step);
      } else {
        for (uint32_t done = 0; done < step;) {
          const uint32_t n = std::min(period + done, step - done);
          std::memcpy(d + done, s, n);
          done += n;
        }
      }
    } else if (d != s) {
      // Non-overlapping run, or a source ahead of the destination in the
      // circular window, which a forward move copies correctly.
      std::memmove(d, s, step);
    }
    wpos_ += step;
    src = (src + step) & (kWindowSize - 1);
    length -= step;
    streamOut_ += step;
    if (wpos_ == kWindowSize) {
      if (Cancelled() || !Flush(kWindowSize)) return false;
      wpos_ = 0;
    }
  }
  return true;
}

bool Deflate64Decoder::Codes(const HuffTable& lit, const HuffTable& dist) {
  uint8_t* const window = window_.get();
  for (;;) {
    if (Cancelled()) return false;
    Entry en;
    if (!Decode(lit, en)) return false;
    if (en.e == kLiteral) {
      window[wpos_++] = uint8_t(en.v);
      ++streamOut_;
      if (wpos_ == kWindowSize) {
        if (!Flush(kWindowSize)) return false;
        wpos_ = 0;
      }
      continue;
    }
    if (en.e == kEndOfBlock) return true;
    const uint32_t length = en.v + Bits(en.e);
    Entry de;
    if (!Decode(dist, de)) return false;
    const uint32_t distance = de.v + Bits(de.e);
    if (Overrun() || !CopyMatch(length, distance)) return false;
  }
}

bool Deflate64Decoder::StoredBlock() {
  Drop(bitCnt_ % 8);  // to the byte boundary
  const uint32_t len = Bits(16);
  const uint32_t nlen = Bits(16);
  if (Overrun() || len != (~nlen & 0xFFFF)) return false;
  uint32_t left = len;
  // Whole bytes already in the bit buffer come first, then the input buffer.
  while (left > 0 && bitCnt_ >= 8 && bitCnt_ - 8 >= padBits_) {
    window_[wpos_++] = uint8_t(Bits(8));
    ++streamOut_;
    --left;
    if (wpos_ == kWindowSize) {
      if (!Flush(kWindowSize)) return false;
      wpos_ = 0;
    }
  }
  // From here bytes come straight from the input buffer; bits a fast refill
  // left above the empty bit buffer belong to bytes taken now, so clear them.
  if (left > 0) bitBuf_ = 0;
  while (left > 0) {
    if (Cancelled()) return false;
    if (bitCnt_ > padBits_) return false;  // cannot happen: the buffer was emptied above
    if (inPos_ == inEnd_ && !Refill()) return false;
    const uint32_t n = uint32_t(std::min<int64_t>({int64_t(left), inEnd_ - inPos_, int64_t(kWindowSize - wpos_)}));
    std::memcpy(window_.get() + wpos_, in_.get() + inPos_, n);
    inPos_ += n;
    wpos_ += n;
    streamOut_ += n;
    left -= n;
    if (wpos_ == kWindowSize) {
      if (!Flush(kWindowSize)) return false;
      wpos_ = 0;
    }
  }
  return true;
}

bool Deflate64Decoder::FixedBlock() {
  if (!fixedBuilt_) {
    uint8_t lens[288];
    std::fill(lens, lens + 144, 8);
    std::fill(lens + 144, lens + 256, 9);
    std::fill(lens + 256, lens + 280, 7);
    std::fill(lens + 280, lens + 288, 8);
    BuildTable(lens, 288, TableKind::LiteralLength, 9, fixedLit_);
    // All 32 five-bit distance codes: Deflate64 uses codes 30 and 31 in fixed
    // blocks too, for distances beyond 32 KiB.
    std::fill(lens, lens + 32, 5);
    BuildTable(lens, 32, TableKind::Distance, 5, fixedDist_);
    fixedBuilt_ = true;
  }
  return Codes(fixedLit_, fixedDist_);
}

bool Deflate64Decoder::DynamicBlock() {
  const unsigned nlit = 257 + Bits(5);
  const unsigned ndist = 1 + Bits(5);
  const unsigned ncode = 4 + Bits(4);
  if (Overrun()) return false;
  // With five-bit fields these cannot exceed 288 and 32: all are accepted.
  uint8_t lens[288 + 32] = {};
  for (unsigned i = 0; i < ncode; ++i) lens[kCodeLengthOrder[i]] = uint8_t(Bits(3));
  if (Overrun()) return false;
  if (BuildTable(lens, 19, TableKind::CodeLengths, 7, lens_) != BuildResult::Complete) return false;

  std::fill(lens, lens + 19, 0);
  const unsigned total = nlit + ndist;
  unsigned i = 0;
  while (i < total) {
    Entry en;
    if (!Decode(lens_, en)) return false;
    const unsigned sym = en.v;
    if (sym < 16) {
      lens[i++] = uint8_t(sym);
      continue;
    }
    uint8_t value = 0;
    unsigned repeat;
    if (sym == 16) {
      if (i == 0) return false;  // nothing to repeat yet
      value = lens[i - 1];
      repeat = 3 + Bits(2);
    } else if (sym == 17) {
      repeat = 3 + Bits(3);
    } else {
      repeat = 11 + Bits(7);
    }
    if (Overrun() || i + repeat > total) return false;
    std::fill(lens + i, lens + i + repeat, value);
    i += repeat;
  }
  // A block with no end-of-block code could never end.
  if (lens[256] == 0) return false;
  const BuildResult lr = BuildTable(lens, nlit, TableKind::LiteralLength, 10, lit_);
  // An incomplete literal/length code is accepted only in the one form
  // encoders really emit: a single one-bit code.
  if (lr == BuildResult::Bad || (lr == BuildResult::Incomplete && lit_.maxLen != 1)) return false;
  // An incomplete distance code is fine: its unused codes are invalid.
  if (BuildTable(lens + nlit, ndist, TableKind::Distance, 8, dist_) == BuildResult::Bad) return false;
  return Codes(lit_, dist_);
}

bool Deflate64Decoder::Run() {
  for (;;) {
    wpos_ = 0;
    streamOut_ = 0;
    bool last = false;
    while (!last && !Cancelled()) {
      last = Bits(1) != 0;
      const uint32_t type = Bits(2);
      if (Overrun()) return false;
      bool ok;
      switch (type) {
        case 0: ok = StoredBlock(); break;
        case 1: ok = FixedBlock(); break;
        case 2: ok = DynamicBlock(); break;
        default: ok = false; break;
      }
      // A failed block ends decoding at once; its pending bytes are dropped
      // and the member fails its CRC check.
      if (!ok) return false;
    }
    if (!Flush(wpos_)) return false;
    if (remaining_ <= 0 || Cancelled()) return true;
    // The stream ended before the member's size: what follows may be another
    // stream, starting at the next whole byte. With no bytes left, stop.
    Drop(bitCnt_ % 8);
    if (!MoreInput()) return false;
  }
}

}  // namespace

bool Inflate64(TInflateJob& job) {
  if (job.UncompressedSize <= 0 && job.CompressedSize <= 0) return true;
  auto decoder = std::make_unique<Deflate64Decoder>(job);
  return decoder->Run();
}

}  // namespace parcelix
