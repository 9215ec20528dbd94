// Opening archives: type detection, the end-record search, offset
// corrections, the local-header walk, the raw directory, hostile layouts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/read/arxUnZip.h"
#include "read_zipbuilder.h"

namespace parcelix {
namespace {

using testzip::Build;
using testzip::Layout;
using testzip::Member;

std::vector<Member> JarMembers() {
  return {{"META-INF/", ""},
          {"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMIDlet-Name: Game\r\n\r\n", 8},
          {"a/b.class", std::string(3000, 'x') + "tail", 8},
          {"LICENSE", "free"}};
}

std::vector<std::string> Names(const std::vector<MemberInfo>& m) {
  std::vector<std::string> out;
  for (const auto& x : m) out.push_back(x.name);
  return out;
}

const std::vector<std::string> kJarNames = {"META-INF/", "META-INF/MANIFEST.MF", "a/b.class", "LICENSE"};

class ReadOpen : public testzip::Scratch {
 protected:
  // Lists with "*.*"; the member names, or {"<failed>"}.
  std::vector<std::string> ListAll(TUnZip& z, std::vector<MemberInfo>* out = nullptr) {
    std::vector<MemberInfo> members;
    z.FileSpec = {"*.*"};
    if (!z.List(members)) return {"<failed>"};
    if (out) *out = members;
    return Names(members);
  }
  std::vector<int> Codes(const TUnZip& z) {
    std::vector<int> codes;
    for (const auto& e : z.Errors()) codes.push_back(e.code);
    return codes;
  }
};

TEST_F(ReadOpen, OneMemberJarIsFoundThroughItsDirectory) {
  auto built = Build({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n", 8}});
  TUnJar z;
  z.SetArchiveFile(Put("one.jar", built.bytes));
  EXPECT_EQ(z.ArcType(), atJar);
  EXPECT_EQ(z.HeaderState(), HtBit(htLocal) | HtBit(htCentral) | HtBit(htEnding));
  EXPECT_EQ(z.CentralDirectoryStart(), built.centralStart);
  EXPECT_EQ(z.PrefixAdjustment(), 0);
  std::vector<MemberInfo> m;
  EXPECT_EQ(ListAll(z, &m), std::vector<std::string>{"META-INF/MANIFEST.MF"});
  EXPECT_EQ(m[0].method, 8);
  EXPECT_EQ(m[0].uncompressedSize, 23);
  EXPECT_EQ(m[0].crc32, testzip::Crc("Manifest-Version: 1.0\r\n"));
  EXPECT_TRUE(z.Errors().empty());
}

struct TypeCase {
  const char* what;
  std::vector<uint8_t> bytes;
  const char* fileName;
  TArcType type;
};

class ReadTypes : public ReadOpen, public testing::WithParamInterface<TypeCase> {};

TEST_P(ReadTypes, DetectsTheZipFamilyOnly) {
  const TypeCase& c = GetParam();
  TUnZip z;
  z.SetArchiveFile(Put(c.fileName, c.bytes));
  EXPECT_EQ(z.ArcType(), c.type) << c.what;
  EXPECT_EQ(z.ArchiveFile(), dir_ + c.fileName);
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

INSTANTIATE_TEST_SUITE_P(
    Files, ReadTypes,
    testing::Values(TypeCase{"zip named .JAR", Build(JarMembers()).bytes, "x.JAR", atJar},
                    TypeCase{"zip named .zip", Build(JarMembers()).bytes, "x.zip", atZip},
                    TypeCase{"19 bytes", Bytes("PK\x03\x04" "123456789012345"), "short.jar", atNA},
                    TypeCase{"text", Bytes(std::string(5000, 't')), "t.jar", atNA},
                    TypeCase{"empty archive", Build({}).bytes, "empty.zip", atZip},
                    TypeCase{"program image with a zip", Build(JarMembers(), {.prefix = "MZ" + std::string(500, 's')}).bytes,
                             "sfx.exe", atZipExe},
                    TypeCase{"bytes in front", Build(JarMembers(), {.prefix = std::string(300, 'j')}).bytes, "pre.jar",
                             atJar},
                    TypeCase{"spanning marker at the start", Build(JarMembers(), {.prefix = "PK\x07\x08"}).bytes,
                             "span.zip", atZipMV}));

TEST_F(ReadOpen, MissingFileClearsTheArchiveAndAFollowingRunReportsIt) {
  TUnJar z;
  z.SetArchiveFile(dir_ + "nope.jar");
  EXPECT_EQ(z.ArchiveFile(), "");
  EXPECT_EQ(z.ArcType(), atNA);
  TDecompMemoryStream s;
  EXPECT_EQ(z.ExtractToMemoryStream(&s), 0);
  EXPECT_EQ(Codes(z), std::vector<int>{kErrFileNotFound});
  // A directory is not an archive either.
  z.SetArchiveFile(dir_);
  EXPECT_EQ(z.ArchiveFile(), "");
}

TEST_F(ReadOpen, EmptyArchiveListsNothingWithoutErrors) {
  TUnZip z;
  z.SetArchiveFile(Put("empty.zip", Build({}).bytes));
  EXPECT_EQ(ListAll(z), std::vector<std::string>{});
  EXPECT_TRUE(z.Errors().empty());
}

TEST_F(ReadOpen, UnadjustedPrefixIsCorrectedForEveryMember) {
  auto built = Build(JarMembers(), {.prefix = std::string(100, 'p'), .adjustOffsets = false});
  TUnJar z;
  z.SetArchiveFile(Put("p.jar", built.bytes));
  EXPECT_EQ(z.PrefixAdjustment(), 0);  // the directory itself stands where its size says
  std::vector<MemberInfo> m;
  EXPECT_EQ(ListAll(z, &m), kJarNames);
  for (size_t i = 0; i < m.size(); ++i) EXPECT_EQ(m[i].localHeaderPosition, built.localPositions[i]);
  EXPECT_TRUE(z.Errors().empty());
  std::vector<MemberResult> r;
  z.Test(&r);
  for (const auto& x : r) EXPECT_TRUE(x.ok) << x.info.name;
}

TEST_F(ReadOpen, UnadjustedPrefixFoundForTheManifestAloneToo) {
  // The first central entry (META-INF/) is not selected; the manifest is
  // still found at its corrected position.
  auto built = Build(JarMembers(), {.prefix = std::string(100, 'p'), .adjustOffsets = false});
  TUnJar z;
  z.SetArchiveFile(Put("p.jar", built.bytes));
  z.FileSpec = {"MANIFEST.MF"};
  TDecompMemoryStream s;
  EXPECT_EQ(z.ExtractToMemoryStream(&s), 1);
  ASSERT_EQ(s.Count(), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), size_t(s.EntryWritten(0))),
            JarMembers()[1].data);
}

TEST_F(ReadOpen, PrefixLongerThanOneWindowIsCorrectedFromTheDirectoryShift) {
  auto built = Build(JarMembers(), {.prefix = std::string(70000, 'p'), .adjustOffsets = false});
  TUnJar z;
  z.SetArchiveFile(Put("big.jar", built.bytes));
  std::vector<MemberInfo> m;
  EXPECT_EQ(ListAll(z, &m), kJarNames);
  EXPECT_EQ(m[2].localHeaderPosition, built.localPositions[2]);
  EXPECT_TRUE(z.Errors().empty());
}

TEST_F(ReadOpen, WrongDirectoryOffsetInTheEndRecordDoesNotMatter) {
  auto built = Build(JarMembers(), {.recordedDirectoryOffset = 0x7654321});
  TUnJar z;
  z.SetArchiveFile(Put("w.jar", built.bytes));
  EXPECT_EQ(ListAll(z), kJarNames);
  std::vector<MemberResult> r;
  EXPECT_EQ(z.Test(&r), 4);
  for (const auto& x : r) EXPECT_TRUE(x.ok) << x.info.name;
}

TEST_F(ReadOpen, LongCommentHidesTheEndRecordAndLocalHeadersAreWalked) {
  std::vector<Member> members = JarMembers();
  members[2].streamed = true;  // a streamed member in the walk: found by decoding it
  auto built = Build(members, {.comment = std::string(40000, 'c')});
  TUnJar z;
  z.SetArchiveFile(Put("c.jar", built.bytes));
  EXPECT_EQ(z.HeaderState(), HtBit(htLocal));
  std::vector<MemberInfo> m;
  EXPECT_EQ(ListAll(z, &m), kJarNames);
  EXPECT_EQ(m[2].uncompressedSize, 3004);
  EXPECT_EQ(m[2].crc32, testzip::Crc(members[2].data));
  std::vector<MemberResult> r;
  EXPECT_EQ(z.Test(&r), 4);
  for (const auto& x : r) EXPECT_TRUE(x.ok) << x.info.name;

  // A handler that keeps the Cancel flag set stops the walk.
  THeaderTypeState seen = 0;
  z.OnCorruptZipHeader = [&](TUnZip&, THeaderTypeState s, bool&) { seen = s; };
  EXPECT_EQ(ListAll(z), std::vector<std::string>{});
  EXPECT_EQ(seen, HtBit(htLocal));
  z.OnCorruptZipHeader = [](TUnZip&, THeaderTypeState, bool& cancel) { cancel = false; };
  EXPECT_EQ(ListAll(z), kJarNames);
}

TEST_F(ReadOpen, Zip64FieldsGiveSizesAndOffsets) {
  std::vector<Member> members = JarMembers();
  for (auto& m : members) m.zip64 = true;
  auto built = Build(members, {.prefix = std::string(10, 'p'), .adjustOffsets = false, .zip64End = true});
  TUnJar z;
  z.SetArchiveFile(Put("z64.jar", built.bytes));
  EXPECT_TRUE(z.HeaderState() & HtBit(htEnding64));
  EXPECT_TRUE(z.HeaderState() & HtBit(htLocator));
  std::vector<MemberInfo> m;
  EXPECT_EQ(ListAll(z, &m), kJarNames);
  EXPECT_EQ(m[2].uncompressedSize, 3004);
  EXPECT_EQ(m[3].localHeaderPosition, built.localPositions[3]);
  std::vector<MemberResult> r;
  z.Test(&r);
  for (const auto& x : r) EXPECT_TRUE(x.ok) << x.info.name;
  EXPECT_TRUE(z.Errors().empty());
}

TEST_F(ReadOpen, LocalHeaderMissingForOneMemberLeavesOnlyThatOneOut) {
  auto built = Build(JarMembers());
  // Break the signature of the third member's local header.
  built.bytes[size_t(built.localPositions[2]) + 1] = 'X';
  TUnJar z;
  z.SetArchiveFile(Put("bad.jar", built.bytes));
  EXPECT_EQ(ListAll(z), (std::vector<std::string>{"META-INF/", "META-INF/MANIFEST.MF", "LICENSE"}));
  EXPECT_EQ(Codes(z), std::vector<int>{kErrBadLocalOffset});
  EXPECT_EQ(z.Errors()[0].fileName, "a/b.class");
  // A test run reports it as a failed member, in its place.
  std::vector<MemberResult> r;
  z.Test(&r);
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[2].info.name, "a/b.class");
  EXPECT_FALSE(r[2].ok);
  EXPECT_TRUE(r[3].ok);
}

// Hostile layouts: each must give a result or an error, never a crash
// (the sanitizer build watches the reads) and never a huge allocation.
struct HostileCase {
  const char* what;
  std::function<void(std::vector<uint8_t>&, const testzip::Built&)> mutate;
};

class ReadHostile : public ReadOpen, public testing::WithParamInterface<HostileCase> {};

TEST_P(ReadHostile, GivesAResultOrAnError) {
  auto built = Build(JarMembers());
  std::vector<uint8_t> bytes = built.bytes;
  GetParam().mutate(bytes, built);
  const std::string path = Put("h.jar", bytes);
  TUnJar z;
  z.SetArchiveFile(path);
  ListAll(z);
  std::vector<MemberResult> r;
  z.Test(&r);
  TDecompMemoryStream s;
  z.FileSpec = {"*.*"};
  z.ExtractToMemoryStream(&s);
  EXPECT_LE(s.GetSize(), 16 * 1024 * 1024);
  for (int i = 0; i < s.Count(); ++i) EXPECT_LE(s.EntryWritten(i), s.EntrySize(i));
}

// Where the entry-th central header of the built archive starts.
size_t CentralAt(const std::vector<uint8_t>& b, const testzip::Built& built, int entry) {
  size_t pos = size_t(built.centralStart);
  for (int i = 0; i < entry; ++i) pos += 46 + GetLE16(&b[pos + 28]) + GetLE16(&b[pos + 30]) + GetLE16(&b[pos + 32]);
  return pos;
}

void SetCentral16(std::vector<uint8_t>& b, const testzip::Built& built, int entry, size_t field, uint16_t v) {
  PutLE16(&b[CentralAt(b, built, entry) + field], v);
}

void SetCentral32(std::vector<uint8_t>& b, const testzip::Built& built, int entry, size_t field, uint32_t v) {
  PutLE32(&b[CentralAt(b, built, entry) + field], v);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ReadHostile,
    testing::Values(
        HostileCase{"counts that lie", [](auto& b, auto& bl) { PutLE16(&b[size_t(bl.endPosition) + 10], 65535); }},
        HostileCase{"directory size past the start of the file",
                    [](auto& b, auto& bl) { PutLE32(&b[size_t(bl.endPosition) + 12], 0xFFFFFF00u); }},
        HostileCase{"zero-length directory", [](auto& b, auto& bl) { PutLE32(&b[size_t(bl.endPosition) + 12], 0); }},
        HostileCase{"name length past the end of the file",
                    [](auto& b, auto& bl) { SetCentral16(b, bl, 3, 28, 65535); }},
        HostileCase{"extra length past the end of the file",
                    [](auto& b, auto& bl) { SetCentral16(b, bl, 1, 30, 65535); }},
        HostileCase{"local header offset past the end",
                    [](auto& b, auto& bl) { SetCentral32(b, bl, 2, 42, 0xFFFFFFF0u); }},
        HostileCase{"sizes of 4 GiB for a small member",
                    [](auto& b, auto& bl) {
                      SetCentral32(b, bl, 2, 20, 0xFFFFFFF0u);
                      SetCentral32(b, bl, 2, 24, 0xFFFFFFF0u);
                    }},
        HostileCase{"uncompressed size 4 GiB, data intact",
                    [](auto& b, auto& bl) { SetCentral32(b, bl, 1, 24, 0xFFFFFFF0u); }},
        HostileCase{"stored member claiming more than the file",
                    [](auto& b, auto& bl) {
                      SetCentral32(b, bl, 3, 20, 0x7FFFFFFFu);
                      SetCentral32(b, bl, 3, 24, 0x7FFFFFFFu);
                    }},
        HostileCase{"compressed size smaller than the data",
                    [](auto& b, auto& bl) { SetCentral32(b, bl, 2, 20, 3); }},
        HostileCase{"truncated in the directory",
                    [](auto& b, auto& bl) { b.resize(size_t(bl.centralStart) + 60); }},
        HostileCase{"truncated in the data", [](auto& b, auto& bl) { b.resize(size_t(bl.localPositions[2]) + 50); }},
        HostileCase{"end record only half there", [](auto& b, auto& bl) { b.resize(size_t(bl.endPosition) + 10); }},
        HostileCase{"every byte of the directory zeroed",
                    [](auto& b, auto& bl) {
                      std::fill(b.begin() + bl.centralStart, b.begin() + bl.endPosition, 0);
                    }},
        HostileCase{"disk numbers that would loop",
                    [](auto& b, auto& bl) { PutLE16(&b[size_t(bl.endPosition) + 4], 65535); }},
        HostileCase{"deflate data of a member garbled",
                    [](auto& b, auto& bl) {
                      for (size_t i = 0; i < 40; ++i) b[size_t(bl.localPositions[2]) + 30 + 9 + i] ^= 0x5A;
                    }}));

TEST_F(ReadOpen, SixtyFiveThousandMembersWithLongNames) {
  // 65535 entries, one of them with a 65535-byte name (more than a file
  // name may hold, so extraction must fail for it, not crash).
  std::vector<Member> members;
  for (int i = 0; i < 65535; ++i) members.push_back({"d/" + std::to_string(i), ""});
  members[100].name = std::string(65535, 'n');
  auto built = Build(members);
  TUnZip z;
  z.SetArchiveFile(Put("many.zip", built.bytes));
  std::vector<MemberInfo> m;
  ListAll(z, &m);
  ASSERT_EQ(m.size(), 65535u);
  EXPECT_EQ(m[100].name.size(), 65535u);
  EXPECT_EQ(m[65534].name, "d/65534");
}

TEST_F(ReadOpen, EveryTruncationAndEveryBitFlipOfASmallArchive) {
  const auto good = Build({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nA: b\r\n", 8},
                           {"x.txt", "hello hello hello", 0, 0, 0, 0x50B16DAF, true}})
                        .bytes;
  for (size_t len = 0; len < good.size(); ++len) {
    TUnJar z;
    z.SetArchiveFile(Put("t.jar", std::vector<uint8_t>(good.begin(), good.begin() + len)));
    std::vector<MemberResult> r;
    z.Test(&r);
    for (const auto& x : r) EXPECT_LE(x.info.name.size(), good.size());
  }
  for (size_t i = 0; i < good.size(); ++i) {
    for (int bit = 0; bit < 8; bit += 3) {
      std::vector<uint8_t> b = good;
      b[i] ^= uint8_t(1 << bit);
      TUnJar z;
      z.SetArchiveFile(Put("f.jar", b));
      z.FileSpec = {"*.*"};
      TDecompMemoryStream s;
      z.ExtractToMemoryStream(&s);
      for (int k = 0; k < s.Count(); ++k) EXPECT_LE(s.EntryWritten(k), s.EntrySize(k));
    }
  }
}

}  // namespace
}  // namespace parcelix
