#include "pipeline/model_metrics.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

namespace vordak::pipeline {

namespace {

void require_same_size(std::size_t a, std::size_t b, const char* what) {
  if (a != b) {
    throw std::invalid_argument(std::string(what) + ": " + std::to_string(a) + " values against " +
                                std::to_string(b));
  }
}

// Positions ordered by value, equal values keeping their input order.
std::vector<std::size_t> ascending_order(const std::vector<double>& values) {
  std::vector<std::size_t> order(values.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
  return order;
}

}  // namespace

std::optional<double> roc_auc(const std::vector<double>& scores, const std::vector<bool>& outcomes) {
  require_same_size(scores.size(), outcomes.size(), "roc_auc");
  const auto positives = static_cast<double>(std::count(outcomes.begin(), outcomes.end(), true));
  const double negatives = static_cast<double>(outcomes.size()) - positives;
  if (positives == 0 || negatives == 0) return std::nullopt;

  // The rank sum of the positives, tied scores sharing their mean rank.
  const std::vector<std::size_t> order = ascending_order(scores);
  double positive_rank_sum = 0;
  for (std::size_t first = 0; first < order.size();) {
    std::size_t last = first;
    while (last + 1 < order.size() && scores[order[last + 1]] == scores[order[first]]) ++last;
    const double mean_rank = (static_cast<double>(first + last) + 2.0) / 2.0;
    for (std::size_t k = first; k <= last; ++k) {
      if (outcomes[order[k]]) positive_rank_sum += mean_rank;
    }
    first = last + 1;
  }
  return (positive_rank_sum - positives * (positives + 1) / 2) / (positives * negatives);
}

double gini_of(double auc) { return 2 * auc - 1; }

std::optional<double> population_stability(const std::vector<std::size_t>& expected,
                                           const std::vector<std::size_t>& actual) {
  require_same_size(expected.size(), actual.size(), "population_stability");
  const auto expected_total = static_cast<double>(std::accumulate(expected.begin(), expected.end(), std::size_t{0}));
  const auto actual_total = static_cast<double>(std::accumulate(actual.begin(), actual.end(), std::size_t{0}));
  if (expected_total == 0 || actual_total == 0) return std::nullopt;
  double psi = 0;
  for (std::size_t band = 0; band < expected.size(); ++band) {
    const double e = std::max(static_cast<double>(expected[band]) / expected_total, PSI_SHARE_FLOOR);
    const double a = std::max(static_cast<double>(actual[band]) / actual_total, PSI_SHARE_FLOOR);
    psi += (a - e) * std::log(a / e);
  }
  return psi;
}

Migration::Migration(std::size_t bands)
    : counts_(bands, std::vector<std::size_t>(bands, 0)), exposure_(bands, std::vector<double>(bands, 0.0)) {}

void Migration::add(std::size_t from, std::size_t to, double exposure) {
  if (from >= bands() || to >= bands()) throw std::out_of_range("Migration::add: no band " + std::to_string(std::max(from, to)));
  ++counts_[from][to];
  exposure_[from][to] += exposure;
  if (to > from) {
    ++downgrades_;
    downgrade_exposure_ += exposure;
  } else if (to < from) {
    ++upgrades_;
    upgrade_exposure_ += exposure;
  } else {
    ++unchanged_;
  }
}

std::vector<std::vector<std::optional<double>>> Migration::rates() const {
  std::vector<std::vector<std::optional<double>>> rates(bands(), std::vector<std::optional<double>>(bands()));
  for (std::size_t from = 0; from < bands(); ++from) {
    const std::size_t total = std::accumulate(counts_[from].begin(), counts_[from].end(), std::size_t{0});
    if (total == 0) continue;
    for (std::size_t to = 0; to < bands(); ++to) {
      rates[from][to] = static_cast<double>(counts_[from][to]) / static_cast<double>(total);
    }
  }
  return rates;
}

std::vector<CalibrationBin> calibration_bins(const std::vector<double>& probabilities,
                                             const std::vector<bool>& outcomes, std::size_t bins) {
  require_same_size(probabilities.size(), outcomes.size(), "calibration_bins");
  if (bins == 0) throw std::invalid_argument("calibration_bins: no bins asked for");
  const std::vector<std::size_t> order = ascending_order(probabilities);
  const std::size_t n = order.size();
  std::vector<CalibrationBin> result;
  for (std::size_t k = 0; k < bins; ++k) {
    const std::size_t first = k * n / bins, end = (k + 1) * n / bins;
    if (first == end) continue;
    CalibrationBin bin;
    double sum = 0;
    for (std::size_t i = first; i < end; ++i) {
      sum += probabilities[order[i]];
      if (outcomes[order[i]]) ++bin.yi;
    }
    bin.firms = end - first;
    bin.mean_probability = sum / static_cast<double>(bin.firms);
    result.push_back(bin);
  }
  return result;
}

}  // namespace vordak::pipeline
