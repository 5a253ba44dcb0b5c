#pragma once

// The model's main drivers per firm, as the ml_predict step explains its predictions.

#include <cstdint>
#include <string>
#include <unordered_map>

#include "core/json_writer.h"
#include "pipeline/duckdb_connection.h"

namespace vordak::pipeline {

// The drivers in ml_yi_aciklama(entity_id, sira, ozellik, katki) by firm, each firm's as
// the compact JSON text [[ozellik, katki], ...] in "sira" order: every edition writes it
// as it stands. Empty when the table is missing: the firm panel then says that the firm
// has no explanation. A table that cannot be read fails the run with a DatabaseError
// naming it.
std::unordered_map<std::int64_t, std::string> read_ml_drivers(Connection& con);

}  // namespace vordak::pipeline
