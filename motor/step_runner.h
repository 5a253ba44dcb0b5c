#pragma once

// Processing of one pipeline step: look it up, find its notebook, decide run or skip,
// execute the notebook, fingerprint its sources, write its meta record, and record the
// outcome in the run report.

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/env.h"
#include "core/sink.h"
#include "motor/change_detection.h"
#include "motor/executor.h"
#include "motor/run_report.h"
#include "motor/season.h"
#include "motor/step_record_writer.h"
#include "motor/step_report.h"
#include "motor/step_table.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

// A post-run verification called with the working directory when a step completed.
using KontrolFn = std::function<void(const fs::path& work_dir)>;

class StepRunner {
 public:
  StepRunner(const Season& season, ChangeDetector& changes, StepRecordWriter& records, RunReport& report,
             NotebookExecutor& executor, Env& env, Sink& out)
      : season_(season), changes_(changes), records_(records), report_(report), executor_(executor), env_(env), out_(out) {}

  // Process a pipeline step: decide run/skip, execute, track. True when the step
  // completed (ran or was skipped); false when it failed, is not registered or has no
  // notebook. A failure of the execution is reported and recorded, never thrown; a
  // failure before it (change detection, say) is thrown to the caller.
  bool adim_isle(const std::string& kod, const std::optional<NotebookParams>& ek_params = std::nullopt,
                 const KontrolFn& kontrol_fn = nullptr,
                 const std::optional<std::vector<std::string>>& source_dirs = std::nullopt) {
    return adim_isle(OfferedStep{kod, ek_params, source_dirs, std::nullopt}, kontrol_fn);
  }
  bool adim_isle(const OfferedStep& step, const KontrolFn& kontrol_fn = nullptr);

  // The steps that completed successfully and changed their outputs in this run.
  const std::set<std::string>& calisan_adimlar() const { return progress_.calisan_adimlar(); }
  const RunProgress& progress() const { return progress_; }

 private:
  const Season& season_;
  ChangeDetector& changes_;
  StepRecordWriter& records_;
  RunReport& report_;
  NotebookExecutor& executor_;
  Env& env_;
  Sink& out_;
  RunProgress progress_;

  // The parameters the runner gives the step itself (its report, contracts, accepted
  // checks, ...), where the caller has not set them.
  void add_own_params(NotebookParams& params, const StepDefinition& definition);
  // For each step `definition` reads that ever ran, the season that made its tables, as
  // a JSON object.
  std::string step_seasons(const StepDefinition& definition);
  // The notebook's report; an empty one (the step changed its outputs, nothing found) when
  // it wrote none or one that cannot be read, which is warned of.
  StepReport read_report(const fs::path& report_path) const;
  // The operator's acceptances of failed data checks, each with who, where and when.
  ordered_json acceptance_records(const std::vector<std::string>& checks) const;
};

}  // namespace vordak::motor

VORDAK_PUBLIC_END
