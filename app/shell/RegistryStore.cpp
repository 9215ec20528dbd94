// The text form of Parcelix's registry store.
//
// Store format (one file, UTF-8/8-bit text, LF line ends):
//   ; comment
//   [.jar]
//   @="jarfile"
//   [jarfile\shell\Parcelix: Rename\command]
//   @="\"/usr/bin/parcelix\" /rename \"%1\""
// A section names one key by its path from the root ("[]" is the root itself);
// its ancestors exist too. "@" is the default value, "\"name\"" a named one.
// Values are in double quotes with \\ \" \n \r \t and \xHH escapes. Lines that
// do not parse are skipped, so a damaged store loses only what is damaged.
#include "app/shell/RegistryStore.h"

#include "app/shell/KeyFile.h"

namespace parcelix {

// A key name may hold anything but '\' (the separator) and control characters.
bool ValidKeyName(std::string_view name) {
  if (name.empty()) return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f || c == '\\') return false;
  return true;
}

namespace {

std::string Quote(std::string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string starting at s[pos] == '"'; pos ends after the closing quote.
bool Unquote(std::string_view s, size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  out.clear();
  for (++pos; pos < s.size(); ++pos) {
    char c = s[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c != '\\' || pos + 1 >= s.size()) {
      out += c;
      continue;
    }
    char e = s[++pos];
    switch (e) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        int hi = pos + 1 < s.size() ? HexDigit(s[pos + 1]) : -1;
        int lo = pos + 2 < s.size() ? HexDigit(s[pos + 2]) : -1;
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        pos += 2;
        break;
      }
      default: out += e;  // \\ \" and anything else stand for the character itself
    }
  }
  return false;  // no closing quote
}

}  // namespace

bool SplitKeyPath(std::string_view text, std::vector<std::string>& out) {
  out.clear();
  if (text.empty()) return true;  // the root
  size_t start = 0;
  while (true) {
    size_t end = text.find('\\', start);
    std::string_view part = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!ValidKeyName(part)) return false;
    out.emplace_back(part);
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

void ParseStore(std::string_view text, TKeyNode& root) {
  TKeyNode* current = nullptr;
  size_t lineStart = 0;
  std::vector<std::string> path;
  while (lineStart < text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = text.size();
    std::string_view line = text.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      current = nullptr;
      if (line.size() < 2 || line.back() != ']') continue;
      if (!SplitKeyPath(line.substr(1, line.size() - 2), path)) continue;
      current = &root;
      for (const auto& part : path) current = current->FindOrAdd(part);
      continue;
    }
    if (!current) continue;
    std::string name;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!Unquote(line, pos, name) || name.empty()) {
      continue;
    }
    if (pos >= line.size() || line[pos] != '=') continue;
    ++pos;
    std::string value;
    if (!Unquote(line, pos, value) || pos != line.size()) continue;
    current->SetValue(name, value);
  }
}

namespace {

void WriteKeyValues(const TKeyNode& node, TKeyFileWriter& out) {
  for (const auto& v : node.values) out.Entry(v.first.empty() ? std::string("@") : Quote(v.first), Quote(v.second));
}

void WriteKeys(const TKeyNode& node, const std::string& path, TKeyFileWriter& out) {
  for (const auto& k : node.keys) {
    const std::string childPath = path.empty() ? k->name : path + "\\" + k->name;
    out.Group(childPath);
    WriteKeyValues(*k, out);
    WriteKeys(*k, childPath, out);
  }
}

}  // namespace

std::string FormatStore(const TKeyNode& root) {
  TKeyFileWriter out(';');
  out.Comment("Parcelix registry: file types and their context-menu verbs.");
  out.Comment("Written by Parcelix; \"parcelix integrate status\" shows what it means.");
  if (!root.values.empty()) {
    out.Group("");
    WriteKeyValues(root, out);
  }
  WriteKeys(root, "", out);
  return out.Text();
}

}  // namespace parcelix
