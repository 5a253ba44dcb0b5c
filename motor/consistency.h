#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vordak::motor {

// Checks that the registry, the installed notebooks, the header notebook's step table
// and the package version agree. Returns the problems found, each beginning with a
// bracketed tag; empty when everything is consistent. Reads only; changes nothing.
std::vector<std::string> tutarlilik_kontrol(const std::string& pipeline_ipynb = "vrd_pipeline.ipynb");

// The header text's version: the digits after the first "v" followed by three runs of
// digits joined by "." (digits in the Unicode sense); absent when there is none.
std::optional<std::string> header_version(const std::string& header_text);

// The keys written as `key` followed, after optional white space, by "|", left to right.
std::set<std::string> header_table_keys(const std::string& header_text);

}  // namespace vordak::motor
