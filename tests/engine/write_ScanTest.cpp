// The writer's file scan: attribute tests, spec grouping, walk order, skipped names, cancel.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/write/arxFileScan.h"
#include "tests/engine/write_TestSupport.h"

namespace parcelix {
namespace {

using writetest::ScratchDir;
using writetest::WriteFile;

// ---------------------------------------------------------------------------
// Attribute test

struct AttrCase {
  const char* what;
  uint32_t attr;
  TarxFileAttributes include;
  TarxFileAttributes exclude;
  bool pass;
};

void PrintTo(const AttrCase& c, std::ostream* os) { *os << c.what; }

class AttributeTestCases : public ::testing::TestWithParam<AttrCase> {};

TEST_P(AttributeTestCases, IncludeAndExcludeRows) {
  const AttrCase& c = GetParam();
  EXPECT_EQ(AttributeTest(c.attr, c.include, c.exclude), c.pass) << c.what;
}

constexpr TarxFileAttributes kDef = kDefaultScanAttributes;

INSTANTIATE_TEST_SUITE_P(
    Scan, AttributeTestCases,
    ::testing::Values(
        AttrCase{"plain file passes by its archive bit", kFaArchive, kDef, 0, true},
        AttrCase{"directory needs fsDirectory", kFaDirectory, kDef, 0, false},
        AttrCase{"directory with fsDirectory", kFaDirectory, kDef | FaBit(fsDirectory), 0, true},
        AttrCase{"read-only directory passes by fsReadOnly", kFaDirectory | kFaReadOnly, kDef, 0, true},
        AttrCase{"attributes 0 pass by fsZeroAttr", 0, kDef, 0, true},
        AttrCase{"attributes exactly 0x80 pass by fsZeroAttr", kFaNormal, kDef, 0, true},
        AttrCase{"0x80 with another bit is not 'zero'", kFaNormal | kFaHidden, kDef, 0, false},
        AttrCase{"hidden alone fails the default set", kFaHidden, kDef, 0, false},
        AttrCase{"hidden with the archive bit passes", kFaHidden | kFaArchive, kDef, 0, true},
        AttrCase{"not-content-indexed passes whatever the set", kFaNotContentIndexed, 0, 0, true},
        AttrCase{"exclude set wins over include", kFaArchive | kFaReadOnly, kDef, FaBit(fsReadOnly), false},
        AttrCase{"not-content-indexed has no exclude row", kFaNotContentIndexed, 0, FaBit(fsZeroAttr), true},
        AttrCase{"fsVolumeID takes part in neither test", kFaVolumeID, FaBit(fsVolumeID), 0, false},
        AttrCase{"system file with fsSysFile", kFaSysFile, FaBit(fsSysFile), 0, true},
        AttrCase{"compressed bit", kFaCompressed, FaBit(fsCompressed), 0, true},
        AttrCase{"encrypted bit", kFaEncrypted, FaBit(fsEncrypted), 0, true}));

TEST(ScanEntries, AttributesComeFromTheFileSystem) {
  ScratchDir d;
  WriteFile(d / "f.txt", "x");
  WriteFile(d / ".dot", "x");
  WriteFile(d / "ro.txt", "x");
  ::chmod((d / "ro.txt").c_str(), 0444);
  ::mkdir((d / "sub").c_str(), 0755);
  ::mkfifo((d / "fifo").c_str(), 0644);
  TSearchRec rec;
  ASSERT_TRUE(StatSearchRec(d / "f.txt", "f.txt", rec));
  EXPECT_EQ(rec.Attr, kFaArchive);
  EXPECT_EQ(rec.Size, 1);
  ASSERT_TRUE(StatSearchRec(d / ".dot", ".dot", rec));
  EXPECT_EQ(rec.Attr, kFaArchive | kFaHidden);
  ASSERT_TRUE(StatSearchRec(d / "ro.txt", "ro.txt", rec));
  EXPECT_EQ(rec.Attr, kFaArchive | kFaReadOnly);
  ASSERT_TRUE(StatSearchRec(d / "sub", "sub", rec));
  EXPECT_EQ(rec.Attr, kFaDirectory);
  // A FIFO is never archived: reading it could block for ever.
  EXPECT_FALSE(StatSearchRec(d / "fifo", "fifo", rec));
  EXPECT_FALSE(StatSearchRec(d / "missing", "missing", rec));
}

// ---------------------------------------------------------------------------
// Walks

// Runs a scan and returns what reached the handler, as paths relative to base
// (directories end in '/'), in order.
struct ScanResult {
  std::vector<std::string> seen;
  std::vector<std::string> roots;
  int finished = 0;
  int count = 0;
  int64_t total = 0;
};

ScanResult RunScan(TarxFileScan& scan, const std::string& base) {
  ScanResult r;
  scan.FileHandler = [&](TarxFileScan&, const std::string& dir, const TSearchRec& rec) {
    std::string path = rec.IsDirectory() ? dir : dir + rec.Name;
    r.seen.push_back(path.rfind(base, 0) == 0 ? path.substr(base.size()) : path);
    return true;
  };
  scan.OnRootDirChange = [&](TarxFileScan&, const std::string& dir) {
    r.roots.push_back(dir.rfind(base, 0) == 0 ? dir.substr(base.size()) : dir);
  };
  scan.OnFinished = [&](TarxFileScan&, int count, int64_t total) {
    ++r.finished;
    r.count = count;
    r.total = total;
  };
  scan.Scan();
  return r;
}

std::set<std::string> AsSet(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }

class ScanTree : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* f : {"t/a.txt", "t/b.txt", "t/c.dat", "t/noext", "t/sub/d.txt", "t/sub/deeper/e.dat",
                          "t/.classpath", "t/.git/config", "t/.git/x.txt", "t/T2/up.txt", "u/v.txt"})
      WriteFile(d / f, "data");
  }
  ScratchDir d;
};

