#include "pipeline/backtests.h"

#include <cmath>
#include <exception>
#include <stdexcept>
#include <string>

#include "core/number_text.h"
#include "core/sink.h"
#include "pipeline/cleaning.h"

namespace vordak::pipeline {

namespace {

ordered_json records_of(const Table& table) {
  ordered_json records = ordered_json::array();
  for (std::size_t i = 0; i < table.num_rows(); ++i) records.push_back(table.row_json(i));
  return records;
}

// A metric cell as a number; texts and containers cannot be averaged or summed.
std::optional<double> metric(const Column& column, std::size_t row) {
  if (column.is_null(row)) return std::nullopt;
  const std::optional<double> number = column.number(row);
  if (!number) throw std::runtime_error("column " + column.name() + " is not numeric: " + cell_text_form(column, row));
  if (std::isnan(*number)) return std::nullopt;
  return number;
}

// Mean over the non-null values, rounded to 4 decimals; null when the column is missing
// or holds no value (a mean of nothing has no JSON form).
ordered_json mean_of(const Table& table, const char* name) {
  const Column* column = table.find(name);
  if (column == nullptr) return nullptr;
  double sum = 0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < column->size(); ++i) {
    if (const auto value = metric(*column, i)) {
      sum += *value;
      ++count;
    }
  }
  if (count == 0) return nullptr;
  return round_half_even(sum / static_cast<double>(count), 4);
}

// Sum over the non-null values as an integer (0 when the column is missing; null when
// it does not fit 64 bits).
ordered_json sum_of(const Table& table, const char* name) {
  const Column* column = table.find(name);
  if (column == nullptr) return 0;
  if (column->kind() == ColumnKind::kInteger || column->kind() == ColumnKind::kBoolean) {
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < column->size(); ++i) {
      if (column->is_null(i)) continue;
      const std::int64_t value = column->kind() == ColumnKind::kInteger ? column->integer(i) : column->boolean(i);
      if (__builtin_add_overflow(sum, value, &sum)) return nullptr;
    }
    return sum;
  }
  double sum = 0;
  for (std::size_t i = 0; i < column->size(); ++i) sum += metric(*column, i).value_or(0.0);
  return whole_sum(sum);
}

ordered_json summary_of(const std::string& model, const Table& table) {
  ordered_json record = ordered_json::object();
  if (model == "ml") {
    record["fold_detay"] = records_of(table);
    record["toplam_fold"] = table.num_rows();
    record["ort_auc"] = mean_of(table, "auc");
  } else {
    record["donem_metrikleri"] = records_of(table);
    record["toplam_donem"] = table.num_rows();
    record["toplam_tp"] = sum_of(table, "tp");
    record["toplam_fp"] = sum_of(table, "fp");
    record["toplam_fn"] = sum_of(table, "fn");
    record["toplam_tn"] = sum_of(table, "tn");
  }
  record["ort_precision"] = mean_of(table, "precision_val");
  record["ort_recall"] = mean_of(table, "recall_val");
  record["ort_f1"] = mean_of(table, "f1");
  // Beside the means of the periods (or folds), the figures of all their firms together.
  const bool counted = table.find("tp") != nullptr && table.find("fp") != nullptr && table.find("fn") != nullptr;
  // Sums past 64 bits come back null, and so does the figure made of them.
  const ordered_json tp = sum_of(table, "tp");
  const auto pooled = [&](const ordered_json& others) {
    if (!counted || !tp.is_number() || !others.is_number()) return ordered_json(nullptr);
    const double whole = tp.get<double>() + others.get<double>();
    if (whole == 0) return ordered_json(nullptr);
    return ordered_json(round_half_even(tp.get<double>() / whole, 4));
  };
  record["havuz_precision"] = pooled(sum_of(table, "fp"));
  record["havuz_recall"] = pooled(sum_of(table, "fn"));
  return record;
}

ordered_json firm_lists_of(const Table& table) {
  const Column& kategori = table.column("kategori");
  ordered_json tp = ordered_json::array(), fp = ordered_json::array(), fn = ordered_json::array();
  for (std::size_t i = 0; i < table.num_rows(); ++i) {
    const std::string category = cell_text_form(kategori, i);
    if (category == "TP") tp.push_back(table.row_json(i));
    else if (category == "FP") fp.push_back(table.row_json(i));
    else if (category == "FN") fn.push_back(table.row_json(i));
  }
  return {{"tp", std::move(tp)}, {"fp", std::move(fp)}, {"fn", std::move(fn)}};
}

}  // namespace

ordered_json build_backtest_summary(Connection& con, Sink& sink) {
  ordered_json summary = ordered_json::object();
  std::vector<std::string> filled;
  for (std::string_view key : BACKTEST_MODELS) {
    const std::string model(key);
    const std::string table_name = "backtest_" + model;
    summary[model] = nullptr;
    try {
      if (!con.has_table(table_name)) continue;
      const Table table = con.query("SELECT * FROM " + table_name + " ORDER BY 1");
      if (table.empty()) continue;
      summary[model] = summary_of(model, table);
      filled.push_back(model);
    } catch (const std::exception& error) {
      summary[model] = nullptr;
      sink.line("  [BACKTEST] " + model + ": " + error.what());
    }
  }
  if (filled.empty()) {
    sink.line("  [BACKTEST] Tablo yok, atlanıyor");
  } else {
    std::string line = "  [BACKTEST] Özet: ";
    for (std::size_t i = 0; i < filled.size(); ++i) line += (i == 0 ? "" : ", ") + filled[i];
    sink.line(line);
  }
  return summary;
}

ordered_json build_backtest_firma_lists(Connection& con, Sink& sink) {
  ordered_json lists = ordered_json::object();
  for (std::string_view key : BACKTEST_MODELS) {
    const std::string model(key);
    const std::string table_name = "backtest_" + model + "_firma";
    lists[model] = nullptr;
    try {
      if (!con.has_table(table_name)) continue;
      const Table table = con.query("\n        SELECT * FROM " + table_name +
                                    "\n        WHERE kategori IN ('TP','FP','FN')\n        ORDER BY entity_id, donem\n");
      if (table.empty()) continue;
      lists[model] = firm_lists_of(table);
    } catch (const std::exception& error) {
      lists[model] = nullptr;
      sink.line("  [BACKTEST] " + model + " firma: " + error.what());
    }
  }
  for (std::string_view key : BACKTEST_MODELS) {
    const ordered_json& entry = lists[std::string(key)];
    if (entry.is_null()) continue;
    sink.line("  [BACKTEST] " + std::string(key) + " firma: TP=" + std::to_string(entry["tp"].size()) +
        ", FN=" + std::to_string(entry["fn"].size()) + ", FP=" + std::to_string(entry["fp"].size()));
  }
  return lists;
}

}  // namespace vordak::pipeline
