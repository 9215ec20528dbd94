// The parsed options of the archive, batch and save commands, as their
// option tables (CliCommands.cpp) fill them, and the functions that run them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/shell/Cli.h"

namespace parcelix {

class TListedNames;

// list, test, extract, manifest.
struct ArchiveOptions {
  bool json = false;
  std::string archive;
  std::string dir;                 // extract: where the members go
  std::vector<std::string> masks;  // extract: the members wanted (all when empty)
};

// rename, jad.
struct BatchOptions {
  bool recursive = false;
  int jobs = 0;  // threads that read the manifests ahead; 0: one per core
  bool dryRun = false;
  bool json = false;
  int version = -1;  // rename: -1 as the settings say, 0/1: --no-version / --version
  bool update = false;  // jad: bring the JADs that exist up to date instead of writing new ones
  std::string nameTemplate;  // rename --template (the settings' Template when empty)
  std::string codePage;      // rename --codepage (the settings' CodePage when empty)
  bool numberOnConflict = false;  // rename --on-conflict=number
  std::vector<std::string> paths;
};

// set, unset, edit.
struct SaveOptions {
  bool noBackup = false, noRename = false, noJad = false;
  bool breakSignature = false;  // save a signed JAR all the same
  bool json = false;
  std::string archive;
  std::vector<std::string> rest;  // set: KEY=VALUE pairs, unset: keys
};

// check.
struct CheckOptions {
  bool recursive = false;
  int jobs = 0;  // threads that examine JARs; 0: one per core
  bool json = false, csv = false;
  bool duplicates = false, trashDuplicates = false;
  bool fix = false;  // bring JADs that do not fit their JAR up to date
  std::vector<std::string> paths;
};

// fix.
struct FixOptions {
  bool recursive = false, dryRun = false, noBackup = false;
  int jobs = 0;  // threads that examine JARs; 0: one per core
  bool salvage = false, deflate64ToDeflate = false, breakSignature = false;
  std::vector<std::string> paths;
};

// The JARs a batch works on (CmdBatch.cpp), and the paths that are none.
struct Collected {
  std::vector<std::string> jars;
  std::vector<std::pair<std::string, std::string>> problems;  // path, reason
};
// With listed, what each folder read holds is recorded there too.
Collected CollectJars(const std::vector<std::string>& paths, bool recursive, TListedNames* listed = nullptr);
// How a batch ended: the signal that stopped it between two JARs (0 when
// it ran to the end), and the JARs done by then.
struct TBatchEnd {
  int signal = 0;
  size_t done = 0;
};
// Tells on standard error that the batch stopped and that the JARs after
// the last one reported are untouched; the exit status (128 + the signal).
int Interrupted(CliContext& ctx, const TBatchEnd& end, size_t jars);
// The worker threads of a batch for -j N: N - 1, since the calling thread
// works too; none for 1 (all on this thread); 0 means one job per core.
int BatchWorkers(int jobs);

int RunList(CliContext& ctx, const ArchiveOptions& o);
int RunTest(CliContext& ctx, const ArchiveOptions& o);
int RunExtract(CliContext& ctx, const ArchiveOptions& o);
int RunManifest(CliContext& ctx, const ArchiveOptions& o);
int RunRename(CliContext& ctx, const BatchOptions& o);
int RunJad(CliContext& ctx, const BatchOptions& o);
int RunSet(CliContext& ctx, const SaveOptions& o);
int RunUnset(CliContext& ctx, const SaveOptions& o);
int RunEdit(CliContext& ctx, const SaveOptions& o);
int RunCheck(CliContext& ctx, const CheckOptions& o);
int RunFix(CliContext& ctx, const FixOptions& o);

}  // namespace parcelix
