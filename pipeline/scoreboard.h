#pragma once

// The scoreboard document: "meta", then "rows" (one row record per scored firm, kept
// column-wise as a Table), then whatever members later builders add ("flow_matrix",
// "band_snapshot", then "diag_index" as text), in the order they were added.

#include <string>
#include <utility>
#include <vector>

#include "core/json_writer.h"
#include "core/sink.h"
#include "pipeline/duckdb_connection.h"
#include "pipeline/table.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::pipeline {

struct Scoreboard {
  ordered_json meta = ordered_json::object();
  Table rows;
  // Members written after "rows", in insertion order.
  ordered_json extra = ordered_json::object();
  // Members written after those, each held as its compact JSON text: large ones that
  // are only ever written.
  std::vector<std::pair<std::string, std::string>> text_members;
};

// Builds the scoreboard from fact_periodic, dim_entity, map_identity and ref_sube_bolge
// with seven queries, all per-period work done on whole columns. Rows are ordered by
// "son_risk", descending (equal values keep the database's order). A database without
// periods gives empty "meta" and "rows" (after a warning line on `sink`); one without
// scored firms gives "meta" with "donemler", "son_donem" and "n_muta" 0. Throws
// DatabaseError naming a missing table or column, std::runtime_error for an entity_id
// that is not an integer.
Scoreboard build_scoreboard(Connection& con, Sink& sink);

// Writes the document: "meta", "rows" (absent cells left out of their row), then the
// extra members and the text members.
void write_scoreboard(JsonWriter& writer, const Scoreboard& scoreboard);

// The period labels of "meta"."donemler" in their text form (empty when absent).
std::vector<std::string> period_labels(const ordered_json& meta, const char* member = "donemler");

}  // namespace vordak::pipeline

VORDAK_PUBLIC_END
