#include "pipeline/dashboard_data.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <unordered_map>

#include "core/number_text.h"
#include "pipeline/cleaning.h"
#include "pipeline/enrichment.h"
#include "pipeline/flows.h"
#include "pipeline/manager_filter.h"
#include "pipeline/predictions.h"
#include "pipeline/ranking.h"
#include "pipeline/trending.h"

namespace vordak::pipeline {

Edition edition_of(const ordered_json& extra_data, bool filtered) {
  if (extra_data.is_object() && extra_data.contains("page_mode") && text_form(extra_data["page_mode"]) == "admin") {
    return Edition::kAdmin;
  }
  return filtered ? Edition::kManager : Edition::kPortfolio;
}

std::string_view edition_key(Edition edition) {
  switch (edition) {
    case Edition::kManager: return "yonetici";
    case Edition::kAdmin: return "admin";
    case Edition::kPortfolio: break;
  }
  return "portfoy";
}

std::string_view edition_label(Edition edition) {
  switch (edition) {
    case Edition::kManager: return "Yönetici";
    case Edition::kAdmin: return "Yönetici · Admin";
    case Edition::kPortfolio: break;
  }
  return "Portföy";
}

EditionRows edition_rows(const Table& rows, const RowFilter& filter) {
  std::vector<std::size_t> passing;
  for (std::size_t row = 0; row < rows.num_rows(); ++row) {
    if (!filter || filter(rows, row)) passing.push_back(row);
  }
  const Column* son_risk = rows.find("son_risk");
  std::vector<std::optional<double>> keys;
  keys.reserve(passing.size());
  EditionRows result;
  for (std::size_t row : passing) {
    keys.push_back(son_risk == nullptr ? std::nullopt : risk_key(*son_risk, row));
    result.total_risk += keys.back().value_or(0.0);
  }
  result.rows.reserve(passing.size());
  for (std::size_t k : order_by_risk_desc(keys, NullRisk::kAsZero)) result.rows.push_back(passing[k]);
  return result;
}

BranchNames reference_names(const std::vector<std::vector<std::string>>& records) {
  BranchNames names;
  for (std::size_t i = 1; i < records.size(); ++i) {
    const std::vector<std::string>& record = records[i];
    if (record.size() < 4) continue;
    if (!record[0].empty() && !names.branches.contains(record[0])) names.branches[record[0]] = record[1];
    if (!record[2].empty() && !names.regions.contains(record[2])) names.regions[record[2]] = record[3];
  }
  return names;
}

ordered_json page_rules() {
  return {{"ml_esik", ML_PREDICTION_THRESHOLD},
          {"liste_siniri", TRENDING_LIMIT},
          {"kobi_ilk", KOBI_TOP_COUNT},
          {"yonetici_risk_esigi", MANAGER_RISK_THRESHOLD}};
}

ordered_json backtest_titles(const Table& rows, const ordered_json& extra_data) {
  std::vector<std::string> keys;  // in the order the lists name them
  std::unordered_map<std::string, const ordered_json*> found;
  if (extra_data.is_object() && extra_data.contains("backtest_firma")) {
    for (const auto& [model, lists] : extra_data["backtest_firma"].items()) {
      if (!lists.is_object()) continue;
      for (const auto& [category, entries] : lists.items()) {
        for (const ordered_json& entry : entries) {
          if (!entry.is_object() || !entry.contains("entity_id")) continue;
          std::string key = text_form(entry["entity_id"]);
          if (found.emplace(key, nullptr).second) keys.push_back(std::move(key));
        }
      }
    }
  }
  ordered_json titles = ordered_json::object();
  const Column* muta = rows.find("muta");
  const Column* unvan = rows.find("unvan");
  if (keys.empty() || muta == nullptr || unvan == nullptr) return titles;
  std::vector<ordered_json> values(rows.num_rows());
  for (std::size_t row = 0; row < rows.num_rows(); ++row) {
    if (unvan->is_null(row)) continue;
    const auto at = found.find(text_form(muta->to_json(row)));
    if (at != found.end() && at->second == nullptr) {
      values[row] = unvan->to_json(row);
      at->second = &values[row];
    }
  }
  // The keys are distinct, so each is appended: the object's own insert looks for the key
  // among those before it, which is quadratic over a bank's backtest firms.
  ordered_json::object_t& members = titles.get_ref<ordered_json::object_t&>();
  members.reserve(keys.size());
  for (const std::string& key : keys) {
    if (const ordered_json* title = found[key]) members.emplace_back(key, *title);
  }
  return titles;
}

std::string grouped(std::int64_t value) {
  const std::string digits = int_text(value);
  std::string out;
  const std::size_t first = value < 0 ? 1 : 0;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > first && (digits.size() - i) % 3 == 0) out += '.';
    out += digits[i];
  }
  return out;
}

}  // namespace vordak::pipeline
