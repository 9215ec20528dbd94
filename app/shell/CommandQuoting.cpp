// Quoting of command lines for their three readers: the registry's own
// command text, a POSIX shell and desktop-entry Exec keys.
#include "app/shell/CommandQuoting.h"

#include "app/shell/ContextMenu.h"

namespace parcelix {

namespace {

// Places where the registered command puts the file: %1 (and %L, its long form).
// Returns the parts between them; parts.size() - 1 is the number of places.
std::vector<std::string> SplitAtFilePlaces(const std::string& word) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < word.size(); ++i) {
    if (word[i] == '%' && i + 1 < word.size() && (word[i + 1] == '1' || word[i + 1] == 'L' || word[i + 1] == 'l')) {
      parts.emplace_back();
      ++i;
    } else {
      parts.back() += word[i];
    }
  }
  return parts;
}

}  // namespace

// A backslash is doubled where the splitter would otherwise read it as an
// escape: before another backslash or a quote, and (inside quotes) at the end.
std::string EscapeCommandText(const std::string& word, bool quoted) {
  std::string out;
  for (size_t i = 0; i < word.size(); ++i) {
    const char c = word[i];
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      const bool last = i + 1 == word.size();
      const char next = last ? '\0' : word[i + 1];
      out += (next == '\\' || next == '"' || (quoted && last)) ? "\\\\" : "\\";
    } else {
      out += c;
    }
  }
  return out;
}

// POSIX shell: single quotes keep everything literal; a quote itself is '\''.
std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

// A command word for the runner script: fixed text single-quoted, the file "$1".
std::string ShellWord(const std::string& word) {
  const std::vector<std::string> parts = SplitAtFilePlaces(word);
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += "\"$1\"";
    if (!parts[i].empty() || parts.size() == 1) out += ShellQuote(parts[i]);
  }
  return out;
}

// Desktop-entry Exec: an argument with reserved characters goes in double
// quotes with " ` $ \ escaped; a literal % is %%. (The key-file escape of the
// value as a whole comes afterwards, in KeyFileValue.)
std::string DesktopExecArg(const std::string& arg) {
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

// Nemo expands %-tokens anywhere in Name and Exec; %% is a literal percent.
std::string NemoLiteral(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '%') out += '%';
    out += c;
  }
  return out;
}

// ---- the registry's command text ----

std::vector<std::string> SplitCommandLine(const std::string& command) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '"') {
      quoted = !quoted;
    } else if (c == '\\' && i + 1 < command.size() && (command[i + 1] == '"' || command[i + 1] == '\\')) {
      word += command[++i];
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

std::string QuoteCommandWord(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return EscapeCommandText(word, false);
  return "\"" + EscapeCommandText(word, true) + "\"";
}

}  // namespace parcelix
