#include "pipeline/marts.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "core/console.h"
#include "core/files.h"
#include "pipeline/backtests.h"
#include "pipeline/diagnostics.h"
#include "pipeline/duckdb_connection.h"
#include "pipeline/enrichment.h"
#include "pipeline/flows.h"
#include "pipeline/html_render.h"
#include "pipeline/manager_filter.h"
#include "pipeline/ml_drivers.h"
#include "pipeline/model_measures.h"
#include "pipeline/page_context.h"
#include "pipeline/predictions.h"
#include "pipeline/reference_export.h"
#include "pipeline/trending.h"
#ifdef VORDAK_HAVE_ML
#include "ml/predict.h"
#endif

namespace vordak::pipeline {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A directory path without trailing separators, as the outputs are named from it.
fs::path directory_path(std::string text) {
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return fs::path(text);
}

void create_directory(const fs::path& dir, const char* what) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (error || !fs::is_directory(dir)) {
    throw std::runtime_error(std::string("cannot create the ") + what + " " + dir.string() + ": " +
                             (error ? error.message() : "a file of that name is in the way"));
  }
}

class PhaseClock {
 public:
  explicit PhaseClock(const PhaseTimer& timer) : timer_(timer) {}
  void lap(const char* phase) {
    const Clock::time_point now = Clock::now();
    if (timer_) timer_(phase, std::chrono::duration<double>(now - start_).count());
    start_ = now;
  }

 private:
  const PhaseTimer& timer_;
  Clock::time_point start_ = Clock::now();
};

// The prediction runner, guarded: an unavailable runner or predictions table is
// skipped, any other failure reported; either way the rows stay as they were.
void add_predictions(const std::string& db_path, Scoreboard& scoreboard) {
#ifdef VORDAK_HAVE_ML
  try {
    say("  Running ML predictions...");
    ml::run_predictions(db_path, scoreboard);
  } catch (const ml::PredictionsUnavailable& unavailable) {
    say(std::string("  [ML] Skipping: ") + unavailable.what());
  } catch (const std::exception& error) {
    say(std::string("  [ML] Error: ") + error.what());
  }
#else
  (void)db_path;
  (void)scoreboard;
  say("  [ML] Skipping: the prediction runner is not part of this build");
#endif
}

// A database failure of the scoreboard or the reference export, restated when its cause
// is a missing source table (DuckDB's own text suggests unrelated catalog names).
[[noreturn]] void rethrow_explained(Connection& con, const DatabaseError& error) {
  std::vector<std::string> missing;
  for (const char* table : {"fact_periodic", "dim_entity", "map_identity", "ref_sube_bolge"}) {
    if (con.query(std::string("SELECT table_name FROM information_schema.tables WHERE table_name='") + table + "'")
            .empty()) {
      missing.emplace_back(table);
    }
  }
  if (missing.empty()) throw error;
  std::string names;
  for (const std::string& table : missing) names += (names.empty() ? "" : ", ") + table;
  throw DatabaseError("the analytic database " + con.path() + " has no table " + names +
                      " (the marts are built from fact_periodic, dim_entity, map_identity and ref_sube_bolge)");
}

std::size_t member_size(const ordered_json& document, const char* member) {
  if (!document.is_object() || !document.contains(member)) return 0;
  return document[member].size();
}

}  // namespace

MartPaths mart_paths(const std::string& db_path, const std::optional<std::string>& output_dir,
                     const std::string& file_suffix) {
  MartPaths paths;
  paths.output_dir = output_dir ? directory_path(*output_dir)
                                : fs::path(db_path).parent_path().parent_path() / "outputs" / "json";
  paths.trending = paths.output_dir / ("sample_trending_lists" + file_suffix + ".json");
  paths.scoreboard = paths.output_dir / ("sample_scoreboard" + file_suffix + ".json");
  paths.reference = paths.output_dir / ("sube_bolge_ref" + file_suffix + ".csv");
  paths.html_dir = paths.output_dir.parent_path() / "html";
  paths.portfolio_html = paths.html_dir / ("vrd_dashboard" + file_suffix + ".html");
  paths.manager_html = paths.html_dir / ("vrd_dashboard_yonetici" + file_suffix + ".html");
  paths.admin_html = paths.html_dir / ("vrd_dashboard_admin" + file_suffix + ".html");
  return paths;
}

void write_scoreboard_file(const Scoreboard& scoreboard, const fs::path& path) {
  AtomicFile file(path);
  {
    JsonWriter writer(file.handle(), JsonWriter::Layout::kCompact);
    // Start the disk writing of every finished slice while the next one is being
    // serialized, so that the commit's sync finds little left to do.
    const int fd = ::fileno(file.handle());
    off_t started = 0;
    write_scoreboard(writer, scoreboard, 8192, [&] {
      writer.flush();
      if (std::fflush(file.handle()) != 0) throw std::runtime_error("cannot write " + path.string());
      const off_t end = ::lseek(fd, 0, SEEK_CUR);
      if (end > started) ::sync_file_range(fd, started, end - started, SYNC_FILE_RANGE_WRITE);
      started = end;
    });
    writer.flush();
  }
  file.commit();
}

