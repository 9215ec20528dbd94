// Command dispatch of the command line.
#include "app/shell/Cli.h"

#include <algorithm>
#include <ostream>

#include "engine/common/arxGbls.h"

namespace parcelix {

namespace {

struct CommandEntry {
  const char* name;
  int (*run)(CliContext&, const std::vector<std::string>&);
};

constexpr CommandEntry kCommands[] = {
    {"list", CmdList},         {"test", CmdTest},     {"extract", CmdExtract},
    {"manifest", CmdManifest}, {"create", CmdCreate}, {"rename", CmdRename},
    {"jad", CmdJad},           {"set", CmdSet},       {"unset", CmdUnset},
    {"edit", CmdEdit},         {"integrate", CmdIntegrate}, {"sample", CmdSample},
};

}  // namespace

void PrintUsage(std::ostream& os) {
  os << "Usage:\n"
        "  parcelix                       open the window\n"
        "  parcelix --open FILE.jar...    open the window with these JARs in the Rename list\n"
        "  parcelix /rename FILE.jar      rename a JAR after its MIDlet-Name (and version)\n"
        "  parcelix /jadgen FILE.jar      write a JAD beside a JAR\n"
        "  parcelix rename [-r] [-n|--dry-run] [--version|--no-version] PATH...\n"
        "  parcelix jad [-r] [-n|--dry-run] PATH...\n"
        "  parcelix set [--no-backup] [--no-rename] [--no-jad] JAR KEY=VALUE...\n"
        "  parcelix unset [--no-backup] [--no-rename] [--no-jad] JAR KEY...\n"
        "  parcelix edit [--no-backup] [--no-rename] [--no-jad] JAR\n"
        "  parcelix list [--json] ARCHIVE\n"
        "  parcelix test [--json] ARCHIVE\n"
        "  parcelix extract ARCHIVE DIR [MASK...]\n"
        "  parcelix manifest ARCHIVE\n"
        "  parcelix create [--store] [--level 1|6|9] ARCHIVE DIR...\n"
        "  parcelix integrate on|off|status\n"
        "  parcelix sample                run rename and JAD on a built-in sample JAR\n";
}

int RunCommandLine(CliContext& ctx) {
  if (ctx.args.empty()) {
    PrintUsage(*ctx.err);
    return 2;
  }
  const std::string& first = ctx.args[0];
  std::vector<std::string> rest(ctx.args.begin() + 1, ctx.args.end());
  if (!first.empty() && first[0] == '/') return CmdSlashCommand(ctx, ctx.args);
  // "-h" is not a command: like any other unknown word it gets the usage
  // message of the slash commands. "--help" prints the whole usage.
  if (first == "--help" || first == "help") {
    PrintUsage(*ctx.out);
    return 0;
  }
  for (const auto& c : kCommands)
    if (first == c.name) return c.run(ctx, rest);
  // Anything else is the usage message of the slash commands.
  return CmdSlashCommand(ctx, ctx.args);
}

}  // namespace parcelix
