// The MIDlet suite operations on JAR files: manifest reading, rename after
// the suite name, JAD generation and the manifest save. The command line and
// the windows both drive one TMidletSuite.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/FileSystem.h"
#include "engine/read/PlainMember.h"
#include "engine/read/arxUnZip.h"
#include "engine/write/arxZip.h"
#include "midlet/CodePage.h"
#include "midlet/Settings.h"

namespace parcelix {

// A manifest as 8-bit lines without terminators.
using ManifestDoc = std::vector<std::string>;

// An operation that cannot go on: the message is what the user is shown
// (for example "List index out of bounds (0)" for a JAR without a manifest).
class EMidletError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The JAR holds no member selected by "MANIFEST.MF".
class EManifestMissing : public EMidletError {
 public:
  using EMidletError::EMidletError;
};
// The JAR cannot be opened or read, or its manifest fails its CRC check or
// decodes short: nothing is taken from it.
class EJarDamaged : public EMidletError {
 public:
  using EMidletError::EMidletError;
};

struct ManifestParts;  // midlet/ManifestModel.h

// Raw attribute scan of manifest bytes ("MIDlet-Name:" with a 50-byte window,
// "MIDlet-Version:" with 20); the value ends at CR, LF or NUL, trimmed.
// found is false when the key does not occur.
std::string ReadMIDletName(std::span<const uint8_t> stream, bool* found = nullptr);
std::string ReadMIDletVersion(std::span<const uint8_t> stream, bool* found = nullptr);
// Replaces " * / : < > ? \ | and the control characters (below 0x20, and
// 0x7F) by '_'.
std::string MakeValidFileName(std::string text);

// Splits manifest bytes into lines (CR LF, CR, LF; NUL ends the text), drops
// a UTF-8 byte-order mark, joins continuation lines to their attribute.
ManifestDoc ParseManifestLines(std::span<const uint8_t> bytes);
// The locale-independent "word sort": case-insensitive, hyphens and
// apostrophes weigh less than letters and digits. Negative, 0, positive.
int CompareManifestLines(const std::string& a, const std::string& b);
void SortManifestDoc(ManifestDoc& doc);
// Lines joined with CR LF after every line.
std::string ManifestDocText(const ManifestDoc& doc);

// One key=value grid line list, as the manifest editor shows it.
using GridLines = std::vector<std::string>;

struct RenameResult {
  std::string newPath;  // the computed path, whether or not the move happened
  bool renamed = false; // the file now has newPath (also true when it already had it)
  std::string reason;   // why it kept its name, when it did
  std::string duplicateOf;  // with numbering: the file of the same bytes that has the name
};

// What a rename does when the new name is taken: keep the JAR's name, or
// take the first free "Name (2).jar", "Name (3).jar"... A JAR whose bytes
// equal those of a file that has the name is a duplicate and keeps its name.
enum class TConflictMode { ocKeep, ocNumber };

struct SaveResult {
  std::string jarPath;  // ManifestJarFile after the save (follows a rename)
  bool renamed = false;
  bool jadWritten = false;
  std::string backupPath;    // the .bak written, when one was
  std::string renameReason;  // why the JAR kept its name, when it did
  std::string jadPath;       // the .jad written, when one was
  std::string jadError;      // why no JAD was written, when one was wanted
};

class TMidletSuite {
 public:
  TMidletSuite();

  TUnJar UnJar;  // member spec "MANIFEST.MF"
  TJar Jar;
  TOptions Options;
  std::string ManifestJarFile;

  // The decoded bytes of META-INF/MANIFEST.MF (of the first member selected
  // by "MANIFEST.MF" when the JAR has no META-INF one). Throws
  // EManifestMissing ("List index out of bounds (0)") when there is none,
  // EJarDamaged with the engine's error text when the archive cannot be read
  // or the manifest fails its CRC check or decodes short.
  std::vector<uint8_t> ReadManifestBytes(const std::string& jarFile);
  // Hands over the manifest a worker just read from jarFile (the file it
  // opened is identity): the next read of jarFile takes it without opening
  // the file again.
  void HoldManifest(const std::string& jarFile, const TFileIdentity& identity, std::vector<uint8_t> bytes);
  // The main section of the manifest (per-entry sections left out), as lines.
  ManifestDoc LoadManifestDoc(const std::string& jarFile);
  // Main section lines and the raw per-entry sections.
  ManifestParts LoadManifestParts(const std::string& jarFile);

  // What a rename does when the new name is taken.
  TConflictMode OnConflict = TConflictMode::ocKeep;

  // Renames the JAR after MIDlet-Name (and MIDlet-Version with AddVersion),
  // or after Options.Template, in UTF-8 whatever the manifest's code page;
  // folders of a template are made below the JAR's folder. Never replaces
  // an existing file. Throws EMidletError when the manifest cannot be read
  // or the template or code page of the options is not valid.
  RenameResult RenameByMIDletName(const std::string& fileName);
  // Computes the name without renaming (dry run); taken(path) tells whether
  // a name is taken when numbering (the file system when not given).
  RenameResult ComputeMIDletName(const std::string& fileName);
  RenameResult ComputeMIDletName(const std::string& fileName, const std::function<bool(const std::string&)>& taken);
  // The same from the JAR's manifest bytes, read before (a list's preview).
  RenameResult ComputeMIDletName(const std::vector<uint8_t>& manifest, const std::string& fileName,
                                 const std::function<bool(const std::string&)>& taken);

