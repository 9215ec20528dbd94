// `parcelix integrate on|off|status`: the Options tab's "ON"/"OFF" buttons from the command line.
#include <ostream>

#include "app/shell/Cli.h"
#include "app/shell/ContextMenu.h"

namespace parcelix {

namespace {

void PrintStatus(std::ostream& out, TRegistry& reg) {
  out << "Registry: " << (reg.StorePath().empty() ? "(no data folder)" : reg.StorePath()) << '\n';
  const std::string type = RegisteredFileType(reg, "jar");
  out << "File type of .jar: " << (type.empty() ? "(none)" : type) << '\n';
  const auto verbs = RegisteredVerbs(reg, "jar");
  out << "Verbs:" << (verbs.empty() ? " (none)" : "") << '\n';
  for (const auto& v : verbs) out << "  " << v.verb << ": " << v.command << '\n';
  const auto entries = DesktopEntryStatus(reg);
  out << "Desktop entries:" << (entries.empty() ? " (none)" : "") << '\n';
  for (const auto& e : entries) {
    const char* state = !e.present ? "missing" : e.ours ? "present" : "present, not written by Parcelix";
    out << "  " << e.fileManager << ": " << e.path << " (" << state << ")\n";
  }
}

}  // namespace

int CmdIntegrate(CliContext& ctx, const std::vector<std::string>& args) {
  const std::string what = args.size() == 1 ? args[0] : std::string();
  if (what != "on" && what != "off" && what != "status") {
    *ctx.err << "Usage: parcelix integrate on|off|status\n";
    return 2;
  }
  try {
    TRegistry reg;
    if (what == "on") {
      IntegrateOn(reg, ProgramPath());
      *ctx.out << "Context-menu entries for JAR files are on.\n";
      PrintStatus(*ctx.out, reg);
    } else if (what == "off") {
      IntegrateOff(reg);
      *ctx.out << "Context-menu entries for JAR files are off.\n";
    } else {
      PrintStatus(*ctx.out, reg);
    }
  } catch (const ERegistryError& e) {
    *ctx.err << e.what() << '\n';
    return 1;
  }
  return 0;
}

}  // namespace parcelix
