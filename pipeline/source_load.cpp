#include "pipeline/source_load.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <set>

#include <boost/sort/spreadsort/integer_sort.hpp>

#include "core/number_text.h"
#include "core/text.h"
#include "pipeline/extract_files.h"
#include "pipeline/load_tally.h"
#include "pipeline/trimmed_text.h"

namespace vordak::pipeline {

namespace {

// Rows of a source with more rejected rows than this keep only the first in the file.
constexpr std::int64_t kRejectedRowsKept = 10000;
// Repeated key hashes up to this many are listed in the grouping query; more, and every
// key is grouped.
constexpr std::size_t kListedHashes = 10000;
// The checks that reject rows, each under its own reason.
constexpr const char* kRowChecks[] = {"anahtar_cozulemedi", "donem_cozulemedi", "tur_hatali",
                                      "izin_disi_deger", "zorunlu_bos", "tekrarlanan_anahtar"};

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

const ordered_json& member(const ordered_json& json, const char* name) {
  const auto found = json.find(name);
  if (found == json.end()) throw std::invalid_argument(std::string("contract: \"") + name + "\" is missing");
  return *found;
}

template <typename T>
T member_as(const ordered_json& json, const char* name) {
  try {
    return member(json, name).get<T>();
  } catch (const ordered_json::exception&) {
    throw std::invalid_argument(std::string("contract: \"") + name + "\" is of the wrong kind");
  }
}

bool is_key(const LoadContract& contract, const std::string& column) {
  return std::find(contract.key.begin(), contract.key.end(), column) != contract.key.end();
}

// The staged table's column holding the typed value of the contract's column `name`.
std::string typed(const LoadContract& contract, const std::string& name) {
  for (std::size_t i = 0; i < contract.columns.size(); ++i) {
    if (contract.columns[i].name == name) return "_v" + std::to_string(i);
  }
  throw std::invalid_argument("contract: no column " + name);
}

// The value of a column as the raw table takes it, from the staged text or value.
std::string value_sql(const LoadContract& contract, const LoadContract::Column& column) {
  const std::string c = sql_identifier(column.name);
  if (column.type == "tamsayi") return "TRY_CAST(" + c + " AS BIGINT)";
  if (column.type == "donem") return "TRY_CAST(" + c + " AS INTEGER)";
  if (column.type == "ondalik") {
    const std::string text = "CAST(" + c + " AS VARCHAR)";
    return contract.decimal_mark == "." ? "TRY_CAST(" + c + " AS DOUBLE)"
                                        : "TRY_CAST(replace(" + text + ", " + sql_literal(contract.decimal_mark) + ", '.') AS DOUBLE)";
  }
  return std::string(kTrimmedText) + "(CAST(" + c + " AS VARCHAR))";
}

// Why a row cannot be loaded, as "CHECK" or "CHECK: COLUMN"; null when it can. Judged
// from the typed values beside the values read, so that each value is converted once.
std::string reason_sql(const LoadContract& contract) {
  std::vector<std::string> whens;
  for (const std::string& key : contract.key) {
    if (key != contract.period) whens.push_back(typed(contract, key) + " IS NULL THEN 'anahtar_cozulemedi'");
  }
  if (contract.period) {
    const std::string period = typed(contract, *contract.period);
    whens.push_back(period + " IS NULL OR " + period + " NOT BETWEEN 100001 AND 999912 OR " + period +
                    " % 100 NOT BETWEEN 1 AND 12 THEN 'donem_cozulemedi'");
  }
  for (const LoadContract::Column& column : contract.columns) {
    if (is_key(contract, column.name) || column.type == "metin" || column.type == "donem") continue;
    const std::string read = "CAST(" + sql_identifier(column.name) + " AS VARCHAR)";
    whens.push_back(typed(contract, column.name) + " IS NULL AND trim(" + read + ") <> '' THEN 'tur_hatali: " + column.name + "'");
  }
  for (const LoadContract::Column& column : contract.columns) {
    if (column.allowed.empty()) continue;
    std::vector<std::string> values;
    for (const std::string& value : column.allowed) values.push_back(sql_literal(value));
    whens.push_back(typed(contract, column.name) + " NOT IN (" + join(values, ", ") + ") THEN 'izin_disi_deger: " + column.name + "'");
  }
  for (const LoadContract::Column& column : contract.columns) {
    if (column.required && !is_key(contract, column.name)) {
      whens.push_back(typed(contract, column.name) + " IS NULL THEN 'zorunlu_bos: " + column.name + "'");
    }
  }
  std::string sql = "CASE";
  for (const std::string& when : whens) sql += "\n  WHEN " + when;
  return sql + "\n END";
}

// The rows read, as read, with their typed values (`_v0`, `_v1`, ... in the contract's
// column order) and why each cannot be loaded (`_red`, null when it can).
std::string judged_rows_sql(const LoadContract& contract, const StagedExtracts& staged) {
  std::vector<std::string> typed_values = {"*"};
  for (std::size_t i = 0; i < contract.columns.size(); ++i) {
    typed_values.push_back(value_sql(contract, contract.columns[i]) + " AS _v" + std::to_string(i));
  }
  return "SELECT *, " + reason_sql(contract) + " AS _red FROM (SELECT " + join(typed_values, ", ") + " FROM (" + staged.rows + "))";
}

// A row's key told apart by a hash, as a BIGINT.
std::string key_hash_sql(const LoadContract& contract) {
  std::vector<std::string> keys;
  for (const std::string& key : contract.key) keys.push_back(typed(contract, key));
  return "(hash(" + join(keys, ", ") + ") >> 1)::BIGINT";
}

// The raw table's columns and the typed values they take, for an INSERT.
std::string insert_sql(const LoadContract& contract) {
  std::vector<std::string> names, values;
  for (const LoadContract::Column& column : contract.columns) {
    names.push_back(sql_identifier(lower(column.name)));
    values.push_back(typed(contract, column.name));
  }
  return "INSERT INTO " + sql_identifier(contract.tablo) + " (" + join(names, ", ") + ") SELECT " + join(values, ", ");
}

// The rows read, each with its file's place in the staged list (`_dosya`), why it cannot
// be loaded (`_red`), its typed values and, for a rejected row only, its values as read
// (under the contract's column names). Row ids follow the files' order and their lines.
void stage_rows(Connection& con, const LoadContract& contract, const StagedExtracts& staged) {
  std::vector<std::string> kept = {"_dosya", "_red"};
  for (std::size_t i = 0; i < contract.columns.size(); ++i) {
    const std::string read = sql_identifier(contract.columns[i].name);
    kept.push_back("_v" + std::to_string(i));
    kept.push_back("CASE WHEN _red IS NULL THEN NULL ELSE " + read + " END AS " + read);
  }
  con.execute("CREATE OR REPLACE TEMP TABLE _yukleme AS SELECT " + join(kept, ", ") + " FROM (" + judged_rows_sql(contract, staged) +
              ")");
}

// Marks every row whose key an earlier loadable row already had: the first keeps the key.
// The keys are first told apart by their hashes, fetched and sorted here, which costs a
// fraction of the database grouping every key; only the keys whose hash repeats are then
// grouped, unless so many repeat that grouping them all is as cheap.
void mark_repeated_keys(Connection& con, const LoadContract& contract) {
  std::vector<std::string> keys, matches, values_read;
  for (const std::string& key : contract.key) {
    keys.push_back(typed(contract, key));
    matches.push_back("_yukleme." + typed(contract, key) + " = t." + typed(contract, key));
  }
  if (keys.empty()) return;
  const std::string hash = key_hash_sql(contract);
  std::vector<std::int64_t> hashes;
  con.for_each_chunk("SELECT " + hash + " FROM _yukleme WHERE _red IS NULL", [&](const Table& chunk) {
    const Column& column = chunk.column(0);
    for (std::size_t row = 0; row < chunk.num_rows(); ++row) hashes.push_back(column.integer(row));
  });
  boost::sort::spreadsort::integer_sort(hashes.begin(), hashes.end());
  std::vector<std::string> repeated;
  for (auto at = std::adjacent_find(hashes.begin(), hashes.end()); at != hashes.end() && repeated.size() <= kListedHashes;
       at = std::adjacent_find(std::upper_bound(at, hashes.end(), *at), hashes.end())) {
    repeated.push_back(std::to_string(*at));
  }
  if (repeated.empty()) return;
  const std::string candidates = repeated.size() <= kListedHashes ? " AND " + hash + " IN (" + join(repeated, ", ") + ")" : "";
  for (const LoadContract::Column& column : contract.columns) {
    values_read.push_back(sql_identifier(column.name) + " = _yukleme." + typed(contract, column.name));
  }
  con.execute("CREATE OR REPLACE TEMP TABLE _tekrar AS SELECT " + join(keys, ", ") + ", min(rowid) AS _ilk FROM _yukleme WHERE _red IS NULL" +
              candidates + " GROUP BY ALL HAVING count(*) > 1");
  // Such a row was read whole; its values are shown as loaded.
  con.execute("UPDATE _yukleme SET _red = 'tekrarlanan_anahtar', " + join(values_read, ", ") + " FROM _tekrar t WHERE _yukleme._red IS NULL AND " +
              join(matches, " AND ") + " AND _yukleme.rowid > t._ilk");
  con.execute("DROP TABLE _tekrar");
}

struct Stats {
  std::map<std::string, std::pair<std::int64_t, std::int64_t>> files;  // read, loaded
  std::map<std::string, std::int64_t> reasons;                         // check -> rows
  std::map<std::string, std::pair<std::string, std::int64_t>> worst_file;  // check -> file with most
  std::map<std::int64_t, std::int64_t> periods, previous_periods;
  std::int64_t previous_rows = 0;
  std::int64_t lost_keys = 0, last_keys = 0;  // of the previous last period
};

// SQL selecting, as `anahtar`, the distinct keys of the newest period of `rows` (a table
// or a parenthesized query).
std::string last_period_keys_sql(const std::string& key, const std::string& period, const std::string& rows) {
  return "SELECT DISTINCT " + key + " AS anahtar FROM " + rows + " WHERE " + period + " = (SELECT max(" + period + ") FROM " +
         rows + ")";
}

// What the table holds from the previous load, read before this load replaces it: its
// rows, its rows per period, and the keys of its last period (the temporary table
// `_onceki_anahtar`, for count_lost_keys).
Stats read_previous_load(Connection& con, const LoadContract& contract) {
  const std::string table = sql_identifier(contract.tablo);
  Stats stats;
  stats.previous_rows = con.query("SELECT count(*) FROM " + table).column(0).integer(0);
  if (!contract.period) return stats;
  const std::string stored_period = sql_identifier(lower(*contract.period));
  const std::string stored_key = sql_identifier(lower(contract.key.front()));
  const Table periods = con.query("SELECT CAST(" + stored_period + " AS BIGINT), count(*) FROM " + table + " WHERE " +
                                  stored_period + " IS NOT NULL GROUP BY ALL");
  for (std::size_t row = 0; row < periods.num_rows(); ++row) {
    stats.previous_periods[periods.column(0).integer(row)] = periods.column(1).integer(row);
  }
  con.execute("CREATE OR REPLACE TEMP TABLE _onceki_anahtar AS " + last_period_keys_sql(stored_key, stored_period, table));
  return stats;
}

// How many of the previous load's last-period keys the new rows' last period lacks, of
// how many; `new_keys` selects the new rows' distinct keys of their last period as `anahtar`.
void count_lost_keys(Connection& con, const std::string& new_keys, Stats& stats) {
  const Table counts = con.query("SELECT count(*) FILTER (WHERE k.anahtar IS NULL), count(*) FROM _onceki_anahtar o LEFT JOIN (" +
                                 new_keys + ") k USING (anahtar)");
  stats.lost_keys = counts.column(0).integer(0);
  stats.last_keys = counts.column(1).integer(0);
}

// The staged rows' counts: read and loaded per file, rejected per check and file, and
// loaded per period.
void read_staged_counts(Connection& con, const LoadContract& contract, const std::vector<std::string>& staged_files, Stats& stats) {
  std::string sql =
      "SELECT 'dosya' AS tur, CAST(_dosya AS VARCHAR) AS ad, NULL AS ek, count(*) AS n, count(*) FILTER (WHERE _red IS NULL) AS m "
      "FROM _yukleme GROUP BY ALL "
      "UNION ALL SELECT 'neden', CAST(_dosya AS VARCHAR), split_part(_red, ':', 1), count(*), NULL FROM _yukleme WHERE _red IS NOT NULL GROUP BY ALL";
  if (contract.period) {
    const std::string period = typed(contract, *contract.period);
    sql += " UNION ALL SELECT 'donem', CAST(" + period + " AS VARCHAR), NULL, count(*), NULL FROM _yukleme WHERE _red IS NULL GROUP BY ALL";
  }
  const Table rows = con.query(sql);
  for (std::size_t row = 0; row < rows.num_rows(); ++row) {
    const std::string kind(rows.column(0).text(row));
    std::string name = rows.column(1).is_null(row) ? "" : std::string(rows.column(1).text(row));
    if (kind == "dosya" || kind == "neden") name = staged_files.at(std::stoul(name) - 1);
    const std::int64_t n = rows.column(3).integer(row);
    if (kind == "dosya") {
      stats.files[name] = {n, rows.column(4).integer(row)};
    } else if (kind == "neden") {
      const std::string check(rows.column(2).text(row));
      stats.reasons[check] += n;
      auto& worst = stats.worst_file[check];
      if (n > worst.second) worst = {name, n};
    } else if (kind == "donem" && !name.empty()) {
      stats.periods[std::stoll(name)] = n;
    }
  }
  if (contract.period) {
    const std::string period = typed(contract, *contract.period);
    count_lost_keys(con, last_period_keys_sql("TRY_CAST(" + typed(contract, contract.key.front()) + " AS BIGINT)", period,
                                              "(SELECT * FROM _yukleme WHERE _red IS NULL)"), stats);
  }
}

// True when the source's last recorded load rejected rows. An extract that brings a few
// bad rows night after night is read the thorough way at once: a one-pass attempt would
// only be rolled back at its first bad row.
bool last_load_rejected_rows(Connection& con, const LoadContract& contract) {
  if (!con.has_table("ingest_kontrol")) return false;
  std::vector<std::string> checks;
  for (const char* check : kRowChecks) checks.push_back(sql_literal(check));
  return con.query("SELECT count(*) FROM ingest_kontrol WHERE kaynak = " + sql_literal(contract.kaynak) + " AND deger > 0 AND kontrol IN (" +
                   join(checks, ", ") + ")").column(0).integer(0) > 0;
}

// A clean night's load, read once: in the open transaction, the table's rows are replaced
// by the extracts' rows, which `tally` counts on their way. False when a row cannot be
// loaded or a key may repeat: the transaction must then be rolled back, and the load
// made the thorough way.
bool load_in_one_pass(Connection& con, const LoadContract& contract, const StagedExtracts& staged,
                      const std::vector<std::string>& files, LoadTally& tally, Stats& stats) {
  const std::string table = sql_identifier(contract.tablo);
  try {
    con.execute("DELETE FROM " + table);
    con.execute(insert_sql(contract) + " FROM (" + judged_rows_sql(contract, staged) + ") WHERE " + LoadTally::kFunction +
                "(_dosya, _red, " + (contract.period ? typed(contract, *contract.period) : "NULL::INTEGER") + ", " +
                key_hash_sql(contract) + ")");
  } catch (const DatabaseError& error) {
    if (tally.gave_up()) return false;
    throw read_error(contract, join(files, ", "), error);
  }
  if (tally.keys_may_repeat()) return false;
  for (const auto& [at, rows] : tally.rows_by_file()) stats.files[staged.files.at(at - 1)] = {rows, rows};
  for (const auto& [period, rows] : tally.rows_by_period()) stats.periods[period] = rows;
  if (contract.period) {
    const std::string stored_period = sql_identifier(lower(*contract.period));
    count_lost_keys(con, last_period_keys_sql("TRY_CAST(" + sql_identifier(lower(contract.key.front())) + " AS BIGINT)",
                                              stored_period, table), stats);
  }
  return true;
}

std::int64_t next_period(std::int64_t period) { return period % 100 == 12 ? (period / 100 + 1) * 100 + 1 : period + 1; }

std::string percent(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%%%.2f", share * 100);
  return text;
}

std::string periods_text(const std::vector<std::int64_t>& periods) {
  std::vector<std::string> texts;
  for (const std::int64_t period : periods) texts.push_back(std::to_string(period));
  return join(texts, ", ");
}

bool accepted(const LoadOptions& options, const LoadContract& contract, const std::string& check) {
  return std::any_of(options.accepted.begin(), options.accepted.end(),
                     [&](const std::string& a) { return a == check || a == contract.kaynak + ":" + check; });
}

// Judges each check of the contract against the load's figures.
std::vector<CheckResult> judge(const LoadContract& contract, const LoadOptions& options, const Stats& stats,
                               const std::vector<std::string>& files, std::int64_t read) {
  const bool has_previous = stats.previous_rows > 0;
  std::vector<CheckResult> results;
  for (const LoadContract::Check& check : contract.checks) {
    CheckResult result{check.name, 0, check.threshold, check.blocks, CheckOutcome::kPassed, ""};
    bool rows_lost = false;  // rejected rows warn even below the threshold
    if (const auto rejected = stats.reasons.find(check.name); rejected != stats.reasons.end()) {
      result.value = read > 0 ? static_cast<double>(rejected->second) / static_cast<double>(read) : 0;
      const auto& [file, count] = stats.worst_file.at(check.name);
      result.detail = std::to_string(rejected->second) + " / " + std::to_string(read) + " satır (" + percent(result.value) +
                      "); en çok " + file + " (" + std::to_string(count) + ")";
      result.rejected_rows = rejected->second;
      rows_lost = true;
    } else if (check.name == "bos_dosya") {
      std::vector<std::string> empty;
      for (const std::string& file : files) {
        if (!stats.files.contains(file)) empty.push_back(file);
      }
      result.value = static_cast<double>(empty.size());
      result.detail = "satırı olmayan dosya: " + join(empty, ", ");
    } else if (check.name == "satir_degisimi" && has_previous) {
      std::string where;
      if (contract.period) {
        for (const auto& [period, before] : stats.previous_periods) {
          const auto now = stats.periods.find(period);
          if (now == stats.periods.end() || before == 0) continue;
          const double change = std::abs(static_cast<double>(now->second - before)) / static_cast<double>(before);
          if (change > result.value) {
            result.value = change;
            where = std::to_string(period) + " dönemi " + std::to_string(before) + " → " + std::to_string(now->second) + " satır";
          }
        }
      } else {
        std::int64_t now = 0;
        for (const auto& [file, counts] : stats.files) now += counts.second;
        result.value = std::abs(static_cast<double>(now - stats.previous_rows)) / static_cast<double>(stats.previous_rows);
        where = std::to_string(stats.previous_rows) + " → " + std::to_string(now) + " satır";
      }
      result.detail = where + " (" + percent(result.value) + ")";
    } else if (check.name == "gelecek_donem") {
      std::vector<std::int64_t> later;
      for (const auto& [period, rows] : stats.periods) {
        if (period > options.current_period) later.push_back(period);
      }
      result.value = static_cast<double>(later.size());
      result.detail = "bu aydan (" + std::to_string(options.current_period) + ") sonraki dönemler: " + periods_text(later);
    } else if (check.name == "eksik_donem" && has_previous) {
      std::vector<std::int64_t> gone;
      for (const auto& [period, rows] : stats.previous_periods) {
        if (!stats.periods.contains(period)) gone.push_back(period);
      }
      result.value = static_cast<double>(gone.size());
      result.detail = "son yüklemede olup bu yüklemede olmayan dönemler: " + periods_text(gone) + " (" + join(options.directories, ", ") + ")";
    } else if (check.name == "donem_boslugu" && has_previous && !stats.previous_periods.empty()) {
      std::vector<std::int64_t> out_of_line;
      const std::int64_t last = stats.previous_periods.rbegin()->first;
      std::int64_t expected = next_period(last);
      for (const auto& [period, rows] : stats.periods) {
        if (stats.previous_periods.contains(period)) continue;
        if (period == expected) {
          expected = next_period(period);
        } else {
          out_of_line.push_back(period);
        }
      }
      result.value = static_cast<double>(out_of_line.size());
      result.detail = "son yüklemenin son dönemi " + std::to_string(last) + "; sırayı bozan yeni dönemler: " + periods_text(out_of_line);
    } else if (check.name == "kayip_firma" && has_previous && stats.last_keys > 0) {
      result.value = static_cast<double>(stats.lost_keys) / static_cast<double>(stats.last_keys);
      result.detail = "son yüklemenin son dönemindeki " + std::to_string(stats.last_keys) + " anahtardan " +
                      std::to_string(stats.lost_keys) + " tanesi bu yüklemenin son döneminde yok (" + percent(result.value) + ")";
    }
    const bool failed = result.value > check.threshold;
    if (failed && check.blocks) {
      result.outcome = accepted(options, contract, check.name) ? CheckOutcome::kAccepted : CheckOutcome::kBlocked;
    } else if (failed || (rows_lost && result.value > 0)) {
      result.outcome = CheckOutcome::kWarned;
    }
    results.push_back(std::move(result));
  }
  return results;
}

void write_rejected(Connection& con, const LoadContract& contract, const StagedExtracts& staged, const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::vector<std::string> columns;
  for (const LoadContract::Column& column : contract.columns) {
    // A cell that a spreadsheet would take for a formula is kept as text.
    const std::string text = "CAST(" + sql_identifier(column.name) + " AS VARCHAR)";
    columns.push_back("CASE WHEN regexp_matches(" + text + ", '^[=+\\-@\\t\\r]') THEN '''' || " + text + " ELSE " + text +
                      " END AS " + sql_identifier(column.name));
  }
  // A row's line: its place among its file's rows, after the lines before the first.
  std::vector<std::string> files;
  for (const std::string& staged_file : staged.files) files.push_back(sql_literal(staged_file));
  con.execute("COPY (SELECT [" + join(files, ", ") + "][_dosya] AS dosya, y.rowid - b._ilk + " +
              std::to_string(staged.lines_before_first_row + 1) +
              " AS satir, _red AS neden, " + join(columns, ", ") +
              " FROM _yukleme y JOIN (SELECT _dosya, min(rowid) AS _ilk FROM _yukleme GROUP BY ALL) b USING (_dosya)"
              " WHERE _red IS NOT NULL ORDER BY y.rowid LIMIT " + std::to_string(kRejectedRowsKept) + ") TO " +
              sql_literal(file.string()) + " (HEADER, DELIMITER ',')");
}

// A transaction, once begun, rolled back on every path that does not commit it.
class Transaction {
 public:
  explicit Transaction(Connection& con) : con_(con) {}
  ~Transaction() { rollback(); }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void commit() {
    con_.execute("COMMIT");
    open_ = false;
  }
  void rollback() {
    if (!open_) return;
    open_ = false;
    try {
      con_.execute("ROLLBACK");
    } catch (const DatabaseError&) {
      // The transaction is gone with the failure that ended it.
    }
  }
  void begin() {
    con_.execute("BEGIN");
    open_ = true;
  }

