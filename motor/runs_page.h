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

namespace vordak::motor {

// The page for these seasons (newest first), at most `max_seasons` of them.
std::string render_runs_page(const std::vector<SeasonRecord>& seasons, const std::string& work_dir,
                             std::size_t max_seasons = 60);

// Reads the history of `work_dir` and writes its page atomically to
// work_dir/outputs/html/vrd_runs.html; returns the path. Throws std::runtime_error
// naming the file or directory that cannot be read or written.
fs::path write_runs_page(const fs::path& work_dir, Env& env);

}  // namespace vordak::motor
