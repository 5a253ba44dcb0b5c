#include "pipeline/flows.h"

#include <cmath>
#include <set>
#include <stdexcept>
#include <string>

#include "core/sink.h"
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

}  // namespace

ordered_json build_flow_matrix(const Scoreboard& scoreboard, long long max_periods) {
  const ordered_json donemler = periods_of(scoreboard);
  const Table& rows = scoreboard.rows;
  if (donemler.size() < 2 || rows.num_rows() == 0) return degenerate();
  std::size_t first = 0;
  const long long count = static_cast<long long>(donemler.size());
  if (count > max_periods) {
    // The newest max_periods periods; zero and negative windows slice as Python does.
    first = max_periods > 0 ? static_cast<std::size_t>(count - max_periods)
                            : static_cast<std::size_t>(std::min(count, -max_periods));
  }
  const std::vector<std::uint8_t> segments = segment_of_rows(rows);
  ordered_json result = empty_segments();
  for (std::size_t i = first; i + 1 < donemler.size(); ++i) {
    const ordered_json& from = donemler[i];
    const ordered_json& to = donemler[i + 1];
    const Column* from_scores = rows.find("vrd" + text_form(from));
    const Column* to_scores = rows.find("vrd" + text_form(to));
    if (from_scores == nullptr || to_scores == nullptr) {
      for (auto& [segment, list] : result.items()) list.push_back({{"from", from}, {"to", to}, {"flows", ordered_json::array()}});
      continue;
    }
    const std::vector<std::int8_t> from_bands = band_codes(*from_scores);
    const std::vector<std::int8_t> to_bands = band_codes(*to_scores);
    const std::vector<double> risks = risks_of(rows, text_form(to));
    std::int64_t counts[kSegments][kBands][kBands] = {};
    double sums[kSegments][kBands][kBands] = {};
    for (std::size_t r = 0; r < rows.num_rows(); ++r) {
      if (from_bands[r] == kNoBand || to_bands[r] == kNoBand) continue;
      for (std::size_t s : {std::size_t{0}, std::size_t{segments[r]}}) {
        ++counts[s][from_bands[r]][to_bands[r]];
        sums[s][from_bands[r]][to_bands[r]] += risks[r];
        if (segments[r] == 0) break;
      }
    }
    for (std::size_t s = 0; s < kSegments; ++s) {
      ordered_json flows = ordered_json::array();
      for (std::size_t a = 0; a < kBands; ++a) {
        for (std::size_t b = 0; b < kBands; ++b) {
          if (counts[s][a][b] == 0) continue;
          flows.push_back({{"from_band", FLOW_BANDS[a]},
                           {"to_band", FLOW_BANDS[b]},
                           {"risk_tl", whole_sum(sums[s][a][b])},
                           {"count", counts[s][a][b]}});
        }
      }
      result[std::string(FLOW_SEGMENTS[s])].push_back({{"from", from}, {"to", to}, {"flows", std::move(flows)}});
    }
  }
  return result;
}

ordered_json build_band_snapshot(const Scoreboard& scoreboard) {
  const ordered_json donemler = periods_of(scoreboard);
  const Table& rows = scoreboard.rows;
  if (donemler.empty() || rows.num_rows() == 0) return degenerate();
  const std::vector<std::uint8_t> segments = segment_of_rows(rows);
  ordered_json result = empty_segments();
  for (const ordered_json& donem : donemler) {
    const std::string label = text_form(donem);
    const Column* scores = rows.find("vrd" + label);
    if (scores == nullptr) {
      for (auto& [segment, list] : result.items()) list.push_back({{"donem", donem}, {"bands", ordered_json::object()}});
      continue;
    }
    const std::vector<std::int8_t> bands = band_codes(*scores);
    const std::vector<double> risks = risks_of(rows, label);
    std::int64_t counts[kSegments][kBands] = {};
    double sums[kSegments][kBands] = {};
    for (std::size_t r = 0; r < rows.num_rows(); ++r) {
      if (bands[r] == kNoBand) continue;
      ++counts[0][bands[r]];
      sums[0][bands[r]] += risks[r];
      if (segments[r] != 0) {
        ++counts[segments[r]][bands[r]];
        sums[segments[r]][bands[r]] += risks[r];
      }
    }
    for (std::size_t s = 0; s < kSegments; ++s) {
      ordered_json by_band = ordered_json::object();
      for (std::size_t b = 0; b < kBands; ++b) {
        if (counts[s][b] == 0) continue;
        by_band[std::string(FLOW_BANDS[b])] = {{"risk_tl", whole_sum(sums[s][b])}, {"count", counts[s][b]}};
      }
      result[std::string(FLOW_SEGMENTS[s])].push_back({{"donem", donem}, {"bands", std::move(by_band)}});
    }
  }
  return result;
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

void strip_periods(Scoreboard& scoreboard, const std::vector<ordered_json>& referans_tarih_list, Sink& sink) {
  std::set<std::string> reference;
  for (const ordered_json& value : referans_tarih_list) reference.insert(text_form(value));
  const ordered_json all = periods_of(scoreboard);
  ordered_json kept = ordered_json::array();
  std::vector<std::string> removed;
  for (const ordered_json& donem : all) {
    const std::string label = text_form(donem);
    if (reference.count(label) != 0) kept.push_back(donem);
    else removed.push_back(label);
  }
  if (removed.empty()) return;
  for (const std::string& label : removed) {
    for (const char* prefix : {"vrd", "r", "rd", "df"}) scoreboard.rows.remove_column(prefix + label);
  }
  ordered_json& meta = scoreboard.meta;
  ordered_json risk_kept = ordered_json::array();
  if (meta.contains("risk_donemler") && meta["risk_donemler"].is_array()) {
    for (const ordered_json& donem : meta["risk_donemler"]) {
      if (reference.count(text_form(donem)) != 0) risk_kept.push_back(donem);
    }
  }
  meta["donemler"] = kept;
  meta["risk_donemler"] = risk_kept;
  if (!kept.empty()) meta["son_donem"] = kept.back();
  sink.line("    dönem filtresi: " + std::to_string(all.size()) + " -> " + std::to_string(kept.size()) + " dönem");
}

}  // namespace vordak::pipeline
