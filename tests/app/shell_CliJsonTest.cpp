// Texts that may not be UTF-8 in the JSON output: one U+FFFD per byte that
// belongs to no valid sequence, the bytes kept in hex, and always valid JSON.
#include <gtest/gtest.h>

#include <sstream>

#include "app/shell/CliJson.h"

using namespace parcelix;

namespace {

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

struct TextCase {
  const char* what;
  std::string bytes;
  std::string shown;  // the text after the rule; "" when it is valid as it is
};

const TextCase kCases[] = {
    {"ASCII", "a/B.class", ""},
    {"two, three and four byte sequences", "\xC3\xBC/\xE2\x82\xAC/\xF0\x9F\x8E\xAE", ""},
    {"a lone continuation byte", "a\x80z", "a" + R + "z"},
    {"a sequence cut at the end", "ok\xE2\x82", "ok" + R + R},
    {"a sequence cut by ASCII", "\xE2\x82z\xC3\xBC", R + R + "z\xC3\xBC"},
    {"an overlong NUL", std::string("\xC0\x80", 2), R + R},
    {"a UTF-16 surrogate", "\xED\xA0\x80", R + R + R},
    {"past U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
    {"CP437 bytes", "\x81\x94.jar", R + R + ".jar"},
    {"an embedded NUL and a control character", std::string("a\0\x01", 3), ""},
};

TEST(ShellCliJson, TextsFollowOneRuleAndTheOutputParses) {
  for (const TextCase& c : kCases) {
    SCOPED_TRACE(c.what);
    Json obj;
    PutText(obj, "name", c.bytes);
    const bool valid = c.shown.empty();
    EXPECT_EQ(obj["name"].get<std::string>(), valid ? c.bytes : c.shown);
    EXPECT_EQ(obj.contains("name_hex"), !valid);
    if (!valid) {
      EXPECT_EQ(obj["name_hex"].get<std::string>(), HexBytes(c.bytes));
    }

    std::ostringstream out;
    WriteJsonLine(out, obj);
    const std::string line = out.str();
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one object, one line";
    const Json back = Json::parse(line);  // throws on invalid JSON
    EXPECT_EQ(back, obj);
  }
}

TEST(ShellCliJson, HexIsTwoLowercaseDigitsPerByte) {
  EXPECT_EQ(HexBytes(std::string("\x00\x0F\xA0\xFF", 4)), "000fa0ff");
  EXPECT_EQ(HexBytes(""), "");
}

TEST(ShellCliJson, ATextSetDirectlyNeverBreaksTheLine) {
  Json obj;
  obj["message"] = std::string("bad \xFF byte");  // not through PutText
  std::ostringstream out;
  WriteJsonLine(out, obj);
  EXPECT_EQ(Json::parse(out.str())["message"], "bad " + R + " byte");
}

}  // namespace
