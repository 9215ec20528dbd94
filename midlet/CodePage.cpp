// Code pages of manifest text: UTF-8 test, detection among the legacy code
// pages (the charset detector's answer weighed by how plausible each reading
// is), and conversion through glibc iconv.
#include "midlet/CodePage.h"

#include <dlfcn.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "engine/common/arxGbls.h"
#include "midlet/MidletSuite.h"

namespace parcelix {

namespace {

struct CodePageName {
  const char* name;   // as Parcelix spells it
  const char* iconv;  // as glibc iconv knows it
};

constexpr CodePageName kCodePages[] = {
    {"UTF-8", "UTF-8"},         {"windows-1251", "CP1251"}, {"KOI8-R", "KOI8-R"},
    {"GBK", "GBK"},             {"Big5", "BIG5"},           {"Shift_JIS", "SHIFT_JIS"},
    {"windows-1250", "CP1250"}, {"windows-1252", "CP1252"},
};

// Other spellings, compared without case after '-', '_' and ' ' are dropped.
struct Alias {
  const char* alias;
  const char* name;
};
constexpr Alias kAliases[] = {
    {"utf8", "UTF-8"},          {"cp1251", "windows-1251"},  {"win1251", "windows-1251"},
    {"koi8r", "KOI8-R"},        {"koi8", "KOI8-R"},          {"cp936", "GBK"},
    {"gb2312", "GBK"},          {"euccn", "GBK"},            {"big5hkscs", "Big5"},
    {"cp950", "Big5"},          {"sjis", "Shift_JIS"},       {"cp932", "Shift_JIS"},
    {"mskanji", "Shift_JIS"},   {"cp1250", "windows-1250"},  {"win1250", "windows-1250"},
    {"cp1252", "windows-1252"}, {"win1252", "windows-1252"}, {"latin1", "windows-1252"},
    {"iso88591", "windows-1252"},
};

// What charset detectors answer, onto the legacy code page whose readers
// wrote such text (the neighbours of a code page are confused with it on
// short texts).
constexpr Alias kDetected[] = {
    {"windows1251", "windows-1251"}, {"iso88595", "windows-1251"},  {"ibm855", "windows-1251"},
    {"ibm866", "windows-1251"},      {"maccyrillic", "windows-1251"}, {"koi8r", "KOI8-R"},
    {"gb18030", "GBK"},              {"gbk", "GBK"},                {"gb2312", "GBK"},
    {"hzgb2312", "GBK"},             {"euccn", "GBK"},              {"big5", "Big5"},
    {"euctw", "Big5"},               {"shiftjis", "Shift_JIS"},     {"eucjp", "Shift_JIS"},
    {"iso2022jp", "Shift_JIS"},      {"windows1250", "windows-1250"}, {"iso88592", "windows-1250"},
    {"ibm852", "windows-1250"},      {"maccentraleurope", "windows-1250"},
    {"windows1252", "windows-1252"}, {"iso88591", "windows-1252"},  {"iso885915", "windows-1252"},
};

std::string Squeezed(std::string_view name) {
  std::string out;
  for (char c : name)
    if (c != '-' && c != '_' && c != ' ') out += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return out;
}

// The upper halves of the single-byte pages (0: the byte is not defined
// there). They read and write these pages without loading iconv's module
// for each, which costs more than a collection's worth of conversions.
struct SingleBytePage {
  const char* name;
  uint16_t high[128];
};

constexpr SingleBytePage kSingleBytePages[] = {
    {"windows-1251",
     {0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
      0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
      0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
      0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
      0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
      0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
      0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
      0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
      0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
      0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F}},
    {"windows-1250",
     {0x20AC, 0x0000, 0x201A, 0x0000, 0x201E, 0x2026, 0x2020, 0x2021, 0x0000, 0x2030, 0x0160, 0x2039,
      0x015A, 0x0164, 0x017D, 0x0179, 0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x0000, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141,
      0x00A4, 0x0104, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
      0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB,
      0x013D, 0x02DD, 0x013E, 0x017C, 0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
      0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3,
      0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
      0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB,
      0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
      0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9}},
    {"windows-1252",
     {0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039,
      0x0152, 0x0000, 0x017D, 0x0000, 0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0000, 0x017E, 0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3,
      0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
      0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB,
      0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
      0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3,
      0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
      0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB,
      0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
      0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF}},
    {"KOI8-R",
     {0x2500, 0x2502, 0x250C, 0x2510, 0x2514, 0x2518, 0x251C, 0x2524, 0x252C, 0x2534, 0x253C, 0x2580,
      0x2584, 0x2588, 0x258C, 0x2590, 0x2591, 0x2592, 0x2593, 0x2320, 0x25A0, 0x2219, 0x221A, 0x2248,
      0x2264, 0x2265, 0x00A0, 0x2321, 0x00B0, 0x00B2, 0x00B7, 0x00F7, 0x2550, 0x2551, 0x2552, 0x0451,
      0x2553, 0x2554, 0x2555, 0x2556, 0x2557, 0x2558, 0x2559, 0x255A, 0x255B, 0x255C, 0x255D, 0x255E,
      0x255F, 0x2560, 0x2561, 0x0401, 0x2562, 0x2563, 0x2564, 0x2565, 0x2566, 0x2567, 0x2568, 0x2569,
      0x256A, 0x256B, 0x256C, 0x00A9, 0x044E, 0x0430, 0x0431, 0x0446, 0x0434, 0x0435, 0x0444, 0x0433,
      0x0445, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x044F, 0x0440, 0x0441,
      0x0442, 0x0443, 0x0436, 0x0432, 0x044C, 0x044B, 0x0437, 0x0448, 0x044D, 0x0449, 0x0447, 0x044A,
      0x042E, 0x0410, 0x0411, 0x0426, 0x0414, 0x0415, 0x0424, 0x0413, 0x0425, 0x0418, 0x0419, 0x041A,
      0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x042F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0416, 0x0412,
      0x042C, 0x042B, 0x0417, 0x0428, 0x042D, 0x0429, 0x0427, 0x042A}},
};

const SingleBytePage* SingleByte(const std::string& codePage) {
  for (const auto& p : kSingleBytePages)
    if (codePage == p.name) return &p;
  return nullptr;
}

// The bytes in a single-byte page as UTF-8; a byte the page does not define
// gets replacement, or ends the conversion (nothing) without one.
std::optional<std::string> DecodeSingleByte(std::string_view bytes, const SingleBytePage& page,
                                            const std::string_view* replacement) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char ch : bytes) {
    const auto b = uint8_t(ch);
    const uint16_t cp = b < 0x80 ? b : page.high[b - 0x80];
    if (b >= 0x80 && cp == 0) {
      if (!replacement) return std::nullopt;
      out.append(*replacement);
    } else {
      AppendUtf8(out, cp);
    }
  }
  return out;
}

