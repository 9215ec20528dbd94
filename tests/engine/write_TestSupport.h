// Test support for the writer: scratch directories, file helpers and an independent ZIP probe over zlib.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <dirent.h>

#include "engine/common/ByteIO.h"

namespace parcelix::writetest {

namespace fs = std::filesystem;

// A private scratch directory, removed with everything in it.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& base = "") {
    std::string templ = (base.empty() ? fs::temp_directory_path().string() : base) + "/pxwriteXXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }
  const std::string& path() const { return path_; }
  std::string dir() const { return path_ + "/"; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
inline void WriteFile(const std::string& path, const std::string& text) {
  WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}
inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// Bytes from a fixed-seed generator: incompressible but reproducible.
inline std::vector<uint8_t> NoiseBytes(size_t n, uint32_t seed = 12345) {
  std::vector<uint8_t> out(n);
  uint32_t x = seed ? seed : 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = uint8_t(x >> 24);
  }
  return out;
}

inline bool RawInflate(const uint8_t* data, size_t size, size_t expected, std::vector<uint8_t>& out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  out.assign(expected + 1, 0);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = uInt(size);
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  const int r = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return r == Z_STREAM_END && z.avail_in == 0;
}

// One member as the probe found it: central fields, the local header and the data.
struct ProbeEntry {
  std::string name;
  uint16_t versionMadeBy = 0, versionNeeded = 0, flags = 0, method = 0;
  uint32_t dosDateTime = 0, crc = 0, compressedSize = 0, size = 0;
  uint16_t extraLength = 0, commentLength = 0, internalAttr = 0;
  uint32_t externalAttr = 0;
  uint64_t localOffset = 0;  // from the file start (zip64 block and stub taken into account)
  // Local header as written.
  uint16_t localFlags = 0, localMethod = 0, localExtraLength = 0;
  uint32_t localCrc = 0, localCompressed = 0, localSize = 0, localDateTime = 0;
  std::string localName;
  std::vector<uint8_t> central;  // central record with its offset fields blanked
  std::vector<uint8_t> segment;  // local header to the next entry: header, data, descriptor
  std::vector<uint8_t> data;     // decoded
  bool decoded = false;
};

// An independent reader of archives: end record, central directory, local
// headers, data decoded with zlib and its CRC checked. Exact is false when
// the directory does not end at the end record (a stub with offsets that
// count from its end).
struct ZipProbe {
  bool ok = false, exact = false;
  std::string error;
  std::vector<ProbeEntry> entries;
  std::vector<uint8_t> prefix, comment;

  explicit ZipProbe(const std::string& path) : ZipProbe(ReadFile(path), 0) {}
  ZipProbe(const std::vector<uint8_t>& f, int) { Parse(f); }

  const ProbeEntry* Find(const std::string& name) const {
    for (const auto& e : entries)
      if (e.name == name) return &e;
    return nullptr;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.name);
    return out;
  }

