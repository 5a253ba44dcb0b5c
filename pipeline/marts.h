#pragma once

// The mart run: from the analytic database to the dashboard data in one pass. Writes
// the scoreboard (compact JSON), the trending lists (indented JSON), the branch-region
// reference (CSV) and three dashboard editions (portfolio, manager, administrator).

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "core/env.h"
#include "core/json_writer.h"
#include "core/sink.h"
#include "pipeline/page_context.h"
#include "pipeline/scoreboard.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::pipeline {

// Output locations of one run, all derived from the arguments.
struct MartPaths {
  std::filesystem::path output_dir;  // given, or <db dir>/../outputs/json
  std::filesystem::path trending;
  std::filesystem::path scoreboard;
  std::filesystem::path reference;
  std::filesystem::path html_dir;    // parent of output_dir / "html"
  std::filesystem::path portfolio_html;
  std::filesystem::path manager_html;
  std::filesystem::path admin_html;
  std::filesystem::path journal;     // output_dir / ".vrd_outputs" + suffix + ".publish"
};

MartPaths mart_paths(const std::string& db_path, const std::optional<std::string>& output_dir,
                     const std::string& file_suffix);

// Receives the name and duration in seconds of each phase of a run (for benchmarks).
using PhaseTimer = std::function<void(const char* phase, double seconds)>;

// How a run makes its dashboards.
struct DashboardOptions {
  // Also one manager edition per region, and their index page (see region_editions.h).
  bool per_region = false;
  // Firms per data file of an edition (see edition_data.h).
  std::size_t firms_per_file = 256;
};

// Builds every mart from the database at `db_path` and writes the outputs (see
// MartPaths; `output_dir` absent means <db dir>/../outputs/json); sends the progress
// lines of the run to `sink`. Returns the final scoreboard and trending documents.
// The files appear together or not at all (see OutputSet), each page's data folder with
// it (see PageDataFolder): a run that fails, or is killed, before its end leaves the
// earlier set as it was; the next run removes what a killed run left behind. Every file
// is readable by its owner and group only: they hold the bank's customers. Three failures are contained, each with its console line: the
// prediction runner's ("[ML]"), and inside their builders the diagnostic index's
// ("[DIAG]") and each backtest model's ("[BACKTEST]"). Any other failure (database, a
// missing source table, an output directory that cannot be created or written, a full
// disk, the renderer) is thrown with a message naming the table or file. The scoreboard
// file is written by background threads while the pages are made. The pages show
// `env`'s time as their making time, and `step_seasons` (when given) as the seasons
// that made their parts; every file goes through `env`.
std::pair<Scoreboard, ordered_json> run_marts(const std::string& db_path, const std::optional<std::string>& output_dir,
                                              const std::string& file_suffix, Sink& sink,
                                              const PhaseTimer& phase_timer = {}, Env& env = Env::system(),
                                              const StepSeasons& step_seasons = {},
                                              const DashboardOptions& dashboards = {});

}  // namespace vordak::pipeline

VORDAK_PUBLIC_END
