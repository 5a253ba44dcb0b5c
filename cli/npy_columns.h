#pragma once

// A query result as NumPy arrays, one .npy file per column, for the notebooks that feed a
// whole table to a model: numpy.load reads them in one call each, where CSV costs a Python
// object per cell.

#include <filesystem>
#include <string>
#include <vector>

#include "pipeline/duckdb_connection.h"

namespace vordak::cli {

// Runs `sql` and writes column i of its result to DIR/<i>.npy (format 1.0, little-endian,
// one dimension): an integer or boolean column without nulls as int64, an integer column
// with nulls and a float column as float64 with NaN for null, a text or JSON column as
// fixed-width Unicode ('<U<n>', n its longest value in characters, at least 1) with ""
// for null. The numbers go to their files as the rows stream in; only the texts are held
// to the end, for their width. Returns the result's column names (none for a statement
// without a result, which writes no file). Throws IoError naming a file that cannot be
// written.
std::vector<std::string> write_npy_columns(pipeline::Connection& con, const std::string& sql,
                                           const std::filesystem::path& dir);

}  // namespace vordak::cli
