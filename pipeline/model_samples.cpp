#include "pipeline/model_samples.h"

#include <algorithm>

#include "pipeline/flows.h"

namespace vordak::pipeline {

std::size_t BandScale::band(double score) const {
  return static_cast<std::size_t>(std::upper_bound(edges.begin(), edges.end(), score) - edges.begin());
}

void Confusion::add(bool alarm, bool event) {
  if (alarm) ++(event ? tp : fp);
  else ++(event ? fn : tn);
}

void Sample::expect_deciles(std::size_t firms) { binner_.emplace(firms); }

void Sample::add(double score, bool event, const std::optional<double>& threshold) {
  if (groups_.empty() || score != last_score_) groups_.emplace_back();
  ++(event ? groups_.back().positives : groups_.back().negatives);
  last_score_ = score;
  ++size_;
  events_ += event ? 1 : 0;
  squared_errors_ += (score - (event ? 1.0 : 0.0)) * (score - (event ? 1.0 : 0.0));
  if (threshold) confusion_.add(score >= *threshold, event);
  if (binner_) binner_->add(score, event);
}

ModelSamples collect_samples(const FirmPeriods& firms, const ModelScores& scores, const BandScale& scale,
                             const std::optional<double>& threshold) {
  const std::size_t count = firms.periods.size();
  ModelSamples out;
  out.periods.resize(count);
  for (PeriodSample& period : out.periods) {
    period.distribution.assign(scale.bands(), 0);
    period.bands.assign(scale.bands(), {});
  }
  out.horizons.resize(HORIZON_MONTHS.size());
  out.segments.resize(FLOW_SEGMENTS.size());
  out.cell_bands.assign(firms.states.size(), -1);
  for (std::size_t cell = 0; cell < firms.states.size(); ++cell) {
    if (firms.states[cell] == FirmState::kYi) out.cell_bands[cell] = static_cast<std::int8_t>(scale.bands());
  }
  // The firm counts at t when known and not in "YI" there; it is measured against t+1
  // when its state is known there.
  const auto next_known = [&](std::size_t firm, std::size_t p) {
    return p + 1 < count && firms.state(firm, p + 1) != FirmState::kUnknown;
  };

  if (scale.probability) {
    std::vector<std::size_t> sizes(count, 0);
    for (const ScoredCell& scored : scores) {
      const std::size_t cell = scored.cell;
      if (firms.states[cell] == FirmState::kNotYi && next_known(cell / count, cell % count)) ++sizes[cell % count];
    }
    std::size_t pooled = 0;
    for (std::size_t p = 0; p < count; ++p) {
      out.periods[p].sample.expect_deciles(sizes[p]);
      pooled += sizes[p];
    }
    out.pooled.expect_deciles(pooled);
  }

  std::vector<std::vector<bool>> horizon_seen(HORIZON_MONTHS.size(), std::vector<bool>(count, false));
  for (const ScoredCell& scored : scores) {
    const std::size_t cell = scored.cell;
    const std::size_t firm = cell / count, p = cell % count;
    PeriodSample& period = out.periods[p];
    if (firms.states[cell] == FirmState::kUnknown) ++period.state_unknown;
    if (firms.states[cell] != FirmState::kNotYi) continue;
    const double score = scored.score;
    const std::size_t band = scale.band(score);
    out.cell_bands[cell] = static_cast<std::int8_t>(band);
    ++period.distribution[band];
    for (std::size_t k = 0; firms.months_known && k < HORIZON_MONTHS.size(); ++k) {
      if (!firms.counts_at_horizon(cell, k)) continue;
      out.horizons[k].add(score, firms.event_at_horizon(cell, k), threshold);
      horizon_seen[k][p] = true;
    }
    if (!next_known(firm, p)) {
      if (p + 1 < count) ++period.next_unknown;
      continue;
    }
    const bool event = firms.state(firm, p + 1) == FirmState::kYi;
    period.sample.add(score, event, threshold);
    BandTally& tally = period.bands[band];
    ++tally.firms;
    tally.events += event ? 1 : 0;
    tally.score_sum += score;
    out.pooled.add(score, event, threshold);
    if (firms.segments[firm] > 0) out.segments[static_cast<std::size_t>(firms.segments[firm])].add(score, event, threshold);
  }
  for (const std::vector<bool>& seen : horizon_seen) {
    out.horizon_periods.push_back(static_cast<std::size_t>(std::count(seen.begin(), seen.end(), true)));
  }
  return out;
}

}  // namespace vordak::pipeline
