// The create command: builds a new archive from directory trees with the engine's writer.
#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "app/shell/Cli.h"
#include "engine/common/arxGbls.h"
#include "engine/read/Err_Msgs.h"
#include "engine/write/arxZip.h"

namespace parcelix {

namespace {

constexpr const char* kCreateUsage = "Usage: parcelix create [--store] [--level 1|6|9] ARCHIVE DIR...\n";

bool ParseLevel(const std::string& v, TDeflateType& out) {
  if (v == "1") out = dtDeflateF;
  else if (v == "6") out = dtDeflateN;
  else if (v == "9") out = dtDeflateX;
  else return false;
  return true;
}

}  // namespace

int CmdCreate(CliContext& ctx, const std::vector<std::string>& args) {
  bool store = false;
  TDeflateType level = dtDeflateN;
  std::vector<std::string> positional;
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options && a == "--") {
      options = false;
    } else if (options && a == "--store") {
      store = true;
    } else if (options && (a == "--level" || a.rfind("--level=", 0) == 0)) {
      std::string v;
      if (a == "--level") {
        if (i + 1 >= args.size()) {
          *ctx.err << "parcelix create: --level needs 1, 6 or 9\n" << kCreateUsage;
          return 2;
        }
        v = args[++i];
      } else {
        v = a.substr(8);
      }
      if (!ParseLevel(v, level)) {
        *ctx.err << "parcelix create: --level needs 1, 6 or 9, not '" << v << "'\n" << kCreateUsage;
        return 2;
      }
    } else if (options && a.size() > 1 && a[0] == '-') {
      *ctx.err << "parcelix create: unknown option '" << a << "'\n" << kCreateUsage;
      return 2;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() < 2) {
    *ctx.err << kCreateUsage;
    return 2;
  }

  const std::string archive = positional[0];
  TStringList specs;
  for (size_t i = 1; i < positional.size(); ++i) {
    const std::string& dir = positional[i];
    if (!DirectoryExists(dir)) {
      *ctx.err << "parcelix create: " << dir << ": not a directory\n";
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
  jar.DeflateType = level;
  if (store) jar.SetCompressMethod(cmStore);
  jar.FileSpec = specs;
  jar.SetArchiveFile(archive);
  // The temporary archive is made beside the target, so that the commit is a
  // rename on one file system.
  const std::string targetDir = ExtractFilePath(jar.ArchiveFile());
  if (DirectoryExists(targetDir.empty() ? std::string(".") : targetDir))
    jar.SetTempDir(targetDir.empty() ? std::string("./") : targetDir);
  jar.OnRead = [&ctx](TCustomCClass&, const std::string& storedName) { *ctx.out << "  adding: " << storedName << "\n"; };

  const int written = jar.Compress();
  for (const auto& e : jar.Errors()) {
    *ctx.err << "parcelix create: " << ErrorMessage(e.code);
    if (!e.fileName.empty()) *ctx.err << ": " << e.fileName;
    if (!e.extendedMsg.empty()) *ctx.err << " (" << e.extendedMsg << ")";
    *ctx.err << "\n";
  }
  if (written > 0) *ctx.out << written << (written == 1 ? " entry" : " entries") << " written to " << jar.ArchiveFile() << "\n";
  return (written > 0 && jar.Errors().empty()) ? 0 : 1;
}

}  // namespace parcelix
