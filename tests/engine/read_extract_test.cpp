// Extraction: the memory stream and its index, files under ExtractDir, the
// end-of-member check, unsafe names and links, limits, disk full, test mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/common/arxGbls.h"
#include "engine/read/arxUnZip.h"
#include "read_zipbuilder.h"

namespace parcelix {
namespace {

using testzip::Build;
using testzip::Layout;
using testzip::Member;

const std::string kManifest = "Manifest-Version: 1.0\r\nMIDlet-Name: Game\r\n\r\n";

std::vector<Member> Jar() {
  return {{"META-INF/", ""}, {"META-INF/MANIFEST.MF", kManifest, 8}, {"a/b.class", std::string(70000, 'q'), 8}};
}

class ReadExtract : public testzip::Scratch {
 protected:
  std::vector<int> Codes(const TUnZip& z) {
    std::vector<int> codes;
    for (const auto& e : z.Errors()) codes.push_back(e.code);
    return codes;
  }
  std::string Bytes(TDecompMemoryStream& s, int i) {
    return std::string(reinterpret_cast<const char*>(s.Memory()) + s.EntryPosition(i), size_t(s.EntryWritten(i)));
  }
  bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
  }
};

TEST_F(ReadExtract, ManifestIntoMemoryWithItsIndexEntry) {
  TUnJar z;
  z.SetArchiveFile(Put("g.jar", Build(Jar()).bytes));
  z.FileSpec = {"MANIFEST.MF"};
  TDecompMemoryStream s;
  EXPECT_EQ(z.ExtractToMemoryStream(&s), 1);
  ASSERT_EQ(s.Count(), 1);
  EXPECT_EQ(s.EntrySize(0), int64_t(kManifest.size()));
  EXPECT_EQ(s.EntryWritten(0), int64_t(kManifest.size()));
  EXPECT_EQ(s.EntryPosition(0), 0);
  EXPECT_EQ(s.EntryName(0), "META-INF\\MANIFEST.MF");
  EXPECT_EQ(s.Position(), int64_t(kManifest.size()));
  EXPECT_EQ(Bytes(s, 0), kManifest);

  // A second run appends after the first member; nothing is cleared.
  EXPECT_EQ(z.ExtractToMemoryStream(&s), 1);
  ASSERT_EQ(s.Count(), 2);
  EXPECT_EQ(s.EntryPosition(1), int64_t(kManifest.size()));
  EXPECT_EQ(Bytes(s, 1), kManifest);
  s.Clear();
  EXPECT_EQ(s.Count(), 0);
  EXPECT_EQ(s.GetSize(), 0);
}

TEST_F(ReadExtract, TwoManifestsInDirectoryOrder) {
  auto members = Jar();
  members.insert(members.begin(), {"x/MANIFEST.MF", "other", 0});
  TUnJar z;
  z.SetArchiveFile(Put("g.jar", Build(members).bytes));
  z.FileSpec = {"MANIFEST.MF"};
  TDecompMemoryStream s;
  EXPECT_EQ(z.ExtractToMemoryStream(&s), 2);
  ASSERT_EQ(s.Count(), 2);
  EXPECT_EQ(s.EntryName(0), "x\\MANIFEST.MF");
  EXPECT_EQ(Bytes(s, 0), "other");
  EXPECT_EQ(Bytes(s, 1), kManifest);
}

TEST_F(ReadExtract, MissingStreamIsReported) {
  TUnJar z;
  z.SetArchiveFile(Put("g.jar", Build(Jar()).bytes));
  EXPECT_EQ(z.ExtractToMemoryStream(nullptr), 0);
  EXPECT_EQ(Codes(z), std::vector<int>{kErrStreamNil});
}

TEST_F(ReadExtract, MemoryModeRefusesMembersAboveTheLimit) {
  auto members = Jar();
  members.push_back({"big.bin", std::string(200000, 'b'), 8});
  TUnJar z;
  z.SetArchiveFile(Put("g.jar", Build(members).bytes));
  z.FileSpec = {"*.*"};
  z.MaxMemoryMemberSize = 100000;
  TDecompMemoryStream s;
  EXPECT_EQ(z.ExtractToMemoryStream(&s), 3);  // the directory, the manifest, the class
  EXPECT_EQ(s.Count(), 2);
  EXPECT_EQ(Codes(z), std::vector<int>{kErrMaxFileSize});
  EXPECT_EQ(z.Errors()[0].fileName, "big.bin");
  EXPECT_LT(s.Capacity(), 100000 + 70000 + 16384);

  // A manifest whose header claims 4 GiB is refused before anything grows.
  auto bomb = Jar();
  bomb[1].usize = 0xFFFFFFF0u;
  z.SetArchiveFile(Put("bomb.jar", Build(bomb).bytes));
  z.FileSpec = {"MANIFEST.MF"};
  z.MaxMemoryMemberSize = 16 * 1024 * 1024;
  s.Clear();
  EXPECT_EQ(z.ExtractToMemoryStream(&s), 0);
  EXPECT_EQ(s.Count(), 0);
  EXPECT_EQ(Codes(z), std::vector<int>{kErrMaxFileSize});

  // Without a limit the member is decoded, and only what the data hold is
  // written: the index tells the bytes written apart from the claimed size.
  z.MaxMemoryMemberSize = 0;
  EXPECT_EQ(z.ExtractToMemoryStream(&s), 1);
  ASSERT_EQ(s.Count(), 1);
  EXPECT_EQ(s.EntrySize(0), 0xFFFFFFF0);
  EXPECT_EQ(s.EntryWritten(0), int64_t(kManifest.size()));
  EXPECT_EQ(Codes(z), std::vector<int>{kErrCrcCheck});
}

TEST_F(ReadExtract, StoredMemberNeverGrowsPastItsRecordedSize) {
  std::vector<Member> members = {{"a.txt", std::string(5000, 'a')}};
  members[0].usize = 10;
  TUnZip z;
  z.SetArchiveFile(Put("s.zip", Build(members).bytes));
  z.FileSpec = {"*.*"};
  TDecompMemoryStream s;
  z.ExtractToMemoryStream(&s);
  ASSERT_EQ(s.Count(), 1);
  EXPECT_EQ(s.EntryWritten(0), 10);
  EXPECT_EQ(s.GetSize(), 10);
}

TEST_F(ReadExtract, FilesLandUnderExtractDirWithTheirDates) {
  TUnJar z;
  z.SetArchiveFile(Put("g.jar", Build(Jar()).bytes));
  z.FileSpec = {"*.*"};
  z.SetExtractDir(dir_ + "out");
  EXPECT_EQ(z.ExtractDir(), dir_ + "out/");
  std::vector<std::pair<std::string, bool>> ends;
  z.OnEnd = [&](TUnZip&, const std::string& f, bool pass) { ends.emplace_back(f, pass); };
  EXPECT_EQ(z.Extract(), 3);  // a JAR's directory member passes the pre-check as a file would
  EXPECT_EQ(Slurp(dir_ + "out/META-INF/MANIFEST.MF"), kManifest);
  EXPECT_EQ(Slurp(dir_ + "out/a/b.class"), std::string(70000, 'q'));
  ASSERT_EQ(ends.size(), 3u);
  EXPECT_EQ(ends[1].first, dir_ + "out/META-INF/MANIFEST.MF");
  for (const auto& e : ends) EXPECT_TRUE(e.second) << e.first;
  struct stat st;
  ASSERT_EQ(::stat((dir_ + "out/a/b.class").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, DosDateTimeToUnix(0x50B16DAF));
  EXPECT_TRUE(z.Errors().empty());

  // An existing file is replaced without any event.
  { std::ofstream(dir_ + "out/META-INF/MANIFEST.MF") << "old and longer than the new one........................"; }
  z.FileSpec = {"MANIFEST.MF"};
  EXPECT_EQ(z.Extract(), 1);
  EXPECT_EQ(Slurp(dir_ + "out/META-INF/MANIFEST.MF"), kManifest);
}

TEST_F(ReadExtract, DirectoryMembersCreateNothingUnlessAsked) {
  std::vector<Member> members = {{"empty/", ""}, {"f.txt", "x"}};
  TUnZip z;
  z.SetArchiveFile(Put("d.zip", Build(members).bytes));
  z.FileSpec = {"*.*"};
  z.SetExtractDir(dir_ + "o1");
  z.Extract();
  EXPECT_FALSE(Exists(dir_ + "o1/empty"));
  EXPECT_TRUE(Exists(dir_ + "o1/f.txt"));
  z.CreateStoredDirs = true;
  z.SetExtractDir(dir_ + "o2");
  z.Extract();
  EXPECT_TRUE(DirectoryExists(dir_ + "o2/empty"));
  EXPECT_TRUE(z.Errors().empty());
}

TEST_F(ReadExtract, UnsupportedMethodLeavesAnEmptyFile) {
  std::vector<Member> members = {{"m12.bin", "compressed by something else", 12}, {"ok.txt", "fine"}};
  TUnZip z;
  z.SetArchiveFile(Put("u.zip", Build(members).bytes));
  z.FileSpec = {"*.*"};
  z.SetExtractDir(dir_ + "o");
  z.Extract();
  EXPECT_TRUE(Exists(dir_ + "o/m12.bin"));
  EXPECT_EQ(Slurp(dir_ + "o/m12.bin"), "");
  EXPECT_EQ(Slurp(dir_ + "o/ok.txt"), "fine");
  EXPECT_EQ(Codes(z), (std::vector<int>{kErrUnsupportedMethod, kErrCrcCheck}));
}

TEST_F(ReadExtract, CrcChecksAgainstTheDirectoryWhenTheLocalCrcIsZero) {
  std::vector<Member> members = {{"s.txt", "streamed data", 8, 0, 0, 0x50B16DAF, true},
                                 {"empty.txt", "", 8, 0, 0, 0x50B16DAF, true},
                                 {"bad.txt", "the data differ from the CRC", 0}};
  members[2].crc = 0x12345678;
  TUnZip z;
  z.SetArchiveFile(Put("c.zip", Build(members).bytes));
  z.FileSpec = {"*.*"};
  std::vector<MemberResult> r;
  EXPECT_EQ(z.Test(&r), 3);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_TRUE(r[0].ok);
  EXPECT_TRUE(r[1].ok);
  EXPECT_FALSE(r[2].ok);
  EXPECT_EQ(Codes(z), std::vector<int>{kErrCrcCheck});
  // With OnEnd assigned the outcome goes there instead of the error report.
  std::vector<bool> passes;
  z.OnEnd = [&](TUnZip&, const std::string&, bool pass) { passes.push_back(pass); };
  z.Test(&r);
  EXPECT_EQ(passes, (std::vector<bool>{true, true, false}));
  EXPECT_TRUE(z.Errors().empty());
}

struct UnsafeName {
  const char* name;
};

class ReadUnsafeNames : public ReadExtract, public testing::WithParamInterface<UnsafeName> {};

TEST_P(ReadUnsafeNames, AreNeverWrittenAndTheRestIs) {
  std::vector<Member> members = {{GetParam().name, "evil"}, {"good.txt", "good"}};
  TUnZip z;
  z.SetArchiveFile(Put("e.zip", Build(members).bytes));
  z.FileSpec = {"*.*"};
  z.SetExtractDir(dir_ + "in/deep");
  EXPECT_EQ(z.Extract(), 1);
  EXPECT_EQ(Slurp(dir_ + "in/deep/good.txt"), "good");
  EXPECT_EQ(Codes(z), std::vector<int>{kErrInvalidName});
  EXPECT_FALSE(Exists(dir_ + "evil"));
  EXPECT_FALSE(Exists(dir_ + "in/evil"));
  EXPECT_FALSE(Exists("/tmp/parcelix-evil"));
  // Memory mode has no paths: the same member is read there.
  TDecompMemoryStream s;
  EXPECT_EQ(z.ExtractToMemoryStream(&s), 2);
}

INSTANTIATE_TEST_SUITE_P(Names, ReadUnsafeNames,
                         testing::Values(UnsafeName{"../evil"}, UnsafeName{"../../evil"}, UnsafeName{"a/../../evil"},
                                         UnsafeName{"..\\..\\evil"}, UnsafeName{"/tmp/parcelix-evil"},
                                         UnsafeName{"\\tmp\\parcelix-evil"}, UnsafeName{"C:/evil"},
                                         UnsafeName{"c:evil"}, UnsafeName{".."}));

TEST_F(ReadExtract, NameWithANulIsRefused) {
  std::vector<Member> members = {{std::string("..\0x", 4), "evil"}, {"good.txt", "good"}};
  TUnZip z;
  z.TranslateOemChar = false;
  z.SetArchiveFile(Put("n.zip", Build(members).bytes));
  z.FileSpec = {"*.*"};
  z.SetExtractDir(dir_ + "in/deep");
  EXPECT_EQ(z.Extract(), 1);
  EXPECT_EQ(Codes(z), std::vector<int>{kErrInvalidName});
  EXPECT_FALSE(Exists(dir_ + "in/x"));
}

TEST_F(ReadExtract, SymbolicLinksInTheTargetAreNotFollowed) {
  ASSERT_TRUE(ForceDirectories(dir_ + "out"));
  ASSERT_TRUE(ForceDirectories(dir_ + "outside"));
  ASSERT_EQ(::symlink((dir_ + "outside").c_str(), (dir_ + "out/link").c_str()), 0);
  ASSERT_EQ(::symlink((dir_ + "outside/victim").c_str(), (dir_ + "out/file").c_str()), 0);
  std::vector<Member> members = {{"link/planted.txt", "through a directory link"},
                                 {"file", "through a file link"},
                                 {"fine/x.txt", "fine"}};
  TUnZip z;
  z.SetArchiveFile(Put("l.zip", Build(members).bytes));
  z.FileSpec = {"*.*"};
  z.SetExtractDir(dir_ + "out");
  z.Extract();
  EXPECT_FALSE(Exists(dir_ + "outside/planted.txt"));
  EXPECT_FALSE(Exists(dir_ + "outside/victim"));
  EXPECT_EQ(Slurp(dir_ + "out/fine/x.txt"), "fine");
  EXPECT_EQ(Codes(z), (std::vector<int>{kErrOpenFile, kErrOpenFile}));
}

TEST_F(ReadExtract, DiskFullRaisesAfterReporting) {
  if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TUnZip z;
  z.SetArchiveFile(Put("f.zip", Build({{"a.bin", std::string(100000, 'a'), 8}}).bytes));
  z.FileSpec = {"*.*"};
  z.SetExtractDir(dir_ + "o");
  // The program's own handlers may name any target: here a full disk.
  z.OnRenameFile = [](TUnZip&, const std::string&, std::string& n) { n = "/dev/full"; };
  z.OnBegin = [](TUnZip&, const std::string&, int, bool&) {};
  std::vector<int> seen;
  z.OnError = [&](TZipCommon&, const std::string&, const std::string&, const std::string&, int code) {
    seen.push_back(code);
  };
  try {
    z.Extract();
    FAIL() << "no exception";
  } catch (const E_RAISE& e) {
    EXPECT_EQ(e.code(), kErrDiskFull);
    EXPECT_STREQ(e.what(), "Disk full");
  }
  EXPECT_EQ(seen, std::vector<int>{kErrDiskFull});
}

TEST_F(ReadExtract, CancelTurnsLaterReportsIntoUserCanceled) {
  std::vector<Member> members = {{"a.bin", "x", 12}, {"b.bin", "y", 12}};
  TUnZip z;
  z.SetArchiveFile(Put("x.zip", Build(members).bytes));
  z.FileSpec = {"*.*"};
  std::vector<int> seen;
  z.OnError = [&](TZipCommon& sender, const std::string&, const std::string&, const std::string&, int code) {
    seen.push_back(code);
    if (seen.size() == 1) sender.SetCancel(true);
  };
  z.Test();
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[0], kErrUnsupportedMethod);
  EXPECT_EQ(seen[1], kErrUserCanceled);
}

TEST_F(ReadExtract, EventsAroundTheRun) {
  TUnJar z;
  z.SetArchiveFile(Put("g.jar", Build(Jar()).bytes));
  z.FileSpec = {"*.*"};
  std::vector<std::string> log;
  z.OnActivate = [&](TZipCommon&) { log.push_back("activate"); };
  z.OnDeactivate = [&](TZipCommon&) { log.push_back("deactivate"); };
  z.OnBegin = [&](TUnZip&, const std::string& f, int n, bool& extract) {
    log.push_back("begin " + f + " " + std::to_string(n));
    extract = f != "a\\b.class";
  };
  int progress = 0;
  uint8_t last = 0;
  z.OnProgress = [&](TZipCommon&, uint8_t, uint8_t archive) {
    ++progress;
    EXPECT_GE(archive, last);
    last = archive;
  };
  TDecompMemoryStream s;
  EXPECT_EQ(z.ExtractToMemoryStream(&s), 2);
  EXPECT_EQ(log, (std::vector<std::string>{"activate", "begin META-INF\\ 1", "begin META-INF\\MANIFEST.MF 2",
                                           "begin a\\b.class 3", "deactivate"}));
  EXPECT_GT(progress, 0);
  EXPECT_EQ(last, 100);
}

TEST_F(ReadExtract, OverwriteSkipKeepsExistingFilesOnly) {
  ASSERT_TRUE(ForceDirectories(dir_ + "o"));
  { std::ofstream(dir_ + "o/keep.txt") << "mine"; }
  TUnZip z;
  z.SetArchiveFile(Put("o.zip", Build({{"keep.txt", "theirs"}, {"new.txt", "new"}}).bytes));
  z.FileSpec = {"*.*"};
  z.SetExtractDir(dir_ + "o");
  z.OverwriteMode = omSkip;
  EXPECT_EQ(z.Extract(), 1);
  EXPECT_EQ(Slurp(dir_ + "o/keep.txt"), "mine");
  EXPECT_EQ(Slurp(dir_ + "o/new.txt"), "new");

  // Asking first without a handler: reported, skipped.
  z.OverwriteMode = omOverwrite;
  z.ConfirmOverwrites = true;
  EXPECT_EQ(z.Extract(), 0);
  EXPECT_EQ(Codes(z), (std::vector<int>{kErrEventNotAssigned, kErrEventNotAssigned}));
  EXPECT_EQ(z.Errors()[0].extendedMsg, "OnFileExists");
  // A handler that picks another name.
  z.OnFileExists = [&](TUnZip&, const std::string& f, std::string& n, TOverwriteMode&) { n = f + ".2"; };
  EXPECT_EQ(z.Extract(), 2);
  EXPECT_EQ(Slurp(dir_ + "o/keep.txt"), "mine");
  EXPECT_EQ(Slurp(dir_ + "o/keep.txt.2"), "theirs");
}

TEST_F(ReadExtract, EncipheredMembersAreSkipped) {
  std::vector<Member> members = {{"secret.txt", std::string(12, 'h') + "ciphertext", 0, kFlagEncrypted},
                                 {"plain.txt", "plain"}};
  TUnZip z;
  z.SetArchiveFile(Put("e.zip", Build(members).bytes));
  z.FileSpec = {"*.*"};
  std::vector<MemberResult> r;
  EXPECT_EQ(z.Test(&r), 1);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_FALSE(r[0].ok);
  EXPECT_TRUE(r[1].ok);
  ASSERT_FALSE(z.Errors().empty());
  EXPECT_EQ(z.Errors()[0].code, kErrEventNotAssigned);
  EXPECT_EQ(z.Errors()[0].extendedMsg, "OnGetPassword");
}

// Files are decoded ahead on a worker while this thread writes them: the
// files, the reports and their order are those of a test run over the same
// archive, whatever mix of good, damaged, large and skipped members it holds.
TEST_F(ReadExtract, DecodingAheadKeepsFilesAndReportsInOrder) {
  std::vector<Member> members;
  for (int i = 0; i < 60; ++i) {
    Member m{"d" + std::to_string(i % 4) + "/m" + std::to_string(i) + ".bin",
             std::string(size_t(500 + i * 997), char('a' + i % 26)) + std::to_string(i), uint16_t(i % 3 ? 8 : 0)};
    if (i == 10) m.crc = 0x12345678;                         // fails its CRC
    if (i == 20) m.method = 12;                              // no decoder
    if (i == 30) m.flags = kFlagEncrypted;                   // skipped with one report
    if (i == 40) m.usize = uint32_t(m.data.size() + 5);      // decodes short
    if (i == 50) m.data = std::string(1536 * 1024, 'L');     // above what is decoded ahead
    members.push_back(m);
  }
  const std::string zip = Put("many.zip", Build(members).bytes);
  auto names = [](const TUnZip& z) {
    std::vector<std::string> v;
    for (const auto& e : z.Errors()) v.push_back(ExtractFileName(e.fileName) + ":" + std::to_string(e.code));
    return v;
  };
  TUnZip tested;
  tested.SetArchiveFile(zip);
  tested.FileSpec = {"*.*"};
  tested.Test();
  TUnZip z;
  z.SetArchiveFile(zip);
  z.FileSpec = {"*.*"};
  z.SetExtractDir(dir_ + "o");
  std::vector<int> progress;
  z.OnProgress = [&](TZipCommon&, uint8_t, uint8_t total) { progress.push_back(total); };
  z.Extract();
  EXPECT_EQ(names(z), names(tested));
  EXPECT_EQ(Codes(z), (std::vector<int>{kErrCrcCheck, kErrUnsupportedMethod, kErrCrcCheck, kErrEventNotAssigned,
                                        kErrCrcCheck}));
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  for (int i : {0, 1, 2, 9, 11, 39, 50, 59})
    EXPECT_EQ(Slurp(dir_ + "o/" + members[size_t(i)].name), members[size_t(i)].data) << i;
}

}  // namespace
}  // namespace parcelix
