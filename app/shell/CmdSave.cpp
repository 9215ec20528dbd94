// The save commands set, unset and edit: a manifest changed and the JAR saved as the editor saves it.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ostream>

#include "app/shell/CliCommands.h"
#include "app/shell/CliJson.h"
#include "engine/common/FileSystem.h"
#include "engine/common/arxGbls.h"
#include "midlet/FileUtil.h"
#include "midlet/JarSignature.h"
#include "midlet/ManifestModel.h"
#include "midlet/MidletSuite.h"
#include "midlet/Settings.h"

namespace parcelix {

namespace {

// A save that did not happen: the error, and with --json its object.
int SaveFailed(CliContext& ctx, const SaveOptions& o, const std::string& path, const std::string& message) {
  ReportError(ctx, path, message);
  if (o.json) {
    Json j;
    PutText(j, "path", o.archive);
    j["result"] = "failed";
    PutText(j, "message", message);
    WriteJsonLine(*ctx.out, j);
  }
  return 1;
}

// The outcome of a save: the JAR's path now (on stdout), the backup and JAD
// written (on stderr unless quiet); with --json one object of them all.
void PrintSaved(CliContext& ctx, const SaveOptions& o, const SaveResult& res, const std::string& problem) {
  if (!o.json) {
    *ctx.out << res.jarPath << '\n';
    return;
  }
  Json j;
  PutText(j, "path", o.archive);
  PutText(j, "new_path", res.jarPath);
  if (res.jadWritten) PutText(j, "jad", res.jadPath);
  if (!res.backupPath.empty()) PutText(j, "backup", res.backupPath);
  j["result"] = "saved";
  PutText(j, "message", problem);
  WriteJsonLine(*ctx.out, j);
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
bool LoadGrid(CliContext& ctx, TMidletSuite& suite, const SaveOptions& o, GridLines& grid, bool& hadManifest) {
  hadManifest = true;
  try {
    grid = suite.LoadManifest(o.archive);
  } catch (const EManifestMissing&) {
    hadManifest = false;
    grid = {"Manifest-Version=1.0"};
  } catch (const std::exception& e) {
    SaveFailed(ctx, o, o.archive, e.what());
    return false;
  }
  return true;
}

// A signed JAR is saved only with --break-signature: the save changes the
// manifest (and so the bytes) that the signature covers. False (reported)
// when the save must not go on.
bool SignatureAllowsSave(CliContext& ctx, TMidletSuite& suite, const SaveOptions& o) {
  const std::string signedBy = SignatureASaveBreaks(suite, o.archive);
  if (signedBy.empty()) return true;
  if (!o.breakSignature) {
    SaveFailed(ctx, o, o.archive,
               "the JAR is signed (" + signedBy + "); a manifest save breaks the signature. The JAR is unchanged; " +
                   "add --break-signature to save it all the same");
    return false;
  }
  if (!ctx.quiet) ReportError(ctx, o.archive, "saving all the same; the signature will no longer hold (" + signedBy + ")");
  return true;
}

int RunSave(CliContext& ctx, TMidletSuite& suite, const SaveOptions& o, const GridLines& grid) {
  SaveResult res;
  try {
    res = suite.SaveCommand(grid);
  } catch (const std::exception& e) {
    return SaveFailed(ctx, o, o.archive, e.what());
  }
  std::string problem;
  if (!res.backupPath.empty() && !ctx.quiet && !o.json) ReportError(ctx, "", "backup " + res.backupPath);
  if (suite.Options.RenameAfterSave && !res.renamed) {
    problem = "keeps its name: " + res.renameReason;
    ReportError(ctx, res.jarPath, problem);
  }
  if (suite.Options.MakeJadAfterSave) {
    if (res.jadWritten) {
      if (!ctx.quiet && !o.json) ReportError(ctx, "", "JAD " + res.jadPath);
    } else {
      problem += (problem.empty() ? "" : "; ") + ("no JAD: " + res.jadError);
      ReportError(ctx, res.jarPath, "no JAD: " + res.jadError);
    }
  }
  PrintSaved(ctx, o, res, problem);
  return problem.empty() ? 0 : 1;
}

bool PrepareSuite(CliContext& ctx, TMidletSuite& suite, const SaveOptions& f) {
  LoadSettings(suite.Options);
  if (f.noBackup) suite.Options.CreateBackup = false;
  if (f.noRename) suite.Options.RenameAfterSave = false;
  if (f.noJad) suite.Options.MakeJadAfterSave = false;
  if (!FileExists(f.archive)) {
    SaveFailed(ctx, f, f.archive, "no such file");
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

int RunSet(CliContext& ctx, const SaveOptions& f) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string& kv : f.rest) {
    size_t eq = kv.find('=');
    std::string key = kv.substr(0, eq), value = eq == std::string::npos ? "" : kv.substr(eq + 1);
    if (eq == std::string::npos || !ValidAttributeName(key)) {
      ReportError(ctx, "", "set: '" + kv + "' is not KEY=VALUE with a manifest attribute name (letters, digits, '-', '_')");
      return 2;
    }
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
      ReportError(ctx, "", "set: the value of " + key + " holds a line break or NUL");
      return 2;
    }
    pairs.emplace_back(key, value);
  }
  TMidletSuite suite;
  if (!PrepareSuite(ctx, suite, f)) return 1;
  GridLines grid;
  bool hadManifest = false;
  if (!LoadGrid(ctx, suite, f, grid, hadManifest) || !SignatureAllowsSave(ctx, suite, f)) return 1;
  for (const auto& [key, value] : pairs) GridSet(grid, key, value);
  return RunSave(ctx, suite, f, grid);
}

int RunUnset(CliContext& ctx, const SaveOptions& f) {
  TMidletSuite suite;
  if (!PrepareSuite(ctx, suite, f)) return 1;
  GridLines grid;
  bool hadManifest = false;
  if (!LoadGrid(ctx, suite, f, grid, hadManifest) || !SignatureAllowsSave(ctx, suite, f)) return 1;
  int removed = 0;
  for (const std::string& key : f.rest) {
    int n = GridUnset(grid, key);
    if (n == 0) ReportError(ctx, f.archive, key + " is not in the manifest");
    removed += n;
  }
  if (removed == 0 || !hadManifest) {
    ReportError(ctx, f.archive, "nothing to remove; the JAR is unchanged");
    return 1;
  }
  return RunSave(ctx, suite, f, grid);
}

int RunEdit(CliContext& ctx, const SaveOptions& f) {
  TMidletSuite suite;
  if (!PrepareSuite(ctx, suite, f)) return 1;
  GridLines grid;
  bool hadManifest = false;
  if (!LoadGrid(ctx, suite, f, grid, hadManifest) || !SignatureAllowsSave(ctx, suite, f)) return 1;

  std::string before = GridText(grid), after;
  try {
    TPrivateTempDir work("parcelix-edit-");
    std::string file = work.Path() + ExtractFileName(f.archive) + ".manifest.txt";
    ReplaceFileContents(file, before);
    int status = RunEditor(file);
    if (status != 0) {
      ReportError(ctx, f.archive, "the editor ended with status " + std::to_string(status) + "; the JAR is unchanged");
      return 1;
    }
    if (!ReadWholeFile(file, after)) throw std::runtime_error("the edited text cannot be read");
  } catch (const std::exception& e) {
    ReportError(ctx, f.archive, e.what());
    return 1;
  }
  GridLines edited = ParseGridText(after);
  if (edited == ParseGridText(before)) {
    if (!ctx.quiet) ReportError(ctx, f.archive, "no change; the JAR is unchanged");
    *ctx.out << f.archive << '\n';
    return 0;
  }
  return RunSave(ctx, suite, f, edited);
}

}  // namespace parcelix
