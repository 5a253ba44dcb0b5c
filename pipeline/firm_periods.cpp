#include "pipeline/firm_periods.h"

#include <climits>
#include <cmath>
#include <unordered_set>

#include "pipeline/cleaning.h"
#include "pipeline/entity_keys.h"
#include "pipeline/flows.h"

namespace vordak::pipeline {

namespace {

FirmState state_of(std::int8_t band) {
  if (band == kNoBand) return FirmState::kUnknown;
  return band == kYiBand ? FirmState::kYi : FirmState::kNotYi;
}

// The horizon bits of one firm's cells, from its last period backwards: `next_yi` and
// `next_unknown` are the first month after the current period in which the firm is in
// "YI", and in which its state is unknown (a month without a period counts as unknown).
// A horizon that reaches past the data counts nobody, so that its events are not counted
// without the firms that stayed out of "YI".
void mark_horizons(FirmPeriods& data, const std::vector<int>& months, std::size_t firm) {
  const std::size_t count = data.periods.size();
  int next_yi = INT_MAX, next_unknown = months[count - 1] + 1;
  for (std::size_t p = count; p-- > 0;) {
    std::uint8_t bits = 0;
    for (std::size_t k = 0; k < HORIZON_MONTHS.size(); ++k) {
      const int end = months[p] + HORIZON_MONTHS[k];
      if (end > months[count - 1]) continue;
      const bool event = next_yi <= end;
      if (event || next_unknown > end) bits |= static_cast<std::uint8_t>(1u << (2 * k));
      if (event) bits |= static_cast<std::uint8_t>(1u << (2 * k + 1));
    }
    data.horizons[data.cell(firm, p)] = bits;
    if (p == 0) break;
    const FirmState state = data.state(firm, p);
    if (state == FirmState::kYi) next_yi = months[p];
    if (state == FirmState::kUnknown) next_unknown = months[p];
    if (months[p] - months[p - 1] > 1) next_unknown = months[p - 1] + 1;
  }
}

}  // namespace

std::optional<int> label_month(const std::string& label) {
  std::string digits;
  for (char c : label) {
    if (c >= '0' && c <= '9' && digits.size() < 6) digits += c;
  }
  if (digits.size() < 6) return std::nullopt;
  const int year = std::stoi(digits.substr(0, 4)), month = std::stoi(digits.substr(4, 2));
  if (month < 1 || month > 12) return std::nullopt;
  return year * 12 + month - 1;
}

double FirmPeriods::exposure(std::size_t firm, std::size_t period) const {
  const Column* risk = risk_columns[period];
  const std::optional<double> value = risk == nullptr ? std::nullopt : risk->number(rows[firm]);
  return value && std::isfinite(*value) ? std::abs(*value) : 0.0;
}

FirmPeriods firm_periods(const Scoreboard& scoreboard) {
  FirmPeriods data;
  data.periods = period_labels(scoreboard.meta);
  const Table& rows = scoreboard.rows;
  const Column* muta = rows.find("muta");
  const std::size_t count = data.periods.size();
  if (muta == nullptr || count == 0) return data;

  std::vector<std::size_t>& row_of_firm = data.rows;
  std::unordered_set<std::int64_t> seen;
  for (std::size_t row = 0; row < rows.num_rows(); ++row) {
    const std::optional<std::int64_t> key = entity_key(*muta, row);
    if (key && seen.insert(*key).second) {
      data.keys.push_back(*key);
      row_of_firm.push_back(row);
    }
  }
  data.firms = row_of_firm.size();
  data.states.assign(data.firms * count, FirmState::kUnknown);
  for (std::size_t p = 0; p < count; ++p) {
    if (const Column* scores = rows.find("vrd" + data.periods[p])) {
      const std::vector<std::int8_t> bands = band_codes(*scores);
      for (std::size_t f = 0; f < data.firms; ++f) data.states[data.cell(f, p)] = state_of(bands[row_of_firm[f]]);
    }
    data.risk_columns.push_back(rows.find("r" + data.periods[p]));
  }
  data.segments.assign(data.firms, -1);
  if (const Column* segment = rows.find("segment"); segment != nullptr && segment->kind() == ColumnKind::kText) {
    for (std::size_t f = 0; f < data.firms; ++f) {
      if (segment->is_null(row_of_firm[f])) continue;
      for (std::size_t s = 1; s < FLOW_SEGMENTS.size(); ++s) {
        if (segment->text(row_of_firm[f]) == FLOW_SEGMENTS[s]) data.segments[f] = static_cast<std::int8_t>(s);
      }
    }
  }

  std::vector<int> months;
  for (const std::string& label : data.periods) {
    const std::optional<int> month = label_month(label);
    if (!month || (!months.empty() && *month <= months.back())) break;
    months.push_back(*month);
  }
  data.horizons.assign(data.firms * count, 0);
  data.months_known = months.size() == count;
  if (data.months_known) {
    for (std::size_t f = 0; f < data.firms; ++f) mark_horizons(data, months, f);
  }
  return data;
}

}  // namespace vordak::pipeline
