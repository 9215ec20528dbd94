// The MIDlet commands: /rename and /jadgen, batch rename and jad, set, unset, edit and the sample.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <set>

#include "app/shell/Cli.h"
#include "engine/common/arxGbls.h"
#include "engine/write/arxZip.h"
#include "midlet/FileUtil.h"
#include "midlet/ManifestModel.h"
#include "midlet/MidletSuite.h"
#include "midlet/Settings.h"

namespace parcelix {

namespace {

namespace fs = std::filesystem;

void Show(CliContext& ctx, const std::string& title, const std::string& text, MsgIcon icon) {
  UserMessage m{title, text, icon};
  if (ctx.ShowMessage)
    ctx.ShowMessage(m);
  else
    *ctx.err << m.title << ' ' << m.text << '\n';
}

bool IsJarName(const std::string& path) { return ToLowerAscii(ExtractFileExt(path)) == ".jar"; }

// ---------------------------------------------------------------- /rename, /jadgen

int RunSlash(CliContext& ctx, const std::string& command, const std::string& file) {
  TMidletSuite suite;
  LoadSettings(suite.Options);
  try {
    if (command == "/jadgen") {
      suite.MakeJAD(file);
      return 0;
    }
    RenameResult r = suite.RenameByMIDletName(file);
    if (r.renamed) return 0;
    if (r.reason == "no MIDlet-Name" || r.reason == "empty MIDlet-Name") {
      Show(ctx, "Warning!", "File '" + file + "' has " + (r.reason[0] == 'n' ? "no" : "an empty") +
                                " MIDlet-Name: it keeps its name.",
           MsgIcon::Warning);
    } else {
      // The target exists: no message box, but the reason on stderr.
      *ctx.err << "parcelix: '" << file << "' keeps its name: " << r.reason << '\n';
    }
    return 1;
  } catch (const std::exception& e) {
    Show(ctx, "Error!", e.what(), MsgIcon::Error);
    return 1;
  }
}

// ---------------------------------------------------------------- batch helpers

struct BatchOptions {
  bool recursive = false;
  bool dryRun = false;
  int version = -1;  // -1: settings, 0/1: --no-version / --version
  std::vector<std::string> paths;
};

// Parses [-r] [-n|--dry-run] [--version|--no-version] PATH...; false on a
// usage error (already reported).
bool ParseBatch(CliContext& ctx, const std::vector<std::string>& args, bool versionFlags, const char* usage,
                BatchOptions& o) {
  bool options = true;
  for (const std::string& a : args) {
    if (options && a == "--") {
      options = false;
    } else if (options && (a == "-n" || a == "--dry-run")) {
      o.dryRun = true;
    } else if (options && (a == "-r" || a == "--recursive")) {
      o.recursive = true;
    } else if (options && versionFlags && a == "--version") {
      o.version = 1;
    } else if (options && versionFlags && a == "--no-version") {
      o.version = 0;
    } else if (options && a.size() > 2 && a[0] == '-' && a[1] != '-' &&
               a.find_first_not_of("rn", 1) == std::string::npos) {
      for (char c : a.substr(1)) (c == 'r' ? o.recursive : o.dryRun) = true;
    } else if (options && a.size() > 1 && a[0] == '-') {
      *ctx.err << "parcelix: unknown option " << a << "\nUsage: " << usage << '\n';
      return false;
    } else {
      o.paths.push_back(a);
    }
  }
  if (o.paths.empty()) {
    *ctx.err << "Usage: " << usage << '\n';
    return false;
  }
  return true;
}

struct Collected {
  std::vector<std::string> jars;
  std::vector<std::pair<std::string, std::string>> problems;  // path, reason
};

// The JARs a batch works on: named files as they are, the *.jar files of a
// named directory (and of its subdirectories with -r; links to directories
// are not followed). Collected first, so renamed files are not met again.
// The *.jar files in dir (and below it with recursive), by their entries'
// types where the file system gives them: a collection of thousands of JARs
// costs no stat per file. A link is taken when it leads to a regular file;
// links to directories are not followed. Subdirectories that cannot be read
// are passed over; false when dir itself cannot be read.
bool FindJars(const std::string& dir, bool recursive, std::vector<std::string>& found, int& err) {
  std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
  if (!d) {
    err = errno;
    return false;
  }
  const std::string prefix = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  std::vector<std::string> subdirs;
  while (const dirent* e = readdir(d.get())) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    unsigned char type = e->d_type;
    if (type == DT_UNKNOWN || type == DT_LNK) {
      struct stat st {};
      const int flags = type == DT_LNK ? 0 : AT_SYMLINK_NOFOLLOW;
      if (fstatat(dirfd(d.get()), e->d_name, &st, flags) != 0) continue;
      if (S_ISREG(st.st_mode)) type = DT_REG;
      else if (S_ISDIR(st.st_mode) && type != DT_LNK) type = DT_DIR;
      else continue;
    }
    if (type == DT_REG && IsJarName(std::string(name))) found.push_back(prefix + std::string(name));
    else if (type == DT_DIR && recursive) subdirs.push_back(prefix + std::string(name));
  }
  d.reset();
  int ignored = 0;
  for (const std::string& sub : subdirs) FindJars(sub, true, found, ignored);
  return true;
}

Collected CollectJars(const BatchOptions& o) {
  Collected c;
  for (const std::string& p : o.paths) {
    struct stat st {};
    const bool exists = stat(p.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
      std::vector<std::string> found;
      int err = 0;
      if (!FindJars(p, o.recursive, found, err)) c.problems.emplace_back(p, std::strerror(err));
      std::sort(found.begin(), found.end());
      for (auto& f : found) c.jars.push_back(std::move(f));
    } else if (exists && S_ISREG(st.st_mode)) {
      if (IsJarName(p))
        c.jars.push_back(p);
      else
        c.problems.emplace_back(p, "not a JAR file");
    } else {
      c.problems.emplace_back(p, "not found");
    }
  }
  // A JAR named twice (or named and inside a named directory) is done once.
  std::set<std::string> seen;
  c.jars.erase(std::remove_if(c.jars.begin(), c.jars.end(),
                              [&](const std::string& j) { return !seen.insert(j).second; }),
               c.jars.end());
  return c;
}

// "[i/n] name" on one terminal line, rewritten in place.
class Progress {
 public:
  Progress(CliContext& ctx, size_t total) : ctx_(ctx), total_(total) {}
  ~Progress() { Clear(); }
  void Step(size_t i, const std::string& path) {
    if (!ctx_.stderrIsTerminal) return;
    *ctx_.err << "\r\033[K[" << i + 1 << '/' << total_ << "] " << ExtractFileName(path) << std::flush;
    shown_ = true;
  }
  void Clear() {
    if (shown_) *ctx_.err << "\r\033[K" << std::flush;
    shown_ = false;
  }

