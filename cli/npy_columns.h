#pragma once

// A query result as NumPy arrays, one .npy file per column, for the notebooks that feed a
// whole table to a model: numpy.load reads them in one call each, where CSV costs a Python
// object per cell.

#include <filesystem>

#include "pipeline/table.h"

namespace vordak::cli {

// Writes column i of `table` to DIR/<i>.npy (format 1.0, little-endian, one dimension):
// an integer or boolean column without nulls as int64, an integer column with nulls and
// a float column as float64 with NaN for null, a text or JSON column as fixed-width
// Unicode ('<U<n>', n its longest value in characters, at least 1) with "" for null.
// Throws IoError naming the file when one cannot be written.
void write_npy_columns(const pipeline::Table& table, const std::filesystem::path& dir);

}  // namespace vordak::cli
