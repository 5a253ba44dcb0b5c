#include "pipeline/diagnostics.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
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

// The columns of a result of the findings query (a chunk of it, or the whole), with the
// firm keys and periods as integers.
struct Findings {
  explicit Findings(const Table& table)
      : firms(entity_keys(table.column("muta"), kTable)),
        periods(entity_keys(table.column("donem"), kTable)),
        katman(table.column("katman")),
        kriter(table.column("kriter")),
        aciklama(table.column("aciklama")),
        deger(table.column("deger")),
        onceki(table.column("onceki_deger")),
        grup(table.find("grup")),
        yeni(table.find("yeni")) {}

  std::vector<std::int64_t> firms;
  std::vector<std::int64_t> periods;
  const Column& katman;
  const Column& kriter;
  const Column& aciklama;
  const Column& deger;
  const Column& onceki;
  const Column* grup;
  const Column* yeni;
};

// The index written as compact JSON text while the findings come in, so that no
// document of millions of findings is ever held. The findings must come firm by firm
// and, within a firm, period by period, as the query's order gives them.
class IndexText {
 public:
  IndexText() : writer_(text_, JsonWriter::Layout::kCompact) { writer_.begin_object(); }

  // Adds finding `i`; false, adding nothing, when its firm, or its period within the
  // firm, came before and other findings came between.
  bool add(const Findings& findings, std::size_t i) {
    const std::int64_t firm = findings.firms[i];
    const std::int64_t period = findings.periods[i];
    if (firm != firm_) {
      if (done_firms_.contains(firm)) return false;
      if (firm_) {
        close_period();
        writer_.end_object();
        done_firms_.insert(*firm_);
      }
      firm_ = firm;
      period_.reset();
      done_periods_.clear();
      ++firm_count;
      writer_.key(int_text(firm));
      writer_.begin_object();
    }
    if (period != period_) {
      if (std::find(done_periods_.begin(), done_periods_.end(), period) != done_periods_.end()) return false;
      if (period_) {
        close_period();
        done_periods_.push_back(*period_);
      }
      period_ = period;
      writer_.key(int_text(period));
      writer_.begin_object();
      writer_.key("bulgular");
      writer_.begin_array();
    }
    write_finding(findings, i);
    ++finding_count;
    return true;
  }

  // The whole index; empty text when no finding came.
  std::string finish() {
    if (!firm_) return {};
    close_period();
    writer_.end_object();
    writer_.end_object();
    text_.shrink_to_fit();  // it grew by doubling, and is held to the end of the run
    return std::move(text_);
  }

  std::size_t firm_count = 0;
  std::size_t finding_count = 0;
  std::size_t new_count = 0;

 private:
  void write_finding(const Findings& findings, std::size_t i) {
    writer_.begin_object();
    writer_.key("katman");
    findings.katman.write_value(writer_, i);
    writer_.key("kriter");
    findings.kriter.write_value(writer_, i);
    writer_.key("aciklama");
    findings.aciklama.write_value(writer_, i);
    if (const auto value = as_float(findings.deger, i)) {
      writer_.key("deger");
      writer_.number(*value);
    }
    if (const auto value = as_float(findings.onceki, i)) {
      writer_.key("onceki");
      writer_.number(*value);
    }
    std::optional<std::string> group;
    if (findings.grup != nullptr && !findings.grup->is_null(i)) {
      std::string text = cell_text_form(*findings.grup, i);
      if (!text.empty() && !is_null_like(text)) group = std::move(text);
    }
    if (group) {
      writer_.key("grup");
      writer_.string(*group);
    }
    const std::int64_t is_new = marker(findings.yeni, i);
    writer_.key("yeni");
    writer_.integer(is_new);
    writer_.end_object();
    if (is_new == 1) {
      ++new_count;
      if (group && std::find(new_groups_.begin(), new_groups_.end(), *group) == new_groups_.end()) {
        new_groups_.push_back(std::move(*group));
      }
    }
  }

