#include "pipeline/diagnostics.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/number_text.h"
#include "core/sink.h"
#include "pipeline/cleaning.h"
#include "pipeline/entity_keys.h"

namespace vordak::pipeline {

namespace {

constexpr const char* kTable = "diag_eus_kapsam_diskalma";

// A value that must become a floating-point number; nullopt for a null cell.
std::optional<double> as_float(const Column& column, std::size_t row) {
  if (column.is_null(row)) return std::nullopt;
  if (const std::optional<double> number = column.number(row)) {
    if (std::isnan(*number)) return std::nullopt;
    return number;
  }
  const std::string text = cell_text_form(column, row);
  const std::optional<double> parsed = parse_number(text);
  if (!parsed) throw std::runtime_error("could not convert " + column.name() + " value to float: '" + text + "'");
  return parsed;
}

// The new-finding marker: 0 for a null, otherwise the value's integer part; a text that
// is not a number fails.
std::int64_t marker(const Column* yeni, std::size_t row) {
  if (yeni == nullptr) return 0;
  const std::optional<double> value = as_float(*yeni, row);
  return value ? integer_part(*value) : 0;
}

ordered_json build_index(Connection& con, Sink& sink) {
  if (!con.has_table(kTable)) {
    sink.line("  [DIAG] Tablo yok, atlanıyor");
    return ordered_json::object();
  }
  const std::vector<std::string> col_names = con.describe_columns(kTable);
  const bool has_grup = std::find(col_names.begin(), col_names.end(), "grup") != col_names.end();
  const bool has_yeni = std::find(col_names.begin(), col_names.end(), "yeni") != col_names.end();
  std::string select_cols = "muta, donem, katman, kriter, deger, onceki_deger, aciklama";
  if (has_grup) select_cols += ", grup";
  if (has_yeni) select_cols += ", yeni";
  const Table table = con.query("\n    SELECT " + select_cols + "\n    FROM " + kTable +
                                // The criterion and text after the specified order: without them a
                                // firm's findings of one layer and period come in any order.
                                "\n    ORDER BY muta, donem, katman, kriter, aciklama\n");
  if (table.empty()) {
    sink.line("  [DIAG] Tablo boş, atlanıyor");
    return ordered_json::object();
  }

  const std::vector<std::int64_t> firm_keys = entity_keys(table.column("muta"), kTable);
  const std::vector<std::int64_t> period_numbers = entity_keys(table.column("donem"), kTable);
  const Column& katman = table.column("katman");
  const Column& kriter = table.column("kriter");
  const Column& aciklama = table.column("aciklama");
  const Column& deger = table.column("deger");
  const Column& onceki = table.column("onceki_deger");
  const Column* grup = has_grup ? &table.column("grup") : nullptr;
  const Column* yeni = has_yeni ? &table.column("yeni") : nullptr;

  // Firms in order of first appearance; the index is assembled at the end because
  // member lookup in an ordered document is linear.
  std::vector<std::pair<std::int64_t, ordered_json>> firms;
  std::unordered_map<std::int64_t, std::size_t> firm_position;
  std::size_t new_findings = 0;
  for (std::size_t i = 0; i < table.num_rows(); ++i) {
    ordered_json finding = ordered_json::object();
    finding["katman"] = katman.to_json(i);
    finding["kriter"] = kriter.to_json(i);
    finding["aciklama"] = aciklama.to_json(i);
    if (const auto value = as_float(deger, i)) finding["deger"] = *value;
    if (const auto value = as_float(onceki, i)) finding["onceki"] = *value;
    std::optional<std::string> group;
    if (grup != nullptr && !grup->is_null(i)) {
      std::string text = cell_text_form(*grup, i);
      if (!text.empty() && !is_null_like(text)) group = std::move(text);
    }
    if (group) finding["grup"] = *group;
    const std::int64_t is_new = marker(yeni, i);
    finding["yeni"] = is_new;

    const auto [position, inserted] = firm_position.try_emplace(firm_keys[i], firms.size());
    if (inserted) firms.emplace_back(firm_keys[i], ordered_json::object());
    ordered_json& firm = firms[position->second].second;
    ordered_json& bucket = firm[int_text(period_numbers[i])];
    if (bucket.is_null()) bucket = {{"bulgular", ordered_json::array()}, {"yeni_gruplar", ordered_json::array()}};
    bucket["bulgular"].push_back(std::move(finding));
    if (is_new == 1) {
      ++new_findings;
      ordered_json& groups = bucket["yeni_gruplar"];
      if (group && std::find(groups.begin(), groups.end(), *group) == groups.end()) groups.push_back(*group);
    }
  }
  ordered_json index = ordered_json::object();
  auto& members = static_cast<ordered_json::object_t::Container&>(index.get_ref<ordered_json::object_t&>());
  members.reserve(firms.size());
  for (auto& [muta, periods] : firms) members.emplace_back(int_text(muta), std::move(periods));
  sink.line("  [DIAG] " + std::to_string(index.size()) + " firma, " + std::to_string(table.num_rows()) + " bulgu, " +
      std::to_string(new_findings) + " yeni bulgu yüklendi");
  return index;
}

}  // namespace

ordered_json build_diag_index(Connection& con, Sink& sink) {
  // The diagnostic findings are an optional extra of the dashboards: whatever goes wrong
  // with them is reported and the run goes on without them.
  try {
    return build_index(con, sink);
  } catch (const std::exception& error) {
    sink.line(std::string("  [DIAG] Hata: ") + error.what());
    return ordered_json::object();
  }
}

}  // namespace vordak::pipeline
