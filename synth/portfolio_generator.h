#pragma once

// Synthetic portfolio for benchmarks and the demo: writes fact_periodic, dim_entity,
// map_identity and ref_sube_bolge into a DuckDB file, deterministic for a given seed.
// Firms follow score profiles chosen so that every watch list has members: steady low,
// mid and high scores, steady risers, low-but-rising firms, band crossings after an
// early signal or a sudden jump, and firms in "YI" throughout. Besides, every firm has a
// latent risk per period, which its score follows a little; a firm enters "YI" in the
// next period with a chance that rises with it (about 1.5 % of the firms outside "YI" a
// period) and stays there. Scores are stored as text ("YI" or digits).

#include <cstdint>
#include <string>
#include <vector>

namespace vordak::synth {

struct PortfolioOptions {
  std::int64_t firms = 1000;
  int periods = 12;
  std::uint64_t seed = 1;
};

// Creates (or replaces) the four tables in the database at `db_path`. Throws
// vordak::pipeline::DatabaseError on a database failure.
void generate_portfolio(const std::string& db_path, const PortfolioOptions& options);

// The same portfolio as the source systems deliver it, for the pipeline's ingest steps:
// one directory per data-source key under `root` (kik_data_ham_csv, kredi_db,
// yis_tahmin_data, eus_tahmin_data, eus_hedef_muta, eus_sql_kapsam_muta, statik_db,
// yis_train_data, rkd_donem_data, memzuc_data_donem) plus raporlama_depo for the deposit
// step, holding CSV, pipe-separated text and parquet files written by DuckDB. Periods are
// YYYYMM numbers there; transformed, the extracts give back generate_portfolio's tables
// (a few firm titles are left blank or badly spaced on purpose, for the title check).
// Returns the directory names written. Throws like generate_portfolio.
std::vector<std::string> write_source_extracts(const std::string& root, const PortfolioOptions& options);

}  // namespace vordak::synth
