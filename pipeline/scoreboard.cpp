#include "pipeline/scoreboard.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <stdexcept>
#include <unordered_map>

#include "core/console.h"
#include "pipeline/cleaning.h"
#include "pipeline/entity_keys.h"

namespace vordak::pipeline {

namespace {

constexpr std::uint32_t kNoRow = UINT32_MAX;

const char* const kTextMembers[] = {"unvan", "segment", "sube_adi", "bolge_adi"};
const char* const kCodeMembers[] = {"sube_kodu", "bolge_kodu"};
const char* const kDepositMembers[] = {"depo_risk", "nakit_risk", "gnakit_risk"};

std::string cell_label(const Column& column, std::size_t row) {
  if (column.kind() == ColumnKind::kText && !column.is_null(row)) return std::string(column.text(row));
  return text_form(column.to_json(row));
}

ordered_json first_column_values(const Table& table) {
  ordered_json values = ordered_json::array();
  if (table.num_columns() == 0) return values;
  for (std::size_t row = 0; row < table.num_rows(); ++row) values.push_back(table.column(0).to_json(row));
  return values;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// A score cell as the scoreboard keeps it: "YI", an integer rounded half to even, or
// null (nulls, null-like and unreadable texts, non-finite numbers).
enum class Score : std::uint8_t { kNull, kInteger, kYi };

Score read_score(const Column& column, std::size_t row, std::int64_t& value) {
  if (column.is_null(row)) return Score::kNull;
  double number = 0;
  switch (column.kind()) {
    case ColumnKind::kInteger: value = column.integer(row); return Score::kInteger;
    case ColumnKind::kBoolean: value = column.boolean(row) ? 1 : 0; return Score::kInteger;
    case ColumnKind::kFloat: number = column.floating(row); break;
    case ColumnKind::kText: {
      const std::string_view text = column.text(row);
      if (text == "YI") return Score::kYi;
      if (is_null_like(text)) return Score::kNull;
      const std::optional<double> parsed = parse_number(text);
      if (!parsed) return Score::kNull;
      number = *parsed;
      break;
    }
    case ColumnKind::kJson: {
      const ordered_json stored = column.kind() == ColumnKind::kJson ? column.json(row) : ordered_json();
      const std::string text = column.kind() == ColumnKind::kText ? std::string(column.text(row)) : text_form(stored);
      if (text == "YI") return Score::kYi;
      if (is_null_like(text)) return Score::kNull;
      if (stored.is_number_integer()) {
        value = stored.get<std::int64_t>();
        return Score::kInteger;
      }
      const std::optional<double> parsed = parse_number(text);
      if (!parsed) return Score::kNull;
      number = *parsed;
      break;
    }
  }
  if (!std::isfinite(number) || std::fabs(number) >= 9.2e18) return Score::kNull;
  value = static_cast<std::int64_t>(std::nearbyint(number));
  return Score::kInteger;
}

// Source rows of one value column pivoted to (period, firm): the first row holding a
// value, or kNoRow.
struct Pivot {
  const Column* source = nullptr;
  std::vector<std::uint32_t> first_row;  // index period * firms + firm
};

// The integer part of a risk for "son_risk" and the "df" members; nullopt for nulls and
// values with no integer part (non-finite or beyond 64 bits).
std::optional<std::int64_t> risk_integer(const Column& risk, std::size_t row) {
  const std::optional<double> number = risk.number(row);
  if (!number) return std::nullopt;
  if (risk.kind() == ColumnKind::kInteger) return risk.integer(row);
  if (!std::isfinite(*number) || std::fabs(*number) >= 9.2e18) return std::nullopt;
  return static_cast<std::int64_t>(*number);
}

void replace_non_finite(Column& column) {
  if (column.kind() == ColumnKind::kFloat) {
    for (std::size_t i = 0; i < column.size(); ++i) {
      if (!column.is_null(i) && !std::isfinite(column.floating(i))) column.set_null(i);
    }
  } else if (column.kind() == ColumnKind::kJson) {
    for (std::size_t i = 0; i < column.size(); ++i) {
      const ordered_json& value = column.json(i);
      if (value.is_number_float() && !std::isfinite(value.get<double>())) column.set_null(i);
    }
  }
}

std::set<std::string> distinct_names(const Table& rows, const char* member) {
  std::set<std::string> names;
  const Column* column = rows.find(member);
  if (column == nullptr) return names;
  for (std::size_t i = 0; i < column->size(); ++i) {
    if (!column->is_null(i) && !column->text(i).empty()) names.emplace(column->text(i));
  }
  return names;
}

}  // namespace

std::vector<std::string> period_labels(const ordered_json& meta, const char* member) {
  std::vector<std::string> labels;
  if (!meta.is_object() || !meta.contains(member) || !meta[member].is_array()) return labels;
  for (const ordered_json& value : meta[member]) labels.push_back(text_form(value));
  return labels;
}

Scoreboard _build_scoreboard(Connection& con) {
  Scoreboard scoreboard;
  const ordered_json donemler = first_column_values(con.query("SELECT DISTINCT donem FROM fact_periodic ORDER BY donem"));
  if (donemler.empty()) {
    say("    [WARN] No periods in fact_periodic");
    return scoreboard;
  }
  const ordered_json son_donem = donemler.back();
  const ordered_json risk_donemler = first_column_values(
      con.query("SELECT DISTINCT donem FROM fact_periodic WHERE kombine_risk IS NOT NULL ORDER BY donem"));
  const Table scored = con.query(
      "SELECT DISTINCT entity_id FROM fact_periodic WHERE vrd_skor IS NOT NULL OR COALESCE(kombine_risk, 0) > 0");
  const std::vector<std::int64_t> entity_ids = entity_keys(scored.column(0), "fact_periodic");
  if (entity_ids.empty()) {
    scoreboard.meta = {{"donemler", donemler}, {"son_donem", son_donem}, {"n_muta", 0}};
    return scoreboard;
  }

  const bool has_follow_up = contains(con.describe_columns("dim_entity"), "son_izleme_kodu");
  const bool has_deposits = contains(con.describe_columns("fact_periodic"), "depo_risk");
  const std::string identity_extra =
      has_follow_up ? ", de.son_izleme_kodu, de.risk_grup_kodu, de.pgy, de.finansman_konu, de.tahsis_onay_birimi" : "";
  const std::string period_extra = has_deposits ? ", depo_risk, nakit_risk, gnakit_risk" : "";
  Table identity = con.query(
      "SELECT de.entity_id, mi.unvan, de.segment, de.sube_kodu, sb.sube_adi, de.bolge_kodu, sb2.bolge_adi" +
          identity_extra +
          " FROM dim_entity de LEFT JOIN map_identity mi ON de.entity_id = mi.entity_id"
          " LEFT JOIN ref_sube_bolge sb ON de.sube_kodu = sb.sube_kodu"
          " LEFT JOIN ( SELECT DISTINCT ON (bolge_kodu) bolge_kodu, bolge_adi FROM ref_sube_bolge ORDER BY bolge_kodu )"
          " sb2 ON de.bolge_kodu = sb2.bolge_kodu WHERE de.entity_id = ANY($1)",
      entity_ids);
  const Table periods = con.query(
      "SELECT entity_id, donem, vrd_skor, kombine_risk, risk_degisim" + period_extra +
          " FROM fact_periodic WHERE entity_id = ANY($1)",
      entity_ids);

  // Dense indexes of firms and periods.
  const std::size_t firm_count = entity_ids.size();
  std::unordered_map<std::int64_t, std::uint32_t> firm_index;
  firm_index.reserve(firm_count * 2);
  for (std::size_t k = 0; k < firm_count; ++k) firm_index.emplace(entity_ids[k], static_cast<std::uint32_t>(k));
  std::vector<std::string> labels;
  std::unordered_map<std::string, std::uint32_t> period_index;
  for (const ordered_json& value : donemler) {
    period_index.emplace(text_form(value), static_cast<std::uint32_t>(labels.size()));
    labels.push_back(text_form(value));
  }
  const std::size_t period_count = labels.size();
  const std::size_t son = period_count - 1;

  // Pivots: for every (period, firm) the first source row with a value.
  const std::vector<std::int64_t> period_keys = entity_keys(periods.column(0), "fact_periodic");
  std::vector<std::uint32_t> period_of_row(periods.num_rows(), kNoRow);
  {
    const Column& donem = periods.column(1);
    std::string_view last_label;
    std::uint32_t last_index = kNoRow;
    std::string scratch;
    for (std::size_t row = 0; row < periods.num_rows(); ++row) {
      if (donem.kind() == ColumnKind::kText && !donem.is_null(row)) {
        const std::string_view label = donem.text(row);
        if (last_index == kNoRow || label != last_label) {
          scratch.assign(label);
          auto found = period_index.find(scratch);
          last_index = found == period_index.end() ? kNoRow : found->second;
          last_label = label;
          if (last_index == kNoRow) continue;
        }
        period_of_row[row] = last_index;
      } else {
        auto found = period_index.find(cell_label(donem, row));
        if (found != period_index.end()) period_of_row[row] = found->second;
      }
    }
  }
  std::vector<std::uint32_t> firm_of_row(periods.num_rows(), kNoRow);
  for (std::size_t row = 0; row < periods.num_rows(); ++row) firm_of_row[row] = firm_index.at(period_keys[row]);

  Pivot pivots[3];
  for (int c = 0; c < 3; ++c) {
    pivots[c].source = &periods.column(static_cast<std::size_t>(c) + 2);
    pivots[c].first_row.assign(period_count * firm_count, kNoRow);
    const Column& source = *pivots[c].source;
    const bool is_float = source.kind() == ColumnKind::kFloat;
    for (std::size_t row = 0; row < periods.num_rows(); ++row) {
      if (period_of_row[row] == kNoRow || source.is_null(row)) continue;
      if (is_float && std::isnan(source.floating(row))) continue;
      std::uint32_t& slot = pivots[c].first_row[period_of_row[row] * firm_count + firm_of_row[row]];
      if (slot == kNoRow) slot = static_cast<std::uint32_t>(row);
    }
  }
  auto gather = [&](const Pivot& pivot, std::size_t period, const std::vector<std::uint32_t>& firms,
                    const std::string& name) {
    Column column(name, pivot.source->kind());
    column.reserve(firms.size());
    for (std::uint32_t k : firms) {
      const std::uint32_t row = pivot.first_row[period * firm_count + k];
      if (row == kNoRow) column.push_null();
      else column.push_from(*pivot.source, row);
    }
    return column;
  };

  // Current risk decides the row order, so every column is built in that order at once.
  const std::vector<std::int64_t> identity_keys = entity_keys(identity.column(0), "dim_entity");
  std::vector<std::uint32_t> firms(identity.num_rows());
  for (std::size_t i = 0; i < firms.size(); ++i) firms[i] = firm_index.at(identity_keys[i]);
  const std::string& son_label = labels[son];
  const Column current_risk = _safe_int_series(gather(pivots[1], son, firms, "r" + son_label));
  std::vector<std::int64_t> son_risk(firms.size(), 0);
  for (std::size_t i = 0; i < firms.size(); ++i) son_risk[i] = risk_integer(current_risk, i).value_or(0);
  std::vector<std::size_t> order(firms.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return son_risk[a] > son_risk[b]; });
  std::vector<std::uint32_t> sorted_firms(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) sorted_firms[i] = firms[order[i]];

