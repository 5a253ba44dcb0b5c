#include "pipeline/auc_delong.h"

#include <algorithm>
#include <cmath>

#include "pipeline/distributions.h"
#include "pipeline/model_metrics.h"

namespace vordak::pipeline {

namespace {

// The distinct scores' groups in ascending order; `order` is the scores' ascending order.
template <typename Visit>
void for_each_tie_group(const std::vector<double>& scores, const std::vector<std::size_t>& order, Visit visit) {
  for (std::size_t first = 0; first < order.size();) {
    std::size_t end = first + 1;
    while (end < order.size() && scores[order[end]] == scores[order[first]]) ++end;
    visit(first, end);
    first = end;
  }
}

// Each firm's placement, in input order: for a positive the share of negatives it
// outranks, for a negative the share of positives that outrank it (ties count half).
std::vector<double> placements(const std::vector<double>& scores, const std::vector<bool>& outcomes,
                               std::size_t positives, std::size_t negatives) {
  const std::vector<std::size_t> order = ascending_order(scores);
  std::vector<double> placement(scores.size());
  std::size_t negatives_below = 0, positives_below = 0;
  for_each_tie_group(scores, order, [&](std::size_t first, std::size_t end) {
    std::size_t group_positives = 0;
    for (std::size_t k = first; k < end; ++k) group_positives += outcomes[order[k]] ? 1 : 0;
    const std::size_t group_negatives = end - first - group_positives;
    const double positive_place = (static_cast<double>(negatives_below) + group_negatives / 2.0) / static_cast<double>(negatives);
    const double positives_above = static_cast<double>(positives - positives_below - group_positives);
    const double negative_place = (positives_above + group_positives / 2.0) / static_cast<double>(positives);
    for (std::size_t k = first; k < end; ++k) placement[order[k]] = outcomes[order[k]] ? positive_place : negative_place;
    negatives_below += group_negatives;
    positives_below += group_positives;
  });
  return placement;
}

// Sample covariance of two equally long series (0 below two values).
double covariance(const std::vector<double>& a, const std::vector<double>& b, double mean_a, double mean_b) {
  if (a.size() < 2) return 0;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += (a[i] - mean_a) * (b[i] - mean_b);
  return sum / static_cast<double>(a.size() - 1);
}

double mean_of(const std::vector<double>& values) {
  double sum = 0;
  for (double value : values) sum += value;
  return sum / static_cast<double>(values.size());
}

}  // namespace

double AucEstimate::standard_error() const { return std::sqrt(variance); }
double AucEstimate::lower() const { return std::max(0.0, auc - Z_95 * standard_error()); }
double AucEstimate::upper() const { return std::min(1.0, auc + Z_95 * standard_error()); }

std::optional<AucEstimate> delong_auc(const std::vector<ScoreGroup>& ascending) {
  AucEstimate estimate;
  for (const ScoreGroup& group : ascending) {
    estimate.positives += group.positives;
    estimate.negatives += group.negatives;
  }
  const auto m = static_cast<double>(estimate.positives), n = static_cast<double>(estimate.negatives);
  if (estimate.positives == 0 || estimate.negatives == 0) return std::nullopt;
  // A positive's placement: negatives below it, plus half of those level with it.
  double below = 0, placement_sum = 0;
  for (const ScoreGroup& group : ascending) {
    placement_sum += static_cast<double>(group.positives) * (below + group.negatives / 2.0) / n;
    below += static_cast<double>(group.negatives);
  }
  estimate.auc = placement_sum / m;
  double positive_spread = 0, negative_spread = 0, positives_below = 0;
  below = 0;
  for (const ScoreGroup& group : ascending) {
    const double positive_place = (below + group.negatives / 2.0) / n;
    const double negative_place = (m - positives_below - group.positives / 2.0) / m;
    positive_spread += static_cast<double>(group.positives) * std::pow(positive_place - estimate.auc, 2);
    negative_spread += static_cast<double>(group.negatives) * std::pow(negative_place - estimate.auc, 2);
    below += static_cast<double>(group.negatives);
    positives_below += static_cast<double>(group.positives);
  }
  if (estimate.positives > 1) estimate.variance += positive_spread / (m - 1) / m;
  if (estimate.negatives > 1) estimate.variance += negative_spread / (n - 1) / n;
  return estimate;
}

std::optional<AucEstimate> delong_auc(const std::vector<double>& scores, const std::vector<bool>& outcomes) {
  require_same_size(scores.size(), outcomes.size(), "delong_auc");
  const std::vector<std::size_t> order = ascending_order(scores);
  std::vector<ScoreGroup> groups;
  for_each_tie_group(scores, order, [&](std::size_t first, std::size_t end) {
    ScoreGroup group;
    for (std::size_t k = first; k < end; ++k) ++(outcomes[order[k]] ? group.positives : group.negatives);
    groups.push_back(group);
  });
  return delong_auc(groups);
}

double auc_drop_p_value(const AucEstimate& current, double reference) {
  const double error = current.standard_error();
  if (error == 0) return current.auc < reference ? 0.0 : 1.0;
  return normal_upper_tail((reference - current.auc) / error);
}

std::optional<AucComparison> delong_compare(const std::vector<double>& first, const std::vector<double>& second,
                                            const std::vector<bool>& outcomes) {
  require_same_size(first.size(), outcomes.size(), "delong_compare");
  require_same_size(second.size(), outcomes.size(), "delong_compare");
  const auto positives = static_cast<std::size_t>(std::count(outcomes.begin(), outcomes.end(), true));
  const std::size_t negatives = outcomes.size() - positives;
  if (positives < 2 || negatives < 2) return std::nullopt;
  const std::vector<double> place_a = placements(first, outcomes, positives, negatives);
  const std::vector<double> place_b = placements(second, outcomes, positives, negatives);
  std::vector<double> pos_a, pos_b, neg_a, neg_b;
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    (outcomes[i] ? pos_a : neg_a).push_back(place_a[i]);
    (outcomes[i] ? pos_b : neg_b).push_back(place_b[i]);
  }
  const double auc_a = mean_of(pos_a), auc_b = mean_of(pos_b);
  const auto m = static_cast<double>(positives), n = static_cast<double>(negatives);
  auto variance = [&](const std::vector<double>& p1, const std::vector<double>& p2, const std::vector<double>& n1,
                      const std::vector<double>& n2, double a1, double a2) {
    return covariance(p1, p2, a1, a2) / m + covariance(n1, n2, a1, a2) / n;
  };
  AucComparison comparison;
  comparison.first = {auc_a, variance(pos_a, pos_a, neg_a, neg_a, auc_a, auc_a), positives, negatives};
  comparison.second = {auc_b, variance(pos_b, pos_b, neg_b, neg_b, auc_b, auc_b), positives, negatives};
  const double spread = comparison.first.variance + comparison.second.variance -
                        2 * variance(pos_a, pos_b, neg_a, neg_b, auc_a, auc_b);
  comparison.difference = auc_a - auc_b;
  comparison.standard_error = std::sqrt(std::max(0.0, spread));
  if (comparison.standard_error > 0) {
    comparison.p_value = 2 * normal_upper_tail(std::abs(comparison.difference) / comparison.standard_error);
  } else {
    comparison.p_value = comparison.difference == 0 ? 1.0 : 0.0;
  }
  return comparison;
}

double gini_of(double auc) { return 2 * auc - 1; }

}  // namespace vordak::pipeline
