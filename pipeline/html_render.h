#pragma once

// The dashboard renderer: one self-contained HTML page per edition (no external
// scripts, fonts, styles or images: the bank's machines are offline). Three editions
// come from one page: the portfolio (every row), the manager edition (a row filter)
// and the administrator edition (extra_data "page_mode" "admin", which adds the
// backtest summaries, the backtest firm lists and the prediction list). The page shows
// the period, firm count and total risk, where the data came from, the band snapshot and
// band-to-band flows of the edition's rows, the six watch lists, a searchable, sortable
// firm table with CSV downloads, a panel with one firm's whole history, and the
// definitions of what it shows.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
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

// What the pages of one row filter share: the edition's rows, the columns a firm row
// shows, the charts' data and each row's text (made as a page first asks for it). The
// manager's and the administrator's pages are made from one. It reads the scoreboard's
// columns where they stand: the scoreboard must not change while it is used.
class PageRows {
 public:
  PageRows(const Scoreboard& scoreboard, const RowFilter& row_filter, const PageContext& context);
  PageRows(const PageRows&) = delete;  // the columns point into it
  PageRows& operator=(const PageRows&) = delete;

  bool filtered() const { return filtered_; }
  const EditionRows& selection() const { return selection_; }
  const ordered_json& column_names() const { return column_names_; }
  const ordered_json& bands() const { return bands_; }
  // The page text of the edition's row `index` (an index into selection().rows).
  const std::string& row_text(std::size_t index);

 private:
  bool filtered_;
  EditionRows selection_;
  std::optional<Column> drivers_;
  std::vector<const Column*> columns_;
  ordered_json column_names_;
  ordered_json bands_;
  std::vector<std::string> row_texts_;
};

// The page of one edition from the rows that pass `row_filter` (every row when empty),
// with the branch and region names `names`. The page stays within `max_size_mb`
// megabytes (10^6 bytes): when the rows would exceed it, the highest-risk rows are kept
// and the page says how many were left out. `extra_data` (a mapping, or null) is
// embedded; with "page_mode" "admin" the page draws its "backtest_summary",
// "backtest_firma", "ml_predictions" and "model_olcumleri", and when the two lists would
// take more than half of the page's room they are shortened (see fit_admin_lists), the
// page saying how many entries each left out. `context` gives the header its time and
// database name and the firm panel its model drivers. Throws std::runtime_error naming
// `html_path` when the page without any firm row already exceeds the cap.
std::string render_page(const Scoreboard& scoreboard, const std::filesystem::path& html_path,
                        const BranchNames& names, const RowFilter& row_filter = {}, double max_size_mb = 12.5,
                        const ordered_json& extra_data = nullptr, const PageContext& context = {});

// The same page from rows made beforehand; `rows` keeps the row texts for the next page.
std::string render_page(const Scoreboard& scoreboard, const std::filesystem::path& html_path,
                        const BranchNames& names, PageRows& rows, double max_size_mb, const ordered_json& extra_data,
                        const PageContext& context);

// Writes render_page's page at `html_path` (whole or not at all), with the branch and
// region names read from the reference CSV at `ref_csv_path` (see reference_names).
// Throws std::runtime_error naming the file when the reference cannot be read, the page
// cannot be written, or render_page fails.
void render_html(const Scoreboard& scoreboard, const std::filesystem::path& html_path,
                 const std::filesystem::path& ref_csv_path, const RowFilter& row_filter = {},
                 double max_size_mb = 12.5, const ordered_json& extra_data = nullptr,
                 const PageContext& context = {});

// JSON text made safe inside a <script> element: "<", ">", "&", U+2028 and U+2029 become
// \u escapes (they only occur inside strings, where the escapes mean the same).
std::string script_safe_json(std::string_view json);

}  // namespace vordak::pipeline
