#pragma once

// What the dashboard editions share: which edition a render call asks for, which firm
// rows an edition shows and in what order, branch and region names from the reference
// CSV, and the rules the page explains.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_writer.h"
#include "pipeline/html_render.h"
#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

enum class Edition { kPortfolio, kManager, kAdmin };

// The edition a render call asks for: extra_data "page_mode" "admin" gives the
// administrator edition; otherwise a row filter makes the manager edition.
Edition edition_of(const ordered_json& extra_data, bool filtered);
std::string_view edition_key(Edition edition);    // "portfoy", "yonetici", "admin"
std::string_view edition_label(Edition edition);  // the Turkish name shown on the page

// The rows passing `filter` (all when empty), highest "son_risk" first (null as 0, equal
// risks keeping their order), with their summed current risk.
EditionRows edition_rows(const Table& rows, const RowFilter& filter);

// Branch and region names by their code (text form), from the records of the reference
// CSV (header "sube_kodu,sube_adi,bolge_kodu,bolge_adi" first); the first name of a code
// wins.
BranchNames reference_names(const std::vector<std::vector<std::string>>& records);

// The rules the page explains, from the constants that make them: the prediction
// list's probability threshold, the watch lists' length limit and the manager
// edition's selection.
ordered_json page_rules();

// Titles ("unvan") of every firm named in extra_data's "backtest_firma" lists, from all
// rows of the scoreboard (the edition may leave the firm out): {"muta": "unvan", ...}.
ordered_json backtest_titles(const Table& rows, const ordered_json& extra_data);

// A whole number with "." between groups of three digits, as Turkish readers write it.
std::string grouped(std::int64_t value);

}  // namespace vordak::pipeline
