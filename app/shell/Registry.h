// The class root of Parcelix's own registry: keys with values, kept in one plain-text file.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace parcelix {

// Raised when a value cannot be written: "Failed to set data for '<value name>'"
// (empty quotes for a key's default value).
class ERegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share ("" when no
// home directory is known).
std::string DataHome();

// $PARCELIX_REGISTRY when set; else $XDG_DATA_HOME/parcelix/registry
// ($XDG_DATA_HOME defaults to ~/.local/share).
std::string RegistryFilePath();

// A registry object over the class root, used the way the platform's registry
// class is used: open a key (relative to the open key, or to the root when it
// starts with '\' or no key is open), read or write its values, close it.
// Key names are compared without regard to ASCII case and keep the case they
// were created with. Every change is written to the store at once, atomically
// (a temporary file renamed over the old one), so other processes see it.
//
// When the store cannot be written (a read-only file or directory, or a file
// that could not be read, which is never overwritten), keys that exist can
// still be opened and read; creating a key fails (OpenKey returns false),
// writing a value raises ERegistryError and deleting a key returns false.
class TRegistry {
 public:
  explicit TRegistry(std::string storePath = RegistryFilePath());

  const std::string& StorePath() const { return FStorePath; }

  // Opens Key; with CanCreate, creates it and every missing key on the way.
  // False when the key is missing (and not created), when the store cannot be
  // written to create it, or when the name is not valid (an empty part such as
  // "a\\b", or a control character). On failure no key is open.
  bool OpenKey(const std::string& key, bool canCreate);
  // Opens an existing key for reading only.
  bool OpenKeyReadOnly(const std::string& key);
  void CloseKey();
  // The open key's path from the root ("" when none is open).
  std::string CurrentPath() const;
  bool HasCurrentKey() const { return FHasCurrent; }

  // Reads a value of the open key ("" names the default value); empty when no
  // key is open or the value is missing.
  std::string ReadString(const std::string& name);
  bool ValueExists(const std::string& name);
  // Writes a value of the open key. Throws ERegistryError "Failed to set data
  // for '<name>'" when no key is open or the store cannot be written.
  void WriteString(const std::string& name, const std::string& value);

  // Deletes Key (relative as in OpenKey) with every key below it. False when it
  // does not exist or the store cannot be written. An empty name deletes
  // nothing (never the open key itself).
  bool DeleteKey(const std::string& key);
  bool KeyExists(const std::string& key);
  // The names of the open key's subkeys (of the root when none is open), in
  // the order they were created.
  std::vector<std::string> GetKeyNames();

 private:
  std::string FStorePath;
  std::vector<std::string> FCurrent;  // path of the open key, as stored
  bool FHasCurrent = false;
  bool FCurrentWritable = false;

  bool ResolvePath(const std::string& key, std::vector<std::string>& out) const;
};

}  // namespace parcelix