struct GroupCase {
  const char* what;
  std::vector<std::string> specs;  // relative to the scratch directory
  std::set<std::string> files;     // files selected, relative to the scratch directory
  std::vector<std::string> roots;  // groups, in order
};

void PrintTo(const GroupCase& c, std::ostream* os) { *os << c.what; }

class SpecGrouping : public ScanTree, public ::testing::WithParamInterface<GroupCase> {};

TEST_P(SpecGrouping, SelectsTheFilesOfEveryGroup) {
  const GroupCase& c = GetParam();
  TarxFileScan scan;
  TStringList specs;
  for (const auto& s : c.specs) specs.push_back(s.find_first_not_of(' ') == std::string::npos ? s : d.dir() + s);
  scan.SetFileSpec(specs);
  const ScanResult r = RunScan(scan, d.dir());
  EXPECT_EQ(AsSet(r.seen), c.files) << c.what;
  EXPECT_EQ(r.roots, c.roots) << c.what;
  EXPECT_EQ(r.count, int(c.files.size())) << c.what;
  EXPECT_EQ(r.total, int64_t(4 * c.files.size())) << c.what;
  EXPECT_EQ(r.finished, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Scan, SpecGrouping,
    ::testing::Values(
        GroupCase{"*.* selects names without an extension too; dot names and dot trees never",
                  {"t/*.*"},
                  {"t/a.txt", "t/b.txt", "t/c.dat", "t/noext", "t/sub/d.txt", "t/sub/deeper/e.dat", "t/T2/up.txt"},
                  {"t/"}},
        GroupCase{"a wider mask absorbs a narrower one",
                  {"t/*.txt", "t/a.txt"},
                  {"t/a.txt", "t/b.txt", "t/sub/d.txt", "t/T2/up.txt"},
                  {"t/"}},
        GroupCase{"a narrower mask is replaced by a later wider one",
                  {"t/a.txt", "t/*.txt"},
                  {"t/a.txt", "t/b.txt", "t/sub/d.txt", "t/T2/up.txt"},
                  {"t/"}},
        GroupCase{"masks match without regard to case",
                  {"t/*.TXT"},
                  {"t/a.txt", "t/b.txt", "t/sub/d.txt", "t/T2/up.txt"},
                  {"t/"}},
        GroupCase{"two directories are two groups, first spec first",
                  {"u/*.txt", "t/*.dat"},
                  {"u/v.txt", "t/c.dat", "t/sub/deeper/e.dat"},
                  {"u/", "t/"}},
        GroupCase{"masks of one group are all applied",
                  {"t/*.dat", "u/*.*", "t/noext"},
                  {"t/c.dat", "t/sub/deeper/e.dat", "t/noext", "u/v.txt"},
                  {"t/", "u/"}},
        GroupCase{"blank specs are dropped", {"  ", "u/*.*", ""}, {"u/v.txt"}, {"u/"}},
        GroupCase{"directories differing in case are different directories",
                  {"t/T2/*.*", "t/t2/*.*"},
                  {"t/T2/up.txt"},
                  {"t/T2/", "t/t2/"}}));

TEST_F(ScanTree, DirectoriesReachTheHandlerBeforeTheirFiles) {
  TarxFileScan scan;
  scan.Attributes = kDefaultScanAttributes | FaBit(fsDirectory);
  scan.SetFileSpec({d.dir() + "t/*.*"});
  const ScanResult r = RunScan(scan, d.dir());
  auto at = [&](const std::string& s) { return std::find(r.seen.begin(), r.seen.end(), s) - r.seen.begin(); };
  ASSERT_LT(at("t/sub/"), long(r.seen.size()));
  EXPECT_LT(at("t/sub/"), at("t/sub/d.txt"));
  EXPECT_LT(at("t/sub/deeper/"), at("t/sub/deeper/e.dat"));
  EXPECT_LT(at("t/sub/d.txt"), long(r.seen.size()));
  // Directories are not counted and a dot directory is not reported at all.
  EXPECT_EQ(r.count, 7);
  EXPECT_EQ(at("t/.git/"), long(r.seen.size()));
}

TEST_F(ScanTree, FlatWalkStaysInTheSpecDirectory) {
  TarxFileScan scan;
  scan.RecurseDirs = false;
  scan.SetFileSpec({d.dir() + "t/*.txt", d.dir() + "u/*.*"});
  const ScanResult r = RunScan(scan, d.dir());
  EXPECT_EQ(AsSet(r.seen), (std::set<std::string>{"t/a.txt", "t/b.txt", "u/v.txt"}));
  EXPECT_EQ(r.roots, (std::vector<std::string>{"t/", "u/"}));
}

TEST_F(ScanTree, CancelFromTheFileEventStopsAfterTheCurrentEntry) {
  TarxFileScan scan;
  scan.SetFileSpec({d.dir() + "t/*.*"});
  int events = 0;
  scan.OnScanFile = [&](TarxFileScan& s, const std::string&, int64_t, int) {
    if (++events == 2) s.Cancel();
  };
  const ScanResult r = RunScan(scan, d.dir());
  EXPECT_EQ(r.seen.size(), 2u);
  EXPECT_EQ(r.finished, 1);
  EXPECT_TRUE(scan.Cancelled());
  // The next scan starts afresh.
  scan.OnScanFile = nullptr;
  EXPECT_EQ(RunScan(scan, d.dir()).seen.size(), 0u);  // the spec list was consumed by the first scan
}

TEST(ScanLinks, ALinkBackToAnAncestorIsWalkedOnce) {
  ScratchDir d;
  WriteFile(d / "t/a/f.txt", "x");
  ASSERT_EQ(::symlink("..", (d / "t/a/up").c_str()), 0);
  ASSERT_EQ(::symlink("a", (d / "t/same").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (d / "t/dangling").c_str()), 0);
  TarxFileScan scan;
  scan.SetFileSpec({d.dir() + "t/*.*"});
  const ScanResult r = RunScan(scan, d.dir());
  // t/a/f.txt directly and once through the "same" link; "up" leads back to
  // t/ and is not walked again; the dangling link is passed over.
  EXPECT_EQ(AsSet(r.seen), (std::set<std::string>{"t/a/f.txt", "t/same/f.txt"}));
}

TEST(ScanEmptyDirs, FilesAnywhereBelowMakeADirectoryNonEmpty) {
  ScratchDir d;
  ::mkdir((d / "e").c_str(), 0755);
  ::mkdir((d / "e/x").c_str(), 0755);
  ::mkdir((d / "e/x/y").c_str(), 0755);
  WriteFile(d / "e/.hidden", "x");
  WriteFile(d / "f/x/y/file", "x");
  ::mkdir((d / "g").c_str(), 0755);
  ::mkdir((d / "g/ro").c_str(), 0555);
  EXPECT_TRUE(DirectoryHoldsNoFiles(d / "e"));
  EXPECT_FALSE(DirectoryHoldsNoFiles(d / "f"));
  // A subdirectory without write permission counts as something held.
  EXPECT_FALSE(DirectoryHoldsNoFiles(d / "g"));
  ASSERT_EQ(::symlink("..", (d / "e/x/loop").c_str()), 0);
  EXPECT_TRUE(DirectoryHoldsNoFiles(d / "e"));
}

}  // namespace
}  // namespace parcelix
