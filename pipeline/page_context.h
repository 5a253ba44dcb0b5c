#pragma once

// What a dashboard page says beside the scoreboard: when it was made, from which
// database file and from which seasons' tables, which model gave its YI probabilities, and each
// firm's main model drivers for the firm panel (read by
// ml_drivers.h). The mart run fills it; a page rendered without it leaves those parts out.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/env.h"
#include "core/json_writer.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::pipeline {

// The season whose run produced the tables behind each part of a page, by the step that
// writes them ("transform", "ml_predict", ...), in the order the page names them.
using StepSeasons = std::vector<std::pair<std::string, std::string>>;

struct PageContext {
  std::optional<TimePoint> generated_at;
  std::string database;  // the database file's name
  StepSeasons step_seasons;
  std::string ml_model;  // the id of the model that gave the YI probabilities, when known
  std::string region;  // the region code of a region's edition; empty for the others
  // Per firm key ("muta"), its drivers as compact JSON text [[feature, contribution], ...],
  // strongest first.
  std::unordered_map<std::int64_t, std::string> drivers;
};

// A moment as the page shows it, in local time: "08.12.2026 06:23".
std::string page_time_text(TimePoint time);

}  // namespace vordak::pipeline

VORDAK_PUBLIC_END