  Table rows = identity.take(order);
  rows.column(0).rename("muta");
  for (const char* member : kTextMembers) {
    if (Column* column = rows.find(member)) *column = _clean_str_series(*column);
  }
  for (const char* member : kCodeMembers) {
    if (Column* column = rows.find(member)) *column = _safe_int_series(*column);
  }

  for (std::size_t p = 0; p < period_count; ++p) {
    const Pivot& pivot = pivots[0];
    std::vector<std::int64_t> values(sorted_firms.size(), 0);
    std::vector<Score> states(sorted_firms.size(), Score::kNull);
    bool any_yi = false;
    for (std::size_t i = 0; i < sorted_firms.size(); ++i) {
      const std::uint32_t row = pivot.first_row[p * firm_count + sorted_firms[i]];
      if (row != kNoRow) states[i] = read_score(*pivot.source, row, values[i]);
      any_yi = any_yi || states[i] == Score::kYi;
    }
    Column score("vrd" + labels[p], any_yi ? ColumnKind::kJson : ColumnKind::kInteger);
    score.reserve(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (states[i] == Score::kNull) score.push_null();
      else if (states[i] == Score::kYi) score.push_text("YI");
      else score.push_integer(values[i]);
    }
    rows.add_column(std::move(score));
  }
  std::vector<Column> risks;
  for (std::size_t p = 0; p < period_count; ++p) {
    risks.push_back(_safe_int_series(gather(pivots[1], p, sorted_firms, "r" + labels[p])));
    rows.add_column(risks.back());
  }
  for (std::size_t p = 0; p < period_count; ++p) {
    rows.add_column(_safe_int_series(gather(pivots[2], p, sorted_firms, "rd" + labels[p])));
  }
  Column son_risk_column("son_risk", ColumnKind::kInteger);
  son_risk_column.reserve(order.size());
  for (std::size_t i : order) son_risk_column.push_integer(son_risk[i]);
  rows.add_column(son_risk_column);