 private:
  Connection& con_;
  bool open_ = false;
};

// Logs the load and its checks, in the transaction that replaces the table's rows.
void record_load(Connection& con, const LoadContract& contract, const std::string& signature, const LoadResult& result,
                 std::size_t file_count) {
  std::string checks;
  for (const CheckResult& check : result.checks) {
    checks += (checks.empty() ? "" : ", ") + std::string("(") + sql_literal(contract.kaynak) + ", " + sql_literal(check.name) + ", " +
              sql_literal(outcome_text(check.outcome)) + ", " + python_float_repr(check.value) + ", " + python_float_repr(check.threshold) +
              ", " + (check.blocks ? "true" : "false") + ", " + sql_literal(check.detail) + ", now())";
  }
  con.execute("INSERT INTO ingest_log VALUES (" + sql_literal(contract.log_key()) + ", " + sql_literal(signature) + ", " +
              std::to_string(file_count) + ", " + std::to_string(result.loaded) + ", now())");
  con.execute("CREATE TABLE IF NOT EXISTS ingest_kontrol (kaynak VARCHAR, kontrol VARCHAR, sonuc VARCHAR, deger DOUBLE, "
              "esik DOUBLE, engeller BOOLEAN, ayrinti VARCHAR, yuklendi TIMESTAMP)");
  con.execute("DELETE FROM ingest_kontrol WHERE kaynak = " + sql_literal(contract.kaynak));
  if (!checks.empty()) con.execute("INSERT INTO ingest_kontrol VALUES " + checks);
}

}  // namespace

LoadContract LoadContract::from_json(const ordered_json& json) {
  if (!json.is_object()) throw std::invalid_argument("contract: not a JSON object");
  LoadContract contract;
  contract.kaynak = member_as<std::string>(json, "kaynak");
  contract.adim = member_as<std::string>(json, "adim");
  contract.tablo = member_as<std::string>(json, "tablo");
  contract.dosyalar = member_as<std::string>(json, "dosyalar");
  contract.bicim = member_as<std::string>(json, "bicim");
  if (contract.bicim == "csv") {
    contract.encodings = member_as<std::vector<std::string>>(json, "kodlama");
    contract.delimiter = member_as<std::string>(json, "ayrac");
    contract.decimal_mark = member_as<std::string>(json, "ondalik");
  }
  for (const ordered_json& column : member(json, "sutunlar")) {
    Column entry{member_as<std::string>(column, "ad"), member_as<std::string>(column, "tur"), member_as<bool>(column, "zorunlu"), {}};
    if (!member(column, "izinli").is_null()) entry.allowed = member_as<std::vector<std::string>>(column, "izinli");
    contract.columns.push_back(std::move(entry));
  }
  contract.key = member_as<std::vector<std::string>>(json, "anahtar");
  if (!member(json, "donem").is_null()) contract.period = member_as<std::string>(json, "donem");
  for (const ordered_json& check : member(json, "kontroller")) {
    contract.checks.push_back({member_as<std::string>(check, "ad"), member_as<double>(check, "esik"), member_as<bool>(check, "engeller")});
  }
  if (contract.key.empty()) throw std::invalid_argument("contract: \"anahtar\" is empty");
  return contract;
}

std::vector<const CheckResult*> LoadResult::blocking() const {
  std::vector<const CheckResult*> found;
  for (const CheckResult& check : checks) {
    if (check.outcome == CheckOutcome::kBlocked) found.push_back(&check);
  }
  return found;
}

LoadResult load_source(Connection& con, const LoadContract& contract, const LoadOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  LoadResult result;
  result.kaynak = contract.kaynak;
  result.tablo = contract.tablo;
  const std::vector<std::string> files = extract_files(contract, options.directories);
  const std::string files_signature = extract_signature(files);
  const Table last = con.query("SELECT imza FROM ingest_log WHERE adim = " + sql_literal(contract.log_key()) +
                               " ORDER BY yuklendi DESC LIMIT 1");
  const std::int64_t rows = con.query("SELECT count(*) FROM " + sql_identifier(contract.tablo)).column(0).integer(0);
  if (!options.force && rows > 0 && !last.empty() && !last.column(0).is_null(0) && last.column(0).text(0) == files_signature) {
    result.loaded = rows;
    return result;
  }
  result.changed = true;
  const StagedExtracts staged = stage_extracts(con, contract, files);
  result.encoding = staged.encoding;
  Stats stats = read_previous_load(con, contract);
  // Both functions before any transaction, whose rollback would take them away.
  define_trimmed_text(con);
  LoadTally tally(con, stats.previous_rows);
  Transaction transaction(con);
  bool one_pass = false;
  if (!last_load_rejected_rows(con, contract)) {
    transaction.begin();
    one_pass = load_in_one_pass(con, contract, staged, files, tally, stats);
    if (!one_pass) transaction.rollback();
  }
  if (!one_pass) {
    // Staged before the transaction, which a table of every row read would slow down.
    // The rows are read once, in the files' order, which the table's row ids keep.
    try {
      stage_rows(con, contract, staged);
    } catch (const DatabaseError& error) {
      throw read_error(contract, join(files, ", "), error);
    }
    mark_repeated_keys(con, contract);
    read_staged_counts(con, contract, staged.files, stats);
    transaction.begin();
  }
  for (const std::string& file : files) {
    const auto found = stats.files.find(file);
    const auto [read, loaded] = found == stats.files.end() ? std::pair<std::int64_t, std::int64_t>{0, 0} : found->second;
    result.files.push_back({file, read, loaded});
    result.read += read;
    result.loaded += loaded;
  }
  result.rejected = result.read - result.loaded;
  result.periods.assign(stats.periods.begin(), stats.periods.end());
  result.checks = judge(contract, options, stats, files, result.read);
  if (options.rejected_dir) {
    // The file always speaks of this load: an earlier load's rejects would be sent back twice.
    const fs::path rejected = *options.rejected_dir / (contract.kaynak + ".csv");
    if (result.rejected > 0) {
      write_rejected(con, contract, staged, rejected);
      result.rejected_file = rejected;
    } else {
      std::error_code ignored;
      fs::remove(rejected, ignored);
    }
  }
  if (result.blocking().empty()) {
    if (result.loaded == 0) throw LoadError(contract.tablo + ": kaynak dosyalarda satır yok");
    if (!one_pass) {
      con.execute("DELETE FROM " + sql_identifier(contract.tablo));
      con.execute(insert_sql(contract) + " FROM _yukleme WHERE _red IS NULL");
    }
    record_load(con, contract, files_signature, result, files.size());
    transaction.commit();
  } else {
    transaction.rollback();
  }
  con.execute("DROP TABLE IF EXISTS _yukleme; DROP TABLE IF EXISTS _onceki_anahtar");
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return result;
}

ordered_json load_result_json(const LoadResult& result) {
  ordered_json files = ordered_json::array();
  for (const LoadResult::FileCount& file : result.files) {
    files.push_back({{"dosya", file.file}, {"okunan", file.read}, {"yuklenen", file.loaded}});
  }
  ordered_json periods = ordered_json::object();
  for (const auto& [period, rows] : result.periods) periods[std::to_string(period)] = rows;
  ordered_json checks = ordered_json::array();
  for (const CheckResult& check : result.checks) {
    if (check.outcome == CheckOutcome::kPassed) continue;
    checks.push_back({{"kontrol", check.name},
                      {"sonuc", outcome_text(check.outcome)},
                      {"deger", check.value},
                      {"esik", check.threshold},
                      {"ayrinti", check.detail}});
  }
  return {{"kaynak", result.kaynak},
          {"tablo", result.tablo},
          {"degisti", result.changed},
          {"okunan", result.read},
          {"yuklenen", result.loaded},
          {"reddedilen", result.rejected},
          {"reddedilenler", result.rejected_file ? ordered_json(result.rejected_file->string()) : ordered_json(nullptr)},
          {"dosyalar", files},
          {"donemler", periods},
          {"kontroller", checks}};
}

std::string_view outcome_text(CheckOutcome outcome) {
  switch (outcome) {
    case CheckOutcome::kPassed: return "geçti";
    case CheckOutcome::kWarned: return "uyarı";
    case CheckOutcome::kBlocked: return "engel";
    case CheckOutcome::kAccepted: return "kabul";
  }
  return "";
}

ordered_json recorded_checks(Connection& con) {
  ordered_json checks = ordered_json::array();
  if (!con.has_table("ingest_kontrol")) return checks;
  const Table table = con.query(
      "SELECT kaynak, kontrol, sonuc, deger, esik, engeller, ayrinti, strftime(yuklendi, '%Y-%m-%d %H:%M') AS yuklendi "
      "FROM ingest_kontrol ORDER BY kaynak, kontrol");
  for (std::size_t row = 0; row < table.num_rows(); ++row) {
    ordered_json check = ordered_json::object();
    for (std::size_t c = 0; c < table.num_columns(); ++c) check[table.column(c).name()] = table.column(c).to_json(row);
    checks.push_back(std::move(check));
  }
  return checks;
}

}  // namespace vordak::pipeline
