// TMidletSuite: manifest reads through UnJar, rename, JAD, and the manifest
// save that updates the JAR in place of a rebuild.
#include "midlet/MidletSuite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include "engine/common/arxGbls.h"
#include "midlet/FileUtil.h"
#include "midlet/ManifestModel.h"
#include "midlet/NameTemplate.h"

namespace parcelix {

namespace {

constexpr const char* kManifestSpec = "MANIFEST.MF";
// A manifest larger than this (none real is) is read by the full reader.
constexpr size_t kMaxQuickManifest = 1 << 20;

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

}  // namespace

struct TMidletSuite::EditSession {
  std::string path;
  TFileIdentity identity;
  std::unique_ptr<TOldArchive> old;
  // The manifest as ReadJarManifest read it when the session opened, or why
  // it could not be read.
  std::vector<uint8_t> manifest;
  std::exception_ptr manifestError;
};

struct TMidletSuite::LastRead {
  TFileIdentity identity;
  std::string path;  // follows a rename of the file
  std::vector<uint8_t> bytes;
  bool handedOver = false;  // read by a worker just now: taken once without a stat
};

TMidletSuite::TMidletSuite() {
  UnJar.FileSpec = {kManifestSpec};
  Jar.SetCompressMethod(cmDeflate);
  Jar.SetDefaultExt(".jar");
  Jar.Switch = swAdd;
  Jar.StoreEmptySubDirs = true;
}

std::string SlashName(std::string name) {
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

int PickManifest(const std::vector<std::string>& names) {
  // The names were selected by "MANIFEST.MF" already: META-INF/MANIFEST.MF is
  // the manifest; another member of that name (a nested build file) only
  // when it is the only one.
  for (size_t i = 0; i < names.size(); ++i)
    if (IsMainManifestName(names[i])) return int(i);
  return names.empty() ? -1 : 0;
}

std::vector<uint8_t> ReadJarManifest(TUnZip& reader, const std::string& jarFile) {
  reader.FileSpec = {kManifestSpec};
  reader.ClearErrors();
  TDecompMemoryStream stream;
  try {
    if (reader.ArchiveFile() != jarFile) reader.SetArchiveFile(jarFile);
    reader.ExtractToMemoryStream(&stream);
  } catch (const std::exception& e) {
    throw EJarDamaged(e.what());
  }
  const auto& errors = reader.Errors();
  std::vector<std::string> names;
  for (int i = 0; i < stream.Count(); ++i) names.push_back(stream.EntryName(i));
  const int pick = PickManifest(names);
  if (pick < 0) {
    // The archive is opened once, by the reader; a missing file is told here.
    if (!FileExists(jarFile) && errors.empty())
      throw EJarDamaged(std::string(ErrorMessage(kErrOpenFile)) + " (" + jarFile + ")");
    if (!errors.empty()) throw EJarDamaged(ErrorText(errors.front()));
    throw EManifestMissing("List index out of bounds (0)");
  }
  return DecodedEntryBytes(reader, stream, pick);
}

std::vector<uint8_t> DecodedEntryBytes(const TUnZip& reader, TDecompMemoryStream& stream, int i) {
  // The reader reports a member that fails its CRC check or decodes short.
  const std::string name = stream.EntryName(i);
  const std::string shown = SlashName(name);
  for (const auto& e : reader.Errors())
    if (SameMemberName(e.fileName, name)) throw EJarDamaged(ErrorText(e));
  // Only the bytes that were really decoded: a damaged member's header may
  // promise more than the stream holds.
  const int64_t begin = stream.EntryPosition(i);
  const int64_t take = stream.EntryWritten(i);
  if (begin < 0 || take < 0 || take > stream.GetSize() - begin)
    throw EJarDamaged(std::string(ErrorMessage(kErrBadBlock)) + " (" + shown + ")");
  if (take < stream.EntrySize(i)) throw EJarDamaged(std::string(ErrorMessage(kErrReadFile)) + " (" + shown + ")");
  const uint8_t* p = stream.Memory() + begin;
  return std::vector<uint8_t>(p, p + take);
}

bool ReadPlainJarManifest(const std::string& jarFile, TPlainMember& out) {
  return ReadPlainMember(jarFile, "META-INF/MANIFEST.MF", kMaxQuickManifest, out);
}

TPlainMember ReadFullJarManifest(TUnZip& reader, const std::string& jarFile) {
  TPlainMember m;
  m.bytes = ReadJarManifest(reader, jarFile);
  m.identity = reader.ArchiveIdentity();
  return m;
}

TPlainMember ReadJarManifestAndIdentity(TUnZip& reader, const std::string& jarFile) {
  TPlainMember m;
  if (ReadPlainJarManifest(jarFile, m)) return m;
  return ReadFullJarManifest(reader, jarFile);
}

std::vector<uint8_t> TMidletSuite::ReadManifestBytes(const std::string& jarFile) {
  return HeldManifest(jarFile);
}

const std::vector<uint8_t>& TMidletSuite::HeldManifest(const std::string& jarFile) {
  if (session_ && session_->path == jarFile) {
    TFileIdentity id;
    if (IdentityOfFile(jarFile, id) && session_->identity == id) return SessionManifest(*session_);
  }
  // The manifest read last (or written by a save) serves a read of the same
  // file under the same name, unchanged; other files cost no extra stat.
  if (last_ && last_->path == jarFile) {
    if (std::exchange(last_->handedOver, false)) return last_->bytes;
    TFileIdentity id;
    if (IdentityOfFile(jarFile, id) && last_->identity == id) return last_->bytes;
  }
  TPlainMember m = ReadJarManifestAndIdentity(UnJar, jarFile);
  // Without an identity (size -1) the bytes never serve a later read.
  Remember(m.identity, jarFile, std::move(m.bytes), false);
  return last_->bytes;
}

void TMidletSuite::Remember(const TFileIdentity& identity, const std::string& jarFile, std::vector<uint8_t> bytes,
                            bool handedOver) {
  // One record serves the whole batch: its path keeps its capacity.
  if (!last_) last_ = std::make_shared<LastRead>();
  last_->identity = identity;
  last_->path = jarFile;
  last_->bytes = std::move(bytes);
  last_->handedOver = handedOver;
}

void TMidletSuite::HoldManifest(const std::string& jarFile, const TFileIdentity& identity, std::vector<uint8_t> bytes) {
  Remember(identity, jarFile, std::move(bytes), true);
}

// The JAR opened for an edit: its directory and local headers read once, the
// file held open for the save, and its manifest read as every command reads it.
TMidletSuite::EditSession& TMidletSuite::SessionFor(const std::string& jarFile) {
  TFileIdentity id;
  if (!IdentityOfFile(jarFile, id)) throw EMidletError(std::string(ErrorMessage(kErrOpenFile)) + " (" + jarFile + ")");
  if (session_ && session_->path == jarFile && session_->identity == id) return *session_;
  session_.reset();
  auto s = std::make_shared<EditSession>();
  s->path = jarFile;
  s->identity = id;
  Jar.ClearErrors();
  s->old = Jar.OpenOldArchive(jarFile);
  if (!s->old) {
    const auto& errors = Jar.Errors();
    // The reason in plain words when there is one ("the end record announces ...").
    const std::string why = errors.empty()                        ? jarFile
                            : errors.front().extendedMsg.empty() ? ErrorText(errors.front())
                                                                  : errors.front().extendedMsg;
    throw EJarDamaged("The JAR cannot be saved: " + why);
  }
  try {
    s->manifest = ReadJarManifest(UnJar, jarFile);
  } catch (const EMidletError&) {
    s->manifestError = std::current_exception();
  }
  // The manifest must come from the very file the save copies from.
  if (!s->old->StillNames(jarFile)) throw EJarDamaged("The JAR changed while it was read: " + jarFile);
  session_ = s;
  return *session_;
}

const std::vector<uint8_t>& TMidletSuite::SessionManifest(EditSession& s) {
  if (s.manifestError) std::rethrow_exception(s.manifestError);
  return s.manifest;
}

ManifestParts TMidletSuite::LoadManifestParts(const std::string& jarFile) {
  return SplitManifest(HeldManifest(jarFile));
}

ManifestDoc TMidletSuite::LoadManifestDoc(const std::string& jarFile) {
  return LoadManifestParts(jarFile).main;
}

TManifestCodec& TMidletSuite::Codec() {
  if (!codec_ || codecFor_ != Options.CodePage) {
    try {
      codec_ = std::make_shared<TManifestCodec>(Options.CodePage);
    } catch (const std::invalid_argument& e) {
      throw EMidletError(e.what());
    }
    codecFor_ = Options.CodePage;
  }
  return *codec_;
}

std::string TMidletSuite::ManifestCodePage(const std::string& jarFile) {
  return Codec().CodePageOf(HeldManifest(jarFile));
}

namespace {

// The main-section attributes for a template, by name without case, as
// UTF-8 text (bytes no code page reads become '_').
TNameTemplate::Lookup AttributeLookup(const ManifestDoc& main, TManifestCodec& codec, const std::string& codePage) {
  return [&main, &codec, codePage](const std::string& name) -> std::optional<std::string> {
    const auto value = MainAttribute(main, name);
    if (!value) return std::nullopt;
    return codec.Text(*value, codePage, "_");
  };
}

bool PathTaken(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Two regular files of the same size and bytes (or one file by two names).
bool SameBytes(const std::string& a, const std::string& b) {
  if (SameFile(a, b)) return true;
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0 || !S_ISREG(sa.st_mode) || !S_ISREG(sb.st_mode) ||
      sa.st_size != sb.st_size)
    return false;
  TFd fa(open(a.c_str(), O_RDONLY | O_CLOEXEC)), fb(open(b.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fa.IsOpen() || !fb.IsOpen()) return false;
  std::vector<char> ba(1 << 16), bb(1 << 16);
  for (;;) {
    const ssize_t na = read(fa.Get(), ba.data(), ba.size());
    if (na <= 0) return na == 0 && read(fb.Get(), bb.data(), 1) == 0;
    ssize_t got = 0;
    while (got < na) {
      const ssize_t nb = read(fb.Get(), bb.data() + got, size_t(na - got));
      if (nb <= 0) return false;
      got += nb;
    }
    if (std::memcmp(ba.data(), bb.data(), size_t(na)) != 0) return false;
  }
}

constexpr int kMaxNumber = 999;

// Numbering: the first of the new name, "Name (2).jar", "Name (3).jar"...
// that is free; the JAR itself when it has one of them already; a duplicate
// when one of them holds the same bytes as the JAR.
void NumberNewName(RenameResult& r, const std::string& jar, const std::function<bool(const std::string&)>& taken) {
  const std::string dir = ExtractFilePath(r.newPath);
  const std::string name = ExtractFileName(r.newPath);
  const std::string ext = ExtractFileExt(name);
  const std::string base = name.substr(0, name.size() - ext.size());
  for (int n = 1; n <= kMaxNumber; ++n) {
    const std::string candidate = n == 1 ? r.newPath : dir + FitFileName(base + " (" + std::to_string(n) + ")", ext);
    if (candidate == jar || !taken(candidate)) {
      r.newPath = candidate;
      return;
    }
    if (SameBytes(jar, candidate)) {
      r.duplicateOf = candidate;
      r.reason = "duplicate of '" + ExtractFileName(candidate) + "'";
      return;
    }
  }
  r.reason = "'" + name + "' and its numbered names up to (" + std::to_string(kMaxNumber) + ") exist";
}

// The folders of a template's name below the JAR's folder, made as needed.
// Each must be a real folder: a link could lead the JAR out of its folder.
std::string MakeFolders(const std::string& jarDir, const std::string& relative) {
  std::string path = jarDir;
  size_t begin = 0;
  for (size_t slash; (slash = relative.find('/', begin)) != std::string::npos; begin = slash + 1) {
    path += relative.substr(begin, slash - begin);
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return std::strerror(errno);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      return "'" + relative.substr(0, slash) + "' is not a folder";
    path += '/';
  }
  return {};
}

}  // namespace

// The new name relative to the JAR's folder; empty, with the reason, when
// the JAR keeps its name.
std::string TMidletSuite::NewName(const std::vector<uint8_t>& bytes, const std::string& fileName,
                                  std::string& reason) {
  if (!Options.Template.empty()) {
    const std::string codePage = Codec().CodePageOf(bytes);
    std::optional<TNameTemplate> tmpl;
    try {
      tmpl.emplace(Options.Template);
    } catch (const std::invalid_argument& e) {
      throw EMidletError(std::string("template: ") + e.what());
    }
    const ManifestDoc main = SplitManifest(bytes).main;
    TNameTemplate::Result r = tmpl->Apply(AttributeLookup(main, Codec(), codePage), ExtractFileName(fileName));
    reason = r.reason;
    return r.path;
  }
  // ASCII reads the same in every code page: such a value is taken as it
  // is, and the manifest's code page is decided only for one that is not.
  std::optional<std::string> codePage;
  const auto text = [&](std::string value) {
    if (IsAscii(value)) return value;
    if (!codePage) codePage = Codec().CodePageOf(bytes);
    return Codec().Text(value, *codePage, "_");
  };
  bool found = false;
  std::string name = MakeValidFileName(text(ReadMIDletName(bytes, &found)));
  if (!found) reason = "no MIDlet-Name";
  else if (name.empty()) reason = "empty MIDlet-Name";
  if (!reason.empty()) return {};
  if (Options.AddVersion) {
    // The version goes through the same replacement as the name: a value
    // such as "1.0/../../x" must not lead the file into another directory.
    const std::string version = MakeValidFileName(text(ReadMIDletVersion(bytes)));
    if (!version.empty()) {
      name.reserve(name.size() + 1 + version.size() + 4);
      name.append(" ").append(version);
    }
  }
  return FitFileName(std::move(name), ".jar");
}

RenameResult TMidletSuite::ComputeMIDletName(const std::string& fileName) {
  return ComputeMIDletName(fileName, PathTaken);
}

RenameResult TMidletSuite::ComputeMIDletName(const std::string& fileName,
                                             const std::function<bool(const std::string&)>& taken) {
  return ComputeMIDletName(HeldManifest(fileName), fileName, taken);
}

RenameResult TMidletSuite::ComputeMIDletName(const std::vector<uint8_t>& bytes, const std::string& fileName,
                                             const std::function<bool(const std::string&)>& taken) {
  RenameResult r;
  const std::string relative = NewName(bytes, fileName, r.reason);
  if (relative.empty()) {
    r.newPath = fileName;
    return r;
  }
  const size_t folder = fileName.size() - ExtractFileNameView(fileName).size();
  r.newPath.reserve(folder + relative.size());
  r.newPath.append(fileName, 0, folder).append(relative);
  if (OnConflict == TConflictMode::ocNumber && r.newPath != fileName) NumberNewName(r, fileName, taken);
  return r;
}

RenameResult TMidletSuite::RenameByMIDletName(const std::string& fileName) {
  // A numbered name taken between the choice and the move: choose again.
  for (int attempt = 0;; ++attempt) {
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
    const std::string dir = ExtractFilePath(fileName);
    if (std::string why = MakeFolders(dir, r.newPath.substr(dir.size())); !why.empty()) {
      r.reason = why;
      return r;
    }
    errno = 0;
    if (MoveFileNoReplace(fileName, r.newPath)) {
      r.renamed = true;
      if (last_ && last_->path == fileName) last_->path = r.newPath;  // a JAD next reads it there
    } else if (errno == EEXIST || access(r.newPath.c_str(), F_OK) == 0) {
      if (OnConflict == TConflictMode::ocNumber && attempt < 3) continue;
      r.reason = "'" + ExtractFileName(r.newPath) + "' exists";
    } else {
      r.reason = errno ? std::strerror(errno) : "the file could not be moved";
    }
    return r;
  }
}

int32_t GetJarFileSize(const std::string& fileName) {
  struct stat st;
  if (stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(fileName.c_str(), R_OK) != 0) return -1;
  return int32_t(uint32_t(uint64_t(st.st_size)));
}

std::string TMidletSuite::JADText(const std::string& jarFile) {
  const std::vector<uint8_t>& manifest = HeldManifest(jarFile);
  // The size of the file the manifest was just read from, when it is known.
  const int64_t size = last_ && last_->path == jarFile && last_->identity.size >= 0 ? last_->identity.size
                                                                                     : GetJarFileSize(jarFile);
  return JadTextOf(manifest, size, jarFile);
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
  // The editor's load opens the JAR for the save that may follow; a JAR
  // that cannot be opened for an edit is still read as rename reads it.
  try {
    SessionFor(jarFile);
  } catch (const EMidletError&) {
    session_.reset();
  }
  return ManifestToGrid(LoadManifestDoc(jarFile));
}

namespace {

// What can stop a save before anything is written.
void CheckSavable(const std::string& jarFile) {
  // A file without extension would get the default one and a second JAR.
  if (ExtractFileExt(ExtractFileName(jarFile)).empty())
    throw EMidletError("Cannot save the manifest of a file without an extension: " + jarFile);
  struct stat st;
  if (stat(jarFile.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0)
    throw EMidletError("The JAR is read-only: " + jarFile);
}

// The plan of a save: every member copied as it is, the new manifest in
// place of META-INF/MANIFEST.MF, or first (where JarInputStream looks for
// it) in a JAR that had none.
std::vector<TPlanStep> ManifestPlan(const TOldArchive& old, const std::string& text) {
  TPlanStep manifest;
  manifest.kind = TPlanStep::Kind::Bytes;
  manifest.name = "META-INF/MANIFEST.MF";
  manifest.data.assign(text.begin(), text.end());
  manifest.dosDateTime = UnixToDosDateTime(std::time(nullptr));
  manifest.externalAttributes = 0100644u << 16;
  std::vector<TPlanStep> steps;
  steps.reserve(old.Entries().size() + 1);
  bool placed = false;
  for (size_t i = 0; i < old.Entries().size(); ++i) {
    const ZipEntry& e = old.Entries()[i];
    if (!placed && IsMainManifestName(e.name)) {
      manifest.name = SlashName(e.name);
      manifest.externalAttributes = e.central.externalAttributes;
      manifest.versionMadeBy = e.central.versionMadeBy;
      manifest.old = int(i);
      steps.push_back(manifest);
      placed = true;
      continue;
    }
    TPlanStep copy;
    copy.old = int(i);
    steps.push_back(copy);
  }
  if (!placed) steps.insert(steps.begin(), manifest);
  return steps;
}

// The first member the plan copies that cannot be copied exactly, as the
// message of a refused save; empty when there is none.
std::string Uncopyable(const TOldArchive& old, const std::vector<TPlanStep>& steps) {
  for (const TPlanStep& step : steps) {
    if (step.kind != TPlanStep::Kind::Copy) continue;
    if (const std::string& why = old.Uncopyable(step.old); !why.empty())
      return "The JAR cannot be saved: " + old.Entries()[size_t(step.old)].name + " cannot be copied exactly: " + why;
  }
  return {};
}

}  // namespace

// The new manifest: the grid's lines and the old per-entry sections. A
// manifest that cannot be read stops the save, since its sections would be
// lost; so does a member the save could not copy exactly, checked first,
// since that is what is wrong with the JAR.
std::string TMidletSuite::NewManifestText(EditSession& s, const GridLines& grid) {
  if (std::string why = Uncopyable(*s.old, ManifestPlan(*s.old, {})); !why.empty()) throw EMidletError(why);
  ManifestParts old;
  try {
    old = SplitManifest(SessionManifest(s));
  } catch (const EManifestMissing&) {
  }
  return ComposeManifest(GridToManifest(grid), old.sections);
}

void TMidletSuite::CommitManifest(EditSession& s, const std::string& text) {
  const std::shared_ptr<EditSession> keep = session_;  // s lives in the session, which ends here
  const auto steps = ManifestPlan(*s.old, text);
  // The temporary archive lies beside the JAR: the commit is one rename.
  Jar.SetTempDir(ExtractFilePath(ExpandFileName(s.path)));
  Jar.SetArchiveFile(s.path);
  const int written = Jar.UpdateByPlan(*s.old, steps);
  session_.reset();
  if (written < 1) {
    const auto& errors = Jar.Errors();
    throw EMidletError(errors.empty() ? "The JAR could not be written: " + s.path : ErrorText(errors.front()));
  }
  // The manifest just written is what a rename or a JAD after the save
  // reads: the new JAR need not be opened again for it.
  TFileIdentity id;
  if (IdentityOfFile(s.path, id)) Remember(id, s.path, {text.begin(), text.end()}, false);
}

void TMidletSuite::SaveManifest(const std::string& jarFile, const GridLines& grid) {
  CheckSavable(jarFile);
  EditSession& session = SessionFor(jarFile);
  CommitManifest(session, NewManifestText(session, grid));
}

std::vector<std::string> TMidletSuite::MemberNames(const std::string& jarFile) {
  std::vector<std::string> names;
  for (const ZipEntry& e : SessionFor(jarFile).old->Entries()) names.push_back(SlashName(e.name));
  return names;
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
  CheckSavable(jar);
  EditSession& session = SessionFor(jar);
  const std::string text = NewManifestText(session, grid);
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
  CommitManifest(session, text);
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