  if (has_deposits) {
    // Each firm's first row of the current period.
    std::vector<std::uint32_t> current_row(firm_count, kNoRow);
    for (std::size_t row = 0; row < periods.num_rows(); ++row) {
      if (period_of_row[row] == son && current_row[firm_of_row[row]] == kNoRow) {
        current_row[firm_of_row[row]] = static_cast<std::uint32_t>(row);
      }
    }
    for (std::size_t d = 0; d < 3; ++d) {
      const Column& source = periods.column(5 + d);
      Column deposit(kDepositMembers[d], source.kind());
      deposit.reserve(sorted_firms.size());
      for (std::uint32_t k : sorted_firms) {
        if (current_row[k] == kNoRow) deposit.push_null();
        else deposit.push_from(source, current_row[k]);
      }
      rows.add_column(_safe_int_series(deposit));
    }
  }

  for (std::size_t p = 0; p < period_count; ++p) {
    Column change("df" + labels[p], ColumnKind::kInteger);
    change.reserve(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
      const std::optional<std::int64_t> then = risk_integer(risks[p], i);
      if (then) change.push_integer(son_risk_column.integer(i) - *then);
      else change.push_null();
    }
    rows.add_column(std::move(change));
  }
  for (std::size_t c = 0; c < rows.num_columns(); ++c) replace_non_finite(rows.column(c));

