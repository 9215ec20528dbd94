#include "midlet/JadUpdate.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "engine/common/FileSystem.h"
#include "engine/common/arxGbls.h"

namespace parcelix {

namespace {

constexpr std::string_view kSizeName = "MIDlet-Jar-Size";
constexpr std::string_view kUrlName = "MIDlet-Jar-URL";
constexpr std::string_view kBom = "\xEF\xBB\xBF";

// The attribute name of a line ("" for a continuation or a line without ':').
std::string_view NameOf(std::string_view body, bool first) {
  if (first && body.substr(0, kBom.size()) == kBom) body.remove_prefix(kBom.size());
  const size_t colon = body.find(':');
  if (body.empty() || body[0] == ' ' || colon == std::string_view::npos) return {};
  return body.substr(0, colon);
}

// The value of lines[i] with its continuation lines joined.
std::string JoinedValue(const std::vector<TextLine>& lines, size_t i) {
  std::string value(lines[i].body.substr(lines[i].body.find(':') + 1));
  for (size_t j = i + 1; j < lines.size() && !lines[j].body.empty() && lines[j].body[0] == ' '; ++j)
    value.append(lines[j].body.substr(1));
  return std::string(TrimBlanks(value));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecoded(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
      out += char(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The line "Name:<spaces>value": the name and spaces as the line had them
// (one space when it had none).
std::string ReplacedLine(std::string_view body, std::string_view value) {
  const size_t colon = body.find(':');
  size_t start = colon + 1;
  while (start < body.size() && (body[start] == ' ' || body[start] == '\t')) ++start;
  std::string line(body.substr(0, start));
  if (start == colon + 1) line += ' ';
  return line + std::string(value);
}

void Note(std::string* changes, std::string_view name, const std::string& from, std::string_view to) {
  if (!changes) return;
  if (!changes->empty()) *changes += ", ";
  *changes += std::string(name) + (from.empty() ? " added: " : " " + from + " -> ") + std::string(to);
}

}  // namespace

JadAttributes ParseJadAttributes(std::string_view text) {
  return ParseJadText({reinterpret_cast<const uint8_t*>(text.data()), text.size()}).attributes;
}

bool JadUrlKeeps(std::string_view url, std::string_view jarFileName) {
  url = TrimBlanks(url);
  if (url.find("://") != std::string_view::npos) return true;
  const std::string decoded = PercentDecoded(url);
  return decoded == jarFileName || decoded == "./" + std::string(jarFileName);
}

std::string UpdatedJadText(std::string_view jad, uint64_t jarSize, std::string_view jarFileName,
                           std::string* changes) {
  if (changes) changes->clear();
  const std::vector<TextLine> lines = SplitLines(jad);
  const std::string size = std::to_string(jarSize);
  std::string out;
  bool haveSize = false, haveUrl = false, dropContinuation = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const TextLine& l = lines[i];
    if (dropContinuation && !l.body.empty() && l.body[0] == ' ') continue;
    dropContinuation = false;
    const std::string_view name = NameOf(l.body, i == 0);
    const bool isSize = name == kSizeName, isUrl = name == kUrlName;
    const std::string old = isSize || isUrl ? JoinedValue(lines, i) : std::string();
    haveSize |= isSize;
    haveUrl |= isUrl;
    if ((isSize && old != size) || (isUrl && !JadUrlKeeps(old, jarFileName))) {
      const std::string_view value = isSize ? std::string_view(size) : jarFileName;
      out += ReplacedLine(l.body, value);
      out += l.end;
      Note(changes, name, old.empty() ? "(empty)" : old, value);
      dropContinuation = true;
      continue;
    }
    out += l.body;
    out += l.end;
  }
  if (haveSize && haveUrl) return out;
  const std::string_view eol = !lines.empty() && !lines.front().end.empty() ? lines.front().end : "\r\n";
  if (!lines.empty() && lines.back().end.empty()) out += eol;
  if (!haveSize) {
    out += std::string(kSizeName) + ": " + size + std::string(eol);
    Note(changes, kSizeName, "", size);
  }
  if (!haveUrl) {
    out += std::string(kUrlName) + ": " + std::string(jarFileName) + std::string(eol);
    Note(changes, kUrlName, "", jarFileName);
  }
  return out;
}

JadUpdateResult UpdateJadForJar(const std::string& jadPath, const std::string& jarPath, bool dryRun) {
  JadUpdateResult r;
  struct stat st;
  errno = 0;
  if (stat(jarPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    r.message = "the JAR cannot be read: " + std::string(errno ? std::strerror(errno) : "not a file");
    return r;
  }
  std::string jad;
  if (!ReadWholeFile(jadPath, jad, kMaxJadSize)) {
    r.message = errno == EFBIG ? "the JAD is larger than " + std::to_string(kMaxJadSize >> 20) + " MiB"
                               : "the JAD cannot be read: " + std::string(std::strerror(errno));
    return r;
  }
  std::string changes;
  const std::string text = UpdatedJadText(jad, uint64_t(st.st_size), ExtractFileName(jarPath), &changes);
  if (text == jad) {
    r.status = JadUpdateResult::Status::Unchanged;
    r.message = "up to date";
    return r;
  }
  try {
    if (!dryRun) ReplaceFileContents(jadPath, text);
  } catch (const std::system_error& e) {
    r.message = "the JAD cannot be written: " + std::string(std::strerror(e.code().value()));
    return r;
  } catch (const std::exception& e) {
    r.message = "the JAD cannot be written: " + std::string(e.what());
    return r;
  }
  r.status = JadUpdateResult::Status::Updated;
  r.message = changes;
  return r;
}

}  // namespace parcelix
