#pragma once

// Pipeline orchestration engine. One Motor is one pipeline run (one season). It is made
// of four parts, along the way data flows:
//   Season          the run's settings, paths and data sources (season.h)
//   ChangeDetector  the must-run decision from earlier meta records (change_detection.h)
//   StepRecordWriter  the meta record of a completed step (step_record_writer.h)
//   StepRunner      processing of one step (step_runner.h)
//   RunReport       summary rows, manifest entries, summary table, manifest (run_report.h)
// Motor wires them together, offers the steps of a run and keeps the engine's operation
// names, each delegating to the part that does the work.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/env.h"
#include "core/sink.h"
#include "motor/change_detection.h"
#include "motor/executor.h"
#include "motor/notebook_params.h"
#include "motor/run_report.h"
#include "motor/season.h"
#include "motor/step_runner.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

// The arguments of a run: which groups of steps it leaves out, and what it hands them.
struct RunArgs {
  bool skip_ingest = false;
  bool skip_backtest = false;
  bool skip_ml = false;
  std::optional<std::vector<std::string>> referans_tarih_list;
  std::int64_t test_muta_count = 0;
  // Offer every step of the table, each after the steps it reads, instead of the steps of
  // the default run's groups; the groups above are still left out when asked.
  bool all_steps = false;
};

// What a dry run says of one step.
enum class PlanVerdict { kRuns, kSkips, kNotebookMissing };
struct PlanRow {
  std::string kod;
  PlanVerdict karar;
  std::string sebep;
};

class Motor {
 public:
  // Builds the season (see Season: it may ask the operator and throws StopRequest on a
  // refusal) and the parts of the run. Operator lines go to `out`.
  Motor(MotorArgs args, Sink& out);
  Motor(const Motor&) = delete;
  Motor& operator=(const Motor&) = delete;

  const Season& season() const { return season_; }
  const RunReport& report() const { return report_; }
  const std::set<std::string>& calisan_adimlar() const { return runner_.calisan_adimlar(); }

  // The engine's operations.
  std::optional<fs::path> nb_path(const std::string& kod) const { return season_.nb_path(kod); }
  std::optional<ordered_json> find_prev_meta(const std::string& kod) { return changes_.find_prev_meta(kod); }
  Decision meta_kontrol(const std::string& kod) { return changes_.meta_kontrol(kod); }
  // The earlier seasons' records this engine has read.
  RecordReader& records() { return changes_.records(); }
  void meta_yaz(const std::string& kod, const fs::path& nb_path, double sure,
                const std::optional<ordered_json>& source_hashes = std::nullopt,
                const std::optional<ordered_json>& ekstra = std::nullopt) {
    records_.write(kod, nb_path, sure, source_hashes, ekstra);
  }
  bool adim_isle(const std::string& kod, const std::optional<NotebookParams>& ek_params = std::nullopt,
                 const KontrolFn& kontrol_fn = nullptr,
                 const std::optional<std::vector<std::string>>& source_dirs = std::nullopt) {
    return runner_.adim_isle(kod, ek_params, kontrol_fn, source_dirs);
  }
  void temizle_error_reports() const { report_.temizle_error_reports(); }
  void ozet_yazdir() const { report_.ozet_yazdir(); }
  fs::path manifest_yaz() const { return report_.manifest_yaz(); }

  // Run all steps respecting dependencies: the banner, every offered step through
  // adim_isle, then the housekeeping, the summary and the manifest, whose path it returns.
  fs::path run_all(const RunArgs& run = {});
  // The steps run_all offers, in its order, with their parameters and source
  // directories: the run's own steps, each after the steps it needs that never ran.
  // After them the run offers again, once, each step whose read steps changed their
  // outputs after it was decided (the marts, after the predictions and backtests).
  std::vector<OfferedStep> offered_steps(const RunArgs& run);
  // Dry run: for every step run_all would offer, what adim_isle would decide; nothing is
  // executed or written.
  std::vector<PlanRow> plan(const RunArgs& run = {});
  // The run banner: version, season, mode, test database, repository, forcing.
  void print_banner() const;

 private:
  Env& env_;
  Sink& out_;
  std::shared_ptr<NotebookExecutor> executor_;
  Season season_;
  ChangeDetector changes_;
  StepRecordWriter records_;
  RunReport report_;
  StepRunner runner_;
};

// Processes the run's steps in order, then, once each, every decided step whose read
// steps changed their outputs after it was decided. Shared by the run and its dry run.
void drive_run(const std::vector<OfferedStep>& steps, const RunProgress& progress,
               const std::function<void(const OfferedStep&)>& process);

// The operator's word for a dry run's verdict: "ÇALIŞIR", "ATLANIR", "NB YOK".
std::string_view plan_verdict_text(PlanVerdict verdict);

}  // namespace vordak::motor

VORDAK_PUBLIC_END
