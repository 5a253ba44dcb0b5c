#include "pipeline/marts.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/helper_thread.h"
#include "core/output_set.h"
#include "core/sink.h"
#include "core/text.h"
#include "pipeline/backtests.h"
#include "pipeline/cleaning.h"
#include "pipeline/dashboard_data.h"
#include "pipeline/diagnostics.h"
#include "pipeline/duckdb_connection.h"
#include "pipeline/edition_data.h"
#include "pipeline/enrichment.h"
#include "pipeline/firm_facts.h"
#include "pipeline/flows.h"
#include "pipeline/html_render.h"
#include "pipeline/manager_filter.h"
#include "pipeline/ml_drivers.h"
#include "pipeline/model_inventory.h"
#include "pipeline/model_histories.h"
#include "pipeline/model_measures.h"
#include "pipeline/page_context.h"
#include "pipeline/page_data_folder.h"
#include "pipeline/prediction_runner.h"
#include "pipeline/predictions.h"
#include "pipeline/reference_export.h"
#include "pipeline/source_load.h"
#include "pipeline/region_editions.h"
#include "pipeline/scoreboard_writer.h"
#include "pipeline/trending.h"
#include "pipeline/watch_rules.h"

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

// The prediction runner is the one guarded step of a run: the predictions come from a
// later, optional step of the pipeline, so a missing predictions table is skipped and
// any other failure reported; either way the rows stay as they were and the run goes on.
// Returns the id of the model that gave the predictions (empty when unknown).
std::string add_predictions(const std::string& db_path, Scoreboard& scoreboard, Sink& sink) {
  try {
    sink.line("  Running ML predictions...");
    return run_predictions(db_path, scoreboard);
  } catch (const PredictionsUnavailable& unavailable) {
    sink.line(std::string("  [ML] Skipping: ") + unavailable.what());
  } catch (const std::exception& error) {
    sink.line(std::string("  [ML] Error: ") + error.what());
  }
  return {};
}