 private:
  void Parse(const std::vector<uint8_t>& f) {
    size_t end = std::string::npos;
    for (size_t p = f.size() >= 22 ? f.size() - 21 : 0; p-- > 0;)
      if (GetLE32(&f[p]) == 0x06054B50 && p + 22 + GetLE16(&f[p + 20]) == f.size()) {
        end = p;
        break;
      }
    if (end == std::string::npos || GetLE32(&f[end + 12]) > end) {
      error = "no end record";
      return;
    }
    const size_t cd = end - GetLE32(&f[end + 12]);
    const int64_t adjust = int64_t(cd) - int64_t(GetLE32(&f[end + 16]));
    exact = adjust == 0;
    comment.assign(f.begin() + long(end) + 22, f.end());
    for (size_t p = cd, i = 0; i < GetLE16(&f[end + 10]); ++i) {
      if (p + 46 > end || GetLE32(&f[p]) != 0x02014B50) return void(error = "bad central header");
      ProbeEntry e;
      e.versionMadeBy = GetLE16(&f[p + 4]);
      e.versionNeeded = GetLE16(&f[p + 6]);
      e.flags = GetLE16(&f[p + 8]);
      e.method = GetLE16(&f[p + 10]);
      e.dosDateTime = GetLE32(&f[p + 12]);
      e.crc = GetLE32(&f[p + 16]);
      e.compressedSize = GetLE32(&f[p + 20]);
      e.size = GetLE32(&f[p + 24]);
      const size_t n = GetLE16(&f[p + 28]);
      e.extraLength = GetLE16(&f[p + 30]);
      e.commentLength = GetLE16(&f[p + 32]);
      e.internalAttr = GetLE16(&f[p + 36]);
      e.externalAttr = GetLE32(&f[p + 38]);
      e.localOffset = GetLE32(&f[p + 42]);
      const size_t total = 46 + n + e.extraLength + e.commentLength;
      if (p + total > end) return void(error = "central entry runs past the directory");
      e.name.assign(f.begin() + long(p) + 46, f.begin() + long(p) + 46 + long(n));
      e.central.assign(f.begin() + long(p), f.begin() + long(p + total));
      std::fill(e.central.begin() + 42, e.central.begin() + 46, 0);
      if (e.localOffset == 0xFFFFFFFF) {
        // The offset lives in a zip64 block (the test archives keep only it there).
        for (size_t q = 46 + n; q + 12 <= 46 + n + e.extraLength; q += 4 + GetLE16(&e.central[q + 2]))
          if (GetLE16(&e.central[q]) == 1 && GetLE16(&e.central[q + 2]) == 8) {
            e.localOffset = GetLE64(&e.central[q + 4]);
            std::fill(e.central.begin() + long(q) + 4, e.central.begin() + long(q) + 12, 0);
          }
      }
      e.localOffset = uint64_t(int64_t(e.localOffset) + adjust);
      p += total;
      const size_t l = size_t(e.localOffset);
      if (l + 30 > cd || GetLE32(&f[l]) != 0x04034B50) return void(error = "bad local header for " + e.name);
      e.localFlags = GetLE16(&f[l + 6]);
      e.localMethod = GetLE16(&f[l + 8]);
      e.localDateTime = GetLE32(&f[l + 10]);
      e.localCrc = GetLE32(&f[l + 14]);
      e.localCompressed = GetLE32(&f[l + 18]);
      e.localSize = GetLE32(&f[l + 22]);
      const size_t ln = GetLE16(&f[l + 26]);
      e.localExtraLength = GetLE16(&f[l + 28]);
      const size_t dataStart = l + 30 + ln + e.localExtraLength;
      if (dataStart + e.compressedSize > cd) return void(error = "data runs past the directory for " + e.name);
      e.localName.assign(f.begin() + long(l) + 30, f.begin() + long(l + 30 + ln));
      const uint8_t* d = f.data() + dataStart;
      if (e.method == 0) {
        e.data.assign(d, d + e.compressedSize);
        e.decoded = e.compressedSize == e.size;
      } else if (e.method == 8) {
        e.decoded = RawInflate(d, e.compressedSize, e.size, e.data) && e.data.size() == e.size;
      }
      if (e.decoded && uint32_t(crc32(0, e.data.data(), uInt(e.data.size()))) != e.crc) e.decoded = false;
      entries.push_back(std::move(e));
    }
    // Each entry's segment runs to the next local header or the directory.
    std::vector<size_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return entries[a].localOffset < entries[b].localOffset; });
    for (size_t k = 0; k < order.size(); ++k) {
      const size_t from = size_t(entries[order[k]].localOffset);
      const size_t to = k + 1 < order.size() ? size_t(entries[order[k + 1]].localOffset) : cd;
      entries[order[k]].segment.assign(f.begin() + long(from), f.begin() + long(to));
    }
    prefix.assign(f.begin(), f.begin() + long(order.empty() ? cd : size_t(entries[order[0]].localOffset)));
    ok = true;
  }
};

// Temporary files in a directory that anyone can see: hidden
// ".NAME.parcelix-tmp-..." files, or arx*.tmp of older versions.
inline int TempFilesIn(const std::string& dir) {
  int n = 0;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name.rfind("arx", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".tmp") ++n;
      else if (name.find(".parcelix-tmp-") != std::string::npos) ++n;
    }
    ::closedir(d);
  }
  return n;
}

}  // namespace parcelix::writetest
