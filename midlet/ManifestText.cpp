// Manifest bytes as text: the raw attribute scan, file-safe names, line
// splitting with continuation lines, and the locale-free "word sort".
#include <algorithm>
#include <array>
#include <string_view>

#include "midlet/ManifestModel.h"
#include "midlet/MidletSuite.h"

namespace parcelix {

namespace {

// The scan of a key in raw bytes: the value is the window that follows the
// key, cut at the first line end or NUL, with bytes <= 0x20 trimmed.
std::string ScanAttribute(std::span<const uint8_t> stream, std::string_view key, size_t window,
                          bool* found) {
  if (found) *found = false;
  if (stream.size() < key.size()) return {};
  const std::string_view text(reinterpret_cast<const char*>(stream.data()), stream.size());
  const size_t hit = text.find(key);
  if (hit == std::string_view::npos) return {};
  if (found) *found = true;
  size_t start = hit + key.size();
  size_t stop = std::min(stream.size(), start + window);
  size_t end = start;
  // A value ends at a line end of any style; a NUL ends the text itself.
  while (end < stop && stream[end] != '\n' && stream[end] != '\r' && stream[end] != 0) ++end;
  while (start < end && stream[start] <= 0x20) ++start;
  while (end > start && stream[end - 1] <= 0x20) --end;
  return std::string(reinterpret_cast<const char*>(stream.data() + start), end - start);
}

// One physical line of manifest text: [begin, end) without its terminator,
// next = where the following line starts.
struct RawLine {
  size_t begin, end, next;
};

// The text of a manifest ends at its first NUL.
size_t TextEnd(std::span<const uint8_t> bytes) {
  auto nul = std::find(bytes.begin(), bytes.end(), uint8_t(0));
  return size_t(nul - bytes.begin());
}

size_t BomLength(std::span<const uint8_t> bytes, size_t end) {
  return (end >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) ? 3 : 0;
}

// Splits at CR LF, lone CR and lone LF; the last line needs no terminator and
// a terminator at the very end does not start another line.
std::vector<RawLine> SplitRawLines(std::span<const uint8_t> bytes, size_t from, size_t end) {
  std::vector<RawLine> lines;
  size_t pos = from;
  while (pos < end) {
    size_t e = pos;
    while (e < end && bytes[e] != '\r' && bytes[e] != '\n') ++e;
    size_t next = e;
    if (next < end && bytes[next] == '\r') ++next;
    if (next < end && bytes[next] == '\n' && (next == e || bytes[e] == '\r')) ++next;
    lines.push_back({pos, e, next});
    pos = next;
  }
  return lines;
}

// Lines with continuation lines (one leading space) joined to the attribute
// line before them. A continuation with nothing to continue (first line, or
// after an empty line) keeps its text without the space.
ManifestDoc JoinLines(std::span<const uint8_t> bytes, const std::vector<RawLine>& raw) {
  ManifestDoc doc;
  doc.reserve(raw.size());
  for (const RawLine& l : raw) {
    std::string text(reinterpret_cast<const char*>(bytes.data() + l.begin), l.end - l.begin);
    if (!text.empty() && text[0] == ' ') {
      if (!doc.empty() && !doc.back().empty()) {
        doc.back().append(text, 1, std::string::npos);
        continue;
      }
      text.erase(0, 1);
    }
    doc.push_back(std::move(text));
  }
  return doc;
}

bool StartsWithNameAttribute(std::span<const uint8_t> bytes, const RawLine& l) {
  static constexpr std::string_view kName = "name:";
  if (l.end - l.begin < kName.size()) return false;
  for (size_t i = 0; i < kName.size(); ++i) {
    uint8_t c = bytes[l.begin + i];
    if (c >= 'A' && c <= 'Z') c = uint8_t(c + 32);
    if (c != uint8_t(kName[i])) return false;
  }
  return true;
}

// Collation weights of the word sort. Hyphen and apostrophe have none at the
// first level; then control characters, then blanks and punctuation (in
// ASCII order), digits, letters without case, and bytes above 0x7F in byte
// order (they are UTF-8 pieces; no locale decides their order here).
constexpr bool IsIgnorable(uint8_t c) { return c == '-' || c == '\''; }

constexpr std::array<uint16_t, 256> MakeWeights() {
  std::array<uint16_t, 256> w{};
  uint16_t next = 1;
  for (int c = 1; c < 0x20; ++c) w[size_t(c)] = next++;
  w[0x7F] = next++;
  for (int c = 0x20; c < 0x7F; ++c) {
    bool digit = c >= '0' && c <= '9';
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!digit && !letter && !IsIgnorable(uint8_t(c))) w[size_t(c)] = next++;
  }
  for (int c = '0'; c <= '9'; ++c) w[size_t(c)] = next++;
  for (int c = 'a'; c <= 'z'; ++c) {
    w[size_t(c)] = next;
    w[size_t(c - 32)] = next++;
  }
  for (int c = 0x80; c < 0x100; ++c) w[size_t(c)] = next++;
  return w;
}
constexpr std::array<uint16_t, 256> kWeights = MakeWeights();

}  // namespace

