#pragma once

// One run of the pipeline: its settings, its paths and its data sources. Constructing a
// Season loads the data-source map (possibly asking the operator), derives the season's
// name and directories, creates them, describes the repository and checks the version of
// the notebooks installed in the working directory.

#include <exception>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/env.h"
#include "core/json_writer.h"
#include "core/sink.h"
#include "motor/notebook_params.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

namespace fs = std::filesystem;

class NotebookExecutor;

// The operator refused to go on at the data-source prompt. It is thrown before any step
// runs, where nothing catches it but the front end, which prints what() on standard
// error and exits with status 1; a handler of failures that meets it lets it pass.
class StopRequest : public std::exception {
 public:
  explicit StopRequest(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

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

// The engine's arguments, and what it talks to.
struct MotorArgs {
  std::string work_dir = ".";
  std::string mode = "prod";
  bool force_all = false;
  std::optional<std::vector<std::string>> force_adimlar;
  std::optional<std::string> from_step;
  std::optional<std::string> muta_filter_path;
  std::string file_suffix;
  std::optional<DataPaths> data_paths;
  // Failed data checks the operator accepted for this run: "CHECK" or "SOURCE:CHECK".
  std::vector<std::string> accepted_checks;
  // Plans only: no directory is created.
  bool dry_run = false;

  // Null selects the real ones: the nbclient executor, no operator at hand (the prompt
  // is answered as a non-interactive run would), the system's clock and disk.
  std::shared_ptr<NotebookExecutor> executor;
  std::shared_ptr<OperatorInput> input;
  Env* env = nullptr;
};

// The working directory as the engine names it: absolute, normalised, links resolved.
fs::path resolve_work_dir(const std::string& work_dir);

// The data-source map from the first path file found in `work_dir`
// ("local_data_paths.json", "data_paths_nt.json", "data_paths.json"), or, when there is
// none, after asking the operator. Throws StopRequest on a refusal, std::runtime_error
// naming the file for an unreadable or malformed path file.
DataPaths load_data_paths(const fs::path& work_dir, OperatorInput* input, Env& env, Sink& out);

class Season {
 public:
  // Throws what load_data_paths throws (before anything is created), and
  // std::runtime_error naming the directory or file when a directory cannot be created
  // or the notebook version file or the run record cannot be read or written, or naming the data source whose
  // directory holds a "," where directories are passed joined by ",".
  Season(const MotorArgs& args, Env& env, Sink& out);

  const fs::path& work_dir() const { return work_dir_; }
  const std::string& mode() const { return mode_; }
  bool force_all() const { return force_all_; }
  const std::set<std::string>& force_adimlar() const { return force_adimlar_; }
  const std::optional<std::string>& from_step() const { return from_step_; }
  const std::string& muta_filter_path() const { return muta_filter_path_; }
  const std::string& file_suffix() const { return file_suffix_; }
  const DataPaths& data_paths() const { return data_paths_; }
  const std::vector<std::string>& accepted_checks() const { return accepted_checks_; }
  const fs::path& db_path() const { return db_path_; }
  const fs::path& output_dir() const { return output_dir_; }
  const std::string& ts() const { return ts_; }  // the season's time stamp
  const std::string& season_adi() const { return season_adi_; }
  const fs::path& season_dir() const { return season_dir_; }
  const fs::path& meta_dir() const { return meta_dir_; }
  const fs::path& log_dir() const { return log_dir_; }
  // The run's place in the working directory's order of runs (its run record); 0 in a
  // dry run, which records nothing.
  std::int64_t sira() const { return sira_; }
  TimePoint pipeline_baslangic() const { return pipeline_baslangic_; }
  const ordered_json& git_info() const { return git_info_.get(); }
  bool git_available() const;
  // The steps ahead of `from_step` in the table, which the run skips.
  const std::set<std::string>& skip_before() const { return skip_before_; }
  // Why the run skips the step, "--from STEP", when it is ahead of `from_step`.
  std::optional<std::string> before_start(const std::string& kod) const;

  // The step's notebook: work_dir's copy, installed there by `vordak init`; absent
  // otherwise. Never the packaged copy: a working directory runs the one set of
  // notebooks it holds, and a missing one is "NB YOK".
  std::optional<fs::path> nb_path(const std::string& kod) const;
  // A data source's directory: its entry in the data-source map, else
  // work_dir/external_data/KEY.
  std::string resolve_source(const std::string& key) const;
  // DB_PATH, OUTPUT_DIR, WORK_DIR, and MUTA_FILTER_PATH / FILE_SUFFIX when set.
  NotebookParams base_params() const;

 private:
  // A directory passed inside SOURCE_DIRS cannot hold the "," that separates them.
  void refuse_unjoinable_sources() const;

  Env& env_;
  fs::path work_dir_;
  std::string mode_;
  bool force_all_;
  std::set<std::string> force_adimlar_;
  std::optional<std::string> from_step_;
  std::string muta_filter_path_;
  std::string file_suffix_;
  std::vector<std::string> accepted_checks_;
  DataPaths data_paths_;
  fs::path db_path_;
  fs::path output_dir_;
  std::string ts_;
  std::string season_adi_;
  fs::path season_dir_;
  fs::path meta_dir_;
  fs::path log_dir_;
  std::int64_t sira_ = 0;
  TimePoint pipeline_baslangic_;
  std::shared_future<ordered_json> git_info_;  // asked of git while the season is set up
  std::set<std::string> skip_before_;
};

}  // namespace vordak::motor

VORDAK_PUBLIC_END
