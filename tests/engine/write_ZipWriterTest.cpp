// The ZIP writer on new archives: stored or deflated, header fields, names, directories, failures.
#include <gtest/gtest.h>

#include <csignal>
#include <set>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/common/arxGbls.h"
#include "engine/read/Err_Msgs.h"
#include "engine/write/arxZip.h"
#include "tests/engine/codec_TestSupport.h"
#include "tests/engine/write_TestSupport.h"

namespace parcelix {
namespace {

using writetest::NoiseBytes;
using writetest::ProbeEntry;
using writetest::ReadFile;
using writetest::ScratchDir;
using writetest::TempFilesIn;
using writetest::WriteFile;
using writetest::ZipProbe;

std::set<std::string> NameSet(const ZipProbe& z) {
  const auto names = z.Names();
  return {names.begin(), names.end()};
}

std::vector<int> Codes(const TZipCommon& c) {
  std::vector<int> out;
  for (const auto& e : c.Errors()) out.push_back(e.code);
  return out;
}

// A JAR of the tree under d/"t", written to d/"out.jar" with a temporary
// directory of its own.
struct Built {
  int result = 0;
  std::vector<int> codes;
};

Built BuildJar(const ScratchDir& d, const std::function<void(TJar&)>& setup = {}) {
  TJar jar;
  jar.StoreEmptySubDirs = true;
  jar.FileSpec = {d / "t/*.*"};
  jar.SetArchiveFile(d / "out.jar");
  jar.SetTempDir(d / "tmp");
  if (setup) setup(jar);
  Built b;
  b.result = jar.Compress();
  b.codes = Codes(jar);
  return b;
}

// The content whose raw Deflate at level 6 takes exactly 256 bytes.
std::vector<uint8_t> DeflatesToExactly256() {
  for (size_t k = 200; k <= 256; ++k) {
    auto data = NoiseBytes(k, 12345);
    data.resize(256, 0);
    if (codectest::ZlibRawDeflate(data, 6).size() == 256) return data;
  }
  ADD_FAILURE() << "no content found that deflates to 256 bytes";
  return {};
}

// ---------------------------------------------------------------------------
// Stored or deflated

struct MethodCase {
  const char* what;
  std::string name;
  std::function<std::vector<uint8_t>()> content;
  TDeflateType type;
  bool storeAll;
  uint16_t method;
  uint16_t flags;
};

void PrintTo(const MethodCase& c, std::ostream* os) { *os << c.what; }

class StoreOrDeflate : public ::testing::TestWithParam<MethodCase> {};

TEST_P(StoreOrDeflate, MethodFlagsAndDataFollowTheRules) {
  const MethodCase& c = GetParam();
  ScratchDir d;
  const auto content = c.content();
  WriteFile(d / ("t/" + c.name), content);
  const Built b = BuildJar(d, [&](TJar& jar) {
    jar.DeflateType = c.type;
    if (c.storeAll) jar.SetCompressMethod(cmStore);
  });
  ASSERT_EQ(b.result, 1) << c.what;
  EXPECT_TRUE(b.codes.empty());
  ZipProbe z(d / "out.jar");
  ASSERT_TRUE(z.ok) << z.error;
  ASSERT_EQ(z.entries.size(), 1u);
  const ProbeEntry& e = z.entries[0];
  EXPECT_EQ(e.name, c.name);
  EXPECT_EQ(e.method, c.method) << c.what;
  EXPECT_EQ(e.flags, c.flags) << c.what;
  EXPECT_TRUE(e.decoded) << c.what;
  EXPECT_EQ(e.data, content) << c.what;
  EXPECT_EQ(e.size, content.size());
  if (c.method == 0) {
    EXPECT_EQ(e.compressedSize, content.size());
  }
  if (content.empty()) {
    EXPECT_EQ(e.crc, 0u);
    EXPECT_EQ(e.compressedSize, 0u);
  }
  // Local and central headers agree: no data descriptor is ever written.
  EXPECT_EQ(e.localFlags, e.flags);
  EXPECT_EQ(e.localMethod, e.method);
  EXPECT_EQ(e.localCrc, e.crc);
  EXPECT_EQ(e.localCompressed, e.compressedSize);
  EXPECT_EQ(e.localSize, e.size);
  EXPECT_EQ(e.localName, e.name);
}

std::vector<uint8_t> Text(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t("MIDlet-Name: Game\r\n"[i % 19]);
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Writer, StoreOrDeflate,
    ::testing::Values(
        MethodCase{"an empty file is stored with CRC 0", "empty", [] { return std::vector<uint8_t>{}; }, dtDeflateN, false, 0, 0},
        MethodCase{"one byte is stored", "one", [] { return std::vector<uint8_t>{'x'}; }, dtDeflateN, false, 0, 0},
        MethodCase{"256 bytes that Deflate enlarges are stored", "n256", [] { return NoiseBytes(256); }, dtDeflateN, false, 0, 0},
        MethodCase{"256 bytes that deflate to exactly 256 are deflated", "eq256", DeflatesToExactly256, dtDeflateN, false, 8, 0},
        MethodCase{"257 bytes are deflated even when that enlarges them", "n257", [] { return NoiseBytes(257); }, dtDeflateN, false, 8, 0},
        MethodCase{"small text is deflated", "t.txt", [] { return Text(255); }, dtDeflateN, false, 8, 0},
        MethodCase{"inner.Jar is stored (extension match ignores case)", "inner.Jar", [] { return Text(5000); }, dtDeflateN, false, 0, 0},
        MethodCase{"x.zip is stored", "x.zip", [] { return Text(5000); }, dtDeflateN, false, 0, 0},
        MethodCase{"x.zipx is deflated", "x.zipx", [] { return Text(5000); }, dtDeflateN, false, 8, 0},
        MethodCase{"level 9 sets flags 2", "x9.txt", [] { return Text(5000); }, dtDeflateX, false, 8, 2},
        MethodCase{"level 1 sets flags 4", "x1.txt", [] { return Text(5000); }, dtDeflateF, false, 8, 4},
        MethodCase{"cmStore stores everything", "s.txt", [] { return Text(5000); }, dtDeflateN, true, 0, 0},
        MethodCase{"several megabytes, many work buffers", "big.bin",
                   [] {
                     auto v = NoiseBytes(3 << 20);
                     for (size_t i = 0; i < v.size(); i += 3) v[i] = 0;
                     return v;
                   },
                   dtDeflateN, false, 8, 0},
        MethodCase{"several megabytes stored", "big.jar", [] { return NoiseBytes(5 << 20, 99); }, dtDeflateN, false, 0, 0}));

// ---------------------------------------------------------------------------
// Header fields and names

TEST(Writer, EveryEntryCarriesTheFixedFieldsAndItsFileAttributes) {
  ScratchDir d;
  WriteFile(d / "t/a.txt", Text(1000));
  WriteFile(d / "t/ro.txt", Text(10));
  ::chmod((d / "t/ro.txt").c_str(), 0444);
  ::mkdir((d / "t/empty").c_str(), 0750);
  ASSERT_EQ(BuildJar(d).result, 3);
  ZipProbe z(d / "out.jar");
  ASSERT_TRUE(z.ok) << z.error;
  EXPECT_TRUE(z.comment.empty());
  for (const auto& e : z.entries) {
    EXPECT_EQ(e.versionMadeBy, (3 << 8) | 20) << e.name;
    EXPECT_EQ(e.versionNeeded, 20) << e.name;
    EXPECT_EQ(e.internalAttr, 1) << e.name;
    EXPECT_EQ(e.extraLength, 0) << e.name;
    EXPECT_EQ(e.localExtraLength, 0) << e.name;
    EXPECT_EQ(e.commentLength, 0) << e.name;
  }
  ASSERT_NE(z.Find("a.txt"), nullptr);
  ASSERT_NE(z.Find("ro.txt"), nullptr);
  ASSERT_NE(z.Find("empty/"), nullptr);
  EXPECT_EQ(z.Find("a.txt")->externalAttr, 0x20u | ((S_IFREG | 0644u) << 16));
  EXPECT_EQ(z.Find("ro.txt")->externalAttr, 0x21u | ((S_IFREG | 0444u) << 16));
  EXPECT_EQ(z.Find("empty/")->externalAttr, 0x10u | ((S_IFDIR | 0750u) << 16));
  // The DOS date is the file's modification time in local time.
  struct stat st {};
  ::stat((d / "t/a.txt").c_str(), &st);
  EXPECT_EQ(z.Find("a.txt")->dosDateTime, UnixToDosDateTime(st.st_mtime));
  EXPECT_EQ(z.Find("a.txt")->localDateTime, z.Find("a.txt")->dosDateTime);
}

TEST(Writer, NamesAreRelativeWithSlashesAndUtf8Flagged) {
  ScratchDir d;
  const std::string utf8 = "d\xC3\xA9j\xC3\xA0 vu/\xE2\x82\xAC 5.txt";  // "déjà vu/€ 5.txt"
  const std::string legacy = "caf\xE9.txt";                            // Latin-1, not UTF-8
  WriteFile(d / ("t/" + utf8), "x");
  WriteFile(d / ("t/" + legacy), "y");
  WriteFile(d / "t/with space/and more/f.bin", "z");
  ASSERT_EQ(BuildJar(d).result, 3);
  ZipProbe z(d / "out.jar");
  ASSERT_TRUE(z.ok) << z.error;
  ASSERT_NE(z.Find(utf8), nullptr);
  EXPECT_EQ(z.Find(utf8)->flags & kFlagUtf8, kFlagUtf8);
  EXPECT_EQ(z.Find(utf8)->localFlags & kFlagUtf8, kFlagUtf8);
  ASSERT_NE(z.Find(legacy), nullptr);
  EXPECT_EQ(z.Find(legacy)->flags & kFlagUtf8, 0);
  ASSERT_NE(z.Find("with space/and more/f.bin"), nullptr);
  EXPECT_EQ(z.Find("with space/and more/f.bin")->flags, 0);
}

TEST(Writer, OnlyEmptyDirectoriesBecomeEntries) {
  ScratchDir d;
  ::mkdir((d / "t").c_str(), 0755);
  ::mkdir((d / "t/a").c_str(), 0755);
  ::mkdir((d / "t/a/b").c_str(), 0755);
  WriteFile(d / "t/full/x.txt", "x");
  WriteFile(d / "t/dotonly/.keep", "");
  // a/ holds nothing but an empty directory: it is empty too.
  EXPECT_EQ(BuildJar(d).result, 4);
  ZipProbe z(d / "out.jar");
  ASSERT_TRUE(z.ok) << z.error;
  EXPECT_EQ(NameSet(z),
            (std::set<std::string>{"a/", "a/b/", "full/x.txt", "dotonly/"}));
  const ProbeEntry* dir = z.Find("a/b/");
  EXPECT_EQ(dir->method, 0);
  EXPECT_EQ(dir->size, 0u);
  EXPECT_EQ(dir->crc, 0u);

  ScratchDir e;
  ::mkdir((e / "t").c_str(), 0755);
  ::mkdir((e / "t/a").c_str(), 0755);
  WriteFile(e / "t/x.txt", "x");
  EXPECT_EQ(BuildJar(e, [](TJar& j) { j.StoreEmptySubDirs = false; }).result, 1);
  EXPECT_EQ(ZipProbe(e / "out.jar").Names(), std::vector<std::string>{"x.txt"});
}

TEST(Writer, TheArchiveBeingWrittenAndTheOneReplacedStayOutOfTheResult) {
  ScratchDir d;
  WriteFile(d / "t/a.txt", "a");
  // Temporary directory inside the tree, and the target itself in the tree.
  TJar jar;
  jar.CreateNew = true;
  jar.FileSpec = {d / "t/*.*"};
  WriteFile(d / "t/self.jar", "an old archive in the tree");
  jar.SetArchiveFile(d / "t/self.jar");
  jar.SetTempDir(d / "t/tmp");
  EXPECT_EQ(jar.Compress(), 1);
  EXPECT_TRUE(Codes(jar).empty());
  ZipProbe z(d / "t/self.jar");
  ASSERT_TRUE(z.ok) << z.error;
  EXPECT_EQ(z.Names(), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(TempFilesIn(d / "t/tmp"), 0);

  // A tree that holds nothing but the temporary archive writes nothing: the
  // archive being written has no name there, so the tree is empty.
  ScratchDir e;
  TJar only;
  only.FileSpec = {e / "t/*.*"};
  only.SetArchiveFile(e / "x.jar");
  only.SetTempDir(e / "t");
  EXPECT_EQ(only.Compress(), 0);
  EXPECT_EQ(Codes(only), std::vector<int>{kErrNothingToDo});
  EXPECT_FALSE(writetest::fs::exists(e / "x.jar"));
  EXPECT_EQ(TempFilesIn(e / "t"), 0);
}

TEST(Writer, ExcludeSpecLeavesFilesOut) {
  ScratchDir d;
  for (const char* f : {"t/a.txt", "t/a.bak", "t/sub/b.txt", "t/sub/c.bak", "t/keep/d.txt"}) WriteFile(d / f, "x");
  struct Case {
    std::vector<std::string> exclude;
    std::set<std::string> kept;
  };
  const Case cases[] = {
      {{"*.bak"}, {"a.txt", "sub/b.txt", "keep/d.txt"}},
      {{"sub/*.*"}, {"a.txt", "a.bak", "keep/d.txt"}},
      {{"@t/sub/*.txt", "*.BAK"}, {"a.txt", "keep/d.txt"}},
  };
  for (const auto& c : cases) {
    ::unlink((d / "out.jar").c_str());
    BuildJar(d, [&](TJar& j) {
      for (auto e : c.exclude) j.ExcludeSpec.push_back(e[0] == '@' ? d.dir() + e.substr(1) : e);
    });
    EXPECT_EQ(NameSet(ZipProbe(d / "out.jar")), c.kept) << c.exclude[0];
  }
}

TEST(Writer, ANameReachedTwiceIsWrittenOnce) {
  ScratchDir d;
  WriteFile(d / "t/a.txt", "first");
  WriteFile(d / "u/a.txt", "second");
  WriteFile(d / "u/b.txt", "b");
  const Built b = BuildJar(d, [&](TJar& j) { j.FileSpec = {d / "t/*.*", d / "u/*.*", d / "t/a.txt"}; });
  EXPECT_EQ(b.result, 2);
  ZipProbe z(d / "out.jar");
  ASSERT_TRUE(z.ok);
  EXPECT_EQ(z.Names(), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(z.Find("a.txt")->data, std::vector<uint8_t>({'f', 'i', 'r', 's', 't'}));
}

// ---------------------------------------------------------------------------
// Properties

TEST(Writer, ArchiveNameTakesTheDefaultExtension) {
  TJar jar;
  EXPECT_EQ(jar.DefaultExt(), ".jar");
  jar.SetArchiveFile("/x/game");
  EXPECT_EQ(jar.ArchiveFile(), "/x/game.jar");
  jar.SetDefaultExt("ZIP");
  EXPECT_EQ(jar.ArchiveFile(), "/x/game.zip");
  jar.SetDefaultExt(".html");
  EXPECT_EQ(jar.DefaultExt(), ".htm");
  jar.SetArchiveFile("/x/keep.tar");
  jar.SetDefaultExt("");
  EXPECT_EQ(jar.DefaultExt(), ".jar");
  EXPECT_EQ(jar.ArchiveFile(), "/x/keep.tar");
  TZip zip;
  EXPECT_EQ(zip.DefaultExt(), ".zip");
}

TEST(Writer, NothingToWriteLeavesNoArchive) {
  ScratchDir d;
  ::mkdir((d / "t").c_str(), 0755);
  Built b = BuildJar(d);
  EXPECT_EQ(b.result, 0);
  EXPECT_EQ(b.codes, std::vector<int>{kErrNothingToDo});
  EXPECT_FALSE(writetest::fs::exists(d / "out.jar"));

  b = BuildJar(d, [](TJar& j) { j.Switch = swRefresh; });
  EXPECT_EQ(b.codes, std::vector<int>{kErrNothingToDo2});
  b = BuildJar(d, [&](TJar& j) { j.SetArchiveFile(d / "no/such/dir/x.jar"); });
  EXPECT_EQ(b.codes, std::vector<int>{kErrInvalidDir});
  EXPECT_EQ(TempFilesIn(d / "tmp"), 0);
}

TEST(Writer, AFileThatCannotBeOpenedIsLeftOutAndReported) {
  ScratchDir d;
  WriteFile(d / "t/a.txt", "a");
  WriteFile(d / "t/b.txt", "b");
  WriteFile(d / "t/c.txt", "c");
  const Built b = BuildJar(d, [&](TJar& j) {
    j.OnBegin = [&](TCustomCClass&, const std::string& f, int, bool&) {
      if (f == d / "t/b.txt") ::unlink(f.c_str());
    };
  });
  EXPECT_EQ(b.result, 2);
  EXPECT_EQ(b.codes, std::vector<int>{kErrOpenFile});
  ZipProbe z(d / "out.jar");
  ASSERT_TRUE(z.ok) << z.error;
  EXPECT_EQ(NameSet(z), (std::set<std::string>{"a.txt", "c.txt"}));
}

TEST(Writer, AFileThatChangesSizeWhileReadIsDroppedWithoutATrace) {
  for (bool grow : {true, false}) {
    ScratchDir d;
    WriteFile(d / "t/a.txt", Text(100));
    WriteFile(d / "t/big.bin", NoiseBytes(2 << 20));
    WriteFile(d / "t/z.txt", Text(100));
    bool reading = false, changed = false;
    const Built b = BuildJar(d, [&](TJar& j) {
      j.OnBegin = [&](TCustomCClass&, const std::string& f, int, bool&) { reading = f == d / "t/big.bin"; };
      // Called per chunk while the data is read: the file changes under the writer.
      j.ProcessMessages = [&] {
        if (!reading || changed) return;
        changed = true;
        if (grow) {
          std::ofstream(d / "t/big.bin", std::ios::app | std::ios::binary) << "more";
        } else {
          ::truncate((d / "t/big.bin").c_str(), 1000);
        }
      };
    });
    ASSERT_TRUE(changed);
    EXPECT_EQ(b.result, 2) << grow;
    EXPECT_EQ(b.codes, std::vector<int>{kErrReadFile}) << grow;
    ZipProbe z(d / "out.jar");
    ASSERT_TRUE(z.ok) << z.error;
    EXPECT_EQ(NameSet(z), (std::set<std::string>{"a.txt", "z.txt"}));
    // The dropped entry's bytes were cut off: the entries are packed back to back.
    const auto bytes = ReadFile(d / "out.jar");
    EXPECT_LT(bytes.size(), 4096u);
    for (const auto& e : z.entries) EXPECT_TRUE(e.decoded) << e.name;
  }
}

TEST(Writer, ACancelledRunLeavesTheTargetAsItWas) {
  ScratchDir d;
  for (int i = 0; i < 5; ++i) WriteFile(d / ("t/f" + std::to_string(i)), Text(3000));
  WriteFile(d / "out.jar", "precious");
  int begun = 0;
  const Built b = BuildJar(d, [&](TJar& j) {
    j.CreateNew = true;
    j.OnBegin = [&](TCustomCClass& s, const std::string&, int, bool&) {
      if (++begun == 3) s.SetCancel(true);
    };
  });
  EXPECT_EQ(b.result, 0);
  EXPECT_EQ(b.codes, std::vector<int>{kErrUserCanceled});
  EXPECT_EQ(ReadFile(d / "out.jar").size(), 8u);
  EXPECT_EQ(TempFilesIn(d / "tmp"), 0);
}

TEST(Writer, AReadOnlyArchiveIsOnlyReplacedWhenTheHandlerAllows) {
  ScratchDir d;
  WriteFile(d / "t/a.txt", "a");
  WriteFile(d / "out.jar", "old");
  ::chmod((d / "out.jar").c_str(), 0444);
  Built b = BuildJar(d, [](TJar& j) { j.CreateNew = true; });
  EXPECT_EQ(b.result, 0);
  EXPECT_EQ(b.codes, std::vector<int>{kErrEventNotAssigned});
  EXPECT_EQ(ReadFile(d / "out.jar").size(), 3u);
  b = BuildJar(d, [](TJar& j) {
    j.CreateNew = true;
    j.OnNonWriteableArchive = [](TCustomCClass&, const std::string&, bool& w) { w = true; };
  });
  EXPECT_EQ(b.result, 1);
  EXPECT_TRUE(ZipProbe(d / "out.jar").ok);
}

// A full disk, simulated by a file-size limit in a child process: the run
// fails with "Disk full", the old archive is untouched and no temporary file
// is left.
TEST(Writer, ADiskFullRunFailsAndKeepsTheOldArchive) {
  ScratchDir d;
  for (int i = 0; i < 4; ++i) WriteFile(d / ("t/f" + std::to_string(i) + ".bin"), NoiseBytes(300000, uint32_t(i + 1)));
  WriteFile(d / "out.jar", "old archive");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{500000, 500000};
    ::setrlimit(RLIMIT_FSIZE, &lim);
    const Built b = BuildJar(d, [](TJar& j) { j.CreateNew = true; });
    const bool ok = b.result == 0 && std::find(b.codes.begin(), b.codes.end(), kErrDiskFull) != b.codes.end();
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(d / "out.jar").size(), 11u);
  EXPECT_EQ(TempFilesIn(d / "tmp"), 0);
}

TEST(Writer, MemoryTemporaryArchiveGivesTheSameBytes) {
  ScratchDir d;
  WriteFile(d / "t/a.txt", Text(5000));
  WriteFile(d / "t/n.bin", NoiseBytes(100));
  ASSERT_EQ(BuildJar(d).result, 2);
  const auto viaFile = ReadFile(d / "out.jar");
  ::unlink((d / "out.jar").c_str());
  ASSERT_EQ(BuildJar(d, [](TJar& j) { j.CompressionMethod = cmInMemory; }).result, 2);
  EXPECT_EQ(ReadFile(d / "out.jar"), viaFile);
}

TEST(Writer, PackingAheadOnOtherCoresGivesTheSameBytes) {
  ScratchDir d;
  for (int i = 0; i < 60; ++i) {
    const size_t n = size_t(i * i * 37 % 70000);
    auto data = NoiseBytes(n, uint32_t(i + 1));
    if (i % 3) std::fill(data.begin(), data.begin() + long(n / 2), uint8_t('a'));
    WriteFile(d / ("t/d" + std::to_string(i % 7) + "/f" + std::to_string(i) + (i % 10 == 0 ? ".jar" : ".bin")), data);
  }
  WriteFile(d / "t/empty", "");
  for (TDeflateType type : {dtDeflateN, dtDeflateX}) {
    std::vector<std::vector<uint8_t>> results;
    for (int workers : {0, 1, 3}) {
      ::unlink((d / "out.jar").c_str());
      const Built b = BuildJar(d, [&](TJar& j) {
        j.CompressWorkers = workers;
        j.DeflateType = type;
      });
      EXPECT_EQ(b.result, 61);
      EXPECT_TRUE(b.codes.empty());
      results.push_back(ReadFile(d / "out.jar"));
    }
    EXPECT_EQ(results[1], results[0]);
    EXPECT_EQ(results[2], results[0]);
    ZipProbe z(results[0], 0);
    ASSERT_TRUE(z.ok) << z.error;
    for (const auto& e : z.entries) EXPECT_TRUE(e.decoded) << e.name;
  }
}

TEST(Writer, CancelWhilePackingAheadStopsCleanly) {
  ScratchDir d;
  for (int i = 0; i < 40; ++i) WriteFile(d / ("t/f" + std::to_string(i)), NoiseBytes(50000, uint32_t(i + 1)));
  WriteFile(d / "out.jar", "precious");
  int calls = 0;
  const Built b = BuildJar(d, [&](TJar& j) {
    j.CreateNew = true;
    j.CompressWorkers = 2;
    j.OnProgress = [&](TZipCommon& s, uint8_t, uint8_t) {
      if (++calls == 5) s.SetCancel(true);
    };
  });
  EXPECT_EQ(b.result, 0);
  EXPECT_EQ(b.codes, std::vector<int>{kErrUserCanceled});
  EXPECT_EQ(ReadFile(d / "out.jar").size(), 8u);
  EXPECT_EQ(TempFilesIn(d / "tmp"), 0);
}

}  // namespace
}  // namespace parcelix