std::pair<Scoreboard, ordered_json> run_marts(const std::string& db_path, const std::optional<std::string>& output_dir,
                                              const std::string& file_suffix, const PhaseTimer& phase_timer, Env& env) {
  PhaseClock clock(phase_timer);
  const MartPaths paths = mart_paths(db_path, output_dir, file_suffix);
  Scoreboard scoreboard;
  ordered_json trending;
  ordered_json diag;
  PageContext page;
  page.generated_at = env.now();
  page.database = fs::path(db_path).filename().string();
  {
    Connection con(db_path);
    create_directory(paths.output_dir, "output directory");

    say("  Building scoreboard mart...");
    try {
      scoreboard = _build_scoreboard(con);
    } catch (const DatabaseError& error) {
      rethrow_explained(con, error);
    }
    say("    scoreboard: " + std::to_string(scoreboard.rows.num_rows()) + " entities, " +
        std::to_string(member_size(scoreboard.meta, "donemler")) + " periods");
    clock.lap("scoreboard");

    say("  Exporting sube_bolge_ref.csv...");
    try {
      _export_sube_bolge_ref(con, paths.output_dir, file_suffix);
    } catch (const DatabaseError& error) {
      rethrow_explained(con, error);
    }
    clock.lap("reference CSV");

    say("  Building trending lists...");
    trending = _build_trending_lists(&con, scoreboard);
    for (const auto& [key, list] : trending.items()) {
      say("    " + key + ": " + std::to_string(list.size()) + " entities");
    }
    write_file_atomic(paths.trending, to_json_text(trending, JsonWriter::Layout::kIndented));
    say("    -> " + paths.trending.string());
    clock.lap("trending");

    diag = _build_diag_index(con);
    clock.lap("diagnostics");
    page.drivers = read_ml_drivers(con);
  }

  _enrich_with_trending(scoreboard, trending);
  clock.lap("enrichment");
  add_predictions(db_path, scoreboard);
  clock.lap("predictions");

  say("  Building flow matrix...");
  scoreboard.extra["flow_matrix"] = _build_flow_matrix(scoreboard);
  const ordered_json& flow_matrix = scoreboard.extra["flow_matrix"];
  std::size_t pairs = 0, flows = 0, segments = 0;
  if (flow_matrix.contains("ALL")) {
    pairs = flow_matrix["ALL"].size();
    for (const ordered_json& pair : flow_matrix["ALL"]) flows += member_size(pair, "flows");
  }
  for (const auto& [segment, records] : flow_matrix.items()) segments += records.empty() ? 0 : 1;
  say("    " + std::to_string(pairs) + " dönem çifti, " + std::to_string(flows) + " akış, " +
      std::to_string(segments) + " segment");
  scoreboard.extra["band_snapshot"] = _build_band_snapshot(scoreboard);
  if (!diag.empty()) scoreboard.extra["diag_index"] = std::move(diag);
  scoreboard.rows.remove_column("sube_adi");
  scoreboard.rows.remove_column("bolge_adi");
  clock.lap("flows and snapshot");

  write_scoreboard_file(scoreboard, paths.scoreboard);
  say("    -> " + paths.scoreboard.string());
  clock.lap("scoreboard JSON");

  say("  Rendering HTML dashboards...");
  create_directory(paths.html_dir, "HTML directory");
  render_html(scoreboard, paths.portfolio_html, paths.reference, {}, 12.5, nullptr, page);
  const RowFilter manager_filter = _yonetici_filter(_kobi_top(scoreboard));
  render_html(scoreboard, paths.manager_html, paths.reference, manager_filter, 12.5, nullptr, page);
  clock.lap("HTML portfolio and manager");

  say("  Building admin data...");
  ordered_json extra = ordered_json::object();
  ordered_json model_measures;
  {
    Connection con(db_path);
    extra["backtest_summary"] = _build_backtest_summary(con);
    extra["backtest_firma"] = _build_backtest_firma_lists(con);
    extra["ml_predictions"] = _build_ml_predictions_list(scoreboard);
    model_measures = build_model_measures(con, period_labels(scoreboard.meta));
  }
  extra["page_mode"] = "admin";
  extra["model_olcumleri"] = std::move(model_measures);
  clock.lap("admin data");
  render_html(scoreboard, paths.admin_html, paths.reference, manager_filter, 25, extra, page);
  clock.lap("HTML admin");
  return {std::move(scoreboard), std::move(trending)};
}

}  // namespace vordak::pipeline
