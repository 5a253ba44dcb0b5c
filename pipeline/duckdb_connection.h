#pragma once

// An open connection to an analytic DuckDB database file, closed by its destructor on
// every path. Queries come back as Tables, read through DuckDB's data chunks:
//   integers of every width -> kInteger (HUGEINT/UBIGINT widen the column to kFloat only
//   when a value does not fit 64 bits); DECIMAL, FLOAT, DOUBLE -> kFloat; VARCHAR, ENUM,
//   UUID -> kText; BOOLEAN -> kBoolean; DATE, TIME, TIMESTAMP -> kText in DuckDB's text
//   form (2024-06-30, 2024-06-30 12:00:00). Other types are refused with a message that
//   names the column and its type.
// Every failure is a DatabaseError whose message names the file or the statement.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/table.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

struct _duckdb_database;
struct _duckdb_connection;
struct _duckdb_data_chunk;
struct _duckdb_vector;

namespace vordak::pipeline {

// SQL text for a string value ('it''s') and for a name ("a ""b"), quotes doubled.
std::string sql_literal(std::string_view text);
std::string sql_identifier(std::string_view name);

class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Connection {
 public:
  enum class Open { kExisting, kCreate };

  // Opens the file read-write. kExisting refuses a path with no file (DuckDB would
  // silently create an empty database there); kCreate makes a new one when missing.
  // A file locked by another process or not a DuckDB file gives a DatabaseError.
  explicit Connection(const std::string& path, Open mode = Open::kExisting);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const std::string& path() const { return path_; }

  // Another connection to this one's open database, for another thread: DuckDB runs the
  // queries of separate connections side by side. It must not outlive this connection.
  Connection sibling();

  // Runs one statement and returns its whole result.
  Table query(const std::string& sql);
  // Runs a statement with one BIGINT list bound to $1 (for "= ANY($1)").
  Table query(const std::string& sql, const std::vector<std::int64_t>& list_parameter);
  // Runs a statement with the list bound to $1 and hands the result over chunk by chunk
  // (each a Table of at most a few thousand rows), so a large result is never held whole.
  // A result without rows is handed over once, as an empty Table with its columns.
  // `consume` runs on the calling thread while another thread fetches the next chunks.
  void for_each_chunk(const std::string& sql, const std::vector<std::int64_t>& list_parameter,
                      const std::function<void(const Table&)>& consume);
  // The same for a statement without a parameter.
  void for_each_chunk(const std::string& sql, const std::function<void(const Table&)>& consume);
  // Runs statements that return nothing of interest (DDL, INSERT).
  void execute(const std::string& sql);

  // The body of an SQL function of this connection: it reads a chunk of rows' arguments
  // and writes each row's result into the vector, through DuckDB's C API (duckdb.h). The
  // database calls it from several threads at once. What it throws fails the statement
  // with its message.
  using FunctionBody = std::function<void(_duckdb_data_chunk* arguments, _duckdb_vector* results)>;
  // From now on, calls of the SQL function `name` go to `body`; an empty body makes them
  // fail. The function is made the first time, with arguments and result of the given
  // DUCKDB_TYPE values (later calls keep them): volatile, so that it is called for every
  // row, with nulls passed in.
  // Not inside a transaction: the function is made in the database's catalog, which a
  // rollback would restore.
  void define_function(const std::string& name, const std::vector<int>& argument_types, int result_type, FunctionBody body);

  // True when a table or view of exactly this name exists in the database (any schema).
  bool has_table(const std::string& name);
  // Column names of a table, in order, from "DESCRIBE <table>".
  std::vector<std::string> describe_columns(const std::string& table);

 private:
  Connection(const std::string& path, _duckdb_connection* connection) : path_(path), connection_(connection) {}

  void stream_chunks(const std::string& sql, const std::vector<std::int64_t>* list_parameter,
                     const std::function<void(const Table&)>& consume);

  std::string path_;
  // What define_function made; the destructor closes the database before they go.
  std::map<std::string, std::unique_ptr<FunctionBody>> functions_;
  _duckdb_database* database_ = nullptr;  // null in a sibling, which shares its parent's
  _duckdb_connection* connection_ = nullptr;
};

}  // namespace vordak::pipeline

VORDAK_PUBLIC_END
