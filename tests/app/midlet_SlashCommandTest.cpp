// The /rename and /jadgen command line in process: message titles, texts, icons and exit status.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "app/shell/Cli.h"
#include "midlet/FileUtil.h"

using namespace parcelix;

namespace {

struct CliRun {
  int status = -1;
  std::vector<UserMessage> messages;
  std::string out, err;
};

CliRun RunArgs(std::vector<std::string> args) {
  std::ostringstream out, err;
  CliRun r;
  CliContext ctx;
  ctx.args = std::move(args);
  ctx.out = &out;
  ctx.err = &err;
  ctx.ShowMessage = [&](const UserMessage& m) { r.messages.push_back(m); };
  r.status = RunCommandLine(ctx);
  r.out = out.str();
  r.err = err.str();
  return r;
}

class MidletSlashCommand : public ::testing::Test {
 protected:
  TPrivateTempDir dir{"parcelix-slash-test-"};
  std::string Fixture(const std::string& name, const std::string& as) {
    std::string to = dir.Path() + as;
    CopyFileReplacing(std::string(PARCELIX_TEST_DATA) + "/midlet/" + name, to);
    return to;
  }
};

TEST_F(MidletSlashCommand, MessagesOfTheArgumentChecks) {
  std::string zip = Fixture("game.jar", "b.zip");
  const std::string usage = "Usage:\r\n Parcelix /rename FileName\r\nor\r\n Parcelix /jadgen FileName";
  struct {
    std::vector<std::string> args;
    int status;
    std::string title, text;
    MsgIcon icon;
  } cases[] = {
      {{"/rename"}, 1, "Error!", "File '' not exists!", MsgIcon::Error},
      {{"/jadgen", dir.Path()}, 1, "Error!", "File '" + dir.Path() + "' not exists!", MsgIcon::Error},
      {{"/JADGEN", zip}, 1, "Error!", "File '" + zip + "' is not a JAR-file!", MsgIcon::Error},
      {{"/other", zip}, 2, "Warning!", usage, MsgIcon::Information},
      {{"whatever"}, 2, "Warning!", usage, MsgIcon::Information},
      {{"-h"}, 2, "Warning!", usage, MsgIcon::Information},
  };
  for (const auto& c : cases) {
    CliRun r = RunArgs(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0];
    ASSERT_EQ(r.messages.size(), 1u) << c.args[0];
    EXPECT_EQ(r.messages[0].title, c.title);
    EXPECT_EQ(r.messages[0].text, c.text);
    EXPECT_EQ(r.messages[0].icon, c.icon) << c.args[0];
  }
}

}  // namespace

// ---- which files a batch finds under a directory ----

TEST_F(MidletSlashCommand, BatchWalkTakesJarFilesAndLinksToThemButNoLinkedDirectories) {
  ASSERT_EQ(mkdir((dir.Path() + "sub").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir.Path() + "sub/deeper").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir.Path() + "folder.jar").c_str(), 0755), 0);  // a directory is never a JAR
  ASSERT_EQ(mkdir((dir.Path() + "elsewhere").c_str(), 0755), 0);
  Fixture("game.jar", "a.jar");
  Fixture("game.jar", "B.JAR");
  Fixture("game.jar", "notes.txt");
  Fixture("game.jar", "sub/c.jar");
  Fixture("game.jar", "sub/deeper/d.jar");
  Fixture("game.jar", "elsewhere/e.jar");
  ASSERT_EQ(symlink((dir.Path() + "a.jar").c_str(), (dir.Path() + "link.jar").c_str()), 0);
  ASSERT_EQ(symlink((dir.Path() + "elsewhere").c_str(), (dir.Path() + "sub/linked").c_str()), 0);
  ASSERT_EQ(symlink((dir.Path() + "missing.jar").c_str(), (dir.Path() + "dangling.jar").c_str()), 0);
  ASSERT_EQ(rename((dir.Path() + "elsewhere").c_str(), (dir.Path() + "sub/elsewhere-real").c_str()), 0);
  ASSERT_EQ(symlink((dir.Path() + "sub/elsewhere-real").c_str(), (dir.Path() + "elsewhere").c_str()), 0);

  auto found = [&](std::vector<std::string> args) {
    CliRun r = RunArgs(std::move(args));
    std::vector<std::string> names;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      const auto cut = line.find(dir.Path());
      if (cut != 0) continue;  // the summary line
      const auto end = line.find_first_of(":", dir.Path().size());
      const auto arrow = line.find(" -> ");
      names.push_back(line.substr(dir.Path().size(), std::min(end, arrow) - dir.Path().size()));
    }
    return names;
  };
  EXPECT_EQ(found({"rename", "-n", dir.Path()}), (std::vector<std::string>{"B.JAR", "a.jar", "link.jar"}));
  EXPECT_EQ(found({"rename", "-n", "-r", dir.Path()}),
            (std::vector<std::string>{"B.JAR", "a.jar", "link.jar", "sub/c.jar", "sub/deeper/d.jar",
                                      "sub/elsewhere-real/e.jar"}));
  CliRun missing = RunArgs({"rename", "-n", dir.Path() + "nothing-here"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("nothing-here: kept (not found)"), std::string::npos) << missing.out;
}
