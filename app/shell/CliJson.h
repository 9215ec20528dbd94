// The JSON output of the commands, written through nlohmann-json.
#pragma once

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <string>
#include <string_view>

namespace parcelix {

// Objects keep their keys in the order they were set, as documented.
using Json = nlohmann::ordered_json;

// The text with every byte that is not part of a valid UTF-8 sequence
// replaced by U+FFFD.
std::string Utf8OrReplacement(std::string_view s);
// The bytes as lowercase hexadecimal, two digits each.
std::string HexBytes(std::string_view s);

// Sets obj[key] to a text that may not be UTF-8 (a name from an archive or
// the file system). Valid UTF-8 is written as it is; otherwise obj[key]
// holds the text with U+FFFD replacements and obj[key + "_hex"] its bytes,
// so that the output is always valid JSON and the name can be recovered.
void PutText(Json& obj, const std::string& key, std::string_view value);

// Writes the value on one line (a JSON line) and flushes the stream.
void WriteJsonLine(std::ostream& out, const Json& value);

}  // namespace parcelix
