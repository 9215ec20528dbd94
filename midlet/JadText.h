// The "Name: value" texts of a MIDlet suite: the JAD descriptor and the main
// section of a JAR manifest, read by the MIDP rules, with what is odd about
// the text itself (line lengths, continuations, encoding) noted on the way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "midlet/JarSignature.h"

namespace parcelix {

// What reading one attribute text found besides the attributes.
// A line of a text (split at CR LF, a lone CR and a lone LF) with its own line end, so that a rewrite keeps it.
struct TextLine {
  std::string_view body;  // without its line end
  std::string_view end;   // "\r\n", "\n", "\r" or "" for the last line
};
std::vector<TextLine> SplitLines(std::string_view text);

struct AttributeText {
  JadAttributes attributes;     // name and value (trimmed), in file order
  bool bom = false;             // began with a UTF-8 byte-order mark (not part of the first name)
  bool nul = false;             // holds a NUL byte (a JDK reader stops there)
  bool validUtf8 = true;        // every byte is part of a valid UTF-8 sequence
  bool continuation = false;    // a line began with a space and was joined to the one before
  bool finalLineEnd = true;     // the last non-empty line ends with CR or LF
  size_t longestLine = 0;       // the longest line in bytes, its line end not counted
  size_t longestWithEnd = 0;    // the same with its line end (the JDK reader's buffer holds 512)
  size_t malformedLines = 0;    // non-empty lines without a colon, or with an empty name
  size_t lines = 0;             // physical lines read (continuations included)
};

// Reads a JAD: every "Name: value" line; blank lines are passed over; a
// line that begins with a space continues the one before (phones differ on
// that, so it is noted). Values are trimmed of spaces and tabs. Never fails:
// what cannot be read is counted in malformedLines.
AttributeText ParseJadText(std::span<const uint8_t> bytes);

// Reads a manifest's main section by the JAR rules: it ends at the first
// blank line; a line that begins with one space continues the one before.
// The line, NUL and encoding notes cover the whole text, per-entry sections
// included, since Java reads all of it.
AttributeText ParseManifestText(std::span<const uint8_t> bytes);

// The value of the first attribute of that name (names compare exactly, as
// MIDP says), or null.
const std::string* FindAttribute(const JadAttributes& attributes, std::string_view name);

// True when the bytes are valid UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(std::span<const uint8_t> bytes);

// A MIDlet-Version is major.minor[.micro], each part one or two digits.
bool IsMidletVersion(std::string_view value);

}  // namespace parcelix
