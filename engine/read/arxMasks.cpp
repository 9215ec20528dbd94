// Wildcard masks and the reader's member selection by FileSpec/ExcludeSpec.
#include "engine/read/arxMasks.h"

#include "engine/common/arxGbls.h"

namespace parcelix {

namespace {

// Letters compare without case (A to Z only); the two directory separators
// are the same character to a mask, so "META-INF/*.MF" finds META-INF\X.MF.
char Fold(char c) {
  if (c >= 'a' && c <= 'z') return char(c - 'a' + 'A');
  if (c == '/') return '\\';
  return c;
}

bool SameFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

bool IsMaskSep(char c) { return c == '\\' || c == '/' || c == ':'; }

}  // namespace

TInternalMask::TInternalMask(std::string_view mask) {
  bool star = false;
  for (char c : mask) {
    if (c == '*') {
      star = true;
    } else if (c == '?') {
      // "*?" is the same as "*": the star already swallows that character.
      if (!star) elements_.push_back({Element::AnyOne, 0, false});
    } else {
      elements_.push_back({Element::Literal, Fold(c), star});
      star = false;
    }
  }
  elements_.push_back({Element::End, 0, star});
  endsInDot_ = !mask.empty() && mask.back() == '.';
}

bool TInternalMask::Matches(std::string_view name) const {
  std::string dotted;
  if (endsInDot_ && name.find('.') == std::string_view::npos) {
    dotted.assign(name);
    dotted += '.';
    name = dotted;
  }
  // Left to right with one remembered star: when an element fails, the last
  // star takes one more character and matching resumes after it. Trying the
  // shortest skip first and only ever backing up to the latest star finds a
  // match whenever one exists, in time linear in name length per element.
  const size_t n = name.size();
  size_t e = 0, j = 0;
  size_t starElem = SIZE_MAX, starPos = 0;
  bool starTaken = false;  // the star of elements_[e] has been recorded at j
  for (;;) {
    const Element& el = elements_[e];
    if (el.star && !starTaken) {
      starElem = e;
      starPos = j;
      starTaken = true;
    }
    bool ok;
    if (el.kind == Element::End) {
      if (j == n) return true;
      ok = false;
    } else {
      ok = j < n && (el.kind == Element::AnyOne || Fold(name[j]) == el.ch);
    }
    if (ok) {
      ++e;
      ++j;
      starTaken = false;
      continue;
    }
    if (starElem == SIZE_MAX || starPos >= n) return false;
    ++starPos;
    j = starPos;
    e = starElem;
    starTaken = true;
  }
}

std::string MaskDirPart(std::string_view name) {
  size_t cut = std::string_view::npos;
  for (size_t i = name.size(); i > 0; --i)
    if (IsMaskSep(name[i - 1])) {
      cut = i;
      break;
    }
  if (cut == std::string_view::npos) return std::string();
  std::string dir(name.substr(0, cut));
  // A drive root ("C:\") stays whole; otherwise trailing separators go.
  const bool driveRoot = dir.size() == 3 && dir[1] == ':' && (dir[2] == '\\' || dir[2] == '/');
  if (!driveRoot)
    while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  if (dir.empty()) return std::string();
  if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
  return dir;
}

size_t MaskFilePartLength(std::string_view name) {
  for (size_t i = name.size(); i > 0; --i)
    if (IsMaskSep(name[i - 1])) return name.size() - i;
  return name.size();
}

std::string MaskFilePart(std::string_view name) {
  return std::string(name.substr(name.size() - MaskFilePartLength(name)));
}

const TInternalMask& TMemberSelector::Compiled(const std::string& mask) {
  auto it = compiled_.find(mask);
  if (it == compiled_.end()) it = compiled_.emplace(mask, TInternalMask(mask)).first;
  return it->second;
}

bool TMemberSelector::Select(const std::string& name) {
  if (name.empty() || !FileSpec) return false;
  // The walk tests every name of a directory: nothing here is computed or
  // copied that the spec at hand does not need.
  std::string dir;
  bool haveDir = false;
  for (size_t i = 0; i < FileSpec->size(); ++i) {
    const std::string& spec = (*FileSpec)[i];
    if (spec.empty()) continue;
    if (ExcludeSpec) {
      for (const std::string& x : *ExcludeSpec) {
        if (x.empty() || !Compiled(x).Matches(name)) continue;
        if (OnExcludeFile) OnExcludeFile(name);
        return false;
      }
    }
    if (SameFolded(spec, name)) return true;
    std::string_view target = name;
    if (RecurseDirs) {
      if (MaskDirPart(spec).empty()) target = std::string_view(name).substr(name.size() - MaskFilePartLength(name));
    } else {
      if (!haveDir) {
        dir = MaskDirPart(name);
        haveDir = true;
      }
      if (!SameFolded(dir, MaskDirPart(spec))) continue;
    }
    if (Compiled(spec).Matches(target)) return true;
    // Retry with dots: "*.*" then takes LICENSE (as "LICENSE.") and a
    // directory member's empty file part (as "."). A dotless spec keeps its
    // added dot for every later name, as it always has. When both already
    // have a dot the retry would repeat the test just made.
    const bool targetDotless = target.find('.') == std::string_view::npos;
    const bool specDotless = spec.find('.') == std::string::npos;
    if (!targetDotless && !specDotless) continue;
    std::string dotted(target);
    if (targetDotless) dotted += '.';
    if (specDotless) (*FileSpec)[i] += '.';
    if (Compiled((*FileSpec)[i]).Matches(dotted)) return true;
  }
  return false;
}

}  // namespace parcelix
