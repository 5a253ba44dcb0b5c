#pragma once

// What the data commands (load, reconcile) add to a step's report for the engine (the
// format is the engine's: motor/step_report.h).

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/json_writer.h"
#include "pipeline/source_load.h"

namespace vordak::cli {

// What one command found.
struct ReportEntry {
  std::optional<bool> changed;        // a load: whether the step's tables changed
  std::optional<ordered_json> load;   // a load's figures, for "veri_kalitesi"
  std::vector<std::string> warnings;  // for "uyarilar"
  std::vector<std::string> accepted;  // SOURCE:CHECK, for "kabul_edilen"
  std::optional<std::string> blocked_check;  // SOURCE:CHECK (several joined by ","), for "engel"
  std::string blocked_message;
};

// Adds the entry to the report at `path`, keeping what earlier commands of the same step
// wrote (a notebook may load two sources); written whole through a temporary file.
// Throws std::runtime_error naming the file when it holds something else than a report.
void add_to_report(const std::filesystem::path& path, const ReportEntry& entry);

// "SOURCE: CHECK [kabul edildi] — DETAIL (eşik T[, engeller])[; reddedilenler: FILE]"
std::string check_line(const std::string& kaynak, const pipeline::CheckResult& check,
                       const std::optional<std::filesystem::path>& rejected_file = std::nullopt);

}  // namespace vordak::cli
