// Placeholder: commands not built yet.
#include <ostream>
#include "app/shell/Cli.h"

namespace parcelix {
int CmdIntegrate(CliContext& ctx, const std::vector<std::string>&) { *ctx.err << "parcelix: not available yet\n"; return 2; }
}  // namespace parcelix
