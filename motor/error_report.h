#pragma once

#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/env.h"

namespace vordak::motor {

// Appends a plain-text report of one failure to `output_path`: the local time, `context`
// (for example "step=transform"), the database path, the failure's kind and message, and
// for a NotebookFailure the failing cell and its traceback. Terminal colour codes are
// removed. Earlier reports in the file are kept, so one file holds every failure of a
// season; the file is replaced atomically. Throws std::runtime_error when it cannot be
// read or written.
void save_error_report(const std::exception& failure, const std::filesystem::path& db_path,
                       const std::string& context, const std::filesystem::path& output_path, Env& env);

// `text` without terminal escape sequences (colours, cursor movement).
std::string strip_terminal_codes(std::string_view text);

}  // namespace vordak::motor
