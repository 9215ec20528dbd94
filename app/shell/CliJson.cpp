// The JSON output of the commands: texts that are not UTF-8 by one rule.
#include "app/shell/CliJson.h"

#include <ostream>

#include "engine/common/arxGbls.h"

namespace parcelix {

namespace {

// The length of the sequence a lead byte announces (1 for a byte that
// cannot start one).
size_t SequenceLength(unsigned char c) { return c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1; }

}  // namespace

std::string Utf8OrReplacement(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t len = c < 0x80 ? 1 : SequenceLength(c);
    if (c < 0x80 || (len > 1 && i + len <= s.size() && IsValidUtf8(s.substr(i, len)))) {
      out.append(s.substr(i, len));
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

std::string HexBytes(std::string_view s) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(s.size() * 2);
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

void PutText(Json& obj, const std::string& key, std::string_view value) {
  if (IsValidUtf8(value)) {
    obj[key] = std::string(value);
    return;
  }
  obj[key] = Utf8OrReplacement(value);
  obj[key + "_hex"] = HexBytes(value);
}

void WriteJsonLine(std::ostream& out, const Json& value) {
  // PutText keeps every text valid; "replace" is the last guard for a text
  // set directly, so that no run ever prints invalid JSON.
  out << value.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n' << std::flush;
}

}  // namespace parcelix
