#include "pipeline/html_render.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/text.h"
#include "pipeline/admin_lists.h"
#include "pipeline/cleaning.h"
#include "pipeline/dashboard_data.h"
#include "pipeline/html_page.h"

namespace vordak::pipeline {

namespace {

// Room kept for the note about left-out rows, which is written last.
constexpr std::size_t kNoteReserve = 512;
constexpr std::string_view kDataToken = "{{DATA}}";

std::string compact(const ordered_json& value) {
  return script_safe_json(to_json_text(value, JsonWriter::Layout::kCompact));
}

std::string fact(std::string_view label, const std::string& value) {
  return "<div class=\"fact\"><span class=\"label\">" + std::string(label) + "</span><span class=\"value\">" + value +
         "</span></div>";
}

// The embedded data before the rows: everything the page draws besides the firm rows.
// "kesilen" (the entries left out of the admin lists) is there only when some were.
std::string data_head(const Scoreboard& scoreboard, Edition edition, const EditionRows& selection,
                      const ordered_json& column_names, const BranchNames& names, const ordered_json& bands,
                      const ordered_json& extra_data, const ordered_json& left_out) {
  ordered_json meta = ordered_json::object();
  for (const char* member : {"donemler", "son_donem"}) {
    if (scoreboard.meta.is_object() && scoreboard.meta.contains(member)) meta[member] = scoreboard.meta[member];
  }
  return "{\"edition\":\"" + std::string(edition_key(edition)) + "\",\"meta\":" + compact(meta) +
         ",\"portfoy_firma\":" + std::to_string(scoreboard.rows.num_rows()) +
         ",\"firma\":" + std::to_string(selection.rows.size()) +
         ",\"liste_sayilari\":" + compact(watch_list_counts(scoreboard.rows, selection.rows)) +
         ",\"kurallar\":" + compact(page_rules()) + ",\"unvanlar\":" + compact(backtest_titles(scoreboard.rows, extra_data)) +
         ",\"columns\":" + compact(column_names) + ",\"subeler\":" + compact(names.branches) +
         ",\"bolgeler\":" + compact(names.regions) + ",\"band_snapshot\":" + compact(bands["band_snapshot"]) +
         ",\"flow_matrix\":" + compact(bands["flow_matrix"]) + ",\"extra\":" + compact(extra_data) +
         (left_out.empty() ? std::string() : ",\"kesilen\":" + compact(left_out)) + ",\"rows\":[";
}

// The summed risk as the header shows it: beyond 64 bits it is too large, never a wrapped
// number.
std::string total_risk_text(double total) {
  if (!fits_int64(total)) return "çok büyük (&gt; " + grouped(std::numeric_limits<std::int64_t>::max()) + " TL)";
  return grouped(static_cast<std::int64_t>(total)) + " TL";
}

std::string note_div(const std::string& sentence) { return "<div class=\"note\">" + sentence + "</div>"; }

// "Sezon: <b>S_A</b> (skorlar, teşhis); <b>S_B</b> (tahminler)": the seasons whose runs made
// the page's parts, each with the parts it made.
std::string season_parts(const StepSeasons& step_seasons) {
  static const std::map<std::string, std::string> kParts = {
      {"transform", "skorlar"},          {"diag_analysis", "teşhis"},        {"ml_predict", "tahminler"},
      {"backtest_eus", "EUS backtest"}, {"backtest_yis", "YIS backtest"}, {"backtest_ml", "ML backtest"}};
  std::vector<std::pair<std::string, std::vector<std::string>>> seasons;
  for (const auto& [step, season] : step_seasons) {
    auto found = std::find_if(seasons.begin(), seasons.end(), [&](const auto& entry) { return entry.first == season; });
    if (found == seasons.end()) found = seasons.insert(seasons.end(), {season, {}});
    const auto part = kParts.find(step);
    found->second.push_back(part == kParts.end() ? step : part->second);
  }
  std::string text = "Sezon:";
  for (std::size_t i = 0; i < seasons.size(); ++i) {
    text += std::string(i == 0 ? " " : "; ") + "<b>" + html_escape(seasons[i].first) + "</b> (" + html_escape(join(seasons[i].second, ", ")) + ")";
  }
  return text;
}

// The header line under the facts: the data's periods, when and from which database
// the page was made, and the model of its YI probabilities (each part only when known).
std::string provenance(const std::vector<std::string>& periods, const PageContext& context) {
  std::vector<std::string> parts;
  if (!periods.empty()) {
    parts.push_back("Veri dönemi: <b>" + html_escape(periods.front()) +
                    (periods.size() > 1 ? " – " + html_escape(periods.back()) : std::string()) + "</b> (" +
                    std::to_string(periods.size()) + " dönem)");
  }
  if (context.generated_at) parts.push_back("Oluşturulma: <b>" + html_escape(page_time_text(*context.generated_at)) + "</b>");
  if (!context.database.empty()) parts.push_back("Veritabanı: <b>" + html_escape(context.database) + "</b>");
  if (!context.step_seasons.empty()) parts.push_back(season_parts(context.step_seasons));
  if (!context.ml_model.empty()) parts.push_back("ML modeli: <b>" + html_escape(context.ml_model) + "</b>");
  std::string line;
  for (const std::string& part : parts) line += (line.empty() ? "" : " · ") + ("<span>" + part + "</span>");
  return line;
}

// The drivers of each row's firm, as a page-only column (absent where the firm has none).
Column driver_column(const Table& rows, const PageContext& context) {
  Column column("_ml_aciklama", ColumnKind::kJson);
  const Column* muta = rows.find("muta");
  column.reserve(rows.num_rows());
  for (std::size_t row = 0; row < rows.num_rows(); ++row) {
    const std::optional<double> key = muta == nullptr ? std::nullopt : muta->number(row);
    const auto found = key ? context.drivers.find(static_cast<std::int64_t>(*key)) : context.drivers.end();
    if (found == context.drivers.end()) column.push_absent();
    else column.push_json(found->second);
  }
  return column;
}

}  // namespace

PageRows::PageRows(const Scoreboard& scoreboard, const RowFilter& row_filter, const PageContext& context)
    : filtered_(static_cast<bool>(row_filter)), selection_(edition_rows(scoreboard.rows, row_filter)) {
  columns_ = page_columns(scoreboard.rows, period_labels(scoreboard.meta));
  if (!context.drivers.empty()) columns_.push_back(&drivers_.emplace(driver_column(scoreboard.rows, context)));
  column_names_ = ordered_json::array();
  for (const Column* column : columns_) column_names_.push_back(column->name());
  bands_ = edition_bands(scoreboard, selection_.rows, filtered_);
}

const std::string& PageRows::row_text(std::size_t index) {
  while (row_texts_.size() <= index) row_texts_.push_back(row_array(columns_, selection_.rows[row_texts_.size()]));
  return row_texts_[index];
}

std::string render_page(const Scoreboard& scoreboard, const std::filesystem::path& html_path, const BranchNames& names,
                        const RowFilter& row_filter, double max_size_mb, const ordered_json& extra_data,
                        const PageContext& context) {
  PageRows rows(scoreboard, row_filter, context);
  return render_page(scoreboard, html_path, names, rows, max_size_mb, extra_data, context);
}

std::string render_page(const Scoreboard& scoreboard, const std::filesystem::path& html_path, const BranchNames& names,
                        PageRows& page_rows, double max_size_mb, const ordered_json& extra_data,
                        const PageContext& context) {
  const Table& rows = scoreboard.rows;
  const bool filtered = page_rows.filtered();
  const Edition edition = edition_of(extra_data, filtered);
  const std::vector<std::string> periods = period_labels(scoreboard.meta);
  const std::string son_donem =
      scoreboard.meta.is_object() && scoreboard.meta.contains("son_donem") ? text_form(scoreboard.meta["son_donem"]) : "";
  const EditionRows& selection = page_rows.selection();
  const ordered_json& column_names = page_rows.column_names();
  const ordered_json& bands = page_rows.bands();

  const std::string title = "VRD Erken Uyarı Panosu";
  const std::string facts =
      fact("Dönem", son_donem.empty() ? "–" : html_escape(son_donem)) +
      fact("Firma", grouped(static_cast<std::int64_t>(selection.rows.size()))) +
      fact("Toplam risk", total_risk_text(selection.total_risk));
  const std::string tail = "]}";

  const std::size_t data_at = kDashboardTemplate.find(kDataToken);
  if (data_at == std::string_view::npos) throw std::logic_error("dashboard template lacks its data token");
  const std::string_view page_head = kDashboardTemplate.substr(0, data_at);
  const std::string page_tail = fill_template(kDashboardTemplate.substr(data_at + kDataToken.size()),
                                              {{"SCRIPT", kDashboardScript}});
  auto fill_head = [&](std::string_view note) {
    return fill_template(page_head, {{"TITLE", title},
                                     {"EDITION", edition_label(edition)},
                                     {"FACTS", facts},
                                     {"PROVENANCE", provenance(periods, context)},
                                     {"NOTE", note},
                                     {"STYLE", kDashboardStyle}});
  };

  const auto cap = static_cast<std::size_t>(std::max(0.0, max_size_mb) * 1e6);
  const ordered_json nothing_left_out = ordered_json::object();
  std::string head = data_head(scoreboard, edition, selection, column_names, names, bands, extra_data, nothing_left_out);
  const std::size_t page_frame = fill_head("").size() + tail.size() + page_tail.size() + kNoteReserve;
  std::string list_notes;
  if (edition == Edition::kAdmin) {
    ordered_json shortened = extra_data;
    const ordered_json left_out = fit_admin_lists(shortened, rows, cap, page_frame + head.size());
    if (!left_out.empty()) {
      head = data_head(scoreboard, edition, selection, column_names, names, bands, shortened, left_out);
      for (const std::string& sentence : left_out_notes(left_out, shortened)) list_notes += note_div(sentence);
    }
  }
  const std::size_t fixed = page_frame + list_notes.size() + head.size();
  if (fixed > cap) {
    throw std::runtime_error("dashboard " + html_path.string() + " needs " + std::to_string(fixed) +
                             " bytes without any firm row, more than its limit of " + std::to_string(cap));
  }
  std::string row_data;
  std::size_t included = 0;
  for (std::size_t i = 0; i < selection.rows.size(); ++i) {
    const std::string& json = page_rows.row_text(i);
    if (fixed + row_data.size() + json.size() + 1 > cap) break;
    if (included++ > 0) row_data += ',';
    row_data += json;
  }
  std::string note = list_notes;
  if (included < selection.rows.size()) {
    note += note_div("Boyut sınırı nedeniyle en düşük riskli " +
                     grouped(static_cast<std::int64_t>(selection.rows.size() - included)) +
                     " firma tabloda gösterilmiyor (gösterilen: " + grouped(static_cast<std::int64_t>(included)) + ").");
  }
  return fill_head(note) + head + row_data + tail + page_tail;
}

void render_html(const Scoreboard& scoreboard, const std::filesystem::path& html_path,
                 const std::filesystem::path& ref_csv_path, const RowFilter& row_filter, double max_size_mb,
                 const ordered_json& extra_data, const PageContext& context) {
  BranchNames names;
  reference_names(ref_csv_path, names.branches, names.regions);
  write_file_atomic(html_path, render_page(scoreboard, html_path, names, row_filter, max_size_mb, extra_data, context));
}

}  // namespace vordak::pipeline
