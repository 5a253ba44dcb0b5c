#include "pipeline/table.h"

#include <cassert>
#include <set>
#include <stdexcept>
#include <utility>

namespace vordak::pipeline {

Column::Column(std::string name, ColumnKind kind) : name_(std::move(name)), kind_(kind) {}

void Column::reserve(std::size_t rows) {
  cells_.reserve(rows);
  switch (kind_) {
    case ColumnKind::kInteger:
    case ColumnKind::kBoolean: integers_.reserve(rows); break;
    case ColumnKind::kFloat: floats_.reserve(rows); break;
    case ColumnKind::kText: text_ends_.reserve(rows); break;
    case ColumnKind::kJson: jsons_.reserve(rows); break;
  }
}

std::optional<double> Column::number(std::size_t row) const {
  if (is_null(row)) return std::nullopt;
  switch (kind_) {
    case ColumnKind::kInteger:
    case ColumnKind::kBoolean: return static_cast<double>(integers_[row]);
    case ColumnKind::kFloat: return floats_[row];
    case ColumnKind::kJson:
      if (jsons_[row].is_number()) return jsons_[row].get<double>();
      if (jsons_[row].is_boolean()) return jsons_[row].get<bool>() ? 1.0 : 0.0;
      return std::nullopt;
    case ColumnKind::kText: return std::nullopt;
  }
  return std::nullopt;
}

ordered_json Column::to_json(std::size_t row) const {
  if (is_null(row)) return nullptr;
  switch (kind_) {
    case ColumnKind::kInteger: return integers_[row];
    case ColumnKind::kBoolean: return integers_[row] != 0;
    case ColumnKind::kFloat: return floats_[row];
    case ColumnKind::kText: return std::string(text(row));
    case ColumnKind::kJson: return jsons_[row];
  }
  return nullptr;
}

void Column::push_integer(std::int64_t value) {
  switch (kind_) {
    case ColumnKind::kInteger:
    case ColumnKind::kBoolean: integers_.push_back(value); break;
    case ColumnKind::kFloat: floats_.push_back(static_cast<double>(value)); break;
    case ColumnKind::kJson: jsons_.emplace_back(value); break;
    case ColumnKind::kText: throw std::logic_error("integer pushed to text column " + name_);
  }
  cells_.push_back(Cell::kValue);
}

void Column::push_float(double value) {
  if (kind_ == ColumnKind::kFloat) {
    floats_.push_back(value);
  } else if (kind_ == ColumnKind::kJson) {
    jsons_.emplace_back(value);
  } else {
    throw std::logic_error("float pushed to non-float column " + name_);
  }
  cells_.push_back(Cell::kValue);
}

void Column::push_text(std::string_view value) {
  if (kind_ == ColumnKind::kText) {
    text_bytes_.append(value);
    text_ends_.push_back(text_bytes_.size());
  } else if (kind_ == ColumnKind::kJson) {
    jsons_.emplace_back(std::string(value));
  } else {
    throw std::logic_error("text pushed to non-text column " + name_);
  }
  cells_.push_back(Cell::kValue);
}

void Column::push_boolean(bool value) {
  if (kind_ == ColumnKind::kBoolean) {
    integers_.push_back(value ? 1 : 0);
  } else if (kind_ == ColumnKind::kJson) {
    jsons_.emplace_back(value);
  } else {
    throw std::logic_error("boolean pushed to non-boolean column " + name_);
  }
  cells_.push_back(Cell::kValue);
}

void Column::push_json(ordered_json value) {
  if (kind_ != ColumnKind::kJson) throw std::logic_error("JSON value pushed to typed column " + name_);
  jsons_.push_back(std::move(value));
  cells_.push_back(Cell::kValue);
}

void Column::push_null() {
  switch (kind_) {
    case ColumnKind::kInteger:
    case ColumnKind::kBoolean: integers_.push_back(0); break;
    case ColumnKind::kFloat: floats_.push_back(0.0); break;
    case ColumnKind::kText: text_ends_.push_back(text_bytes_.size()); break;
    case ColumnKind::kJson: jsons_.emplace_back(nullptr); break;
  }
  cells_.push_back(Cell::kNull);
}

void Column::push_absent() {
  push_null();
  cells_.back() = Cell::kAbsent;
}

void Column::push_from(const Column& other, std::size_t row) {
  if (other.cell(row) != Cell::kValue) {
    push_null();
    cells_.back() = other.cell(row);
    return;
  }
  if (kind_ == ColumnKind::kJson) {
    push_json(other.to_json(row));
    return;
  }
  if (other.kind_ != kind_) throw std::logic_error("column kinds differ when copying into " + name_);
  switch (kind_) {
    case ColumnKind::kInteger: push_integer(other.integers_[row]); break;
    case ColumnKind::kBoolean: push_boolean(other.integers_[row] != 0); break;
    case ColumnKind::kFloat: push_float(other.floats_[row]); break;
    case ColumnKind::kText: push_text(other.text(row)); break;
    case ColumnKind::kJson: break;
  }
}

void Column::append_rows(const Column& other, const std::vector<std::uint32_t>& rows) {
  const bool widen = kind_ == ColumnKind::kFloat && other.kind_ == ColumnKind::kInteger;
  if (other.kind_ != kind_ && !widen) {
    for (std::uint32_t row : rows) {
      if (row == kNoRow) push_null();
      else push_from(other, row);
    }
    return;
  }
  for (std::uint32_t row : rows) {
    const Cell cell = row == kNoRow ? Cell::kNull : other.cells_[row];
    cells_.push_back(cell);
    const bool value = cell == Cell::kValue;
    switch (kind_) {
      case ColumnKind::kInteger:
      case ColumnKind::kBoolean: integers_.push_back(value ? other.integers_[row] : 0); break;
      case ColumnKind::kFloat:
        if (!value) floats_.push_back(0.0);
        else floats_.push_back(widen ? static_cast<double>(other.integers_[row]) : other.floats_[row]);
        break;
      case ColumnKind::kText:
        if (value) text_bytes_.append(other.text(row));
        text_ends_.push_back(text_bytes_.size());
        break;
      case ColumnKind::kJson: jsons_.push_back(value ? other.jsons_[row] : ordered_json(nullptr)); break;
    }
  }
}

void Column::set_float(std::size_t row, double value) {
  floats_[row] = value;
  cells_[row] = Cell::kValue;
}

void Column::promote_to_float() {
  if (kind_ == ColumnKind::kFloat) return;
  if (kind_ != ColumnKind::kInteger) throw std::logic_error("only integer columns widen to float: " + name_);
  floats_.assign(integers_.begin(), integers_.end());
  integers_.clear();
  integers_.shrink_to_fit();
  kind_ = ColumnKind::kFloat;
}

Column Column::take(const std::vector<std::size_t>& rows) const {
  Column result(name_, kind_);
  result.reserve(rows.size());
  for (std::size_t row : rows) result.push_from(*this, row);
  return result;
}

const Column& Table::column(std::string_view name) const {
  const Column* found = find(name);
  if (found == nullptr) throw std::out_of_range("no column named " + std::string(name));
  return *found;
}

Column& Table::column(std::string_view name) {
  Column* found = find(name);
  if (found == nullptr) throw std::out_of_range("no column named " + std::string(name));
  return *found;
}

const Column* Table::find(std::string_view name) const {
  for (const Column& column : columns_) {
    if (column.name() == name) return &column;
  }
  return nullptr;
}

Column* Table::find(std::string_view name) {
  for (Column& column : columns_) {
    if (column.name() == name) return &column;
  }
  return nullptr;
}

std::optional<std::size_t> Table::index_of(std::string_view name) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].name() == name) return i;
  }
  return std::nullopt;
}

