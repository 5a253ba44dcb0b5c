#include "pipeline/reference_export.h"

#include "pipeline/cleaning.h"

namespace vordak::pipeline {

namespace {

constexpr const char* kHeader[] = {"sube_kodu", "sube_adi", "bolge_kodu", "bolge_adi"};

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// [+-]?digits([.,]digits)?
bool is_plain_number(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  std::size_t i = 0;
  while (i < text.size() && is_ascii_digit(text[i])) ++i;
  if (i == 0) return false;
  if (i == text.size()) return true;
  if (text[i] != '.' && text[i] != ',') return false;
  const std::size_t fraction = ++i;
  while (i < text.size() && is_ascii_digit(text[i])) ++i;
  return i > fraction && i == text.size();
}

bool starts_formula(std::string_view text) {
  return !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
}

// True when a spreadsheet that splits lines at `delimiter` would find a cell starting at
// `at` of the text and run it as a formula.
bool formula_at(std::string_view text, std::size_t at, char delimiter) {
  const std::string_view cell = text.substr(at, text.find(delimiter, at) - at);
  return starts_formula(cell) && !is_plain_number(cell);
}

}  // namespace

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string csv_text_cell(std::string_view text) {
  std::string safe;
  safe.reserve(text.size() + 1);
  for (std::size_t at = 0; at <= text.size(); ++at) {
    const char before = at == 0 ? '\0' : text[at - 1];
    const bool cell_start = at == 0 ? formula_at(text, 0, ',') || formula_at(text, 0, ';')
                                    : (before == ',' || before == ';') && formula_at(text, at, before);
    if (cell_start) safe += '\'';
    if (at < text.size()) safe += text[at];
  }
  return csv_field(safe);
}

Table read_sube_bolge_ref(Connection& con) {
  return con.query(
      "\n        SELECT sube_kodu, sube_adi, bolge_kodu, bolge_adi\n        FROM ref_sube_bolge\n"
      "        ORDER BY bolge_kodu, sube_kodu\n    ");
}

std::string sube_bolge_ref_csv(const Table& reference) {
  std::string csv = "sube_kodu,sube_adi,bolge_kodu,bolge_adi\r\n";
  for (std::size_t row = 0; row < reference.num_rows(); ++row) {
    for (std::size_t c = 0; c < reference.num_columns(); ++c) {
      if (c != 0) csv += ',';
      const Column& column = reference.column(c);
      if (column.is_null(row)) continue;
      const std::string text = cell_text_form(column, row);
      csv += column.kind() == ColumnKind::kText ? csv_text_cell(text) : csv_field(text);
    }
    csv += "\r\n";
  }
  return csv;
}

std::vector<std::vector<std::string>> sube_bolge_ref_records(const Table& reference) {
  std::vector<std::vector<std::string>> records = {{std::begin(kHeader), std::end(kHeader)}};
  for (std::size_t row = 0; row < reference.num_rows(); ++row) {
    std::vector<std::string>& record = records.emplace_back();
    for (std::size_t c = 0; c < reference.num_columns(); ++c) {
      const Column& column = reference.column(c);
      record.push_back(column.is_null(row) ? std::string() : cell_text_form(column, row));
    }
  }
  return records;
}

std::string sube_bolge_ref_line(std::size_t rows, const std::filesystem::path& path) {
  return "    sube_bolge_ref.csv: " + std::to_string(rows) + " rows -> " + path.string();
}

}  // namespace vordak::pipeline
