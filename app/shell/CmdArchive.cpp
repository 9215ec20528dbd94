// Placeholder: commands not built yet.
#include <ostream>
#include "app/shell/Cli.h"

namespace parcelix {
int CmdList(CliContext& ctx, const std::vector<std::string>&) { *ctx.err << "parcelix: not available yet\n"; return 2; }
int CmdTest(CliContext& ctx, const std::vector<std::string>&) { *ctx.err << "parcelix: not available yet\n"; return 2; }
int CmdExtract(CliContext& ctx, const std::vector<std::string>&) { *ctx.err << "parcelix: not available yet\n"; return 2; }
int CmdManifest(CliContext& ctx, const std::vector<std::string>&) { *ctx.err << "parcelix: not available yet\n"; return 2; }
}  // namespace parcelix
