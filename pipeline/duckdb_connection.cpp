#include "pipeline/duckdb_connection.h"

#include <duckdb.h>

#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "core/helper_thread.h"
#include "pipeline/duckdb_chunk_reader.h"

namespace vordak::pipeline {

std::string sql_literal(std::string_view text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

std::string sql_identifier(std::string_view name) {
  std::string out = "\"";
  for (const char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}


namespace {

// Owners of the C API handles, so every exit path releases them.
struct PreparedStatement {
  duckdb_prepared_statement handle = nullptr;
  ~PreparedStatement() { duckdb_destroy_prepare(&handle); }
};

struct Result {
  duckdb_result handle{};
  bool filled = false;
  ~Result() {
    if (filled) duckdb_destroy_result(&handle);
  }
};

struct ChunkOwner {
  duckdb_data_chunk handle = nullptr;
  ChunkOwner() = default;
  ChunkOwner(ChunkOwner&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}
  ChunkOwner& operator=(ChunkOwner&&) = delete;
  ~ChunkOwner() {
    if (handle != nullptr) duckdb_destroy_data_chunk(&handle);
  }
};

// The settings of every database the system opens. DuckDB would otherwise download an
// extension from the internet when a statement or a file (an SQLite database, say) asks
// for one it lacks; a bank's batch server must never reach the network. The extensions
// the system uses (parquet, json, icu) are built into the library.
struct Config {
  duckdb_config handle = nullptr;
  Config() {
    if (duckdb_create_config(&handle) == DuckDBError) throw DatabaseError("cannot create a DuckDB configuration");
    for (const char* setting : {"autoinstall_known_extensions", "autoload_known_extensions"}) {
      if (duckdb_set_config(handle, setting, "false") == DuckDBError) {
        throw DatabaseError(std::string("cannot turn off DuckDB's ") + setting);
      }
    }
    // Last, so that no statement (`vordak sql` runs any) can turn them on again.
    if (duckdb_set_config(handle, "lock_configuration", "true") == DuckDBError) {
      throw DatabaseError("cannot lock DuckDB's configuration");
    }
  }
  ~Config() { duckdb_destroy_config(&handle); }
  Config(const Config&) = delete;
  Config& operator=(const Config&) = delete;
};

// DuckDB reads an SQLite file through an extension it does not carry; without this
// check its message would advise installing that extension.
bool is_sqlite_file(const std::string& path) {
  static constexpr char kMagic[] = "SQLite format 3";  // with its terminating zero: 16 bytes
  char header[sizeof kMagic] = {};
  std::ifstream file(path, std::ios::binary);
  return file.read(header, sizeof header) && std::memcmp(header, kMagic, sizeof kMagic) == 0;
}

std::string shorten(const std::string& sql) {
  constexpr std::size_t kShown = 200;
  return sql.size() <= kShown ? sql : sql.substr(0, kShown) + "...";
}

struct PendingResult {
  duckdb_pending_result handle = nullptr;
  ~PendingResult() { duckdb_destroy_pending(&handle); }
};

// A materialized result holds every row before the first is read; a streaming one hands
// chunks over as DuckDB's threads make them, with only a small buffer in between.
enum class Delivery { kWhole, kStreaming };

void run_prepared(duckdb_connection connection, const std::string& sql,
                  const std::vector<std::int64_t>* list_parameter, Result& result,
                  Delivery delivery = Delivery::kWhole) {
  PreparedStatement statement;
  if (duckdb_prepare(connection, sql.c_str(), &statement.handle) == DuckDBError) {
    throw DatabaseError(std::string(duckdb_prepare_error(statement.handle)) + " [in: " + shorten(sql) + "]");
  }
  if (list_parameter != nullptr) {
    std::vector<duckdb_value> elements;
    elements.reserve(list_parameter->size());
    for (std::int64_t value : *list_parameter) elements.push_back(duckdb_create_int64(value));
    duckdb_logical_type element_type = duckdb_create_logical_type(DUCKDB_TYPE_BIGINT);
    duckdb_value list = duckdb_create_list_value(element_type, elements.data(), elements.size());
    duckdb_destroy_logical_type(&element_type);
    for (duckdb_value& element : elements) duckdb_destroy_value(&element);
    const duckdb_state bound = duckdb_bind_value(statement.handle, 1, list);
    duckdb_destroy_value(&list);
    if (bound == DuckDBError) {
      throw DatabaseError("cannot bind the list parameter [in: " + shorten(sql) + "]");
    }
  }
  if (delivery == Delivery::kStreaming) {
    PendingResult pending;
    if (duckdb_pending_prepared_streaming(statement.handle, &pending.handle) == DuckDBError) {
      throw DatabaseError(std::string(duckdb_pending_error(pending.handle)) + " [in: " + shorten(sql) + "]");
    }
    const duckdb_state state = duckdb_execute_pending(pending.handle, &result.handle);
    result.filled = true;
    if (state == DuckDBError) {
      throw DatabaseError(std::string(duckdb_result_error(&result.handle)) + " [in: " + shorten(sql) + "]");
    }
    return;
  }
  const duckdb_state state = duckdb_execute_prepared(statement.handle, &result.handle);
  result.filled = true;
  if (state == DuckDBError) {
    throw DatabaseError(std::string(duckdb_result_error(&result.handle)) + " [in: " + shorten(sql) + "]");
  }
}

// Hands every chunk to `consume` until it returns false. A streaming result reports a
// failure met while fetching (a bad cast in a later row) by a null chunk and its error
// text.
void read_chunks(Result& result, const std::string& sql, const std::function<bool(ChunkOwner&)>& consume) {
  while (true) {
    ChunkOwner chunk;
    chunk.handle = duckdb_fetch_chunk(result.handle);
    if (chunk.handle == nullptr) break;
    if (!consume(chunk)) return;
  }
  const char* error = duckdb_result_error(&result.handle);
  if (error != nullptr && *error != '\0') throw DatabaseError(std::string(error) + " [in: " + shorten(sql) + "]");
}

// Chunks handed from the thread that fetches them to the thread that uses them, a few
// at a time, so that DuckDB makes the next chunk while the last one is read and used.
class ChunkQueue {
 public:
  // False when the user has stopped: the fetching thread stops too.
  bool push(ChunkOwner chunk) {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [&] { return stopped_ || chunks_.size() < kAhead; });
    if (stopped_) return false;
    chunks_.push_back(std::move(chunk));
    ready_.notify_one();
    return true;
  }
  // Every chunk is in; `failure` (or null) is what ended the fetching.
  void close(std::exception_ptr failure) {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    failure_ = std::move(failure);
    ready_.notify_one();
  }
  // The next chunk; nullopt after the last. Throws the fetching thread's failure.
  std::optional<ChunkOwner> pop() {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [&] { return !chunks_.empty() || closed_; });
    if (chunks_.empty()) {
      if (failure_) std::rethrow_exception(failure_);
      return std::nullopt;
    }
    std::optional<ChunkOwner> chunk(std::move(chunks_.front()));
    chunks_.pop_front();
    room_.notify_one();
    return chunk;
  }
  void stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    room_.notify_one();
  }

 private:
  static constexpr std::size_t kAhead = 4;
  std::mutex mutex_;
  std::condition_variable room_;
  std::condition_variable ready_;
  std::deque<ChunkOwner> chunks_;
  bool stopped_ = false;
  bool closed_ = false;
  std::exception_ptr failure_;
};

}  // namespace

