// Whole-run benchmark of the scoreboard mart on a synthetic portfolio.
//   scoreboard_bench [--db PATH] [--firms N] [--periods N] [--seed N] [--json PATH]
// Generates the portfolio when the file does not exist yet, then reports: the floor
// (DuckDB alone running the identity-row and period-data queries and fetching every
// chunk), the whole build_scoreboard, writing the compact JSON, and the peak resident
// memory of the process.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <duckdb.h>

#include "bench/duckdb_floor.h"
#include "core/files.h"
#include "core/json_writer.h"
#include "core/sink.h"
#include "pipeline/duckdb_connection.h"
#include "pipeline/entity_keys.h"
#include "pipeline/scoreboard.h"
#include "synth/portfolio_generator.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::string db_path = "/tmp/vordak-bench-200k.duckdb";
  std::string json_path;
  vordak::synth::PortfolioOptions options{200000, 24, 7};
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    const std::string value = argv[i + 1];
    if (arg == "--db") db_path = value;
    else if (arg == "--firms") options.firms = std::stoll(value);
    else if (arg == "--periods") options.periods = std::stoi(value);
    else if (arg == "--seed") options.seed = std::stoull(value);
    else if (arg == "--json") json_path = value;
  }
  if (!std::filesystem::exists(db_path)) {
    const auto start = Clock::now();
    vordak::synth::generate_portfolio(db_path, options);
    std::printf("  generated %s (%lld firms, %d periods) in %.1f s\n", db_path.c_str(),
                static_cast<long long>(options.firms), options.periods, seconds_since(start));
  }

  vordak::bench::duckdb_floor_seconds(db_path);  // warms the page cache
  const double floor = vordak::bench::duckdb_floor_seconds(db_path);

  vordak::pipeline::Scoreboard scoreboard;
  double build = 0;
  {
    vordak::pipeline::Connection con(db_path);
    vordak::StringSink quiet;
    const auto start = Clock::now();
    scoreboard = vordak::pipeline::build_scoreboard(con, quiet);
    build = seconds_since(start);
  }
  std::printf("  build_scoreboard: %zu rows x %zu members in %.3f s (%.2f x floor)\n", scoreboard.rows.num_rows(),
              scoreboard.rows.num_columns(), build, build / floor);

  if (!json_path.empty()) {
    const auto start = Clock::now();
    vordak::AtomicFile file(vordak::Env::system(), json_path);
    std::string text;
    vordak::JsonWriter writer(text, vordak::JsonWriter::Layout::kCompact);
    vordak::pipeline::write_scoreboard(writer, scoreboard);
    file.write(text);
    file.commit();
    std::printf("  compact JSON written to %s in %.3f s (%.1f MB)\n", json_path.c_str(), seconds_since(start),
                static_cast<double>(std::filesystem::file_size(json_path)) / 1e6);
  }

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("  peak resident memory: %.0f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  return 0;
}
