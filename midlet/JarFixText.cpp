// The words of the fix and the JAD line it rewrites.
#include "midlet/JarFixText.h"

#include <algorithm>
#include <charconv>

#include "midlet/JarFix.h"

namespace parcelix {

namespace {

constexpr std::string_view kJarSize = "MIDlet-Jar-Size";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

// Calls line(start, length) for each line of text, its line end left out.
template <class F>
void ForEachLine(std::string_view text, F line) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    line(pos, end - pos);
    pos = end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
  }
}

}  // namespace

std::string CountText(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void PutRestampChanges(int descriptor, int local, int zip64, std::vector<std::string>& changes) {
  if (descriptor)
    changes.push_back("cleared the \"data descriptor follows\" flag of " + CountText(descriptor, "member", "members") +
                      " and wrote no descriptor");
  if (local)
    changes.push_back("wrote the local header of " + CountText(local, "member", "members") +
                      " again to agree with the central directory");
  if (zip64) changes.push_back("dropped zip64 fields no size needs from " + CountText(zip64, "member", "members"));
}

std::optional<std::string> UpdateJadJarSize(std::string_view jad, int64_t oldSize, int64_t newSize) {
  std::optional<std::string> out;
  bool seen = false;  // the first MIDlet-Jar-Size line is the one readers take
  ForEachLine(jad, [&](size_t start, size_t length) {
    const std::string_view line = jad.substr(start, length);
    const size_t colon = line.find(':');
    if (seen || colon == std::string_view::npos || Trim(line.substr(0, colon)) != kJarSize) return;
    seen = true;
    const std::string_view value = Trim(line.substr(colon + 1));
    int64_t given = -1;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), given);
    if (ec != std::errc() || end != value.data() + value.size() || given != oldSize) return;
    // Only the digits change: the spaces around them and the line end stay.
    const size_t at = start + size_t(value.data() - line.data());
    out = std::string(jad.substr(0, at)) + std::to_string(newSize) + std::string(jad.substr(at + value.size()));
  });
  return out;
}

}  // namespace parcelix
