// Little-endian byte access for on-disk records: a bounded reader and a writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace parcelix {

inline uint16_t GetLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t GetLE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t GetLE64(const uint8_t* p) { return uint64_t(GetLE32(p)) | (uint64_t(GetLE32(p + 4)) << 32); }
inline void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutLE64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Reads fields in order from a byte span. A read past the end yields 0 and
// sets a sticky fail flag, so a parser can read a whole record and test once.
class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}
  uint8_t u8() { return Has(1) ? data_[pos_++] : Fail<uint8_t>(); }
  uint16_t u16() { return Has(2) ? Take(GetLE16(&data_[pos_]), 2) : Fail<uint16_t>(); }
  uint32_t u32() { return Has(4) ? Take(GetLE32(&data_[pos_]), 4) : Fail<uint32_t>(); }
  uint64_t u64() { return Has(8) ? Take(GetLE64(&data_[pos_]), 8) : Fail<uint64_t>(); }
  void skip(size_t n) {
    if (Has(n)) pos_ += n; else Fail<int>();
  }
  std::span<const uint8_t> bytes(size_t n) {
    if (!Has(n)) { Fail<int>(); return {}; }
    auto s = data_.subspan(pos_, n);
    pos_ += n;
    return s;
  }
  bool ok() const { return !fail_; }
  size_t pos() const { return pos_; }
  size_t remaining() const { return data_.size() - pos_; }

 private:
  bool Has(size_t n) const { return !fail_ && n <= data_.size() - pos_; }
  template <class T> T Take(T v, size_t n) { pos_ += n; return v; }
  template <class T> T Fail() { fail_ = true; pos_ = data_.size(); return T{}; }
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool fail_ = false;
};

// Appends fields in order to a byte vector.
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}
  void u8(uint8_t v) { out_.push_back(v); }
  void u16(uint16_t v) { uint8_t b[2]; PutLE16(b, v); out_.insert(out_.end(), b, b + 2); }
  void u32(uint32_t v) { uint8_t b[4]; PutLE32(b, v); out_.insert(out_.end(), b, b + 4); }
  void u64(uint64_t v) { uint8_t b[8]; PutLE64(b, v); out_.insert(out_.end(), b, b + 8); }
  void bytes(std::span<const uint8_t> s) { out_.insert(out_.end(), s.begin(), s.end()); }
  void bytes(const std::string& s) { out_.insert(out_.end(), s.begin(), s.end()); }
  size_t size() const { return out_.size(); }

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace parcelix
