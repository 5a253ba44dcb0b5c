// `vordak marts`: builds the marts of an analytic database (run_marts). A failure of the
// run reaches the front end, which prints it and exits with 1.

#include "cli/commands.h"
#include "core/huge_page_heap.h"
#include "core/sink.h"
#include "pipeline/marts.h"

namespace vordak::cli {

namespace {

using Kind = Option::Kind;

int run_marts_command(const ParsedArgs& args) {
  const std::optional<std::string> db = args.value("db");
  if (!db) throw UsageError("--db PATH is required");
  restart_with_huge_page_heap();
  pipeline::run_marts(*db, args.value("output-dir"), args.value("suffix").value_or(""), stdout_sink());
  return 0;
}

const RegisterTool kMarts({Command{"marts", "", 0, 0,
                                   "build the scoreboard, trending lists, reference CSV and dashboards of a database",
                                   {{"db", Kind::kValue, "PATH", "analytic database file (required)"},
                                    {"output-dir", Kind::kValue, "DIR",
                                     "directory of the JSON and CSV outputs (default <db dir>/../outputs/json); the dashboards go to DIR/../html"},
                                    {"suffix", Kind::kValue, "TEXT", "suffix of output file names"}}},
                           run_marts_command});

}  // namespace

}  // namespace vordak::cli
