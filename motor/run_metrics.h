#pragma once

// A run's figures for monitoring, in the Prometheus text format that node_exporter's
// textfile collector reads: written atomically after every run, so that the collector
// never reads half a file. Every sample carries the working directory as a label, so that
// several working directories can write beside each other.

#include <filesystem>
#include <optional>
#include <string>

#include "core/env.h"
#include "motor/run_record.h"
#include "motor/run_report.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

struct RunFigures {
  std::string work_dir;
  RunState state = RunState::kDone;
  double duration_seconds = 0;
  double ended_at = 0;  // seconds since the epoch
  // The end of the newest run that succeeded; absent when none did (written as 0).
  std::optional<double> last_success_at;
};

// The metrics text: the run's state, duration and end, the last success, the steps by
// status, each executed step's duration, and the failed and warning data checks.
std::string metrics_text(const RunFigures& run, const RunReport& report);

// The value of vordak_run_last_success_timestamp_seconds in an earlier metrics file;
// absent when there is none or it holds none.
std::optional<double> previous_last_success(const std::filesystem::path& metrics_file, Env& env);

}  // namespace vordak::motor

VORDAK_PUBLIC_END
