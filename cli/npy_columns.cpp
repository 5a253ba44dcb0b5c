#include "cli/npy_columns.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "core/io_error.h"
#include "core/text.h"

namespace vordak::cli {

namespace {

using pipeline::Column;
using pipeline::ColumnKind;

// The magic, the version, the header's length and the header, padded with spaces and
// ended by a line break so that the data start at a multiple of 64 bytes.
std::string npy_header(const std::string& descr, std::size_t rows) {
  std::string dict = "{'descr': '" + descr + "', 'fortran_order': False, 'shape': (" + std::to_string(rows) + ",), }";
  const std::size_t fixed = 10;  // magic (6), version (2), header length (2)
  dict.append((64 - (fixed + dict.size() + 1) % 64) % 64, ' ');
  dict += '\n';
  std::string header = "\x93NUMPY";
  header += '\x01';
  header += '\x00';
  header += static_cast<char>(dict.size() & 0xff);
  header += static_cast<char>(dict.size() >> 8);
  return header + dict;
}

// Values in the machine's byte order, which NumPy's '<' names on the machines served.
template <typename T>
void append_values(std::string& out, const std::vector<T>& values) {
  out.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}

bool has_null(const Column& column) {
  for (std::size_t row = 0; row < column.size(); ++row) {
    if (column.is_null(row)) return true;
  }
  return false;
}

std::string npy_file(const Column& column) {
  const std::size_t rows = column.size();
  const ColumnKind kind = column.kind();
  if ((kind == ColumnKind::kInteger || kind == ColumnKind::kBoolean) && !has_null(column)) {
    std::vector<std::int64_t> values(rows);
    for (std::size_t row = 0; row < rows; ++row) {
      values[row] = kind == ColumnKind::kBoolean ? column.boolean(row) : column.integer(row);
    }
    std::string out = npy_header("<i8", rows);
    append_values(out, values);
    return out;
  }
  if (kind != ColumnKind::kText && kind != ColumnKind::kJson) {
    std::vector<double> values(rows);
    for (std::size_t row = 0; row < rows; ++row) values[row] = column.number(row).value_or(std::nan(""));
    std::string out = npy_header("<f8", rows);
    append_values(out, values);
    return out;
  }
  // Decoded twice, for the width and then into place, rather than kept: a column may
  // hold tens of millions of values.
  const auto decoded = [&](std::size_t row) {
    if (column.is_null(row)) return std::u32string();
    if (kind == ColumnKind::kText) return decode_utf8(column.text(row));
    return decode_utf8(column.json(row).dump());
  };
  std::size_t width = 1;
  for (std::size_t row = 0; row < rows; ++row) width = std::max(width, decoded(row).size());
  std::vector<char32_t> cells(rows * width, U'\0');
  for (std::size_t row = 0; row < rows; ++row) {
    const std::u32string text = decoded(row);
    std::copy(text.begin(), text.end(), &cells[row * width]);
  }
  std::string out = npy_header("<U" + std::to_string(width), rows);
  append_values(out, cells);
  return out;
}

}  // namespace

void write_npy_columns(const pipeline::Table& table, const std::filesystem::path& dir) {
  for (std::size_t c = 0; c < table.num_columns(); ++c) {
    const std::filesystem::path path = dir / (std::to_string(c) + ".npy");
    const std::string bytes = npy_file(table.column(c));
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      throw IoError::worded("Dosya yazılamadı: " + path.string(), path, std::error_code(errno, std::generic_category()));
    }
  }
}

}  // namespace vordak::cli