Connection::Connection(const std::string& path, Open mode) : path_(path) {
  std::error_code ignored;
  if (mode == Open::kExisting && !std::filesystem::is_regular_file(path, ignored)) {
    throw DatabaseError("database file does not exist: " + path);
  }
  if (is_sqlite_file(path)) {
    throw DatabaseError("cannot open database " + path + ": it is an SQLite database, not a DuckDB one");
  }
  const Config config;
  char* error = nullptr;
  duckdb_database database = nullptr;
  if (duckdb_open_ext(path.c_str(), &database, config.handle, &error) == DuckDBError) {
    std::string message = error != nullptr ? error : "unknown error";
    duckdb_free(error);
    duckdb_close(&database);
    throw DatabaseError("cannot open database " + path + ": " + message);
  }
  duckdb_connection connection = nullptr;
  if (duckdb_connect(database, &connection) == DuckDBError) {
    duckdb_close(&database);
    throw DatabaseError("cannot connect to database " + path);
  }
  database_ = database;
  connection_ = connection;
}

Connection::~Connection() {
  duckdb_connection connection = connection_;
  duckdb_database database = database_;
  duckdb_disconnect(&connection);
  if (database != nullptr) duckdb_close(&database);
}

Connection Connection::sibling() {
  duckdb_connection connection = nullptr;
  if (database_ == nullptr || duckdb_connect(database_, &connection) == DuckDBError) {
    throw DatabaseError("cannot connect to database " + path_ + " again");
  }
  return Connection(path_, connection);
}

Table Connection::query(const std::string& sql) {
  Result result;
  run_prepared(connection_, sql, nullptr, result);
  ChunkReader reader(&result.handle);
  read_chunks(result, sql, [&](ChunkOwner& chunk) {
    reader.append(chunk.handle);
    return true;
  });
  return reader.finish();
}

