#pragma once

// What a step's notebook reports of its run beyond success or failure, through the file
// the engine names in its REPORT_PATH parameter (the notebooks write it with
// vordak.step_report). One JSON object; its member "kaynak_degisti" is false when every
// load of the step found its extracts as loaded last time and kept its tables.

#include <filesystem>
#include <optional>
#include <string>

#include "core/env.h"

namespace vordak::motor {

namespace fs = std::filesystem;

struct StepReport {
  bool kaynak_degisti = true;
};

// The report file of a step in a season's logs directory.
fs::path step_report_path(const fs::path& log_dir, const std::string& kod);

// The report at `path`; absent when the notebook wrote none. Throws std::runtime_error
// naming the file when it is not a regular file, is larger than a report can be, or is
// not a JSON object whose "kaynak_degisti" is a boolean.
std::optional<StepReport> read_step_report(const fs::path& path, Env& env);

}  // namespace vordak::motor
