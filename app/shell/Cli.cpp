// Command dispatch of the command line: the slash commands, the command table,
// the top-level help and the one shape of an error.
#include "app/shell/Cli.h"

#include <algorithm>
#include <ostream>

#include "app/shell/CliTable.h"
#include "engine/common/arxGbls.h"

namespace parcelix {

namespace {

struct CommandEntry {
  const char* name;
  const char* usage;    // what follows "parcelix NAME"
  const char* summary;
  CommandTable table;   // its options and arguments
};

constexpr CommandEntry kCommands[] = {
    {"rename", "[-r] [-n|--dry-run] [--json] [--version|--no-version] PATH...",
     "rename JARs after their MIDlet-Name (and version)", RenameTable},
    {"jad", "[-r] [-n|--dry-run] [--json] PATH...", "write a JAD beside each JAR", JadTable},
    {"set", "[--no-backup] [--no-rename] [--no-jad] [--json] JAR KEY=VALUE...",
     "set manifest attributes and save the JAR", SetTable},
    {"unset", "[--no-backup] [--no-rename] [--no-jad] JAR KEY...", "remove manifest attributes and save the JAR",
     UnsetTable},
    {"edit", "[--no-backup] [--no-rename] [--no-jad] JAR", "edit the manifest in $VISUAL or $EDITOR", EditTable},
    {"check", "[-r] [--json|--csv] [--duplicates] [--trash-duplicates] PATH...",
     "report what is wrong with each JAR and its JAD", CheckTable},
    {"fix", "[-r] [-n|--dry-run] [--no-backup] [--salvage] [--deflate64-to-deflate] [--break-signature] PATH...",
     "write JARs again so that strict readers accept them", FixTable},
    {"list", "[--json] ARCHIVE", "list the members of an archive", ListTable},
    {"test", "[--json] ARCHIVE", "decode every member and check its CRC-32", TestTable},
    {"extract", "ARCHIVE DIR [MASK...]", "extract the members (or those matching a MASK) below DIR", ExtractTable},
    {"manifest", "ARCHIVE", "print the archive's MANIFEST.MF", ManifestTable},
    {"create", "[--store] [--level 1|6|9] ARCHIVE DIR...", "make a new archive of directory trees", CreateTable},
    {"integrate", "on|off|status", "add, remove or show the context-menu entries for JAR files", IntegrateTable},
    {"sample", "", "rename and JAD a built-in sample JAR, showing each step", SampleTable},
};

const CommandEntry* FindCommand(const std::string& name) {
  for (const auto& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

bool IsCommonFlag(const std::string& a) { return a == "-q" || a == "--quiet" || a == "-v" || a == "--verbose"; }

void AddCommonFlags(CLI::App& app, CliContext& ctx) {
  app.add_flag("-q,--quiet", ctx.quiet, "print only errors: no per-file lines, no summary, no progress");
  app.add_flag("-v,--verbose", ctx.verbose, "say more where the command has more to say");
}

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// Runs one command through its option table; --help, -h and every usage
// error are answered here, in one form for all commands. args holds the
// common flags, the command's name and the command's own words; the flags in
// front of the name are parsed with the rest, so one parser (named
// "parcelix NAME" for its usage line) serves the whole line.
int RunTable(CliContext& ctx, const CommandEntry& entry, const std::vector<std::string>& args) {
  CLI::App cmd(entry.summary, std::string("parcelix ") + entry.name);
  cmd.set_help_flag("-h,--help", "show this help and exit");
  AddCommonFlags(cmd, ctx);
  const CommandRunner run = entry.table(cmd, ctx);
  cmd.footer("'man parcelix' tells more.");
  cmd.allow_extras();  // reported below, in plainer words than the parser's
  // CLI11 takes the words last first; the command's name is left out.
  std::vector<std::string> reversed;
  reversed.reserve(args.size());
  bool named = false;
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (!named && *it == entry.name) {
      named = true;
      continue;
    }
    reversed.push_back(*it);
  }
  std::reverse(reversed.begin(), reversed.end());
  std::string problem;
  try {
    cmd.parse(reversed);
    // The parser keeps a "--" it met among the extras; it is no argument.
    for (const std::string& extra : cmd.remaining()) {
      if (extra == "--") continue;
      problem = (extra.size() > 1 && extra[0] == '-' ? "unknown option " : "unexpected argument ") + extra;
      break;
    }
  } catch (const CLI::CallForHelp&) {
    *ctx.out << cmd.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    problem = e.what();
  }
  if (problem.empty()) return run();
  ReportError(ctx, "", std::string(entry.name) + ": " + problem);
  *ctx.err << "Run 'parcelix " << entry.name << " --help' for its usage.\n";
  return 2;
}

}  // namespace

std::string ClosestCommand(const std::string& word) {
  const std::string lower = ToLowerAscii(word);
  std::string best;
  size_t bestDistance = 3;  // at most two letters wrong, missing or extra
  for (const auto& c : kCommands) {
    const size_t d = EditDistance(lower, c.name);
    if (d < bestDistance && d < std::string_view(c.name).size()) {
      bestDistance = d;
      best = c.name;
    }
  }
  return best;
}

void ReportError(CliContext& ctx, const std::string& path, const std::string& message) {
  *ctx.err << "parcelix: ";
  if (!path.empty()) *ctx.err << path << ": ";
  *ctx.err << message << '\n';
}

void PrintUsage(std::ostream& os) {
  os << "Usage:\n"
        "  parcelix                       open the window\n"
        "  parcelix --open FILE.jar...    open the window with these JARs in the Rename list\n"
        "  parcelix /rename FILE.jar      rename a JAR after its MIDlet-Name (and version)\n"
        "  parcelix /jadgen FILE.jar      write a JAD beside a JAR\n"
        "  parcelix [-q|-v] COMMAND [OPTIONS] [--] ARGUMENTS...\n"
        "\n"
        "Commands:\n";
  for (const auto& c : kCommands) {
    os << "  parcelix " << c.name << (*c.usage ? " " : "") << c.usage << '\n'
       << "        " << c.summary << '\n';
  }
  os << "\n"
        "Options:\n"
        "  -q, --quiet      print only errors\n"
        "  -v, --verbose    say more where a command has more to say\n"
        "  --help           show this help; 'parcelix COMMAND --help' shows a command's options\n"
        "  --version        show the program's version\n"
        "\n"
        "Exit status: 0 done, 1 failed (also for one file of many), 2 usage error.\n"
        "'man parcelix' tells more.\n";
}

int RunCommandLine(CliContext& ctx) {
  const std::vector<std::string>& args = ctx.args;
  if (args.empty()) {
    PrintUsage(*ctx.err);
    return 2;
  }
  if (!args[0].empty() && args[0][0] == '/') return CmdSlashCommand(ctx, args);
  // The command is the first word after the common flags.
  size_t at = 0;
  while (at < args.size() && IsCommonFlag(args[at])) ++at;
  const std::string word = at < args.size() ? args[at] : std::string();
  if (word == "--help" || word == "help") {
    // "help COMMAND" is "COMMAND --help".
    const CommandEntry* about = at + 1 < args.size() ? FindCommand(args[at + 1]) : nullptr;
    if (about) return RunTable(ctx, *about, {about->name, "--help"});
    PrintUsage(*ctx.out);
    return 0;
  }
  if (word == "--version") {
    *ctx.out << "parcelix " << PARCELIX_VERSION << '\n';
    return 0;
  }
  if (const CommandEntry* entry = FindCommand(word)) return RunTable(ctx, *entry, args);
  // Anything else (-h included) is the usage message of the slash commands,
  // with the command that was probably meant.
  const int status = CmdSlashCommand(ctx, args);
  const std::string closest = ClosestCommand(word);
  if (!closest.empty())
    ReportError(ctx, word, "not a command; did you mean 'parcelix " + closest + "'? ('parcelix --help' lists them)");
  return status;
}

}  // namespace parcelix
