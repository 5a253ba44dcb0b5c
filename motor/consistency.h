#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>
#include "core/env.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

// Checks that the registry, the installed notebooks, the header notebook's step table
// and the package version agree, and that each installed notebook can be run (it
// parses and has a "parameters" cell). Returns the problems found, each beginning with
// a bracketed tag; empty when everything is consistent. Reads only, through `env`;
// changes nothing. `notebooks_dir` is where the installed notebooks are; absent:
// get_notebooks_dir().
std::vector<std::string> tutarlilik_kontrol(Env& env, const std::string& pipeline_ipynb = "vrd_pipeline.ipynb",
                                            const std::optional<std::filesystem::path>& notebooks_dir = std::nullopt);

// The header text's version: the digits after the first "v" followed by three runs of
// digits joined by "." (digits in the Unicode sense); absent when there is none.
std::optional<std::string> header_version(const std::string& header_text);

// The keys written as `key` followed, after optional white space, by "|", left to right.
std::set<std::string> header_table_keys(const std::string& header_text);

}  // namespace vordak::motor

VORDAK_PUBLIC_END
