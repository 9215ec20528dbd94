// A private-profile (INI) file: [Section] lines and key=value lines, read
// and written the way the settings store expects.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace parcelix {

class TIniFile {
 public:
  // Loads the file; a missing or unreadable file is an empty one.
  explicit TIniFile(std::string path);

  const std::string& FileName() const { return path_; }

  // The value of key in section (names compared without case, blanks around
  // key and value trimmed, one pair of enclosing quotes removed); nothing when
  // the section or key is missing.
  std::optional<std::string> ReadString(const std::string& section, const std::string& key) const;
  // The value as an integer: "0x"/"0X" followed by hex digits is hexadecimal,
  // anything else decimal with an optional sign; a missing, empty or
  // non-numeric value, or one that does not fit 32 bits, gives def.
  int ReadInteger(const std::string& section, const std::string& key, int def) const;

  // Sets key in section: an existing key line is rewritten in place, a
  // missing key goes after the last line of its section, a missing section
  // is appended. Every other line stays as it was. Only in memory.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);

  // Writes the file (a complete new file, flushed to the disk, renamed over
  // the old one; the directory created when missing). Throws ESettingsError
  // ("Unable to write to <path>").
  void UpdateFile() const;

  // The text that UpdateFile writes.
  std::string Text() const;

  // Integer parsing of ReadInteger, for a bare value.
  static std::optional<int> ParseInteger(const std::string& value);

 private:
  // Index of the section header line, or npos.
  size_t FindSection(const std::string& section) const;
  // Index of the key line within the section starting after header, or npos.
  size_t FindKey(size_t header, const std::string& key) const;
  size_t SectionEnd(size_t header) const;  // first line of the next section (or size)

  std::string path_;
  std::vector<std::string> lines_;  // without terminators
  std::string eol_ = "\n";
};

}  // namespace parcelix
