// The slash commands /rename FILE and /jadgen FILE: what the context-menu entries run.
#include <string>
#include <vector>

#include "app/shell/Cli.h"
#include "engine/common/arxGbls.h"
#include "midlet/MidletSuite.h"
#include "midlet/Settings.h"

namespace parcelix {

namespace {

void Show(CliContext& ctx, const std::string& title, const std::string& text, MsgIcon icon) {
  UserMessage m{title, text, icon};
  if (ctx.ShowMessage)
    ctx.ShowMessage(m);
  else
    *ctx.err << m.title << ' ' << m.text << '\n';
}

int RunSlash(CliContext& ctx, const std::string& command, const std::string& file) {
  TMidletSuite suite;
  LoadSettings(suite.Options);
  try {
    if (command == "/jadgen") {
      suite.MakeJAD(file);
      return 0;
    }
    RenameResult r = suite.RenameByMIDletName(file);
    if (r.renamed) return 0;
    if (r.reason == "no MIDlet-Name" || r.reason == "empty MIDlet-Name") {
      Show(ctx, "Warning!", "File '" + file + "' has " + (r.reason[0] == 'n' ? "no" : "an empty") +
                                " MIDlet-Name: it keeps its name.",
           MsgIcon::Warning);
    } else {
      // The target exists: no message box, but the reason on stderr.
      *ctx.err << "parcelix: '" << file << "' keeps its name: " << r.reason << '\n';
    }
    return 1;
  } catch (const std::exception& e) {
    Show(ctx, "Error!", e.what(), MsgIcon::Error);
    return 1;
  }
}

}  // namespace

bool IsJarName(const std::string& path) { return ToLowerAscii(ExtractFileExt(path)) == ".jar"; }

int CmdSlashCommand(CliContext& ctx, const std::vector<std::string>& args) {
  const std::string command = ToLowerAscii(args.empty() ? std::string() : args[0]);
  const std::string file = args.size() > 1 ? args[1] : std::string();
  if (command != "/rename" && command != "/jadgen") {
    Show(ctx, "Warning!", "Usage:\r\n Parcelix /rename FileName\r\nor\r\n Parcelix /jadgen FileName",
         MsgIcon::Information);
    return 2;
  }
  if (!FileExists(file)) {
    Show(ctx, "Error!", "File '" + file + "' not exists!", MsgIcon::Error);
    return 1;
  }
  if (!IsJarName(file)) {
    Show(ctx, "Error!", "File '" + file + "' is not a JAR-file!", MsgIcon::Error);
    return 1;
  }
  return RunSlash(ctx, command, file);
}

}  // namespace parcelix
