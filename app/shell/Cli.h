// The command line: one entry point and one function per command.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace parcelix {

enum class MsgIcon { Error, Warning, Information };

// A message of the program to the user (a message box in the windows).
struct UserMessage {
  std::string title;
  std::string text;
  MsgIcon icon = MsgIcon::Information;
};

struct CliContext {
  std::vector<std::string> args;  // the arguments after the program name
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
  bool stderrIsTerminal = false;  // progress lines only then
  bool quiet = false;             // -q: errors only
  bool verbose = false;           // -v: more detail where a command has any
  // Shows a message of the command line's message table: always on stderr as
  // "Title Text"; main() adds the desktop (message box or notification) when
  // there is no terminal.
  std::function<void(const UserMessage&)> ShowMessage;
};

// Runs the command named by args[0]; returns the exit status
// (0 success, 1 failure, 2 usage).
int RunCommandLine(CliContext& ctx);
// Prints the usage of the command line to the stream.
void PrintUsage(std::ostream& os);
// Every error of the command line has this shape: "parcelix: PATH: message",
// or "parcelix: message" when it concerns no file.
void ReportError(CliContext& ctx, const std::string& path, const std::string& message);
// True when the path ends in ".jar" (in any case).
bool IsJarName(const std::string& path);
// The command whose name is closest to a misspelt word ("" when none is close).
std::string ClosestCommand(const std::string& word);

// Commands; args excludes the command name itself.
int CmdList(CliContext& ctx, const std::vector<std::string>& args);      // list [--json] ARCHIVE
int CmdTest(CliContext& ctx, const std::vector<std::string>& args);      // test [--json] ARCHIVE
int CmdExtract(CliContext& ctx, const std::vector<std::string>& args);   // extract ARCHIVE DIR [MASK...]
int CmdManifest(CliContext& ctx, const std::vector<std::string>& args);  // manifest ARCHIVE
int CmdSlashCommand(CliContext& ctx, const std::vector<std::string>& args);  // /rename F, /jadgen F (args[0] is the slash word)
int CmdRename(CliContext& ctx, const std::vector<std::string>& args);    // rename [-r] [-n] [--version|--no-version] PATH...
int CmdJad(CliContext& ctx, const std::vector<std::string>& args);       // jad [-r] [-n] PATH...
int CmdSet(CliContext& ctx, const std::vector<std::string>& args);       // set [flags] ARCHIVE KEY=VALUE...
int CmdUnset(CliContext& ctx, const std::vector<std::string>& args);     // unset [flags] ARCHIVE KEY...
int CmdEdit(CliContext& ctx, const std::vector<std::string>& args);      // edit [flags] ARCHIVE
int CmdSample(CliContext& ctx, const std::vector<std::string>& args);    // demo on a built-in sample

}  // namespace parcelix
