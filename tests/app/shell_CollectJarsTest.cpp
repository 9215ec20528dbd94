// The JARs a batch works on come in byte order of their paths, whatever
// the folder listing's order and however long the paths' common beginning.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/shell/CliCommands.h"

using namespace parcelix;
namespace fs = std::filesystem;

namespace {

TEST(ShellCollectJars, PathsComeInByteOrder) {
  const fs::path dir = fs::temp_directory_path() / ("parcelix-collect-" + std::to_string(getpid()));
  fs::remove_all(dir);
  const std::vector<std::string> names = {
      "game00001.jar", "game00002.jar", "game0000.jar", "game00001 (2).jar", "Game.jar", "g.jar",
      "game000000000001.jar", "game000000000002.jar", "game00000000000.jar", "Игра.jar", "Ígra.jar",
      "zz.JAR", "sub/inner.jar", "sub/a/b.jar", "sub.jar", "sub a/x.jar", "game00001/deep.jar"};
  for (const std::string& n : names) {
    fs::create_directories((dir / n).parent_path());
    std::ofstream(dir / n) << "x";
  }
  const Collected c = CollectJars({dir.string()}, true);
  std::vector<std::string> want;
  for (const std::string& n : names) want.push_back(dir.string() + "/" + n);
  std::sort(want.begin(), want.end());
  EXPECT_EQ(c.jars, want);
  // One folder alone, and a folder with one JAR.
  const Collected one = CollectJars({(dir / "sub" / "a").string()}, false);
  EXPECT_EQ(one.jars, std::vector<std::string>{(dir / "sub" / "a" / "b.jar").string()});
  fs::remove_all(dir);
}

}  // namespace
