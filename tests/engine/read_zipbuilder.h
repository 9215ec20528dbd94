// Test helper: lays out small ZIP archives byte by byte (prefixes, comments,
// zip64 records, streamed members, lying fields) and a scratch directory.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/ByteIO.h"
#include "engine/read/ZipRecords.h"

namespace parcelix::testzip {

inline uint32_t Crc(const std::string& s) {
  return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data()), uInt(s.size())));
}

inline std::string RawDeflate(const std::string& s) {
  z_stream zs{};
  deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, uLong(s.size())) + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(s.data()));
  zs.avail_in = uInt(s.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = uInt(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

struct Member {
  std::string name{};
  std::string data{};
  uint16_t method = 0;  // 0 and 8 are encoded; any other stores the data as they are
  uint16_t flags = 0;
  uint32_t externalAttributes = 0;
  uint32_t dosDate = 0x50B16DAF;  // 2020-05-17 13:45:30
  bool streamed = false;          // local CRC and sizes 0, data descriptor after the data
  std::optional<uint32_t> crc{};  // the CRC written in the headers (default: the real one)
  std::optional<uint32_t> usize{};  // the uncompressed size written (default: the real one)
  bool zip64 = false;             // sizes and offset as 0xFFFFFFFF with a zip64 extra block
  std::vector<uint8_t> centralExtra{};
  std::string comment{};
};

struct Layout {
  std::string prefix{};         // bytes in front of the archive
  bool adjustOffsets = true;    // recorded offsets count the prefix
  std::string comment{};        // archive comment
  bool zip64End = false;        // zip64 end record and locator; 0xFFFF/0xFFFFFFFF in the end record
  std::optional<uint32_t> recordedDirectoryOffset{};
  std::optional<uint16_t> recordedCount{};
};

struct Built {
  std::vector<uint8_t> bytes;
  std::vector<int64_t> localPositions;  // where each local header really is
  int64_t centralStart = 0;
  int64_t endPosition = 0;
};

inline Built Build(const std::vector<Member>& members, const Layout& layout = {}) {
  Built b;
  ByteWriter w(b.bytes);
  w.bytes(layout.prefix);
  const int64_t bias = layout.adjustOffsets ? 0 : int64_t(layout.prefix.size());
  struct Done {
    uint32_t crc;
    uint64_t csize, usize;
    int64_t offset;
  };
  std::vector<Done> done;
  for (const Member& m : members) {
    const std::string payload = m.method == 8 ? RawDeflate(m.data) : m.data;
    Done d{m.crc.value_or(Crc(m.data)), payload.size(), m.usize.value_or(m.data.size()),
           int64_t(b.bytes.size()) - bias};
    b.localPositions.push_back(int64_t(b.bytes.size()));
    std::vector<uint8_t> extra;
    if (m.zip64) {
      ByteWriter x(extra);
      x.u16(kExtraZip64);
      x.u16(16);
      x.u64(d.usize);
      x.u64(d.csize);
    }
    LocalHeader lh;
    lh.flags = uint16_t(m.flags | (m.streamed ? kFlagDataDescriptor : 0));
    lh.method = m.method;
    lh.dosDateTime = m.dosDate;
    lh.crc32 = m.streamed ? 0 : d.crc;
    lh.compressedSize = m.streamed ? 0 : m.zip64 ? 0xFFFFFFFFu : uint32_t(d.csize);
    lh.uncompressedSize = m.streamed ? 0 : m.zip64 ? 0xFFFFFFFFu : uint32_t(d.usize);
    lh.nameLength = uint16_t(m.name.size());
    lh.extraLength = uint16_t(extra.size());
    auto lb = lh.Bytes();
    w.bytes(lb);
    w.bytes(m.name);
    w.bytes(extra);
    w.bytes(payload);
    if (m.streamed) {
      w.u32(kSigDataDescriptor);
      w.u32(d.crc);
      w.u32(uint32_t(d.csize));
      w.u32(uint32_t(d.usize));
    }
    done.push_back(d);
  }
  b.centralStart = int64_t(b.bytes.size());
  for (size_t i = 0; i < members.size(); ++i) {
    const Member& m = members[i];
    const Done& d = done[i];
    std::vector<uint8_t> extra;
    if (m.zip64) {
      ByteWriter x(extra);
      x.u16(kExtraZip64);
      x.u16(24);
      x.u64(d.usize);
      x.u64(d.csize);
      x.u64(uint64_t(d.offset));
    }
    extra.insert(extra.end(), m.centralExtra.begin(), m.centralExtra.end());
    CentralHeader ch;
    ch.flags = uint16_t(m.flags | (m.streamed ? kFlagDataDescriptor : 0));
    ch.method = m.method;
    ch.dosDateTime = m.dosDate;
    ch.crc32 = d.crc;
    ch.compressedSize = m.zip64 ? 0xFFFFFFFFu : uint32_t(d.csize);
    ch.uncompressedSize = m.zip64 ? 0xFFFFFFFFu : uint32_t(d.usize);
    ch.nameLength = uint16_t(m.name.size());
    ch.extraLength = uint16_t(extra.size());
    ch.commentLength = uint16_t(m.comment.size());
    ch.externalAttributes = m.externalAttributes;
    ch.localHeaderOffset = m.zip64 ? 0xFFFFFFFFu : uint32_t(d.offset);
    auto cb = ch.Bytes();
    w.bytes(cb);
    w.bytes(m.name);
    w.bytes(extra);
    w.bytes(m.comment);
  }
  const int64_t dirSize = int64_t(b.bytes.size()) - b.centralStart;
  const int64_t recordedStart = b.centralStart - bias;
  if (layout.zip64End) {
    const int64_t zip64Pos = int64_t(b.bytes.size());
    Zip64EndRecord z;
    z.entriesThisDisk = z.totalEntries = members.size();
    z.directorySize = uint64_t(dirSize);
    z.directoryOffset = uint64_t(recordedStart);
    w.bytes(z.Bytes());
    Zip64Locator loc;
    loc.endRecordOffset = uint64_t(zip64Pos - bias);
    loc.totalDisks = 1;
    w.bytes(loc.Bytes());
  }
  b.endPosition = int64_t(b.bytes.size());
  EndRecord e;
  e.entriesThisDisk = e.totalEntries =
      layout.recordedCount.value_or(layout.zip64End ? 0xFFFF : uint16_t(members.size()));
  e.directorySize = layout.zip64End ? 0xFFFFFFFFu : uint32_t(dirSize);
  e.directoryOffset = layout.recordedDirectoryOffset.value_or(layout.zip64End ? 0xFFFFFFFFu : uint32_t(recordedStart));
  e.commentLength = uint16_t(layout.comment.size());
  w.bytes(e.Bytes());
  w.bytes(layout.comment);
  return b;
}

// A scratch directory removed after each test.
class Scratch : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/parcelix-read-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = std::string(tmpl) + "/";
  }
  void TearDown() override { std::system(("chmod -R u+w '" + dir_ + "' 2>/dev/null; rm -rf '" + dir_ + "'").c_str()); }
  std::string Put(const std::string& name, const std::vector<uint8_t>& bytes) {
    // A fresh file each time: rewriting a truncated one makes ext4 flush it.
    std::remove((dir_ + name).c_str());
    std::ofstream out(dir_ + name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return dir_ + name;
  }
  std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir_;
};

}  // namespace parcelix::testzip
