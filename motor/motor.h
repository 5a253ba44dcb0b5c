#pragma once

// Pipeline orchestration engine: one Motor is one pipeline run (one season).

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/json_writer.h"
#include "motor/executor.h"
#include "motor/notebook_params.h"
#include "motor/registry.h"

namespace vordak::motor {

namespace fs = std::filesystem;

// The operator refused to go on at the data-source prompt. Deliberately not a
// std::exception, so that step-failure handling cannot swallow it; the front end
// prints what() on standard error and exits with status 1.
class StopRequest {
 public:
  explicit StopRequest(std::string message) : message_(std::move(message)) {}
  const std::string& what() const { return message_; }

 private:
  std::string message_;
};

// Where the data-source prompt reads its answer.
class OperatorInput {
 public:
  virtual ~OperatorInput() = default;
  virtual bool interactive() const = 0;
  // One answer line without its line break; absent at end of input.
  virtual std::optional<std::string> read_line() = 0;
};

// Standard input.
class TerminalInput : public OperatorInput {
 public:
  bool interactive() const override;
  std::optional<std::string> read_line() override;
};

using DataPaths = std::vector<std::pair<std::string, std::string>>;  // data-source key -> directory, in order

struct MotorArgs {
  std::string work_dir = ".";
  std::string mode = "prod";
  bool force_all = false;
  std::optional<std::vector<std::string>> force_adimlar;
  std::optional<std::string> from_step;
  std::optional<std::string> muta_filter_path;
  std::string file_suffix;
  std::optional<DataPaths> data_paths;
  // Plans only: no directory is created.
  bool dry_run = false;
  // Not engine arguments: what the engine talks to. Null selects the real ones.
  std::shared_ptr<NotebookExecutor> executor;
  std::shared_ptr<OperatorInput> input;
  // Where packaged notebooks are looked for; absent: vordak::paths::get_notebooks_dir().
  std::optional<fs::path> notebooks_dir;
};

struct OzetSatiri {  // summary row
  std::string adim, nb, sure, durum, sebep;
};

// A step as run_all offers it to adim_isle.
struct OfferedStep {
  std::string kod;
  std::optional<NotebookParams> ek_params;
  std::optional<std::vector<std::string>> source_dirs;
};

// One line of a dry run: the step, what would happen ("ÇALIŞIR", "ATLANIR", "NB YOK"), why.
struct PlanSatiri {
  std::string kod, karar, sebep;
};

// Display form of a duration: "42s" below a minute, else minutes with one decimal ("1.5dk").
std::string sure_text(double seconds);

using KontrolFn = std::function<void(const fs::path& work_dir)>;

class Motor {
 public:
  // Loads the data-source map (possibly asking the operator; throws StopRequest on a
  // refusal), creates the season's meta and logs directories and the output directory,
  // and takes the repository description. Throws std::runtime_error naming the file
  // for an unreadable or malformed data-path file or version file.
  explicit Motor(MotorArgs args = {});

  // The data-source map from the first path file found in work_dir, or after the prompt.
  DataPaths _load_data_paths();
  // Most recent meta record of the step from an earlier season of the same mode prefix.
  std::optional<ordered_json> _find_prev_meta(const std::string& kod) const;
  // The step's notebook: work_dir's copy first, then the packaged one; absent otherwise.
  std::optional<fs::path> _nb_path(const std::string& kod) const;
  // Check if step needs to run. Returns (should_run, reason).
  std::pair<bool, std::string> meta_kontrol(const std::string& kod) const;
  // Write step meta JSON.
  void meta_yaz(const std::string& kod, const fs::path& nb_path, double sure,
                const std::optional<ordered_json>& source_hashes = std::nullopt,
                const std::optional<ordered_json>& ekstra = std::nullopt) const;
  // Process a pipeline step: decide run/skip, execute, track.
  bool adim_isle(const std::string& kod, const std::optional<NotebookParams>& ek_params = std::nullopt,
                 const KontrolFn& kontrol_fn = nullptr,
                 const std::optional<std::vector<std::string>>& source_dirs = std::nullopt);
  // Steps 7 to 10 of a step's decision: the ingest rule or the meta records, forcing,
  // and the cascade from the upstream steps in `completed`. Returns (must run, reason).
  std::pair<bool, std::string> due_decision(const std::string& kod, const std::set<std::string>& completed) const;
  // DB_PATH, OUTPUT_DIR, WORK_DIR, and MUTA_FILTER_PATH / FILE_SUFFIX when set.
  NotebookParams base_params() const;
  // The steps run_all offers, in order, with their parameters and source directories.
  std::vector<OfferedStep> offered_steps(bool skip_ingest, bool skip_backtest, bool skip_ml,
                                         const std::optional<std::vector<std::string>>& referans_tarih_list,
                                         std::int64_t test_muta_count) const;
  // Dry run: for every step run_all would offer, in order, what adim_isle would decide.
  std::vector<PlanSatiri> plan(bool skip_ingest = false, bool skip_backtest = false, bool skip_ml = false,
                               const std::optional<std::vector<std::string>>& referans_tarih_list = std::nullopt,
                               std::int64_t test_muta_count = 0) const;
  // The run banner: version, season, mode, test database, repository, forcing.
  void print_banner() const;
  // Print pipeline summary.
  void ozet_yazdir() const;
  // Write final manifest JSON; returns its path.
  fs::path manifest_yaz() const;
  void _temizle_error_reports() const;
  // Run all steps respecting dependencies; returns the manifest path.
  fs::path run_all(bool skip_ingest = false, bool skip_backtest = false, bool skip_ml = false,
                   const std::optional<std::vector<std::string>>& referans_tarih_list = std::nullopt,
                   std::int64_t test_muta_count = 0);

  // Fields, in the order construction sets them.
  fs::path work_dir;
  std::string mode;
  bool force_all;
  std::set<std::string> force_adimlar;
  std::optional<std::string> from_step;
  std::string muta_filter_path;
  std::string file_suffix;
  DataPaths data_paths;
  fs::path db_path;
  fs::path output_dir;
  std::string ts;
  std::string season_adi;
  fs::path season_dir;
  fs::path meta_dir;
  fs::path log_dir;
  std::set<std::string> calisan_adimlar;
  std::vector<OzetSatiri> ozet_satirlar;
  ordered_json manifest_adimlar = ordered_json::object();
  double pipeline_baslangic = 0;
  ordered_json git_info;
  std::set<std::string> _skip_before;

 private:
  std::shared_ptr<NotebookExecutor> executor_;  // made on first use when none was given
  std::shared_ptr<OperatorInput> input_;
  std::optional<fs::path> notebooks_dir_;
};

}  // namespace vordak::motor
