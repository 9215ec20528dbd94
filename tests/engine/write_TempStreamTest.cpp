// The temporary archive streams: commit by rename or copy, discard, and what a commit may replace.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/read/Err_Msgs.h"
#include "engine/write/arxTempStreams.h"
#include "tests/engine/write_TestSupport.h"

namespace parcelix {
namespace {

using writetest::ReadFile;
using writetest::ScratchDir;
using writetest::TempFilesIn;
using writetest::WriteFile;

struct Hooked {
  uint8_t cancel = 0;
  int64_t left = 0;
  std::vector<int> codes;
  int moveBegin = 0, moveEnd = 0;
  TTempStreamHooks hooks;
  Hooked() {
    hooks.Cancel = &cancel;
    hooks.BytesLeft = &left;
    hooks.Report = [this](const std::string&, int code) { codes.push_back(code); };
    hooks.MoveBegin = [this](const std::string&, const std::string&, bool&) { ++moveBegin; };
    hooks.MoveEnd = [this] { ++moveEnd; };
  }
};

const std::vector<uint8_t> kArchive = {'n', 'e', 'w', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'};

void Fill(TStream32& s) { s.WriteBuffer(kArchive.data(), int64_t(kArchive.size())); }

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// What a commit leaves, for each way the run can end.
struct EndCase {
  const char* what;
  bool targetExists;
  int endHow;  // 0 commit, 1 cancel, 2 mode 0, 3 write failure, 4 handler cancels the move
  bool replaced;
  int code;  // error reported, 0 none
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.what; }

class TempFileEnds : public ::testing::TestWithParam<EndCase> {};

TEST_P(TempFileEnds, TargetIsReplacedOnlyByACompleteArchive) {
  const EndCase& c = GetParam();
  ScratchDir d;
  const std::string target = d / "game.jar";
  if (c.targetExists) WriteFile(target, "old archive");
  Hooked h;
  if (c.endHow == 4) h.hooks.MoveBegin = [](const std::string&, const std::string&, bool& cancel) { cancel = true; };
  bool committed;
  {
    TTempFileStream temp(h.hooks, kTempModeNew, target, d.path());
    ASSERT_TRUE(temp.IsOpen());
    // Nobody sees the archive while it is written.
    EXPECT_EQ(writetest::TempFilesIn(d.path()), 0);
    Fill(temp);
    if (c.endHow == 1) h.cancel = 1;
    if (c.endHow == 2) temp.SetMode(kTempModeDiscard);
    if (c.endHow == 3) temp.NoteWriteFailure(ENOSPC);
    committed = temp.Commit();
  }
  EXPECT_EQ(committed, c.replaced) << c.what;
  if (c.replaced) {
    EXPECT_EQ(ReadFile(target), kArchive);
  } else if (c.targetExists) {
    EXPECT_EQ(ReadFile(target), std::vector<uint8_t>({'o', 'l', 'd', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'}));
  } else {
    EXPECT_FALSE(writetest::fs::exists(target));
  }
  EXPECT_EQ(TempFilesIn(d.path()), 0) << c.what;
  if (c.code) EXPECT_EQ(h.codes, std::vector<int>{c.code});
  else EXPECT_TRUE(h.codes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    TempStream, TempFileEnds,
    ::testing::Values(EndCase{"commit over an old archive", true, 0, true, 0},
                      EndCase{"commit of a new archive", false, 0, true, 0},
                      EndCase{"cancelled run", true, 1, false, 0},
                      EndCase{"marked for discard", true, 2, false, 0},
                      EndCase{"a write failed on a full disk", true, 3, false, kErrDiskFull},
                      EndCase{"a write failed, no old archive", false, 3, false, kErrDiskFull},
                      EndCase{"OnTmpFileMoveBegin cancels", true, 4, false, kErrUserCanceled}));

TEST(TempStream, DestructionCommitsButNotWhileAnExceptionUnwinds) {
  ScratchDir d;
  Hooked h;
  {
    TTempFileStream temp(h.hooks, kTempModeNew, d / "a.jar", d.path());
    Fill(temp);
  }
  EXPECT_EQ(ReadFile(d / "a.jar"), kArchive);
  try {
    TTempFileStream temp(h.hooks, kTempModeNew, d / "b.jar", d.path());
    Fill(temp);
    throw std::runtime_error("failed half-way");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(writetest::fs::exists(d / "b.jar"));
  EXPECT_EQ(TempFilesIn(d.path()), 0);
}

TEST(TempStream, ReplacementKeepsTheOldPermissionsAndANewFileGetsTheUsual) {
  ScratchDir d;
  WriteFile(d / "old.jar", "old");
  ::chmod((d / "old.jar").c_str(), 0640);
  Hooked h;
  {
    TTempFileStream temp(h.hooks, kTempModeNew, d / "old.jar", d.path());
    Fill(temp);
    ASSERT_TRUE(temp.Commit());
  }
  EXPECT_EQ(ModeOf(d / "old.jar"), 0640u);
  const mode_t mask = ::umask(022);
  ::umask(mask);
  {
    TTempFileStream temp(h.hooks, kTempModeNew, d / "new.jar", d.path());
    Fill(temp);
    ASSERT_TRUE(temp.Commit());
  }
  EXPECT_EQ(ModeOf(d / "new.jar"), 0666u & ~mask);
}

TEST(TempStream, ATargetThatChangedDuringTheRunIsNotReplaced) {
  ScratchDir d;
  Hooked h;
  // The old archive was moved away and another file put at its name.
  WriteFile(d / "g.jar", "old");
  {
    TTempFileStream temp(h.hooks, kTempModeNew, d / "g.jar", d.path());
    Fill(temp);
    ::rename((d / "g.jar").c_str(), (d / "moved.jar").c_str());
    WriteFile(d / "g.jar", "someone else's");
    EXPECT_FALSE(temp.Commit());
  }
  EXPECT_EQ(ReadFile(d / "g.jar"), std::vector<uint8_t>({'s', 'o', 'm', 'e', 'o', 'n', 'e', ' ', 'e', 'l', 's', 'e', '\'', 's'}));
  EXPECT_EQ(h.codes, std::vector<int>{kErrFileNotFound});
  // The old archive vanished: it is not brought back as a new file.
  h.codes.clear();
  {
    TTempFileStream temp(h.hooks, kTempModeNew, d / "moved.jar", d.path());
    Fill(temp);
    ::unlink((d / "moved.jar").c_str());
    EXPECT_FALSE(temp.Commit());
  }
  EXPECT_FALSE(writetest::fs::exists(d / "moved.jar"));
  // A new archive never replaces a file that appeared meanwhile.
  {
    TTempFileStream temp(h.hooks, kTempModeNew, d / "fresh.jar", d.path());
    Fill(temp);
    WriteFile(d / "fresh.jar", "appeared");
    EXPECT_FALSE(temp.Commit());
  }
  EXPECT_EQ(ReadFile(d / "fresh.jar").size(), 8u);
  EXPECT_EQ(TempFilesIn(d.path()), 0);
}

TEST(TempStream, ASymbolicLinkTargetKeepsPointingAtTheArchive) {
  ScratchDir d;
  WriteFile(d / "store/real.jar", "old");
  ASSERT_EQ(::symlink("store/real.jar", (d / "link.jar").c_str()), 0);
  Hooked h;
  {
    TTempFileStream temp(h.hooks, kTempModeNew, d / "link.jar", d.path());
    Fill(temp);
    ASSERT_TRUE(temp.Commit());
  }
  struct stat st {};
  ASSERT_EQ(::lstat((d / "link.jar").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(d / "store/real.jar"), kArchive);
}

TEST(TempStream, AcrossFileSystemsTheArchiveIsCopiedBesideTheTargetThenRenamed) {
  ScratchDir other("/dev/shm");
  ScratchDir d;
  struct stat a {}, b {};
  ::stat(other.path().c_str(), &a);
  ::stat(d.path().c_str(), &b);
  if (a.st_dev == b.st_dev) GTEST_SKIP() << "no second file system";
  WriteFile(d / "x.jar", "old");
  Hooked h;
  {
    TTempFileStream temp(h.hooks, kTempModeNew, d / "x.jar", other.path());
    Fill(temp);
    ASSERT_TRUE(temp.Commit());
  }
  EXPECT_EQ(ReadFile(d / "x.jar"), kArchive);
  EXPECT_EQ(TempFilesIn(other.path()), 0);
  EXPECT_EQ(TempFilesIn(d.path()), 0);
}

TEST(TempStream, CopyFromTakesTheWholeSourceOrNothingWhenCancelled) {
  ScratchDir d;
  const auto data = writetest::NoiseBytes(3 * 1024 * 1024 + 17);
  WriteFile(d / "src", data);
  Hooked h;
  TFileStream32 src(d / "src", fmOpenRead);
  {
    TTempFileStream temp(h.hooks, kTempModeNew, d / "out.jar", d.path());
    src.SetPosition(12345);
    EXPECT_EQ(temp.CopyFrom(src, 0), int64_t(data.size()));  // 0: from the start
    src.SetPosition(100);
    EXPECT_EQ(temp.CopyFrom(src, 50), 50);
    ASSERT_TRUE(temp.Commit());
  }
  auto expected = data;
  expected.insert(expected.end(), data.begin() + 100, data.begin() + 150);
  EXPECT_EQ(ReadFile(d / "out.jar"), expected);

  TMemoryStream32 mem;
  mem.WriteBuffer(data.data(), 1000);
  TTempFileStream temp(h.hooks, kTempModeNew, d / "out2.jar", d.path());
  EXPECT_EQ(temp.CopyFrom(mem, 0), 1000);  // a memory source goes through the buffer
  h.cancel = 1;
  EXPECT_EQ(temp.CopyFrom(src, 0), 0);
  temp.Discard();

  // A source shorter than asked for is a read error.
  TTempFileStream temp2(h.hooks, kTempModeNew, d / "out3.jar", d.path());
  h.cancel = 0;
  src.SetPosition(int64_t(data.size()) - 10);
  EXPECT_THROW(temp2.CopyFrom(src, 20), EStreamError);
  temp2.Discard();
  EXPECT_EQ(TempFilesIn(d.path()), 0);
}

TEST(TempStream, MemoryVariantCommitsToTheTarget) {
  ScratchDir d;
  Hooked h;
  {
    TTempMemStream mem(h.hooks, kTempModeNew, d / "m.jar");
    EXPECT_EQ(mem.FileName(), "NoName");
    Fill(mem);
    ASSERT_TRUE(mem.Commit());
  }
  EXPECT_EQ(ReadFile(d / "m.jar"), kArchive);
  EXPECT_EQ(h.moveEnd, 1);
  {
    TTempMemStream mem(h.hooks, kTempModeNew, d / "n.jar");
    Fill(mem);
    h.cancel = 1;
  }
  EXPECT_FALSE(writetest::fs::exists(d / "n.jar"));
  EXPECT_EQ(TempFilesIn(d.path()), 0);
}

}  // namespace
}  // namespace parcelix
