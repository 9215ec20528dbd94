// The update of existing archives: old entries copied as they are, in place replacement, new entries first, deletion.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include <fcntl.h>
#include <sys/stat.h>

#include "engine/read/Err_Msgs.h"
#include "engine/read/arxUnZip.h"
#include "engine/write/arxZip.h"
#include "tests/engine/write_TestSupport.h"

namespace parcelix {
namespace {

using writetest::ReadFile;
using writetest::ScratchDir;
using writetest::TempFilesIn;
using writetest::WriteFile;

std::string Fixture(const std::string& name) { return std::string(PARCELIX_TEST_DATA) + "/write/" + name; }

using RawArchive = writetest::ZipProbe;

std::vector<std::string> NamesOf(const RawArchive& a) { return a.Names(); }
const writetest::ProbeEntry* FindMember(const RawArchive& a, const std::string& name) { return a.Find(name); }
RawArchive ReadRaw(const std::string& path) { return RawArchive(path); }

const char kNewManifest[] = "Manifest-Version: 1.0\r\nMIDlet-Name: New Name\r\nMIDlet-Version: 2.0\r\n\r\n";

// The manifest save: one new META-INF/MANIFEST.MF into an existing JAR.
int SaveManifest(const ScratchDir& d, const std::string& jarPath, std::vector<int>* codes = nullptr) {
  WriteFile(d / "new/META-INF/MANIFEST.MF", kNewManifest);
  TJar jar;
  jar.StoreEmptySubDirs = true;
  jar.ReplaceInPlace = true;
  jar.AddNewFirst = true;
  jar.FileSpec = {d / "new/*.*"};
  jar.SetArchiveFile(jarPath);
  jar.SetTempDir(d / "tmp");
  const int r = jar.Compress();
  if (codes)
    for (const auto& e : jar.Errors()) codes->push_back(e.code);
  return r;
}

struct FixtureCase {
  const char* file;
  bool hadManifest;
};

void PrintTo(const FixtureCase& c, std::ostream* os) { *os << c.file; }

class ManifestSave : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(ManifestSave, EveryOtherMemberIsCopiedByteForByteInItsOrder) {
  const FixtureCase& c = GetParam();
  ScratchDir d;
  const std::string jarPath = d / "game.jar";
  writetest::fs::copy_file(Fixture(c.file), jarPath);
  const RawArchive before = ReadRaw(jarPath);
  ASSERT_TRUE(before.ok);

  std::vector<int> codes;
  ASSERT_EQ(SaveManifest(d, jarPath, &codes), 1);
  EXPECT_TRUE(codes.empty());
  EXPECT_EQ(TempFilesIn(d / "tmp"), 0);

  const RawArchive after = ReadRaw(jarPath);
  ASSERT_TRUE(after.ok);
  EXPECT_TRUE(after.exact) << "offsets count from the start of the file";
  // Same names in the same order; a manifest that was missing comes first.
  auto expected = NamesOf(before);
  if (!c.hadManifest) expected.insert(expected.begin(), "META-INF/MANIFEST.MF");
  EXPECT_EQ(NamesOf(after), expected);
  for (const auto& old : before.entries) {
    if (old.name == "META-INF/MANIFEST.MF") continue;
    const writetest::ProbeEntry* now = FindMember(after, old.name);
    ASSERT_NE(now, nullptr) << old.name;
    EXPECT_EQ(now->segment, old.segment) << old.name << ": local header, data and descriptor";
    EXPECT_EQ(now->central, old.central) << old.name << ": central record apart from the offset";
  }
  EXPECT_EQ(after.prefix, before.prefix) << "a stub in front stays";
  EXPECT_EQ(after.comment, before.comment);

  // Independent tools accept the result (each check only where the tool exists).
  const std::string q = "'" + jarPath + "'";
  const std::pair<const char*, std::string> tools[] = {
      {"unzip", "unzip -tqq " + q},
      {"7z", "7z t " + q},
      {"python3", "python3 -c 'import sys,zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' " + q}};
  for (const auto& [tool, command] : tools) {
    if (std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0) {
      EXPECT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
    }
  }

