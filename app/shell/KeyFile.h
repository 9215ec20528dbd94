// The one writer of key files: groups in square brackets with key=value lines
// (desktop entries, Nemo actions, the registry store).
#pragma once

#include <string>

namespace parcelix {

class TKeyFileWriter {
 public:
  // commentMark begins a comment line: '#' for desktop entries, ';' for the registry.
  explicit TKeyFileWriter(char commentMark = '#') : mark_(commentMark) {}

  // A comment line (the text must hold no line break).
  void Comment(const std::string& text) { text_ += std::string(1, mark_) + " " + text + "\n"; }
  // Starts a group; a blank line separates it from what came before.
  void Group(const std::string& name) { text_ += (text_.empty() ? "[" : "\n[") + name + "]\n"; }
  // One key=value line; the value is written as given (see KeyFileValue).
  void Entry(const std::string& key, const std::string& value) { text_ += key + "=" + value + "\n"; }

  const std::string& Text() const { return text_; }

 private:
  char mark_;
  std::string text_;
};

// A string value of a desktop entry or Nemo action: backslash and control
// characters escaped, a leading blank kept (as \s).
std::string KeyFileValue(const std::string& s);

}  // namespace parcelix
