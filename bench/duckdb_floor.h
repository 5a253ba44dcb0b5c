#pragma once

// The DuckDB floor of a mart run: DuckDB alone running the identity-row and period-data
// queries of the scoreboard and fetching every chunk, through the bare C API.

#include <string>

namespace vordak::bench {

// Seconds the two queries take on the database at `db_path` (page cache as it is).
double duckdb_floor_seconds(const std::string& db_path);

}  // namespace vordak::bench
