#pragma once

// Synthetic portfolio for benchmarks and the demo: writes fact_periodic, dim_entity,
// map_identity and ref_sube_bolge into a DuckDB file, deterministic for a given seed.
// Firms follow score profiles chosen so that every watch list has members: steady low,
// mid and high scores, steady risers, low-but-rising firms, band crossings after an
// early signal or a sudden jump, firms entering "YI" with and without an early warning,
// and firms in "YI" throughout. Scores are stored as text ("YI" or digits).

#include <cstdint>
#include <string>

namespace vordak::bench {

struct PortfolioOptions {
  std::int64_t firms = 1000;
  int periods = 12;
  std::uint64_t seed = 1;
};

// Creates (or replaces) the four tables in the database at `db_path`. Throws
// vordak::pipeline::DatabaseError on a database failure.
void generate_portfolio(const std::string& db_path, const PortfolioOptions& options);

}  // namespace vordak::bench
