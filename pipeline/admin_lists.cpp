#include "pipeline/admin_lists.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <optional>
#include <unordered_map>
#include <vector>

#include "pipeline/cleaning.h"
#include "pipeline/dashboard_data.h"

namespace vordak::pipeline {

namespace {

constexpr double kLowest = -std::numeric_limits<double>::infinity();

// One list of the extra data: the prediction list (no model) or a backtest firm list.
struct List {
  List(ordered_json* list, std::string of_model, std::string of_category)
      : entries(list), model(std::move(of_model)), category(std::move(of_category)) {}

  ordered_json* entries;
  std::string model;
  std::string category;
  std::vector<std::size_t> sizes;
  std::size_t total = 0;
  std::optional<std::size_t> left_out;  // set when the list was shortened

  bool is_prediction() const { return model.empty(); }
};

double number_or_lowest(const ordered_json& entry, const char* member) {
  if (!entry.is_object() || !entry.contains(member) || !entry[member].is_number()) return kLowest;
  return entry[member].get<double>();
}

// Current risk by firm key (text form), for the backtest lists.
std::unordered_map<std::string, double> current_risks(const Table& rows) {
  std::unordered_map<std::string, double> risks;
  const Column* muta = rows.find("muta");
  const Column* son_risk = rows.find("son_risk");
  if (muta == nullptr || son_risk == nullptr) return risks;
  for (std::size_t row = 0; row < rows.num_rows(); ++row) {
    risks.emplace(text_form(muta->to_json(row)), son_risk->number(row).value_or(0));
  }
  return risks;
}

// Keeps the highest-ranked entries of `list` that fit in `room` bytes, in their order.
void cut(List& list, std::size_t room, const std::unordered_map<std::string, double>& risks) {
  ordered_json& entries = *list.entries;
  std::vector<double> keys(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (list.is_prediction()) {
      keys[i] = number_or_lowest(entries[i], "yi_prob");
    } else {
      const auto found = entries[i].is_object() && entries[i].contains("entity_id")
                             ? risks.find(text_form(entries[i]["entity_id"]))
                             : risks.end();
      keys[i] = found == risks.end() ? 0 : found->second;
    }
  }
  std::vector<std::size_t> order(entries.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] > keys[b]; });
  std::vector<bool> kept(entries.size(), false);
  std::size_t used = 0, kept_count = 0;
  for (const std::size_t i : order) {
    if (used + list.sizes[i] > room) break;
    used += list.sizes[i];
    kept[i] = true;
    ++kept_count;
  }
  ordered_json shortened = ordered_json::array();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (kept[i]) shortened.push_back(std::move(entries[i]));
  }
  list.left_out = entries.size() - kept_count;
  entries = std::move(shortened);
}

// The bytes `entry` takes in the page, with its comma; `text` is room for its JSON text.
std::size_t entry_size(const ordered_json& entry, std::string& text) {
  text.clear();
  JsonWriter writer(text, JsonWriter::Layout::kCompact);
  writer.value(entry);
  return script_safe_size(text) + 1;
}

}  // namespace

ordered_json fit_admin_lists(ordered_json& extra, const Table& rows, std::size_t cap,
                             const std::function<std::size_t(const ordered_json&)>& page_size) {
  ordered_json left_out = ordered_json::object();
  if (!extra.is_object()) return left_out;
  // Pointers into `extra` stay valid: nothing is added to it while they are in use.
  std::vector<List> lists;
  if (extra.contains("ml_predictions") && extra["ml_predictions"].is_array()) {
    lists.emplace_back(&extra["ml_predictions"], "", "ml_predictions");
  }
  if (extra.contains("backtest_firma") && extra["backtest_firma"].is_object()) {
    for (auto& [model, categories] : extra["backtest_firma"].items()) {
      if (!categories.is_object()) continue;
      for (auto& [category, entries] : categories.items()) {
        if (entries.is_array()) lists.emplace_back(&entries, model, category);
      }
    }
  }
  if (lists.empty()) return left_out;
  std::string text;
  for (List& list : lists) {
    for (const ordered_json& entry : *list.entries) list.sizes.push_back(entry_size(entry, text));
    list.total = std::accumulate(list.sizes.begin(), list.sizes.end(), std::size_t{0});
  }

  // The page with every list: each list of n entries is "[" and its entries with their
  // commas, one comma fewer, and "]", where the emptied list was "[]".
  std::vector<ordered_json> held(lists.size(), ordered_json::array());
  for (std::size_t i = 0; i < lists.size(); ++i) held[i].swap(*lists[i].entries);
  std::size_t fixed_size = page_size(extra);
  for (std::size_t i = 0; i < lists.size(); ++i) held[i].swap(*lists[i].entries);
  std::size_t lists_size = 0;
  for (const List& list : lists) {
    lists_size += list.total;
    if (list.total > 0) fixed_size += list.total - 1;
  }
  const std::size_t page_room = cap - std::min(cap, fixed_size - std::min(fixed_size, lists_size));
  const std::size_t budget = page_room / 2;
  if (lists_size <= budget) return left_out;

  // Shares from the smallest list up: each list gets an even share of what is left.
  std::vector<List*> by_size;
  for (List& list : lists) by_size.push_back(&list);
  std::stable_sort(by_size.begin(), by_size.end(), [](const List* a, const List* b) { return a->total < b->total; });
  std::size_t room = budget;
  std::unordered_map<std::string, double> risks;
  bool risks_read = false;
  for (std::size_t i = 0; i < by_size.size(); ++i) {
    List& list = *by_size[i];
    const std::size_t share = room / (by_size.size() - i);
    if (list.total <= share) {
      room -= list.total;
      continue;
    }
    if (!list.is_prediction() && !risks_read) {
      risks = current_risks(rows);
      risks_read = true;
    }
    cut(list, share, risks);
    room -= share;
  }

  for (const List& list : lists) {
    if (!list.left_out) continue;
    if (list.is_prediction())
      left_out["ml_predictions"] = *list.left_out;
    else
      left_out["backtest_firma"][list.model][list.category] = *list.left_out;
  }
  return left_out;
}

std::vector<std::string> left_out_notes(const ordered_json& left_out, const ordered_json& extra) {
  std::vector<std::string> notes;
  if (left_out.contains("ml_predictions")) {
    const auto shown = static_cast<std::int64_t>(extra["ml_predictions"].size());
    notes.push_back("Boyut sınırı nedeniyle ML tahmin listesinde en düşük olasılıklı " +
                    grouped(left_out["ml_predictions"].get<std::int64_t>()) +
                    " firma gösterilmiyor (gösterilen: " + grouped(shown) + ").");
  }
  if (left_out.contains("backtest_firma")) {
    std::int64_t missing = 0, shown = 0;
    for (const auto& [model, categories] : left_out["backtest_firma"].items()) {
      for (const auto& [category, count] : categories.items()) missing += count.get<std::int64_t>();
    }
    for (const auto& [model, categories] : extra["backtest_firma"].items()) {
      if (!categories.is_object()) continue;
      for (const auto& [category, entries] : categories.items()) {
        if (entries.is_array()) shown += static_cast<std::int64_t>(entries.size());
      }
    }
    notes.push_back("Boyut sınırı nedeniyle backtest firma listelerinde en düşük riskli " + grouped(missing) +
                    " kayıt gösterilmiyor (gösterilen: " + grouped(shown) + ").");
  }
  return notes;
}

}  // namespace vordak::pipeline