const char* IconvName(const std::string& codePage) {
  for (const auto& c : kCodePages)
    if (codePage == c.name) return c.iconv;
  return nullptr;
}

// An iconv conversion descriptor, closed with the object.
class TIconv {
 public:
  TIconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~TIconv() {
    if (Ok()) iconv_close(cd_);
  }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // Back to the initial state, for a new text.
  void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }
  // Converts as much of in as it can into out; advances in. Returns errno
  // of the stop (0 when all of in was converted).
  int Step(std::string_view& in, std::string& out) {
    char buf[4096];
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    char* dst = buf;
    size_t room = sizeof buf;
    const size_t r = iconv(cd_, &src, &left, &dst, &room);
    const int err = r == size_t(-1) ? errno : 0;
    out.append(buf, size_t(dst - buf));
    in.remove_prefix(in.size() - left);
    return err == E2BIG ? (in.empty() ? 0 : E2BIG) : err;
  }

 private:
  iconv_t cd_;
};

// --------------------------------------------------------------- code points

// The next code point of valid UTF-8 text; advances pos.
char32_t NextCodePoint(std::string_view s, size_t& pos) {
  const auto b = uint8_t(s[pos]);
  const int len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (int i = 1; i < len && pos + size_t(i) < s.size(); ++i) cp = (cp << 6) | (uint8_t(s[pos + size_t(i)]) & 0x3F);
  pos += size_t(len);
  return cp;
}

// UTF-8 text in a single-byte page; nothing, with the character in
// *unencodable (when given), when the page has no place for one.
std::optional<std::string> EncodeSingleByte(std::string_view utf8, const SingleBytePage& page,
                                            std::string* unencodable) {
  std::string out;
  for (size_t pos = 0; pos < utf8.size();) {
    const size_t start = pos;
    const char32_t c = NextCodePoint(utf8, pos);
    const uint16_t* found = c < 0x80 ? nullptr : std::find(std::begin(page.high), std::end(page.high), c);
    if (c < 0x80) {
      out += char(c);
    } else if (found != std::end(page.high)) {
      out += char(0x80 + (found - std::begin(page.high)));
    } else {
      if (unencodable) unencodable->assign(utf8.substr(start, pos - start));
      return std::nullopt;
    }
  }
  return out;
}

