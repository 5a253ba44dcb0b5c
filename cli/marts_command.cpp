// `vordak marts`: builds the marts of an analytic database (run_marts). A failure of the
// run reaches the front end, which prints it and exits with 1.

#include <cstdlib>
#include <string_view>

#include "cli/commands.h"
#include "cli/data_report.h"
#include "core/env.h"
#include "core/huge_page_heap.h"
#include "core/json_writer.h"
#include "core/sink.h"
#include "pipeline/marts.h"

namespace vordak::cli {

namespace {

using Kind = Option::Kind;

// --step-seasons: a JSON object of step keys and season names, as the engine hands the
// marts step its STEP_SEASONS.
pipeline::StepSeasons step_seasons(const std::string& text) {
  ordered_json document;
  try {
    document = parse_json(text);
  } catch (const std::exception& failure) {
    throw UsageError(std::string("--step-seasons: not JSON: ") + failure.what());
  }
  if (!document.is_object()) throw UsageError("--step-seasons: a JSON object of step keys and season names is needed");
  pipeline::StepSeasons seasons;
  for (const auto& [step, season] : document.items()) {
    if (!season.is_string()) throw UsageError("--step-seasons: the season of " + step + " is not a text");
    seasons.emplace_back(step, season.get<std::string>());
  }
  return seasons;
}

// Passes every line on and keeps the warnings, for the engine's step report.
class WarningKeeper : public Sink {
 public:
  explicit WarningKeeper(Sink& out) : out_(out) {}
  void line(std::string_view text) override {
    constexpr std::string_view kWarning = "[WARN] ";
    if (const std::size_t at = text.find(kWarning); at != std::string_view::npos && text.find_first_not_of(' ') == at) {
      warnings_.emplace_back(text.substr(at + kWarning.size()));
    }
    out_.line(text);
  }
  void partial(std::string_view text) override { out_.partial(text); }
  const std::vector<std::string>& warnings() const { return warnings_; }

 private:
  Sink& out_;
  std::vector<std::string> warnings_;
};

int run_marts_command(const ParsedArgs& args) {
  const std::optional<std::string> db = args.value("db");
  if (!db) throw UsageError("--db PATH is required");
  const pipeline::StepSeasons seasons = step_seasons(args.value("step-seasons").value_or("{}"));
  // Before the lock: the restart would let go of it.
  restart_with_huge_page_heap();
  const std::unique_ptr<motor::WorkDirLock> lock = lock_database(*db, "marts");
  pipeline::DashboardOptions dashboards;
  // The nightly run asks for the region editions through the environment its marts step
  // inherits, as a systemd unit sets it: VORDAK_PER_REGION=1.
  const char* per_region = std::getenv("VORDAK_PER_REGION");
  dashboards.per_region = args.flag("per-region") || (per_region != nullptr && std::string_view(per_region) == "1");
  WarningKeeper out(stdout_sink());
  pipeline::run_marts(*db, args.value("output-dir"), args.value("suffix").value_or(""), out, {}, Env::system(), seasons,
                      dashboards);
  // The warnings reach the run's console, its records and the runs page through the report.
  if (const std::optional<std::string> report = args.value("report")) {
    ReportEntry entry;
    entry.warnings = out.warnings();
    add_to_report(*report, entry);
  }
  return 0;
}

const RegisterTool kMarts({Command{"marts", "", 0, 0,
                                   "build the scoreboard, trending lists, reference CSV and dashboards of a database",
                                   {{"db", Kind::kValue, "PATH", "analytic database file (required)"},
                                    {"output-dir", Kind::kValue, "DIR",
                                     "directory of the JSON and CSV outputs (default <db dir>/../outputs/json); the dashboards go to DIR/../html"},
                                    {"suffix", Kind::kValue, "TEXT", "suffix of output file names"},
                                    {"step-seasons", Kind::kValue, "JSON",
                                     "the season that made each step's tables, shown on the pages ({\"transform\": \"S_...\", ...})"},
                                    {"report", Kind::kValue, "PATH", "add the marts' warnings to this step report"},
                                    {"per-region", Kind::kFlag, "",
                                     "also one manager edition per region (vrd_dashboard_bolge_CODE.html) and their index, "
                                     "vrd_dashboard_bolgeler.html (default: on when VORDAK_PER_REGION=1)"}}},
                           run_marts_command});

}  // namespace

}  // namespace vordak::cli
