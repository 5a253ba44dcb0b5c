#pragma once

// Turns the data chunks of one DuckDB result into Table columns, reading vectors and
// validity masks directly. Used by Connection and the SQL functions of our own; not part
// of the public interface.

#include <duckdb.h>

#include <memory>
#include <string>
#include <vector>

#include "pipeline/table.h"

namespace vordak::pipeline {

// Whether a vector's row holds a value: its bit in the validity mask, when the vector has one.
inline bool row_is_valid(const std::uint64_t* validity, idx_t row) {
  return validity == nullptr || ((validity[row / 64] >> (row % 64)) & 1) != 0;
}

class ChunkReader {
 public:
  // Reads the column names and types of `result`; throws DatabaseError for a column
  // type that has no Table form.
  explicit ChunkReader(duckdb_result* result);

  // Appends the rows of one chunk.
  void append(duckdb_data_chunk chunk);
  // The rows appended since the last call, as a Table.
  Table finish();

 private:
  struct LogicalTypeDeleter {
    void operator()(duckdb_logical_type type) const { duckdb_destroy_logical_type(&type); }
  };
  struct Source {
    std::string name;
    std::unique_ptr<_duckdb_logical_type, LogicalTypeDeleter> logical_type;
    duckdb_type type = DUCKDB_TYPE_INVALID;
    duckdb_type physical = DUCKDB_TYPE_INVALID;  // storage type of DECIMAL and ENUM
    int scale = 0;                               // DECIMAL
    ColumnKind kind = ColumnKind::kText;
  };

  void append_vector(const Source& source, Column& column, duckdb_vector vector, idx_t rows);
  std::vector<Column> fresh_columns() const;

  std::vector<Source> sources_;
  std::vector<Column> columns_;
};

}  // namespace vordak::pipeline
