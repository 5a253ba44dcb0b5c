#include "pipeline/duckdb_chunk_reader.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "pipeline/duckdb_connection.h"

namespace vordak::pipeline {

namespace {

std::string two_digits(int value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

std::string date_text(duckdb_date date) {
  const duckdb_date_struct parts = duckdb_from_date(date);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", static_cast<int>(parts.year), parts.month, parts.day);
  return buffer;
}

// HH:MM:SS, with the fraction of a second when there is one, trailing zeros dropped.
std::string time_text(duckdb_time_struct parts) {
  std::string text = two_digits(parts.hour) + ":" + two_digits(parts.min) + ":" + two_digits(parts.sec);
  if (parts.micros != 0) {
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%06d", static_cast<int>(parts.micros));
    std::string digits = fraction;
    while (digits.back() == '0') digits.pop_back();
    text += digits;
  }
  return text;
}

std::string timestamp_text(std::int64_t micros) {
  const duckdb_timestamp_struct parts = duckdb_from_timestamp(duckdb_timestamp{micros});
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d ", static_cast<int>(parts.date.year), parts.date.month,
                parts.date.day);
  return buffer + time_text(parts.time);
}

// The value of a 128-bit integer as a double, and whether it fits 64 bits exactly.
bool hugeint_fits(const duckdb_hugeint& value) {
  return (value.upper == 0 && value.lower <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) ||
         (value.upper == -1 && value.lower >= (std::uint64_t{1} << 63));
}

// The Table kind of a DuckDB column type; nullopt for a type that has no Table form.
std::optional<ColumnKind> kind_of(duckdb_type type) {
  switch (type) {
    case DUCKDB_TYPE_BOOLEAN: return ColumnKind::kBoolean;
    case DUCKDB_TYPE_TINYINT:
    case DUCKDB_TYPE_SMALLINT:
    case DUCKDB_TYPE_INTEGER:
    case DUCKDB_TYPE_BIGINT:
    case DUCKDB_TYPE_UTINYINT:
    case DUCKDB_TYPE_USMALLINT:
    case DUCKDB_TYPE_UINTEGER:
    case DUCKDB_TYPE_UBIGINT:
    case DUCKDB_TYPE_HUGEINT:
    case DUCKDB_TYPE_UHUGEINT: return ColumnKind::kInteger;
    case DUCKDB_TYPE_FLOAT:
    case DUCKDB_TYPE_DOUBLE:
    case DUCKDB_TYPE_DECIMAL: return ColumnKind::kFloat;
    case DUCKDB_TYPE_VARCHAR:
    case DUCKDB_TYPE_ENUM:
    case DUCKDB_TYPE_DATE:
    case DUCKDB_TYPE_TIME:
    case DUCKDB_TYPE_TIMESTAMP:
    case DUCKDB_TYPE_TIMESTAMP_S:
    case DUCKDB_TYPE_TIMESTAMP_MS:
    case DUCKDB_TYPE_TIMESTAMP_NS:
    case DUCKDB_TYPE_TIMESTAMP_TZ:
    case DUCKDB_TYPE_SQLNULL: return ColumnKind::kText;
    default: return std::nullopt;
  }
}

// A DECIMAL's unscaled integer divided by 10^scale, correctly rounded: both operands are
// exact doubles while the integer stays under 2^53, so one IEEE division suffices;
// beyond that the decimal text is parsed.
double decimal_value(double unscaled, bool exact, const std::string& unscaled_text, int scale) {
  static const double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (exact && scale <= 22) return unscaled / kPowers[scale];
  const std::string text = unscaled_text + "e-" + std::to_string(scale);
  return std::strtod(text.c_str(), nullptr);
}

std::string hugeint_text(duckdb_hugeint value) {
  const bool negative = value.upper < 0;
  unsigned __int128 magnitude =
      (static_cast<unsigned __int128>(static_cast<std::uint64_t>(value.upper)) << 64) | value.lower;
  if (negative) magnitude = ~magnitude + 1;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  return negative ? "-" + digits : digits;
}

template <typename T>
T at(const void* data, idx_t row) {
  return static_cast<const T*>(data)[row];
}

}  // namespace

ChunkReader::ChunkReader(duckdb_result* result) {
  const idx_t count = duckdb_column_count(result);
  for (idx_t i = 0; i < count; ++i) {
    Source& added = sources_.emplace_back();
    added.name = duckdb_column_name(result, i);
    added.logical_type.reset(duckdb_column_logical_type(result, i));
    added.type = duckdb_get_type_id(added.logical_type.get());
    const std::optional<ColumnKind> kind = kind_of(added.type);
    if (!kind) {
      throw DatabaseError("column " + added.name + " has an unsupported type (DuckDB type id " +
                          std::to_string(added.type) + ")");
    }
    added.kind = *kind;
    if (added.type == DUCKDB_TYPE_DECIMAL) {
      added.physical = duckdb_decimal_internal_type(added.logical_type.get());
      added.scale = duckdb_decimal_scale(added.logical_type.get());
    } else if (added.type == DUCKDB_TYPE_ENUM) {
      added.physical = duckdb_enum_internal_type(added.logical_type.get());
    }
  }
  columns_ = fresh_columns();
}

std::vector<Column> ChunkReader::fresh_columns() const {
  std::vector<Column> columns;
  for (const Source& source : sources_) columns.emplace_back(source.name, source.kind);
  return columns;
}

void ChunkReader::append(duckdb_data_chunk chunk) {
  const idx_t rows = duckdb_data_chunk_get_size(chunk);
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    append_vector(sources_[i], columns_[i], duckdb_data_chunk_get_vector(chunk, i), rows);
  }
}

