// Manifest code pages: the UTF-8 test and cuts, code page names, conversion
// both ways, detection on real-language manifests, and rename templates.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cctype>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "midlet/CodePage.h"
#include "midlet/NameTemplate.h"

namespace parcelix {
namespace {

std::span<const uint8_t> Span(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

struct Utf8Case {
  const char* what;
  std::string bytes;
  bool valid;
};

TEST(CodePageUtf8, WellFormedOnly) {
  const std::vector<Utf8Case> cases = {
      {"ASCII", "MIDlet-Name: Foo", true},
      {"two, three and four bytes", "\xC3\xA9\xE8\xB4\xAA\xF0\x9F\x8E\xAE", true},
      {"overlong slash", "\xC0\xAF", false},
      {"overlong three-byte", "\xE0\x80\xAF", false},
      {"surrogate", "\xED\xA0\x80", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"cut sequence", "\xE8\xB4", false},
      {"stray continuation", "a\x80", false},
      {"windows-1251 text", "\xC8\xE3\xF0\xE0", false},
      {"GBK text", "\xCC\xB0\xB3\xD4\xC9\xDF", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.what;
}

TEST(CodePageUtf8, CutsNeverSplitACharacter) {
  const std::string text = "a\xC3\xA9\xE8\xB4\xAA\xF0\x9F\x8E\xAE" "b\xD0\x98";  // 1,2,3,4,1,2 bytes
  const std::vector<size_t> boundaries = {0, 1, 3, 6, 10, 11, 13};
  for (size_t max = 0; max <= text.size() + 1; ++max) {
    const std::string cut = CutUtf8(text, max);
    size_t want = 0;
    for (size_t b : boundaries)
      if (b <= max) want = b;
    EXPECT_EQ(cut.size(), want) << "at most " << max << " bytes";
    EXPECT_TRUE(IsValidUtf8(cut)) << "at most " << max << " bytes";
  }
}

TEST(CodePageNames, AliasesAndUnknowns) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"windows-1251", "windows-1251"}, {"CP1251", "windows-1251"}, {"win1251", "windows-1251"},
      {"koi8r", "KOI8-R"},              {"gb2312", "GBK"},          {"CP936", "GBK"},
      {"big5", "Big5"},                 {"SJIS", "Shift_JIS"},      {"shift-jis", "Shift_JIS"},
      {"cp1250", "windows-1250"},       {"Latin1", "windows-1252"}, {"utf8", "UTF-8"},
      {"ebcdic", ""},                   {"", ""},                   {"windows-1253", ""},
  };
  for (const auto& [name, want] : cases) EXPECT_EQ(CanonicalCodePage(name), want) << name;
  EXPECT_THROW(TManifestCodec("klingon"), std::invalid_argument);
  EXPECT_NO_THROW(TManifestCodec("AUTO"));
}

struct ConvertCase {
  const char* codePage;
  std::string bytes;
  std::string text;
};

// The same word in each legacy code page (bytes made with python's codecs).
const std::vector<ConvertCase> kWords = {
    {"windows-1251", "\xC8\xE3\xF0\xE0", "Игра"},
    {"KOI8-R", "\xE9\xC7\xD2\xC1", "Игра"},
    {"GBK", "\xCC\xB0\xB3\xD4\xC9\xDF", "贪吃蛇"},
    {"Big5", "\xB3\x67\xAD\xB9\xB3\x44", "貪食蛇"},
    {"Shift_JIS", "\x83\x65\x83\x67\x83\x8A\x83\x58", "テトリス"},
    {"windows-1250", "\xAF\xF3\xB3\x77", "Żółw"},
    {"windows-1252", "Ch\xE2teau", "Château"},
};

TEST(CodePageConvert, BothWays) {
  for (const auto& c : kWords) {
    EXPECT_EQ(DecodeStrict(c.bytes, c.codePage).value_or("<none>"), c.text) << c.codePage;
    EXPECT_EQ(DecodeText(c.bytes, c.codePage), c.text) << c.codePage;
    EXPECT_EQ(EncodeStrict(c.text, c.codePage).value_or("<none>"), c.bytes) << c.codePage;
  }
}

TEST(CodePageConvert, BadBytesAndCutValues) {
  // 0x81 is undefined in windows-1252: refused strictly, replaced when shown.
  EXPECT_FALSE(DecodeStrict("a\x81z", "windows-1252"));
  EXPECT_EQ(DecodeText("a\x81z", "windows-1252", "_"), "a_z");
  // A value cut by the scan's byte window inside a double-byte character.
  EXPECT_EQ(DecodeText("\xCC\xB0\xB3", "GBK"), "贪");
  EXPECT_EQ(DecodeText("Caf\xC3", kUtf8), "Caf");
  EXPECT_EQ(DecodeText("plain", "no such page"), "plain");
}

// The single-byte pages are read from tables of their own: every byte of
// each agrees with glibc's iconv, both ways.
TEST(CodePageConvert, SingleBytePagesAgreeWithIconv) {
  const std::vector<std::pair<const char*, const char*>> pages = {
      {"windows-1251", "CP1251"}, {"windows-1250", "CP1250"}, {"windows-1252", "CP1252"}, {"KOI8-R", "KOI8-R"}};
  for (const auto& [page, iconvName] : pages) {
    iconv_t cd = iconv_open("UTF-8", iconvName);
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << iconvName;
    for (int b = 0x80; b < 0x100; ++b) {
      char in[1] = {char(b)};
      char out[8];
      char* src = in;
      char* dst = out;
      size_t left = 1, room = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      const bool defined = iconv(cd, &src, &left, &dst, &room) != size_t(-1);
      const std::optional<std::string> want =
          defined ? std::optional<std::string>(std::string(out, size_t(dst - out))) : std::nullopt;
      const std::string byte(1, char(b));
      EXPECT_EQ(DecodeStrict(byte, page), want) << page << " byte " << b;
      if (want) {
        EXPECT_EQ(EncodeStrict(*want, page).value_or("<none>"), byte) << page << " byte " << b;
      }
    }
    iconv_close(cd);
  }
}

// One set of open converters serves text after text: a conversion that
// stopped inside a character or at a bad byte leaves nothing behind.
TEST(CodePageConvert, ConvertersKeptOpenStartEachTextAfresh) {
  TConverters conv;
  for (int round = 0; round < 2; ++round) {
    for (const auto& c : kWords) {
      EXPECT_TRUE(IsValidUtf8(conv.DecodeText(c.bytes + "\xFF", c.codePage, "?"))) << c.codePage;
      conv.DecodeStrict(c.bytes.substr(0, c.bytes.size() - 1), c.codePage);  // stops inside a character
      EXPECT_EQ(conv.DecodeStrict(c.bytes, c.codePage).value_or("<none>"), c.text) << c.codePage;
      EXPECT_FALSE(conv.EncodeStrict(c.text + "\xF0\x9F\x8E\xAE", c.codePage));  // no page holds an emoji
      EXPECT_EQ(conv.EncodeStrict(c.text, c.codePage).value_or("<none>"), c.bytes) << c.codePage;
    }
  }
}

TEST(CodePageConvert, CharacterTheCodePageCannotHold) {
  std::string bad;
  EXPECT_FALSE(EncodeStrict("Игра 贪", "windows-1251", &bad));
  EXPECT_EQ(bad, "贪");
  EXPECT_FALSE(EncodeStrict("Łódź", "windows-1252", &bad));
  EXPECT_EQ(bad, "Ł");
  EXPECT_EQ(EncodeStrict("Łódź", kUtf8).value_or(""), "Łódź");
}

std::string Manifest(const std::vector<std::string>& values) {
  std::string m = "Manifest-Version: 1.0\r\n";
  static const char* keys[] = {"MIDlet-Name", "MIDlet-Vendor", "MIDlet-Description"};
  for (size_t i = 0; i < values.size() && i < 3; ++i) m += std::string(keys[i]) + ": " + values[i] + "\r\n";
  return m + "MIDlet-Version: 1.0\r\nMIDlet-1: Game, /i.png, GameMidlet\r\n\r\n";
}

struct DetectCase {
  const char* what;
  const char* codePage;
  std::vector<std::string> values;  // UTF-8; written in codePage
};

// Manifests whose values are read right only in their own code page (the
// words that read alike in two pages, such as German umlauts in
// windows-1250 and windows-1252, are the larger table's business).
TEST(CodePageDetect, ReadsEachCodePageRight) {
  const std::vector<DetectCase> cases = {
      {"Russian", "windows-1251", {"Игра Змейка", "Мобильные игры", "Классическая змейка для телефона"}},
      {"Russian name only", "windows-1251", {"Морской бой"}},
      {"Russian KOI8", "KOI8-R", {"Морской бой", "Студия Вектор"}},
      {"Ukrainian", "windows-1251", {"Козацькі війни", "Україна Ігри"}},
      {"Chinese", "GBK", {"俄罗斯方块", "游戏工作室", "消除方块，挑战最高分"}},
      {"Chinese name only, signs in windows-1251", "GBK", {"水浒传"}},
      {"Chinese traditional", "Big5", {"俄羅斯方塊", "遊戲工作室", "消除方塊，挑戰最高分"}},
      {"Japanese", "Shift_JIS", {"テトリス", "モバイルゲーム", "ブロックを消して高得点を目指そう"}},
      {"Polish", "windows-1250", {"Wiedźmin", "Studio Gier", "Przygody łowcy potworów"}},
      {"Polish name only", "windows-1250", {"Wąż"}},
      {"Czech", "windows-1250", {"Žížala", "Zábava", "Hra pro děti i dospělé"}},
      {"French", "windows-1252", {"Le Château hanté", "Aventure", "Échappez-vous avant minuit"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> encoded;
    for (const std::string& v : c.values) encoded.push_back(EncodeStrict(v, c.codePage).value());
    const std::string bytes = Manifest(encoded);
    TManifestCodec codec;
    const std::string cp = codec.CodePageOf(Span(bytes));
    EXPECT_EQ(DecodeText(encoded[0], cp), c.values[0]) << c.what << " read as " << cp;
  }
}

TEST(CodePageDetect, Utf8NeedsNoDetectionAndWinsOverASetting) {
  TManifestCodec fixed("windows-1251");
  EXPECT_EQ(fixed.CodePageOf(Span(Manifest({"Игра Змейка"}))), kUtf8);
  EXPECT_EQ(fixed.CodePageOf(Span(Manifest({"Plain"}))), kUtf8);
  // A setting decides for every manifest that is not UTF-8.
  EXPECT_EQ(fixed.CodePageOf(Span(Manifest({"\xCC\xB0\xB3\xD4\xC9\xDF"}))), "windows-1251");
  // A UTF-8 value that a writer folded inside a character.
  TManifestCodec detect;
  const std::string folded = "Manifest-Version: 1.0\r\nMIDlet-Name: \xD0\x98\xD0\r\n \xB3\xD1\x80\xD0\xB0\r\n\r\n";
  EXPECT_EQ(detect.CodePageOf(Span(folded)), kUtf8);
}

TEST(CodePageDetect, BytesNoCodePageReadsStillGetAnAnswer) {
  TManifestCodec codec;
  std::string noise = "MIDlet-Name: ";
  for (int i = 0x80; i < 0x100; ++i) noise += char(i);
  const std::string cp = codec.CodePageOf(Span(noise));
  EXPECT_FALSE(cp.empty());
  EXPECT_TRUE(IsValidUtf8(DecodeText(noise, cp, "_")));
}

// ------------------------------------------------------------------ templates

TEST(NameTemplate, RefusesWhatCannotBeAName) {
  const std::vector<std::pair<const char*, const char*>> bad = {
      {"{MIDlet-Name", "unbalanced '{' at column 1"},
      {"MIDlet-Name}", "unbalanced '}' at column 12"},
      {"{a{b}}", "unbalanced '{' at column 1"},
      {"{}", "names no attribute"},
      {"/srv/{MIDlet-Name}", "absolute"},
      {"../{MIDlet-Name}", "'..'"},
      {"a//{MIDlet-Name}", "empty"},
      {"{MIDlet-Vendor}/", "empty"},
      {"", "empty"},
  };
  for (const auto& [text, why] : bad) {
    try {
      TNameTemplate t(text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << text << ": " << e.what();
    }
  }
}

struct ApplyCase {
  const char* tmpl;
  const char* oldName;
  std::string path;    // expected relative path, empty when refused
  std::string reason;  // expected reason when refused
};

TEST(NameTemplate, FillsFieldsSafely) {
  const std::map<std::string, std::string> attrs = {
      {"midlet-name", "Snake"},       {"midlet-vendor", "Nokia"},   {"midlet-version", "1.2"},
      {"evil-slash", "../../etc"},    {"evil-dots", ".."},          {"blank", "   "},
      {"control", "a\x01\x7f" "b"},   {"long", std::string(10000, 'x')},
  };
  const auto lookup = [&](const std::string& name) -> std::optional<std::string> {
    std::string key;
    for (char ch : name) key += char(std::tolower(uint8_t(ch)));
    auto it = attrs.find(key);
    return it == attrs.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
  const std::vector<ApplyCase> cases = {
      {"{MIDlet-Vendor}/{MIDlet-Name} {MIDlet-Version}", "g.jar", "Nokia/Snake 1.2.jar", ""},
      {"{midlet-VENDOR} - {MIDlet-Name}", "g.jar", "Nokia - Snake.jar", ""},
      {"{MIDlet-Vendor}/{file}.{ext}", "Old Game.JAR", "Nokia/Old Game.JAR", ""},
      {"{MIDlet-Name}.jar", "g.jar", "Snake.jar", ""},
      {"{Evil-Slash}", "g.jar", ".._.._etc.jar", ""},
      {"{Control}", "g.jar", "a__b.jar", ""},
      {"{Evil-Dots}/{MIDlet-Name}", "g.jar", "", "the template makes the name '..'"},
      {"{MIDlet-Vendor}/{MIDlet-Icon}", "g.jar", "", "no MIDlet-Icon"},
      {"{Blank}/{MIDlet-Name}", "g.jar", "", "empty Blank"},
      {"{Long}", "g.jar", std::string(251, 'x') + ".jar", ""},
      {"{Long}/{MIDlet-Name}", "g.jar", std::string(255, 'x') + "/Snake.jar", ""},
  };
  for (const auto& c : cases) {
    const auto r = TNameTemplate(c.tmpl).Apply(lookup, c.oldName);
    EXPECT_EQ(r.path, c.path) << c.tmpl;
    EXPECT_EQ(r.reason, c.reason) << c.tmpl;
  }
}

TEST(NameTemplate, LongNamesAreCutOnACharacter) {
  std::string name;
  for (int i = 0; i < 200; ++i) name += "Ж";  // 400 bytes
  const std::string fitted = FitFileName(name, ".jar");
  EXPECT_LE(fitted.size(), kMaxNameBytes);
  EXPECT_EQ(fitted.size(), 250u + 4u);
  EXPECT_TRUE(IsValidUtf8(fitted));
}

}  // namespace
}  // namespace parcelix
