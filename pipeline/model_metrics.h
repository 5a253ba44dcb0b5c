#pragma once

// What a model validator reads off a score's bands, as plain functions over vectors: how
// far its band distribution moved from a reference (PSI), how concentrated it is
// (Herfindahl), how firms move between bands (migration counts, rates and exposure) and,
// for a probability, the deciles that calibration is judged by. The AUC and its tests
// are in auc_delong.h, the calibration tests in calibration_tests.h. No database; no
// rounding.

#include <cstddef>
#include <optional>
#include <vector>

namespace vordak::pipeline {

// Throws std::invalid_argument naming `what` when two inputs that go together differ in size.
void require_same_size(std::size_t a, std::size_t b, const char* what);

// Positions of `values` in ascending order, equal values keeping their input order.
std::vector<std::size_t> ascending_order(const std::vector<double>& values);

// A band share below this counts as this in the PSI, so that an empty band gives a large
// but finite term instead of an infinite one.
inline constexpr double PSI_SHARE_FLOOR = 1e-4;

// The population stability index of `actual` band counts against `expected` ones: the
// sum over bands of (a - e) ln(a / e), a and e being the band shares (floored at
// PSI_SHARE_FLOOR). nullopt when either total is zero. Throws std::invalid_argument when
// the sizes differ.
std::optional<double> population_stability(const std::vector<std::size_t>& expected,
                                           const std::vector<std::size_t>& actual);

// The concentration of firms over K bands in its normalised Herfindahl form,
// 1 + ln(sum of squared shares) / ln(K): 0 when the firms spread evenly over the bands,
// 1 when they all sit in one. nullopt without firms or with fewer than two bands.
std::optional<double> herfindahl_index(const std::vector<std::size_t>& counts);

// Firms moving between bands from one period to the next; bands are numbered from the
// best (0) to the worst, so a move to a higher number is a downgrade.
class Migration {
 public:
  explicit Migration(std::size_t bands);

  void add(std::size_t from, std::size_t to, double exposure);

  std::size_t bands() const { return counts_.size(); }
  const std::vector<std::vector<std::size_t>>& counts() const { return counts_; }      // [from][to]
  const std::vector<std::vector<double>>& exposure() const { return exposure_; }       // [from][to]
  // counts[from][to] over the firms that started in `from`: the transition
  // probabilities; nullopt for every cell of a band nobody started in.
  std::vector<std::vector<std::optional<double>>> rates() const;

  std::size_t downgrades() const { return downgrades_; }
  std::size_t upgrades() const { return upgrades_; }
  std::size_t unchanged() const { return unchanged_; }
  double downgrade_exposure() const { return downgrade_exposure_; }
  double upgrade_exposure() const { return upgrade_exposure_; }

 private:
  std::vector<std::vector<std::size_t>> counts_;
  std::vector<std::vector<double>> exposure_;
  std::size_t downgrades_ = 0, upgrades_ = 0, unchanged_ = 0;
  double downgrade_exposure_ = 0, upgrade_exposure_ = 0;
};

// One group of firms of similar predicted probability.
struct CalibrationBin {
  std::size_t firms = 0;
  std::size_t yi = 0;               // firms that reached "YI"
  double mean_probability = 0;      // mean of their predicted probabilities
  double observed_rate() const { return firms == 0 ? 0 : static_cast<double>(yi) / static_cast<double>(firms); }
};

// The firms ordered by predicted probability (equal probabilities keep their input
// order) and cut into `bins` groups of nearly equal size: group k holds the positions
// from k n / bins up to (k + 1) n / bins. Groups that would be empty (fewer firms than
// bins) are left out. Throws std::invalid_argument when the sizes differ or `bins` is 0.
std::vector<CalibrationBin> calibration_bins(const std::vector<double>& probabilities,
                                             const std::vector<bool>& outcomes, std::size_t bins = 10);

// The same groups filled one firm at a time in ascending probability order, for a sample
// whose size `firms` is known in advance. Throws std::invalid_argument when `bins` is 0
// and std::out_of_range past `firms` firms.
class CalibrationBinner {
 public:
  explicit CalibrationBinner(std::size_t firms, std::size_t bins = 10);
  void add(double probability, bool outcome);
  std::vector<CalibrationBin> result() const;

 private:
  std::size_t firms_, bins_, added_ = 0;
  std::vector<CalibrationBin> groups_;
  std::vector<double> sums_;
};

}  // namespace vordak::pipeline
