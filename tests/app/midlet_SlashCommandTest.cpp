// The /rename and /jadgen command line in process: message titles, texts, icons and exit status.
#include <gtest/gtest.h>

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
