// The sample command's table: no arguments of its own.
#include "app/shell/CliTable.h"

namespace parcelix {

CommandRunner SampleTable(CLI::App& cmd, CliContext& ctx) {
  cmd.description("Writes a small MIDlet JAR into a new directory below the temporary directory, renames it after "
                  "its suite, writes its JAD and shows each step.");
  return [&ctx] { return CmdSample(ctx, {}); };
}

}  // namespace parcelix
