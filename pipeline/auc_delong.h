#pragma once

// The area under the ROC curve with its sampling variance by DeLong, DeLong and
// Clarke-Pearson (1988): the AUC is the mean of the positives' placements (the share of
// negatives each one outranks, a tie counting half), and its variance comes from the
// spread of the placements of the positives and of the negatives. From it: a 95 %
// interval, a test of an AUC against a reference value, and the paired test of two
// scores of the same firms. No database; no rounding.

#include <cstddef>
#include <optional>
#include <vector>

namespace vordak::pipeline {

inline constexpr double Z_95 = 1.959963984540054;  // the standard normal's 97.5 % point

struct AucEstimate {
  double auc = 0;
  double variance = 0;
  std::size_t positives = 0;
  std::size_t negatives = 0;

  double standard_error() const;
  // The 95 % interval auc -/+ Z_95 standard errors, kept within [0, 1].
  double lower() const;
  double upper() const;
};

// The firms holding one distinct score: how many reached "YI" and how many did not.
struct ScoreGroup {
  std::size_t positives = 0;
  std::size_t negatives = 0;
};

// The AUC of `scores` (higher means riskier) against `outcomes` (true: the firm reached
// "YI") with DeLong's variance. nullopt when either class is empty; the variance needs
// two of each class and is 0 below that. Throws std::invalid_argument when the sizes
// differ.
std::optional<AucEstimate> delong_auc(const std::vector<double>& scores, const std::vector<bool>& outcomes);

// The same from the distinct scores' groups in ascending score order, for samples
// already counted by score.
std::optional<AucEstimate> delong_auc(const std::vector<ScoreGroup>& ascending);

// One-sided test that `current` lies below `reference`, a fixed AUC (the model's
// validation at training, or a reference period's): z = (reference - auc) / standard
// error, p = P(Z >= z). A small p says the AUC has fallen. Without a standard error
// (no spread), p is 0 when the AUC is below the reference and 1 otherwise.
double auc_drop_p_value(const AucEstimate& current, double reference);

// DeLong's test of two scores of the same firms (`first` and `second` against one set
// of `outcomes`): their AUCs, the difference first - second, its standard error from the
// placements' covariance, and the two-sided p of "no difference".
struct AucComparison {
  AucEstimate first, second;
  double difference = 0;
  double standard_error = 0;
  double p_value = 1;
};
std::optional<AucComparison> delong_compare(const std::vector<double>& first, const std::vector<double>& second,
                                            const std::vector<bool>& outcomes);

// The Gini coefficient (accuracy ratio) of an AUC: 2 AUC - 1.
double gini_of(double auc);

}  // namespace vordak::pipeline
