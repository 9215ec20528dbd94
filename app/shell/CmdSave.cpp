// The save commands set, unset and edit: a manifest changed and the JAR saved as the editor saves it.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ostream>

#include "app/shell/Cli.h"
#include "engine/common/FileSystem.h"
#include "engine/common/arxGbls.h"
#include "midlet/FileUtil.h"
#include "midlet/ManifestModel.h"
#include "midlet/MidletSuite.h"
#include "midlet/Settings.h"

namespace parcelix {

namespace {

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

}  // namespace

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

}  // namespace parcelix
