// The tools around the engine.

#include "cli/commands.h"

namespace vordak::cli {

std::vector<Subcommand> tool_subcommands() { return {}; }

}  // namespace vordak::cli
