#pragma once

// The runs page, outputs/html/vrd_runs.html: a steps x seasons grid of a working
// directory's runs, each cell coloured by the step's outcome, with its duration and
// reason on hover. One self-contained file (no script, no outside resource); every text
// from the records is escaped.

#include <filesystem>
#include <string>
#include <vector>

#include "core/env.h"
#include "motor/history.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

// The page for the newest seasons (newest first) of `season_count` in the working directory.
std::string render_runs_page(const std::vector<SeasonRecord>& newest, std::size_t season_count,
                             const std::string& work_dir);

// Reads the newest 60 seasons of `work_dir` and writes their page atomically to
// work_dir/outputs/html/vrd_runs.html; returns the path. Throws std::runtime_error
// naming the file or directory that cannot be read or written.
fs::path write_runs_page(const fs::path& work_dir, Env& env);
// The same, with the records a run has already read.
fs::path write_runs_page(const fs::path& work_dir, Env& env, RecordReader& records);

}  // namespace vordak::motor

VORDAK_PUBLIC_END
