#include "pipeline/html_render.h"

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/number_text.h"
#include "pipeline/cleaning.h"
#include "pipeline/enrichment.h"
#include "pipeline/html_page.h"
#include "pipeline/ranking.h"

namespace vordak::pipeline {

namespace {

constexpr std::size_t kWatchListShown = 50;
// Room kept for the note about left-out rows, which is written last.
constexpr std::size_t kNoteReserve = 512;

std::string compact(const ordered_json& value) { return to_json_text(value, JsonWriter::Layout::kCompact); }

// The members a firm row shows on the page: identity, current risk, the last six
// scores, the current exposure, the watch-list flags and the reasons.
std::vector<const Column*> page_columns(const Table& rows, const std::vector<std::string>& periods) {
  std::vector<std::string> names = {"muta", "unvan", "segment", "sube_kodu", "bolge_kodu", "son_risk"};
  const std::size_t first = periods.size() > 6 ? periods.size() - 6 : 0;
  for (std::size_t p = first; p < periods.size(); ++p) names.push_back("vrd" + periods[p]);
  if (!periods.empty()) names.push_back("r" + periods.back());
  for (const auto& [list, flag] : TRENDING_FLAGS) names.emplace_back(flag);
  names.push_back("_vrd_neden");
  names.push_back("_ml_yi_prob");
  std::vector<const Column*> columns;
  for (const std::string& name : names) {
    if (const Column* column = rows.find(name)) columns.push_back(column);
  }
  return columns;
}

std::string row_array(const std::vector<const Column*>& columns, std::size_t row) {
  std::string json;
  JsonWriter writer(json, JsonWriter::Layout::kCompact);
  writer.begin_array();
  for (const Column* column : columns) {
    if (column->kind() == ColumnKind::kFloat && !column->is_null(row) && !std::isfinite(column->floating(row))) {
      writer.null();
    } else {
      column->write_value(writer, row);
    }
  }
  writer.end_array();
  return script_safe_json(json);
}

std::string cell_text(const Column* column, std::size_t row) {
  if (column == nullptr || column->is_null(row)) return "";
  return cell_text_form(*column, row);
}

std::string grouped(std::int64_t value) {
  const std::string digits = int_text(value);
  std::string out;
  const std::size_t first = value < 0 ? 1 : 0;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > first && (digits.size() - i) % 3 == 0) out += '.';
    out += digits[i];
  }
  return out;
}

// The six watch lists of the edition's rows, as HTML sections.
std::string watch_lists(const Table& rows, const std::vector<std::size_t>& selected) {
  const Column* muta = rows.find("muta");
  const Column* unvan = rows.find("unvan");
  const Column* son_risk = rows.find("son_risk");
  const Column* reasons = rows.find("_vrd_neden");
  std::string html = "<div class=\"lists\">";
  for (const auto& [list, flag] : TRENDING_FLAGS) {
    const Column* flags = rows.find(flag);
    std::vector<std::size_t> members;
    if (flags != nullptr) {
      for (std::size_t row : selected) {
        if (flags->number(row).value_or(0) != 0) members.push_back(row);
      }
    }
    html += "<section><h2>" + html_escape(list) + " <span class=\"count\">(" + std::to_string(members.size()) +
            ")</span></h2><table><tr><th>muta</th><th>unvan</th><th>son_risk</th><th>neden</th></tr>";
    for (std::size_t k = 0; k < members.size() && k < kWatchListShown; ++k) {
      const std::size_t row = members[k];
      html += "<tr><td>" + html_escape(cell_text(muta, row)) + "</td><td>" + html_escape(cell_text(unvan, row)) +
              "</td><td class=\"num\">" + html_escape(cell_text(son_risk, row)) + "</td><td>" +
              html_escape(cell_text(reasons, row)) + "</td></tr>";
    }
    html += "</table></section>";
  }
  return html + "</div>";
}

// Branch and region names by code, from the reference CSV.
void reference_names(const std::filesystem::path& ref_csv_path, ordered_json& branches, ordered_json& regions) {
  const std::vector<std::vector<std::string>> records = parse_csv(read_file(ref_csv_path));
  for (std::size_t i = 1; i < records.size(); ++i) {
    const std::vector<std::string>& record = records[i];
    if (record.size() < 4) continue;
    if (!record[0].empty() && !branches.contains(record[0])) branches[record[0]] = record[1];
    if (!record[2].empty() && !regions.contains(record[2])) regions[record[2]] = record[3];
  }
}

}  // namespace

