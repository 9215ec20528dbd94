// The batch commands rename and jad: every JAR named or found in the folders named.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <unordered_set>
#include <thread>

#include "app/shell/CliCommands.h"
#include "app/shell/CliJson.h"
#include "app/shell/Interrupt.h"
#include "app/shell/ListedNames.h"
#include "app/shell/Progress.h"
#include "engine/common/FileSystem.h"
#include "engine/common/OrderedRun.h"
#include "engine/common/arxGbls.h"
#include "engine/read/arxUnZip.h"
#include "midlet/FileUtil.h"
#include "midlet/JadUpdate.h"
#include "midlet/ManifestModel.h"
#include "midlet/MidletSuite.h"
#include "midlet/NameTemplate.h"
#include "midlet/Settings.h"

namespace parcelix {

namespace {

std::string JoinPath(std::string_view prefix, std::string_view name) {
  std::string path;
  path.reserve(prefix.size() + name.size());
  return path.append(prefix).append(name);
}

// The JARs a batch works on: named files as they are, the *.jar files of a
// named directory (and of its subdirectories with -r; links to directories
// are not followed). Collected first, so renamed files are not met again.
// The *.jar files in dir (and below it with recursive), by their entries'
// types where the file system gives them: a collection of thousands of JARs
// costs no stat per file. A link is taken when it leads to a regular file;
// links to directories are not followed. Subdirectories that cannot be read
// are passed over; false when dir itself cannot be read.
bool FindJars(const std::string& dir, bool recursive, std::vector<std::string>& found, int& err,
              TListedNames* listed) {
  std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
  if (!d) {
    err = errno;
    return false;
  }
  const std::string prefix = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  std::vector<std::string> subdirs;
  std::string lettered;  // an entry whose letters tell whether the folder folds case
  if (listed) listed->Open(prefix);
  while (const dirent* e = readdir(d.get())) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    if (listed) {
      listed->Add(name);
      const auto letter = [](char ch) { return (ch | 0x20) >= 'a' && (ch | 0x20) <= 'z'; };
      if (lettered.empty() && std::any_of(name.begin(), name.end(), letter)) lettered = name;
    }
    unsigned char type = e->d_type;
    if (type == DT_UNKNOWN || type == DT_LNK) {
      struct stat st {};
      const int flags = type == DT_LNK ? 0 : AT_SYMLINK_NOFOLLOW;
      if (fstatat(dirfd(d.get()), e->d_name, &st, flags) != 0) continue;
      if (S_ISREG(st.st_mode)) type = DT_REG;
      else if (S_ISDIR(st.st_mode) && type != DT_LNK) type = DT_DIR;
      else continue;
    }
    // A name whose extension is .jar, in any case.
    if (type == DT_REG && name.size() >= 4 && SameTextAscii(name.substr(name.size() - 4), ".jar"))
      found.push_back(JoinPath(prefix, name));
    else if (type == DT_DIR && recursive) subdirs.push_back(JoinPath(prefix, name));
  }
  if (listed) listed->Close(!lettered.empty() && FolderMatchesExactly(dirfd(d.get()), lettered));
  d.reset();
  int ignored = 0;
  for (const std::string& sub : subdirs) FindJars(sub, true, found, ignored, listed);
  return true;
}

// Sorts paths in byte order, as std::sort of the strings would, faster for
// the thousands of one collection: they share a long common beginning
// (their folder, often more), so each is keyed by the eight bytes after it
// and only paths of equal keys are compared whole.
void SortPaths(std::vector<std::string>& paths) {
  if (paths.size() < 2) return;
  size_t common = paths.front().size();
  for (const std::string& p : paths) {
    common = std::min(common, p.size());
    while (common > 0 && p.compare(0, common, paths.front(), 0, common) != 0) --common;
  }
  struct Keyed {
    uint64_t key;
    uint32_t index;
  };
  std::vector<Keyed> keyed(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    uint64_t key = 0;
    for (size_t b = 0; b < 8; ++b)
      key = key << 8 | (common + b < paths[i].size() ? uint8_t(paths[i][common + b]) : 0);
    keyed[i] = {key, uint32_t(i)};
  }
  std::sort(keyed.begin(), keyed.end(), [&paths](const Keyed& a, const Keyed& b) {
    return a.key != b.key ? a.key < b.key : paths[a.index] < paths[b.index];
  });
  std::vector<std::string> sorted;
  sorted.reserve(paths.size());
  for (const Keyed& k : keyed) sorted.push_back(std::move(paths[k.index]));
  paths = std::move(sorted);
}

}  // namespace