  // The code page the manifest of the JAR is read in (for the screen and
  // the editor): "UTF-8", Options.CodePage, or the one detected.
  std::string ManifestCodePage(const std::string& jarFile);
  // The operation's code page reader (made for Options.CodePage; throws
  // EMidletError when that names no code page).
  TManifestCodec& Codec();

  // Writes <jar without extension>.jad atomically; returns its path. A JAD
  // that replaces an older one is flushed to the disk before it takes its
  // place; a new one is flushed with batch when one is given. Throws
  // EMidletError on failure.
  std::string MakeJAD(const std::string& jarFile, TDurableBatch* batch = nullptr);
  // The text MakeJAD writes (for a dry run).
  std::string JADText(const std::string& jarFile);

  // Manifest editor model: the main section as sorted key=value lines.
  GridLines LoadManifest(const std::string& jarFile);
  // Writes the grid as the JAR's manifest (per-entry sections kept): one
  // plan copies every other member's bytes unchanged and puts the new
  // manifest where META-INF/MANIFEST.MF stood (or first), and the JAR is
  // replaced only by the complete new archive. Throws EMidletError, leaving
  // the JAR exactly as it was, also when a member cannot be copied exactly.
  void SaveManifest(const std::string& jarFile, const GridLines& grid);
  // The member names of the JAR, with '/', from the session a save then
  // uses (no second open). Throws EMidletError when it cannot be opened.
  std::vector<std::string> MemberNames(const std::string& jarFile);
  // The editor's Save on ManifestJarFile: backup, save, rename, JAD, as the
  // options say. Throws EMidletError when the save fails (the JAR is then
  // exactly as it was); a rename or JAD that fails after the save is told in
  // the result. ManifestJarFile follows a rename that happened.
  SaveResult SaveCommand(const GridLines& grid);

 private:
  // The JAR being edited, opened once for the load and the save.
  struct EditSession;
  EditSession& SessionFor(const std::string& jarFile);
  const std::vector<uint8_t>& SessionManifest(EditSession& s);
  std::string NewManifestText(EditSession& s, const GridLines& grid);
  void CommitManifest(EditSession& s, const std::string& text);
  std::string NewName(const std::vector<uint8_t>& bytes, const std::string& fileName, std::string& reason);
  // The manifest of jarFile as ReadManifestBytes gives it, held by the suite:
  // valid until the next read or save.
  const std::vector<uint8_t>& HeldManifest(const std::string& jarFile);
  void Remember(const TFileIdentity& identity, const std::string& jarFile, std::vector<uint8_t> bytes,
                bool handedOver);
  std::shared_ptr<EditSession> session_;
  std::shared_ptr<TManifestCodec> codec_;
  std::string codecFor_;
  // The manifest last read, with the identity of the file it came from: the
  // JAD after a rename reads the same file again.
  struct LastRead;
  std::shared_ptr<LastRead> last_;
};

// The manifest of a JAR as every command and window reads it:
// META-INF/MANIFEST.MF, else the first member "MANIFEST.MF" selects;
// CRC-checked. Throws EManifestMissing ("List index out of bounds (0)") or
// EJarDamaged (what is wrong, with the member name).
std::vector<uint8_t> ReadJarManifest(TUnZip& reader, const std::string& jarFile);
// The same manifest with the identity of the file it came from. A plain
// JAR (the most of a collection) is read in one open without the reader;
// any other goes through ReadJarManifest and throws as it does.
TPlainMember ReadJarManifestAndIdentity(TUnZip& reader, const std::string& jarFile);
// Its two ways, for a caller that wants the reader only when needed: the
// quick read alone (true, with out filled, for a plain JAR), and the
// reader's read that any other JAR needs.
bool ReadPlainJarManifest(const std::string& jarFile, TPlainMember& out);
TPlainMember ReadFullJarManifest(TUnZip& reader, const std::string& jarFile);
// The bytes of entry i of a stream the reader extracted into, when the
// reader decoded it whole; otherwise throws EJarDamaged saying why.
std::vector<uint8_t> DecodedEntryBytes(const TUnZip& reader, TDecompMemoryStream& stream, int i);
// A member name as stored in the archive, with '/' between folders (the
// reader's index uses '\').
std::string SlashName(std::string name);
// Which of these member names, all selected by "MANIFEST.MF" in directory
// order, is the manifest by the rule above; -1 when there are none.
int PickManifest(const std::vector<std::string>& names);

// The backup path of the save: the extension replaced by ".bak" (".bak"
// appended when that would name the JAR itself).
std::string BackupPathOf(const std::string& jarFile);

// -1 when the file cannot be opened, else its size (low 32 bits, signed).
int32_t GetJarFileSize(const std::string& fileName);

}  // namespace parcelix
