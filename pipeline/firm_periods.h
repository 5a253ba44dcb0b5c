#pragma once

// Every scoreboard firm's state in every period, read the way the model measures define
// their event. A firm counts for period t when its state is known and not "YI" at t and
// known at t+1 (the next period of the data); the event is being in "YI" at t+1. A state
// is known when the period has a score or "YI" for the firm. For horizons of h months
// (3, 6, 12), the event is reaching "YI" within the h months after t, and a firm without
// it counts only when its state is known in every one of those months; periods whose
// horizon reaches past the data count nobody.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

enum class FirmState : std::int8_t { kUnknown, kNotYi, kYi };

// The horizons in months of the backtests beside the main one-period event.
inline constexpr std::array<int, 3> HORIZON_MONTHS = {3, 6, 12};

struct FirmPeriods {
  std::vector<std::string> periods;  // labels, oldest first
  std::size_t firms = 0;
  std::vector<std::int64_t> keys;     // per firm, its key ("muta")
  std::vector<FirmState> states;      // [firm * periods + p]
  // Per period, the scoreboard's risk column ("r" + p; null when it has none), and per
  // firm its scoreboard row: the exposure of a cell, read only for migrations.
  std::vector<const Column*> risk_columns;
  std::vector<std::size_t> rows;
  std::vector<std::int8_t> segments;  // per firm: index into FLOW_SEGMENTS (1 to 4), or -1
  // Per cell, for every horizon k of HORIZON_MONTHS: bit 2k set when the firm counts at
  // that horizon, bit 2k + 1 when it reached "YI" within it. All zero when the period
  // labels do not read as months.
  std::vector<std::uint8_t> horizons;
  bool months_known = false;  // every label reads as a year and month

  std::size_t cell(std::size_t firm, std::size_t period) const { return firm * periods.size() + period; }
  FirmState state(std::size_t firm, std::size_t period) const { return states[cell(firm, period)]; }
  // |kombine_risk| of the firm in the period, 0 when missing.
  double exposure(std::size_t firm, std::size_t period) const;
  bool counts_at_horizon(std::size_t cell_index, std::size_t k) const { return horizons[cell_index] >> (2 * k) & 1; }
  bool event_at_horizon(std::size_t cell_index, std::size_t k) const { return horizons[cell_index] >> (2 * k + 1) & 1; }
};

// The states of the scoreboard's rows ("vrd" + p: a score, "YI" or "-1", or nothing),
// their exposure ("r" + p) and segment. A row whose "muta" is no firm key is left out.
// The result reads the scoreboard's risk columns: it must not outlive the scoreboard.
FirmPeriods firm_periods(const Scoreboard& scoreboard);

// The months since year 0 of a period label whose first six digits are a year and a
// month ("2024-06", 202406, "2024-06-30"); nullopt for anything else.
std::optional<int> label_month(const std::string& label);

}  // namespace vordak::pipeline