 private:
  CliContext& ctx_;
  size_t total_;
  bool shown_ = false;
};

// Why a JAR could not be done; called inside a catch block.
std::string CurrentFailure() {
  try {
    throw;
  } catch (const EJarDamaged& e) {
    return std::string("damaged: ") + e.what();
  } catch (const EManifestMissing&) {
    return "no META-INF/MANIFEST.MF";
  } catch (const std::exception& e) {
    return e.what();
  }
}

// One output line per path: the paths that are no JARs first, then step's
// line for every JAR, or "JAR: <failWord> (<why>)" when it throws. Failures
// are counted in failed; step counts its own outcomes.
void ForEachJar(CliContext& ctx, const Collected& c, const char* failWord, size_t& failed,
                const std::function<std::string(const std::string&)>& step) {
  for (const auto& [path, reason] : c.problems) {
    *ctx.out << path << ": " << failWord << " (" << reason << ")\n";
    ++failed;
  }
  Progress progress(ctx, c.jars.size());
  for (size_t i = 0; i < c.jars.size(); ++i) {
    const std::string& jar = c.jars[i];
    progress.Step(i, jar);
    std::string line;
    try {
      line = step(jar);
    } catch (const std::exception&) {
      line = jar + ": " + failWord + " (" + CurrentFailure() + ")";
      ++failed;
    }
    progress.Clear();
    *ctx.out << line << '\n';
  }
}

std::string Plural(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// ---------------------------------------------------------------- set, unset, edit

struct SaveFlags {
  bool noBackup = false, noRename = false, noJad = false;
  std::string archive;
  std::vector<std::string> rest;
};

bool ParseSaveFlags(CliContext& ctx, const std::vector<std::string>& args, const char* usage, bool needRest,
                    SaveFlags& f) {
  bool options = true;
  for (const std::string& a : args) {
    if (options && a == "--") {
      options = false;
    } else if (options && a == "--no-backup") {
      f.noBackup = true;
    } else if (options && a == "--no-rename") {
      f.noRename = true;
    } else if (options && a == "--no-jad") {
      f.noJad = true;
    } else if (options && a.size() > 1 && a[0] == '-' && f.archive.empty()) {
      *ctx.err << "parcelix: unknown option " << a << "\nUsage: " << usage << '\n';
      return false;
    } else if (f.archive.empty()) {
      f.archive = a;
    } else {
      f.rest.push_back(a);
    }
  }
  if (f.archive.empty() || (needRest && f.rest.empty())) {
    *ctx.err << "Usage: " << usage << '\n';
    return false;
  }
  return true;
}

// Attribute names as Java reads them: letters, digits, '-' and '_', at most 70.
bool ValidAttributeName(const std::string& key) {
  if (key.empty() || key.size() > 70) return false;
  return std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

// Loads the grid as the editor does; a JAR without a manifest starts with
// Manifest-Version only. False (reported) when the manifest cannot be read.
bool LoadGrid(CliContext& ctx, TMidletSuite& suite, const std::string& jar, GridLines& grid, bool& hadManifest) {
  hadManifest = true;
  try {
    grid = suite.LoadManifest(jar);
  } catch (const EManifestMissing&) {
    hadManifest = false;
    grid = {"Manifest-Version=1.0"};
  } catch (const std::exception& e) {
    *ctx.err << "parcelix: " << jar << ": " << e.what() << '\n';
    return false;
  }
  return true;
}

int RunSave(CliContext& ctx, TMidletSuite& suite, const SaveFlags& f, const GridLines& grid) {
  SaveResult res;
  try {
    res = suite.SaveCommand(grid);
  } catch (const std::exception& e) {
    *ctx.err << "parcelix: " << f.archive << ": " << e.what() << '\n';
    return 1;
  }
  int status = 0;
  if (!res.backupPath.empty()) *ctx.err << "parcelix: backup " << res.backupPath << '\n';
  if (suite.Options.RenameAfterSave && !res.renamed) {
    *ctx.err << "parcelix: " << res.jarPath << " keeps its name: " << res.renameReason << '\n';
    status = 1;
  }
  if (suite.Options.MakeJadAfterSave) {
    if (res.jadWritten) {
      *ctx.err << "parcelix: JAD " << res.jadPath << '\n';
    } else {
      *ctx.err << "parcelix: no JAD: " << res.jadError << '\n';
      status = 1;
    }
  }
  *ctx.out << res.jarPath << '\n';
  return status;
}

bool PrepareSuite(CliContext& ctx, TMidletSuite& suite, const SaveFlags& f) {
  LoadSettings(suite.Options);
  if (f.noBackup) suite.Options.CreateBackup = false;
  if (f.noRename) suite.Options.RenameAfterSave = false;
  if (f.noJad) suite.Options.MakeJadAfterSave = false;
  if (!FileExists(f.archive)) {
    *ctx.err << "parcelix: " << f.archive << ": no such file\n";
    return false;
  }
  suite.ManifestJarFile = f.archive;
  return true;
}

std::string GridText(const GridLines& grid) {
  std::string s;
  for (const auto& l : grid) s += l + "\n";
  return s;
}

GridLines ParseGridText(const std::string& text) {
  GridLines grid;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) grid.push_back(line);
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  return grid;
}

// Runs $VISUAL, $EDITOR or vi on the file, through the shell so that an
// editor given with arguments ("code -w") works. The exit status, -1 when it
// could not be started.
int RunEditor(const std::string& file) {
  const char* editor = std::getenv("VISUAL");
  if (!editor || !*editor) editor = std::getenv("EDITOR");
  if (!editor || !*editor) editor = "vi";
  std::string command = std::string(editor) + " \"$1\"";
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), "sh", file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---------------------------------------------------------------- sample

// A 1x1 PNG (the suite's icon).
constexpr unsigned char kIconPng[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00,
    0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00,
    0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05,
    0x00, 0x01, 0xFF, 0x89, 0x99, 0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42,
    0x60, 0x82};

constexpr const char* kSampleManifest =
    "Manifest-Version: 1.0\r\n"
    "Created-By: Parcelix sample\r\n"
    "MIDlet-Name: Sample Game\r\n"
    "MIDlet-Version: 1.0.2\r\n"
    "MIDlet-Vendor: Parcelix\r\n"
    "MIDlet-1: Sample Game, /icon.png, SampleMidlet\r\n"
    "MIDlet-Icon: /icon.png\r\n"
    "MicroEdition-Profile: MIDP-2.0\r\n"
    "MicroEdition-Configuration: CLDC-1.1\r\n"
    "\r\n";

void WriteTreeFile(const std::string& path, std::string_view data) {
  ForceDirectories(ExtractFilePath(path));
  std::ofstream out(path, std::ios::binary);
  out.write(data.data(), std::streamsize(data.size()));
  if (!out) throw std::runtime_error("Cannot create file \"" + path + "\"");
}

// Builds the sample JAR with our own writer: the manifest first (a new
// archive from one tree), then the rest (an update from a second tree).
void BuildSampleJar(const std::string& jar, const std::string& scratch) {
  const std::string first = scratch + "manifest/";
  const std::string rest = scratch + "rest/";
  WriteTreeFile(first + "META-INF/MANIFEST.MF", kSampleManifest);
  // A placeholder class file: the magic number and a version, no code.
  WriteTreeFile(rest + "SampleMidlet.class", std::string("\xCA\xFE\xBA\xBE\x00\x00\x00\x2E", 8));
  WriteTreeFile(rest + "icon.png",
                std::string_view(reinterpret_cast<const char*>(kIconPng), sizeof kIconPng));
  std::string level;
  for (int i = 0; i < 64; ++i) level += "level 1 row " + std::to_string(i) + ": ....##....##....\n";
  WriteTreeFile(rest + "res/level1.txt", level);

  for (const std::string& tree : {first, rest}) {
    TJar writer;
    writer.FileSpec = {tree + "*.*"};
    writer.SetArchiveFile(jar);
    if (writer.Compress() < 1) {
      std::string why = writer.Errors().empty() ? "nothing written" : ErrorMessage(writer.Errors().front().code);
      throw std::runtime_error("Cannot write " + jar + ": " + why);
    }
  }
}

void PrintIndented(std::ostream& os, const std::string& text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    os << "    " << line << '\n';
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
}

}  // namespace

int CmdSlashCommand(CliContext& ctx, const std::vector<std::string>& args) {
  const std::string command = ToLowerAscii(args.empty() ? std::string() : args[0]);
  const std::string file = args.size() > 1 ? args[1] : std::string();
  if (command != "/rename" && command != "/jadgen") {
    Show(ctx, "Warning!", "Usage:\r\n Parcelix /rename FileName\r\nor\r\n Parcelix /jadgen FileName",
         MsgIcon::Information);
    return 2;
  }
  if (!FileExists(file)) {
    Show(ctx, "Error!", "File '" + file + "' not exists!", MsgIcon::Error);
    return 1;
  }
  if (!IsJarName(file)) {
    Show(ctx, "Error!", "File '" + file + "' is not a JAR-file!", MsgIcon::Error);
    return 1;
  }
  return RunSlash(ctx, command, file);
}

int CmdRename(CliContext& ctx, const std::vector<std::string>& args) {
  static constexpr const char* kUsage = "parcelix rename [-r] [-n|--dry-run] [--version|--no-version] PATH...";
  BatchOptions o;
  if (!ParseBatch(ctx, args, true, kUsage, o)) return 2;
  Collected c = CollectJars(o);
  TMidletSuite suite;
  LoadSettings(suite.Options);
  if (o.version >= 0) suite.Options.AddVersion = o.version == 1;

  size_t renamed = 0, already = 0, kept = 0;
  std::set<std::string> planned;  // dry run: names taken by earlier JARs of this run
  ForEachJar(ctx, c, "kept", kept, [&](const std::string& jar) {
    RenameResult r;
    if (o.dryRun) {
      r = suite.ComputeMIDletName(jar);
      if (r.reason.empty() && r.newPath != jar) {
        struct stat st;
        if (lstat(r.newPath.c_str(), &st) == 0 || planned.count(r.newPath))
          r.reason = "'" + ExtractFileName(r.newPath) + "' exists";
        else
          planned.insert(r.newPath);
      }
      r.renamed = r.reason.empty();
    } else {
      r = suite.RenameByMIDletName(jar);
    }
    if (!r.renamed) {
      ++kept;
      return jar + ": kept (" + r.reason + ")";
    }
    if (r.newPath == jar) {
      ++already;
      return jar + ": kept (already named)";
    }
    ++renamed;
    return jar + " -> " + r.newPath;
  });
  *ctx.out << Plural(c.jars.size() + c.problems.size(), "JAR", "JARs") << ": " << renamed
           << (o.dryRun ? " to rename, " : " renamed, ") << already << " already named, " << kept << " kept"
           << (o.dryRun ? " (dry run)" : "") << '\n';
  return kept == 0 ? 0 : 1;
}

int CmdJad(CliContext& ctx, const std::vector<std::string>& args) {
  static constexpr const char* kUsage = "parcelix jad [-r] [-n|--dry-run] PATH...";
  BatchOptions o;
  if (!ParseBatch(ctx, args, false, kUsage, o)) return 2;
  Collected c = CollectJars(o);
  TMidletSuite suite;
  LoadSettings(suite.Options);

  size_t written = 0, failed = 0;
  TDurableBatch batch;  // the new JADs go to the disk together at the end
  ForEachJar(ctx, c, "no JAD", failed, [&](const std::string& jar) {
    std::string jad;
    if (o.dryRun) {
      suite.JADText(jar);  // reads the manifest, writes nothing
      jad = JadPathOf(jar);
    } else {
      jad = suite.MakeJAD(jar, &batch);
    }
    ++written;
    return jar + " -> " + jad;
  });
  *ctx.out << Plural(written + failed, "JAR", "JARs") << ": " << written
           << (o.dryRun ? " JADs to write, " : " JADs written, ") << failed << " failed"
           << (o.dryRun ? " (dry run)" : "") << '\n';
  if (!batch.Flush()) {
    *ctx.err << "parcelix: the JADs may not be on the disk: " << std::strerror(errno) << '\n';
    return 1;
  }
  return failed == 0 ? 0 : 1;
}

int CmdSet(CliContext& ctx, const std::vector<std::string>& args) {
  static constexpr const char* kUsage = "parcelix set [--no-backup] [--no-rename] [--no-jad] JAR KEY=VALUE...";
  SaveFlags f;
  if (!ParseSaveFlags(ctx, args, kUsage, true, f)) return 2;
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string& kv : f.rest) {
    size_t eq = kv.find('=');
    std::string key = kv.substr(0, eq), value = eq == std::string::npos ? "" : kv.substr(eq + 1);
    if (eq == std::string::npos || !ValidAttributeName(key)) {
      *ctx.err << "parcelix: '" << kv << "' is not KEY=VALUE with a manifest attribute name"
               << " (letters, digits, '-', '_')\n";
      return 2;
    }
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
      *ctx.err << "parcelix: the value of " << key << " holds a line break or NUL\n";
      return 2;
    }
    pairs.emplace_back(key, value);
  }
  TMidletSuite suite;
  if (!PrepareSuite(ctx, suite, f)) return 1;
  GridLines grid;
  bool hadManifest = false;
  if (!LoadGrid(ctx, suite, f.archive, grid, hadManifest)) return 1;
  for (const auto& [key, value] : pairs) GridSet(grid, key, value);
  return RunSave(ctx, suite, f, grid);
}

