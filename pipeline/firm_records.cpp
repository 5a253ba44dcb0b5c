#include "pipeline/firm_records.h"

#include <cmath>

#include "core/number_text.h"
#include "pipeline/enrichment.h"

namespace vordak::pipeline {

namespace {

constexpr const char* kIdentity[] = {"muta", "unvan", "segment", "sube_kodu", "bolge_kodu", "son_risk"};

// The decimals a model score keeps on the page: stored in single precision, it is
// written back at the precision it came with.
int decimals_of(ScoreScale scale) { return scale == ScoreScale::kProbability ? 6 : 2; }

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

ordered_json FirmRecords::fields() const {
  ordered_json names = ordered_json::array();
  for (const char* name : kIdentity) names.push_back(name);
  for (const char* name : {"degisim", "vrd", "r", "listeler", "nedenler", "olasilik", "etkenler"}) names.push_back(name);
  for (const ModelHistory& model : facts_.models) names.push_back(model.source->key);
  return names;
}

std::string FirmRecords::array(const std::vector<std::size_t>& rows, std::size_t begin, std::size_t end) const {
  std::string text;
  JsonWriter writer(text, JsonWriter::Layout::kCompact);
  writer.begin_array();
  for (std::size_t k = begin; k < end; ++k) write(writer, rows[k]);
  writer.end_array();
  return text;
}

void FirmRecords::write(JsonWriter& writer, std::size_t row) const {
  writer.begin_array();
  for (const Column* column : identity_) write_cell(writer, column, row);
  for (const std::vector<const Column*>* series : {&scores_, &risks_}) {
    writer.begin_array();
    for (const Column* column : *series) write_cell(writer, column, row);
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
  const std::optional<double> key = muta_ == nullptr ? std::nullopt : muta_->number(row);
  const auto drivers = key ? context_.drivers.find(static_cast<std::int64_t>(*key)) : context_.drivers.end();
  if (drivers == context_.drivers.end()) writer.null();
  else writer.value(drivers->second);
  for (const ModelHistory& model : facts_.models) {
    writer.begin_array();
    const int decimals = decimals_of(model.source->scale);
    for (std::size_t p = 0; p < periods_; ++p) {
      const float value = model.values[row * periods_ + p];
      if (std::isnan(value)) writer.null();
      else writer.number(round_half_even(static_cast<double>(value), decimals));
    }
    writer.end_array();
  }
  writer.end_array();
}

}  // namespace vordak::pipeline
