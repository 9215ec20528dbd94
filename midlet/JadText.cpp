// Reading JAD and manifest attribute texts by the MIDP and JAR rules.
#include "midlet/JadText.h"

#include <algorithm>

#include "engine/common/arxGbls.h"

namespace parcelix {

namespace {

struct Line {
  std::string_view text;  // without its line end
  size_t endLength = 0;   // 0 (the text ended), 1 (CR or LF) or 2 (CR LF)
};

// Splits at CR LF, a lone CR and a lone LF.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}
  bool Next(Line& line) {
    if (pos_ >= text_.size()) return false;
    const size_t end = text_.find_first_of("\r\n", pos_);
    const size_t stop = end == std::string_view::npos ? text_.size() : end;
    line.text = text_.substr(pos_, stop - pos_);
    line.endLength = stop == text_.size() ? 0 : (text_[stop] == '\r' && stop + 1 < text_.size() && text_[stop + 1] == '\n') ? 2 : 1;
    pos_ = stop + line.endLength;
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// One line of the attribute part: a new attribute, or the continuation of
// the last one.
void TakeLine(AttributeText& t, std::string_view line, std::string& lastRaw) {
  if (line.front() == ' ') {
    t.continuation = true;
    if (t.attributes.empty()) {
      ++t.malformedLines;
      return;
    }
    lastRaw.append(line.substr(1));
    t.attributes.back().second = std::string(TrimBlanks(lastRaw));
    return;
  }
  const size_t colon = line.find(':');
  const std::string_view name = colon == std::string_view::npos ? std::string_view() : TrimBlanks(line.substr(0, colon));
  if (name.empty()) {
    ++t.malformedLines;
    return;
  }
  lastRaw = std::string(line.substr(colon + 1));
  t.attributes.emplace_back(std::string(name), std::string(TrimBlanks(lastRaw)));
}

// Notes on every line of the text; attributes from the lines before the
// first blank one (mainOnly) or from every non-blank line. Attributes stop
// at a NUL byte, as the program's manifest reader does.
AttributeText Scan(std::span<const uint8_t> bytes, bool mainOnly) {
  AttributeText t;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  t.validUtf8 = IsValidUtf8(bytes);
  if (text.starts_with("\xEF\xBB\xBF")) {
    t.bom = true;
    text.remove_prefix(3);
  }
  const size_t nul = text.find('\0');
  t.nul = nul != std::string_view::npos;
  const size_t attributeEnd = t.nul ? nul : text.size();
  LineReader reader(text);
  Line line;
  bool taking = true;
  std::string lastRaw;
  size_t at = 0;  // offset of the line in text
  while (reader.Next(line)) {
    ++t.lines;
    t.longestLine = std::max(t.longestLine, line.text.size());
    t.longestWithEnd = std::max(t.longestWithEnd, line.text.size() + line.endLength);
    if (!line.text.empty() && line.endLength == 0) t.finalLineEnd = false;
    if (line.text.empty() && mainOnly) taking = false;
    if (taking && !line.text.empty() && at < attributeEnd)
      TakeLine(t, line.text.substr(0, std::min(line.text.size(), attributeEnd - at)), lastRaw);
    at += line.text.size() + line.endLength;
  }
  return t;
}

// The length of the UTF-8 sequence that starts at p (0 when it is not one).
size_t Utf8Sequence(const uint8_t* p, size_t left) {
  const uint8_t c = p[0];
  if (c < 0x80) return 1;
  size_t n;
  uint8_t lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;       // overlong
    else if (c == 0xED) hi = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    else if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (left < n || p[1] < lo || p[1] > hi) return 0;
  for (size_t i = 2; i < n; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  return n;
}

}  // namespace

AttributeText ParseJadText(std::span<const uint8_t> bytes) { return Scan(bytes, false); }

AttributeText ParseManifestText(std::span<const uint8_t> bytes) { return Scan(bytes, true); }

const std::string* FindAttribute(const JadAttributes& attributes, std::string_view name) {
  for (const auto& [key, value] : attributes)
    if (key == name) return &value;
  return nullptr;
}

bool IsValidUtf8(std::span<const uint8_t> bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const size_t n = Utf8Sequence(bytes.data() + i, bytes.size() - i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

bool IsMidletVersion(std::string_view value) {
  int parts = 0;
  while (true) {
    size_t digits = 0;
    while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9') ++digits;
    if (digits == 0 || digits > 2) return false;
    ++parts;
    value.remove_prefix(digits);
    if (value.empty()) return parts >= 2;
    if (value.front() != '.' || parts == 3) return false;
    value.remove_prefix(1);
  }
}

}  // namespace parcelix
