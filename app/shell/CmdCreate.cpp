// The create command: builds a new archive from directory trees with the engine's writer.
#include <csignal>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>
#include <unistd.h>

#include "app/shell/CliTable.h"
#include "app/shell/Progress.h"
#include "engine/common/arxGbls.h"
#include "engine/read/Err_Msgs.h"
#include "engine/write/arxZip.h"

namespace parcelix {

namespace {

struct CreateOptions {
  bool store = false;
  int level = 6;
  std::string archive;
  std::vector<std::string> dirs;
};

TDeflateType DeflateTypeOf(int level) {
  return level == 1 ? dtDeflateF : level == 9 ? dtDeflateX : dtDeflateN;
}

// How many entries the archive will get (files and empty directories), for
// the progress line only: a tree that cannot be read counts what could be.
uint64_t CountEntries(const std::vector<std::string>& dirs) {
  namespace fs = std::filesystem;
  uint64_t n = 0;
  for (const auto& dir : dirs) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
      std::error_code ignored;
      if (!it->is_directory(ignored) || fs::is_empty(it->path(), ignored)) ++n;
    }
  }
  return n;
}

void ReportWriterErrors(CliContext& ctx, const TJar& jar) {
  for (const auto& e : jar.Errors()) {
    std::string message = ErrorMessage(e.code);
    if (!e.extendedMsg.empty()) message += " (" + e.extendedMsg + ")";
    ReportError(ctx, e.fileName.empty() ? jar.ArchiveFile() : e.fileName, message);
  }
}

int RunCreate(CliContext& ctx, const CreateOptions& o) {
  TStringList specs;
  for (const std::string& dir : o.dirs) {
    if (!DirectoryExists(dir)) {
      ReportError(ctx, dir, "not a directory");
      return 1;
    }
    // Each tree is stored relative to its own top directory.
    specs.push_back(IncludeTrailingSlash(dir) + "*.*");
  }

  // With a file-size limit (ulimit -f) the kernel would kill the process on
  // the first write past it, leaving the temporary archive behind; ignored,
  // the write fails instead and the run cleans up and reports "Disk full".
  std::signal(SIGXFSZ, SIG_IGN);

  TJar jar;
  jar.CreateNew = true;  // a create replaces the target, it never updates it
  jar.StoreEmptySubDirs = true;
  jar.DeflateType = DeflateTypeOf(o.level);
  if (o.store) jar.SetCompressMethod(cmStore);
  jar.FileSpec = specs;
  jar.SetArchiveFile(o.archive);
  // The temporary archive is made beside the target, so that the commit is a
  // rename on one file system.
  const std::string targetDir = ExtractFilePath(jar.ArchiveFile());
  if (DirectoryExists(targetDir.empty() ? std::string(".") : targetDir))
    jar.SetTempDir(targetDir.empty() ? std::string("./") : targetDir);
  if (ctx.verbose)
    *ctx.out << "Creating " << jar.ArchiveFile() << ": "
             << (o.store ? std::string("stored") : "Deflate level " + std::to_string(o.level))
             << ", temporary archive in " << (targetDir.empty() ? std::string(".") : targetDir) << "\n";

  const bool showProgress = ctx.stderrIsTerminal && !ctx.quiet;
  TProgress progress(*ctx.err, showProgress, showProgress ? CountEntries(o.dirs) : 0, "files");
  jar.OnRead = [&](TCustomCClass&, const std::string& storedName) {
    if (!ctx.quiet) {
      progress.Clear();
      *ctx.out << "  adding: " << storedName << "\n" << std::flush;
    }
    progress.Step(storedName);
  };

  const int written = jar.Compress();
  progress.Clear();
  ReportWriterErrors(ctx, jar);
  if (written > 0 && !ctx.quiet)
    *ctx.out << written << (written == 1 ? " entry" : " entries") << " written to " << jar.ArchiveFile() << "\n";
  return (written > 0 && jar.Errors().empty()) ? 0 : 1;
}

}  // namespace

CommandRunner CreateTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description(
      "Makes a new archive of the trees below each DIR (each stored relative to itself, empty directories "
      "included), replacing ARCHIVE only when the new one is complete.");
  auto o = std::make_shared<CreateOptions>();
  cmd.add_flag("--store", o->store, "keep the members uncompressed");
  cmd.add_option("--level", o->level, "Deflate level: 1 fast, 6 normal (the default), 9 best")
      ->check(CLI::IsMember({1, 6, 9}));
  cmd.add_option("ARCHIVE", o->archive, "the archive to write")->required();
  cmd.add_option("DIR", o->dirs, "the directory trees to store")->required();
  return [&ctx, o] { return RunCreate(ctx, *o); };
}

}  // namespace parcelix