int Interrupted(CliContext& ctx, const TBatchEnd& end, size_t jars) {
  ReportError(ctx, "", "interrupted after " + std::to_string(end.done) + " of " + std::to_string(jars) +
                           " JARs; the JARs not reported are untouched");
  return 128 + end.signal;
}

int BatchWorkers(int jobs) {
  if (jobs <= 0) jobs = int(std::max(1u, std::thread::hardware_concurrency()));
  // The calling thread works too (CallerWorks): it is one of the jobs.
  return jobs - 1;
}

Collected CollectJars(const std::vector<std::string>& paths, bool recursive, TListedNames* listed) {
  Collected c;
  for (const std::string& p : paths) {
    struct stat st {};
    const bool exists = stat(p.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
      std::vector<std::string> found;
      int err = 0;
      if (!FindJars(p, recursive, found, err, listed)) c.problems.emplace_back(p, std::strerror(err));
      SortPaths(found);
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
  // A JAR named twice (or named and inside a named directory) is done once;
  // one directory's walk names each JAR once.
  if (paths.size() < 2) return c;
  std::unordered_set<std::string> seen;
  c.jars.erase(std::remove_if(c.jars.begin(), c.jars.end(),
                              [&](const std::string& j) { return !seen.insert(j).second; }),
               c.jars.end());
  return c;
}

namespace {

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

// What a batch did with one JAR: result is the word of its JSON object
// ("renamed", "unchanged", "kept", "duplicate", "written", "failed"), target the new path
// or JAD (empty when none), message why it was kept or failed.
struct Outcome {
  std::string result;
  std::string target;
  std::string message;
};

// One line per JAR: "JAR -> TARGET", or "JAR: <failWord> (<message>)"; with
// --json one object: path, the target under targetKey, result, message.
void PrintOutcome(CliContext& ctx, const BatchOptions& o, const std::string& jar, const Outcome& r,
                  const char* failWord, const char* targetKey) {
  if (!o.json) {
    if (ctx.quiet && r.result != "kept" && r.result != "failed") return;  // -q: only the JARs not done
    // The line is made whole and written at once: one call into the stream.
    std::string line;
    line.reserve(jar.size() + r.target.size() + r.message.size() + 32);
    line = jar;
    if (r.target.empty()) {
      line += ": ";
      line += r.result == "duplicate" ? r.result.c_str() : failWord;
      line.append(" (").append(r.message).append(")");
    } else {
      line.append(" -> ").append(r.target);
      if (!r.message.empty()) line.append(" (").append(r.message).append(")");
    }
    line += '\n';
    ctx.out->write(line.data(), std::streamsize(line.size()));
    return;
  }
  Json j;
  PutText(j, "path", jar);
  if (!r.target.empty()) PutText(j, targetKey, r.target);
  j["result"] = r.result;
  PutText(j, "message", r.message);
  if (o.dryRun) j["dry_run"] = true;
  WriteJsonLine(*ctx.out, j);
}

// A JAR's manifest as a worker read it, for the suite to take over, and
// what the worker made of it ahead for the step (a JAD not yet named).
struct ReadManifest {
  TFileIdentity identity;
  std::vector<uint8_t> bytes;
  bool read = false;
  std::unique_ptr<TNewFile> made;
};

// Work a worker does for a JAR right after reading its manifest, so that
// the step on this thread has less to do; it must change nothing anyone sees.
using TAhead = std::function<void(const std::string& jar, ReadManifest& m)>;

// Manifests read ahead of the steps, at most: bounds the memory a batch holds.
constexpr size_t kReadAhead = 64;

// Every path that is no JAR, then every JAR through step (a JAR on which it
// throws has failed). With a suite, worker threads read the manifests ahead
// and hand them to it; the steps (the decisions, the renames, the JADs) and the report
// run on this thread in the order of the JARs, as a single thread would.
// Failures are counted in failed; step counts its own outcomes. Ctrl+C
// stops the batch between two JARs: the result says after how many.
TBatchEnd ForEachJar(CliContext& ctx, const BatchOptions& o, const Collected& c, const char* failWord,
                     const char* targetKey, size_t& failed, TMidletSuite* suite,
                     const std::function<Outcome(const std::string&, ReadManifest&)>& step,
                     const TAhead& ahead = {}) {
  for (const auto& [path, reason] : c.problems) {
    PrintOutcome(ctx, o, path, {"failed", "", reason}, failWord, targetKey);
    ++failed;
  }
  TInterruptWatch interrupt;
  size_t done = 0;
  TProgress progress(*ctx.err, ctx.stderrIsTerminal && !ctx.quiet, c.jars.size(), "JARs");
  const int workers = suite ? BatchWorkers(o.jobs) : 0;
  TObjectPool<TUnZip> readers([] { return std::make_unique<TUnZip>(); });
  TOrderedRun<ReadManifest> run(workers, kReadAhead);
  run.CallerWorks = true;
  run.Run(
      c.jars.size(),
      [&](size_t i) {
        if (workers == 0) return ReadManifest{};  // one thread: the step reads it itself
        // A JAR whose manifest cannot be read is left to the step, which
        // reads it again and says why exactly as a single thread would.
        try {
          // A plain JAR needs no reader from the pool, nor its lock.
          TPlainMember m;
          if (!ReadPlainJarManifest(c.jars[i], m))
            m = readers.With([&](TUnZip& reader) { return ReadFullJarManifest(reader, c.jars[i]); });
          ReadManifest read{m.identity, std::move(m.bytes), true, nullptr};
          if (ahead) ahead(c.jars[i], read);
          return read;
        } catch (const std::exception&) {
          return ReadManifest{};
        }
      },
      [&](size_t i, TOrderedResult<ReadManifest>& read) {
        if (interrupt.Caught()) return false;
        const std::string& jar = c.jars[i];
        if (progress.Enabled()) progress.Update(i, ExtractFileName(jar));
        Outcome r;
        try {
          ReadManifest m = read.Take();
          if (m.read) suite->HoldManifest(jar, m.identity, std::move(m.bytes));
          r = step(jar, m);
        } catch (const std::exception&) {
          r = {"failed", "", CurrentFailure()};
          ++failed;
        }
        progress.Clear();
        PrintOutcome(ctx, o, jar, r, failWord, targetKey);
        ++done;
        return true;
      });
  return {interrupt.Caught(), done};
}

std::string Plural(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

namespace {

// The settings with the command's options over them; false, with the error
// told, when the template or code page that results is not valid.
bool RenameSettings(CliContext& ctx, const BatchOptions& o, TMidletSuite& suite) {
  LoadSettings(suite.Options);
  if (o.version >= 0) suite.Options.AddVersion = o.version == 1;
  if (!o.nameTemplate.empty()) suite.Options.Template = o.nameTemplate;
  if (!o.codePage.empty()) suite.Options.CodePage = o.codePage;
  if (o.numberOnConflict) suite.OnConflict = TConflictMode::ocNumber;
  try {
    if (!suite.Options.Template.empty()) TNameTemplate check(suite.Options.Template);
    suite.Codec();
  } catch (const std::exception& e) {
    ReportError(ctx, "", std::string("rename: ") + e.what());
    return false;
  }
  return true;
}

}  // namespace

int RunRename(CliContext& ctx, const BatchOptions& o) {
  // A dry run asks of each new name whether it is taken: the folders' names
  // as the walk saw them answer for most, without a stat each. (A real run
  // asks the disk at the move, which changes what the folders hold.)
  TListedNames listed;
  Collected c = CollectJars(o.paths, o.recursive, o.dryRun ? &listed : nullptr);
  TMidletSuite suite;
  if (!RenameSettings(ctx, o, suite)) return 2;

  size_t renamed = 0, already = 0, kept = 0, duplicates = 0;
  std::unordered_set<std::string> planned;  // dry run: names taken by earlier JARs of this run
  const auto onDisk = [&listed](const std::string& path) {
    if (listed.SurelyAbsent(path)) return false;
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
  };
  const auto taken = [&planned, &onDisk](const std::string& path) { return planned.count(path) > 0 || onDisk(path); };
  const TBatchEnd end = ForEachJar(ctx, o, c, "kept", "new_path", kept, &suite, [&](const std::string& jar, ReadManifest&) -> Outcome {
    RenameResult r;
    if (o.dryRun) {
      r = suite.ComputeMIDletName(jar, taken);
      if (r.reason.empty() && r.newPath != jar) {
        // Planned at once: one look-up of the name, not one to ask and one to add.
        const auto [at, fresh] = planned.insert(r.newPath);
        if (!fresh || onDisk(r.newPath)) {
          if (fresh) planned.erase(at);
          r.reason = "'" + ExtractFileName(r.newPath) + "' exists";
        }
      }
      r.renamed = r.reason.empty();
    } else {
      r = suite.RenameByMIDletName(jar);
    }
    if (const std::string notice = suite.Codec().TakeNotice(); !notice.empty()) ReportError(ctx, "", notice);
    if (!r.duplicateOf.empty()) {
      ++duplicates;
      return {"duplicate", "", r.reason};
    }
    if (!r.renamed) {
      ++kept;
      return {"kept", "", r.reason};
    }
    if (r.newPath == jar) {
      ++already;
      return {"unchanged", "", "already named"};
    }
    ++renamed;
    return {"renamed", std::move(r.newPath), ""};
  });
  if (end.signal) return Interrupted(ctx, end, c.jars.size());
  if (!o.json && !ctx.quiet)
    *ctx.out << Plural(c.jars.size() + c.problems.size(), "JAR", "JARs") << ": " << renamed
           << (o.dryRun ? " to rename, " : " renamed, ") << already << " already named, " << kept << " kept"
           << (duplicates ? ", " + Plural(duplicates, "duplicate", "duplicates") : "")
           << (o.dryRun ? " (dry run)" : "") << '\n';
  return kept == 0 ? 0 : 1;
}

namespace {

// jad --update: the JADs that exist beside the JARs, brought up to date. A
// JAD named instead of its JAR stands for the JAR of the same stem.
int RunJadUpdate(CliContext& ctx, BatchOptions o) {
  for (std::string& p : o.paths)
    if (SameTextAscii(ExtractFileExt(ExtractFileName(p)), ".jad") && FileExists(p)) p = ChangeFileExt(p, ".jar");
  Collected c = CollectJars(o.paths, o.recursive);
  size_t updated = 0, unchanged = 0, without = 0, failed = 0;
  const TBatchEnd end = ForEachJar(ctx, o, c, "not updated", "jad", failed, nullptr, [&](const std::string& jar, ReadManifest&) -> Outcome {
    const std::string jad = JadPathOf(jar);
    if (!FileExists(jad)) {
      ++without;
      return {"skipped", "", "no JAD beside it"};
    }
    const JadUpdateResult r = UpdateJadForJar(jad, jar, o.dryRun);
    switch (r.status) {
      case JadUpdateResult::Status::Updated: ++updated; return {"updated", jad, r.message};
      case JadUpdateResult::Status::Unchanged: ++unchanged; return {"unchanged", jad, r.message};
      case JadUpdateResult::Status::Failed: break;
    }
    ++failed;
    return {"failed", "", r.message};
  });
  if (end.signal) return Interrupted(ctx, end, c.jars.size());
  if (!o.json && !ctx.quiet)
    *ctx.out << Plural(c.jars.size() + c.problems.size(), "JAR", "JARs") << ": " << updated
             << (o.dryRun ? " JADs to update, " : " JADs updated, ") << unchanged << " up to date, " << without
             << " without a JAD, " << failed << " failed" << (o.dryRun ? " (dry run)" : "") << '\n';
  return failed == 0 ? 0 : 1;
}

}  // namespace

namespace {

// Gives a JAD a worker made its name, when nothing stands there. False when
// something does, or the name cannot be given: the step then writes the JAD
// as a lone one is written, which replaces what stands there or says why
// it cannot.
bool LinkNewJad(TNewFile& file, const std::string& jad, TDurableBatch& batch) {
  try {
    file.Commit(jad, TPlace::NoReplace, false, &batch);
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace

int RunJad(CliContext& ctx, const BatchOptions& o) {
  if (o.update) return RunJadUpdate(ctx, o);
  Collected c = CollectJars(o.paths, o.recursive);
  TMidletSuite suite;
  LoadSettings(suite.Options);

  size_t written = 0, failed = 0;
  TDurableBatch batch;  // the new JADs go to the disk together at the end
  // The workers write each JAD into an unnamed file as soon as they have
  // read its JAR's manifest; this thread only gives the files their names,
  // in the order of the JARs. A JAD whose name is taken, or that no worker
  // made, is written here as before.
  TAhead ahead;
  if (!o.dryRun)
    ahead = [](const std::string& jar, ReadManifest& m) {
      if (m.identity.size < 0) return;  // the step asks the file for its size
      try {
        const std::string jad = JadPathOf(jar);
        auto file = std::make_unique<TNewFile>(ExtractFilePath(jad), ExtractFileName(jad), 0666);
        // Where the file system has no unnamed files, a JAD waiting here
        // would be a visible hidden file, and a killed batch could leave
        // dozens of them: such JADs are written by the step, one at a time.
        if (!file->Unnamed()) return;
        const std::string text = JadTextOf(m.bytes, m.identity.size, jar);
        if (WriteAll(file->Fd(), text.data(), text.size())) m.made = std::move(file);
      } catch (const std::system_error&) {
        // Left to the step, which says why.
      }
    };
  const auto step = [&](const std::string& jar, ReadManifest& m) -> Outcome {
    std::string jad;
    if (o.dryRun) {
      suite.JADText(jar);  // reads the manifest, writes nothing
      jad = JadPathOf(jar);
    } else if (m.made && LinkNewJad(*m.made, jad = JadPathOf(jar), batch)) {
      // named: done
    } else {
      jad = suite.MakeJAD(jar, &batch);
    }
    ++written;
    return {"written", jad, ""};
  };
  const TBatchEnd end = ForEachJar(ctx, o, c, "no JAD", "jad", failed, &suite, step, ahead);
  if (end.signal) {
    batch.Flush();  // the JADs written before the stop are kept, on the disk
    return Interrupted(ctx, end, c.jars.size());
  }
  if (!o.json && !ctx.quiet)
    *ctx.out << Plural(written + failed, "JAR", "JARs") << ": " << written
           << (o.dryRun ? " JADs to write, " : " JADs written, ") << failed << " failed"
           << (o.dryRun ? " (dry run)" : "") << '\n';
  if (!batch.Flush()) {
    ReportError(ctx, "", std::string("the JADs may not be on the disk: ") + std::strerror(errno));
    return 1;
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace parcelix
