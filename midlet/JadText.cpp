// Reading JAD and manifest attribute texts by the MIDP and JAR rules.
#include "midlet/JadText.h"

#include <algorithm>

#include "engine/common/arxGbls.h"

namespace parcelix {

namespace {

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
  bool taking = true;
  std::string lastRaw;
  size_t at = 0;  // offset of the line in text
  for (const TextLine& line : SplitLines(text)) {
    ++t.lines;
    t.longestLine = std::max(t.longestLine, line.body.size());
    t.longestWithEnd = std::max(t.longestWithEnd, line.body.size() + line.end.size());
    if (!line.body.empty() && line.end.empty()) t.finalLineEnd = false;
    if (line.body.empty() && mainOnly) taking = false;
    if (taking && !line.body.empty() && at < attributeEnd)
      TakeLine(t, line.body.substr(0, std::min(line.body.size(), attributeEnd - at)), lastRaw);
    at += line.body.size() + line.end.size();
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

std::vector<TextLine> SplitLines(std::string_view text) {
  std::vector<TextLine> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      lines.push_back({text.substr(pos), {}});
      break;
    }
    const size_t endLen = text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
    lines.push_back({text.substr(pos, end - pos), text.substr(end, endLen)});
    pos = end + endLen;
  }
  return lines;
}

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