std::string ReadMIDletName(std::span<const uint8_t> stream, bool* found) {
  return ScanAttribute(stream, "MIDlet-Name:", 50, found);
}

std::string ReadMIDletVersion(std::span<const uint8_t> stream, bool* found) {
  return ScanAttribute(stream, "MIDlet-Version:", 20, found);
}

std::string MakeValidFileName(std::string text) {
  for (char& c : text) {
    switch (c) {
      case '"': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
        c = '_';
        break;
      default:
        // Control characters are legal in a Linux name but break every
        // listing and script that meets them.
        if (uint8_t(c) < 0x20 || c == 0x7F) c = '_';
        break;
    }
  }
  return text;
}

ManifestDoc ParseManifestLines(std::span<const uint8_t> bytes) {
  size_t end = TextEnd(bytes);
  return JoinLines(bytes, SplitRawLines(bytes, BomLength(bytes, end), end));
}

std::optional<std::string_view> MainAttribute(const ManifestDoc& main, std::string_view name) {
  for (const std::string& line : main) {
    const size_t colon = line.find(':');
    if (colon != std::string::npos && SameTextAscii(std::string_view(line).substr(0, colon), name))
      return std::string_view(line).substr(colon + 1);
  }
  return std::nullopt;
}

ManifestParts SplitManifest(std::span<const uint8_t> bytes) {
  size_t end = TextEnd(bytes);
  std::vector<RawLine> raw = SplitRawLines(bytes, BomLength(bytes, end), end);
  // Per-entry sections begin with a Name: line that follows an empty line
  // (a signed JAR's digests live there); they run to the end of the text.
  size_t cut = raw.size();
  for (size_t i = 1; i < raw.size(); ++i) {
    if (raw[i - 1].begin == raw[i - 1].end && StartsWithNameAttribute(bytes, raw[i])) {
      cut = i;
      break;
    }
  }
  ManifestParts parts;
  parts.main = JoinLines(bytes, std::vector<RawLine>(raw.begin(), raw.begin() + ptrdiff_t(cut)));
  if (cut < raw.size())
    parts.sections.assign(reinterpret_cast<const char*>(bytes.data() + raw[cut].begin), end - raw[cut].begin);
  return parts;
}

int CompareManifestLines(const std::string& a, const std::string& b) {
  // First level: weights without hyphens and apostrophes.
  size_t i = 0, j = 0;
  for (;;) {
    while (i < a.size() && IsIgnorable(uint8_t(a[i]))) ++i;
    while (j < b.size() && IsIgnorable(uint8_t(b[j]))) ++j;
    if (i == a.size() || j == b.size()) break;
    uint16_t wa = kWeights[uint8_t(a[i])], wb = kWeights[uint8_t(b[j])];
    if (wa != wb) return wa < wb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  // Equal letters: the line with fewer hyphens and apostrophes first, then
  // the one whose first such mark stands later, then hyphen before apostrophe.
  auto marks = [](const std::string& s) {
    std::vector<std::pair<size_t, uint8_t>> m;
    size_t letters = 0;
    for (char c : s) {
      if (IsIgnorable(uint8_t(c)))
        m.emplace_back(letters, uint8_t(c));
      else
        ++letters;
    }
    return m;
  };
  auto ma = marks(a), mb = marks(b);
  if (ma.size() != mb.size()) return ma.size() < mb.size() ? -1 : 1;
  for (size_t k = 0; k < ma.size(); ++k) {
    if (ma[k].first != mb[k].first) return ma[k].first > mb[k].first ? -1 : 1;
    if (ma[k].second != mb[k].second) return ma[k].second == '-' ? -1 : 1;
  }
  return 0;  // equal but for letter case
}

void SortManifestDoc(ManifestDoc& doc) {
  std::stable_sort(doc.begin(), doc.end(),
                   [](const std::string& a, const std::string& b) { return CompareManifestLines(a, b) < 0; });
}

std::string ManifestDocText(const ManifestDoc& doc) {
  std::string out;
  size_t total = 0;
  for (const auto& l : doc) total += l.size() + 2;
  out.reserve(total);
  for (const auto& l : doc) {
    out += l;
    out += "\r\n";
  }
  return out;
}

void RemoveEmptyLines(ManifestDoc& doc) {
  doc.erase(std::remove_if(doc.begin(), doc.end(), [](const std::string& l) { return l.empty(); }), doc.end());
}

}  // namespace parcelix
