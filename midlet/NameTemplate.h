// Rename templates: the collector's own naming scheme, such as
// "{MIDlet-Vendor}/{MIDlet-Name} {MIDlet-Version}". A field in braces is a
// main-section attribute (its name compared without case), {file} the old
// name without its extension and {ext} the old extension; '/' makes folders
// below the JAR's folder. Nothing a value holds can lead out of that folder.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parcelix {

// Longest name of one file or folder, in bytes.
inline constexpr size_t kMaxNameBytes = 255;

class TNameTemplate {
 public:
  // Throws std::invalid_argument with what is wrong: an unbalanced brace, an
  // empty field, an absolute template, or a folder part that is empty, "."
  // or "..".
  explicit TNameTemplate(std::string_view text);

  // Looks an attribute up by name (without case); nothing when it is missing.
  using Lookup = std::function<std::optional<std::string>(const std::string& name)>;

  struct Result {
    std::string path;    // relative to the JAR's folder, with ".jar" (empty when refused)
    std::string reason;  // why the JAR keeps its name ("no MIDlet-Vendor")
  };
  // The new relative path for a JAR: each field replaced by its value made
  // file-safe (so a '/' in a value makes no folder), each part cut to 255
  // bytes on a character boundary, ".jar" appended unless the name already
  // ends in it. A missing or empty attribute, or a value that would make a
  // part "." or "..", gives a reason instead of a path.
  Result Apply(const Lookup& attribute, const std::string& oldFileName) const;

  const std::string& Text() const { return text_; }

 private:
  struct Piece {
    bool field = false;
    std::string text;  // literal text, or the field's name
  };
  std::string text_;
  std::vector<Piece> pieces_;
};

// The name a sample suite gets under templateText (the default rule, the
// name plus the version with addVersion, when it is empty): the preview of
// the Options tab. The sample: MIDlet-Name "Игра Змейка", MIDlet-Vendor
// "Мобильные игры", MIDlet-Version "1.0.2", file "game.jar". Throws
// std::invalid_argument for a template that is not valid; a missing
// attribute gives the reason in parentheses.
std::string SampleNewName(const std::string& templateText, bool addVersion);

// A file name of at most kMaxNameBytes: base cut on a UTF-8 character
// boundary so that base + ext fits.
std::string FitFileName(std::string base, std::string_view ext);

}  // namespace parcelix
