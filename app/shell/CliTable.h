// The option tables of the commands: each command declares its options and
// arguments on its own CLI11 subcommand and returns what runs it.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>

#include "app/shell/Cli.h"

namespace parcelix {

// Runs the command with the values its table parsed; returns the exit status.
using CommandRunner = std::function<int()>;
// Declares a command's options and arguments on `cmd`.
using CommandTable = CommandRunner (*)(CLI::App& cmd, CliContext& ctx);

CommandRunner CreateTable(CLI::App& cmd, CliContext& ctx);
CommandRunner IntegrateTable(CLI::App& cmd, CliContext& ctx);
CommandRunner SampleTable(CLI::App& cmd, CliContext& ctx);
CommandRunner ListTable(CLI::App& cmd, CliContext& ctx);
CommandRunner TestTable(CLI::App& cmd, CliContext& ctx);
CommandRunner ExtractTable(CLI::App& cmd, CliContext& ctx);
CommandRunner ManifestTable(CLI::App& cmd, CliContext& ctx);
CommandRunner RenameTable(CLI::App& cmd, CliContext& ctx);
CommandRunner JadTable(CLI::App& cmd, CliContext& ctx);
CommandRunner SetTable(CLI::App& cmd, CliContext& ctx);
CommandRunner UnsetTable(CLI::App& cmd, CliContext& ctx);
CommandRunner EditTable(CLI::App& cmd, CliContext& ctx);
CommandRunner CheckTable(CLI::App& cmd, CliContext& ctx);
CommandRunner FixTable(CLI::App& cmd, CliContext& ctx);

}  // namespace parcelix
