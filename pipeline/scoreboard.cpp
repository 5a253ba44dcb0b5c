#include "pipeline/scoreboard.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "core/helper_thread.h"
#include "core/sink.h"
#include "core/text.h"
#include "pipeline/cleaning.h"
#include "pipeline/entity_keys.h"

namespace vordak::pipeline {

namespace {

constexpr std::uint32_t kNoRow = Column::kNoRow;
constexpr std::size_t kNoSlot = SIZE_MAX;

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

// A period reads as a year and month: "2024-06", 202406, or a date such as 2024-06-30.
// Any other label would sort among them by its text ("9999-99" after every month) and be
// taken for the newest period, which would empty every watch list.
constexpr const char* kPeriodReads =
    "regexp_full_match(CAST(donem AS VARCHAR), "
    "'[0-9]{4}-(0[1-9]|1[0-2])(-(0[1-9]|[12][0-9]|3[01]))?|[0-9]{4}(0[1-9]|1[0-2])')";
constexpr const char* kDistinctPeriods = "(SELECT DISTINCT donem FROM fact_periodic)";

struct Periods {
  ordered_json readable = ordered_json::array();  // in order
  // A condition to append to a query's WHERE that keeps only the rows of readable
  // periods; empty when every period reads, so that no query pays for it then.
  std::string only_readable;
};

// The periods of fact_periodic. Those that do not read as a year and month are left out,
// with a warning naming them: their rows are no part of the scoreboard.
Periods read_periods(Connection& con, Sink& sink) {
  const Table found = con.query(std::string("SELECT donem, coalesce(") + kPeriodReads + ", false) AS reads FROM " +
                                kDistinctPeriods + " ORDER BY donem");
  Periods periods;
  std::vector<std::string> unreadable;
  for (std::size_t row = 0; row < found.num_rows(); ++row) {
    if (found.column(1).boolean(row)) periods.readable.push_back(found.column(0).to_json(row));
    else unreadable.push_back(cell_label(found.column(0), row));
  }
  if (unreadable.empty()) return periods;
  if (unreadable.size() > 5) unreadable.resize(5);
  sink.line("    [WARN] fact_periodic holds periods that do not read as a year and month (" + join(unreadable, ", ") +
            "); their rows are left out");
  periods.only_readable =
      std::string(" AND donem IN (SELECT donem FROM ") + kDistinctPeriods + " WHERE " + kPeriodReads + ")";
  return periods;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// A score cell as the scoreboard keeps it: "YI", an integer rounded half to even, or
// null (nulls, null-like and unreadable texts, non-finite numbers); kEmpty while no
// stored value was met.
enum class Score : std::uint8_t { kEmpty, kNull, kInteger, kYi };

// Most stored scores are a few plain digits: their value, without the general number
// reader (which would give the same integer). False for any other text.
bool read_digits(std::string_view text, std::int64_t& value) {
  if (text.empty() || text.size() > 9) return false;
  std::int64_t digits = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    digits = digits * 10 + (c - '0');
  }
  value = digits;
  return true;
}

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
      if (read_digits(text, value)) return Score::kInteger;
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
  if (!fits_int64(number)) return Score::kNull;
  value = static_cast<std::int64_t>(std::nearbyint(number));
  return Score::kInteger;
}

// The scores pivoted to (period, firm): for every pair its first stored score, read
// as it arrives.
struct ScorePivot {
  std::vector<Score> states;  // index period * firms + firm
  std::vector<std::int64_t> values;
  bool saw_integers = false;
  bool saw_floats = false;
};

// A wide integer column arrives as floats in the chunks holding a value beyond 64 bits
// and as integers in the others. Read whole, all its values would have been floats:
// give the integer reads the float rule too (which leaves rounded floats unchanged).
void widen_scores(ScorePivot& pivot) {
  if (!(pivot.saw_integers && pivot.saw_floats)) return;
  for (std::size_t i = 0; i < pivot.states.size(); ++i) {
    if (pivot.states[i] != Score::kInteger) continue;
    const double number = static_cast<double>(pivot.values[i]);
    if (!fits_int64(number)) pivot.states[i] = Score::kNull;
    else pivot.values[i] = static_cast<std::int64_t>(number);
  }
}

// One risk column of the period data pivoted to (period, firm): for every pair the
// first cell holding a value, kept in arrival order.
struct RiskPivot {
  std::optional<Column> cells;
  std::vector<std::uint32_t> first_cell;  // index period * firms + firm; kNoRow: none
};

// The column that keeps cells of one period-data column, taking the kind of the first
// chunk. A wide integer column arrives as floats in a chunk holding a value beyond 64
// bits; the kept cells then widen too, as the whole result column would.
Column& adopt_kind(std::optional<Column>& kept, const Column& source, std::size_t expected_cells) {
  if (!kept) {
    kept.emplace(source.name(), source.kind());
    kept->reserve(expected_cells);
  } else if (kept->kind() == ColumnKind::kInteger && source.kind() == ColumnKind::kFloat) {
    kept->promote_to_float();
  }
  return *kept;
}

// Integer and float risks need no cleaning: the pivot never keeps a not-a-number.
Column clean_risks(Column risks) {
  if (risks.kind() == ColumnKind::kInteger || risks.kind() == ColumnKind::kFloat) return risks;
  return safe_int_series(risks);
}

// The index in `period_index` of every row's period label, or kNoRow.
std::vector<std::uint32_t> period_indexes(const Column& donem,
                                          const std::unordered_map<std::string, std::uint32_t>& period_index) {
  std::vector<std::uint32_t> indexes(donem.size(), kNoRow);
  std::string label;
  std::uint32_t index = kNoRow;
  bool looked_up = false;
  for (std::size_t row = 0; row < donem.size(); ++row) {
    const bool is_text = donem.kind() == ColumnKind::kText && !donem.is_null(row);
    // Rows come grouped by period more often than not: reuse the last lookup.
    if (is_text && looked_up && donem.text(row) == label) {
      indexes[row] = index;
      continue;
    }
    label = is_text ? std::string(donem.text(row)) : cell_label(donem, row);
    const auto found = period_index.find(label);
    index = found == period_index.end() ? kNoRow : found->second;
    looked_up = is_text;
    indexes[row] = index;
  }
  return indexes;
}

// The integer part of a risk for "son_risk" and the "df" members; nullopt for nulls and
// values with no integer part (non-finite or beyond 64 bits).
std::optional<std::int64_t> risk_integer(const Column& risk, std::size_t row) {
  const std::optional<double> number = risk.number(row);
  if (!number) return std::nullopt;
  if (risk.kind() == ColumnKind::kInteger) return risk.integer(row);
  if (!fits_int64(*number)) return std::nullopt;
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

// A risk the rules clean away: not a number, infinite, or with no 64-bit integer part.
bool is_bad_risk(const Column& risk, std::size_t row) {
  if (risk.kind() == ColumnKind::kInteger || risk.is_null(row)) return false;
  const std::optional<double> number = risk.number(row);
  return number && (!std::isfinite(*number) || !fits_int64(*number));
}

// Up to five keys of `keys` in their text form: "17, 42, 99".
std::string first_keys(const std::vector<std::int64_t>& keys) {
  std::string text;
  for (std::size_t i = 0; i < keys.size() && i < 5; ++i) text += (i == 0 ? "" : ", ") + std::to_string(keys[i]);
  return text;
}

// The scored firms that `table` holds more than once, in key order.
std::vector<std::int64_t> duplicated_keys(Connection& con, const char* table, const std::vector<std::int64_t>& scored) {
  const Table found = con.query(std::string("SELECT entity_id FROM ") + table +
                                    " WHERE entity_id = ANY($1) GROUP BY entity_id HAVING count(*) > 1"
                                    " ORDER BY entity_id",
                                scored);
  return entity_keys(found.column(0), table);
}

// One row per firm: a firm that dim_entity or map_identity (or a branch code that
// ref_sube_bolge) holds twice would otherwise count twice in every total. Keeps each
// firm's first row and warns naming the tables and the first keys.
Table first_row_per_firm(Table identity, Connection& con, const std::vector<std::int64_t>& scored, Sink& sink) {
  const std::vector<std::int64_t> keys = entity_keys(identity.column(0), "dim_entity");
  std::unordered_set<std::int64_t> seen;
  seen.reserve(keys.size() * 2);
  std::vector<std::size_t> firsts;
  firsts.reserve(keys.size());
  for (std::size_t row = 0; row < keys.size(); ++row) {
    if (seen.insert(keys[row]).second) firsts.push_back(row);
  }
  if (firsts.size() == keys.size()) return identity;
  bool named = false;
  for (const char* table : {"dim_entity", "map_identity"}) {
    const std::vector<std::int64_t> duplicated = duplicated_keys(con, table, scored);
    if (duplicated.empty()) continue;
    named = true;
    sink.line("    [WARN] " + std::string(table) + " holds " + std::to_string(duplicated.size()) +
              " firms more than once (" + first_keys(duplicated) + "); each keeps its first row");
  }
  if (!named) {
    sink.line("    [WARN] ref_sube_bolge holds a branch code more than once; " +
              std::to_string(keys.size() - firsts.size()) +
              " duplicated firm rows left out, each firm keeps its first");
  }
  return identity.take(firsts);
}

// Cleans the firms' names and codes; no column keeps a non-finite number.
void clean_identity(Table& identity) {
  for (const char* member : kTextMembers) {
    if (Column* column = identity.find(member)) *column = clean_str_series(*column);
  }
  for (const char* member : kCodeMembers) {
    if (Column* column = identity.find(member)) *column = safe_int_series(*column);
  }
  for (std::size_t c = 0; c < identity.num_columns(); ++c) replace_non_finite(identity.column(c));
}

// One period's score column, for the firms in row order: "YI", the integer or null.
Column score_column(const ScorePivot& scores, std::size_t first_slot, const std::vector<std::uint32_t>& firms,
                    const std::string& name) {
  bool any_yi = false;
  for (std::uint32_t k : firms) any_yi = any_yi || scores.states[first_slot + k] == Score::kYi;
  Column score(name, any_yi ? ColumnKind::kJson : ColumnKind::kInteger);
  score.reserve(firms.size());
  for (std::uint32_t k : firms) {
    switch (scores.states[first_slot + k]) {
      case Score::kEmpty:
      case Score::kNull: score.push_null(); break;
      case Score::kYi: score.push_text("YI"); break;
      case Score::kInteger: score.push_integer(scores.values[first_slot + k]); break;
    }
  }
  return score;
}

// The change of the current risk since a period ("df"): null where that period's risk
// has no integer part, or the change does not fit 64 bits.
Column change_since(const Column& risk, const Column& son_risk, const std::string& name) {
  Column change(name, ColumnKind::kInteger);
  change.reserve(risk.size());
  for (std::size_t i = 0; i < risk.size(); ++i) {
    const std::optional<std::int64_t> then = risk_integer(risk, i);
    std::int64_t difference = 0;
    if (then && !__builtin_sub_overflow(son_risk.integer(i), *then, &difference)) change.push_integer(difference);
    else change.push_null();
  }
  return change;
}

// The columns of one period, made apart from the others.
struct PeriodColumns {
  std::optional<Column> score, risk, change, since;
};

std::set<std::string> distinct_names(const Table& rows, const char* member) {
  std::set<std::string> names;
  const Column* column = rows.find(member);
  if (column == nullptr) return names;
  for (std::size_t i = 0; i < column->size(); ++i) {
    if (!column->is_null(i) && !column->text(i).empty()) names.emplace(column->text(i));
  }
  return names;
}

// The firms scored in a readable period, in the database's order.
std::vector<std::int64_t> scored_firms(Connection& con, const Periods& read) {
  const Table scored = con.query(
      "SELECT DISTINCT entity_id FROM fact_periodic WHERE (vrd_skor IS NOT NULL OR COALESCE(kombine_risk, 0) > 0)" +
      read.only_readable);
  return entity_keys(scored.column(0), "fact_periodic");
}

// The scored firms' names, segments, branches and regions (and follow-up members where
// dim_entity has them), one row per firm.
Table read_identity(Connection& con, const std::vector<std::int64_t>& entity_ids, Sink& sink) {
  const bool has_follow_up = contains(con.describe_columns("dim_entity"), "son_izleme_kodu");
  const std::string identity_extra =
      has_follow_up ? ", de.son_izleme_kodu, de.risk_grup_kodu, de.pgy, de.finansman_konu, de.tahsis_onay_birimi" : "";
  return first_row_per_firm(con.query(
      "SELECT de.entity_id, mi.unvan, de.segment, de.sube_kodu, sb.sube_adi, de.bolge_kodu, sb2.bolge_adi" +
          identity_extra +
          " FROM dim_entity de LEFT JOIN map_identity mi ON de.entity_id = mi.entity_id"
          " LEFT JOIN ref_sube_bolge sb ON de.sube_kodu = sb.sube_kodu"
          " LEFT JOIN ( SELECT DISTINCT ON (bolge_kodu) bolge_kodu, bolge_adi FROM ref_sube_bolge ORDER BY bolge_kodu )"
          " sb2 ON de.bolge_kodu = sb2.bolge_kodu WHERE de.entity_id = ANY($1)"
          // The tables' own order, which a parallel join does not keep: it decides which
          // row of a repeated firm is its first, and the order of firms of equal risk.
          " ORDER BY de.rowid, mi.rowid, sb.rowid",
      entity_ids), con, entity_ids, sink);
}

// Dense indexes of the scored firms and the readable periods (the newest last).
struct DenseIndexes {
  DenseIndexes(const std::vector<std::int64_t>& entity_ids, const ordered_json& donemler) : firm_count(entity_ids.size()) {
    firm_index.reserve(firm_count * 2);
    for (std::size_t k = 0; k < firm_count; ++k) firm_index.emplace(entity_ids[k], static_cast<std::uint32_t>(k));
    for (const ordered_json& value : donemler) {
      period_index.emplace(text_form(value), static_cast<std::uint32_t>(labels.size()));
      labels.push_back(text_form(value));
    }
  }
  std::size_t period_count() const { return labels.size(); }
  std::size_t son() const { return labels.size() - 1; }

  std::size_t firm_count;
  std::unordered_map<std::int64_t, std::uint32_t> firm_index;
  std::vector<std::string> labels;
  std::unordered_map<std::string, std::uint32_t> period_index;
};

// What the scoreboard keeps of the period data, read chunk by chunk: the score and risk
// pivots, the newest period's deposits, and the firms with a risk the rules clean away.
class PeriodData {
 public:
  PeriodData(const DenseIndexes& dense, bool has_deposits)
      : dense_(dense), has_deposits_(has_deposits), current_cell_(dense.firm_count, kNoRow),
        bad_risk_(dense.firm_count, false) {
    const std::size_t slots = dense.period_count() * dense.firm_count;
    scores_.states.assign(slots, Score::kEmpty);
    scores_.values.assign(slots, 0);
    for (RiskPivot& pivot : risks_) pivot.first_cell.assign(slots, kNoRow);
  }

  // Takes one chunk of (entity_id, donem, vrd_skor, kombine_risk, risk_degisim[, deposits]).
  void add_chunk(const Table& chunk) {
    const std::vector<std::size_t> slot_of_row = slots_of(chunk);
    add_scores(chunk.column(2), slot_of_row);
    const Column& risk_source = chunk.column(3);
    for (std::size_t row = 0; row < slot_of_row.size(); ++row) {
      if (slot_of_row[row] == kNoSlot || !is_bad_risk(risk_source, row)) continue;
      bad_risk_[slot_of_row[row] % dense_.firm_count] = true;
    }
    for (std::size_t c = 0; c < 2; ++c) add_risks(risks_[c], chunk.column(3 + c), slot_of_row);
    if (has_deposits_) add_deposits(chunk, slot_of_row);
  }

  // Done reading: scores of a column that arrived both ways read as floats.
  void finish() { widen_scores(scores_); }

  const ScorePivot& scores() const { return scores_; }
  bool bad_risk(std::uint32_t firm) const { return bad_risk_[firm]; }

  // Risk pivot `which` (0: kombine_risk, 1: risk_degisim) of one period, for `firms`.
  Column risks(std::size_t which, std::size_t period, const std::vector<std::uint32_t>& firms,
               const std::string& name) const {
    const RiskPivot& pivot = risks_[which];
    std::vector<std::uint32_t> cells(firms.size());
    for (std::size_t i = 0; i < firms.size(); ++i) cells[i] = pivot.first_cell[period * dense_.firm_count + firms[i]];
    Column column(name, pivot.cells->kind());
    column.reserve(firms.size());
    column.append_rows(*pivot.cells, cells);
    return column;
  }

  // Deposit member `d` of the newest period, for `firms`, cleaned as the scoreboard keeps it.
  Column deposits(std::size_t d, const std::vector<std::uint32_t>& firms) const {
    std::vector<std::uint32_t> cells(firms.size());
    for (std::size_t i = 0; i < firms.size(); ++i) cells[i] = current_cell_[firms[i]];
    Column deposit(kDepositMembers[d], deposits_[d]->kind());
    deposit.append_rows(*deposits_[d], cells);
    Column cleaned = safe_int_series(deposit);
    replace_non_finite(cleaned);
    return cleaned;
  }

 private:
  // Each row's pivot slot; kNoSlot for rows without a known period, which are left out.
  std::vector<std::size_t> slots_of(const Table& chunk) const {
    const std::vector<std::int64_t> keys = entity_keys(chunk.column(0), "fact_periodic");
    const std::vector<std::uint32_t> period_of_row = period_indexes(chunk.column(1), dense_.period_index);
    std::vector<std::size_t> slot_of_row(chunk.num_rows(), kNoSlot);
    for (std::size_t row = 0; row < slot_of_row.size(); ++row) {
      const std::uint32_t firm = dense_.firm_index.at(keys[row]);
      if (period_of_row[row] != kNoRow) slot_of_row[row] = period_of_row[row] * dense_.firm_count + firm;
    }
    return slot_of_row;
  }

  void add_scores(const Column& source, const std::vector<std::size_t>& slot_of_row) {
    const bool float_scores = source.kind() == ColumnKind::kFloat;
    scores_.saw_floats = scores_.saw_floats || float_scores;
    scores_.saw_integers = scores_.saw_integers || source.kind() == ColumnKind::kInteger;
    for (std::size_t row = 0; row < slot_of_row.size(); ++row) {
      const std::size_t slot = slot_of_row[row];
      if (slot == kNoSlot || scores_.states[slot] != Score::kEmpty || source.is_null(row)) continue;
      if (float_scores && std::isnan(source.floating(row))) continue;
      scores_.states[slot] = read_score(source, row, scores_.values[slot]);
    }
  }

  void add_risks(RiskPivot& pivot, const Column& source, const std::vector<std::size_t>& slot_of_row) {
    Column& kept = adopt_kind(pivot.cells, source, dense_.period_count() * dense_.firm_count);
    const bool is_float = source.kind() == ColumnKind::kFloat;
    firsts_.clear();
    for (std::size_t row = 0; row < slot_of_row.size(); ++row) {
      const std::size_t slot = slot_of_row[row];
      if (slot == kNoSlot || pivot.first_cell[slot] != kNoRow || source.is_null(row)) continue;
      if (is_float && std::isnan(source.floating(row))) continue;
      pivot.first_cell[slot] = static_cast<std::uint32_t>(kept.size() + firsts_.size());
      firsts_.push_back(static_cast<std::uint32_t>(row));
    }
    kept.append_rows(source, firsts_);
  }

  // Each firm's first row of the newest period.
  void add_deposits(const Table& chunk, const std::vector<std::size_t>& slot_of_row) {
    const std::size_t son_first_slot = dense_.son() * dense_.firm_count;
    for (std::size_t d = 0; d < 3; ++d) adopt_kind(deposits_[d], chunk.column(5 + d), dense_.firm_count);
    firsts_.clear();
    for (std::size_t row = 0; row < slot_of_row.size(); ++row) {
      const std::size_t slot = slot_of_row[row];
      if (slot == kNoSlot || slot < son_first_slot) continue;
      std::uint32_t& cell = current_cell_[slot - son_first_slot];
      if (cell != kNoRow) continue;
      cell = static_cast<std::uint32_t>(deposits_[0]->size() + firsts_.size());
      firsts_.push_back(static_cast<std::uint32_t>(row));
    }
    for (std::size_t d = 0; d < 3; ++d) deposits_[d]->append_rows(chunk.column(5 + d), firsts_);
  }

  const DenseIndexes& dense_;
  const bool has_deposits_;
  ScorePivot scores_;
  RiskPivot risks_[2];
  std::optional<Column> deposits_[3];
  std::vector<std::uint32_t> current_cell_;  // each firm's first row of the newest period
  std::vector<bool> bad_risk_;
  std::vector<std::uint32_t> firsts_;  // the rows of a chunk that fill an empty slot
};

// The firms in row order: by current risk, descending; equal risks keep the identity's
// order. Also the current risk of each, as "son_risk".
struct RowOrder {
  std::vector<std::size_t> order;          // identity rows
  std::vector<std::uint32_t> sorted_firms;  // dense firm indexes
  Column son_risk{"son_risk", ColumnKind::kInteger};
};

RowOrder order_by_current_risk(const std::vector<std::uint32_t>& firms, const PeriodData& data,
                               const DenseIndexes& dense) {
  const Column current_risk = clean_risks(data.risks(0, dense.son(), firms, "r" + dense.labels[dense.son()]));
  std::vector<std::int64_t> son_risk(firms.size(), 0);
  for (std::size_t i = 0; i < firms.size(); ++i) son_risk[i] = risk_integer(current_risk, i).value_or(0);
  RowOrder rows;
  rows.order.resize(firms.size());
  for (std::size_t i = 0; i < rows.order.size(); ++i) rows.order[i] = i;
  std::stable_sort(rows.order.begin(), rows.order.end(),
                   [&](std::size_t a, std::size_t b) { return son_risk[a] > son_risk[b]; });
  rows.sorted_firms.resize(rows.order.size());
  for (std::size_t i = 0; i < rows.order.size(); ++i) rows.sorted_firms[i] = firms[rows.order[i]];
  rows.son_risk.reserve(rows.order.size());
  for (std::size_t i : rows.order) rows.son_risk.push_integer(son_risk[i]);
  return rows;
}

// The rows' table: the firms' own columns, then per period the scores, the risks and the
// risk changes, "son_risk", the deposits, and per period the change since then.
Table assemble_rows(const Table& identity, const PeriodData& data, const DenseIndexes& dense,
                    bool has_deposits, Sink& sink) {
  // Current risk decides the row order, so every column is built in that order at once.
  const std::vector<std::int64_t> identity_keys = entity_keys(identity.column(0), "dim_entity");
  std::vector<std::uint32_t> firms(identity.num_rows());
  for (std::size_t i = 0; i < firms.size(); ++i) firms[i] = dense.firm_index.at(identity_keys[i]);
  const std::size_t bad_risk_firms =
      std::count_if(firms.begin(), firms.end(), [&](std::uint32_t firm) { return data.bad_risk(firm); });
  if (bad_risk_firms > 0) {
    sink.line("    [WARN] " + std::to_string(bad_risk_firms) +
              " firms have a kombine_risk that is not a number, infinite or out of range; those values are cleaned");
  }
  const RowOrder order = order_by_current_risk(firms, data, dense);

  // The firms' columns are put in row order, and each period's columns made, on two
  // threads: they depend only on the identity, the pivots and the current risk.
  std::vector<std::optional<Column>> firm_columns(identity.num_columns());
  std::vector<PeriodColumns> periods(dense.period_count());
  on_two_threads(firm_columns.size() + periods.size(), [&](std::size_t task) {
    if (task < firm_columns.size()) {
      firm_columns[task].emplace(identity.column(task).take(order.order));
      return;
    }
    const std::size_t p = task - firm_columns.size();
    const std::string& label = dense.labels[p];
    PeriodColumns& columns = periods[p];
    columns.score.emplace(score_column(data.scores(), p * dense.firm_count, order.sorted_firms, "vrd" + label));
    columns.risk.emplace(clean_risks(data.risks(0, p, order.sorted_firms, "r" + label)));
    columns.change.emplace(clean_risks(data.risks(1, p, order.sorted_firms, "rd" + label)));
    columns.since.emplace(change_since(*columns.risk, order.son_risk, "df" + label));
    for (Column* column : {&*columns.score, &*columns.risk, &*columns.change}) replace_non_finite(*column);
  });
  Table rows;
  for (std::optional<Column>& column : firm_columns) rows.add_column(std::move(*column));
  rows.column(0).rename("muta");
  for (PeriodColumns& columns : periods) rows.add_column(std::move(*columns.score));
  for (PeriodColumns& columns : periods) rows.add_column(std::move(*columns.risk));
  for (PeriodColumns& columns : periods) rows.add_column(std::move(*columns.change));
  rows.add_column(order.son_risk);
  if (has_deposits) {
    for (std::size_t d = 0; d < 3; ++d) rows.add_column(data.deposits(d, order.sorted_firms));
  }
  for (PeriodColumns& columns : periods) rows.add_column(std::move(*columns.since));
  return rows;
}

ordered_json distinct_name_list(const Table& rows, const char* member) {
  ordered_json list = ordered_json::array();
  for (const std::string& name : distinct_names(rows, member)) list.push_back(name);
  return list;
}

}  // namespace

std::vector<std::string> period_labels(const ordered_json& meta, const char* member) {
  std::vector<std::string> labels;
  if (!meta.is_object() || !meta.contains(member) || !meta[member].is_array()) return labels;
  for (const ordered_json& value : meta[member]) labels.push_back(text_form(value));
  return labels;
}

Scoreboard build_scoreboard(Connection& con, Sink& sink) {
  Scoreboard scoreboard;
  const Periods read = read_periods(con, sink);
  const ordered_json& donemler = read.readable;
  if (donemler.empty()) {
    sink.line("    [WARN] No periods in fact_periodic");
    return scoreboard;
  }
  const ordered_json son_donem = donemler.back();
  const ordered_json risk_donemler = first_column_values(con.query(
      "SELECT DISTINCT donem FROM fact_periodic WHERE kombine_risk IS NOT NULL" + read.only_readable + " ORDER BY donem"));
  const std::vector<std::int64_t> entity_ids = scored_firms(con, read);
  if (entity_ids.empty()) {
    scoreboard.meta = {{"donemler", donemler}, {"son_donem", son_donem}, {"n_muta", 0}};
    return scoreboard;
  }
  Table identity = read_identity(con, entity_ids, sink);
  const bool has_deposits = contains(con.describe_columns("fact_periodic"), "depo_risk");
  const DenseIndexes dense(entity_ids, donemler);

  // The firms' own columns are cleaned while the period data is read chunk by chunk;
  // only what the pivots and the deposit members use is kept.
  HelperTask identity_cleaned([&identity] { clean_identity(identity); });
  PeriodData data(dense, has_deposits);
  const std::string period_extra = has_deposits ? ", depo_risk, nakit_risk, gnakit_risk" : "";
  con.for_each_chunk("SELECT entity_id, donem, vrd_skor, kombine_risk, risk_degisim" + period_extra +
                         " FROM fact_periodic WHERE entity_id = ANY($1)",
                     entity_ids, [&data](const Table& chunk) { data.add_chunk(chunk); });
  identity_cleaned.get();
  data.finish();

  Table rows = assemble_rows(identity, data, dense, has_deposits, sink);
  scoreboard.meta = {{"donemler", donemler},
                     {"risk_donemler", risk_donemler},
                     {"son_donem", son_donem},
                     {"n_muta", rows.num_rows()},
                     {"bolge_listesi", distinct_name_list(rows, "bolge_adi")},
                     {"sube_listesi", distinct_name_list(rows, "sube_adi")},
                     {"pipeline_ts", "dummy_run"},
                     {"notebook", "pipeline_runner"}};
  scoreboard.rows = std::move(rows);
  return scoreboard;
}

void write_scoreboard(JsonWriter& writer, const Scoreboard& scoreboard) {
  writer.begin_object();
  writer.key("meta");
  writer.value(scoreboard.meta);
  writer.key("rows");
  scoreboard.rows.write_rows(writer);
  for (const auto& [name, value] : scoreboard.extra.items()) {
    writer.key(name);
    writer.value(value);
  }
  for (const auto& [name, text] : scoreboard.text_members) {
    writer.key(name);
    writer.json_text(text);
  }
  writer.end_object();
}

}  // namespace vordak::pipeline
