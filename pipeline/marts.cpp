#include "pipeline/marts.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/helper_thread.h"
#include "core/io_error.h"
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

void create_directory(Env& env, const fs::path& dir, const char* what) {
  try {
    env.create_directories(dir);
  } catch (const IoError& error) {
    throw IoError::worded(std::string("cannot create the ") + what + " " + dir.string() + ": " + error.code().message(),
                          dir, error.code());
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
std::string add_predictions(Connection& con, Scoreboard& scoreboard, Sink& sink) {
  try {
    sink.line("  Running ML predictions...");
    return run_predictions(con, scoreboard);
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

// The console line that sums up the flow matrix: period pairs, flows and segments.
std::string flow_matrix_line(const ordered_json& flow_matrix) {
  std::size_t pairs = 0, flows = 0, segments = 0;
  if (flow_matrix.contains("ALL")) {
    pairs = flow_matrix["ALL"].size();
    for (const ordered_json& pair : flow_matrix["ALL"]) flows += member_size(pair, "flows");
  }
  for (const auto& [segment, records] : flow_matrix.items()) segments += records.empty() ? 0 : 1;
  return "    " + std::to_string(pairs) + " dönem çifti, " + std::to_string(flows) + " akış, " +
         std::to_string(segments) + " segment";
}

// Work on a helper thread whose console lines wait for the caller: get() writes them to
// the caller's sink as they were written, then gives the work's result or throws its
// failure, so that the lines come where they would if the caller had done the work.
template <class Result>
class LinesLaterTask {
 public:
  template <class Work>
  explicit LinesLaterTask(Work work) : task_([this, work = std::move(work)] { return work(lines_); }) {}

  Result get(Sink& sink) {
    const auto write_lines = [&] {
      for (const std::string& line : lines_.lines()) sink.line(line);
    };
    try {
      Result result = task_.get();
      write_lines();
      return result;
    } catch (...) {
      write_lines();
      throw;
    }
  }

 private:
  StringSink lines_;
  HelperTask<Result> task_;  // after the lines it writes to
};

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


// One mart run, stage by stage: run_marts calls each once, in the order they are
// declared. Members are destroyed in reverse order: the page folders and the scoreboard
// writer stop before the set removes its unpublished files, and all of them before the
// scoreboard goes.
class MartRun {
 public:
  MartRun(const std::string& db_path, MartPaths paths, const std::string& file_suffix, Sink& sink,
          const PhaseTimer& phase_timer, Env& env, const DashboardOptions& dashboards)
      : db_path_(db_path),
        paths_(std::move(paths)),
        file_suffix_(file_suffix),
        sink_(sink),
        env_(env),
        dashboards_(dashboards),
        clock_(phase_timer),
        outputs_(env, paths_.journal) {}

  // The scoreboard, the reference CSV, the trending lists and what else the database
  // holds for the pages; the flow matrix, the band snapshot and the firms' list history
  // start on helper threads.
  void read_database(const StepSeasons& step_seasons) {
    page_.generated_at = env_.now();
    page_.database = fs::path(db_path_).filename().string();
    page_.step_seasons = step_seasons;
    Connection& con = con_.emplace(db_path_);
    create_directory(env_, paths_.output_dir, "output directory");
    tidy_output_directories(env_, paths_);
    build_scoreboard_mart(con);
    export_reference(con);
    build_trending();
    diag_ = build_diag_index(con, sink_);
    clock_.lap("diagnostics");
    page_.drivers = read_ml_drivers(con);
    model_histories_ = read_model_histories(con, scoreboard_);
  }

  // The trending lists and the predictions joined in, the flow matrix and the band
  // snapshot added: from here on the scoreboard is only read.
  void complete_scoreboard() {
    auto [flow_matrix, band_snapshot] = flows_and_bands_->get();
    enrich_with_trending(scoreboard_, trending_, sink_);
    clock_.lap("enrichment");
    page_.ml_model = add_predictions(*con_, scoreboard_, sink_);
    clock_.lap("predictions");
    if (const std::vector<std::string> periods = periods_with_too_large_risk(scoreboard_); !periods.empty()) {
      sink_.line("    [WARN] the risks of period " + join(periods, ", ") +
                 " add up to more than a 64-bit integer holds; risk totals that do not fit are written as null and"
                 " shown on the pages as too large");
    }
    sink_.line("  Building flow matrix...");
    sink_.line(flow_matrix_line(flow_matrix));
    scoreboard_.extra["flow_matrix"] = std::move(flow_matrix);
    scoreboard_.extra["band_snapshot"] = std::move(band_snapshot);
    if (!diag_.empty()) scoreboard_.text_members.emplace_back("diag_index", std::move(diag_));
    scoreboard_.rows.remove_column("sube_adi");
    scoreboard_.rows.remove_column("bolge_adi");
    clock_.lap("flows and snapshot");
    start_admin_data();
  }

  // Starts writing the scoreboard file in the background and makes the portfolio's and
  // the manager's pages (and the regions' when asked for); returns the manager edition,
  // whose rows the administrator's page shows from the same folder.
  EditionData write_pages() {
    scoreboard_file_.emplace(scoreboard_, outputs_.add(paths_.scoreboard, FileAccess::kPrivate),
                             std::max(1u, std::thread::hardware_concurrency()));
    sink_.line("    -> " + paths_.scoreboard.string());
    sink_.line("  Rendering HTML dashboards...");
    create_directory(env_, paths_.html_dir, "HTML directory");
    facts_.emplace(firm_facts(scoreboard_, std::move(watch_lists_),
                              list_history_ ? list_history_->get() : std::vector<std::uint8_t>(),
                              std::move(model_histories_)));
    clock_.lap("firm facts");
    add_page(paths_.portfolio_html, edition(paths_.portfolio_html, {}), 12.5, nullptr, page_);
    const RowFilter manager_filter = yonetici_filter(kobi_top(scoreboard_));
    EditionData manager = edition(paths_.manager_html, manager_filter);
    add_page(paths_.manager_html, manager, 12.5, nullptr, page_);
    clock_.lap("HTML portfolio and manager");
    if (dashboards_.per_region) write_region_pages(manager, manager_filter);
    return manager;
  }

  // The administrator's page: the manager edition's rows with the backtests, the
  // predictions, the model measures and inventory and the data checks. Their lines come
  // here, in this order, whenever their work ran.
  void write_admin_page(const EditionData& manager) {
    sink_.line("  Building admin data...");
    ordered_json extra = ordered_json::object();
    BacktestData backtests = backtests_->get(sink_);
    extra["backtest_summary"] = std::move(backtests.summary);
    extra["backtest_firma"] = std::move(backtests.firm_lists);
    extra["ml_predictions"] = build_ml_predictions_list(scoreboard_, sink_);
    clock_.lap("admin data: backtests");
    ModelData models = models_->get(sink_);
    con_.reset();
    extra["page_mode"] = "admin";
    extra["model_olcumleri"] = std::move(models.measures);
    extra["model_envanteri"] = std::move(models.inventory.page);
    extra["ml_tahmin_modeli"] = page_.ml_model.empty() ? ordered_json(nullptr) : ordered_json(page_.ml_model);
    extra["veri_kalitesi"] = std::move(models.data_checks);
    clock_.lap("admin data: model measures");
    sink_.line("  Rendering admin dashboard...");
    add_page(paths_.admin_html, manager, 25, extra, page_);
    clock_.lap("HTML admin");
  }

  // Waits for the scoreboard file, puts the page folders on the disk and publishes
  // every file together.
  void publish() {
    scoreboard_file_->finish();
    clock_.lap("scoreboard JSON (rest)");
    for (const auto& folder : folders_) folder->sync();
    sink_.line("  Publishing outputs...");
    outputs_.publish();
    for (const auto& folder : folders_) folder->keep();
    clock_.lap("publish");
  }

  std::pair<Scoreboard, ordered_json> results() { return {std::move(scoreboard_), std::move(trending_)}; }

 private:
  void build_scoreboard_mart(Connection& con) {
    sink_.line("  Building scoreboard mart...");
    try {
      scoreboard_ = build_scoreboard(con, sink_);
    } catch (const DatabaseError& error) {
      rethrow_explained(con, error);
    }
    sink_.line("    scoreboard: " + std::to_string(scoreboard_.rows.num_rows()) + " entities, " +
               std::to_string(member_size(scoreboard_.meta, "donemler")) + " periods");
    clock_.lap("scoreboard");
    // They read only the scores, risks and segments, which the enrichment and the
    // predictions leave alone.
    flows_and_bands_.emplace([this] {
      return std::pair(build_flow_matrix(scoreboard_), build_band_snapshot(scoreboard_));
    });
  }

  // The administrator's data from the database, each part on a helper thread with a
  // connection of its own, while the other pages are made: they read the scoreboard only.
  void start_admin_data() {
    backtests_.emplace([this](Sink& lines) {
      Connection con = con_->sibling();
      BacktestData data;
      data.summary = build_backtest_summary(con, lines);
      data.firm_lists = build_backtest_firma_lists(con, lines);
      return data;
    });
    models_.emplace([this](Sink& lines) {
      Connection con = con_->sibling();
      ModelData data;
      data.inventory = read_model_inventory(con);
      data.measures = build_model_measures(con, scoreboard_, data.inventory, lines);
      data.data_checks = recorded_checks(con);
      return data;
    });
  }

  void export_reference(Connection& con) {
    sink_.line("  Exporting sube_bolge_ref.csv...");
    Table reference;
    try {
      reference = read_sube_bolge_ref(con);
    } catch (const DatabaseError& error) {
      rethrow_explained(con, error);
    }
    outputs_.add(paths_.reference, FileAccess::kPrivate).append(sube_bolge_ref_csv(reference));
    branch_names_ = reference_names(sube_bolge_ref_records(reference));
    sink_.line(sube_bolge_ref_line(reference.num_rows(), paths_.reference));
    clock_.lap("reference CSV");
  }

  void build_trending() {
    sink_.line("  Building trending lists...");
    if (!scoreboard_.rows.empty()) {
      watch_rules_.emplace(scoreboard_);
      watch_lists_ = build_watch_lists(scoreboard_, *watch_rules_);
      // From the rules alone, which hold no reference to the rows (they grow meanwhile).
      list_history_.emplace([this] { return watch_list_history(*watch_rules_); });
    }
    trending_ = trending_document(scoreboard_, watch_lists_);
    for (const auto& [key, list] : trending_.items()) {
      sink_.line("    " + key + ": " + std::to_string(list.size()) + " entities");
    }
    outputs_.add(paths_.trending, FileAccess::kPrivate).append(to_json_text(trending_, JsonWriter::Layout::kIndented));
    sink_.line("    -> " + paths_.trending.string());
    clock_.lap("trending");
  }

  void write_region_pages(const EditionData& manager, const RowFilter& manager_filter) {
    std::vector<RegionEdition> regions;
    for (const ordered_json& code : manager.files["bolge_kodlari"]) {
      const std::string region_code = code.get<std::string>();
      RegionEdition region{region_code, "", region_page(paths_.html_dir, region_code, file_suffix_)};
      if (branch_names_.regions.contains(region.code)) region.name = text_form(branch_names_.regions[region.code]);
      PageContext context = page_;
      context.region = region.code;
      const EditionData data = edition(region.page, region_filter(manager_filter, region.code));
      region.firms = data.selection.rows.size();
      region.total_risk = data.selection.total_risk;
      add_page(region.page, data, 12.5, nullptr, context);
      regions.push_back(std::move(region));
    }
    outputs_.add(region_index_page(paths_.html_dir, file_suffix_), FileAccess::kPrivate)
        .append(render_region_index(regions, page_));
    clock_.lap("HTML per region");
  }

  // The data files of the edition of `html`, in a folder of its own: written before the
  // pages are published, kept after.
  EditionData edition(const fs::path& html, const RowFilter& filter) {
    folders_.push_back(std::make_unique<PageDataFolder>(env_, html, *page_.generated_at));
    return write_edition_data(scoreboard_, filter, *facts_, page_, folders_.back()->folder(dashboards_.firms_per_file));
  }

  void add_page(const fs::path& html, const EditionData& data, double cap, const ordered_json& extra,
                const PageContext& context) {
    outputs_.add(html, FileAccess::kPrivate)
        .append(render_page(scoreboard_, html, branch_names_, data, cap, extra, context));
  }

  struct BacktestData {
    ordered_json summary, firm_lists;
  };
  struct ModelData {
    ModelInventory inventory;
    ordered_json measures, data_checks;
  };

  const std::string& db_path_;
  const MartPaths paths_;
  const std::string& file_suffix_;
  Sink& sink_;
  Env& env_;
  const DashboardOptions& dashboards_;
  PhaseClock clock_;

  Scoreboard scoreboard_;
  std::optional<Connection> con_;  // the run's database, open until the admin data is read
  ordered_json trending_;
  std::string diag_;  // compact JSON text
  PageContext page_;
  BranchNames branch_names_;
  std::vector<ModelHistory> model_histories_;
  WatchLists watch_lists_;
  std::optional<WatchRules> watch_rules_;
  OutputSet outputs_;
  std::optional<HelperTask<std::pair<ordered_json, ordered_json>>> flows_and_bands_;
  std::optional<HelperTask<std::vector<std::uint8_t>>> list_history_;
  std::optional<ScoreboardWriter> scoreboard_file_;
  std::optional<FirmFacts> facts_;
  std::vector<std::unique_ptr<PageDataFolder>> folders_;
  // Last: they end before the connection and the scoreboard they read.
  std::optional<LinesLaterTask<BacktestData>> backtests_;
  std::optional<LinesLaterTask<ModelData>> models_;
};

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
  MartRun run(db_path, mart_paths(db_path, output_dir, file_suffix), file_suffix, sink, phase_timer, env,
              dashboards);
  run.read_database(step_seasons);
  run.complete_scoreboard();
  const EditionData manager = run.write_pages();
  run.write_admin_page(manager);
  run.publish();
  return run.results();
}

}  // namespace vordak::pipeline
