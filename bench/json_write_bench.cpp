// Serialization speed of the compact scoreboard JSON, without the database and the disk.
//   json_write_bench [--rows N] [--periods N]
// Builds rows shaped like the scoreboard's (identity texts, per-period scores with some
// "YI" states, risks with cents, integer changes, flags and reasons) and writes them
// with Table::write_rows into memory, reporting MB/s of the best of three passes.

#include <chrono>
#include <cstdio>
#include <string>

#include "core/json_writer.h"
#include "pipeline/table.h"

namespace {

using vordak::pipeline::Column;
using vordak::pipeline::ColumnKind;
using vordak::pipeline::Table;

std::uint64_t mix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  return x;
}

Table scoreboard_like(std::size_t rows, int periods) {
  Table table;
  Column muta("muta", ColumnKind::kInteger), unvan("unvan", ColumnKind::kText), segment("segment", ColumnKind::kText);
  for (std::size_t i = 0; i < rows; ++i) {
    muta.push_integer(static_cast<std::int64_t>(1000001 + i));
    unvan.push_text(i % 7 == 0 ? "Yıldız Güneş Tekstil San. ve Tic. A.Ş." : "Ege Doğan Lojistik ve Taşımacılık A.Ş.");
    segment.push_text(i % 3 == 0 ? "KOBI" : "MIKRO");
  }
  table.add_column(std::move(muta));
  table.add_column(std::move(unvan));
  table.add_column(std::move(segment));
  for (int p = 0; p < periods; ++p) {
    Column score("vrd2024-" + std::to_string(p), ColumnKind::kJson);
    Column risk("r2024-" + std::to_string(p), ColumnKind::kFloat);
    Column change("df2024-" + std::to_string(p), ColumnKind::kInteger);
    for (std::size_t i = 0; i < rows; ++i) {
      const std::uint64_t h = mix(i * 131 + static_cast<std::uint64_t>(p));
      if (h % 50 == 0) score.push_null();
      else if (score.kind() == ColumnKind::kJson && h % 30 == 1) score.push_text("YI");
      else score.push_integer(static_cast<std::int64_t>(h % 1000));
      if (h % 40 == 0) risk.push_null();
      else risk.push_float(static_cast<double>(h % 100000000) / 100.0);
      change.push_integer(static_cast<std::int64_t>(h % 2000000) - 1000000);
    }
    table.add_column(std::move(score));
    table.add_column(std::move(risk));
    table.add_column(std::move(change));
  }
  Column reason("_vrd_neden", ColumnKind::kText);
  for (std::size_t i = 0; i < rows; ++i) reason.push_text(i % 50 == 0 ? "Son 3 dönemde +150 puan artış (şu an 700)" : "");
  table.add_column(std::move(reason));
  return table;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t rows = 200000;
  int periods = 24;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--rows") rows = std::stoull(argv[i + 1]);
    else if (arg == "--periods") periods = std::stoi(argv[i + 1]);
  }
  const Table table = scoreboard_like(rows, periods);
  double best = 1e9;
  std::size_t bytes = 0;
  for (int pass = 0; pass < 3; ++pass) {
    std::string out;
    out.reserve(600u << 20);
    const auto start = std::chrono::steady_clock::now();
    vordak::JsonWriter writer(out, vordak::JsonWriter::Layout::kCompact);
    table.write_rows(writer);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    bytes = out.size();
  }
  std::printf("  write_rows: %.1f MB in %.3f s = %.0f MB/s\n", static_cast<double>(bytes) / 1e6, best,
              static_cast<double>(bytes) / 1e6 / best);
  return 0;
}
