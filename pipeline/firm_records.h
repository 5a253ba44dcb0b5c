#pragma once

// The firm records of the dashboards' data files, each firm a JSON array in two parts. The
// table part is what every firm table and list shows, in files the page loads a page of
// rows at a time; the panel part is the rest of what the firm panel shows, loaded only
// for a firm opened there. Fields, by the names fields() gives the page:
//   table: muta, unvan, segment, sube_kodu, bolge_kodu, son_risk, degisim (the risk change
//          over the last period), vrd (the score of every period, packed as below),
//          listeler (one character per period: the lists the firm was on then, see
//          kListDigits), nedenler (the reason of each list it is on now, by row flag, or
//          null), olasilik (the model's YI probability);
//   panel: r (the risk in whole TL of every period, packed as below), etkenler (the
//          model's main drivers), then one array per model score kept by the run (eus,
//          yis, ml: every period's score or null).
// The two long series are packed into text of kPackDigits (a digit is worth 0 to 63):
//   vrd: two digits a period, 64 * first + second: a whole score from 0 to 4093, 4094 for
//        "YI", 4095 for none. A firm with any other score has a JSON array instead.
//   r:   "." for none; else the change from the last amount given (the first from 0),
//        zigzag-coded (0, -1, 1, -2 ... as 0, 1, 2, 3 ...), in digits of five bits, the
//        lowest first, each but the last worth 32 more. A firm with an amount beyond
//        2^53 has a JSON array instead.
// The page unpacks them (packedScores, packedAmounts).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_writer.h"
#include "pipeline/firm_facts.h"
#include "pipeline/page_context.h"
#include "pipeline/scoreboard.h"

namespace vordak::pipeline {

inline constexpr std::string_view kPackDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// The character of a period's list bits (bit i: list i of TRENDING_KEYS) in "listeler".
inline constexpr std::string_view kListDigits = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_";

enum class RecordPart { kTable, kPanel };

class FirmRecords {
 public:
  // Reads the columns of `scoreboard` and the facts; all three must outlive it.
  FirmRecords(const Scoreboard& scoreboard, const FirmFacts& facts, const PageContext& context);

  // The field names of a part, in record order.
  ordered_json fields(RecordPart part) const;
  // The part of the records of rows[begin, end) as one JSON array; non-finite numbers
  // are null.
  std::string array(const std::vector<std::size_t>& rows, std::size_t begin, std::size_t end, RecordPart part) const;

 private:
  void write_table_part(JsonWriter& writer, std::size_t row, std::string& packed) const;
  void write_panel_part(JsonWriter& writer, std::size_t row, std::string& packed) const;

  const FirmFacts& facts_;
  const PageContext& context_;
  std::size_t periods_;
  std::vector<const Column*> identity_;  // muta ... son_risk, degisim (nullptr where missing)
  std::vector<const Column*> scores_;
  std::vector<const Column*> risks_;
  const Column* muta_;
  const Column* probability_;
};

}  // namespace vordak::pipeline
