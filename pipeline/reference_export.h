#pragma once

// The branch-to-region reference (ref_sube_bolge) as a CSV file beside the JSON outputs.

#include <filesystem>
#include <string>

#include "core/sink.h"
#include "pipeline/duckdb_connection.h"

namespace vordak::pipeline {

// Writes output_dir/"sube_bolge_ref" + file_suffix + ".csv": UTF-8 without byte-order
// mark, comma-separated, RFC 4180 quoting, CR LF after every record; the header
// sube_kodu,sube_adi,bolge_kodu,bolge_adi, then one record per branch ordered by region
// and branch code (null as an empty field). The file appears whole or not at all.
// Prints one line on `sink` and returns the path. Throws DatabaseError when the table is
// missing, std::runtime_error naming the file when it cannot be written.
std::filesystem::path export_sube_bolge_ref(Connection& con, const std::filesystem::path& output_dir,
                                            const std::string& file_suffix, Sink& sink);

// One CSV field: quoted (inner quotes doubled) when it holds a comma, a double quote or
// a line break.
std::string csv_field(std::string_view text);

}  // namespace vordak::pipeline
