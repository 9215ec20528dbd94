// The progress line: throttling, clearing, cutting to the width and silence when disabled.
#include <gtest/gtest.h>

#include <sstream>

#include "app/shell/Progress.h"

using namespace parcelix;
using namespace std::chrono_literals;

namespace {

struct FakeClock {
  TProgress::TimePoint now{};
  void Attach(TProgress& p) {
    p.Now = [this] { return now; };
    p.Width = 40;
  }
};

size_t Draws(const std::string& s) {
  size_t n = 0;
  for (size_t pos = 0; (pos = s.find("\r\033[K[", pos)) != std::string::npos; ++pos) ++n;
  return n;
}

TEST(ShellProgress, DrawsAtMostTenTimesASecondAndClearsOnce) {
  std::ostringstream out;
  FakeClock clock;
  {
    TProgress p(out, true, 1000, "files");
    clock.Attach(p);
    for (int i = 0; i < 1000; ++i) {
      p.Step("f" + std::to_string(i));
      clock.now += 1ms;  // a second in all
    }
    EXPECT_EQ(Draws(out.str()), 10u);
    EXPECT_NE(out.str().find("[901/1000] f900"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("files/s"), std::string::npos);  // the rate, once half a second has passed
  }
  const std::string s = out.str();
  ASSERT_GE(s.size(), 4u);
  EXPECT_EQ(s.substr(s.size() - 4), "\r\033[K");             // cleared at the end
  EXPECT_EQ(s.find("\r\033[K\r\033[K"), std::string::npos);  // never twice in a row
}

TEST(ShellProgress, ClearedLineComesBackWithTheNextRedraw) {
  std::ostringstream out;
  FakeClock clock;
  TProgress p(out, true, 3, "JARs");
  clock.Attach(p);
  p.Update(0, "a.jar");
  p.Clear();
  p.Clear();  // nothing shown: nothing written
  EXPECT_EQ(out.str(), "\r\033[K[0/3] a.jar\r\033[K");
  p.Update(1, "b.jar");  // too soon
  clock.now += 150ms;
  p.Update(2, "c.jar");
  EXPECT_EQ(Draws(out.str()), 2u);
  EXPECT_NE(out.str().find("[2/3] c.jar"), std::string::npos);
}

TEST(ShellProgress, LongNamesKeepTheirEndAndWholeCharacters) {
  std::ostringstream out;
  FakeClock clock;
  TProgress p(out, true, 0, "files");
  clock.Attach(p);
  const std::string name = "dir/" + std::string(60, 'x') + "/\xC3\xA9t\xC3\xA9.jar";  // "été.jar"
  p.Update(7, name);
  const std::string line = out.str().substr(4);
  EXPECT_EQ(line.rfind("[7] ...", 0), 0u) << line;
  EXPECT_EQ(line.substr(line.size() - 9), "\xC3\xA9t\xC3\xA9.jar");
  size_t columns = 0;
  for (unsigned char c : line) columns += (c & 0xC0) != 0x80;
  EXPECT_EQ(columns, 39u);  // one column short of the width: no wrap
}

TEST(ShellProgress, DisabledWritesNothing) {
  std::ostringstream out;
  {
    TProgress p(out, false, 10, "files");
    for (int i = 0; i < 10; ++i) p.Step("x");
    p.Clear();
  }
  EXPECT_EQ(out.str(), "");
}

}  // namespace
