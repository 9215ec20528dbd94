// The file-system layer: reads, copies, replacement, moves that never replace, the Trash and new files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <system_error>

#include "engine/common/FileSystem.h"
#include "tests/engine/write_TestSupport.h"

namespace parcelix {
namespace {

using writetest::ScratchDir;
using writetest::TempFilesIn;

std::string Slurp(const std::string& path) {
  std::string s;
  ReadWholeFile(path, s);
  return s;
}

void Put(const std::string& path, const std::string& data) {
  TFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  ASSERT_TRUE(fd.IsOpen()) << path;
  ASSERT_TRUE(WriteAll(fd.Get(), data.data(), data.size()));
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = char((i * 131 + i / 977) & 0xFF);
  return s;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

size_t EntriesIn(const std::string& dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : writetest::fs::directory_iterator(dir)) ++n;
  return n;
}

// A folder on another file system than the scratch folder, when there is one.
std::string OtherFileSystem(const std::string& near) {
  struct stat a {}, b {};
  if (::stat(near.c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev) return {};
  return ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "";
}

// ------------------------------------------------------------ reads, copies

TEST(FileSystem, WholeFilesOfEverySizeComeBackAsWritten) {
  ScratchDir d;
  for (size_t n : {size_t(0), size_t(1), size_t(65535), size_t(65536), size_t(65537), size_t(3u << 20)}) {
    const std::string data = Pattern(n);
    ReplaceFileContents(d / "f", data);
    std::string back = "junk";
    ASSERT_TRUE(ReadWholeFile(d / "f", back)) << n;
    EXPECT_EQ(back, data) << n;
  }
}

TEST(FileSystem, ReadWholeFileRefusesWhatIsNoRegularFileOrTooLarge) {
  ScratchDir d;
  Put(d / "big", Pattern(5000));
  ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0600), 0);
  struct Case {
    std::string path;
    size_t max;
    int err;
  } cases[] = {{d / "missing", SIZE_MAX, ENOENT},
               {d.path(), SIZE_MAX, EISDIR},
               {d / "fifo", SIZE_MAX, EINVAL},  // must not wait for a writer
               {d / "big", 4999, EFBIG}};
  for (const auto& c : cases) {
    std::string out = "junk";
    errno = 0;
    EXPECT_FALSE(ReadWholeFile(c.path, out, c.max)) << c.path;
    EXPECT_EQ(errno, c.err) << c.path;
    EXPECT_TRUE(out.empty()) << c.path;
  }
  std::string out;
  EXPECT_TRUE(ReadWholeFile(d / "big", out, 5000));
}

// Copies between two files of one file system, of two, and from a pipe (where
// the kernel copy is refused and the buffer takes over).
TEST(FileSystem, CopyRangeCopiesFromTheOffsetAndStopsAtTheEnd) {
  ScratchDir d;
  const std::string other = OtherFileSystem(d.path());
  const std::string data = Pattern(3u << 20);
  Put(d / "src", data);
  struct Case {
    int64_t offset, count, expect;
  } cases[] = {{0, int64_t(data.size()), int64_t(data.size())},
               {12345, 1000, 1000},
               {int64_t(data.size()) - 10, 100, 10},
               {int64_t(data.size()), 5, 0}};
  for (const std::string& dstDir : {d.path(), other}) {
    if (dstDir.empty()) continue;
    for (const auto& c : cases) {
      TNewFile dst(dstDir, "copy");
      TFd src(::open((d / "src").c_str(), O_RDONLY | O_CLOEXEC));
      int64_t off = c.offset;
      ASSERT_EQ(CopyRange(src.Get(), &off, dst.Fd(), c.count), c.expect) << dstDir << " @" << c.offset;
      EXPECT_EQ(off, c.offset + c.expect);
      std::string back(size_t(c.expect), '\0');
      ASSERT_EQ(::pread(dst.Fd(), back.data(), back.size(), 0), ssize_t(back.size()));
      EXPECT_EQ(back, data.substr(size_t(c.offset), size_t(c.expect)));
    }
  }
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  TFd readEnd(pipeFds[0]), writeEnd(pipeFds[1]);
  ASSERT_TRUE(WriteAll(writeEnd.Get(), "through a pipe", 14));
  writeEnd.Close();
  TNewFile dst(d.path(), "pipe");
  EXPECT_EQ(CopyRange(readEnd.Get(), nullptr, dst.Fd(), 100), 14);
}

// ------------------------------------------------------------ replacement

TEST(FileSystem, ReplacementKeepsModeAndLinkAndLeavesNothingBeside) {
  ScratchDir d;
  Put(d / "settings.ini", "old");
  ::chmod((d / "settings.ini").c_str(), 0640);
  ASSERT_EQ(::symlink("settings.ini", (d / "link.ini").c_str()), 0);
  ReplaceFileContents(d / "link.ini", "new");
  EXPECT_EQ(Slurp(d / "settings.ini"), "new");
  EXPECT_EQ(ModeOf(d / "settings.ini"), 0640u);
  struct stat st {};
  ASSERT_EQ(::lstat((d / "link.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  TReplaceOptions exact;
  exact.Mode = 0755;
  ReplaceFileContents(d / "run.desktop", "x", exact);
  EXPECT_EQ(ModeOf(d / "run.desktop"), 0755u);
  EXPECT_EQ(EntriesIn(d.path()), 3u);
  EXPECT_EQ(TempFilesIn(d.path()), 0);
}

TEST(FileSystem, AReplacementThatCannotBeWrittenLeavesTheOldFile) {
  ScratchDir d;
  Put(d / "keep.jad", "old");
  // A folder nobody may write into; root may write anywhere on a normal
  // file system, so it gets one where no file can be created.
  std::string folder = d / "ro";
  ::mkdir(folder.c_str(), 0755);
  Put(folder + "/keep.jad", "old");
  ::chmod(folder.c_str(), 0555);
  if (::geteuid() == 0) folder = "/proc/sys";
  EXPECT_THROW(ReplaceFileContents(folder + "/keep.jad", "new"), std::system_error);
  if (::geteuid() != 0) {
    EXPECT_EQ(Slurp(folder + "/keep.jad"), "old");
    EXPECT_EQ(EntriesIn(folder), 1u);
  }
  ::chmod((d / "ro").c_str(), 0755);
  // A source that is the target itself is refused, not truncated.
  EXPECT_THROW(CopyFileReplacing(d / "keep.jad", d / "keep.jad"), std::system_error);
  EXPECT_EQ(Slurp(d / "keep.jad"), "old");
}

TEST(FileSystem, NewFilesStayInvisibleUntilCommittedAndNeverReplaceWhenToldNot) {
  ScratchDir d;
  Put(d / "game.jar", "old");
  {
    TNewFile file(d.path(), "game.jar");
    ASSERT_TRUE(WriteAll(file.Fd(), "new", 3));
    // Nothing new in the folder where O_TMPFILE works; else one hidden name.
    EXPECT_EQ(EntriesIn(d.path()), file.Unnamed() ? 1u : 2u);
    EXPECT_EQ(TempFilesIn(d.path()), file.Unnamed() ? 0 : 1);
    EXPECT_EQ(Slurp(file.Name()), "new");
    try {
      file.Commit(d / "game.jar", TPlace::NoReplace, true);
      ADD_FAILURE() << "replaced an existing file";
    } catch (const std::system_error& e) {
      EXPECT_EQ(e.code().value(), EEXIST);
    }
  }
  EXPECT_EQ(Slurp(d / "game.jar"), "old");
  EXPECT_EQ(EntriesIn(d.path()), 1u);
  {
    TNewFile file(d.path(), "game.jar");
    ASSERT_TRUE(WriteAll(file.Fd(), "newer", 5));
    file.Commit(d / "game.jar", TPlace::Replace, true);
    TNewFile other(d.path(), "other.jar");
    other.Commit(d / "other.jar", TPlace::NoReplace, false);
    TNewFile dropped(d.path(), "dropped.jar");
  }
  EXPECT_EQ(Slurp(d / "game.jar"), "newer");
  EXPECT_TRUE(writetest::fs::exists(d / "other.jar"));
  EXPECT_EQ(EntriesIn(d.path()), 2u);
}

TEST(FileSystem, ABatchFlushesEachFileSystemOnce) {
  ScratchDir d;
  ::mkdir((d / "a").c_str(), 0755);
  ::mkdir((d / "b").c_str(), 0755);
  TDurableBatch batch;
  for (const char* name : {"a/1.jad", "a/2.jad", "b/3.jad"}) ReplaceFileContents(d / name, "x", {&batch});
  EXPECT_EQ(batch.Pending(), 1u);
  // A file that replaces another is flushed at once, not left to the batch.
  ReplaceFileContents(d / "a/1.jad", "y", {&batch});
  EXPECT_EQ(batch.Pending(), 1u);
  EXPECT_TRUE(batch.Flush());
  EXPECT_EQ(batch.Pending(), 0u);
}

// A batch makes its file at once and links it in, and falls back to a
// replacement only when the name is taken: whatever stood there, the result
// is the one a lone replacement gives.
TEST(FileSystem, ABatchFileMeetsWhatStandsAtItsNameAsALoneReplacementDoes) {
  struct Case {
    const char* what;
    std::function<void(const std::string& jad, const std::string& dir)> before;
    const char* content;  // at jad afterwards (followed through a link)
    mode_t mode;          // 0: not checked
    bool link;            // jad is still a link
  };
  const Case cases[] = {
      {"nothing", [](const std::string&, const std::string&) {}, "new", 0, false},
      {"a file", [](const std::string& jad, const std::string&) {
         Put(jad, "old");
         ::chmod(jad.c_str(), 0640);
       }, "new", 0640, false},
      {"a link to a file", [](const std::string& jad, const std::string& dir) {
         Put(dir + "/real.jad", "old");
         ::chmod((dir + "/real.jad").c_str(), 0600);
         ASSERT_EQ(::symlink("real.jad", jad.c_str()), 0);
       }, "new", 0600, true},
      // A link that leads nowhere gives way to the file.
      {"a dangling link", [](const std::string& jad, const std::string&) {
         ASSERT_EQ(::symlink("gone.jad", jad.c_str()), 0);
       }, "new", 0, false},
  };
  for (const Case& c : cases) {
    ScratchDir d;
    const std::string jad = d / "game.jad";
    c.before(jad, d.path());
    TDurableBatch batch;
    ReplaceFileContents(jad, "new", {&batch});
    EXPECT_EQ(Slurp(jad), c.content) << c.what;
    if (c.mode) {
      EXPECT_EQ(ModeOf(jad), c.mode) << c.what;
    }
    struct stat st {};
    ASSERT_EQ(::lstat(jad.c_str(), &st), 0) << c.what;
    EXPECT_EQ(S_ISLNK(st.st_mode), c.link) << c.what;
    EXPECT_EQ(TempFilesIn(d.path()), 0) << c.what;
    EXPECT_TRUE(batch.Flush()) << c.what;
  }
  // A folder at the name is neither replaced nor emptied.
  ScratchDir d;
  ::mkdir((d / "game.jad").c_str(), 0755);
  Put(d / "game.jad/inside", "kept");
  TDurableBatch batch;
  EXPECT_THROW(ReplaceFileContents(d / "game.jad", "new", {&batch}), std::system_error);
  EXPECT_EQ(Slurp(d / "game.jad/inside"), "kept");
  EXPECT_EQ(TempFilesIn(d.path()), 0);
}

// ------------------------------------------------------------ moves

TEST(FileSystem, MoveWithoutReplacingKeepsBothFilesWhenTheTargetExists) {
  ScratchDir d;
  Put(d / "a.jar", "A");
  Put(d / "b.jar", "B");
  errno = 0;
  EXPECT_FALSE(MoveFileNoReplace(d / "a.jar", d / "b.jar"));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(Slurp(d / "a.jar"), "A");
  EXPECT_EQ(Slurp(d / "b.jar"), "B");
  EXPECT_TRUE(MoveFileNoReplace(d / "a.jar", d / "c.jar"));
  EXPECT_FALSE(writetest::fs::exists(d / "a.jar"));
  EXPECT_EQ(Slurp(d / "c.jar"), "A");
  EXPECT_FALSE(MoveFileNoReplace(d / "missing.jar", d / "d.jar"));
  EXPECT_FALSE(writetest::fs::exists(d / "d.jar"));
  // Another name of the same file (a second hard link) is the file itself.
  ASSERT_EQ(::link((d / "c.jar").c_str(), (d / "C.jar").c_str()), 0);
  EXPECT_TRUE(MoveFileNoReplace(d / "c.jar", d / "C.jar"));
  EXPECT_EQ(Slurp(d / "C.jar"), "A");
}

// ------------------------------------------------------------ the Trash

class Trash : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_DATA_HOME")) {
      saved_ = old;
      hadOld_ = true;
    }
    ::setenv("XDG_DATA_HOME", (home_ / "data").c_str(), 1);
  }
  void TearDown() override {
    if (hadOld_) ::setenv("XDG_DATA_HOME", saved_.c_str(), 1);
    else ::unsetenv("XDG_DATA_HOME");
  }
  ScratchDir home_;
  std::string saved_;
  bool hadOld_ = false;
};

TEST_F(Trash, TheInfoRecordLetsAFileManagerPutTheFileBack) {
  ::mkdir((home_ / "my games").c_str(), 0755);
  const std::string file = home_ / "my games/Jeu été.jar";
  Put(file, "jar");
  std::string trashed;
  ASSERT_TRUE(MoveToTrash(file, &trashed));
  EXPECT_FALSE(writetest::fs::exists(file));
  const std::string trash = home_ / "data/Trash/";
  EXPECT_EQ(trashed, trash + "files/Jeu été.jar");
  EXPECT_EQ(Slurp(trashed), "jar");
  const std::string info = Slurp(trash + "info/Jeu été.jar.trashinfo");
  char* real = ::realpath(home_.path().c_str(), nullptr);
  const std::string expectPath = std::string(real) + "/my%20games/Jeu%20%C3%A9t%C3%A9.jar";
  std::free(real);
  EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + expectPath + "\nDeletionDate=", 0), 0u) << info;
  // DeletionDate is local time as YYYY-MM-DDThh:mm:ss.
  const std::string date = info.substr(info.find("DeletionDate=") + 13);
  ASSERT_EQ(date.size(), 20u) << date;
  EXPECT_EQ(date[4], '-');
  EXPECT_EQ(date[10], 'T');
  EXPECT_EQ(date.back(), '\n');
}

