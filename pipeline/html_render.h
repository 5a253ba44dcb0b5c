#pragma once

// The dashboard renderer: one HTML page per edition, with its firm data in a folder
// beside it (no external scripts, fonts, styles or images: the bank's machines are
// offline, and the page works opened from disk). Three editions come from one page: the
// portfolio (every row), the manager edition (a row filter) and the administrator
// edition (extra_data "page_mode" "admin", which adds the backtest summaries, the
// backtest firm lists and the prediction list); a manager edition may also be one
// region's. The page shows the period, firm count and total risk, where the data came
// from, the band snapshot and band-to-band flows, the six watch lists in full, a
// searchable, sortable firm table with CSV downloads, a panel with one firm's whole
// history, and the definitions of what it shows; a region or branch filter applies to
// all of it.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_writer.h"
#include "core/text.h"
#include "pipeline/page_context.h"
#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

// Decides whether one row of the scoreboard belongs in an edition.
using RowFilter = std::function<bool(const Table& rows, std::size_t row)>;

// Branch and region names by their code (text form), as the page shows them.
struct BranchNames {
  ordered_json branches = ordered_json::object();
  ordered_json regions = ordered_json::object();
};

// The rows of one edition, in page order, with their summed current risk.
struct EditionRows {
  std::vector<std::size_t> rows;
  double total_risk = 0;
};

struct EditionData;  // edition_data.h

// The page of one edition whose firm data `data` holds (see write_edition_data), with
// the branch and region names `names`. The page stays within `max_size_mb` megabytes
// (10^6 bytes); it embeds `extra_data` (a mapping, or null), and with "page_mode"
// "admin" draws its "backtest_summary", "backtest_firma", "ml_predictions" and
// "model_olcumleri", and when the two lists would take more than half of the page's
// room they are shortened (see fit_admin_lists), the page saying how many entries each
// left out. `context` gives the header its time and database name, and a region
// edition its region. Throws std::runtime_error naming `html_path` when the page
// exceeds the cap.
std::string render_page(const Scoreboard& scoreboard, const std::filesystem::path& html_path,
                        const BranchNames& names, const EditionData& data, double max_size_mb,
                        const ordered_json& extra_data, const PageContext& context);

// JSON text made safe inside a <script> element: "<", ">", "&", U+2028 and U+2029 become
// \u escapes (they only occur inside strings, where the escapes mean the same).
std::string script_safe_json(std::string_view json);
// The length of script_safe_json(json), without making it.
std::size_t script_safe_size(std::string_view json);

}  // namespace vordak::pipeline