// A database failure of the scoreboard or the reference export, thrown again with a
// message naming the missing source tables when that is its cause (DuckDB's own text
// suggests unrelated catalog names); any other failure is thrown again as it is.
[[noreturn]] void rethrow_explained(Connection& con, const DatabaseError& error) {
  std::vector<std::string> missing;
  for (const char* table : {"fact_periodic", "dim_entity", "map_identity", "ref_sube_bolge"}) {
    if (!con.has_table(table)) missing.emplace_back(table);
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

// The files of a mart run and its publish journal, whatever their suffix.
bool is_mart_output(std::string_view name) {
  const bool known_stem = name.starts_with("sample_scoreboard") || name.starts_with("sample_trending_lists") ||
                          name.starts_with("sube_bolge_ref") || name.starts_with("vrd_dashboard") ||
                          name.starts_with(".vrd_outputs");
  const bool known_extension =
      name.ends_with(".json") || name.ends_with(".csv") || name.ends_with(".html") || name.ends_with(".publish");
  return known_stem && known_extension;
}

// Completes a publish that a kill cut short, then removes the temporary files that
// killed runs left in the output directories.
void tidy_output_directories(Env& env, const MartPaths& paths) {
  finish_interrupted_publish(env, paths.journal, {paths.output_dir, paths.html_dir});
  for (const fs::path& dir : {paths.output_dir, paths.html_dir}) remove_abandoned_outputs(env, dir, is_mart_output);
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
  paths.journal = publish_journal(paths.output_dir, file_suffix);
  return paths;
}

std::pair<Scoreboard, ordered_json> run_marts(const std::string& db_path, const std::optional<std::string>& output_dir,
                                              const std::string& file_suffix, Sink& sink, const PhaseTimer& phase_timer,
                                              Env& env, const StepSeasons& step_seasons,
                                              const DashboardOptions& dashboards) {
  PhaseClock clock(phase_timer);
  const MartPaths paths = mart_paths(db_path, output_dir, file_suffix);
  // Destroyed in reverse order: the scoreboard writer stops before the set removes its
  // unpublished files, and both before the scoreboard goes.
  Scoreboard scoreboard;
  ordered_json trending;
  ordered_json diag;
  PageContext page;
  page.generated_at = env.now();
  page.database = fs::path(db_path).filename().string();
  page.step_seasons = step_seasons;
  BranchNames branch_names;
  std::vector<ModelHistory> model_histories;
  WatchLists watch_lists;
  std::optional<WatchRules> watch_rules;
  OutputSet outputs(env, paths.journal);
  // The flow matrix and the band snapshot, made beside the trending lists: they read only
  // the scores, risks and segments, which the enrichment and the predictions leave alone.
  std::optional<HelperTask<std::pair<ordered_json, ordered_json>>> flows_and_bands;
  // Each firm's lists in every period, made beside the rest of the run from the rules
  // the trending lists read (which hold no reference to the rows, which grow meanwhile).
  std::optional<HelperTask<std::vector<std::uint8_t>>> list_history;
  {
    Connection con(db_path);
    create_directory(paths.output_dir, "output directory");
    tidy_output_directories(env, paths);

    sink.line("  Building scoreboard mart...");
    try {
      scoreboard = build_scoreboard(con, sink);
    } catch (const DatabaseError& error) {
      rethrow_explained(con, error);
    }
    sink.line("    scoreboard: " + std::to_string(scoreboard.rows.num_rows()) + " entities, " +
        std::to_string(member_size(scoreboard.meta, "donemler")) + " periods");
    clock.lap("scoreboard");
    flows_and_bands.emplace([&scoreboard] {
      return std::pair(build_flow_matrix(scoreboard), build_band_snapshot(scoreboard));
    });

    sink.line("  Exporting sube_bolge_ref.csv...");
    Table reference;
    try {
      reference = read_sube_bolge_ref(con);
    } catch (const DatabaseError& error) {
      rethrow_explained(con, error);
    }
    outputs.add(paths.reference, FileAccess::kPrivate).append(sube_bolge_ref_csv(reference));
    branch_names = reference_names(sube_bolge_ref_records(reference));
    sink.line(sube_bolge_ref_line(reference.num_rows(), paths.reference));
    clock.lap("reference CSV");

    sink.line("  Building trending lists...");
    if (!scoreboard.rows.empty()) {
      watch_rules.emplace(scoreboard);
      watch_lists = build_watch_lists(scoreboard, *watch_rules);
      list_history.emplace([&watch_rules] { return watch_list_history(*watch_rules); });
    }
    trending = trending_document(scoreboard, watch_lists);
    for (const auto& [key, list] : trending.items()) {
      sink.line("    " + key + ": " + std::to_string(list.size()) + " entities");
    }
    outputs.add(paths.trending, FileAccess::kPrivate).append(to_json_text(trending, JsonWriter::Layout::kIndented));
    sink.line("    -> " + paths.trending.string());
    clock.lap("trending");

    diag = build_diag_index(con, sink);
    clock.lap("diagnostics");
    page.drivers = read_ml_drivers(con);
    model_histories = read_model_histories(con, scoreboard);
  }

  auto [flow_matrix, band_snapshot] = flows_and_bands->get();
  enrich_with_trending(scoreboard, trending, sink);
  clock.lap("enrichment");
  page.ml_model = add_predictions(db_path, scoreboard, sink);
  clock.lap("predictions");

  if (const std::vector<std::string> periods = periods_with_too_large_risk(scoreboard); !periods.empty()) {
    sink.line("    [WARN] the risks of period " + join(periods, ", ") +
              " add up to more than a 64-bit integer holds; risk totals that do not fit are written as null and"
              " shown on the pages as too large");
  }
  sink.line("  Building flow matrix...");
  std::size_t pairs = 0, flows = 0, segments = 0;
  if (flow_matrix.contains("ALL")) {
    pairs = flow_matrix["ALL"].size();
    for (const ordered_json& pair : flow_matrix["ALL"]) flows += member_size(pair, "flows");
  }
  for (const auto& [segment, records] : flow_matrix.items()) segments += records.empty() ? 0 : 1;
  sink.line("    " + std::to_string(pairs) + " dönem çifti, " + std::to_string(flows) + " akış, " +
      std::to_string(segments) + " segment");
  scoreboard.extra["flow_matrix"] = std::move(flow_matrix);
  scoreboard.extra["band_snapshot"] = std::move(band_snapshot);
  if (!diag.empty()) scoreboard.extra["diag_index"] = std::move(diag);
  scoreboard.rows.remove_column("sube_adi");
  scoreboard.rows.remove_column("bolge_adi");
  clock.lap("flows and snapshot");

  // From here on the scoreboard is only read: the file is written in the background
  // while the pages are made.
  ScoreboardWriter scoreboard_file(scoreboard, outputs.add(paths.scoreboard, FileAccess::kPrivate),
                                   std::max(1u, std::thread::hardware_concurrency()));
  sink.line("    -> " + paths.scoreboard.string());

  sink.line("  Rendering HTML dashboards...");
  create_directory(paths.html_dir, "HTML directory");
  const FirmFacts facts = firm_facts(scoreboard, std::move(watch_lists),
                                     list_history ? list_history->get() : std::vector<std::uint8_t>(),
                                     std::move(model_histories));
  clock.lap("firm facts");
  // Each page's data folder: written before the pages are published, kept after.
  std::vector<std::unique_ptr<PageDataFolder>> folders;
  auto edition = [&](const fs::path& html, const RowFilter& filter) {
    folders.push_back(std::make_unique<PageDataFolder>(env, html, *page.generated_at));
    return write_edition_data(scoreboard, filter, facts, page, folders.back()->folder(dashboards.firms_per_file));
  };
  auto add_page = [&](const fs::path& html, const EditionData& data, double cap, const ordered_json& extra,
                      const PageContext& context) {
    outputs.add(html, FileAccess::kPrivate).append(render_page(scoreboard, html, branch_names, data, cap, extra, context));
  };
  add_page(paths.portfolio_html, edition(paths.portfolio_html, {}), 12.5, nullptr, page);
  // The manager's and the administrator's pages show the same rows, from one folder.
  const RowFilter manager_filter = yonetici_filter(kobi_top(scoreboard));
  const EditionData manager = edition(paths.manager_html, manager_filter);
  add_page(paths.manager_html, manager, 12.5, nullptr, page);
  clock.lap("HTML portfolio and manager");
  if (dashboards.per_region) {
    std::vector<RegionEdition> regions;
    for (const ordered_json& code : manager.files["bolge_kodlari"]) {
      RegionEdition region{code.get<std::string>(), "", region_page(paths.html_dir, code.get<std::string>(), file_suffix)};
      if (branch_names.regions.contains(region.code)) region.name = text_form(branch_names.regions[region.code]);
      PageContext context = page;
      context.region = region.code;
      const EditionData data = edition(region.page, region_filter(manager_filter, region.code));
      region.firms = data.selection.rows.size();
      region.total_risk = data.selection.total_risk;
      add_page(region.page, data, 12.5, nullptr, context);
      regions.push_back(std::move(region));
    }
    outputs.add(region_index_page(paths.html_dir, file_suffix), FileAccess::kPrivate)
        .append(render_region_index(regions, page));
    clock.lap("HTML per region");
  }

  sink.line("  Building admin data...");
  ordered_json extra = ordered_json::object();
  ordered_json model_measures;
  ModelInventory inventory;
  ordered_json data_checks;
  {
    Connection con(db_path);
    extra["backtest_summary"] = build_backtest_summary(con, sink);
    extra["backtest_firma"] = build_backtest_firma_lists(con, sink);
    extra["ml_predictions"] = build_ml_predictions_list(scoreboard, sink);
    clock.lap("admin data: backtests");
    inventory = read_model_inventory(con);
    model_measures = build_model_measures(con, scoreboard, inventory, sink);
    data_checks = recorded_checks(con);
  }
  extra["page_mode"] = "admin";
  extra["model_olcumleri"] = std::move(model_measures);
  extra["model_envanteri"] = std::move(inventory.page);
  extra["ml_tahmin_modeli"] = page.ml_model.empty() ? ordered_json(nullptr) : ordered_json(page.ml_model);
  extra["veri_kalitesi"] = std::move(data_checks);
  clock.lap("admin data: model measures");
  sink.line("  Rendering admin dashboard...");
  add_page(paths.admin_html, manager, 25, extra, page);
  clock.lap("HTML admin");

  scoreboard_file.finish();
  clock.lap("scoreboard JSON (rest)");
  for (const auto& folder : folders) folder->sync();
  sink.line("  Publishing outputs...");
  outputs.publish();
  for (const auto& folder : folders) folder->keep();
  clock.lap("publish");
  return {std::move(scoreboard), std::move(trending)};
}

}  // namespace vordak::pipeline
