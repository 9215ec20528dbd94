// The "Parcelix: Rename" / "Parcelix: Make JAD" context-menu verbs for JAR files.
//
// The verbs live in Parcelix's registry (Registry.h) exactly as the platform
// keeps them: FileType\shell\Verb\command = "program" /op "%1". Every change of
// the JAR verbs also brings the desktop entries in step (DesktopEntries.cpp).
#include "app/shell/ContextMenu.h"

#include "app/shell/CommandQuoting.h"
#include "engine/common/arxGbls.h"

#include <unistd.h>

namespace parcelix {

std::string MakeVerbCommand(const std::string& programPath, const std::string& operation) {
  return "\"" + EscapeCommandText(programPath, true) + "\" " + operation;
}

std::string RegisteredFileType(TRegistry& reg, const std::string& ext) {
  std::string type;
  if (reg.OpenKeyReadOnly("\\." + ext)) type = reg.ReadString("");
  reg.CloseKey();
  return type;
}

std::vector<TContextMenuVerb> RegisteredVerbs(TRegistry& reg, const std::string& ext) {
  std::vector<TContextMenuVerb> verbs;
  const std::string type = RegisteredFileType(reg, ext);
  if (type.empty()) return verbs;
  std::vector<std::string> names;
  if (reg.OpenKeyReadOnly("\\" + type + "\\shell")) names = reg.GetKeyNames();
  reg.CloseKey();
  for (const auto& name : names) {
    if (reg.OpenKeyReadOnly("\\" + type + "\\shell\\" + name + "\\command")) {
      std::string command = reg.ReadString("");
      if (!command.empty()) verbs.push_back({name, std::move(command)});
    }
    reg.CloseKey();
  }
  return verbs;
}

void AddContextMenuVerb(TRegistry& reg, const std::string& ext, const std::string& verb, const std::string& command) {
  reg.CloseKey();
  reg.OpenKey("\\." + ext, true);
  std::string fileType = reg.ReadString("");
  if (fileType.empty()) {
    fileType = ext + "file";
    reg.WriteString("", fileType);
  }
  reg.CloseKey();
  reg.OpenKey("\\" + fileType + "\\shell\\" + verb + "\\command", true);
  reg.WriteString("", command + " \"%1\"");
  reg.CloseKey();
  if (SameTextAscii(ext, "jar")) SyncDesktopEntries(reg);
}

void RemoveContextMenuVerb(TRegistry& reg, const std::string& ext, const std::string& verb) {
  reg.CloseKey();
  // Removing never creates keys: with ".ext" missing or naming no file type no
  // verb can be there, and a missing "shell" key holds no verb either.
  const std::string fileType = RegisteredFileType(reg, ext);
  if (!fileType.empty() && reg.OpenKeyReadOnly("\\" + fileType + "\\shell")) reg.DeleteKey(verb);
  reg.CloseKey();
  if (SameTextAscii(ext, "jar")) SyncDesktopEntries(reg);
}

void IntegrateOn(TRegistry& reg, const std::string& programPath) {
  if (programPath.empty()) throw ERegistryError("The path of the Parcelix program is not known");
  AddContextMenuVerb(reg, "jar", kRenameVerb, MakeVerbCommand(programPath, "/rename"));
  AddContextMenuVerb(reg, "jar", kMakeJadVerb, MakeVerbCommand(programPath, "/jadgen"));
}

void IntegrateOff(TRegistry& reg) {
  RemoveContextMenuVerb(reg, "jar", kRenameVerb);
  RemoveContextMenuVerb(reg, "jar", kMakeJadVerb);
  // A removal that did not happen (a store that cannot be written) must not
  // look like success.
  const std::string fileType = RegisteredFileType(reg, "jar");
  for (const auto& v : RegisteredVerbs(reg, "jar"))
    if (SameTextAscii(v.verb, kRenameVerb) || SameTextAscii(v.verb, kMakeJadVerb))
      throw ERegistryError("Failed to delete key '" + fileType + "\\shell\\" + v.verb + "'");
}

void IntegrateOn(const std::string& programPath) {
  TRegistry reg;
  IntegrateOn(reg, programPath);
}

void IntegrateOff() {
  TRegistry reg;
  IntegrateOff(reg);
}

std::string ProgramPath() {
  std::vector<char> buf(1024);
  while (true) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return "";
    if (static_cast<size_t>(n) < buf.size()) {
      std::string path(buf.data(), static_cast<size_t>(n));
      // After an upgrade replaced the running file the link reads "... (deleted)";
      // the new program at the same path is the one to register.
      const std::string deleted = " (deleted)";
      if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
        const std::string stripped = path.substr(0, path.size() - deleted.size());
        if (::access(stripped.c_str(), X_OK) == 0) path = stripped;
      }
      return path;
    }
    if (buf.size() >= (1u << 16)) return "";
    buf.resize(buf.size() * 2);
  }
}


}  // namespace parcelix
