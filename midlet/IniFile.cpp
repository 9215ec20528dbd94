// The private-profile (INI) reader and writer behind the settings store.
#include "midlet/IniFile.h"

#include <cstdint>
#include <system_error>
#include <string_view>

#include "engine/common/arxGbls.h"
#include "engine/common/FileSystem.h"
#include "midlet/Settings.h"

namespace parcelix {

namespace {

// "[name]" gives name; anything else nothing.
bool SectionName(std::string_view line, std::string_view& name) {
  std::string_view t = TrimBlanks(line);
  if (t.empty() || t[0] != '[') return false;
  size_t close = t.find(']');
  name = TrimBlanks(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
  return true;
}

bool KeyOf(std::string_view line, std::string_view& key) {
  std::string_view t = TrimBlanks(line);
  if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') return false;
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  key = TrimBlanks(t.substr(0, eq));
  return true;
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
  std::string text;
  if (!ReadWholeFile(path_, text)) return;
  size_t pos = 0;
  bool eolKnown = false;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string::npos ? text.size() : nl;
    size_t lineEnd = end;
    if (lineEnd > pos && text[lineEnd - 1] == '\r') --lineEnd;
    if (!eolKnown && nl != std::string::npos) {
      eol_ = lineEnd < end ? "\r\n" : "\n";
      eolKnown = true;
    }
    lines_.push_back(text.substr(pos, lineEnd - pos));
    pos = nl == std::string::npos ? text.size() : nl + 1;
  }
}

size_t TIniFile::FindSection(const std::string& section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    std::string_view name;
    if (SectionName(lines_[i], name) && SameTextAscii(name, section)) return i;
  }
  return std::string::npos;
}

size_t TIniFile::SectionEnd(size_t header) const {
  for (size_t i = header + 1; i < lines_.size(); ++i) {
    std::string_view name;
    if (SectionName(lines_[i], name)) return i;
  }
  return lines_.size();
}

size_t TIniFile::FindKey(size_t header, const std::string& key) const {
  size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    std::string_view k;
    if (KeyOf(lines_[i], k) && SameTextAscii(k, key)) return i;
  }
  return std::string::npos;
}

std::optional<std::string> TIniFile::ReadString(const std::string& section, const std::string& key) const {
  size_t header = FindSection(section);
  if (header == std::string::npos) return std::nullopt;
  size_t at = FindKey(header, key);
  if (at == std::string::npos) return std::nullopt;
  std::string_view line = lines_[at];
  std::string_view value = TrimBlanks(line.substr(line.find('=') + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return std::string(value);
}

std::optional<int> TIniFile::ParseInteger(const std::string& value) {
  if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
    uint64_t v = 0;
    for (size_t i = 2; i < value.size(); ++i) {
      char c = value[i];
      int d = (c >= '0' && c <= '9') ? c - '0'
              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
              : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                       : -1;
      if (d < 0) return std::nullopt;
      v = v * 16 + uint64_t(d);
      if (v > 0xFFFFFFFFu) return std::nullopt;
    }
    return int(int32_t(uint32_t(v)));
  }
  size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  if (i == value.size()) return std::nullopt;
  int64_t v = 0;
  for (; i < value.size(); ++i) {
    if (value[i] < '0' || value[i] > '9') return std::nullopt;
    v = v * 10 + (value[i] - '0');
    if (v > int64_t(INT32_MAX) + 1) return std::nullopt;
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return std::nullopt;
  return int(v);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  auto s = ReadString(section, key);
  if (!s) return def;
  auto v = ParseInteger(*s);
  return v ? *v : def;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  std::string line = key + "=" + value;
  size_t header = FindSection(section);
  if (header == std::string::npos) {
    lines_.push_back("[" + section + "]");
    lines_.push_back(line);
    return;
  }
  size_t at = FindKey(header, key);
  if (at != std::string::npos) {
    lines_[at] = line;
    return;
  }
  // After the section's last non-blank line, so blank separator lines stay
  // between this section and the next.
  size_t insert = SectionEnd(header);
  while (insert > header + 1 && TrimBlanks(lines_[insert - 1]).empty()) --insert;
  lines_.insert(lines_.begin() + ptrdiff_t(insert), line);
}

std::string TIniFile::Text() const {
  std::string out;
  for (const auto& l : lines_) {
    out += l;
    out += eol_;
  }
  return out;
}

void TIniFile::UpdateFile() const {
  try {
    std::string dir = ExtractFilePath(path_);
    if (!dir.empty() && !DirectoryExists(dir)) ForceDirectories(dir);
    ReplaceFileContents(path_, Text());
  } catch (const std::system_error&) {
    throw ESettingsError("Unable to write to " + path_);
  }
}

}  // namespace parcelix
