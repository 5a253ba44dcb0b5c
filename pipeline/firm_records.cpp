#include "pipeline/firm_records.h"

#include <cmath>

#include "core/number_text.h"
#include "pipeline/enrichment.h"
#include "pipeline/watch_rules.h"

namespace vordak::pipeline {

namespace {

constexpr const char* kIdentity[] = {"muta", "unvan", "segment", "sube_kodu", "bolge_kodu", "son_risk"};
constexpr std::size_t kSonRiskField = 5;

// The decimals a model score keeps on the page: stored in single precision, it is
// written back at the precision it came with.
int decimals_of(ScoreScale scale) { return scale == ScoreScale::kProbability ? 6 : 2; }

constexpr int kScoreYi = 4094;
constexpr int kScoreNone = 4095;
// Amounts the page reads exactly: JavaScript numbers hold whole numbers up to 2^53.
constexpr double kLargestAmount = 9007199254740992.0;

// An amount in whole TL (its integer part), as the page shows it; none where there is
// none, or it is not finite.
std::optional<double> amount_of(const Column* column, std::size_t row) {
  std::optional<double> value;
  if (column != nullptr && column->kind() == ColumnKind::kJson) {
    if (column->json(row).is_number()) value = column->json(row).get<double>();
  } else if (column != nullptr) {
    value = column->number(row);
  }
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return std::trunc(*value);
}

// The scores packed (see the header); false when one cannot be.
bool pack_scores(const std::vector<const Column*>& columns, std::size_t row, std::string& out) {
  out.clear();
  for (const Column* column : columns) {
    int code = kScoreNone;
    if (column != nullptr) {
      const StoredScore stored = read_score(*column, row);
      if (stored.kind == StoredScore::kYi) {
        code = kScoreYi;
      } else if (stored.kind == StoredScore::kNumber) {
        if (!(stored.number >= 0 && stored.number < kScoreYi && stored.number == std::floor(stored.number))) return false;
        code = static_cast<int>(stored.number);
      }
    }
    out += kPackDigits[code >> 6];
    out += kPackDigits[code & 63];
  }
  return true;
}

// The amounts packed (see the header); false when one cannot be.
bool pack_amounts(const std::vector<const Column*>& columns, std::size_t row, std::string& out) {
  out.clear();
  double last = 0;
  for (const Column* column : columns) {
    const std::optional<double> value = amount_of(column, row);
    if (!value) {
      out += '.';
      continue;
    }
    if (std::fabs(*value) > kLargestAmount) return false;
    const auto change = static_cast<std::int64_t>(*value - last);
    std::uint64_t zigzag = change < 0 ? (static_cast<std::uint64_t>(-(change + 1)) << 1) | 1 : static_cast<std::uint64_t>(change) << 1;
    last = *value;
    do {
      const unsigned part = zigzag & 31;
      zigzag >>= 5;
      out += kPackDigits[part | (zigzag != 0 ? 32 : 0)];
    } while (zigzag != 0);
  }
  return true;
}

void write_cell(JsonWriter& writer, const Column* column, std::size_t row) {
  if (column == nullptr || (column->kind() == ColumnKind::kFloat && !column->is_null(row) &&
                            !std::isfinite(column->floating(row)))) {
    writer.null();
  } else {
    column->write_value(writer, row);
  }
}

}  // namespace

FirmRecords::FirmRecords(const Scoreboard& scoreboard, const FirmFacts& facts, const PageContext& context)
    : facts_(facts), context_(context) {
  const Table& rows = scoreboard.rows;
  const std::vector<std::string> periods = period_labels(scoreboard.meta);
  periods_ = periods.size();
  for (const char* name : kIdentity) identity_.push_back(rows.find(name));
  identity_.push_back(periods.size() >= 2 ? rows.find("df" + periods[periods.size() - 2]) : nullptr);
  for (const std::string& period : periods) {
    scores_.push_back(rows.find("vrd" + period));
    risks_.push_back(rows.find("r" + period));
  }
  muta_ = rows.find("muta");
  probability_ = rows.find("_ml_yi_prob");
}

ordered_json FirmRecords::fields(RecordPart part) const {
  ordered_json names = ordered_json::array();
  if (part == RecordPart::kTable) {
    for (const char* name : kIdentity) names.push_back(name);
    for (const char* name : {"degisim", "vrd", "listeler", "nedenler", "olasilik"}) names.push_back(name);
  } else {
    for (const char* name : {"r", "etkenler"}) names.push_back(name);
    for (const ModelHistory& history : facts_.models) names.push_back(history.model->key);
  }
  return names;
}

std::string FirmRecords::array(const std::vector<std::size_t>& rows, std::size_t begin, std::size_t end, RecordPart part) const {
  std::string text;
  std::string packed;
  JsonWriter writer(text, JsonWriter::Layout::kCompact);
  writer.begin_array();
  for (std::size_t k = begin; k < end; ++k) {
    writer.begin_array();
    if (part == RecordPart::kTable) write_table_part(writer, rows[k], packed);
    else write_panel_part(writer, rows[k], packed);
    writer.end_array();
  }
  writer.end_array();
  return text;
}

void FirmRecords::write_table_part(JsonWriter& writer, std::size_t row, std::string& packed) const {
  // With no risk in the latest period a firm has no current risk and no change: the
  // scoreboard's 0 and its change of minus the whole risk would read as a repayment.
  const bool no_current_risk = !risks_.empty() && !amount_of(risks_.back(), row);
  for (std::size_t i = 0; i < identity_.size(); ++i) {
    const bool current_risk_field = i == kSonRiskField || i + 1 == identity_.size();
    if (no_current_risk && current_risk_field) writer.null();
    else write_cell(writer, identity_[i], row);
  }
  if (pack_scores(scores_, row, packed)) {
    writer.string(packed);
  } else {
    writer.begin_array();
    for (const Column* column : scores_) write_cell(writer, column, row);
    writer.end_array();
  }
  std::string lists(periods_, '0');
  for (std::size_t p = 0; p < periods_; ++p) lists[p] = kListDigits[facts_.history[row * periods_ + p] & 63];
  writer.string(lists);
  if (facts_.current[row] == 0) {
    writer.null();
  } else {
    writer.begin_object();
    for (std::size_t l = 0; l < facts_.lists.size(); ++l) {
      const std::uint32_t place = facts_.place[l][row];
      if (place == kNotListed) continue;
      writer.key(TRENDING_FLAGS[l].second);
      writer.string(facts_.lists[l][place].reason);
    }
    writer.end_object();
  }
  write_cell(writer, probability_, row);
}

void FirmRecords::write_panel_part(JsonWriter& writer, std::size_t row, std::string& packed) const {
  if (pack_amounts(risks_, row, packed)) {
    writer.string(packed);
  } else {
    writer.begin_array();
    for (const Column* column : risks_) {
      const std::optional<double> value = amount_of(column, row);
      if (value) writer.number(*value);
      else writer.null();
    }
    writer.end_array();
  }
  const std::optional<double> key = muta_ == nullptr ? std::nullopt : muta_->number(row);
  const auto drivers = key ? context_.drivers.find(static_cast<std::int64_t>(*key)) : context_.drivers.end();
  if (drivers == context_.drivers.end()) writer.null();
  else writer.json_text(drivers->second);
  for (const ModelHistory& history : facts_.models) {
    writer.begin_array();
    const int decimals = decimals_of(history.model->scale);
    for (std::size_t p = 0; p < periods_; ++p) {
      const float value = history.values[row * periods_ + p];
      if (std::isnan(value)) writer.null();
      else writer.number(round_half_even(static_cast<double>(value), decimals));
    }
    writer.end_array();
  }
}

}  // namespace vordak::pipeline
