#pragma once

// The data one dashboard edition embeds: which firm rows it shows and in what order,
// the members a firm row carries on the page, branch and region names from the
// reference CSV, the band charts of the edition's own rows and its watch-list counts.

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

// The members a firm row shows, in page order: identity, current risk, the risk change
// over the last period, the score and the risk of every period, the watch-list flags,
// the combined reason and the prediction. Members the rows lack are left out.
std::vector<const Column*> page_columns(const Table& rows, const std::vector<std::string>& periods);

// One row as a compact JSON array of `columns`, safe inside a <script> element;
// non-finite numbers become null.
std::string row_array(const std::vector<const Column*>& columns, std::size_t row);

// {"band_snapshot": ..., "flow_matrix": ...} of the given rows. An unfiltered edition
// reuses the scoreboard's own members when present; rows without "segment" give
// empty charts.
ordered_json edition_bands(const Scoreboard& scoreboard, const std::vector<std::size_t>& rows, bool filtered);

// Branch and region names by their code (text form), from the records of the reference
// CSV (header "sube_kodu,sube_adi,bolge_kodu,bolge_adi" first); the first name of a code
// wins.
BranchNames reference_names(const std::vector<std::vector<std::string>>& records);
// The same from the reference CSV file. Throws std::runtime_error naming the file when
// it cannot be read.
void reference_names(const std::filesystem::path& ref_csv_path, ordered_json& branches, ordered_json& regions);

// The number of the given rows carrying each watch-list flag, keyed by flag member,
// then "herhangi": the rows carrying at least one.
ordered_json watch_list_counts(const Table& rows, const std::vector<std::size_t>& selected);

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
