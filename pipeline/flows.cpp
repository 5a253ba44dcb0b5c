#include "pipeline/flows.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "pipeline/cleaning.h"

namespace vordak::pipeline {

namespace {

constexpr std::size_t kSegments = FLOW_SEGMENTS.size();
constexpr std::size_t kBands = FLOW_BANDS.size();

ordered_json periods_of(const Scoreboard& scoreboard) {
  const ordered_json& meta = scoreboard.meta;
  if (meta.is_object() && meta.contains("donemler") && meta["donemler"].is_array()) return meta["donemler"];
  return ordered_json::array();
}

ordered_json degenerate() { return ordered_json{{"ALL", ordered_json::array()}}; }

ordered_json empty_segments() {
  ordered_json result = ordered_json::object();
  for (std::string_view segment : FLOW_SEGMENTS) result[std::string(segment)] = ordered_json::array();
  return result;
}

// Segment index of every row (0 = none besides "ALL").
std::vector<std::uint8_t> segment_of_rows(const Table& rows) {
  const Column* segment = rows.find("segment");
  if (segment == nullptr) throw std::runtime_error("scoreboard rows have no member \"segment\"");
  std::vector<std::uint8_t> result(rows.num_rows(), 0);
  for (std::size_t i = 0; i < result.size(); ++i) {
    if (segment->is_null(i)) continue;
    std::string text;
    if (segment->kind() == ColumnKind::kText) text = segment->text(i);
    else text = text_form(segment->to_json(i));
    for (std::size_t s = 1; s < kSegments; ++s) {
      if (text == FLOW_SEGMENTS[s]) result[i] = static_cast<std::uint8_t>(s);
    }
  }
  return result;
}

// Absolute risk of every row in one period: unreadable, null, non-finite or absent is 0.
std::vector<double> risks_of(const Table& rows, const std::string& label) {
  std::vector<double> result(rows.num_rows(), 0.0);
  const Column* risk = rows.find("r" + label);
  if (risk == nullptr) return result;
  for (std::size_t i = 0; i < result.size(); ++i) {
    std::optional<double> number = risk->number(i);
    if (!number && !risk->is_null(i)) {
      if (risk->kind() == ColumnKind::kText) number = parse_number(risk->text(i));
      else if (risk->json(i).is_string()) number = parse_number(risk->json(i).get_ref<const std::string&>());
    }
    if (number && std::isfinite(*number)) result[i] = std::fabs(*number);
  }
  return result;
}

// The number of rows of each group.
std::vector<std::size_t> group_sizes(const Groupings& groupings, std::size_t groups) {
  std::vector<std::size_t> sizes(groups, 0);
  for (const std::vector<std::uint32_t>& grouping : groupings) {
    for (const std::uint32_t group : grouping) {
      if (group != kNoGroup) ++sizes[group];
    }
  }
  return sizes;
}

// Firm counts and summed risks per group, segment and cell.
template <std::size_t kCells>
struct Tally {
  explicit Tally(std::size_t groups) : counts(groups * kSegments * kCells, 0), sums(groups * kSegments * kCells, 0.0) {}
  void add(std::size_t group, std::size_t segment, std::size_t cell, double risk) {
    const std::size_t at = (group * kSegments + segment) * kCells + cell;
    ++counts[at];
    sums[at] += risk;
  }
  std::vector<std::int64_t> counts;
  std::vector<double> sums;
};

}  // namespace

PeriodBands period_bands(const Scoreboard& scoreboard) {
  PeriodBands bands;
  for (const ordered_json& donem : periods_of(scoreboard)) {
    const Column* scores = scoreboard.rows.find("vrd" + text_form(donem));
    bands.push_back(scores == nullptr ? std::vector<std::int8_t>() : band_codes(*scores));
  }
  return bands;
}

ordered_json build_flow_matrix(const Scoreboard& scoreboard, long long max_periods) {
  return flow_matrices_by_group(scoreboard, {std::vector<std::uint32_t>(scoreboard.rows.num_rows(), 0)}, 1,
                                period_bands(scoreboard), max_periods)[0];
}

ordered_json build_band_snapshot(const Scoreboard& scoreboard) {
  return band_snapshots_by_group(scoreboard, {std::vector<std::uint32_t>(scoreboard.rows.num_rows(), 0)}, 1,
                                 period_bands(scoreboard))[0];
}

std::vector<ordered_json> flow_matrices_by_group(const Scoreboard& scoreboard, const Groupings& groupings,
                                                 std::size_t groups, const PeriodBands& bands, long long max_periods) {
  const ordered_json donemler = periods_of(scoreboard);
  const Table& rows = scoreboard.rows;
  const std::vector<std::size_t> sizes = group_sizes(groupings, groups);
  std::vector<ordered_json> results(groups, degenerate());
  if (donemler.size() < 2 || std::all_of(sizes.begin(), sizes.end(), [](std::size_t n) { return n == 0; })) return results;
  for (std::size_t g = 0; g < groups; ++g) {
    if (sizes[g] != 0) results[g] = empty_segments();
  }
  std::size_t first = 0;
  const long long count = static_cast<long long>(donemler.size());
  if (count > max_periods) {
    // The newest max_periods periods; zero and negative windows slice as Python does.
    first = max_periods > 0 ? static_cast<std::size_t>(count - max_periods)
                            : static_cast<std::size_t>(std::min(count, -max_periods));
  }
  const std::vector<std::uint8_t> segments = segment_of_rows(rows);
  for (std::size_t i = first; i + 1 < donemler.size(); ++i) {
    const ordered_json& from = donemler[i];
    const ordered_json& to = donemler[i + 1];
    if (bands[i].empty() || bands[i + 1].empty()) {
      for (std::size_t g = 0; g < groups; ++g) {
        if (sizes[g] == 0) continue;
        for (auto& [segment, list] : results[g].items()) {
          list.push_back({{"from", from}, {"to", to}, {"flows", ordered_json::array()}});
        }
      }
      continue;
    }
    const std::vector<std::int8_t>& from_bands = bands[i];
    const std::vector<std::int8_t>& to_bands = bands[i + 1];
    const std::vector<double> risks = risks_of(rows, text_form(to));
    Tally<kBands * kBands> tally(groups);
    for (const std::vector<std::uint32_t>& grouping : groupings) {
      for (std::size_t r = 0; r < rows.num_rows(); ++r) {
        const std::uint32_t group = grouping[r];
        if (group == kNoGroup || from_bands[r] == kNoBand || to_bands[r] == kNoBand) continue;
        const std::size_t cell = static_cast<std::size_t>(from_bands[r]) * kBands + static_cast<std::size_t>(to_bands[r]);
        tally.add(group, 0, cell, risks[r]);
        if (segments[r] != 0) tally.add(group, segments[r], cell, risks[r]);
      }
    }
    for (std::size_t g = 0; g < groups; ++g) {
      if (sizes[g] == 0) continue;
      for (std::size_t s = 0; s < kSegments; ++s) {
        ordered_json flows = ordered_json::array();
        for (std::size_t cell = 0; cell < kBands * kBands; ++cell) {
          const std::size_t at = (g * kSegments + s) * kBands * kBands + cell;
          if (tally.counts[at] == 0) continue;
          flows.push_back({{"from_band", FLOW_BANDS[cell / kBands]},
                           {"to_band", FLOW_BANDS[cell % kBands]},
                           {"risk_tl", whole_sum(tally.sums[at])},
                           {"count", tally.counts[at]}});
        }
        results[g][std::string(FLOW_SEGMENTS[s])].push_back({{"from", from}, {"to", to}, {"flows", std::move(flows)}});
      }
    }
  }
  return results;
}

std::vector<ordered_json> band_snapshots_by_group(const Scoreboard& scoreboard, const Groupings& groupings,
                                                  std::size_t groups, const PeriodBands& period_band_codes) {
  const ordered_json donemler = periods_of(scoreboard);
  const Table& rows = scoreboard.rows;
  const std::vector<std::size_t> sizes = group_sizes(groupings, groups);
  std::vector<ordered_json> results(groups, degenerate());
  if (donemler.empty() || std::all_of(sizes.begin(), sizes.end(), [](std::size_t n) { return n == 0; })) return results;
  for (std::size_t g = 0; g < groups; ++g) {
    if (sizes[g] != 0) results[g] = empty_segments();
  }
  const std::vector<std::uint8_t> segments = segment_of_rows(rows);
  for (std::size_t p = 0; p < donemler.size(); ++p) {
    const ordered_json& donem = donemler[p];
    const std::string label = text_form(donem);
    if (period_band_codes[p].empty()) {
      for (std::size_t g = 0; g < groups; ++g) {
        if (sizes[g] == 0) continue;
        for (auto& [segment, list] : results[g].items()) list.push_back({{"donem", donem}, {"bands", ordered_json::object()}});
      }
      continue;
    }
    const std::vector<std::int8_t>& bands = period_band_codes[p];
    const std::vector<double> risks = risks_of(rows, label);
    Tally<kBands> tally(groups);
    for (const std::vector<std::uint32_t>& grouping : groupings) {
      for (std::size_t r = 0; r < rows.num_rows(); ++r) {
        const std::uint32_t group = grouping[r];
        if (group == kNoGroup || bands[r] == kNoBand) continue;
        tally.add(group, 0, static_cast<std::size_t>(bands[r]), risks[r]);
        if (segments[r] != 0) tally.add(group, segments[r], static_cast<std::size_t>(bands[r]), risks[r]);
      }
    }
    for (std::size_t g = 0; g < groups; ++g) {
      if (sizes[g] == 0) continue;
      for (std::size_t s = 0; s < kSegments; ++s) {
        ordered_json by_band = ordered_json::object();
        for (std::size_t b = 0; b < kBands; ++b) {
          const std::size_t at = (g * kSegments + s) * kBands + b;
          if (tally.counts[at] == 0) continue;
          by_band[std::string(FLOW_BANDS[b])] = {{"risk_tl", whole_sum(tally.sums[at])}, {"count", tally.counts[at]}};
        }
        results[g][std::string(FLOW_SEGMENTS[s])].push_back({{"donem", donem}, {"bands", std::move(by_band)}});
      }
    }
  }
  return results;
}

std::vector<std::string> periods_with_too_large_risk(const Scoreboard& scoreboard) {
  std::vector<std::string> found;
  for (const ordered_json& donem : periods_of(scoreboard)) {
    const std::string label = text_form(donem);
    double total = 0;
    for (const double risk : risks_of(scoreboard.rows, label)) total += risk;
    if (!fits_int64(total)) found.push_back(label);
  }
  return found;
}

}  // namespace vordak::pipeline
