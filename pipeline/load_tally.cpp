#include "pipeline/load_tally.h"

#include <duckdb.h>

#include <algorithm>
#include <array>
#include <stdexcept>

#include <boost/sort/spreadsort/integer_sort.hpp>

#include "core/helper_thread.h"
#include "pipeline/duckdb_chunk_reader.h"

namespace vordak::pipeline {

LoadTally::LoadTally(Connection& con, std::int64_t expected_rows) : con_(con) {
  // Room for a little more than half the rows in each half, so that the store seldom grows.
  for (std::vector<std::int64_t>& hashes : hashes_) hashes.reserve(static_cast<std::size_t>(expected_rows / 2 + expected_rows / 16));
  con_.define_function(kFunction, {DUCKDB_TYPE_INTEGER, DUCKDB_TYPE_VARCHAR, DUCKDB_TYPE_INTEGER, DUCKDB_TYPE_BIGINT},
                       DUCKDB_TYPE_BOOLEAN, [this](duckdb_data_chunk arguments, duckdb_vector results) { count(arguments, results); });
}

LoadTally::~LoadTally() { con_.define_function(kFunction, {}, DUCKDB_TYPE_BOOLEAN, nullptr); }

// Counts one chunk on the calling thread, then adds it to the tally under the lock.
void LoadTally::count(duckdb_data_chunk arguments, duckdb_vector results) {
  const idx_t rows = duckdb_data_chunk_get_size(arguments);
  duckdb_vector file_vector = duckdb_data_chunk_get_vector(arguments, 0);
  duckdb_vector period_vector = duckdb_data_chunk_get_vector(arguments, 2);
  duckdb_vector hash_vector = duckdb_data_chunk_get_vector(arguments, 3);
  const auto* file = static_cast<const std::int32_t*>(duckdb_vector_get_data(file_vector));
  const auto* period = static_cast<const std::int32_t*>(duckdb_vector_get_data(period_vector));
  const auto* hash = static_cast<const std::int64_t*>(duckdb_vector_get_data(hash_vector));
  std::uint64_t* file_valid = duckdb_vector_get_validity(file_vector);
  std::uint64_t* reason_valid = duckdb_vector_get_validity(duckdb_data_chunk_get_vector(arguments, 1));
  std::uint64_t* period_valid = duckdb_vector_get_validity(period_vector);
  std::uint64_t* hash_valid = duckdb_vector_get_validity(hash_vector);
  auto* loadable = static_cast<bool*>(duckdb_vector_get_data(results));
  std::map<std::int64_t, std::int64_t> files, periods;
  std::array<std::vector<std::int64_t>, 2> hashes;
  for (idx_t row = 0; row < rows; ++row) {
    if (row_is_valid(reason_valid, row) || !row_is_valid(file_valid, row) || !row_is_valid(hash_valid, row)) {
      std::lock_guard lock(mutex_);
      gave_up_ = true;
      throw std::runtime_error("a row cannot be loaded");
    }
    loadable[row] = true;
    hashes[(static_cast<std::uint64_t>(hash[row]) >> 62) & 1].push_back(hash[row]);
  }
  // Rows come in runs of one file and one period: count the runs.
  for (idx_t row = 0; row < rows;) {
    idx_t end = row + 1;
    while (end < rows && file[end] == file[row]) ++end;
    files[file[row]] += static_cast<std::int64_t>(end - row);
    row = end;
  }
  for (idx_t row = 0; row < rows;) {
    idx_t end = row + 1;
    const bool valid = row_is_valid(period_valid, row);
    while (end < rows && row_is_valid(period_valid, end) == valid && (!valid || period[end] == period[row])) ++end;
    if (valid) periods[period[row]] += static_cast<std::int64_t>(end - row);
    row = end;
  }
  std::lock_guard lock(mutex_);
  for (const auto& [at, count] : files) files_[at] += count;
  for (const auto& [at, count] : periods) periods_[at] += count;
  for (std::size_t half = 0; half < 2; ++half) hashes_[half].insert(hashes_[half].end(), hashes[half].begin(), hashes[half].end());
}

bool LoadTally::keys_may_repeat() {
  std::array<bool, 2> repeat{};
  on_two_threads(2, [&](std::size_t half) {
    std::vector<std::int64_t>& hashes = hashes_[half];
    boost::sort::spreadsort::integer_sort(hashes.begin(), hashes.end());
    repeat[half] = std::adjacent_find(hashes.begin(), hashes.end()) != hashes.end();
  });
  return repeat[0] || repeat[1];
}

}  // namespace vordak::pipeline
