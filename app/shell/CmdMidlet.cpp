// Placeholder: commands not built yet.
#include <ostream>
#include "app/shell/Cli.h"

namespace parcelix {
int CmdSlashCommand(CliContext& ctx, const std::vector<std::string>&) { *ctx.err << "parcelix: not available yet\n"; return 2; }
int CmdRename(CliContext& ctx, const std::vector<std::string>&) { *ctx.err << "parcelix: not available yet\n"; return 2; }
int CmdJad(CliContext& ctx, const std::vector<std::string>&) { *ctx.err << "parcelix: not available yet\n"; return 2; }
int CmdSet(CliContext& ctx, const std::vector<std::string>&) { *ctx.err << "parcelix: not available yet\n"; return 2; }
int CmdUnset(CliContext& ctx, const std::vector<std::string>&) { *ctx.err << "parcelix: not available yet\n"; return 2; }
int CmdEdit(CliContext& ctx, const std::vector<std::string>&) { *ctx.err << "parcelix: not available yet\n"; return 2; }
int CmdSample(CliContext& ctx, const std::vector<std::string>&) { *ctx.err << "parcelix: not available yet\n"; return 2; }
}  // namespace parcelix
