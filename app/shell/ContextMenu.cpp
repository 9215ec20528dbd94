// The "Parcelix: Rename" / "Parcelix: Make JAD" context-menu verbs for JAR files and the desktop entries that show them.
//
// The verbs live in Parcelix's registry (Registry.h) exactly as the platform
// keeps them: FileType\shell\Verb\command = "program" /op "%1". Linux file
// managers do not read that registry, so every change of the JAR verbs also
// rewrites small desktop files from it:
//   parcelix/menu/<slug>.sh                 runner: the verb's command once per .jar
//   nautilus/scripts/<verb text>            GNOME Files script (a copy of the runner)
//   nemo/actions/<slug>.nemo_action         Nemo action running the runner
//   kio/servicemenus/parcelix-jar.desktop   Dolphin service menu, one action per verb
// all under $XDG_DATA_HOME. Each file carries kMark, and parcelix/desktop-entries
// records what was written (and which directories were made), so that "OFF"
// removes exactly those files and never a file of the user's.
#include "app/shell/ContextMenu.h"

#include "engine/common/FileSystem.h"
#include "engine/common/arxGbls.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <set>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>

namespace parcelix {

namespace {

constexpr const char* kMark = "Written by Parcelix";
constexpr const char* kRecordRel = "parcelix/desktop-entries";
constexpr const char* kRunnerDirRel = "parcelix/menu";
constexpr const char* kDolphinDirRel = "kio/servicemenus";
constexpr const char* kDolphinFileRel = "kio/servicemenus/parcelix-jar.desktop";
constexpr const char* kNautilusDirRel = "nautilus/scripts";
constexpr const char* kNemoDirRel = "nemo/actions";
constexpr const char* kJarMimeTypes = "application/java-archive;application/x-java-archive;";
constexpr const char* kJarIcon = "application-x-java-archive";

// ---- quoting for the three consumers of a command line ----

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

// Key-file string values (desktop entries, Nemo actions): backslash and
// control characters escaped, a leading blank kept.
std::string KeyFileValue(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case ' ': out += i == 0 ? "\\s" : " "; break;
      default: out += c;
    }
  }
  return out;
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

// ---- names of the files ----

std::string Slug(const std::string& verb) {
  std::string out;
  for (unsigned char c : verb) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      out += static_cast<char>(c);
    } else if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c - 'A' + 'a');
    } else if (!out.empty() && out.back() != '-') {
      out += '-';
    }
  }
  while (!out.empty() && out.back() == '-') out.pop_back();
  if (out.rfind("parcelix", 0) != 0) out = out.empty() ? "parcelix-verb" : "parcelix-" + out;
  return out;
}

// GNOME Files shows a script under its file name, so the file is named after the menu text.
std::string ScriptFileName(const std::string& verb) {
  std::string out = verb;
  std::replace(out.begin(), out.end(), '/', '-');
  if (!out.empty() && out[0] == '.') out[0] = '_';  // hidden files are not listed
  return out;
}

std::string MakeUnique(const std::string& name, std::set<std::string>& taken, const std::string& sep) {
  std::string candidate = name;
  for (int n = 2; !taken.insert(candidate).second; ++n) candidate = name + sep + std::to_string(n);
  return candidate;
}

// ---- the files' contents ----