std::vector<std::string> Table::column_names() const {
  std::vector<std::string> names;
  names.reserve(columns_.size());
  for (const Column& column : columns_) names.push_back(column.name());
  return names;
}

bool Column::consistent() const {
  const std::size_t cells = cells_.size();
  switch (kind_) {
    case ColumnKind::kInteger:
    case ColumnKind::kBoolean: return integers_.size() == cells;
    case ColumnKind::kFloat: return floats_.size() == cells;
    case ColumnKind::kText: return text_ends_.size() == cells && (cells == 0 || text_ends_.back() == text_bytes_.size());
    case ColumnKind::kJson: return jsons_.size() == cells;
  }
  return false;
}

bool Table::consistent() const {
  std::set<std::string_view> names;
  for (const Column& column : columns_) {
    if (!column.consistent() || column.size() != num_rows() || !names.insert(column.name()).second) return false;
  }
  return true;
}

void Table::add_column(Column column) { insert_column(columns_.size(), std::move(column)); }

void Table::insert_column(std::size_t position, Column column) {
  if (!columns_.empty() && column.size() != num_rows()) {
    throw std::invalid_argument("column " + column.name() + " has " + std::to_string(column.size()) +
                                " rows, the table " + std::to_string(num_rows()));
  }
  if (find(column.name()) != nullptr) throw std::invalid_argument("duplicate column " + column.name());
  columns_.insert(columns_.begin() + static_cast<std::ptrdiff_t>(position), std::move(column));
  assert(consistent());
}

