// The settings store: where the settings file lives and the five options in it.
#include "midlet/Settings.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "engine/common/arxGbls.h"
#include "midlet/IniFile.h"

namespace parcelix {

namespace {

struct OptionKey {
  const char* section;
  const char* key;
  bool TOptions::*option;
};

// In the order the values are read and written.
constexpr OptionKey kOptionKeys[] = {
    {"Rename", "AddVersion", &TOptions::AddVersion},
    {"ManifestEditor", "RenameAfterSave", &TOptions::RenameAfterSave},
    {"ManifestEditor", "MakeJadAfterSave", &TOptions::MakeJadAfterSave},
    {"ManifestEditor", "CreateBackup", &TOptions::CreateBackup},
    {"Other", "AlwaysOnTop", &TOptions::AlwaysOnTop},
};

struct TextKey {
  const char* section;
  const char* key;
  std::string TOptions::*option;
};

constexpr TextKey kTextKeys[] = {
    {"Rename", "CodePage", &TOptions::CodePage},
    {"Rename", "Template", &TOptions::Template},
};

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string HomeDir() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  struct passwd pw, *found = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir) return found->pw_dir;
  return "/";
}

std::string ProgramPath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, size_t(n));
}

}  // namespace

std::string SettingsFilePath() {
  std::string over = Env("PARCELIX_INI");
  if (!over.empty()) return over;
  std::string exe = ProgramPath();
  if (!exe.empty()) {
    std::string portable = ChangeFileExt(exe, ".ini");
    if (FileExists(portable)) return portable;
  }
  std::string config = Env("XDG_CONFIG_HOME");
  // XDG base directories: a relative value is to be ignored.
  if (config.empty() || config[0] != '/') config = IncludeTrailingSlash(HomeDir()) + ".config";
  return IncludeTrailingSlash(config) + "parcelix/Parcelix.ini";
}

void LoadSettings(TOptions& options, const std::string& path) {
  TIniFile ini(path);
  for (const auto& k : kOptionKeys) options.*(k.option) = ini.ReadInteger(k.section, k.key, 1) != 0;
  for (const auto& k : kTextKeys) options.*(k.option) = ini.ReadString(k.section, k.key).value_or("");
}

void SaveSettings(const TOptions& options, const std::string& path) {
  TIniFile ini(path);
  for (const auto& k : kOptionKeys) ini.WriteString(k.section, k.key, options.*(k.option) ? "1" : "0");
  // A file without them stays as it was when they are not set.
  for (const auto& k : kTextKeys)
    if (!(options.*(k.option)).empty() || ini.ReadString(k.section, k.key)) ini.WriteString(k.section, k.key, options.*(k.option));
  ini.UpdateFile();
}

}  // namespace parcelix