enum class Script { None, Latin, Greek, Cyrillic, Cjk };

Script ScriptOf(char32_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c < 0x250 && c != 0xD7 && c != 0xF7))
    return Script::Latin;
  if (c >= 0x386 && c < 0x400) return Script::Greek;
  if (c >= 0x400 && c < 0x530) return Script::Cyrillic;
  if ((c >= 0x3040 && c < 0x3100) || (c >= 0x3400 && c < 0x4DC0) || (c >= 0x4E00 && c < 0xA000) ||
      (c >= 0xF900 && c < 0xFB00) || (c >= 0xAC00 && c < 0xD7A4) || (c >= 0xFF21 && c < 0xFF3B) ||
      (c >= 0xFF41 && c < 0xFF5B) || (c >= 0xFF66 && c < 0xFFA0))
    return Script::Cjk;
  return Script::None;
}

// Capital letters of the alphabets the legacy code pages hold.
bool IsCapital(char32_t c) {
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= 0xC0 && c <= 0xDE) return c != 0xD7;
  if (c >= 0x100 && c < 0x138) return c % 2 == 0;
  if (c >= 0x139 && c < 0x149) return c % 2 == 1;
  if (c >= 0x14A && c < 0x178) return c % 2 == 0;
  if (c == 0x178) return true;
  if (c >= 0x179 && c < 0x17F) return c % 2 == 1;
  if (c >= 0x386 && c < 0x3AC) return true;
  if (c >= 0x400 && c < 0x430) return true;
  if (c >= 0x460 && c < 0x530) return c % 2 == 0;
  return false;
}

// Signs that ordinary names and descriptions hold besides letters.
bool IsUsualSign(char32_t c) {
  static constexpr char32_t kSigns[] = {0xA0,   0xA9,   0xAB,   0xAE,   0xB0,   0xBB,   0x2013, 0x2014,
                                        0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2026, 0x2116, 0x2122};
  if (std::find(std::begin(kSigns), std::end(kSigns), c) != std::end(kSigns)) return true;
  return (c >= 0x3000 && c < 0x3040) || c == 0x30FB || c == 0x30FC || (c >= 0xFF01 && c < 0xFF21) ||
         (c >= 0xFF3B && c < 0xFF41) || (c >= 0xFF5B && c < 0xFF66);
}

// Double-byte characters that texts seldom hold: outside GB2312 for GBK,
// the less frequent level for Big5 and Shift_JIS; half-width katakana.
int RareDoubleBytes(std::string_view bytes, const std::string& codePage) {
  const bool gbk = codePage == "GBK", big5 = codePage == "Big5", sjis = codePage == "Shift_JIS";
  if (!gbk && !big5 && !sjis) return 0;
  int rare = 0;
  for (size_t i = 0; i < bytes.size();) {
    const auto lead = uint8_t(bytes[i]);
    const auto trail = i + 1 < bytes.size() ? uint8_t(bytes[i + 1]) : 0;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (sjis && lead >= 0xA1 && lead <= 0xDF) {
      ++rare;
      ++i;
      continue;
    }
    if (gbk && !((lead >= 0xB0 && lead <= 0xF7 && trail >= 0xA1) || (lead >= 0xA1 && lead <= 0xA9 && trail >= 0xA1)))
      ++rare;
    if (big5 && lead >= 0xC9) ++rare;
    if (sjis && lead >= 0xE0) ++rare;
    i += 2;
  }
  return rare;
}

