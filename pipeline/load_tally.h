#pragma once

// The counts of a load taken while the database inserts its rows, so that a clean
// night's extracts are read once. While a tally lives, the SQL function
//   _yukleme_say(dosya INTEGER, red VARCHAR, donem INTEGER, anahtar BIGINT) -> BOOLEAN
// of its connection counts each row it is called with, per file and per period, keeps
// its key's hash, and is true. A row that cannot be loaded (`red` not null) ends the
// statement instead: such a load is made again the thorough way, which finds every
// rejected row's reason and line.

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "pipeline/duckdb_connection.h"

namespace vordak::pipeline {

class LoadTally {
 public:
  static constexpr const char* kFunction = "_yukleme_say";

  // Not inside a transaction (Connection::define_function). `expected_rows`, for example
  // the last load's, sizes the store of key hashes.
  LoadTally(Connection& con, std::int64_t expected_rows);
  ~LoadTally();
  LoadTally(const LoadTally&) = delete;
  LoadTally& operator=(const LoadTally&) = delete;

  // The counts once the statement has ended; not while it runs.
  bool gave_up() const { return gave_up_; }
  const std::map<std::int64_t, std::int64_t>& rows_by_file() const { return files_; }  // `dosya` -> rows
  const std::map<std::int64_t, std::int64_t>& rows_by_period() const { return periods_; }  // null periods left out
  // True when two rows' key hashes are equal: the same key twice, or, rarely, two keys
  // with one hash. Either way the thorough load tells them apart.
  bool keys_may_repeat();

 private:
  void count(_duckdb_data_chunk* arguments, _duckdb_vector* results);

  Connection& con_;
  std::mutex mutex_;
  bool gave_up_ = false;
  std::map<std::int64_t, std::int64_t> files_, periods_;
  // The hashes split by one bit, so that each half is sorted on a thread of its own.
  std::array<std::vector<std::int64_t>, 2> hashes_;
};

}  // namespace vordak::pipeline
