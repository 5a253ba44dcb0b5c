#include "pipeline/enrichment.h"

#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/sink.h"
#include "pipeline/cleaning.h"

namespace vordak::pipeline {

namespace {

struct Verdicts {
  std::array<bool, TRENDING_FLAGS.size()> flags{};
  std::string reasons;  // joined with " | "
  bool has_reason = false;
};

}  // namespace

void enrich_with_trending(Scoreboard& scoreboard, const ordered_json& trending, Sink& sink) {
  if (!trending.is_object()) throw std::invalid_argument("trending must be a mapping");

  std::unordered_map<std::string, Verdicts> by_muta;
  for (std::size_t f = 0; f < TRENDING_FLAGS.size(); ++f) {
    const std::string list_key(TRENDING_FLAGS[f].first);
    if (!trending.contains(list_key) || !trending[list_key].is_array()) continue;
    for (const ordered_json& entry : trending[list_key]) {
      const std::string key = entry.contains("muta") ? text_form(entry["muta"]) : std::string();
      Verdicts& verdicts = by_muta[key];
      verdicts.flags[f] = true;
      const std::string reason = entry.contains("reason") ? text_form(entry["reason"]) : std::string();
      if (reason.empty()) continue;
      if (verdicts.has_reason) verdicts.reasons += " | ";
      verdicts.reasons += reason;
      verdicts.has_reason = true;
    }
  }

  Table& rows = scoreboard.rows;
  const std::size_t count = rows.num_rows();
  const Column* muta = rows.find("muta");
  std::vector<Column> flags;
  for (const auto& [list_key, member] : TRENDING_FLAGS) {
    flags.emplace_back(std::string(member), ColumnKind::kInteger);
    flags.back().reserve(count);
  }
  Column reasons("_vrd_neden", ColumnKind::kText);
  reasons.reserve(count);
  std::size_t enriched = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::string key;
    if (muta != nullptr && muta->cell(i) == Cell::kNull) key = "None";
    else if (muta != nullptr && muta->cell(i) == Cell::kValue) key = cell_text_form(*muta, i);
    const auto found = by_muta.find(key);
    const Verdicts* verdicts = found == by_muta.end() ? nullptr : &found->second;
    bool any = false;
    for (std::size_t f = 0; f < flags.size(); ++f) {
      const bool set = verdicts != nullptr && verdicts->flags[f];
      flags[f].push_integer(set ? 1 : 0);
      any = any || set;
    }
    reasons.push_text(verdicts == nullptr ? std::string_view() : std::string_view(verdicts->reasons));
    if (any) ++enriched;
  }
  for (Column& flag : flags) rows.set_column(std::move(flag));
  rows.set_column(std::move(reasons));
  sink.line("    trending flags: " + std::to_string(enriched) + " entities enriched");
}

}  // namespace vordak::pipeline
