#include "pipeline/manager_filter.h"

#include <memory>
#include <optional>
#include <vector>

#include "pipeline/cleaning.h"
#include "pipeline/ranking.h"

namespace vordak::pipeline {

namespace {

std::string segment_of(const Table& rows, std::size_t row) {
  const Column* segment = rows.find("segment");
  if (segment == nullptr || segment->cell(row) == Cell::kAbsent) return "";
  if (segment->kind() == ColumnKind::kText && !segment->is_null(row)) return std::string(segment->text(row));
  return text_form(segment->to_json(row));
}

}  // namespace

MutaSet kobi_top(const Scoreboard& scoreboard) {
  const Table& rows = scoreboard.rows;
  MutaSet top;
  const Column* muta = rows.find("muta");
  const Column* son_risk = rows.find("son_risk");
  std::vector<std::size_t> kobi;
  std::vector<std::optional<double>> keys;
  for (std::size_t row = 0; row < rows.num_rows(); ++row) {
    if (segment_of(rows, row) != "KOBI") continue;
    kobi.push_back(row);
    keys.push_back(son_risk == nullptr ? std::nullopt : risk_key(*son_risk, row));
  }
  if (muta == nullptr) return top;
  const std::vector<std::size_t> order = order_by_risk_desc(keys, NullRisk::kAsZero);
  for (std::size_t k = 0; k < order.size() && k < KOBI_TOP_COUNT; ++k) top.add(*muta, kobi[order[k]]);
  return top;
}

RowFilter yonetici_filter(MutaSet kobi_top) {
  auto top = std::make_shared<const MutaSet>(std::move(kobi_top));
  return [top](const Table& rows, std::size_t row) {
    const std::string segment = segment_of(rows, row);
    if (segment == "KUR-TIC") return true;
    if (segment == "KOBI") {
      const Column* muta = rows.find("muta");
      if (muta != nullptr && top->contains(*muta, row)) return true;
    }
    const Column* son_risk = rows.find("son_risk");
    const double risk = son_risk == nullptr ? 0.0 : risk_key(*son_risk, row).value_or(0.0);
    return risk > static_cast<double>(MANAGER_RISK_THRESHOLD);
  };
}

}  // namespace vordak::pipeline
