// Conversions between manifest lines, editor grid lines, manifest text and JAD lines.
#include "midlet/ManifestModel.h"

#include <algorithm>

#include "engine/common/arxGbls.h"

namespace parcelix {

GridLines ManifestToGrid(ManifestDoc doc) {
  RemoveEmptyLines(doc);
  SortManifestDoc(doc);
  GridLines grid;
  grid.reserve(doc.size());
  for (std::string& line : doc) {
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      line[colon] = '=';
      // Only the blank that belongs to the "Name: value" form goes; a line
      // written as "Name:value" keeps its first value byte.
      if (colon + 1 < line.size() && line[colon + 1] == ' ') line.erase(colon + 1, 1);
    }
    grid.push_back(std::move(line));
  }
  return grid;
}

std::string GridKey(const std::string& line) { return line.substr(0, line.find('=')); }

std::string GridValue(const std::string& line) {
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

ManifestDoc GridToManifest(const GridLines& grid) {
  ManifestDoc doc;
  doc.reserve(grid.size());
  for (const std::string& row : grid) {
    if (row.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
      throw EMidletError("A manifest line cannot hold a line break or NUL: " + GridKey(row));
    size_t eq = row.find('=');
    if (eq == 0 || row.empty()) continue;
    if (eq == std::string::npos)
      doc.push_back(row);
    else
      doc.push_back(row.substr(0, eq) + ": " + row.substr(eq + 1));
  }
  SortManifestDoc(doc);
  return doc;
}

void GridSet(GridLines& grid, const std::string& key, const std::string& value) {
  bool done = false;
  for (auto it = grid.begin(); it != grid.end();) {
    if (SameTextAscii(GridKey(*it), key)) {
      if (done) {
        it = grid.erase(it);
        continue;
      }
      *it = key + "=" + value;
      done = true;
    }
    ++it;
  }
  if (!done) grid.push_back(key + "=" + value);
}

int GridUnset(GridLines& grid, const std::string& key) {
  auto before = grid.size();
  grid.erase(std::remove_if(grid.begin(), grid.end(),
                            [&](const std::string& l) { return SameTextAscii(GridKey(l), key); }),
             grid.end());
  return int(before - grid.size());
}

std::vector<std::string> FoldManifestLine(const std::string& line) {
  const size_t firstMax = kMaxManifestLineBytes - 2;  // room for CR LF
  if (line.size() <= firstMax) return {line};
  std::vector<std::string> out;
  size_t pos = 0;
  size_t max = firstMax;
  while (pos < line.size()) {
    size_t cut = std::min(line.size(), pos + max);
    if (cut < line.size()) {
      // Never split a UTF-8 sequence: the next piece starts at its lead byte.
      size_t c = cut;
      int steps = 0;
      while (c > pos + 1 && steps < 3 && (uint8_t(line[c]) & 0xC0) == 0x80) {
        --c;
        ++steps;
      }
      if ((uint8_t(line[c]) & 0xC0) != 0x80) cut = c;
    }
    out.push_back((pos == 0 ? std::string() : std::string(" ")) + line.substr(pos, cut - pos));
    pos = cut;
    max = firstMax - 1;  // the leading blank of a continuation line
  }
  return out;
}

std::string ComposeManifest(const ManifestDoc& main, const std::string& sections) {
  std::string out;
  for (const std::string& line : main)
    for (const std::string& physical : FoldManifestLine(line)) {
      out += physical;
      out += "\r\n";
    }
  out += "\r\n";
  out += sections;
  return out;
}

std::string JadPathOf(const std::string& jarFile) { return ChangeFileExt(jarFile, ".jad"); }

ManifestDoc ComposeJad(ManifestDoc main, int32_t jarSize, const std::string& jarFileName) {
  main.push_back("MIDlet-Jar-Size: " + std::to_string(jarSize));
  main.push_back("MIDlet-Jar-URL: " + jarFileName);
  RemoveEmptyLines(main);
  SortManifestDoc(main);
  return main;
}

std::string JadTextOf(std::span<const uint8_t> manifest, int64_t jarSize, const std::string& jarFile) {
  return ManifestDocText(
      ComposeJad(SplitManifest(manifest).main, int32_t(uint32_t(uint64_t(jarSize))), ExtractFileName(jarFile)));
}

}  // namespace parcelix
