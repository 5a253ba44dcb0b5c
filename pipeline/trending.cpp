#include "pipeline/trending.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

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

bool present(double score) { return !std::isnan(score); }

enum class Stored : std::uint8_t { kNull, kYi, kNumber };

// One stored score by its text form: "YI" and "-1" are the YI marker, numbers and
// numeric texts are numbers, everything else (null, empty, unreadable, nan) is null.
Stored read_stored(const Column& column, std::size_t row, double& number) {
  if (column.is_null(row)) return Stored::kNull;
  auto from_text = [&](std::string_view text) {
    if (text == "YI" || text == "-1") return Stored::kYi;
    const std::optional<double> parsed = parse_number(text);
    if (!parsed || std::isnan(*parsed)) return Stored::kNull;
    number = *parsed;
    return Stored::kNumber;
  };
  switch (column.kind()) {
    case ColumnKind::kInteger:
      if (column.integer(row) == -1) return Stored::kYi;
      number = static_cast<double>(column.integer(row));
      return Stored::kNumber;
    case ColumnKind::kFloat:
      number = column.floating(row);
      return std::isnan(number) ? Stored::kNull : Stored::kNumber;
    case ColumnKind::kText: return from_text(column.text(row));
    case ColumnKind::kBoolean: return Stored::kNull;
    case ColumnKind::kJson: {
      const ordered_json& value = column.json(row);
      if (value.is_string()) return from_text(value.get_ref<const std::string&>());
      if (value.is_number_integer()) {
        if (value.get<std::int64_t>() == -1) return Stored::kYi;
        number = value.get<double>();
        return Stored::kNumber;
      }
      if (value.is_number()) {
        number = value.get<double>();
        return std::isnan(number) ? Stored::kNull : Stored::kNumber;
      }
      return Stored::kNull;
    }
  }
  return Stored::kNull;
}

// Period score and YI test of every row for one period label.
struct PeriodValues {
  std::vector<double> score;  // NaN for null; kYiScore for the YI marker
  std::vector<char> yi;
};

PeriodValues period_values(const Table& rows, const std::string& label) {
  const std::size_t n = rows.num_rows();
  PeriodValues values{std::vector<double>(n, kNull), std::vector<char>(n, 0)};
  const Column* column = label.empty() ? nullptr : rows.find("vrd" + label);
  if (column == nullptr) return values;
  for (std::size_t i = 0; i < n; ++i) {
    double number = 0;
    switch (read_stored(*column, i, number)) {
      case Stored::kNull: break;
      case Stored::kYi: values.score[i] = kYiScore; values.yi[i] = 1; break;
      case Stored::kNumber: values.score[i] = number; break;
    }
  }
  return values;
}

std::string int_of(double number) { return int_text(integer_part(number)); }

ordered_json score_member(double score) {
  if (!present(score)) return nullptr;
  return integer_part(score);
}

class EntryBuilder {
 public:
  explicit EntryBuilder(const Table& rows)
      : muta_(rows.find("muta")), unvan_(rows.find("unvan")), son_risk_(rows.find("son_risk")) {
    if (muta_ == nullptr) throw std::runtime_error("scoreboard rows have no member \"muta\"");
  }

  // "muta", "unvan", "son_risk", "score_last", then `more`, then "reason".
  ordered_json operator()(std::size_t row, double score_last, const ordered_json& more, std::string reason) const {
    if (son_risk_ == nullptr) throw std::runtime_error("scoreboard rows have no member \"son_risk\"");
    ordered_json entry = ordered_json::object();
    entry["muta"] = muta_->to_json(row);
    entry["unvan"] = unvan_ == nullptr ? ordered_json(nullptr) : unvan_->to_json(row);
    entry["son_risk"] = son_risk_->to_json(row);
    entry["score_last"] = score_member(score_last);
    for (const auto& [name, value] : more.items()) entry[name] = value;
    entry["reason"] = std::move(reason);
    return entry;
  }

  const Column& muta() const { return *muta_; }

 private:
  const Column* muta_;
  const Column* unvan_;
  const Column* son_risk_;
};

ordered_json limited(std::vector<ordered_json> entries) {
  ordered_json list = ordered_json::array();
  const std::size_t count = std::min(entries.size(), TRENDING_LIMIT);
  for (std::size_t i = 0; i < count; ++i) list.push_back(std::move(entries[i]));
  return list;
}