void Table::set_column(Column column) {
  if (auto index = index_of(column.name())) {
    if (column.size() != num_rows()) {
      throw std::invalid_argument("column " + column.name() + " has " + std::to_string(column.size()) +
                                  " rows, the table " + std::to_string(num_rows()));
    }
    columns_[*index] = std::move(column);
  } else {
    add_column(std::move(column));
  }
}

bool Table::remove_column(std::string_view name) {
  auto index = index_of(name);
  if (!index) return false;
  columns_.erase(columns_.begin() + static_cast<std::ptrdiff_t>(*index));
  return true;
}

Table Table::take(const std::vector<std::size_t>& rows) const {
  assert(consistent());
  Table result;
  for (const Column& column : columns_) result.columns_.push_back(column.take(rows));
  return result;
}

ordered_json Table::row_json(std::size_t row) const {
  ordered_json record = ordered_json::object();
  for (const Column& column : columns_) {
    if (column.cell(row) == Cell::kAbsent) continue;
    record[column.name()] = column.to_json(row);
  }
  return record;
}

namespace {

// Every row repeats the same member names: they are escaped once.
std::vector<std::string> quoted_names(const std::vector<Column>& columns) {
  std::vector<std::string> names(columns.size());
  for (std::size_t c = 0; c < columns.size(); ++c) append_json_string(names[c], columns[c].name());
  return names;
}

void write_row(JsonWriter& writer, const std::vector<Column>& columns, const std::vector<std::string>& names,
               std::size_t row) {
  writer.begin_object();
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const Column& column = columns[c];
    if (column.cell(row) == Cell::kAbsent) continue;
    writer.quoted_key(names[c]);
    column.write_value(writer, row);
  }
  writer.end_object();
}

}  // namespace

void Table::write_rows(JsonWriter& writer) const {
  assert(consistent());
  const std::vector<std::string> names = quoted_names(columns_);
  writer.begin_array();
  for (std::size_t row = 0; row < num_rows(); ++row) write_row(writer, columns_, names, row);
  writer.end_array();
}

void Table::append_compact_rows(std::string& out, std::size_t begin, std::size_t end) const {
  assert(begin <= end && end <= num_rows() && consistent());
  const std::vector<std::string> names = quoted_names(columns_);
  // Each row is a top-level value of this writer, so the commas between rows are ours.
  JsonWriter writer(out, JsonWriter::Layout::kCompact);
  for (std::size_t row = begin; row < end; ++row) {
    if (row > 0) out.push_back(',');
    write_row(writer, columns_, names, row);
  }
}

}  // namespace vordak::pipeline
