// The manifest as the JAD and the editor see it: main section and per-entry
// sections, grid lines, the written manifest text and the JAD text.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "midlet/MidletSuite.h"

namespace parcelix {

// A manifest split where its per-entry sections begin (an empty line followed
// by a Name: line, as in a signed JAR). The sections are kept byte for byte so
// that their digests in a signature file stay valid.
struct ManifestParts {
  ManifestDoc main;      // main section: continuations joined, BOM dropped, empty lines kept
  std::string sections;  // raw bytes from the first section's Name: line to the end of the text
};
ManifestParts SplitManifest(std::span<const uint8_t> bytes);
// The value of the first main-section line of that name (compared without
// case), as it stands after the colon; nullopt when there is none.
std::optional<std::string_view> MainAttribute(const ManifestDoc& main, std::string_view name);

// Removes every line of length 0 (a line of spaces stays).
void RemoveEmptyLines(ManifestDoc& doc);

// Manifest lines to grid lines: empty lines removed, sorted, the first colon
// becomes '=' and one space after it is dropped ("A: b: c" gives "A=b: c").
GridLines ManifestToGrid(ManifestDoc doc);
// Grid lines to manifest lines: the first '=' becomes ": "; rows with an empty
// key and empty rows are left out (a line ": x" would make the manifest
// unreadable for Java); a row without '=' is written as it is. Sorted.
// Throws EMidletError for a row holding CR, LF or NUL.
ManifestDoc GridToManifest(const GridLines& grid);
// The key and value of a grid line (split at the first '=').
std::string GridKey(const std::string& line);
std::string GridValue(const std::string& line);
// Sets key to value: the first row with that key (compared without case, as
// Java compares attribute names) is replaced, later ones removed; a missing
// key is appended.
void GridSet(GridLines& grid, const std::string& key, const std::string& value);
// Removes every row with that key; returns how many were removed.
int GridUnset(GridLines& grid, const std::string& key);

// Longest physical manifest line, CR LF included, that Java's manifest reader
// accepts. Longer attribute lines are folded into continuation lines.
inline constexpr size_t kMaxManifestLineBytes = 512;
// The physical lines of one attribute line, without terminators.
std::vector<std::string> FoldManifestLine(const std::string& line);
// The manifest file: each main line (folded when needed) with CR LF, one empty
// line, then the per-entry sections unchanged.
std::string ComposeManifest(const ManifestDoc& main, const std::string& sections);

// <JAR path without extension>.jad (the extension is the last '.' of the
// file name part; a name without one gets ".jad" appended).
std::string JadPathOf(const std::string& jarFile);
// The JAD lines: the manifest's main lines plus MIDlet-Jar-Size and
// MIDlet-Jar-URL (the bare file name), empty lines removed, sorted.
ManifestDoc ComposeJad(ManifestDoc main, int32_t jarSize, const std::string& jarFileName);
// The text of the JAD for the JAR jarFile of jarSize bytes whose manifest
// is manifest (the JAR's size kept to 32 bits, as the attribute holds it).
std::string JadTextOf(std::span<const uint8_t> manifest, int64_t jarSize, const std::string& jarFile);

}  // namespace parcelix
