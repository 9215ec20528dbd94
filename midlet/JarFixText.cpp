// The words of the fix and the JAD line it rewrites.
#include "midlet/JarFixText.h"

#include <algorithm>
#include <charconv>

#include "engine/common/arxGbls.h"
#include "midlet/JadUpdate.h"
#include "midlet/JarFix.h"

namespace parcelix {

namespace {

constexpr std::string_view kJarSize = "MIDlet-Jar-Size";

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
  for (const TextLine& l : SplitLines(jad)) {
    const std::string_view line = l.body;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || TrimBlanks(line.substr(0, colon)) != kJarSize) continue;
    // The first MIDlet-Jar-Size line is the one readers take.
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    int64_t given = -1;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), given);
    if (ec != std::errc() || end != value.data() + value.size() || given != oldSize) break;
    // Only the digits change: the spaces around them and the line end stay.
    const size_t at = size_t(value.data() - jad.data());
    out = std::string(jad.substr(0, at)) + std::to_string(newSize) + std::string(jad.substr(at + value.size()));
    break;
  }
  return out;
}

}  // namespace parcelix
