#pragma once

// The samples one model's measures are computed from, filled in a single pass over its
// scored cells in ascending score order (so every sample comes sorted, and no sample is
// sorted again): per period the firms counted under the event definition (firm_periods.h),
// all periods pooled, each horizon of HORIZON_MONTHS pooled and each segment pooled.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/auc_delong.h"
#include "pipeline/firm_periods.h"
#include "pipeline/model_metrics.h"
#include "pipeline/model_scores.h"

namespace vordak::pipeline {

// A score's bands: band k holds the scores from edges[k - 1] (inclusive) up to edges[k].
struct BandScale {
  std::vector<double> edges;
  std::vector<std::string> labels;  // one per band, best (lowest score) first
  bool probability = false;

  std::size_t bands() const { return edges.size() + 1; }
  std::size_t band(double score) const;
};

// Outcome counts at an alarm threshold (alarm: a score at or above it).
struct Confusion {
  std::size_t tp = 0, fp = 0, fn = 0, tn = 0;
  void add(bool alarm, bool event);
};

// One sample: its distinct scores' groups for DeLong's AUC, its outcome counts at the
// alarm threshold, its squared errors (a probability's Brier score) and, once told its
// size, its calibration deciles. Firms must be added in ascending score order.
class Sample {
 public:
  void expect_deciles(std::size_t firms);
  void add(double score, bool event, const std::optional<double>& threshold);

  std::size_t size() const { return size_; }
  std::size_t events() const { return events_; }
  std::optional<AucEstimate> auc() const { return delong_auc(groups_); }
  const Confusion& confusion() const { return confusion_; }
  double brier() const { return size_ == 0 ? 0 : squared_errors_ / static_cast<double>(size_); }
  std::vector<CalibrationBin> deciles() const { return binner_ ? binner_->result() : std::vector<CalibrationBin>(); }

 private:
  std::vector<ScoreGroup> groups_;
  double last_score_ = 0;
  std::size_t size_ = 0, events_ = 0;
  double squared_errors_ = 0;
  Confusion confusion_;
  std::optional<CalibrationBinner> binner_;
};

// Per band of one period: the firms whose next period is known, their YI count and the
// sum of their scores (probabilities), for the Jeffreys test.
struct BandTally {
  std::size_t firms = 0, events = 0;
  double score_sum = 0;
};

struct PeriodSample {
  Sample sample;                          // counted firms whose next period is known
  std::vector<std::size_t> distribution;  // counted firms per band, next period known or not
  std::vector<BandTally> bands;
  std::size_t next_unknown = 0;   // counted firms whose next period is unknown (not in the last period)
  std::size_t state_unknown = 0;  // firms with a score but no known state
};

struct ModelSamples {
  std::vector<PeriodSample> periods;
  Sample pooled;
  std::vector<Sample> horizons;               // per HORIZON_MONTHS
  std::vector<std::size_t> horizon_periods;   // per horizon: periods with a firm counted at it
  std::vector<Sample> segments;               // per FLOW_SEGMENTS entry (0, "ALL", unused)
  // [cell]: the band of each counted firm, bands() for a firm in "YI", -1 otherwise;
  // what the migration between periods reads.
  std::vector<std::int8_t> cell_bands;
};

// Fills the samples of one model. `threshold` is its alarm threshold when known;
// deciles are kept for probabilities.
ModelSamples collect_samples(const FirmPeriods& firms, const ModelScores& scores, const BandScale& scale,
                             const std::optional<double>& threshold);

}  // namespace vordak::pipeline