TEST_F(Trash, ANameTakenInTheTrashGetsTheNextNumber) {
  const std::string trash = home_ / "data/Trash/";
  for (int i = 0; i < 3; ++i) {
    Put(home_ / "Game.jar", "v" + std::to_string(i));
    ASSERT_TRUE(MoveToTrash(home_ / "Game.jar"));
  }
  // A file without its info record (left by another program) also takes a name.
  Put(trash + "files/Game.jar.4", "stray");
  Put(home_ / "Game.jar", "v3");
  ASSERT_TRUE(MoveToTrash(home_ / "Game.jar"));
  EXPECT_EQ(Slurp(trash + "files/Game.jar"), "v0");
  EXPECT_EQ(Slurp(trash + "files/Game.jar.2"), "v1");
  EXPECT_EQ(Slurp(trash + "files/Game.jar.3"), "v2");
  EXPECT_EQ(Slurp(trash + "files/Game.jar.4"), "stray");
  EXPECT_EQ(Slurp(trash + "files/Game.jar.5"), "v3");
  EXPECT_FALSE(writetest::fs::exists(trash + "info/Game.jar.4.trashinfo"));
  EXPECT_TRUE(writetest::fs::exists(trash + "info/Game.jar.5.trashinfo"));
  EXPECT_FALSE(MoveToTrash(home_ / "missing.jar"));
}

TEST_F(Trash, AFileOnAnotherFileSystemGoesToThatFileSystemsTrash) {
  const std::string other = OtherFileSystem(home_.path());
  if (other.empty()) GTEST_SKIP() << "no second writable file system";
  ScratchDir there(other);
  Put(there / "far.jar", "far");
  std::string trashed;
  ASSERT_TRUE(MoveToTrash(there / "far.jar", &trashed));
  const std::string top = other + "/.Trash-" + std::to_string(::getuid()) + "/";
  EXPECT_EQ(trashed, top + "files/far.jar");
  const std::string rel = (there / "far.jar").substr(other.size() + 1);
  EXPECT_NE(Slurp(top + "info/far.jar.trashinfo").find("\nPath=" + rel + "\n"), std::string::npos);
  ::unlink(trashed.c_str());
  ::unlink((top + "info/far.jar.trashinfo").c_str());
}

}  // namespace
}  // namespace parcelix
