#pragma once

// What each data source must deliver, defined once beside the step table: its files and
// their encoding, its columns with their types, its key and period, the values it may
// hold, and the checks every load makes, each with its threshold and whether a failure
// stops the run. The ingest notebooks receive their contracts as a parameter (never a
// copy of their own), transform the checks across sources, and `vordak sources` prints
// them.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_writer.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

enum class FileFormat { kCsv, kParquet };
enum class ValueType { kInteger, kDecimal, kText, kPeriod };

struct ContractColumn {
  std::string name;
  ValueType type = ValueType::kText;
  bool required = false;  // a row without a value is rejected
  std::vector<std::string> allowed;  // the closed set of values, when there is one
};

// One check of a load: it fails when its measure (a share of rows, or a count of
// periods) is above the threshold; a failure either blocks the run or warns.
struct Check {
  std::string name;  // as the operator accepts it: `vordak run --accept NAME`
  double threshold = 0;
  bool blocks = true;
  std::string aciklama;  // what it measures, in the operator's words
};

struct SourceContract {
  std::string kaynak;  // data-source key, with ".part" when one source holds two kinds of file
  std::string adim;    // the ingest step that loads it
  std::string tablo;   // the raw table it replaces
  std::string dosyalar;  // file name pattern in the source directory
  FileFormat format = FileFormat::kCsv;
  // Text files: encodings tried in order (UTF-8 is read with or without a byte order mark).
  std::vector<std::string> encodings;
  std::string delimiter;
  std::string decimal_mark;
  std::vector<ContractColumn> columns;  // in the raw table's order
  std::vector<std::string> key;
  std::optional<std::string> period_column;  // periods as YYYYMM
  std::vector<Check> checks;
};

// A check across sources, made by transform once every source is loaded.
struct CrossCheck {
  Check check;
  std::vector<std::string> sources;
};

// Every contract, in the order the ingest steps load them.
const std::vector<SourceContract>& source_contracts();
// The contracts an ingest step loads, in order; empty for other steps.
std::vector<const SourceContract*> contracts_of(std::string_view adim);
const std::vector<CrossCheck>& cross_source_checks();

// Every check name a run may accept: the contracts' and the cross-source ones.
std::vector<std::string> check_names();

// The JSON forms the notebooks and `vordak sources --json` read.
ordered_json contract_json(const SourceContract& contract);
ordered_json cross_check_json(const CrossCheck& cross);

std::string_view value_type_name(ValueType type);  // "tamsayi", "ondalik", "metin", "donem"
std::string_view file_format_name(FileFormat format);  // "csv", "parquet"

}  // namespace vordak::motor

VORDAK_PUBLIC_END
