// What the window's lists read of a suite: the icon member a manifest names, and members picked by exact name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "midlet/FileUtil.h"
#include "midlet/ManifestModel.h"
#include "midlet/SuiteSummary.h"

using namespace parcelix;

namespace {

ManifestDoc Main(const std::string& text) {
  return SplitManifest(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())).main;
}

TEST(SuiteSummary, IconMemberComesFromMidletIconElseTheFirstMidlet) {
  const struct {
    const char* manifest;
    const char* icon;
  } cases[] = {
      {"MIDlet-Icon: /img/a.png\r\nMIDlet-1: G, /b.png, M\r\n", "img/a.png"},
      {"MIDlet-1: G, /b.png, M\r\n", "b.png"},
      {"midlet-1: G,icons/c d.png ,M\r\n", "icons/c d.png"},
      {"MIDlet-Icon: \r\nMIDlet-1: G, /b.png, M\r\n", "b.png"},  // an empty MIDlet-Icon names nothing
      {"MIDlet-1: G, , M\r\n", ""},
      {"MIDlet-1: G\r\n", ""},
      {"MIDlet-2: G, /b.png, M\r\n", ""},  // only the first MIDlet's icon stands for the suite
      {"MIDlet-1: Long game\r\n  name, /i\r\n .png, M\r\n", "i.png"},  // continuation lines joined
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IconMemberOf(Main(std::string("Manifest-Version: 1.0\r\n") + c.manifest + "\r\n")), c.icon)
        << c.manifest;
  }
}

// A JAR made by python's zipfile, members in this order.
std::string PythonJar(const std::string& dir, const std::vector<std::pair<std::string, size_t>>& members) {
  const std::string path = dir + "t.jar";
  std::string script = "import zipfile\nwith zipfile.ZipFile('" + path + "', 'w', zipfile.ZIP_DEFLATED) as z:\n";
  for (const auto& [name, size] : members)
    script += "  z.writestr('" + name + "', bytes(((i * 7919) >> 3) & 255 for i in range(" + std::to_string(size) +
              ")) + b'" + name + "')\n";
  std::ofstream(dir + "make.py") << script;
  EXPECT_EQ(std::system(("python3 " + dir + "make.py").c_str()), 0);
  return path;
}

TEST(SuiteSummary, MembersArePickedByTheirExactNameAndWithinTheLimit) {
  TPrivateTempDir dir("parcelix-summary-test-");
  const std::string jar = PythonJar(dir.Path(), {{"a/i.png", 10}, {"i.png", 20}, {"i1.png", 30}, {"i*.png", 40},
                                                 {"I.PNG", 50}, {"big.png", 2000}, {"META-INF/MANIFEST.MF", 5}});
  TUnZip reader;
  const struct {
    const char* member;
    int64_t limit;
    size_t size;  // 0: not read
  } cases[] = {
      {"i.png", 1 << 20, 20 + 5},   {"a/i.png", 1 << 20, 10 + 7}, {"i*.png", 1 << 20, 40 + 6},
      {"I.PNG", 1 << 20, 50 + 5},   {"b/i.png", 1 << 20, 0},      {"big.png", 1000, 0},
      {"big.png", 2007, 2000 + 7},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes;
    EXPECT_EQ(ReadJarMember(reader, jar, c.member, c.limit, bytes), c.size > 0) << c.member;
    EXPECT_EQ(bytes.size(), c.size) << c.member;
    if (c.size) {
      EXPECT_EQ(std::string(bytes.end() - std::string(c.member).size(), bytes.end()), c.member);
    }
  }
  // The reader reads manifests as before.
  EXPECT_EQ(ReadJarManifest(reader, jar).size(), 5u + 20u);
}

}  // namespace
