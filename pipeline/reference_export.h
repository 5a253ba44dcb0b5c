#pragma once

// The branch-to-region reference (ref_sube_bolge) as a CSV file beside the JSON outputs.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/duckdb_connection.h"

namespace vordak::pipeline {

// ref_sube_bolge's four columns sube_kodu, sube_adi, bolge_kodu, bolge_adi, one row per
// branch ordered by region and branch code. Throws DatabaseError when the table is missing.
Table read_sube_bolge_ref(Connection& con);

// The CSV text of that table: UTF-8 without byte-order mark, comma-separated, RFC 4180
// quoting, CR LF after every record; the header sube_kodu,sube_adi,bolge_kodu,bolge_adi,
// then one record per row (null as an empty field). A text cell that a spreadsheet would
// run as a formula is written with a leading apostrophe (see csv_text_cell).
std::string sube_bolge_ref_csv(const Table& reference);

// The records of that table as the CSV reader gives them back (header first), before any
// apostrophe is added: every value in its text form, null as the empty text.
std::vector<std::vector<std::string>> sube_bolge_ref_records(const Table& reference);

// The console line of the export: "    sube_bolge_ref.csv: N rows -> PATH".
std::string sube_bolge_ref_line(std::size_t rows, const std::filesystem::path& path);

// One CSV field: quoted (inner quotes doubled) when it holds a comma, a double quote or
// a line break.
std::string csv_field(std::string_view text);

// A text cell as a spreadsheet must not run it: one that begins with "=", "+", "-", "@",
// a tab or a carriage return gets a leading apostrophe, unless it is a plain number such
// as -1250 or +3,5 (the rule of the dashboards' CSV downloads). A spreadsheet set to
// Turkish splits the file at ";" instead of ",", so the text after either inside the cell
// is judged the same way, and gets its apostrophe after the delimiter. Then quoted as
// csv_field.
std::string csv_text_cell(std::string_view text);

}  // namespace vordak::pipeline
