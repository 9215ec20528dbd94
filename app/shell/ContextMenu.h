// The "Parcelix: Rename" / "Parcelix: Make JAD" context-menu verbs for JAR files and the desktop entries that show them.
#pragma once

#include <string>
#include <vector>

#include "app/shell/Registry.h"

namespace parcelix {

inline constexpr const char* kRenameVerb = "Parcelix: Rename";
inline constexpr const char* kMakeJadVerb = "Parcelix: Make JAD";

// Raised when a desktop entry (service menu, script, action) cannot be written
// or removed: "Failed to write '<path>'" / "Failed to remove '<path>'".
class EDesktopEntryError : public ERegistryError {
 public:
  using ERegistryError::ERegistryError;
};

// Registers Verb for files with extension Ext (without the dot): the verb key
// FileType\shell\Verb\command holds Command + " \"%1\"", FileType being the
// default value of ".Ext" (set to Ext + "file" when empty). For "jar" the desktop
// entries are brought in step with the registered verbs afterwards.
// Throws ERegistryError when a value cannot be written, EDesktopEntryError when
// an entry cannot be written.
void AddContextMenuVerb(TRegistry& reg, const std::string& ext, const std::string& verb, const std::string& command);
// Deletes FileType\shell\Verb with everything below it (its result is not looked
// at). When ".Ext" is missing or names no file type, nothing is created or deleted.
// For "jar" the desktop entries are brought in step afterwards.
void RemoveContextMenuVerb(TRegistry& reg, const std::string& ext, const std::string& verb);

// What the "ON" button runs: both verbs with the program path in double quotes
// followed by " /rename" or " /jadgen". Throws ERegistryError (or
// EDesktopEntryError) on failure, also when the program path is empty.
void IntegrateOn(const std::string& programPath);
// What the "OFF" button runs: removes both verbs and the desktop entries that
// were written for them. Throws ERegistryError when a verb is still registered
// afterwards (the store could not be written), EDesktopEntryError when an entry
// could not be removed.
void IntegrateOff();
// The same on a given registry (tests, other stores).
void IntegrateOn(TRegistry& reg, const std::string& programPath);
void IntegrateOff(TRegistry& reg);

// The full path of the running program (/proc/self/exe); "" when unknown.
std::string ProgramPath();
// The command text of the "ON" button for one operation ("/rename" or "/jadgen"):
// the program path in double quotes, a blank, the operation.
std::string MakeVerbCommand(const std::string& programPath, const std::string& operation);

// ---- Reading the verbs back and the desktop entries ----

struct TContextMenuVerb {
  std::string verb;     // the key name, which is also the menu text
  std::string command;  // the default value of its "command" key
};

// The verbs under FileType\shell that have a non-empty command, in key order;
// empty when ".Ext" names no file type. Creates nothing.
std::vector<TContextMenuVerb> RegisteredVerbs(TRegistry& reg, const std::string& ext = "jar");
// The file type that ".Ext" names ("" when none). Creates nothing.
std::string RegisteredFileType(TRegistry& reg, const std::string& ext = "jar");

struct TDesktopEntryFile {
  std::string path;
  std::string fileManager;  // "Dolphin", "GNOME Files", "Nemo", or "runner"
  bool present = false;     // the file exists
  bool ours = false;        // it carries Parcelix's mark (so "OFF" may remove it)
};

// Brings the desktop entries under DataHome in step with the JAR verbs of the
// registry: a Dolphin service menu (kio/servicemenus, executable), one GNOME
// Files script per verb (nautilus/scripts) and one Nemo action per verb
// (nemo/actions), each running a small runner script (parcelix/menu) that runs
// the verb's command once per selected .jar. Entries of verbs no longer
// registered are removed; only files Parcelix wrote (listed in its record and
// carrying its mark) are ever replaced or removed.
void SyncDesktopEntries(TRegistry& reg, const std::string& dataHome = DataHome());
// The entries the registry calls for plus those recorded as written earlier.
std::vector<TDesktopEntryFile> DesktopEntryStatus(TRegistry& reg, const std::string& dataHome = DataHome());

// ---- Command-line quoting (exposed for tests) ----

// Splits a registered command into words: blanks separate words, double quotes
// group, and inside a word \" stands for " and \\ for \ (any other backslash
// is kept as it is).
std::vector<std::string> SplitCommandLine(const std::string& command);
// Quotes one word for a registered command: as is when it needs no quotes,
// else in double quotes with " and \ escaped by a backslash.
std::string QuoteCommandWord(const std::string& word);

}  // namespace parcelix