int CmdUnset(CliContext& ctx, const std::vector<std::string>& args) {
  static constexpr const char* kUsage = "parcelix unset [--no-backup] [--no-rename] [--no-jad] JAR KEY...";
  SaveFlags f;
  if (!ParseSaveFlags(ctx, args, kUsage, true, f)) return 2;
  TMidletSuite suite;
  if (!PrepareSuite(ctx, suite, f)) return 1;
  GridLines grid;
  bool hadManifest = false;
  if (!LoadGrid(ctx, suite, f.archive, grid, hadManifest)) return 1;
  int removed = 0;
  for (const std::string& key : f.rest) {
    int n = GridUnset(grid, key);
    if (n == 0) *ctx.err << "parcelix: " << key << " is not in the manifest\n";
    removed += n;
  }
  if (removed == 0 || !hadManifest) {
    *ctx.err << "parcelix: nothing to remove; " << f.archive << " is unchanged\n";
    return 1;
  }
  return RunSave(ctx, suite, f, grid);
}

int CmdEdit(CliContext& ctx, const std::vector<std::string>& args) {
  static constexpr const char* kUsage = "parcelix edit [--no-backup] [--no-rename] [--no-jad] JAR";
  SaveFlags f;
  if (!ParseSaveFlags(ctx, args, kUsage, false, f) ) return 2;
  if (!f.rest.empty()) {
    *ctx.err << "Usage: " << kUsage << '\n';
    return 2;
  }
  TMidletSuite suite;
  if (!PrepareSuite(ctx, suite, f)) return 1;
  GridLines grid;
  bool hadManifest = false;
  if (!LoadGrid(ctx, suite, f.archive, grid, hadManifest)) return 1;

  std::string before = GridText(grid), after;
  try {
    TPrivateTempDir work("parcelix-edit-");
    std::string file = work.Path() + ExtractFileName(f.archive) + ".manifest.txt";
    ReplaceFileContents(file, before);
    int status = RunEditor(file);
    if (status != 0) {
      *ctx.err << "parcelix: the editor ended with status " << status << "; " << f.archive << " is unchanged\n";
      return 1;
    }
    if (!ReadWholeFile(file, after)) throw std::runtime_error("the edited text cannot be read");
  } catch (const std::exception& e) {
    *ctx.err << "parcelix: " << e.what() << '\n';
    return 1;
  }
  GridLines edited = ParseGridText(after);
  if (edited == ParseGridText(before)) {
    *ctx.err << "parcelix: no change; " << f.archive << " is unchanged\n";
    *ctx.out << f.archive << '\n';
    return 0;
  }
  return RunSave(ctx, suite, f, edited);
}