ordered_json empty_document() {
  ordered_json document = ordered_json::object();
  for (std::string_view key : TRENDING_KEYS) document[std::string(key)] = ordered_json::array();
  return document;
}

// The stored value of "vrd" + Prev2 read as a whole number, when it is a non-YI value
// that reads as a finite number.
std::optional<std::int64_t> two_back(const Column* column, std::size_t row) {
  if (column == nullptr) return std::nullopt;
  double number = 0;
  if (read_stored(*column, row, number) != Stored::kNumber || !std::isfinite(number)) return std::nullopt;
  return integer_part(number);
}

}  // namespace

ordered_json build_trending_lists(const Scoreboard& scoreboard) {
  const std::vector<std::string> periods = period_labels(scoreboard.meta);
  const Table& rows = scoreboard.rows;
  const std::size_t n = periods.size();
  if (n < 2 || rows.empty()) return empty_document();

  const EntryBuilder entry(rows);
  const std::size_t count = rows.num_rows();
  const std::string& son_1 = periods[n - 2];
  const std::string& son_3 = n >= 4 ? periods[n - 4] : periods[0];
  const std::optional<std::string> prev2 = n > 2 ? std::optional<std::string>(periods[n - 3]) : std::nullopt;

  std::vector<PeriodValues> by_period;
  by_period.reserve(n);
  for (const std::string& label : periods) by_period.push_back(period_values(rows, label));
  const PeriodValues& last = by_period[n - 1];
  const PeriodValues& prev1 = son_1.empty() ? PeriodValues{std::vector<double>(count, kNull), std::vector<char>(count, 0)}
                                            : by_period[n - 2];
  const PeriodValues prev3 = period_values(rows, son_3);
  std::vector<double> delta_1(count), delta_3(count);
  for (std::size_t i = 0; i < count; ++i) {
    delta_1[i] = last.score[i] - prev1.score[i];
    delta_3[i] = last.score[i] - prev3.score[i];
  }

  // YI state now, and the firms newly in it.
  MutaSet yi_firms;
  for (std::size_t i = 0; i < count; ++i) {
    if (last.yi[i]) yi_firms.add(entry.muta(), i);
  }
  std::vector<ordered_json> caught, missed;
  const Column* prev2_column = prev2 ? rows.find("vrd" + *prev2) : nullptr;
  for (std::size_t i = 0; i < count; ++i) {
    if (!last.yi[i] || prev1.yi[i]) continue;
    bool always_yi = true;
    for (const PeriodValues& values : by_period) always_yi = always_yi && values.yi[i];
    if (always_yi) continue;
    const bool has_prev = present(prev1.score[i]);
    const std::int64_t prev = has_prev ? integer_part(prev1.score[i]) : 0;
    const std::optional<std::int64_t> s_prev2 = two_back(prev2_column, i);
    const bool is_jump = s_prev2 && *s_prev2 < kJumpStart && has_prev && prev >= kBandMidEdge;
    const bool had_early = has_prev && prev >= kBandHighEdge;
    if (had_early || is_jump) {
      std::vector<std::string> parts;
      if (had_early) parts.push_back("Önceki dönem skor: " + int_text(prev));
      if (is_jump) parts.push_back("Hızlı yükseliş: " + int_text(*s_prev2) + "->" + int_text(prev));
      std::string reason = "Yakalandı: ";
      for (std::size_t k = 0; k < parts.size(); ++k) reason += (k == 0 ? "" : ", ") + parts[k];
      caught.push_back(entry(i, last.score[i], ordered_json::object(), std::move(reason)));
    } else {
      missed.push_back(entry(i, last.score[i], ordered_json::object(),
                             "Kaçırıldı: Önceki dönem skor " + (has_prev ? int_text(prev) : std::string("?")) + " (<" +
                                 std::to_string(kBandHighEdge) + ")"));
    }
  }
  sort_entries_by_risk(caught, NullRisk::kAsZero);
  sort_entries_by_risk(missed, NullRisk::kAsZero);

  std::vector<std::size_t> non_yi;
  for (std::size_t i = 0; i < count; ++i) {
    if (!yi_firms.contains(entry.muta(), i)) non_yi.push_back(i);
  }

  std::vector<ordered_json> fastest;
  for (std::size_t i : non_yi) {
    const double s = last.score[i];
    if (!(present(s) && s >= kBandMidEdge && delta_3[i] > 0 && delta_1[i] > 0)) continue;
    fastest.push_back(entry(i, s, {{"delta_3", integer_part(delta_3[i])}},
                            "Son 3 dönemde +" + int_of(delta_3[i]) + " puan artış (şu an " + int_of(s) + ")"));
  }
  sort_entries_by_risk(fastest, NullRisk::kLast);

  // Regime change: now in the 500-825 band or above, below it in the previous period,
  // after an earlier score in the 325-500 band or a jump from under kRapidJumpStart.
  std::vector<ordered_json> regime;
  std::vector<std::int64_t> regime_scores;
  for (std::size_t i : non_yi) {
    const double s = last.score[i];
    const double before = prev1.score[i];
    if (!(present(s) && s >= kBandMidEdge && present(before) && before < kBandMidEdge)) continue;
    std::optional<double> early_signal, rapid_jump;
    for (std::size_t p = 0; p + 1 < n && !early_signal; ++p) {
      const double at = by_period[p].score[i];
      if (present(at) && at >= kBandLowEdge && at < kBandMidEdge) early_signal = at;
    }
    for (std::size_t p = 0; n > 2 && p + 2 < n && !rapid_jump; ++p) {
      const double early = by_period[p].score[i];
      const double mid = by_period[p + 1].score[i];
      if (present(early) && early < kRapidJumpStart && present(mid) && mid >= kBandLowEdge) rapid_jump = mid;
    }
    if (!early_signal && !rapid_jump) continue;
    const std::string now = int_of(s);
    std::string reason = early_signal
                             ? "Band geçişi: Önceden " + int_of(*early_signal) + " skor verilmişti, şimdi " + now
                             : "Band geçişi: Hızlı sıçrama (" + int_of(*rapid_jump) + "), şimdi " + now;
    regime.push_back(entry(i, s, ordered_json::object(), std::move(reason)));
    regime_scores.push_back(integer_part(s));
  }
  {
    std::vector<std::size_t> order(regime.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return regime_scores[a] > regime_scores[b]; });
    std::vector<ordered_json> sorted;
    for (std::size_t k : order) sorted.push_back(std::move(regime[k]));
    regime = std::move(sorted);
  }

  const std::size_t n_check = std::min<std::size_t>(n, 6);
  const std::size_t min_high_count =
      std::max<std::size_t>(2, static_cast<std::size_t>(static_cast<double>(n_check) * 0.75));
  const Column* son_risk = rows.find("son_risk");
  std::vector<ordered_json> persistent;
  for (std::size_t i : non_yi) {
    std::size_t high = 0;
    for (std::size_t p = n - n_check; p < n; ++p) {
      const double s = by_period[p].score[i];
      if (present(s) && s >= kBandHighEdge) ++high;
    }
    if (high < min_high_count) continue;
    const std::optional<double> risk = son_risk == nullptr ? std::nullopt : risk_key(*son_risk, i);
    if (!risk || *risk <= 0) continue;
    persistent.push_back(entry(i, last.score[i], ordered_json::object(),
                               "Son " + std::to_string(n_check) + " dönemin " + std::to_string(high) +
                                   " tanesinde skor >= " + std::to_string(kBandHighEdge)));
  }
  sort_entries_by_risk(persistent, NullRisk::kLast);

  std::vector<ordered_json> low;
  for (std::size_t i : non_yi) {
    const double s = last.score[i];
    if (!(present(s) && s >= kBandLowEdge && s < kBandHighEdge && delta_3[i] >= kEarlyRise && !prev1.yi[i] &&
          delta_1[i] > 0)) {
      continue;
    }
    low.push_back(entry(i, s, {{"delta_3", integer_part(delta_3[i])}},
                        "Erken sinyal: " + int_of(s) + " skor, +" + int_of(delta_3[i]) + " artış"));
  }
  sort_entries_by_risk(low, NullRisk::kLast);

  ordered_json document = ordered_json::object();
  document["fastest_rising"] = limited(std::move(fastest));
  document["regime_change"] = limited(std::move(regime));
  document["persistent_high"] = limited(std::move(persistent));
  document["low_but_rising"] = limited(std::move(low));
  document["caught_yi"] = limited(std::move(caught));
  document["missed_yi"] = limited(std::move(missed));
  return document;
}

}  // namespace vordak::pipeline
