// `parcelix integrate on|off|status`: the Options tab's "ON"/"OFF" buttons from the command line.
#include <memory>
#include <ostream>

#include "app/shell/CliTable.h"
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

int RunIntegrate(CliContext& ctx, const std::string& what) {
  try {
    TRegistry reg;
    if (what == "on") {
      IntegrateOn(reg, ProgramPath());
      if (!ctx.quiet) {
        *ctx.out << "Context-menu entries for JAR files are on.\n";
        PrintStatus(*ctx.out, reg);
      }
    } else if (what == "off") {
      IntegrateOff(reg);
      if (!ctx.quiet) *ctx.out << "Context-menu entries for JAR files are off.\n";
      if (ctx.verbose) PrintStatus(*ctx.out, reg);
    } else {
      PrintStatus(*ctx.out, reg);
    }
  } catch (const EDesktopEntryError& e) {
    ReportError(ctx, "", e.what());  // the message names the file
    return 1;
  } catch (const ERegistryError& e) {
    ReportError(ctx, RegistryFilePath(), e.what());
    return 1;
  }
  return 0;
}

}  // namespace

CommandRunner IntegrateTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description(
      "Adds (on) or removes (off) \"Parcelix: Rename\" and \"Parcelix: Make JAD\" in the right-click menu of JAR "
      "files in Dolphin, GNOME Files and Nemo, or shows them (status). 'off' removes exactly the files 'on' wrote.");
  auto what = std::make_shared<std::string>();
  cmd.add_option("ACTION", *what, "on, off or status")->required()->check(CLI::IsMember({"on", "off", "status"}));
  return [&ctx, what] { return RunIntegrate(ctx, *what); };
}

}  // namespace parcelix
