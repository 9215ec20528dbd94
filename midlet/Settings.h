// The five options and the settings file they live in (INI format).
#pragma once

#include <stdexcept>
#include <string>

namespace parcelix {

struct TOptions {
  bool AddVersion = true;        // [Rename] AddVersion
  bool RenameAfterSave = true;   // [ManifestEditor] RenameAfterSave
  bool MakeJadAfterSave = true;  // [ManifestEditor] MakeJadAfterSave
  bool CreateBackup = true;      // [ManifestEditor] CreateBackup
  bool AlwaysOnTop = true;       // [Other] AlwaysOnTop
  // [Rename] CodePage: the code page of manifests that are not UTF-8; empty
  // or "auto" detects it for each manifest.
  std::string CodePage;
  // [Rename] Template: the rename's naming scheme (midlet/NameTemplate.h);
  // empty for the name, plus the version with AddVersion.
  std::string Template;
};

// Raised when the settings file cannot be written: "Unable to write to <path>".
class ESettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// $PARCELIX_INI; else the program's path + ".ini" when that file exists;
// else $XDG_CONFIG_HOME/parcelix/Parcelix.ini (~/.config/...).
std::string SettingsFilePath();

// Reads the five values in table order; a missing or unreadable value gives
// the default (true). CodePage and Template are read as they stand.
void LoadSettings(TOptions& options, const std::string& path = SettingsFilePath());
// Writes all five values ("1"/"0"), and CodePage and Template when they are
// set or the file has them; other lines of the file are kept; the file is
// replaced atomically. Throws ESettingsError on failure.
void SaveSettings(const TOptions& options, const std::string& path = SettingsFilePath());

}  // namespace parcelix