  void close_period() {
    writer_.end_array();
    writer_.key("yeni_gruplar");
    writer_.begin_array();
    for (const std::string& group : new_groups_) writer_.string(group);
    writer_.end_array();
    writer_.end_object();
    new_groups_.clear();
  }

  std::string text_;
  JsonWriter writer_;
  std::optional<std::int64_t> firm_;
  std::optional<std::int64_t> period_;
  std::unordered_set<std::int64_t> done_firms_;
  std::vector<std::int64_t> done_periods_;  // of the current firm
  std::vector<std::string> new_groups_;     // of the current period
};

// The rows in the index's order: firms in order of their first finding, within a firm
// its periods likewise, within a period the query's order.
std::vector<std::size_t> index_order(const Findings& findings) {
  const std::size_t rows = findings.firms.size();
  std::unordered_map<std::int64_t, std::size_t> firm_first;
  std::map<std::pair<std::int64_t, std::int64_t>, std::size_t> period_first;
  std::vector<std::pair<std::size_t, std::size_t>> rank(rows);
  for (std::size_t i = 0; i < rows; ++i) {
    rank[i] = {firm_first.try_emplace(findings.firms[i], i).first->second,
               period_first.try_emplace({findings.firms[i], findings.periods[i]}, i).first->second};
  }
  std::vector<std::size_t> order(rows);
  for (std::size_t i = 0; i < rows; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return rank[a] < rank[b]; });
  return order;
}

std::string build_index(Connection& con, Sink& sink) {
  if (!con.has_table(kTable)) {
    sink.line("  [DIAG] Tablo yok, atlanıyor");
    return {};
  }
  const std::vector<std::string> col_names = con.describe_columns(kTable);
  const bool has_grup = std::find(col_names.begin(), col_names.end(), "grup") != col_names.end();
  const bool has_yeni = std::find(col_names.begin(), col_names.end(), "yeni") != col_names.end();
  std::string select_cols = "muta, donem, katman, kriter, deger, onceki_deger, aciklama";
  if (has_grup) select_cols += ", grup";
  if (has_yeni) select_cols += ", yeni";
  const std::string query = "\n    SELECT " + select_cols + "\n    FROM " + kTable +
                            // The criterion and text after firm, period and layer: without them a
                            // firm's findings of one layer and period come in any order.
                            "\n    ORDER BY muta, donem, katman, kriter, aciklama\n";

  // Ordered by firm key, a firm's findings come together, and so do a period's within
  // it: the index is written as the rows stream in. Keys whose texts differ but name the
  // same integer ("07" and "7") may come apart; then the whole result is read and put
  // in the index's order first.
  auto index = std::make_unique<IndexText>();
  bool grouped = true;
  con.for_each_chunk(query, [&](const Table& chunk) {
    if (!grouped || chunk.empty()) return;
    const Findings findings(chunk);
    for (std::size_t i = 0; i < chunk.num_rows() && grouped; ++i) grouped = index->add(findings, i);
  });
  if (!grouped) {
    const Table table = con.query(query);
    const Findings findings(table);
    index = std::make_unique<IndexText>();
    for (std::size_t i : index_order(findings)) index->add(findings, i);
  }
  if (index->finding_count == 0) {
    sink.line("  [DIAG] Tablo boş, atlanıyor");
    return {};
  }
  sink.line("  [DIAG] " + std::to_string(index->firm_count) + " firma, " + std::to_string(index->finding_count) +
            " bulgu, " + std::to_string(index->new_count) + " yeni bulgu yüklendi");
  return index->finish();
}

}  // namespace

std::string build_diag_index(Connection& con, Sink& sink) {
  // The diagnostic findings are an optional extra of the dashboards: whatever goes wrong
  // with them is reported and the run goes on without them.
  try {
    return build_index(con, sink);
  } catch (const std::exception& error) {
    sink.line(std::string("  [DIAG] Hata: ") + error.what());
    return {};
  }
}

}  // namespace vordak::pipeline
