#include "cli/npy_columns.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "core/io_error.h"
#include "core/text.h"

namespace vordak::cli {

namespace {

using pipeline::Column;
using pipeline::ColumnKind;
using pipeline::Table;

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

// The header of an int64 or float64 column takes 128 bytes for any row count that fits
// in memory, so the numbers can be written before the count is known.
constexpr long kNumberHeaderSize = 128;
constexpr std::size_t kBlockRows = 1 << 16;

// One column's file. Numbers are written as their chunks come. An integer or boolean
// column is written as int64 until a chunk brings a null or a value too large for an
// integer; the rows written so far are then turned into float64 in place. Texts are
// kept until `finish`, which knows their width.
class NpyColumn {
 public:
  NpyColumn(std::filesystem::path path, ColumnKind kind)
      : path_(std::move(path)),
        text_(kind == ColumnKind::kText || kind == ColumnKind::kJson),
        as_float_(kind == ColumnKind::kFloat) {
    if (text_) return;
    open("wb+");
    if (std::fseek(file_.get(), kNumberHeaderSize, SEEK_SET) != 0) fail();
  }

  void append(const Column& column) {
    const std::size_t rows = column.size();
    if (text_) {
      for (std::size_t row = 0; row < rows; ++row) {
        if (!column.is_null(row)) {
          if (column.kind() == ColumnKind::kText) texts_ += column.text(row);
          else texts_ += column.json(row).dump();
        }
        text_ends_.push_back(texts_.size());
      }
      return;
    }
    if (!as_float_ && !holds_integers_only(column)) widen_to_float();
    if (as_float_) {
      std::vector<double> values(rows);
      for (std::size_t row = 0; row < rows; ++row) values[row] = column.number(row).value_or(std::nan(""));
      write(values.data(), rows * sizeof(double));
    } else {
      std::vector<std::int64_t> values(rows);
      for (std::size_t row = 0; row < rows; ++row) {
        values[row] = column.kind() == ColumnKind::kBoolean ? column.boolean(row) : column.integer(row);
      }
      write(values.data(), rows * sizeof(std::int64_t));
    }
    rows_ += rows;
  }

  void finish() {
    if (text_) {
      write_texts();
    } else {
      const std::string header = npy_header(as_float_ ? "<f8" : "<i8", rows_);
      if (header.size() != kNumberHeaderSize) throw std::logic_error("an .npy header outgrew its room: " + header);
      if (std::fseek(file_.get(), 0, SEEK_SET) != 0) fail();
      write(header.data(), header.size());
    }
    if (std::fclose(file_.release()) != 0) fail();
  }

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };

  static bool holds_integers_only(const Column& column) {
    if (column.kind() != ColumnKind::kInteger && column.kind() != ColumnKind::kBoolean) return false;
    for (std::size_t row = 0; row < column.size(); ++row) {
      if (column.is_null(row)) return false;
    }
    return true;
  }

  void open(const char* mode) {
    file_.reset(std::fopen(path_.c_str(), mode));
    if (!file_) fail();
  }

  [[noreturn]] void fail() const {
    throw IoError::worded("Dosya yazılamadı: " + path_.string(), path_, std::error_code(errno, std::generic_category()));
  }

  void write(const void* data, std::size_t bytes) {
    if (std::fwrite(data, 1, bytes, file_.get()) != bytes) fail();
  }

  // The rows written so far are all integers: each becomes the double it reads as.
  void widen_to_float() {
    as_float_ = true;
    std::vector<std::int64_t> integers(kBlockRows);
    std::vector<double> floats(kBlockRows);
    for (std::size_t first = 0; first < rows_; first += kBlockRows) {
      const std::size_t count = std::min(kBlockRows, rows_ - first);
      const long at = kNumberHeaderSize + static_cast<long>(first * sizeof(std::int64_t));
      if (std::fseek(file_.get(), at, SEEK_SET) != 0) fail();
      if (std::fread(integers.data(), sizeof(std::int64_t), count, file_.get()) != count) fail();
      std::transform(integers.begin(), integers.begin() + static_cast<long>(count), floats.begin(),
                     [](std::int64_t value) { return static_cast<double>(value); });
      if (std::fseek(file_.get(), at, SEEK_SET) != 0) fail();
      write(floats.data(), count * sizeof(double));
    }
    if (std::fseek(file_.get(), kNumberHeaderSize + static_cast<long>(rows_ * sizeof(double)), SEEK_SET) != 0) fail();
  }

  // Decoded twice, for the width and then into place, rather than kept: a column may
  // hold tens of millions of values.
  void write_texts() {
    const auto value = [&](std::size_t row) {
      const std::size_t begin = row == 0 ? 0 : text_ends_[row - 1];
      return decode_utf8(std::string_view(texts_).substr(begin, text_ends_[row] - begin));
    };
    const std::size_t rows = text_ends_.size();
    std::size_t width = 1;
    for (std::size_t row = 0; row < rows; ++row) width = std::max(width, value(row).size());
    open("wb");
    const std::string header = npy_header("<U" + std::to_string(width), rows);
    write(header.data(), header.size());
    std::vector<char32_t> cells;
    for (std::size_t first = 0; first < rows; first += kBlockRows) {
      const std::size_t count = std::min(kBlockRows, rows - first);
      cells.assign(count * width, U'\0');
      for (std::size_t i = 0; i < count; ++i) {
        const std::u32string text = value(first + i);
        std::copy(text.begin(), text.end(), &cells[i * width]);
      }
      write(cells.data(), cells.size() * sizeof(char32_t));
    }
  }

  std::filesystem::path path_;
  std::unique_ptr<std::FILE, Closer> file_;
  bool text_;
  bool as_float_;
  std::size_t rows_ = 0;
  std::string texts_;  // every row's text, one after another ("" for null)
  std::vector<std::size_t> text_ends_;
};

}  // namespace

std::vector<std::string> write_npy_columns(pipeline::Connection& con, const std::string& sql,
                                           const std::filesystem::path& dir) {
  std::vector<std::string> names;
  std::vector<NpyColumn> files;
  bool first = true;
  con.for_each_chunk(sql, [&](const Table& chunk) {
    if (first) {
      first = false;
      for (std::size_t c = 0; c < chunk.num_columns(); ++c) {
        names.push_back(chunk.column(c).name());
        files.emplace_back(dir / (std::to_string(c) + ".npy"), chunk.column(c).kind());
      }
    }
    for (std::size_t c = 0; c < files.size(); ++c) files[c].append(chunk.column(c));
  });
  for (NpyColumn& file : files) file.finish();
  return names;
}

}  // namespace vordak::cli