std::string RunnerScript(const TContextMenuVerb& v) {
  std::string run;
  for (const auto& word : SplitCommandLine(v.command)) run += (run.empty() ? "" : " ") + ShellWord(word);
  // The program's messages go to the desktop too (see Notify.h), also when the
  // file manager was started from a terminal.
  run = run.empty() ? ":" : "PARCELIX_DESKTOP_MESSAGES=1 " + run;
  auto oneLine = [](std::string s) {
    for (char& c : s)
      if (c == '\n' || c == '\r') c = ' ';
    return s;
  };
  const std::string commandComment = oneLine(v.command);
  return "#!/bin/sh\n"
         "# Parcelix context-menu entry \"" + oneLine(v.verb) + "\" for JAR files.\n"
         "# " + std::string(kMark) + " from its registry; \"parcelix integrate off\" removes it.\n"
         "# Runs the registered command once per selected .jar, the file's path in place of %1:\n"
         "#   " + commandComment + "\n"
         "# Paths come as arguments, or one per line in $NAUTILUS_SCRIPT_SELECTED_FILE_PATHS.\n"
         "\n"
         "verb=" + ShellQuote(v.verb) + "\n"
         "\n"
         "run_verb() {\n"
         "  " + run + "\n"
         "}\n"
         "\n"
         "# Failures are shown by the program itself; a success is told here.\n"
         "notify() {\n"
         "  if [ -n \"${DISPLAY:-}${WAYLAND_DISPLAY:-}\" ] && command -v notify-send >/dev/null 2>&1; then\n"
         "    notify-send -a Parcelix -- \"$verb\" \"$1\" >/dev/null 2>&1 || :\n"
         "  fi\n"
         "}\n"
         "\n"
         "status=0\n"
         "jars=0\n"
         "handle() {\n"
         "  case $1 in\n"
         "    *.[Jj][Aa][Rr]) ;;\n"
         "    *) return 0 ;;\n"
         "  esac\n"
         "  jars=$((jars + 1))\n"
         "  if run_verb \"$1\" </dev/null; then\n"
         "    notify \"${1##*/}: done\"\n"
         "  else\n"
         "    status=1\n"
         "  fi\n"
         "}\n"
         "\n"
         "if [ $# -gt 0 ]; then\n"
         "  for f in \"$@\"; do handle \"$f\"; done\n"
         "elif [ -n \"${NAUTILUS_SCRIPT_SELECTED_FILE_PATHS:-}\" ]; then\n"
         "  old_ifs=$IFS\n"
         "  IFS='\n"
         "'\n"
         "  set -f\n"
         "  for f in $NAUTILUS_SCRIPT_SELECTED_FILE_PATHS; do handle \"$f\"; done\n"
         "  set +f\n"
         "  IFS=$old_ifs\n"
         "fi\n"
         "if [ \"$jars\" -eq 0 ]; then\n"
         "  notify \"Select a .jar file.\"\n"
         "  status=1\n"
         "fi\n"
         "exit \"$status\"\n";
}

struct TPlannedFile {
  std::string rel;          // path below the data home
  std::string manager;      // who reads it
  std::string content;
  mode_t mode = 0644;
};

struct TPlannedVerb {
  TContextMenuVerb verb;
  std::string slug;
  std::string scriptName;
};

std::vector<TPlannedVerb> PlanVerbs(const std::vector<TContextMenuVerb>& verbs) {
  std::vector<TPlannedVerb> out;
  std::set<std::string> slugs, scripts;
  for (const auto& v : verbs) {
    TPlannedVerb p;
    p.verb = v;
    p.slug = MakeUnique(Slug(v.verb), slugs, "-");
    p.scriptName = MakeUnique(ScriptFileName(v.verb), scripts, " ");
    out.push_back(std::move(p));
  }
  return out;
}

std::vector<TPlannedFile> PlanFiles(const std::vector<TContextMenuVerb>& verbs, const std::string& dataHome) {
  std::vector<TPlannedFile> files;
  if (verbs.empty()) return files;
  const std::vector<TPlannedVerb> planned = PlanVerbs(verbs);
  const std::string mark = std::string("# ") + kMark + " from its registry; \"parcelix integrate off\" removes it.\n";

  std::string dolphin =
      "[Desktop Entry]\n" + mark +
      "Type=Application\n"
      "Name=Parcelix\n"
      "Icon=" + std::string(kJarIcon) + "\n"
      "MimeType=" + kJarMimeTypes + "\n"
      "X-KDE-Priority=TopLevel\n"
      "Actions=";
  for (const auto& p : planned) dolphin += p.slug + ";";
  dolphin += "\n";

  for (const auto& p : planned) {
    const std::string runnerRel = std::string(kRunnerDirRel) + "/" + p.slug + ".sh";
    const std::string runnerAbs = dataHome + "/" + runnerRel;
    const std::string script = RunnerScript(p.verb);
    files.push_back({runnerRel, "runner", script, 0755});
    files.push_back({std::string(kNautilusDirRel) + "/" + p.scriptName, "GNOME Files", script, 0755});

    // Nemo parses Exec like a shell command line without expansions and puts
    // each selected path there in double quotes, escaped for them.
    files.push_back({std::string(kNemoDirRel) + "/" + p.slug + ".nemo_action", "Nemo",
                     "[Nemo Action]\n" + mark +
                         "Name=" + KeyFileValue(NemoLiteral(p.verb.verb)) + "\n"
                         "Comment=" + KeyFileValue(NemoLiteral(p.verb.verb)) + " (Parcelix)\n"
                         "Exec=" + KeyFileValue(NemoLiteral(ShellQuote(runnerAbs)) + " %F") + "\n"
                         "Icon-Name=" + kJarIcon + "\n"
                         "Selection=notnone\n"
                         "Extensions=jar;\n"
                         "Mimetypes=" + kJarMimeTypes + "\n"
                         "Quote=double\n",
                     0644});

    // Dolphin (KIO) quotes the %F paths itself, one argument each.
    dolphin += "\n[Desktop Action " + p.slug + "]\n"
               "Name=" + KeyFileValue(p.verb.verb) + "\n"
               "Icon=" + kJarIcon + "\n"
               "Exec=" + KeyFileValue(DesktopExecArg(runnerAbs) + " %F") + "\n";
  }
  // Dolphin only runs service menus outside the system folders when they are executable.
  files.push_back({kDolphinFileRel, "Dolphin", dolphin, 0755});
  return files;
}