std::string script_safe_json(std::string_view json) {
  std::string out;
  out.reserve(json.size() + json.size() / 16);
  for (std::size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (c == '<') out += "\\u003c";
    else if (c == '>') out += "\\u003e";
    else if (c == '&') out += "\\u0026";
    else if (c == '\xE2' && i + 2 < json.size() && json[i + 1] == '\x80' && (json[i + 2] == '\xA8' || json[i + 2] == '\xA9')) {
      out += json[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::vector<std::vector<std::string>> parse_csv(std::string_view text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false, field_started = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
      field_started = true;
    } else if (c == ',') {
      record.push_back(std::move(field));
      field.clear();
      field_started = true;
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      record.push_back(std::move(field));
      records.push_back(std::move(record));
      field.clear();
      record.clear();
      field_started = false;
    } else {
      field += c;
      field_started = true;
    }
  }
  if (field_started || !record.empty()) {
    record.push_back(std::move(field));
    records.push_back(std::move(record));
  }
  return records;
}

void render_html(const Scoreboard& scoreboard, const std::filesystem::path& html_path,
                 const std::filesystem::path& ref_csv_path, const RowFilter& row_filter, double max_size_mb,
                 const ordered_json& extra_data) {
  const Table& rows = scoreboard.rows;
  const std::vector<std::string> periods = period_labels(scoreboard.meta);
  const std::string son_donem =
      scoreboard.meta.is_object() && scoreboard.meta.contains("son_donem") ? text_form(scoreboard.meta["son_donem"]) : "";

  // The edition's rows, highest current risk first.
  std::vector<std::size_t> passing;
  for (std::size_t row = 0; row < rows.num_rows(); ++row) {
    if (!row_filter || row_filter(rows, row)) passing.push_back(row);
  }
  const Column* son_risk = rows.find("son_risk");
  std::vector<std::optional<double>> keys;
  keys.reserve(passing.size());
  double total_risk = 0;
  for (std::size_t row : passing) {
    keys.push_back(son_risk == nullptr ? std::nullopt : risk_key(*son_risk, row));
    total_risk += keys.back().value_or(0.0);
  }
  std::vector<std::size_t> selected;
  selected.reserve(passing.size());
  for (std::size_t k : order_by_risk_desc(keys, NullRisk::kAsZero)) selected.push_back(passing[k]);

  ordered_json branches = ordered_json::object(), regions = ordered_json::object();
  reference_names(ref_csv_path, branches, regions);
  const std::vector<const Column*> columns = page_columns(rows, periods);
  ordered_json column_names = ordered_json::array();
  for (const Column* column : columns) column_names.push_back(column->name());
  const std::string page_mode =
      extra_data.is_object() && extra_data.contains("page_mode") ? text_form(extra_data["page_mode"]) : "";

  const std::string title = "VRD Erken Uyarı Panosu" + (page_mode.empty() ? "" : " (" + page_mode + ")");
  const std::string head = "<!DOCTYPE html>\n<html lang=\"tr\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
                           html_escape(title) + "</title>\n<style>" + std::string(kDashboardStyle) +
                           "</style>\n</head>\n<body>\n";
  const std::string facts = "<header><h1>" + html_escape(title) + "</h1><div class=\"facts\"><span>Dönem: " +
                            html_escape(son_donem) + "</span><span>Firma: " + grouped(static_cast<std::int64_t>(passing.size())) +
                            "</span><span>Toplam risk: " + grouped(static_cast<std::int64_t>(std::trunc(total_risk))) +
                            " TL</span></div></header>\n";
  const std::string body = "<main>\n" + watch_lists(rows, selected) +
                           "\n<section><h2>Firmalar <span class=\"count\" id=\"firm-shown\"></span></h2>"
                           "<input id=\"firm-search\" type=\"search\" placeholder=\"Ara: muta, unvan, segment\">"
                           "<table><thead id=\"firm-head\"></thead><tbody id=\"firm-body\"></tbody></table></section>\n"
                           "<div id=\"extra\"></div>\n</main>\n";
  const std::string data_head = "<script>window.VRD={\"meta\":" + script_safe_json(compact(scoreboard.meta)) +
                                ",\"columns\":" + script_safe_json(compact(column_names)) +
                                ",\"subeler\":" + script_safe_json(compact(branches)) +
                                ",\"bolgeler\":" + script_safe_json(compact(regions)) +
                                ",\"extra\":" + script_safe_json(compact(extra_data)) + ",\"rows\":[";
  const std::string tail = "]};</script>\n<script>" + std::string(kDashboardScript) + "</script>\n</body>\n</html>\n";

  const auto cap = static_cast<std::size_t>(std::max(0.0, max_size_mb) * 1e6);
  const std::size_t fixed = head.size() + facts.size() + body.size() + data_head.size() + tail.size() + kNoteReserve;
  if (fixed > cap) {
    throw std::runtime_error("dashboard " + html_path.string() + " needs " + std::to_string(fixed) +
                             " bytes without any firm row, more than its limit of " + std::to_string(cap));
  }
  std::string row_data;
  std::size_t included = 0;
  for (std::size_t row : selected) {
    std::string json = row_array(columns, row);
    if (fixed + row_data.size() + json.size() + 1 > cap) break;
    if (included++ > 0) row_data += ',';
    row_data += json;
  }
  std::string note;
  if (included < selected.size()) {
    note = "<div class=\"note\">Boyut sınırı nedeniyle en düşük riskli " +
           grouped(static_cast<std::int64_t>(selected.size() - included)) +
           " firma tabloda gösterilmiyor (gösterilen: " + grouped(static_cast<std::int64_t>(included)) + ").</div>\n";
  }
  write_file_atomic(html_path, head + facts + note + body + data_head + row_data + tail);
}

}  // namespace vordak::pipeline