Table Connection::query(const std::string& sql, const std::vector<std::int64_t>& list_parameter) {
  Result result;
  run_prepared(connection_, sql, &list_parameter, result);
  ChunkReader reader(&result.handle);
  read_chunks(result, sql, [&](ChunkOwner& chunk) {
    reader.append(chunk.handle);
    return true;
  });
  return reader.finish();
}

void Connection::for_each_chunk(const std::string& sql, const std::vector<std::int64_t>& list_parameter,
                                const std::function<void(const Table&)>& consume) {
  stream_chunks(sql, &list_parameter, consume);
}

void Connection::for_each_chunk(const std::string& sql, const std::function<void(const Table&)>& consume) {
  stream_chunks(sql, nullptr, consume);
}

void Connection::stream_chunks(const std::string& sql, const std::vector<std::int64_t>* list_parameter,
                               const std::function<void(const Table&)>& consume) {
  Result result;
  run_prepared(connection_, sql, list_parameter, result, Delivery::kStreaming);
  // The result belongs to the fetching thread until it is joined; the chunks are turned
  // into tables on this one, beside the fetching.
  ChunkReader reader(&result.handle);
  ChunkQueue queue;
  HelperThread fetcher([&] {
    std::exception_ptr failure;
    try {
      read_chunks(result, sql, [&](ChunkOwner& chunk) { return queue.push(std::move(chunk)); });
    } catch (...) {
      failure = std::current_exception();
    }
    queue.close(failure);
  });
  try {
    bool handed = false;
    while (std::optional<ChunkOwner> chunk = queue.pop()) {
      reader.append(chunk->handle);
      handed = true;
      consume(reader.finish());
    }
    if (!handed) consume(reader.finish());
  } catch (...) {
    queue.stop();
    fetcher.join();
    throw;
  }
  fetcher.join();
}

void Connection::execute(const std::string& sql) {
  Result result;
  const duckdb_state state = duckdb_query(connection_, sql.c_str(), &result.handle);
  result.filled = true;
  if (state == DuckDBError) {
    throw DatabaseError(std::string(duckdb_result_error(&result.handle)) + " [in: " + shorten(sql) + "]");
  }
}

namespace {

void call_function_body(duckdb_function_info info, duckdb_data_chunk arguments, duckdb_vector results) {
  const auto& body = *static_cast<const Connection::FunctionBody*>(duckdb_scalar_function_get_extra_info(info));
  try {
    if (!body) throw std::logic_error("the function is not defined now");
    body(arguments, results);
  } catch (const std::exception& error) {
    duckdb_scalar_function_set_error(info, error.what());
  }
}

}  // namespace

void Connection::define_function(const std::string& name, const std::vector<int>& argument_types, int result_type,
                                 FunctionBody body) {
  if (const auto defined = functions_.find(name); defined != functions_.end()) {
    *defined->second = std::move(body);
    return;
  }
  auto owned = std::make_unique<FunctionBody>(std::move(body));
  duckdb_scalar_function function = duckdb_create_scalar_function();
  duckdb_scalar_function_set_name(function, name.c_str());
  for (const int type : argument_types) {
    duckdb_logical_type logical = duckdb_create_logical_type(static_cast<duckdb_type>(type));
    duckdb_scalar_function_add_parameter(function, logical);
    duckdb_destroy_logical_type(&logical);
  }
  duckdb_logical_type result = duckdb_create_logical_type(static_cast<duckdb_type>(result_type));
  duckdb_scalar_function_set_return_type(function, result);
  duckdb_destroy_logical_type(&result);
  duckdb_scalar_function_set_function(function, call_function_body);
  duckdb_scalar_function_set_extra_info(function, owned.get(), nullptr);
  duckdb_scalar_function_set_volatile(function);
  duckdb_scalar_function_set_special_handling(function);
  const duckdb_state state = duckdb_register_scalar_function(connection_, function);
  duckdb_destroy_scalar_function(&function);
  if (state == DuckDBError) throw DatabaseError("cannot define the SQL function " + name);
  functions_.emplace(name, std::move(owned));
}

bool Connection::has_table(const std::string& name) {
  return !query("SELECT table_name FROM information_schema.tables WHERE table_name = " + sql_literal(name)).empty();
}

std::vector<std::string> Connection::describe_columns(const std::string& table) {
  const Table description = query("DESCRIBE " + table);
  std::vector<std::string> names;
  if (description.num_columns() == 0) return names;
  const Column& first = description.column(0);
  for (std::size_t row = 0; row < first.size(); ++row) {
    if (!first.is_null(row) && first.kind() == ColumnKind::kText) names.emplace_back(first.text(row));
  }
  return names;
}

}  // namespace vordak::pipeline
