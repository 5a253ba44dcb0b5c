#pragma once

// What the engine requires of a step's notebook before it runs it: a notebook document
// it can read, and a code cell tagged "parameters", after which the run's parameters are
// placed. Without that cell the notebook's own assignments would override the run's
// (a test run writing to the production database, say).

#include <filesystem>

#include "core/env.h"

namespace vordak::motor {

// Throws BadNotebook (bad_notebook.h) whose message names the file and what is wrong
// with it, or IoError when the file cannot be read.
void check_notebook(const std::filesystem::path& path, Env& env);

}  // namespace vordak::motor
