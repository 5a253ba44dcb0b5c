#include "pipeline/model_metrics.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

namespace vordak::pipeline {

void require_same_size(std::size_t a, std::size_t b, const char* what) {
  if (a != b) {
    throw std::invalid_argument(std::string(what) + ": " + std::to_string(a) + " values against " +
                                std::to_string(b));
  }
}

std::vector<std::size_t> ascending_order(const std::vector<double>& values) {
  std::vector<std::size_t> order(values.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
  return order;
}

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

std::optional<double> herfindahl_index(const std::vector<std::size_t>& counts) {
  const auto total = static_cast<double>(std::accumulate(counts.begin(), counts.end(), std::size_t{0}));
  if (total == 0 || counts.size() < 2) return std::nullopt;
  double squares = 0;
  for (std::size_t count : counts) squares += std::pow(static_cast<double>(count) / total, 2);
  return 1 + std::log(squares) / std::log(static_cast<double>(counts.size()));
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
  CalibrationBinner binner(probabilities.size(), bins);
  for (const std::size_t i : ascending_order(probabilities)) binner.add(probabilities[i], outcomes[i]);
  return binner.result();
}

CalibrationBinner::CalibrationBinner(std::size_t firms, std::size_t bins)
    : firms_(firms), bins_(bins), groups_(bins), sums_(bins, 0.0) {
  if (bins == 0) throw std::invalid_argument("calibration_bins: no bins asked for");
}

void CalibrationBinner::add(double probability, bool outcome) {
  if (added_ >= firms_) throw std::out_of_range("CalibrationBinner: more than " + std::to_string(firms_) + " firms");
  // Position i belongs to the last group k whose first position k n / bins is at most i.
  std::size_t k = added_ * bins_ / firms_;
  while (k + 1 < bins_ && (k + 1) * firms_ / bins_ <= added_) ++k;
  while (k > 0 && k * firms_ / bins_ > added_) --k;
  ++groups_[k].firms;
  groups_[k].yi += outcome ? 1 : 0;
  sums_[k] += probability;
  ++added_;
}

std::vector<CalibrationBin> CalibrationBinner::result() const {
  std::vector<CalibrationBin> result;
  for (std::size_t k = 0; k < bins_; ++k) {
    if (groups_[k].firms == 0) continue;
    CalibrationBin bin = groups_[k];
    bin.mean_probability = sums_[k] / static_cast<double>(bin.firms);
    result.push_back(bin);
  }
  return result;
}

}  // namespace vordak::pipeline
