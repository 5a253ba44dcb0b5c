#pragma once

// What a dashboard page says beside the scoreboard: when it was made, from which
// database file, and each firm's main model drivers for the firm panel. The mart run
// fills it; a page rendered without it leaves those parts out.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "core/env.h"
#include "core/json_writer.h"
#include "pipeline/duckdb_connection.h"

namespace vordak::pipeline {

struct PageContext {
  std::optional<TimePoint> generated_at;
  std::string database;  // the database file's name
  // Per firm key ("muta"), its drivers as [[feature, contribution], ...], strongest first.
  std::unordered_map<std::int64_t, ordered_json> drivers;
};

// The drivers the ml_predict step left in ml_yi_aciklama(entity_id, sira, ozellik, katki),
// in "sira" order. Empty when the table is missing or cannot be read: the panel then says
// that the firm has no explanation.
std::unordered_map<std::int64_t, ordered_json> read_ml_drivers(Connection& con);

// A moment as the page shows it, in local time: "08.12.2026 06:23".
std::string page_time_text(TimePoint time);

}  // namespace vordak::pipeline