// ---- files on disk ----

bool LstatRegular(const std::string& path, bool& exists) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    exists = false;
    return false;
  }
  exists = true;
  return S_ISREG(st.st_mode);
}

// True when the file is a regular file (not a link) whose first lines carry the mark.
bool HasMark(const std::string& path) {
  bool exists = false;
  if (!LstatRegular(path, exists)) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  char buf[1024];
  ssize_t n = 0;
  do {
    n = ::read(fd, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n <= 0) return false;
  return std::string_view(buf, static_cast<size_t>(n)).find(kMark) != std::string_view::npos;
}

// Writes one of Parcelix's files with exactly these permission bits; a new
// one is flushed with the batch of the sync it belongs to.
bool WriteOwnFile(const std::string& path, const std::string& content, mode_t mode, TDurableBatch& batch) {
  TReplaceOptions options;
  options.Batch = &batch;
  options.Mode = int(mode);
  try {
    ReplaceFileContents(path, content, options);
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

// What Parcelix wrote under the data home: files and the directories it made
// for them (a directory line ends in '/'), one path below the data home a line.
struct TRecord {
  std::set<std::string> files;
  std::vector<std::string> dirs;  // in the order made (parents first)
};

bool HasDotDotPart(const std::string& rel) {
  size_t start = 0;
  while (true) {
    const size_t end = rel.find('/', start);
    if (rel.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0) return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

TRecord ReadRecord(const std::string& dataHome) {
  TRecord record;
  std::string text;
  // A record of a few lines; anything larger is not ours.
  if (!ReadWholeFile(dataHome + "/" + kRecordRel, text, 1u << 20)) return record;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    // Only plain relative paths below the data home are taken: a damaged or
    // edited record must not lead "OFF" anywhere else.
    if (line.empty() || line[0] == '#' || line[0] == '/' || HasDotDotPart(line)) continue;
    if (line.back() == '/') {
      line.pop_back();
      if (!line.empty() && std::find(record.dirs.begin(), record.dirs.end(), line) == record.dirs.end())
        record.dirs.push_back(line);
    } else {
      record.files.insert(line);
    }
  }
  return record;
}

bool MakeDirsRecorded(const std::string& dataHome, const std::string& relDir, TRecord& record) {
  struct stat st {};
  if (::stat(dataHome.c_str(), &st) != 0) {
    // The data home itself is made as ~/.local/share would be; it is never removed.
    std::string level;
    for (size_t i = 1; i <= dataHome.size(); ++i) {
      if (i != dataHome.size() && dataHome[i] != '/') continue;
      level = dataHome.substr(0, i);
      if (::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  for (size_t i = 0; i <= relDir.size(); ++i) {
    if (i != relDir.size() && relDir[i] != '/') continue;
    const std::string rel = relDir.substr(0, i);
    const std::string abs = dataHome + "/" + rel;
    if (::stat(abs.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return false;
      continue;
    }
    if (::mkdir(abs.c_str(), 0777) != 0) {
      if (errno != EEXIST) return false;
      continue;
    }
    if (std::find(record.dirs.begin(), record.dirs.end(), rel) == record.dirs.end()) record.dirs.push_back(rel);
  }
  return true;
}

std::string ParentRel(const std::string& rel) {
  const size_t slash = rel.find_last_of('/');
  return slash == std::string::npos ? std::string() : rel.substr(0, slash);
}

// Writes the record; when no file is left, removes it and the directories
// that were made for the files (deepest first; one that holds anything else
// is the user's now and stays).
void SaveRecord(const std::string& dataHome, TRecord& record, TDurableBatch& batch) {
  const std::string path = dataHome + "/" + kRecordRel;
  if (record.files.empty()) {
    ::unlink(path.c_str());
    std::vector<std::string> dirs = record.dirs;
    std::stable_sort(dirs.begin(), dirs.end(), [](const std::string& a, const std::string& b) {
      return std::count(a.begin(), a.end(), '/') > std::count(b.begin(), b.end(), '/');
    });
    for (const auto& d : dirs) ::rmdir((dataHome + "/" + d).c_str());
    record.dirs.clear();
    return;
  }
  if (!MakeDirsRecorded(dataHome, ParentRel(kRecordRel), record))
    throw EDesktopEntryError("Failed to write '" + path + "'");
  std::string text = std::string("# ") + kMark + ": the context-menu files it wrote, below the data folder.\n";
  for (const auto& d : record.dirs) text += d + "/\n";
  for (const auto& f : record.files) text += f + "\n";
  if (!WriteOwnFile(path, text, 0644, batch)) throw EDesktopEntryError("Failed to write '" + path + "'");
}

void RequireDataHome(const std::string& dataHome) {
  if (dataHome.empty() || dataHome[0] != '/')
    throw EDesktopEntryError("No data folder for the context-menu entries: set HOME or XDG_DATA_HOME");
}

}  // namespace

// ---- the registry verbs ----

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

std::string MakeVerbCommand(const std::string& programPath, const std::string& operation) {
  return "\"" + EscapeCommandText(programPath, true) + "\" " + operation;
}

std::string RegisteredFileType(TRegistry& reg, const std::string& ext) {
  std::string type;
  if (reg.OpenKeyReadOnly("\\." + ext)) type = reg.ReadString("");
  reg.CloseKey();
  return type;
}

std::vector<TContextMenuVerb> RegisteredVerbs(TRegistry& reg, const std::string& ext) {
  std::vector<TContextMenuVerb> verbs;
  const std::string type = RegisteredFileType(reg, ext);
  if (type.empty()) return verbs;
  std::vector<std::string> names;
  if (reg.OpenKeyReadOnly("\\" + type + "\\shell")) names = reg.GetKeyNames();
  reg.CloseKey();
  for (const auto& name : names) {
    if (reg.OpenKeyReadOnly("\\" + type + "\\shell\\" + name + "\\command")) {
      std::string command = reg.ReadString("");
      if (!command.empty()) verbs.push_back({name, std::move(command)});
    }
    reg.CloseKey();
  }
  return verbs;
}

void AddContextMenuVerb(TRegistry& reg, const std::string& ext, const std::string& verb, const std::string& command) {
  reg.CloseKey();
  reg.OpenKey("\\." + ext, true);
  std::string fileType = reg.ReadString("");
  if (fileType.empty()) {
    fileType = ext + "file";
    reg.WriteString("", fileType);
  }
  reg.CloseKey();
  reg.OpenKey("\\" + fileType + "\\shell\\" + verb + "\\command", true);
  reg.WriteString("", command + " \"%1\"");
  reg.CloseKey();
  if (SameTextAscii(ext, "jar")) SyncDesktopEntries(reg);
}

void RemoveContextMenuVerb(TRegistry& reg, const std::string& ext, const std::string& verb) {
  reg.CloseKey();
  // Removing never creates keys: with ".ext" missing or naming no file type no
  // verb can be there, and a missing "shell" key holds no verb either.
  const std::string fileType = RegisteredFileType(reg, ext);
  if (!fileType.empty() && reg.OpenKeyReadOnly("\\" + fileType + "\\shell")) reg.DeleteKey(verb);
  reg.CloseKey();
  if (SameTextAscii(ext, "jar")) SyncDesktopEntries(reg);
}

void IntegrateOn(TRegistry& reg, const std::string& programPath) {
  if (programPath.empty()) throw ERegistryError("The path of the Parcelix program is not known");
  AddContextMenuVerb(reg, "jar", kRenameVerb, MakeVerbCommand(programPath, "/rename"));
  AddContextMenuVerb(reg, "jar", kMakeJadVerb, MakeVerbCommand(programPath, "/jadgen"));
}

void IntegrateOff(TRegistry& reg) {
  RemoveContextMenuVerb(reg, "jar", kRenameVerb);
  RemoveContextMenuVerb(reg, "jar", kMakeJadVerb);
  // A removal that did not happen (a store that cannot be written) must not
  // look like success.
  const std::string fileType = RegisteredFileType(reg, "jar");
  for (const auto& v : RegisteredVerbs(reg, "jar"))
    if (SameTextAscii(v.verb, kRenameVerb) || SameTextAscii(v.verb, kMakeJadVerb))
      throw ERegistryError("Failed to delete key '" + fileType + "\\shell\\" + v.verb + "'");
}

void IntegrateOn(const std::string& programPath) {
  TRegistry reg;
  IntegrateOn(reg, programPath);
}

void IntegrateOff() {
  TRegistry reg;
  IntegrateOff(reg);
}

std::string ProgramPath() {
  std::vector<char> buf(1024);
  while (true) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return "";
    if (static_cast<size_t>(n) < buf.size()) {
      std::string path(buf.data(), static_cast<size_t>(n));
      // After an upgrade replaced the running file the link reads "... (deleted)";
      // the new program at the same path is the one to register.
      const std::string deleted = " (deleted)";
      if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
        const std::string stripped = path.substr(0, path.size() - deleted.size());
        if (::access(stripped.c_str(), X_OK) == 0) path = stripped;
      }
      return path;
    }
    if (buf.size() >= (1u << 16)) return "";
    buf.resize(buf.size() * 2);
  }
}

// ---- the desktop entries ----

void SyncDesktopEntries(TRegistry& reg, const std::string& dataHome) {
  RequireDataHome(dataHome);
  const std::vector<TPlannedFile> plan = PlanFiles(RegisteredVerbs(reg, "jar"), dataHome);
  TRecord record = ReadRecord(dataHome);
  TDurableBatch batch;
  std::set<std::string> planned;
  for (const auto& f : plan) planned.insert(f.rel);

  std::string failure;
  for (const auto& f : plan) {
    const std::string abs = dataHome + "/" + f.rel;
    bool exists = false;
    LstatRegular(abs, exists);
    // A file of the same name that Parcelix did not write is the user's: left alone.
    if (exists && !HasMark(abs)) continue;
    if (!MakeDirsRecorded(dataHome, ParentRel(f.rel), record) || !WriteOwnFile(abs, f.content, f.mode, batch)) {
      if (failure.empty()) failure = "Failed to write '" + abs + "'";
      continue;
    }
    record.files.insert(f.rel);
  }
  for (auto it = record.files.begin(); it != record.files.end();) {
    if (planned.count(*it)) {
      ++it;
      continue;
    }
    const std::string abs = dataHome + "/" + *it;
    bool exists = false;
    LstatRegular(abs, exists);
    if (exists && HasMark(abs) && ::unlink(abs.c_str()) != 0) {
      if (failure.empty()) failure = "Failed to remove '" + abs + "'";
      ++it;
      continue;
    }
    it = record.files.erase(it);  // removed, gone already, or replaced by a file of the user's
  }
  SaveRecord(dataHome, record, batch);
  batch.Flush();
  if (!failure.empty()) throw EDesktopEntryError(failure);
}

std::vector<TDesktopEntryFile> DesktopEntryStatus(TRegistry& reg, const std::string& dataHome) {
  std::vector<TDesktopEntryFile> out;
  if (dataHome.empty()) return out;
  const std::vector<TPlannedFile> plan = PlanFiles(RegisteredVerbs(reg, "jar"), dataHome);
  std::set<std::string> seen;
  auto add = [&](const std::string& rel, const std::string& manager) {
    if (!seen.insert(rel).second) return;
    TDesktopEntryFile e;
    e.path = dataHome + "/" + rel;
    e.fileManager = manager;
    LstatRegular(e.path, e.present);
    e.ours = HasMark(e.path);
    out.push_back(std::move(e));
  };
  for (const auto& f : plan) add(f.rel, f.manager);
  for (const auto& rel : ReadRecord(dataHome).files) {
    std::string manager = "runner";
    if (rel.rfind(kDolphinDirRel, 0) == 0) manager = "Dolphin";
    else if (rel.rfind(kNautilusDirRel, 0) == 0) manager = "GNOME Files";
    else if (rel.rfind(kNemoDirRel, 0) == 0) manager = "Nemo";
    add(rel, manager);
  }
  return out;
}

}  // namespace parcelix
