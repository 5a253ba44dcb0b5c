#include "pipeline/watch_rules.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "core/number_text.h"
#include "pipeline/cleaning.h"
#include "pipeline/muta_keys.h"
#include "pipeline/ranking.h"

namespace vordak::pipeline {

namespace {

constexpr double kNull = std::numeric_limits<double>::quiet_NaN();

// The period score of a firm in the YI state.
constexpr double kYiScore = 1000;
// A newly YI firm counts as caught by a jump when its score two periods back was below
// kJumpStart and its previous one reached the 500-825 band.
constexpr std::int64_t kJumpStart = 200;
// A regime change counts a jump from below kRapidJumpStart into the 325-500 band or above.
constexpr double kRapidJumpStart = 100;
// A low-but-rising firm gained at least kEarlyRise points over the last three periods.
constexpr double kEarlyRise = 100;
// The persistent list looks at the last kPersistentWindow periods at most.
constexpr std::size_t kPersistentWindow = 6;

bool present(double score) { return !std::isnan(score); }

}  // namespace

StoredScore read_score(const Column& column, std::size_t row) {
  if (column.is_null(row)) return {};
  auto from_text = [](std::string_view text) -> StoredScore {
    if (text == "YI" || text == "-1") return {StoredScore::kYi, 0};
    const std::optional<double> parsed = parse_number(text);
    if (!parsed || std::isnan(*parsed)) return {};
    return {StoredScore::kNumber, *parsed};
  };
  switch (column.kind()) {
    case ColumnKind::kInteger:
      if (column.integer(row) == -1) return {StoredScore::kYi, 0};
      return {StoredScore::kNumber, static_cast<double>(column.integer(row))};
    case ColumnKind::kFloat:
      if (std::isnan(column.floating(row))) return {};
      return {StoredScore::kNumber, column.floating(row)};
    case ColumnKind::kText: return from_text(column.text(row));
    case ColumnKind::kBoolean: return {};
    case ColumnKind::kJson: {
      const ordered_json& value = column.json(row);
      if (value.is_string()) return from_text(value.get_ref<const std::string&>());
      if (value.is_number_integer()) {
        if (value.get<std::int64_t>() == -1) return {StoredScore::kYi, 0};
        return {StoredScore::kNumber, value.get<double>()};
      }
      if (value.is_number() && !std::isnan(value.get<double>())) return {StoredScore::kNumber, value.get<double>()};
      return {};
    }
  }
  return {};
}

WatchRules::WatchRules(const Scoreboard& scoreboard)
    : rows_(scoreboard.rows.num_rows()), labels_(period_labels(scoreboard.meta)) {
  const Table& rows = scoreboard.rows;
  const Column* muta = rows.find("muta");
  if (muta == nullptr) throw std::runtime_error("scoreboard rows have no member \"muta\"");
  firm_of_row_ = firm_numbers(*muta);
  firm_yi_.assign(firm_of_row_.empty() ? 0 : *std::max_element(firm_of_row_.begin(), firm_of_row_.end()) + 1, 0);
  scores_.assign(labels_.size() * rows_, kNull);
  yi_.assign(labels_.size() * rows_, 0);
  positive_risk_.assign(labels_.size() * rows_, 0);
  const Column* son_risk = rows.find("son_risk");
  for (std::size_t p = 0; p < labels_.size(); ++p) {
    char* positive = positive_risk_.data() + p * rows_;
    if (p + 1 == labels_.size()) {
      for (std::size_t i = 0; son_risk != nullptr && i < rows_; ++i) positive[i] = risk_key(*son_risk, i).value_or(0) > 0;
    } else if (const Column* risk = labels_[p].empty() ? nullptr : rows.find("r" + labels_[p])) {
      for (std::size_t i = 0; i < rows_; ++i) {
        const std::optional<double> number = risk->number(i);
        positive[i] = number && fits_int64(*number) && integer_part(*number) > 0;
      }
    }
    const Column* column = labels_[p].empty() ? nullptr : rows.find("vrd" + labels_[p]);
    if (column == nullptr) continue;
    for (std::size_t i = 0; i < rows_; ++i) {
      const StoredScore stored = read_score(*column, i);
      if (stored.kind == StoredScore::kYi) {
        scores_[p * rows_ + i] = kYiScore;
        yi_[p * rows_ + i] = 1;
      } else if (stored.kind == StoredScore::kNumber) {
        scores_[p * rows_ + i] = stored.number;
      }
    }
  }
}

void WatchRules::move_to(std::size_t k) {
  if (k == 0 || k >= labels_.size()) throw std::out_of_range("watch lists need a period with one before it");
  if (k_ == 0 || k <= k_) start();
  while (k_ < k) step();
  std::fill(firm_yi_.begin(), firm_yi_.end(), 0);
  for (std::size_t i = 0; i < rows_; ++i) {
    if (yi(k_, i)) firm_yi_[firm_of_row_[i]] = 1;
  }
}

void WatchRules::start() {
  // As of period 1: the early signals of period 0, no jump yet.
  k_ = 1;
  always_yi_.assign(rows_, 0);
  early_signal_.assign(rows_, kNull);
  rapid_jump_.assign(rows_, kNull);
  for (std::size_t i = 0; i < rows_; ++i) {
    always_yi_[i] = static_cast<char>(yi(0, i) && yi(1, i));
    const double at = score(0, i);
    if (present(at) && at >= kBandLowEdge && at < kBandMidEdge) early_signal_[i] = at;
  }
}

void WatchRules::step() {
  const std::size_t k = ++k_;
  for (std::size_t i = 0; i < rows_; ++i) {
    always_yi_[i] = static_cast<char>(always_yi_[i] && yi(k, i));
    // The first early signal and the first jump, looking at one more period each.
    const double at = score(k - 1, i);
    if (!present(early_signal_[i]) && present(at) && at >= kBandLowEdge && at < kBandMidEdge) early_signal_[i] = at;
    const double early = score(k - 2, i);
    if (!present(rapid_jump_[i]) && present(early) && early < kRapidJumpStart && present(at) && at >= kBandLowEdge) {
      rapid_jump_[i] = at;
    }
  }
}

std::optional<YiEntry> WatchRules::newly_yi(std::size_t row) const {
  if (!yi(k_, row) || always_yi_[row]) return std::nullopt;
  // A month the extract lacks says nothing of the firm's state: one that was in "YI" the
  // last time its state was known has not newly entered it.
  for (std::size_t p = k_; p-- > 0;) {
    if (!present(score(p, row))) continue;
    if (yi(p, row)) return std::nullopt;
    break;
  }
  YiEntry entry;
  const double previous = score(k_ - 1, row);
  if (present(previous)) entry.previous = integer_part(previous);
  if (k_ >= 2) {
    const double two_back = score(k_ - 2, row);
    if (!yi(k_ - 2, row) && std::isfinite(two_back)) entry.two_back = integer_part(two_back);
  }
  entry.is_jump = entry.two_back && *entry.two_back < kJumpStart && entry.previous && *entry.previous >= kBandMidEdge;
  entry.had_early = entry.previous && *entry.previous >= kBandHighEdge;
  entry.caught = entry.had_early || entry.is_jump;
  return entry;
}

bool WatchRules::fastest_rising(std::size_t row) const {
  const double s = last_score(row);
  return present(s) && s >= kBandMidEdge && change_3(row) > 0 && change_1(row) > 0;
}

std::optional<RegimeSignal> WatchRules::regime_change(std::size_t row) const {
  const double s = last_score(row);
  const double before = score(k_ - 1, row);
  if (!(present(s) && s >= kBandMidEdge && present(before) && before < kBandMidEdge)) return std::nullopt;
  RegimeSignal signal;
  if (present(early_signal_[row])) signal.early_signal = early_signal_[row];
  if (present(rapid_jump_[row])) signal.rapid_jump = rapid_jump_[row];
  if (!signal.early_signal && !signal.rapid_jump) return std::nullopt;
  return signal;
}

std::size_t WatchRules::window() const { return std::min(k_ + 1, kPersistentWindow); }

std::optional<std::size_t> WatchRules::persistent_high(std::size_t row) const {
  const std::size_t n_check = window();
  const std::size_t min_high = std::max<std::size_t>(2, static_cast<std::size_t>(static_cast<double>(n_check) * 0.75));
  std::size_t high = 0;
  for (std::size_t p = k_ + 1 - n_check; p <= k_; ++p) {
    const double s = score(p, row);
    if (present(s) && s >= kBandHighEdge) ++high;
  }
  if (high < min_high || !positive_risk_[k_ * rows_ + row]) return std::nullopt;
  return high;
}

bool WatchRules::low_but_rising(std::size_t row) const {
  const double s = last_score(row);
  return present(s) && s >= kBandLowEdge && s < kBandHighEdge && change_3(row) >= kEarlyRise && !yi(k_ - 1, row) &&
         change_1(row) > 0;
}

}  // namespace vordak::pipeline