  // Our reader decodes every member and finds the new manifest.
  TUnJar reader;
  reader.SetArchiveFile(jarPath);
  reader.FileSpec = {"*.*"};
  std::vector<MemberResult> results;
  reader.Test(&results);
  ASSERT_EQ(results.size(), expected.size());
  for (const auto& r : results) EXPECT_TRUE(r.ok) << r.info.name;
  TDecompMemoryStream mem;
  reader.FileSpec = {"META-INF/MANIFEST.MF"};
  ASSERT_EQ(reader.ExtractToMemoryStream(&mem), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mem.Memory()) + mem.EntryPosition(0), size_t(mem.EntrySize(0))),
            kNewManifest);
}

INSTANTIATE_TEST_SUITE_P(Update, ManifestSave,
                         ::testing::Values(FixtureCase{"jar_descriptors.jar", true},
                                           FixtureCase{"infozip_noman.zip", false},
                                           FixtureCase{"pystream_zip64.zip", true},
                                           FixtureCase{"prefixed_comment.zip", true},
                                           FixtureCase{"prefixed_adjusted.zip", true},
                                           FixtureCase{"zip64_offsets.zip", true},
                                           FixtureCase{"far_apart.zip", true}));

TEST(Update, WithoutReplaceInPlaceAChangedFileNeedsItsHandler) {
  ScratchDir d;
  writetest::fs::copy_file(Fixture("jar_descriptors.jar"), d / "game.jar");
  const auto before = ReadFile(d / "game.jar");
  WriteFile(d / "new/META-INF/MANIFEST.MF", kNewManifest);
  TJar jar;
  jar.FileSpec = {d / "new/*.*"};
  jar.SetArchiveFile(d / "game.jar");
  jar.SetTempDir(d / "tmp");
  EXPECT_EQ(jar.Compress(), 0);
  std::vector<int> codes;
  for (const auto& e : jar.Errors()) codes.push_back(e.code);
  EXPECT_EQ(codes, (std::vector<int>{kErrEventNotAssigned, kErrNothingToDo}));
  EXPECT_EQ(ReadFile(d / "game.jar"), before);

  // With a handler that says replace, the old entry goes and the file is added at the end.
  jar.OnReplaceFile = [](TCustomCClass&, const std::string&, const std::string&, uint32_t, uint32_t, int64_t, int64_t,
                         uint32_t, uint32_t, bool& replace) { replace = true; };
  jar.SetArchiveFile(d / "game.jar");
  EXPECT_EQ(jar.Compress(), 1);
  const RawArchive after = ReadRaw(d / "game.jar");
  ASSERT_TRUE(after.ok);
  const auto names = NamesOf(after);
  EXPECT_EQ(names.back(), "META-INF/MANIFEST.MF");
  EXPECT_EQ(std::count(names.begin(), names.end(), "META-INF/MANIFEST.MF"), 1);
}

TEST(Update, NewFilesAreAppendedAndTheOldOnesKept) {
  ScratchDir d;
  writetest::fs::copy_file(Fixture("infozip_noman.zip"), d / "a.zip");
  const RawArchive before = ReadRaw(d / "a.zip");
  WriteFile(d / "add/extra/readme.txt", "added later");
  TZip zip;
  zip.FileSpec = {d / "add/*.*"};
  zip.SetArchiveFile(d / "a.zip");
  zip.SetTempDir(d / "tmp");
  EXPECT_EQ(zip.Compress(), 1);
  const RawArchive after = ReadRaw(d / "a.zip");
  auto expected = NamesOf(before);
  expected.push_back("extra/readme.txt");
  EXPECT_EQ(NamesOf(after), expected);
}

TEST(Update, DeletionByMaskAndDeletionOfEverything) {
  ScratchDir d;
  writetest::fs::copy_file(Fixture("infozip_noman.zip"), d / "a.zip");
  const RawArchive before = ReadRaw(d / "a.zip");
  TZip zip;
  std::vector<std::string> deleted;
  zip.OnDeleteFile = [&](TCustomCClass&, const std::string& f, int count, int max) {
    deleted.push_back(f);
    EXPECT_LE(count, max);
  };
  zip.Switch = swDelete;
  zip.FileSpec = {"*.txt"};
  zip.SetArchiveFile(d / "a.zip");
  zip.SetTempDir(d / "tmp");
  const int removed = zip.Compress();
  EXPECT_EQ(removed, int(deleted.size()));
  EXPECT_GE(removed, 2);
  const RawArchive after = ReadRaw(d / "a.zip");
  for (const auto& m : after.entries) EXPECT_EQ(m.name.find(".txt"), std::string::npos) << m.name;
  EXPECT_EQ(after.entries.size() + size_t(removed), before.entries.size());

  zip.FileSpec = {"*.*"};
  zip.SetArchiveFile(d / "a.zip");
  EXPECT_EQ(zip.Compress(), int(after.entries.size()));
  const auto empty = ReadFile(d / "a.zip");
  ASSERT_EQ(empty.size(), 22u);
  EXPECT_EQ(GetLE32(empty.data()), 0x06054B50u);
}