// The values of the manifest's lines (continuations joined) that hold bytes
// above ASCII, one per line: what tells one code page from another.
std::string NonAsciiValues(std::span<const uint8_t> manifest) {
  std::string out;
  for (const std::string& line : ParseManifestLines(manifest)) {
    if (IsAscii(line)) continue;
    const size_t colon = line.find(':');
    out.append(colon == std::string::npos ? line : line.substr(colon + 1));
    out += '\n';
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------- UTF-8

size_t Utf8CompleteLength(std::string_view s) {
  // Walk back over at most three continuation bytes to the last lead byte.
  size_t lead = s.size();
  for (int k = 0; k < 4 && lead > 0; ++k) {
    const auto b = uint8_t(s[lead - 1]);
    --lead;
    if ((b & 0xC0) != 0x80) break;
  }
  if (lead >= s.size()) return s.size();
  const auto b = uint8_t(s[lead]);
  const size_t need = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
  return s.size() - lead < need ? lead : s.size();
}

std::string CutUtf8(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  return std::string(text.substr(0, Utf8CompleteLength(text.substr(0, maxBytes))));
}

// ------------------------------------------------------------ names

const std::vector<std::string>& LegacyCodePages() {
  // The single-byte pages first: a short Cyrillic or Central European name
  // is also a row of common Chinese characters, while Chinese or Japanese
  // read in a single-byte page shows the signs and mixed cases that the
  // plausibility weighs. KOI8-R last since it reads every byte.
  static const std::vector<std::string> kOrder = {"windows-1251", "windows-1250", "windows-1252", "GBK",
                                                  "Big5",         "Shift_JIS",    "KOI8-R"};
  return kOrder;
}

std::string CanonicalCodePage(std::string_view name) {
  const std::string key = Squeezed(name);
  for (const auto& c : kCodePages)
    if (key == Squeezed(c.name)) return c.name;
  for (const auto& a : kAliases)
    if (key == a.alias) return a.name;
  return {};
}

std::string CodePageOfDetected(std::string_view detected) {
  const std::string key = Squeezed(detected);
  for (const auto& d : kDetected)
    if (key == d.alias) return d.name;
  return {};
}

// ------------------------------------------------------------ conversion

struct TConverters::Impl {
  std::vector<std::pair<std::string, std::unique_ptr<TIconv>>> open;  // by "to<from"

  TIconv* Get(const char* to, const char* from) {
    const std::string key = std::string(to) + "<" + from;
    for (auto& [k, cd] : open)
      if (k == key) {
        cd->Reset();
        return cd.get();
      }
    auto cd = std::make_unique<TIconv>(to, from);
    if (!cd->Ok()) return nullptr;
    open.emplace_back(key, std::move(cd));
    return open.back().second.get();
  }

  // Converts in; a sequence the source does not define calls onInvalid with
  // the rest of the input (which it may advance) and stops the conversion
  // when onInvalid returns false. An incomplete sequence at the end stops
  // it too.
  template <class OnInvalid>
  bool Convert(const char* to, const char* from, std::string_view in, std::string& out, OnInvalid onInvalid) {
    TIconv* cd = Get(to, from);
    if (!cd) return false;
    while (!in.empty()) {
      const int err = cd->Step(in, out);
      if (err == 0 || err == E2BIG) continue;
      if (err == EILSEQ && onInvalid(in)) continue;
      return false;
    }
    return true;
  }
};

TConverters::TConverters() : impl_(std::make_unique<Impl>()) {}
TConverters::~TConverters() = default;
TConverters::TConverters(TConverters&&) noexcept = default;
TConverters& TConverters::operator=(TConverters&&) noexcept = default;

std::optional<std::string> TConverters::DecodeStrict(std::string_view bytes, const std::string& codePage) {
  if (const SingleBytePage* page = SingleByte(codePage)) return DecodeSingleByte(bytes, *page, nullptr);
  const char* from = IconvName(codePage);
  if (!from) return std::nullopt;
  if (codePage == kUtf8) return IsValidUtf8(bytes) ? std::optional<std::string>(std::string(bytes)) : std::nullopt;
  std::string out;
  if (!impl_->Convert("UTF-8", from, bytes, out, [](std::string_view&) { return false; })) return std::nullopt;
  return out;
}

std::string TConverters::DecodeText(std::string_view bytes, const std::string& codePage,
                                    std::string_view replacement) {
  if (IsAscii(bytes)) return std::string(bytes);
  const char* from = IconvName(codePage);
  // A name that is no code page reads as the Western one.
  const SingleBytePage* page = from ? SingleByte(codePage) : SingleByte("windows-1252");
  if (page) return *DecodeSingleByte(bytes, *page, &replacement);
  std::string out;
  out.reserve(bytes.size() * 2);
  // A stop at an incomplete sequence at the end leaves out as converted so far.
  impl_->Convert("UTF-8", from, bytes, out, [&](std::string_view& rest) {
    out.append(replacement);
    rest.remove_prefix(1);
    return true;
  });
  return out;
}

std::optional<std::string> TConverters::EncodeStrict(std::string_view utf8, const std::string& codePage,
                                                     std::string* unencodable) {
  const char* to = IconvName(codePage);
  if (!to) return std::nullopt;
  if (codePage == kUtf8 || IsAscii(utf8)) return std::string(utf8);
  if (const SingleBytePage* page = SingleByte(codePage)) return EncodeSingleByte(utf8, *page, unencodable);
  std::string out;
  std::string bad;
  const bool ok = impl_->Convert(to, "UTF-8", utf8, out, [&](std::string_view& rest) {
    size_t pos = 0;
    if (!rest.empty()) NextCodePoint(rest, pos);
    bad.assign(rest.substr(0, std::min(pos, rest.size())));
    return false;
  });
  if (ok) return out;
  if (unencodable) *unencodable = bad;
  return std::nullopt;
}

std::optional<std::string> DecodeStrict(std::string_view bytes, const std::string& codePage) {
  return TConverters().DecodeStrict(bytes, codePage);
}

std::string DecodeText(std::string_view bytes, const std::string& codePage, std::string_view replacement) {
  return TConverters().DecodeText(bytes, codePage, replacement);
}

std::optional<std::string> EncodeStrict(std::string_view utf8, const std::string& codePage, std::string* unencodable) {
  return TConverters().EncodeStrict(utf8, codePage, unencodable);
}

std::string EncodeEdited(std::string_view utf8, const std::string& codePage) {
  std::string bad;
  if (auto bytes = EncodeStrict(utf8, codePage, &bad)) return *bytes;
  char code[16];
  size_t pos = 0;
  const char32_t cp = bad.empty() ? 0 : NextCodePoint(bad, pos);
  std::snprintf(code, sizeof code, "U+%04X", unsigned(cp));
  throw std::range_error("The character '" + bad + "' (" + code + ") cannot be written in " + codePage +
                         ", the code page of this manifest");
}

namespace {

// A Latin word of two letters or more in which every letter carries an
// accent: how Cyrillic text reads in a Western or Central European page.
struct TAccentedWord {
  int letters = 0;
  int plain = 0;
  void Add(char32_t c) {
    ++letters;
    if (c < 0x80) ++plain;
  }
  int End() {
    const bool odd = letters >= 2 && plain == 0;
    letters = plain = 0;
    return odd ? 2 : 0;
  }
};

}  // namespace

int Implausibility(std::string_view bytes, std::string_view utf8, const std::string& codePage) {
  int score = RareDoubleBytes(bytes, codePage);
  char32_t before = ' ', prev = ' ';
  TAccentedWord word;
  for (size_t pos = 0; pos < utf8.size();) {
    const char32_t c = NextCodePoint(utf8, pos);
    const Script s = ScriptOf(c), ps = ScriptOf(prev);
    if (s == Script::Latin) word.Add(c);
    else score += word.End();
    if (c >= 0x80 && s == Script::None && !IsUsualSign(c)) score += 2;
    // A sign such as (R), a degree or a guillemet stands beside words, not
    // between two letters of one (an apostrophe or a dash may).
    if (s != Script::None && s != Script::Cjk && ps == Script::None && prev >= 0x80 && prev != 0x2019 &&
        prev != 0x2013 && prev != 0x2014 && ScriptOf(before) != Script::None && ScriptOf(before) != Script::Cjk)
      score += 2;
    // Latin, Greek and Cyrillic letters do not meet inside a word.
    if (s != ps && s != Script::None && ps != Script::None && s != Script::Cjk && ps != Script::Cjk) score += 2;
    // Nor does a capital follow a small letter.
    if (c >= 0x80 && s != Script::Cjk && ps != Script::None && ps != Script::Cjk && IsCapital(c) && !IsCapital(prev))
      score += 1;
    before = prev;
    prev = c;
  }
  return score + word.End();
}

// ------------------------------------------------------------ detector

struct TCharsetDetector::Api {
  using New = void* (*)();
  using Delete = void (*)(void*);
  using HandleData = int (*)(void*, const char*, size_t);
  using DataEnd = void (*)(void*);
  using GetCharset = const char* (*)(void*);
  using Reset = void (*)(void*);
  std::unique_ptr<void, int (*)(void*)> lib{nullptr, dlclose};
  New create = nullptr;
  Delete destroy = nullptr;
  HandleData handleData = nullptr;
  DataEnd dataEnd = nullptr;
  GetCharset charset = nullptr;
  Reset reset = nullptr;
  // One detector for every text, reset in between (declared after lib so
  // that it is deleted before the library is closed).
  std::unique_ptr<void, Delete> handle{nullptr, nullptr};
};

TCharsetDetector::TCharsetDetector() {
  auto api = std::make_unique<Api>();
  api->lib.reset(dlopen("libuchardet.so.0", RTLD_NOW | RTLD_LOCAL));
  if (!api->lib) {
    const char* why = dlerror();
    error_ = why ? why : "libuchardet.so.0 cannot be loaded";
    return;
  }
  void* h = api->lib.get();
  api->create = reinterpret_cast<Api::New>(dlsym(h, "uchardet_new"));
  api->destroy = reinterpret_cast<Api::Delete>(dlsym(h, "uchardet_delete"));
  api->handleData = reinterpret_cast<Api::HandleData>(dlsym(h, "uchardet_handle_data"));
  api->dataEnd = reinterpret_cast<Api::DataEnd>(dlsym(h, "uchardet_data_end"));
  api->charset = reinterpret_cast<Api::GetCharset>(dlsym(h, "uchardet_get_charset"));
  api->reset = reinterpret_cast<Api::Reset>(dlsym(h, "uchardet_reset"));
  if (!api->create || !api->destroy || !api->handleData || !api->dataEnd || !api->charset || !api->reset) {
    error_ = "libuchardet.so.0 lacks the functions of its interface";
    return;
  }
  api->handle = std::unique_ptr<void, Api::Delete>(api->create(), api->destroy);
  if (!api->handle) {
    error_ = "libuchardet.so.0 could not make a detector";
    return;
  }
  api_ = std::move(api);
}

TCharsetDetector::~TCharsetDetector() = default;

std::string TCharsetDetector::Detect(std::string_view bytes) {
  if (!api_) return {};
  void* d = api_->handle.get();
  api_->reset(d);
  if (api_->handleData(d, bytes.data(), bytes.size()) != 0) return {};
  api_->dataEnd(d);
  const char* name = api_->charset(d);
  return name ? name : "";
}

// ------------------------------------------------------------ manifest codec

TManifestCodec::TManifestCodec(std::string_view codePage) {
  if (codePage.empty() || SameTextAscii(std::string(codePage), "auto")) return;
  fixed_ = CanonicalCodePage(codePage);
  if (fixed_.empty())
    throw std::invalid_argument("unknown code page '" + std::string(codePage) +
                                "' (auto, UTF-8, windows-1251, KOI8-R, GBK, Big5, Shift_JIS, windows-1250, "
                                "windows-1252)");
}

TManifestCodec::~TManifestCodec() = default;
TManifestCodec::TManifestCodec(TManifestCodec&&) noexcept = default;
TManifestCodec& TManifestCodec::operator=(TManifestCodec&&) noexcept = default;

std::string TManifestCodec::CodePageOf(std::span<const uint8_t> manifest) {
  const std::string_view raw(reinterpret_cast<const char*>(manifest.data()), manifest.size());
  if (IsValidUtf8(raw)) return kUtf8;
  if (!fixed_.empty()) return fixed_;
  const std::string values = NonAsciiValues(manifest);
  // A value folded inside a character is UTF-8 once its lines are joined.
  if (IsValidUtf8(values)) return kUtf8;
  return Detect(values);
}

std::string TManifestCodec::Detect(std::string_view bytes) {
  // Each legacy page's reading, weighed; the plainest one wins.
  std::vector<std::string> plainest;
  int bestScore = 0;
  for (const std::string& cp : LegacyCodePages()) {
    const auto text = converters_.DecodeStrict(bytes, cp);
    if (!text) continue;
    const int score = Implausibility(bytes, *text, cp);
    if (plainest.empty() || score < bestScore) {
      plainest = {cp};
      bestScore = score;
    } else if (score == bestScore) {
      plainest.push_back(cp);
    }
  }
  // Only when several pages read the bytes equally well, or none reads them,
  // is the charset detector asked (and loaded): its word decides the tie.
  if (plainest.size() == 1) return plainest.front();
  if (!detector_) detector_ = std::make_unique<TCharsetDetector>();
  const std::string guess = CodePageOfDetected(detector_->Detect(bytes));
  if (plainest.empty()) return guess.empty() ? "windows-1252" : guess;
  if (std::find(plainest.begin(), plainest.end(), guess) != plainest.end()) return guess;
  return plainest.front();
}

std::string TManifestCodec::Text(std::string_view value, const std::string& codePage, std::string_view replacement) {
  return converters_.DecodeText(value, codePage, replacement);
}

std::string TManifestCodec::TakeNotice() {
  if (noticeGiven_ || !detector_ || detector_->Available()) return {};
  noticeGiven_ = true;
  return "the charset detector (libuchardet.so.0) is not installed; code pages are chosen without it: " +
         detector_->LoadError();
}

}  // namespace parcelix