  ordered_json bolge_listesi = ordered_json::array();
  for (const std::string& name : distinct_names(rows, "bolge_adi")) bolge_listesi.push_back(name);
  ordered_json sube_listesi = ordered_json::array();
  for (const std::string& name : distinct_names(rows, "sube_adi")) sube_listesi.push_back(name);
  scoreboard.meta = {{"donemler", donemler},         {"risk_donemler", risk_donemler},
                     {"son_donem", son_donem},       {"n_muta", rows.num_rows()},
                     {"bolge_listesi", bolge_listesi}, {"sube_listesi", sube_listesi},
                     {"pipeline_ts", "dummy_run"},   {"notebook", "pipeline_runner"}};
  scoreboard.rows = std::move(rows);
  return scoreboard;
}

void write_scoreboard(JsonWriter& writer, const Scoreboard& scoreboard) { write_scoreboard(writer, scoreboard, 0, {}); }

void write_scoreboard(JsonWriter& writer, const Scoreboard& scoreboard, std::size_t slice_rows,
                      const std::function<void()>& after_slice) {
  writer.begin_object();
  writer.key("meta");
  writer.value(scoreboard.meta);
  writer.key("rows");
  scoreboard.rows.write_rows(writer, slice_rows, after_slice);
  for (const auto& [name, value] : scoreboard.extra.items()) {
    writer.key(name);
    writer.value(value);
  }
  writer.end_object();
}

}  // namespace vordak::pipeline