TEST(Update, RefreshReplacesOnlyNewerFiles) {
  ScratchDir d;
  WriteFile(d / "t/a.txt", "version 1");
  WriteFile(d / "t/b.txt", "unchanged");
  TJar jar;
  jar.FileSpec = {d / "t/*.*"};
  jar.SetArchiveFile(d / "x.jar");
  jar.SetTempDir(d / "tmp");
  ASSERT_EQ(jar.Compress(), 2);
  const RawArchive first = ReadRaw(d / "x.jar");
  WriteFile(d / "t/a.txt", "version 2, longer");
  const std::time_t later = std::time(nullptr) + 10;
  struct timespec times[2] = {{later, 0}, {later, 0}};
  ::utimensat(AT_FDCWD, (d / "t/a.txt").c_str(), times, 0);
  WriteFile(d / "t/c.txt", "not in the archive");
  jar.Switch = swRefresh;
  jar.SetArchiveFile(d / "x.jar");
  EXPECT_EQ(jar.Compress(), 1);
  const RawArchive second = ReadRaw(d / "x.jar");
  EXPECT_EQ(NamesOf(second), NamesOf(first));
  EXPECT_NE(FindMember(second, "a.txt")->segment, FindMember(first, "a.txt")->segment);
  EXPECT_EQ(FindMember(second, "b.txt")->segment, FindMember(first, "b.txt")->segment);
}

TEST(Update, MoveDeletesTheSourcesOnlyAfterTheCommit) {
  ScratchDir d;
  WriteFile(d / "t/a.txt", "a");
  WriteFile(d / "t/b.txt", "b");
  TJar jar;
  jar.Switch = swMove;
  jar.DeleteOptions = doFinal;
  jar.FileSpec = {d / "t/*.*"};
  jar.SetArchiveFile(d / "x.jar");
  jar.SetTempDir(d / "tmp");
  int deletions = 0;
  jar.OnDeleteFile = [&](TCustomCClass&, const std::string&, int, int) { ++deletions; };
  EXPECT_EQ(jar.Compress(), 2);
  EXPECT_EQ(deletions, 2);
  EXPECT_FALSE(writetest::fs::exists(d / "t/a.txt"));
  EXPECT_EQ(ReadRaw(d / "x.jar").entries.size(), 2u);

  // A run that cannot commit deletes nothing.
  WriteFile(d / "u/c.txt", "c");
  jar.FileSpec = {d / "u/*.*"};
  jar.CreateNew = true;
  jar.SetArchiveFile(d / "x.jar");
  jar.OnTmpFileMoveBegin = [](TCustomCClass&, const std::string&, const std::string&, bool& cancel) { cancel = true; };
  EXPECT_EQ(jar.Compress(), 0);
  EXPECT_TRUE(writetest::fs::exists(d / "u/c.txt"));
}

TEST(Update, ADamagedOrForeignArchiveIsNeverReplaced) {
  ScratchDir d;
  // Not an archive at all.
  WriteFile(d / "notes.jar", "just text, no archive");
  EXPECT_EQ(SaveManifest(d, d / "notes.jar"), 0);
  EXPECT_EQ(ReadFile(d / "notes.jar").size(), 21u);
  // An entry whose data runs past the end of the file.
  auto bytes = ReadFile(Fixture("infozip_noman.zip"));
  const RawArchive raw = ReadRaw(Fixture("infozip_noman.zip"));
  ASSERT_TRUE(raw.ok);
  // Raise the compressed size of the first central record far beyond the file.
  const size_t cd = bytes.size() - 22 - 0 - GetLE32(&bytes[bytes.size() - 22 + 12]);
  PutLE32(&bytes[cd + 20], 0x00FFFFFF);
  WriteFile(d / "bad.jar", bytes);
  std::vector<int> codes;
  EXPECT_EQ(SaveManifest(d, d / "bad.jar", &codes), 0);
  EXPECT_FALSE(codes.empty());
  EXPECT_EQ(ReadFile(d / "bad.jar"), bytes);
  EXPECT_EQ(TempFilesIn(d / "tmp"), 0);
}

}  // namespace
}  // namespace parcelix
