// Whole-run benchmark of run_marts on a synthetic portfolio.
//   marts_bench [--db PATH] [--out DIR] [--firms N] [--periods N] [--seed N]
// Generates the portfolio and the model outputs the administrator edition measures when
// the file does not exist yet (200,000 firms x 24 periods by default), runs run_marts
// once with its console lines kept in a string, then measures the durable floor: the
// DuckDB fetch and an fsynced write of as many bytes as the run wrote, its pages' data
// folders included. Reports the time of every phase, the whole run against the floor,
// the scoreboard JSON serialization speed and the run's peak resident memory.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "bench/duckdb_floor.h"
#include "core/huge_page_heap.h"
#include "core/json_writer.h"
#include "core/sink.h"
#include "pipeline/marts.h"
#include "synth/model_outputs.h"
#include "synth/portfolio_generator.h"

namespace {

using Clock = std::chrono::steady_clock;

// The bytes of the files the run wrote: the JSON directory, the pages beside it and the
// pages' data folders (older runs' folders, which a run may keep, are not counted).
std::uintmax_t output_bytes(const std::filesystem::path& out_dir, std::filesystem::file_time_type since) {
  std::uintmax_t bytes = 0;
  for (const std::filesystem::path& dir : {out_dir, out_dir.parent_path() / "html"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
      if (entry.is_regular_file() && entry.last_write_time() >= since) bytes += entry.file_size();
    }
  }
  return bytes;
}

// Seconds to write `bytes` to a new file in `dir` and fsync it; the file is removed.
double durable_write_seconds(const std::filesystem::path& dir, std::uintmax_t bytes) {
  const std::string path = (dir / ".durable-floor").string();
  const std::string block(4 << 20, 'x');
  const auto begin = Clock::now();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  for (std::uintmax_t left = bytes; left > 0;) {
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uintmax_t>(left, block.size()));
    if (::write(fd, block.data(), piece) != static_cast<ssize_t>(piece)) {
      std::perror(path.c_str());
      std::exit(1);
    }
    left -= piece;
  }
  ::fsync(fd);
  ::close(fd);
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  ::unlink(path.c_str());
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  // The same heap as `vordak marts`, for the run and its floor alike.
  vordak::restart_with_huge_page_heap();
  std::string db_path = "/tmp/vordak-bench-200k.duckdb";
  std::string out_dir = "/tmp/vordak-marts-bench/json";
  vordak::synth::PortfolioOptions options{200000, 24, 7};
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    const std::string value = argv[i + 1];
    if (arg == "--db") db_path = value;
    else if (arg == "--out") out_dir = value;
    else if (arg == "--firms") options.firms = std::stoll(value);
    else if (arg == "--periods") options.periods = std::stoi(value);
    else if (arg == "--seed") options.seed = std::stoull(value);
  }
  if (!std::filesystem::exists(db_path)) {
    vordak::synth::generate_portfolio(db_path, options);
    vordak::synth::generate_model_outputs(db_path, options.seed);
    std::printf("  generated %s\n", db_path.c_str());
  }

  vordak::bench::duckdb_floor_seconds(db_path);  // warms the page cache

  std::vector<std::pair<std::string, double>> phases;
  const auto files_since = std::filesystem::file_time_type::clock::now();
  const auto start = Clock::now();
  vordak::pipeline::Scoreboard scoreboard;
  {
    vordak::StringSink quiet;
    scoreboard = vordak::pipeline::run_marts(db_path, out_dir, "", quiet, [&](const char* phase, double seconds) {
                   phases.emplace_back(phase, seconds);
                 }).first;
  }
  const double total = std::chrono::duration<double>(Clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);  // the run's peak (the warming fetch needs less)
  const double peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;

  // Serialization alone: the same document into /dev/null, no sync.
  double serialize = 0;
  {
    std::FILE* sink = std::fopen("/dev/null", "wb");
    const auto begin = Clock::now();
    vordak::JsonWriter writer(sink, vordak::JsonWriter::Layout::kCompact);
    vordak::pipeline::write_scoreboard(writer, scoreboard);
    writer.flush();
    serialize = std::chrono::duration<double>(Clock::now() - begin).count();
    std::fclose(sink);
  }
  scoreboard = {};

  // The floor is measured after the run, so that both find the database in the page cache.
  const double fetch = vordak::bench::duckdb_floor_seconds(db_path);
  const std::uintmax_t written = output_bytes(out_dir, files_since);
  const double write = durable_write_seconds(out_dir, written);
  const double floor = fetch + write;

  for (const auto& [phase, seconds] : phases) std::printf("  %-28s %7.3f s\n", phase.c_str(), seconds);
  std::printf("  durable floor: fetch %.3f s + fsynced write of the %.1f MB written %.3f s = %.3f s\n", fetch,
              static_cast<double>(written) / 1e6, write, floor);
  std::printf("  %-28s %7.3f s (%.2f x the durable floor)\n", "run_marts", total, total / floor);
  const auto json_size = std::filesystem::file_size(std::filesystem::path(out_dir) / "sample_scoreboard.json");
  // The scoreboard file is written in the background while the pages are made; its
  // phase is what was left of it after them.
  std::printf("  scoreboard JSON: %.1f MB; serialization alone on one thread %.3f s = %.0f MB/s\n",
              static_cast<double>(json_size) / 1e6, serialize, static_cast<double>(json_size) / 1e6 / serialize);
  std::printf("  peak resident memory of the run: %.0f MiB\n", peak_mib);
  return 0;
}
