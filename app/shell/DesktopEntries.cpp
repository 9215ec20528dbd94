// The desktop entries that show the JAR verbs of Parcelix's registry in the file managers.
//
// Linux file managers do not read the registry, so every change of the JAR
// verbs rewrites small desktop files from it:
//   parcelix/menu/<slug>.sh                 runner: the verb's command once per .jar
//   nautilus/scripts/<verb text>            GNOME Files script (a copy of the runner)
//   nemo/actions/<slug>.nemo_action         Nemo action running the runner
//   kio/servicemenus/parcelix-jar.desktop   Dolphin service menu, one action per verb
// all under $XDG_DATA_HOME. Each file carries kMark, and parcelix/desktop-entries
// records what was written (and which directories were made), so that "OFF"
// removes exactly those files and never a file of the user's.
#include "app/shell/ContextMenu.h"

#include "app/shell/CommandQuoting.h"
#include "app/shell/KeyFile.h"
#include "app/shell/MenuRunnerScript.h"
#include "engine/common/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <set>
#include <string_view>
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

// Fills the {{NAME}} places of a template in one pass: text put in is never
// read again, so a verb named "{{RUN}}" stays a name.
std::string FillTemplate(std::string_view text, const std::map<std::string, std::string>& values) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t open = text.find("{{", pos);
    const size_t close = open == std::string_view::npos ? open : text.find("}}", open + 2);
    if (close == std::string_view::npos) break;
    const auto it = values.find(std::string(text.substr(open + 2, close - open - 2)));
    out += text.substr(pos, open - pos);
    if (it != values.end()) out += it->second;
    else out += text.substr(open, close + 2 - open);
    pos = close + 2;
  }
  out += text.substr(std::min(pos, text.size()));
  return out;
}

std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\n' || c == '\r') c = ' ';
  return s;
}

// The runner script (menu-runner.sh) for one verb.
std::string RunnerScript(const TContextMenuVerb& v) {
  std::string run;
  for (const auto& word : SplitCommandLine(v.command)) run += (run.empty() ? "" : " ") + ShellWord(word);
  // The program's messages go to the desktop too (see Notify.h), also when the
  // file manager was started from a terminal.
  run = run.empty() ? ":" : "PARCELIX_DESKTOP_MESSAGES=1 " + run;
  return FillTemplate(kMenuRunnerTemplate, {{"VERB_TEXT", OneLine(v.verb)},
                                            {"MARK", kMark},
                                            {"COMMAND_TEXT", OneLine(v.command)},
                                            {"VERB_QUOTED", ShellQuote(v.verb)},
                                            {"RUN", run}});
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


std::string MarkComment() { return std::string(kMark) + " from its registry; \"parcelix integrate off\" removes it."; }

// Nemo parses Exec like a shell command line without expansions and puts
// each selected path there in double quotes, escaped for them.
std::string NemoAction(const TPlannedVerb& p, const std::string& runnerAbs) {
  TKeyFileWriter nemo;
  nemo.Group("Nemo Action");
  nemo.Comment(MarkComment());
  nemo.Entry("Name", KeyFileValue(NemoLiteral(p.verb.verb)));
  nemo.Entry("Comment", KeyFileValue(NemoLiteral(p.verb.verb)) + " (Parcelix)");
  nemo.Entry("Exec", KeyFileValue(NemoLiteral(ShellQuote(runnerAbs)) + " %F"));
  nemo.Entry("Icon-Name", kJarIcon);
  nemo.Entry("Selection", "notnone");
  nemo.Entry("Extensions", "jar;");
  nemo.Entry("Mimetypes", kJarMimeTypes);
  nemo.Entry("Quote", "double");
  return nemo.Text();
}

std::vector<TPlannedFile> PlanFiles(const std::vector<TContextMenuVerb>& verbs, const std::string& dataHome) {
  std::vector<TPlannedFile> files;
  if (verbs.empty()) return files;
  const std::vector<TPlannedVerb> planned = PlanVerbs(verbs);

  TKeyFileWriter dolphin;
  dolphin.Group("Desktop Entry");
  dolphin.Comment(MarkComment());
  dolphin.Entry("Type", "Application");
  dolphin.Entry("Name", "Parcelix");
  dolphin.Entry("Icon", kJarIcon);
  dolphin.Entry("MimeType", kJarMimeTypes);
  dolphin.Entry("X-KDE-Priority", "TopLevel");
  std::string actions;
  for (const auto& p : planned) actions += p.slug + ";";
  dolphin.Entry("Actions", actions);

  for (const auto& p : planned) {
    const std::string runnerRel = std::string(kRunnerDirRel) + "/" + p.slug + ".sh";
    const std::string runnerAbs = dataHome + "/" + runnerRel;
    const std::string script = RunnerScript(p.verb);
    files.push_back({runnerRel, "runner", script, 0755});
    files.push_back({std::string(kNautilusDirRel) + "/" + p.scriptName, "GNOME Files", script, 0755});
    files.push_back({std::string(kNemoDirRel) + "/" + p.slug + ".nemo_action", "Nemo", NemoAction(p, runnerAbs), 0644});
    // Dolphin (KIO) quotes the %F paths itself, one argument each.
    dolphin.Group("Desktop Action " + p.slug);
    dolphin.Entry("Name", KeyFileValue(p.verb.verb));
    dolphin.Entry("Icon", kJarIcon);
    dolphin.Entry("Exec", KeyFileValue(DesktopExecArg(runnerAbs) + " %F"));
  }
  // Dolphin only runs service menus outside the system folders when they are executable.
  files.push_back({kDolphinFileRel, "Dolphin", dolphin.Text(), 0755});
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
