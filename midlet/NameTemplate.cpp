// Rename templates: parsing, and the new relative path of one JAR.
#include "midlet/NameTemplate.h"

#include <stdexcept>
#include <utility>

#include "engine/common/arxGbls.h"
#include "midlet/CodePage.h"
#include "midlet/MidletSuite.h"

namespace parcelix {

namespace {

bool IsDotPart(std::string_view part) { return part == "." || part == ".."; }

std::string Trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

// The literal folder parts of a template: a part made only of literal text
// must be a real name; one with a field is checked once it is filled in.
void CheckLiteralParts(const std::string& text) {
  if (!text.empty() && text[0] == '/') throw std::invalid_argument("a template cannot be an absolute path");
  size_t begin = 0;
  for (;;) {
    const size_t slash = text.find('/', begin);
    const std::string part = text.substr(begin, slash == std::string::npos ? std::string::npos : slash - begin);
    if (part.find('{') == std::string::npos) {
      if (part.empty()) throw std::invalid_argument("a template cannot have an empty folder or file name");
      if (IsDotPart(part)) throw std::invalid_argument("a template cannot use '" + part + "' as a name");
    }
    if (slash == std::string::npos) break;
    begin = slash + 1;
  }
}

bool EndsWithJar(const std::string& name) {
  return name.size() > 4 && SameTextAscii(name.substr(name.size() - 4), ".jar");
}

}  // namespace

TNameTemplate::TNameTemplate(std::string_view text) : text_(text) {
  if (text_.empty()) throw std::invalid_argument("the template is empty");
  size_t pos = 0;
  while (pos < text_.size()) {
    const size_t open = text_.find_first_of("{}", pos);
    if (open == std::string::npos) {
      pieces_.push_back({false, text_.substr(pos)});
      break;
    }
    if (text_[open] == '}')
      throw std::invalid_argument("unbalanced '}' at column " + std::to_string(open + 1) + " of the template");
    if (open > pos) pieces_.push_back({false, text_.substr(pos, open - pos)});
    const size_t close = text_.find_first_of("{}", open + 1);
    if (close == std::string::npos || text_[close] == '{')
      throw std::invalid_argument("unbalanced '{' at column " + std::to_string(open + 1) + " of the template");
    const std::string name = text_.substr(open + 1, close - open - 1);
    if (Trimmed(name).empty() || name.find('/') != std::string::npos)
      throw std::invalid_argument("'{" + name + "}' at column " + std::to_string(open + 1) +
                                  " of the template names no attribute");
    pieces_.push_back({true, Trimmed(name)});
    pos = close + 1;
  }
  CheckLiteralParts(text_);
}

TNameTemplate::Result TNameTemplate::Apply(const Lookup& attribute, const std::string& oldFileName) const {
  const std::string ext = ExtractFileExt(oldFileName);
  const std::string stem = oldFileName.substr(0, oldFileName.size() - ext.size());
  std::string path;
  for (const Piece& p : pieces_) {
    if (!p.field) {
      path += p.text;
      continue;
    }
    std::optional<std::string> value;
    if (SameTextAscii(p.text, "file")) value = stem;
    else if (SameTextAscii(p.text, "ext")) value = ext.empty() ? std::string() : ext.substr(1);
    else value = attribute(p.text);
    if (!value) return {{}, "no " + p.text};
    // A value never makes a folder: its '/' becomes '_' like every
    // character a name cannot hold.
    const std::string safe = MakeValidFileName(Trimmed(*value));
    if (safe.empty()) return {{}, "empty " + p.text};
    path += safe;
  }
  // Every part a real name, none longer than a file system allows.
  std::string out;
  size_t begin = 0;
  for (;;) {
    const size_t slash = path.find('/', begin);
    const bool last = slash == std::string::npos;
    std::string part = path.substr(begin, last ? std::string::npos : slash - begin);
    if (part.empty()) return {{}, "the template makes an empty name"};
    if (IsDotPart(part)) return {{}, "the template makes the name '" + part + "'"};
    if (last) {
      const std::string suffix = EndsWithJar(part) ? part.substr(part.size() - 4) : ".jar";
      out += FitFileName(EndsWithJar(part) ? part.substr(0, part.size() - 4) : part, suffix);
      break;
    }
    out += CutUtf8(part, kMaxNameBytes) + "/";
    begin = slash + 1;
  }
  return {out, {}};
}

std::string SampleNewName(const std::string& templateText, bool addVersion) {
  static const std::pair<const char*, const char*> kSample[] = {
      {"MIDlet-Name", "Игра Змейка"}, {"MIDlet-Vendor", "Мобильные игры"}, {"MIDlet-Version", "1.0.2"},
      {"MIDlet-Description", "Классическая змейка"}, {"MicroEdition-Profile", "MIDP-2.0"},
  };
  if (templateText.empty()) return FitFileName(std::string(kSample[0].second) + (addVersion ? " 1.0.2" : ""), ".jar");
  const auto lookup = [](const std::string& name) -> std::optional<std::string> {
    for (const auto& [key, value] : kSample)
      if (SameTextAscii(key, name)) return value;
    return std::nullopt;
  };
  const TNameTemplate::Result r = TNameTemplate(templateText).Apply(lookup, "game.jar");
  return r.path.empty() ? "(" + r.reason + ")" : r.path;
}

std::string FitFileName(std::string base, std::string_view ext) {
  if (ext.size() < kMaxNameBytes && base.size() + ext.size() > kMaxNameBytes)
    base = CutUtf8(base, kMaxNameBytes - ext.size());
  base.append(ext);
  return base;
}

}  // namespace parcelix
