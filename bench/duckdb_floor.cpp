#include "bench/duckdb_floor.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <duckdb.h>

#include "pipeline/duckdb_connection.h"
#include "pipeline/entity_keys.h"

namespace vordak::bench {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs one statement with the key list bound to $1 through the bare C API and fetches
// every chunk; returns the row count.
std::size_t fetch_all(duckdb_connection con, const char* sql, const std::vector<std::int64_t>& keys) {
  duckdb_prepared_statement statement = nullptr;
  if (duckdb_prepare(con, sql, &statement) == DuckDBError) {
    std::fprintf(stderr, "prepare failed: %s\n", duckdb_prepare_error(statement));
    std::exit(1);
  }
  std::vector<duckdb_value> elements;
  elements.reserve(keys.size());
  for (std::int64_t key : keys) elements.push_back(duckdb_create_int64(key));
  duckdb_logical_type type = duckdb_create_logical_type(DUCKDB_TYPE_BIGINT);
  duckdb_value list = duckdb_create_list_value(type, elements.data(), elements.size());
  for (duckdb_value& element : elements) duckdb_destroy_value(&element);
  duckdb_destroy_logical_type(&type);
  duckdb_bind_value(statement, 1, list);
  duckdb_destroy_value(&list);
  duckdb_result result;
  if (duckdb_execute_prepared(statement, &result) == DuckDBError) {
    std::fprintf(stderr, "query failed: %s\n", duckdb_result_error(&result));
    std::exit(1);
  }
  std::size_t rows = 0;
  while (duckdb_data_chunk chunk = duckdb_fetch_chunk(result)) {
    rows += duckdb_data_chunk_get_size(chunk);
    duckdb_destroy_data_chunk(&chunk);
  }
  duckdb_destroy_result(&result);
  duckdb_destroy_prepare(&statement);
  return rows;
}

}  // namespace

double duckdb_floor_seconds(const std::string& db_path) {
  vordak::pipeline::Connection keys_con(db_path);
  const vordak::pipeline::Table scored = keys_con.query(
      "SELECT DISTINCT entity_id FROM fact_periodic WHERE vrd_skor IS NOT NULL OR COALESCE(kombine_risk, 0) > 0");
  const std::vector<std::int64_t> keys = vordak::pipeline::entity_keys(scored.column(0), "fact_periodic");
  duckdb_database db = nullptr;
  duckdb_connection con = nullptr;
  duckdb_open(db_path.c_str(), &db);
  duckdb_connect(db, &con);
  (void)keys_con;
  const auto start = Clock::now();
  const std::size_t identity_rows = fetch_all(
      con,
      "SELECT de.entity_id, mi.unvan, de.segment, de.sube_kodu, sb.sube_adi, de.bolge_kodu, sb2.bolge_adi, "
      "de.son_izleme_kodu, de.risk_grup_kodu, de.pgy, de.finansman_konu, de.tahsis_onay_birimi "
      "FROM dim_entity de LEFT JOIN map_identity mi ON de.entity_id = mi.entity_id "
      "LEFT JOIN ref_sube_bolge sb ON de.sube_kodu = sb.sube_kodu "
      "LEFT JOIN ( SELECT DISTINCT ON (bolge_kodu) bolge_kodu, bolge_adi FROM ref_sube_bolge ORDER BY bolge_kodu ) "
      "sb2 ON de.bolge_kodu = sb2.bolge_kodu WHERE de.entity_id = ANY($1)",
      keys);
  const std::size_t period_rows = fetch_all(
      con,
      "SELECT entity_id, donem, vrd_skor, kombine_risk, risk_degisim, depo_risk, nakit_risk, gnakit_risk "
      "FROM fact_periodic WHERE entity_id = ANY($1)",
      keys);
  const double elapsed = seconds_since(start);
  std::printf("  floor: %zu identity rows, %zu period rows fetched in %.3f s\n", identity_rows, period_rows, elapsed);
  duckdb_disconnect(&con);
  duckdb_close(&db);
  return elapsed;
}

}  // namespace vordak::bench
