#pragma once

// The rules of the six watch lists, applied to the scores of a scoreboard as they stood
// in any one period: the trending lists use them as of the last period, the firm
// history of the pages as of every period. A period's rules see only that period and
// the ones before it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

// A stored period score read the way the lists read it: "YI" and "-1" are the YI marker,
// numbers and numeric texts are numbers, anything else (null, empty, unreadable, nan)
// is none.
struct StoredScore {
  enum Kind : std::uint8_t { kNone, kYi, kNumber } kind = kNone;
  double number = 0;
};
StoredScore read_score(const Column& column, std::size_t row);

// Why a firm that newly entered "YI" is on the caught or the missed list.
struct YiEntry {
  bool caught = false;
  std::optional<std::int64_t> previous;    // the previous period's score (integer part)
  std::optional<std::int64_t> two_back;    // the score two periods back, when it is a number
  bool had_early = false;                  // previous score in the 825-1000 band
  bool is_jump = false;                    // a jump from under 200 into the 500-825 band
};

// What put a firm on the regime-change list: the first early score in the 325-500 band,
// or else the score after the first jump from under 100.
struct RegimeSignal {
  std::optional<double> early_signal;
  std::optional<double> rapid_jump;
};

class WatchRules {
 public:
  // Reads the scores and risks of `scoreboard` (and keeps no reference to it). Throws
  // std::runtime_error when the rows have no "muta" member, or when a "son_risk" cannot
  // be compared.
  explicit WatchRules(const Scoreboard& scoreboard);

  std::size_t periods() const { return labels_.size(); }
  std::size_t rows() const { return rows_; }
  const std::vector<std::string>& labels() const { return labels_; }

  // Looks at the lists as of period index `k` (1 ≤ k < periods()). Moving forward one
  // period at a time costs one pass over the rows; any other move starts again from 1.
  void move_to(std::size_t k);

  // The period score (1000 for "YI", NaN for none) of `row` in period `p`.
  double score(std::size_t p, std::size_t row) const { return scores_[p * rows_ + row]; }
  bool yi(std::size_t p, std::size_t row) const { return yi_[p * rows_ + row] != 0; }

  // The rules as of the current period for one row. The firm being in "YI" now is
  // judged by firm key: a row whose firm has another row in "YI" counts as in it.
  bool firm_in_yi(std::size_t row) const { return firm_yi_[firm_of_row_[row]] != 0; }
  std::optional<YiEntry> newly_yi(std::size_t row) const;
  bool fastest_rising(std::size_t row) const;
  std::optional<RegimeSignal> regime_change(std::size_t row) const;
  // The number of high periods of the recent window, when enough for the list.
  std::optional<std::size_t> persistent_high(std::size_t row) const;
  bool low_but_rising(std::size_t row) const;

  double last_score(std::size_t row) const { return score(k_, row); }
  double change_1(std::size_t row) const { return score(k_, row) - score(k_ - 1, row); }
  double change_3(std::size_t row) const { return score(k_, row) - score(k_ >= 3 ? k_ - 3 : 0, row); }
  std::size_t window() const;  // the persistent list's window, in periods

 private:
  void start();  // as of period 1
  void step();   // one period on

  std::size_t rows_;
  std::vector<std::string> labels_;
  std::vector<double> scores_;          // period-major
  std::vector<char> yi_;                // period-major
  std::vector<std::uint32_t> firm_of_row_;
  // Whether a firm's risk is above 0 in each period (period-major): "son_risk" in the
  // last, before it the integer part of that period's risk, as "son_risk" is made.
  std::vector<char> positive_risk_;
  // Everything as of period k_:
  std::size_t k_ = 0;
  std::vector<char> firm_yi_;
  std::vector<char> always_yi_;         // in "YI" in every period up to k_
  std::vector<double> early_signal_;    // NaN when none
  std::vector<double> rapid_jump_;      // NaN when none
};

}  // namespace vordak::pipeline
