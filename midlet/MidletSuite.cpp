// TMidletSuite: manifest reads through UnJar, rename, JAD, and the manifest
// save that updates the JAR in place of a rebuild.
#include "midlet/MidletSuite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "engine/common/arxGbls.h"
#include "midlet/FileUtil.h"
#include "midlet/ManifestModel.h"

namespace parcelix {

namespace {

constexpr const char* kManifestSpec = "MANIFEST.MF";

// Member names are shown as stored in the archive, with '/'.
std::string SlashName(std::string name) {
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

std::string ErrorText(const ErrorRecord& e) {
  std::string text = ErrorMessage(e.code);
  if (text.empty()) text = "Error " + std::to_string(e.code);
  if (!e.extendedMsg.empty()) text += " " + e.extendedMsg;
  if (!e.fileName.empty()) text += " (" + SlashName(e.fileName) + ")";
  return text;
}

// Member names of the memory index use '\' between directories.
bool IsMainManifestName(const std::string& name) { return SameTextAscii(SlashName(name), "META-INF/MANIFEST.MF"); }

bool SameMemberName(const std::string& a, const std::string& b) { return SlashName(a) == SlashName(b); }

std::string ExpandFileName(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char buf[4096];
  if (!getcwd(buf, sizeof buf)) return path;
  return IncludeTrailingSlash(buf) + path;
}

// Restores a component's event when the operation ends, however it ends.
template <class T>
struct RestoreOnExit {
  T& slot;
  T saved;
  explicit RestoreOnExit(T& s) : slot(s), saved(s) {}
  ~RestoreOnExit() { slot = std::move(saved); }
};

}  // namespace

TMidletSuite::TMidletSuite() {
  UnJar.FileSpec = {kManifestSpec};
  // The manifest save: the writer updates the existing JAR, copying every old
  // entry as it is, and puts the new manifest where the old one stood (or
  // first, for a JAR that had none, where JarInputStream looks for it).
  Jar.SetCompressMethod(cmDeflate);
  Jar.SetDefaultExt(".jar");
  Jar.Switch = swAdd;
  Jar.StoreEmptySubDirs = true;
  Jar.ReplaceInPlace = true;
  Jar.AddNewFirst = true;
}

std::vector<uint8_t> TMidletSuite::ReadManifestBytes(const std::string& jarFile) {
  UnJar.FileSpec = {kManifestSpec};
  UnJar.ClearErrors();

  std::vector<std::pair<std::string, bool>> ends;
  RestoreOnExit<decltype(UnJar.OnEnd)> restore(UnJar.OnEnd);
  auto outer = UnJar.OnEnd;
  UnJar.OnEnd = [&](TUnZip& sender, const std::string& name, bool crcPass) {
    ends.emplace_back(name, crcPass);
    if (outer) outer(sender, name, crcPass);
  };

  TDecompMemoryStream stream;
  try {
    UnJar.SetArchiveFile(jarFile);
    UnJar.ExtractToMemoryStream(&stream);
  } catch (const std::exception& e) {
    throw EJarDamaged(e.what());
  }
  const auto& errors = UnJar.Errors();
  if (stream.Count() == 0) {
    // The archive is opened once, by the reader; a missing file is told here.
    if (!FileExists(jarFile)) throw EJarDamaged(std::string(ErrorMessage(kErrOpenFile)) + " (" + jarFile + ")");
    if (!errors.empty()) throw EJarDamaged(ErrorText(errors.front()));
    throw EManifestMissing("List index out of bounds (0)");
  }

  // META-INF/MANIFEST.MF is the manifest; another member that happens to be
  // called MANIFEST.MF (a nested build file) is taken only when it is the
  // only one there is.
  int pick = 0;
  for (int i = 0; i < stream.Count(); ++i)
    if (IsMainManifestName(stream.EntryName(i))) {
      pick = i;
      break;
    }
  const std::string& name = stream.EntryName(pick);
  const std::string shown = SlashName(name);
  for (const auto& [endName, pass] : ends)
    if (!pass && SameMemberName(endName, name))
      throw EJarDamaged(std::string(ErrorMessage(kErrCrcCheck)) + " (" + shown + ")");
  for (const auto& e : errors)
    if (SameMemberName(e.fileName, name)) throw EJarDamaged(ErrorText(e));

  // Only the bytes that were really decoded: a damaged member's header may
  // promise more than the stream holds.
  int64_t begin = stream.EntryPosition(pick);
  int64_t take = stream.EntryWritten(pick);
  if (begin < 0 || take < 0 || take > stream.GetSize() - begin)
    throw EJarDamaged(std::string(ErrorMessage(kErrBadBlock)) + " (" + shown + ")");
  if (take < stream.EntrySize(pick)) throw EJarDamaged(std::string(ErrorMessage(kErrReadFile)) + " (" + shown + ")");
  const uint8_t* p = stream.Memory() + begin;
  return std::vector<uint8_t>(p, p + take);
}

ManifestParts TMidletSuite::LoadManifestParts(const std::string& jarFile) {
  std::vector<uint8_t> bytes = ReadManifestBytes(jarFile);
  return SplitManifest(bytes);
}

ManifestDoc TMidletSuite::LoadManifestDoc(const std::string& jarFile) {
  return LoadManifestParts(jarFile).main;
}

RenameResult TMidletSuite::ComputeMIDletName(const std::string& fileName) {
  std::vector<uint8_t> bytes = ReadManifestBytes(fileName);
  RenameResult r;
  r.newPath = fileName;
  bool found = false;
  std::string name = MakeValidFileName(ReadMIDletName(bytes, &found));
  if (!found) {
    r.reason = "no MIDlet-Name";
    return r;
  }
  if (name.empty()) {
    r.reason = "empty MIDlet-Name";
    return r;
  }
  if (Options.AddVersion) {
    // The version goes through the same replacement as the name: a value
    // such as "1.0/../../x" must not lead the file into another directory.
    std::string version = MakeValidFileName(ReadMIDletVersion(bytes));
    if (!version.empty()) name += " " + version;
  }
  r.newPath = ExtractFilePath(fileName) + name + ".jar";
  return r;
}

RenameResult TMidletSuite::RenameByMIDletName(const std::string& fileName) {
  RenameResult r = ComputeMIDletName(fileName);
  if (!r.reason.empty()) return r;
  if (r.newPath == fileName) {
    r.renamed = true;
    return r;
  }
  // Another hard link of the same file already has the name: a move would
  // be a no-op that reports success while the old name stays.
  struct stat target;
  if (stat(r.newPath.c_str(), &target) == 0 && SameFile(fileName, r.newPath) && target.st_nlink > 1) {
    r.reason = "'" + ExtractFileName(r.newPath) + "' exists";
    return r;
  }
  errno = 0;
  if (MoveFileNoReplace(fileName, r.newPath)) {
    r.renamed = true;
  } else if (errno == EEXIST || access(r.newPath.c_str(), F_OK) == 0) {
    r.reason = "'" + ExtractFileName(r.newPath) + "' exists";
  } else {
    r.reason = errno ? std::strerror(errno) : "the file could not be moved";
  }
  return r;
}

int32_t GetJarFileSize(const std::string& fileName) {
  int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  int rc = fstat(fd, &st);
  close(fd);
  if (rc != 0) return -1;
  return int32_t(uint32_t(uint64_t(st.st_size)));
}

std::string TMidletSuite::JADText(const std::string& jarFile) {
  ManifestDoc doc = LoadManifestDoc(jarFile);
  return ManifestDocText(ComposeJad(std::move(doc), GetJarFileSize(jarFile), ExtractFileName(jarFile)));
}

std::string TMidletSuite::MakeJAD(const std::string& jarFile, TDurableBatch* batch) {
  std::string text = JADText(jarFile);
  std::string jad = JadPathOf(jarFile);
  try {
    ReplaceFileContents(jad, text, {batch});
  } catch (const std::system_error& e) {
    throw EMidletError("Cannot create file \"" + ExpandFileName(jad) + "\". " + std::strerror(e.code().value()));
  }
  return jad;
}

GridLines TMidletSuite::LoadManifest(const std::string& jarFile) {
  return ManifestToGrid(LoadManifestDoc(jarFile));
}

namespace {

// The first half of a save, which touches nothing of the JAR: the new
// manifest (old per-entry sections kept; a JAR without a manifest gets one)
// as the only file of a private directory. A manifest that cannot be read
// stops the save here, since its sections would be lost.
std::unique_ptr<TPrivateTempDir> PrepareManifestTree(TMidletSuite& suite, const std::string& jarFile,
                                                     const GridLines& grid) {
  // The writer gives a target without extension the default one, so it
  // would build "x.jar" beside "x" instead of updating it.
  if (ExtractFileExt(ExtractFileName(jarFile)).empty())
    throw EMidletError("Cannot save the manifest of a file without an extension: " + jarFile);
  // The writer leaves a JAR without write permission alone; say so plainly
  // and before a backup is made.
  struct stat st;
  if (stat(jarFile.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0)
    throw EMidletError("The JAR is read-only: " + jarFile);
  ManifestDoc lines = GridToManifest(grid);
  ManifestParts old;
  try {
    old = suite.LoadManifestParts(jarFile);
  } catch (const EManifestMissing&) {
  }
  std::string text = ComposeManifest(lines, old.sections);
  std::unique_ptr<TPrivateTempDir> work;
  std::string metaInf;
  try {
    work = std::make_unique<TPrivateTempDir>("parcelix-save-");
    metaInf = work->Path() + "META-INF";
    if (!ForceDirectories(metaInf)) throw std::system_error(errno, std::generic_category(), metaInf);
    // A private source file that lives for one save: no flush to disk.
    TUniqueFile file(metaInf, "m");
    file.WriteAll(text);
    file.Close();
    if (rename(file.Path().c_str(), (metaInf + "/MANIFEST.MF").c_str()) != 0)
      throw std::system_error(errno, std::generic_category(), metaInf);
    file.Release();
  } catch (const std::system_error& e) {
    std::string where = metaInf.empty() ? SystemTempDir() : metaInf + "/MANIFEST.MF";
    throw EMidletError("Cannot create file \"" + where + "\". " + std::strerror(e.code().value()));
  }
  return work;
}

// The second half: the writer updates the JAR from the private directory,
// copying every old entry as it is and putting the new manifest where the
// old one stood. The JAR is replaced only by a complete new archive.
void CommitManifest(TJar& jar, const std::string& jarFile, const std::string& workDir) {
  jar.FileSpec = {workDir + "*.*"};
  jar.ExcludeSpec.clear();
  jar.Switch = swAdd;
  jar.StoredDirNames = sdRelative;
  jar.RecurseDirs = true;
  jar.IncludeHiddenDirs = false;
  jar.ReplaceInPlace = true;
  jar.AddNewFirst = true;
  // The temporary archive lies beside the JAR so that the commit is one
  // rename on the same file system.
  jar.SetTempDir(ExtractFilePath(ExpandFileName(jarFile)));
  jar.ClearErrors();
  jar.SetArchiveFile(jarFile);
  if (jar.ArchiveFile() != jarFile)
    throw EMidletError("Cannot save the manifest of a file without an extension: " + jarFile);
  int written = 0;
  try {
    written = jar.Compress();
  } catch (const std::exception& e) {
    throw EMidletError(e.what());
  }
  if (written < 1) {
    const auto& errors = jar.Errors();
    throw EMidletError(errors.empty() ? "The JAR could not be written: " + jarFile : ErrorText(errors.front()));
  }
}

}  // namespace

void TMidletSuite::SaveManifest(const std::string& jarFile, const GridLines& grid) {
  auto work = PrepareManifestTree(*this, jarFile, grid);
  CommitManifest(Jar, jarFile, work->Path());
  UnJar.FileSpec = {kManifestSpec};
}

std::string BackupPathOf(const std::string& jarFile) {
  std::string bak = ChangeFileExt(jarFile, ".bak");
  return bak == jarFile ? jarFile + ".bak" : bak;
}

SaveResult TMidletSuite::SaveCommand(const GridLines& grid) {
  SaveResult res;
  const std::string jar = ManifestJarFile;
  res.jarPath = jar;
  if (!FileExists(jar)) throw EMidletError(std::string(ErrorMessage(kErrOpenFile)) + " (" + jar + ")");
  // Whatever can fail before the JAR is written fails before the backup.
  auto work = PrepareManifestTree(*this, jar, grid);
  if (Options.CreateBackup) {
    std::string bak = BackupPathOf(jar);
    try {
      // The save puts a new file in the JAR's place and never writes the old
      // one, so the old file itself can become the backup.
      LinkOrCopyReplacing(jar, bak);
    } catch (const std::system_error& e) {
      throw EMidletError("Cannot create file \"" + ExpandFileName(bak) + "\". " + std::strerror(e.code().value()));
    }
    res.backupPath = bak;
  }
  CommitManifest(Jar, jar, work->Path());
  work.reset();
  UnJar.FileSpec = {kManifestSpec};
  if (Options.RenameAfterSave) {
    try {
      RenameResult r = RenameByMIDletName(jar);
      res.renamed = r.renamed;
      res.renameReason = r.reason;
      // The editor follows the file: a rename that did not happen leaves it
      // where it is, and the JAD below is made for the file that exists.
      if (r.renamed) ManifestJarFile = r.newPath;
    } catch (const EMidletError& e) {
      res.renameReason = e.what();
    }
  }
  if (Options.MakeJadAfterSave) {
    try {
      res.jadPath = MakeJAD(ManifestJarFile);
      res.jadWritten = true;
    } catch (const EMidletError& e) {
      res.jadError = e.what();
    }
  }
  res.jarPath = ManifestJarFile;
  UnJar.FileSpec = {kManifestSpec};
  return res;
}

}  // namespace parcelix