int CmdSample(CliContext& ctx, const std::vector<std::string>& args) {
  if (!args.empty()) {
    *ctx.err << "Usage: parcelix sample\n";
    return 2;
  }
  try {
    TPrivateTempDir out("parcelix-sample-");
    out.Keep();
    std::ostream& os = *ctx.out;
    os << "Parcelix sample: working in " << out.Path() << "\n\n";
    const std::string jar = out.Path() + "sample.jar";
    {
      TPrivateTempDir scratch("parcelix-sample-src-");
      os << "1. Writing sample.jar with the built-in JAR writer\n";
      BuildSampleJar(jar, scratch.Path());
    }
    TMidletSuite suite;
    LoadSettings(suite.Options);
    os << "   " << GetJarFileSize(jar) << " bytes. Its manifest:\n";
    PrintIndented(os, ManifestDocText(suite.LoadManifestDoc(jar)));

    os << "\n2. Renaming it after MIDlet-Name" << (suite.Options.AddVersion ? " and MIDlet-Version" : "")
       << " (AddVersion is " << (suite.Options.AddVersion ? "on" : "off") << ")\n";
    RenameResult r = suite.RenameByMIDletName(jar);
    if (!r.renamed) throw std::runtime_error("the rename did not happen: " + r.reason);
    os << "   sample.jar -> " << ExtractFileName(r.newPath) << '\n';

    os << "\n3. Writing the JAD beside it\n";
    std::string jad = suite.MakeJAD(r.newPath);
    os << "   " << ExtractFileName(jad) << '\n';

    os << "\nFiles in " << out.Path() << ":\n";
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out.Path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const auto& n : names) os << "    " << n << "  (" << GetJarFileSize(out.Path() + n) << " bytes)\n";

    std::string jadText;
    ReadWholeFile(jad, jadText);
    os << "\nThe JAD:\n";
    PrintIndented(os, jadText);
    return 0;
  } catch (const std::exception& e) {
    *ctx.err << "parcelix: sample: " << e.what() << '\n';
    return 1;
  }
}

}  // namespace parcelix
