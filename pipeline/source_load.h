#pragma once

// Loading one data source's extracts into its raw table under its contract. Every row is
// read, checked and either loaded or rejected with its reason; the load is compared with
// the rows the table holds (the previous successful load); and only a load whose checks
// pass, or whose failed checks the operator accepted, replaces the table's rows, in one
// transaction. A blocked load leaves the table as it was.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/json_writer.h"
#include "pipeline/duckdb_connection.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::pipeline {

namespace fs = std::filesystem;

// A contract as the engine hands it to the ingest notebooks (its JSON form).
struct LoadContract {
  struct Column {
    std::string name;
    std::string type;  // "tamsayi", "ondalik", "metin", "donem"
    bool required = false;
    std::vector<std::string> allowed;
  };
  struct Check {
    std::string name;
    double threshold = 0;
    bool blocks = true;
  };
  std::string kaynak, adim, tablo, dosyalar, bicim;
  std::vector<std::string> encodings;
  std::string delimiter, decimal_mark;
  std::vector<Column> columns;
  std::vector<std::string> key;
  std::optional<std::string> period;
  std::vector<Check> checks;

  // Throws std::invalid_argument naming the member that is missing or of the wrong kind.
  static LoadContract from_json(const ordered_json& json);
  // The load log's key: the step and the table, as the loads have always been logged.
  std::string log_key() const { return adim + ":" + tablo; }
};

// A load that cannot be made at all: no file, a file that cannot be read or decoded, a
// column missing from a file. The message names the source and the file.
class LoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct LoadOptions {
  std::vector<std::string> directories;
  bool force = false;  // load even when the files are those of the last load
  // Failed checks the operator accepted for this run: "CHECK" or "SOURCE:CHECK".
  std::vector<std::string> accepted;
  std::optional<fs::path> rejected_dir;  // where the rejected rows go, as SOURCE.csv
  int current_period = 0;                // this month, YYYYMM: later periods are in the future
};

enum class CheckOutcome { kPassed, kWarned, kBlocked, kAccepted };

struct CheckResult {
  std::string name;
  double value = 0;  // a share of rows, or a count of periods or files
  double threshold = 0;
  bool blocks = false;
  CheckOutcome outcome = CheckOutcome::kPassed;
  std::string detail;  // the numbers and where, in the operator's words
  std::int64_t rejected_rows = 0;  // the rows the check rejected, for the row checks
};

struct LoadResult {
  std::string kaynak, tablo;
  bool changed = false;  // false: the files were those of the last load; its rows stay
  std::int64_t read = 0, loaded = 0, rejected = 0;
  struct FileCount {
    std::string file;
    std::int64_t read = 0, loaded = 0;
  };
  std::vector<FileCount> files;
  std::vector<std::pair<std::int64_t, std::int64_t>> periods;  // period, rows loaded
  std::vector<CheckResult> checks;
  std::optional<fs::path> rejected_file;
  std::string encoding;  // what the text files were read as
  double seconds = 0;

  std::vector<const CheckResult*> blocking() const;  // the failures that block the load
};

// Loads the source's files (its contract's pattern, in the given directories, sorted by
// path) unless they are the ones loaded last time and the table has rows. Throws
// LoadError as described above and DatabaseError for a database failure; a load that a
// check blocks is returned with its result, the table untouched.
LoadResult load_source(Connection& con, const LoadContract& contract, const LoadOptions& options);

// The report of a load as the step report holds it under "veri_kalitesi".
ordered_json load_result_json(const LoadResult& result);
// The operator's words for an outcome: "geçti", "uyarı", "engel", "kabul".
std::string_view outcome_text(CheckOutcome outcome);

// The checks of each source's last load as it recorded them (table ingest_kontrol), by
// source and check, for the administrator edition: [{"kaynak", "kontrol", "sonuc",
// "deger", "esik", "engeller", "ayrinti", "yuklendi"}]. Empty when no load recorded any.
ordered_json recorded_checks(Connection& con);

}  // namespace vordak::pipeline

VORDAK_PUBLIC_END
