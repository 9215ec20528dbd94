// The class root of Parcelix's own registry: keys with values, kept in one plain-text file
// (its text form: RegistryStore.cpp).
#include "app/shell/Registry.h"

#include "app/shell/RegistryStore.h"
#include "engine/common/FileSystem.h"
#include "engine/common/arxGbls.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <system_error>

namespace parcelix {

namespace {

constexpr size_t kMaxStoreSize = 16u << 20;  // a registry of file types is tiny; refuse to slurp more

struct TStore {
  TKeyNode root;
  bool readable = true;  // false: the file exists but could not be read (never overwrite it)
};

TKeyNode* FindPath(TKeyNode& root, const std::vector<std::string>& path) {
  TKeyNode* node = &root;
  for (const auto& part : path) {
    node = node->Find(part);
    if (!node) return nullptr;
  }
  return node;
}

// ---- the file ----

std::string ParentDir(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

TStore LoadStore(const std::string& path) {
  TStore store;
  if (path.empty()) return store;
  std::string text;
  if (!ReadWholeFile(path, text, kMaxStoreSize)) {
    // No store yet is an empty one; anything unreadable (a directory, a
    // file too large to be ours) is left alone.
    store.readable = (errno == ENOENT);
    return store;
  }
  ParseStore(text, store.root);
  return store;
}

// Replaces the store atomically (a complete new file, flushed, renamed over
// it). A read-only store file is respected (not replaced).
bool SaveStore(const std::string& path, const TStore& store) {
  if (path.empty() || !store.readable) return false;
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  // A store marked read-only stays so, also for a user whom the system would let write.
  if (exists && (!(st.st_mode & S_IWUSR) || ::access(path.c_str(), W_OK) != 0)) return false;
  if (!ForceDirectories(ParentDir(path))) return false;
  TReplaceOptions options;
  if (!exists) options.Mode = 0644;
  try {
    ReplaceFileContents(path, FormatStore(store.root), options);
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

// Serialises changes between processes (the window and a command line may both
// change the store): an exclusive lock on the store's directory while a change
// is read, made and written.
class TStoreLock {
 public:
  explicit TStoreLock(const std::string& path) {
    const std::string dir = ParentDir(path);
    ForceDirectories(dir);
    FFd = TFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (FFd.IsOpen()) {
      while (::flock(FFd.Get(), LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }

 private:
  TFd FFd;  // closing drops the lock
};

std::string HomeDir() {
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return home;
  std::vector<char> buf(16384);
  struct passwd pw {};
  struct passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_dir &&
      result->pw_dir[0] == '/')
    return result->pw_dir;
  return "";
}

}  // namespace

std::string DataHome() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  // The base-directory rules ignore a relative value.
  if (xdg && *xdg == '/') return xdg;
  const std::string home = HomeDir();
  if (home.empty()) return "";
  return (home == "/" ? std::string() : home) + "/.local/share";
}

std::string RegistryFilePath() {
  const char* over = std::getenv("PARCELIX_REGISTRY");
  if (over && *over) return over;
  const std::string data = DataHome();
  if (data.empty()) return "";
  return data + "/parcelix/registry";
}

TRegistry::TRegistry(std::string storePath) : FStorePath(std::move(storePath)) {}

bool TRegistry::ResolvePath(const std::string& key, std::vector<std::string>& out) const {
  std::string_view k = key;
  const bool absolute = !k.empty() && k.front() == '\\';
  if (absolute) k.remove_prefix(1);
  if (!k.empty() && k.back() == '\\') k.remove_suffix(1);
  std::vector<std::string> parts;
  if (!SplitKeyPath(k, parts)) return false;
  out.clear();
  if (!absolute && FHasCurrent) out = FCurrent;
  out.insert(out.end(), parts.begin(), parts.end());
  return true;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  std::vector<std::string> path;
  const bool valid = ResolvePath(key, path);
  CloseKey();
  if (!valid) return false;
  TStore store = LoadStore(FStorePath);
  if (TKeyNode* node = FindPath(store.root, path); node || !canCreate) {
    if (!node) return false;
    FCurrent = path;
    FHasCurrent = true;
    return true;
  }
  TStoreLock lock(FStorePath);
  store = LoadStore(FStorePath);
  TKeyNode* node = &store.root;
  for (const auto& part : path) node = node->FindOrAdd(part);
  if (!SaveStore(FStorePath, store)) return false;
  FCurrent = path;
  FHasCurrent = true;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) { return OpenKey(key, false); }

void TRegistry::CloseKey() {
  FCurrent.clear();
  FHasCurrent = false;
}

std::string TRegistry::CurrentPath() const {
  std::string out;
  for (const auto& part : FCurrent) out += (out.empty() ? "" : "\\") + part;
  return out;
}

std::string TRegistry::ReadString(const std::string& name) {
  if (!FHasCurrent) return "";
  TStore store = LoadStore(FStorePath);
  const TKeyNode* node = FindPath(store.root, FCurrent);
  const std::string* value = node ? node->Value(name) : nullptr;
  return value ? *value : std::string();
}

bool TRegistry::ValueExists(const std::string& name) {
  if (!FHasCurrent) return false;
  TStore store = LoadStore(FStorePath);
  const TKeyNode* node = FindPath(store.root, FCurrent);
  return node && node->Value(name);
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  const std::string message = "Failed to set data for '" + name + "'";
  if (!FHasCurrent) throw ERegistryError(message);
  TStoreLock lock(FStorePath);
  TStore store = LoadStore(FStorePath);
  TKeyNode* node = FindPath(store.root, FCurrent);  // gone when another process deleted it meanwhile
  if (!node) throw ERegistryError(message);
  node->SetValue(name, value);
  if (!SaveStore(FStorePath, store)) throw ERegistryError(message);
}

bool TRegistry::DeleteKey(const std::string& key) {
  // An empty name would stand for the open key itself: with an empty verb the
  // whole "shell" key would go. Only a named subkey (or path) is deleted.
  if (key.find_first_not_of('\\') == std::string::npos) return false;
  std::vector<std::string> path;
  if (!ResolvePath(key, path) || path.empty()) return false;
  {
    TStore peek = LoadStore(FStorePath);  // nothing to delete: touch nothing, not even the folder
    if (!FindPath(peek.root, path)) return false;
  }
  TStoreLock lock(FStorePath);
  TStore store = LoadStore(FStorePath);
  const std::string last = path.back();
  path.pop_back();
  TKeyNode* parent = FindPath(store.root, path);
  if (!parent) return false;
  for (auto it = parent->keys.begin(); it != parent->keys.end(); ++it) {
    if (SameTextAscii((*it)->name, last)) {
      parent->keys.erase(it);
      return SaveStore(FStorePath, store);
    }
  }
  return false;
}

bool TRegistry::KeyExists(const std::string& key) {
  std::vector<std::string> path;
  if (!ResolvePath(key, path)) return false;
  TStore store = LoadStore(FStorePath);
  return FindPath(store.root, path) != nullptr;
}

std::vector<std::string> TRegistry::GetKeyNames() {
  std::vector<std::string> names;
  TStore store = LoadStore(FStorePath);
  const TKeyNode* node = FHasCurrent ? FindPath(store.root, FCurrent) : &store.root;
  if (node)
    for (const auto& k : node->keys) names.push_back(k->name);
  return names;
}

}  // namespace parcelix