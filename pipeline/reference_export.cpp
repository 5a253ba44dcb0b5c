#include "pipeline/reference_export.h"

#include "core/files.h"
#include "core/sink.h"
#include "pipeline/cleaning.h"

namespace vordak::pipeline {

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::filesystem::path export_sube_bolge_ref(Connection& con, const std::filesystem::path& output_dir,
                                            const std::string& file_suffix, Sink& sink) {
  const std::filesystem::path path = output_dir / ("sube_bolge_ref" + file_suffix + ".csv");
  const Table table = con.query(
      "\n        SELECT sube_kodu, sube_adi, bolge_kodu, bolge_adi\n        FROM ref_sube_bolge\n"
      "        ORDER BY bolge_kodu, sube_kodu\n    ");
  std::string csv = "sube_kodu,sube_adi,bolge_kodu,bolge_adi\r\n";
  for (std::size_t row = 0; row < table.num_rows(); ++row) {
    for (std::size_t c = 0; c < table.num_columns(); ++c) {
      if (c != 0) csv += ',';
      const Column& column = table.column(c);
      if (!column.is_null(row)) csv += csv_field(cell_text_form(column, row));
    }
    csv += "\r\n";
  }
  write_file_atomic(path, csv);
  sink.line("    sube_bolge_ref.csv: " + std::to_string(table.num_rows()) + " rows -> " + path.string());
  return path;
}

}  // namespace vordak::pipeline
