#include "pipeline/trending.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/number_text.h"
#include "core/text.h"
#include "pipeline/cleaning.h"
#include "pipeline/ranking.h"
#include "pipeline/watch_rules.h"

namespace vordak::pipeline {

namespace {

// The places of the lists in TRENDING_KEYS.
enum ListIndex : std::size_t { kFastest, kRegime, kPersistent, kLow, kCaught, kMissed };

bool present(double score) { return !std::isnan(score); }

std::string int_of(double number) { return int_text(integer_part(number)); }

ordered_json score_member(double score) {
  if (!present(score)) return nullptr;
  return integer_part(score);
}

std::string yi_reason(const YiEntry& entry) {
  if (!entry.caught) {
    return "Kaçırıldı: Önceki dönem skor " + (entry.previous ? int_text(*entry.previous) : std::string("?")) + " (<" +
           std::to_string(kBandHighEdge) + ")";
  }
  std::vector<std::string> parts;
  if (entry.had_early) parts.push_back("Önceki dönem skor: " + int_text(*entry.previous));
  if (entry.is_jump) parts.push_back("Hızlı yükseliş: " + int_text(*entry.two_back) + "->" + int_text(*entry.previous));
  return "Yakalandı: " + join(parts, ", ");
}

std::string regime_reason(const RegimeSignal& signal, double score) {
  const std::string now = int_of(score);
  return signal.early_signal ? "Band geçişi: Önceden " + int_of(*signal.early_signal) + " skor verilmişti, şimdi " + now
                             : "Band geçişi: Hızlı sıçrama (" + int_of(*signal.rapid_jump) + "), şimdi " + now;
}

// Each list's entry for row i as of the rules' period, or nullopt when the row is not on
// it. The four lists of rising scores leave out the firms in "YI".
std::optional<WatchEntry> fastest_rising_entry(const WatchRules& rules, std::size_t i) {
  if (!rules.fastest_rising(i)) return std::nullopt;
  const double s = rules.last_score(i);
  const double delta_3 = rules.change_3(i);
  return WatchEntry{i, s, delta_3, "Son 3 dönemde +" + int_of(delta_3) + " puan artış (şu an " + int_of(s) + ")"};
}

std::optional<WatchEntry> regime_change_entry(const WatchRules& rules, std::size_t i) {
  const std::optional<RegimeSignal> signal = rules.regime_change(i);
  if (!signal) return std::nullopt;
  const double s = rules.last_score(i);
  return WatchEntry{i, s, std::nullopt, regime_reason(*signal, s)};
}

std::optional<WatchEntry> persistent_high_entry(const WatchRules& rules, std::size_t i) {
  const std::optional<std::size_t> high = rules.persistent_high(i);
  if (!high) return std::nullopt;
  return WatchEntry{i, rules.last_score(i), std::nullopt,
                    "Son " + std::to_string(rules.window()) + " dönemin " + std::to_string(*high) +
                        " tanesinde skor >= " + std::to_string(kBandHighEdge)};
}

std::optional<WatchEntry> low_but_rising_entry(const WatchRules& rules, std::size_t i) {
  if (!rules.low_but_rising(i)) return std::nullopt;
  const double s = rules.last_score(i);
  const double delta_3 = rules.change_3(i);
  return WatchEntry{i, s, delta_3, "Erken sinyal: " + int_of(s) + " skor, +" + int_of(delta_3) + " artış"};
}

// A firm that newly entered "YI", on the caught or the missed list.
void add_newly_yi(WatchLists& lists, const WatchRules& rules, std::size_t i) {
  const std::optional<YiEntry> entry = rules.newly_yi(i);
  if (!entry) return;
  lists[entry->caught ? kCaught : kMissed].push_back({i, rules.last_score(i), std::nullopt, yi_reason(*entry)});
}

// Reorders a list by current risk, descending, stable.
void sort_by_risk(std::vector<WatchEntry>& entries, const Column& son_risk, NullRisk nulls) {
  std::vector<std::optional<double>> keys;
  keys.reserve(entries.size());
  for (const WatchEntry& entry : entries) keys.push_back(risk_key(son_risk, entry.row));
  std::vector<WatchEntry> sorted;
  sorted.reserve(entries.size());
  for (std::size_t i : order_by_risk_desc(keys, nulls)) sorted.push_back(std::move(entries[i]));
  entries = std::move(sorted);
}

// Each list in its order: by current risk (the regime changes by their last score).
void order_lists(WatchLists& lists, const Column& son_risk) {
  sort_by_risk(lists[kCaught], son_risk, NullRisk::kAsZero);
  sort_by_risk(lists[kMissed], son_risk, NullRisk::kAsZero);
  sort_by_risk(lists[kFastest], son_risk, NullRisk::kLast);
  sort_by_risk(lists[kPersistent], son_risk, NullRisk::kLast);
  sort_by_risk(lists[kLow], son_risk, NullRisk::kLast);
  std::stable_sort(lists[kRegime].begin(), lists[kRegime].end(), [](const WatchEntry& a, const WatchEntry& b) {
    return integer_part(a.score_last) > integer_part(b.score_last);
  });
}

void add(std::vector<WatchEntry>& list, std::optional<WatchEntry>&& entry) {
  if (entry) list.push_back(std::move(*entry));
}

}  // namespace

WatchLists build_watch_lists(const Scoreboard& scoreboard) {
  if (period_labels(scoreboard.meta).size() < 2 || scoreboard.rows.empty()) return {};
  WatchRules rules(scoreboard);
  return build_watch_lists(scoreboard, rules);
}

WatchLists build_watch_lists(const Scoreboard& scoreboard, WatchRules& rules) {
  WatchLists lists;
  if (rules.periods() < 2 || scoreboard.rows.empty()) return lists;
  rules.move_to(rules.periods() - 1);
  const std::size_t count = scoreboard.rows.num_rows();
  for (std::size_t i = 0; i < count; ++i) add_newly_yi(lists, rules, i);
  for (std::size_t i = 0; i < count; ++i) {
    if (rules.firm_in_yi(i)) continue;
    add(lists[kFastest], fastest_rising_entry(rules, i));
    add(lists[kRegime], regime_change_entry(rules, i));
    add(lists[kPersistent], persistent_high_entry(rules, i));
    add(lists[kLow], low_but_rising_entry(rules, i));
  }

  const Column* son_risk = scoreboard.rows.find("son_risk");
  const bool any = std::any_of(lists.begin(), lists.end(), [](const auto& list) { return !list.empty(); });
  if (son_risk == nullptr && any) throw std::runtime_error("scoreboard rows have no member \"son_risk\"");
  if (any) order_lists(lists, *son_risk);
  return lists;
}

ordered_json trending_document(const Scoreboard& scoreboard, const WatchLists& lists) {
  const Table& rows = scoreboard.rows;
  const Column* muta = rows.find("muta");
  const Column* unvan = rows.find("unvan");
  const Column* son_risk = rows.find("son_risk");
  ordered_json document = ordered_json::object();
  for (std::size_t l = 0; l < lists.size(); ++l) {
    ordered_json list = ordered_json::array();
    const std::size_t count = std::min(lists[l].size(), TRENDING_LIMIT);
    for (std::size_t k = 0; k < count; ++k) {
      const WatchEntry& entry = lists[l][k];
      ordered_json record = ordered_json::object();
      record["muta"] = muta->to_json(entry.row);
      record["unvan"] = unvan == nullptr ? ordered_json(nullptr) : unvan->to_json(entry.row);
      record["son_risk"] = son_risk->to_json(entry.row);
      record["score_last"] = score_member(entry.score_last);
      if (entry.delta_3) record["delta_3"] = integer_part(*entry.delta_3);
      record["reason"] = entry.reason;
      list.push_back(std::move(record));
    }
    document[std::string(TRENDING_KEYS[l])] = std::move(list);
  }
  return document;
}

ordered_json build_trending_lists(const Scoreboard& scoreboard) {
  return trending_document(scoreboard, build_watch_lists(scoreboard));
}

std::vector<std::uint8_t> watch_list_history(const Scoreboard& scoreboard) {
  const std::size_t periods = period_labels(scoreboard.meta).size();
  const std::size_t count = scoreboard.rows.num_rows();
  if (periods < 2 || count == 0) return std::vector<std::uint8_t>(count * periods, 0);
  WatchRules rules(scoreboard);
  return watch_list_history(rules);
}

std::vector<std::uint8_t> watch_list_history(WatchRules& rules) {
  const std::size_t periods = rules.periods();
  const std::size_t count = rules.rows();
  std::vector<std::uint8_t> history(count * periods, 0);
  if (periods < 2 || count == 0) return history;
  for (std::size_t k = 1; k < periods; ++k) {
    rules.move_to(k);
    for (std::size_t i = 0; i < count; ++i) {
      std::uint8_t bits = 0;
      if (const std::optional<YiEntry> entry = rules.newly_yi(i)) bits |= 1u << (entry->caught ? kCaught : kMissed);
      if (!rules.firm_in_yi(i)) {
        if (rules.fastest_rising(i)) bits |= 1u << kFastest;
        if (rules.regime_change(i)) bits |= 1u << kRegime;
        if (rules.persistent_high(i)) bits |= 1u << kPersistent;
        if (rules.low_but_rising(i)) bits |= 1u << kLow;
      }
      history[i * periods + k] = bits;
    }
  }
  return history;
}

}  // namespace vordak::pipeline
