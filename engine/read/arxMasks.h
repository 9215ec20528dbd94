// Wildcard masks and the reader's member selection.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace parcelix {

using TStringList = std::vector<std::string>;

// A compiled wildcard mask: '*' any run, '?' one character, letters A-Z
// compared without case. A mask ending in '.' also matches a dotless name.
class TInternalMask {
 public:
  explicit TInternalMask(std::string_view mask);
  bool Matches(std::string_view name) const;

 private:
  struct Element {
    enum Kind : uint8_t { Literal, AnyOne, End } kind;
    char ch;
    bool star;
  };
  std::vector<Element> elements_;
  bool endsInDot_ = false;
};

// Directory part of a name or spec (with a trailing '\', or empty) and file
// part, with '\', '/' and ':' as separators.
std::string MaskDirPart(std::string_view name);
std::string MaskFilePart(std::string_view name);
size_t MaskFilePartLength(std::string_view name);

// Member selection against FileSpec / ExcludeSpec with the dot-retry rule.
// The name is the converted stored name ('\' separators). May rewrite
// FileSpec items (a dot appended) as the selection rule says.
struct TMemberSelector {
  TStringList* FileSpec = nullptr;
  const TStringList* ExcludeSpec = nullptr;
  bool RecurseDirs = true;
  std::function<void(const std::string& name)> OnExcludeFile;
  bool Select(const std::string& name);

 private:
  // Masks compiled once per selector (a directory walk tests every name).
  const TInternalMask& Compiled(const std::string& mask);
  std::map<std::string, TInternalMask> compiled_;
};

}  // namespace parcelix