Table ChunkReader::finish() {
  Table table;
  for (Column& column : columns_) table.add_column(std::move(column));
  columns_ = fresh_columns();
  return table;
}

void ChunkReader::append_vector(const Source& source, Column& column, duckdb_vector vector, idx_t rows) {
  void* data = duckdb_vector_get_data(vector);
  const std::uint64_t* validity = duckdb_vector_get_validity(vector);
  if (column.size() == 0) column.reserve(rows);
  // The type is decided once per vector; `push` appends one valid row.
  auto each_row = [&](auto push) {
    for (idx_t row = 0; row < rows; ++row) {
      if (!row_is_valid(validity, row)) column.push_null();
      else push(row);
    }
  };
  auto push_wide = [&column](double as_double, bool fits, std::int64_t as_int) {
    if (fits && column.kind() == ColumnKind::kInteger) {
      column.push_integer(as_int);
    } else {
      column.promote_to_float();
      column.push_float(as_double);
    }
  };
  switch (source.type) {
    case DUCKDB_TYPE_BOOLEAN: each_row([&](idx_t row) { column.push_boolean(at<bool>(data, row)); }); break;
    case DUCKDB_TYPE_TINYINT: each_row([&](idx_t row) { column.push_integer(at<std::int8_t>(data, row)); }); break;
    case DUCKDB_TYPE_SMALLINT: each_row([&](idx_t row) { column.push_integer(at<std::int16_t>(data, row)); }); break;
    case DUCKDB_TYPE_INTEGER: each_row([&](idx_t row) { column.push_integer(at<std::int32_t>(data, row)); }); break;
    case DUCKDB_TYPE_BIGINT: each_row([&](idx_t row) { column.push_integer(at<std::int64_t>(data, row)); }); break;
    case DUCKDB_TYPE_UTINYINT: each_row([&](idx_t row) { column.push_integer(at<std::uint8_t>(data, row)); }); break;
    case DUCKDB_TYPE_USMALLINT: each_row([&](idx_t row) { column.push_integer(at<std::uint16_t>(data, row)); }); break;
    case DUCKDB_TYPE_UINTEGER: each_row([&](idx_t row) { column.push_integer(at<std::uint32_t>(data, row)); }); break;
    case DUCKDB_TYPE_UBIGINT:
      each_row([&](idx_t row) {
        const std::uint64_t value = at<std::uint64_t>(data, row);
        push_wide(static_cast<double>(value), value <= static_cast<std::uint64_t>(INT64_MAX),
                  static_cast<std::int64_t>(value));
      });
      break;
    case DUCKDB_TYPE_HUGEINT:
      each_row([&](idx_t row) {
        const duckdb_hugeint value = at<duckdb_hugeint>(data, row);
        push_wide(duckdb_hugeint_to_double(value), hugeint_fits(value), static_cast<std::int64_t>(value.lower));
      });
      break;
    case DUCKDB_TYPE_UHUGEINT:
      each_row([&](idx_t row) {
        const duckdb_uhugeint value = at<duckdb_uhugeint>(data, row);
        push_wide(duckdb_uhugeint_to_double(value), value.upper == 0 && value.lower <= INT64_MAX,
                  static_cast<std::int64_t>(value.lower));
      });
      break;
    case DUCKDB_TYPE_FLOAT:
      each_row([&](idx_t row) {
        // The shortest text of the float, read as a double: 0.1f shows as 0.1, as in DuckDB.
        char text[32];
        const float value = at<float>(data, row);
        double shortest = value;
        for (int digits = 6; digits <= 9; ++digits) {
          std::snprintf(text, sizeof text, "%.*g", digits, value);
          if (std::strtof(text, nullptr) == value) {
            shortest = std::strtod(text, nullptr);
            break;
          }
        }
        column.push_float(shortest);
      });
      break;
    case DUCKDB_TYPE_DOUBLE: each_row([&](idx_t row) { column.push_float(at<double>(data, row)); }); break;
    case DUCKDB_TYPE_DECIMAL:
      each_row([&](idx_t row) {
        switch (source.physical) {
          case DUCKDB_TYPE_SMALLINT:
            column.push_float(decimal_value(at<std::int16_t>(data, row), true, "", source.scale));
            break;
          case DUCKDB_TYPE_INTEGER:
            column.push_float(decimal_value(at<std::int32_t>(data, row), true, "", source.scale));
            break;
          case DUCKDB_TYPE_BIGINT: {
            const auto v = at<std::int64_t>(data, row);
            const bool exact = v > -(std::int64_t{1} << 53) && v < (std::int64_t{1} << 53);
            column.push_float(decimal_value(static_cast<double>(v), exact, std::to_string(v), source.scale));
            break;
          }
          default:
            column.push_float(decimal_value(0, false, hugeint_text(at<duckdb_hugeint>(data, row)), source.scale));
            break;
        }
      });
      break;
    case DUCKDB_TYPE_VARCHAR: {
      auto* strings = static_cast<duckdb_string_t*>(data);
      each_row([&](idx_t row) {
        column.push_text(std::string_view(duckdb_string_t_data(&strings[row]), duckdb_string_t_length(strings[row])));
      });
      break;
    }
    case DUCKDB_TYPE_ENUM:
      each_row([&](idx_t row) {
        idx_t index = 0;
        if (source.physical == DUCKDB_TYPE_UTINYINT) index = at<std::uint8_t>(data, row);
        else if (source.physical == DUCKDB_TYPE_USMALLINT) index = at<std::uint16_t>(data, row);
        else index = at<std::uint32_t>(data, row);
        char* text = duckdb_enum_dictionary_value(source.logical_type.get(), index);
        column.push_text(text);
        duckdb_free(text);
      });
      break;
    case DUCKDB_TYPE_DATE: each_row([&](idx_t row) { column.push_text(date_text(at<duckdb_date>(data, row))); }); break;
    case DUCKDB_TYPE_TIME:
      each_row([&](idx_t row) { column.push_text(time_text(duckdb_from_time(at<duckdb_time>(data, row)))); });
      break;
    case DUCKDB_TYPE_TIMESTAMP:
      each_row([&](idx_t row) { column.push_text(timestamp_text(at<std::int64_t>(data, row))); });
      break;
    case DUCKDB_TYPE_TIMESTAMP_TZ:
      each_row([&](idx_t row) { column.push_text(timestamp_text(at<std::int64_t>(data, row)) + "+00"); });
      break;
    case DUCKDB_TYPE_TIMESTAMP_S:
      each_row([&](idx_t row) { column.push_text(timestamp_text(at<std::int64_t>(data, row) * 1000000)); });
      break;
    case DUCKDB_TYPE_TIMESTAMP_MS:
      each_row([&](idx_t row) { column.push_text(timestamp_text(at<std::int64_t>(data, row) * 1000)); });
      break;
    case DUCKDB_TYPE_TIMESTAMP_NS:
      each_row([&](idx_t row) { column.push_text(timestamp_text(at<std::int64_t>(data, row) / 1000)); });
      break;
    default:
      for (idx_t row = 0; row < rows; ++row) column.push_null();
      break;
  }
}

}  // namespace vordak::pipeline
