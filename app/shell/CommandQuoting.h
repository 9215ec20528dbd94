// Quoting of command lines for their three readers: the registry's own
// command text, a POSIX shell and desktop-entry Exec keys.
#pragma once

#include <string>
#include <vector>

namespace parcelix {

// A word for a registered command: a backslash is doubled where the splitter
// would otherwise read it as an escape (before another backslash or a quote,
// and, inside quotes, at the end); a quote becomes \".
std::string EscapeCommandText(const std::string& word, bool quoted);
// POSIX shell: in single quotes, a quote itself as '\''.
std::string ShellQuote(const std::string& s);
// A registered command word for the runner script: fixed text single-quoted,
// the file ("%1", "%L") as "$1".
std::string ShellWord(const std::string& word);
// A desktop-entry Exec argument: in double quotes with " ` $ \ escaped, a
// literal % as %%. (The key-file escape of the value comes afterwards.)
std::string DesktopExecArg(const std::string& arg);
// Nemo expands %-tokens anywhere in Name and Exec; %% is a literal percent.
std::string NemoLiteral(const std::string& s);

}  // namespace parcelix
