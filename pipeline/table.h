#pragma once

// The Table: ordered, named, equal-length columns, each holding values of one kind with
// a per-cell marker for null and for an absent member. It is what a database query
// returns, what the mart builders work on column by column, and what the JSON writer
// streams out as row records (an absent cell leaves its member out of that row; a null
// cell writes the member with null).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_writer.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::pipeline {

enum class ColumnKind : std::uint8_t { kInteger, kFloat, kText, kBoolean, kJson };

// State of one cell. An absent cell reads as null but is not written as a member.
enum class Cell : std::uint8_t { kValue = 0, kNull = 1, kAbsent = 2 };

class Column {
 public:
  Column(std::string name, ColumnKind kind);

  const std::string& name() const { return name_; }
  void rename(std::string name) { name_ = std::move(name); }
  ColumnKind kind() const { return kind_; }
  std::size_t size() const { return cells_.size(); }
  void reserve(std::size_t rows);

  Cell cell(std::size_t row) const { return cells_[row]; }
  // True for null and absent cells.
  bool is_null(std::size_t row) const { return cells_[row] != Cell::kValue; }

  // Typed reads; the column must be of that kind and the cell must hold a value.
  std::int64_t integer(std::size_t row) const { return integers_[row]; }
  double floating(std::size_t row) const { return floats_[row]; }
  std::string_view text(std::size_t row) const;
  bool boolean(std::size_t row) const { return integers_[row] != 0; }
  const ordered_json& json(std::size_t row) const { return jsons_[row]; }

  // Any kind as a number: integers and booleans widen, texts and JSON values are not
  // numbers (nullopt), nor are null cells.
  std::optional<double> number(std::size_t row) const;
  // The cell as a JSON value (null for null and absent cells).
  ordered_json to_json(std::size_t row) const;

  // Appends; push_integer on a float column stores the value as a double, push_float
  // on an integer column is refused (std::logic_error). A JSON column takes anything.
  void push_integer(std::int64_t value);
  void push_float(double value);
  void push_text(std::string_view value);
  void push_boolean(bool value);
  void push_json(ordered_json value);
  void push_null();
  void push_absent();
  // Appends cell `row` of `other`, which must be of the same kind (or this one kJson).
  void push_from(const Column& other, std::size_t row);

  // Appends, for every entry of `rows`, that cell of `other` as push_from does (an
  // integer cell into a float column is widened), or a null cell where the entry is
  // kNoRow. One pass per kind, for large gathers.
  static constexpr std::uint32_t kNoRow = UINT32_MAX;
  void append_rows(const Column& other, const std::vector<std::uint32_t>& rows);

  // Marks an existing cell null (its stored value is no longer read).
  void set_null(std::size_t row) { cells_[row] = Cell::kNull; }
  void set_float(std::size_t row, double value);

  // Turns an integer column into a float column (values widened); no-op for floats.
  void promote_to_float();

  // A new column holding the given rows of this one, in that order.
  Column take(const std::vector<std::size_t>& rows) const;

  // Writes the cell's value (null for null and absent cells).
  void write_value(JsonWriter& writer, std::size_t row) const;

 private:
  friend class Table;
  // Every cell has its entry in the store of the column's kind, nulls too.
  bool consistent() const;

  std::string name_;
  ColumnKind kind_;
  std::vector<Cell> cells_;
  std::vector<std::int64_t> integers_;  // kInteger and kBoolean
  std::vector<double> floats_;
  std::string text_bytes_;              // kText: all values back to back
  std::vector<std::uint64_t> text_ends_;
  std::vector<ordered_json> jsons_;
};

class Table {
 public:
  Table() = default;

  std::size_t num_rows() const { return columns_.empty() ? 0 : columns_.front().size(); }
  std::size_t num_columns() const { return columns_.size(); }
  bool empty() const { return num_rows() == 0; }

  Column& column(std::size_t index) { return columns_[index]; }
  const Column& column(std::size_t index) const { return columns_[index]; }
  // The named column; throws std::out_of_range naming it when there is none.
  const Column& column(std::string_view name) const;
  Column& column(std::string_view name);
  // The named column or nullptr.
  const Column* find(std::string_view name) const;
  Column* find(std::string_view name);
  std::optional<std::size_t> index_of(std::string_view name) const;
  std::vector<std::string> column_names() const;

  // Appends a column; throws std::invalid_argument when its length differs from the
  // table's or its name is taken.
  void add_column(Column column);
  void insert_column(std::size_t position, Column column);
  // Replaces the column of that name in place, or appends it.
  void set_column(Column column);
  // Removes the named column; false when there was none.
  bool remove_column(std::string_view name);

  // A new table holding the given rows, in that order.
  Table take(const std::vector<std::size_t>& rows) const;

  // One row as an ordered record (absent cells left out).
  ordered_json row_json(std::size_t row) const;
  // All rows as a JSON array of row records, streamed column by column per row.
  void write_rows(JsonWriter& writer) const;
  // Rows [begin, end) as compact JSON row records, as they stand in the array that
  // write_rows writes in the compact layout: appended to `out`, with a comma before each
  // row but row 0. For writers that turn a large table into text in parts.
  void append_compact_rows(std::string& out, std::size_t begin, std::size_t end) const;

 private:
  // Every column is consistent, as long as the table, and named apart from the others.
  bool consistent() const;

  std::vector<Column> columns_;
};

inline std::string_view Column::text(std::size_t row) const {
  const std::uint64_t begin = row == 0 ? 0 : text_ends_[row - 1];
  return std::string_view(text_bytes_.data() + begin, text_ends_[row] - begin);
}

// Inline: the JSON writer of the rows calls it once per cell.
inline void Column::write_value(JsonWriter& writer, std::size_t row) const {
  if (is_null(row)) {
    writer.null();
    return;
  }
  switch (kind_) {
    case ColumnKind::kInteger: writer.integer(integers_[row]); break;
    case ColumnKind::kBoolean: writer.boolean(integers_[row] != 0); break;
    case ColumnKind::kFloat: writer.number(floats_[row]); break;
    case ColumnKind::kText: writer.string(text(row)); break;
    case ColumnKind::kJson: writer.value(jsons_[row]); break;
  }
}

}  // namespace vordak::pipeline

VORDAK_PUBLIC_END
