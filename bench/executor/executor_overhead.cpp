// Overhead of the engine's notebook executor over a bare nbclient execution of the same
// notebook. The executor serves every run as it serves a pipeline run: one runner, each
// notebook in a fresh kernel started while the notebook before it ran. The bare side
// starts an interpreter and a kernel per run. Runs alternate so that a busy machine slows
// both alike. Built and run by bench/executor_overhead.sh.
//
//   executor_overhead NOTEBOOK WORK_DIR RUNS
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/child_process.h"
#include "motor/executor.h"
#include "motor/parameter_injection.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void summary(const char* name, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  double total = 0;
  for (double t : times) total += t;
  std::printf("%-22s mean %.3f s  median %.3f s  min %.3f s  max %.3f s\n", name, total / times.size(),
              times[times.size() / 2], times.front(), times.back());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s NOTEBOOK WORK_DIR RUNS\n", argv[0]);
    return 2;
  }
  const std::string notebook = argv[1];
  const std::filesystem::path work = argv[2];
  const int runs = std::max(1, std::atoi(argv[3]));
  const vordak::motor::NotebookParams parameters{{"DB_PATH", std::string("/veri/db/vrd.duckdb")},
                                                 {"OUTPUT_DIR", std::string("/veri/çıktı")},
                                                 {"TEST_MUTA_COUNT", std::int64_t{5}}};
  const std::string bare =
      "import sys, nbformat\n"
      "from nbclient import NotebookClient\n"
      "nb = nbformat.read(sys.argv[1], as_version=4)\n"
      "NotebookClient(nb, resources={'metadata': {'path': sys.argv[3]}}).execute()\n"
      "nbformat.write(nb, sys.argv[2])\n";

  auto executor = vordak::motor::make_default_executor();
  std::vector<double> ours, baseline;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    executor->execute_notebook(notebook, (work / "executor_out.ipynb").string(), parameters, work.string());
    ours.push_back(seconds_since(start));

    start = Clock::now();
    const auto result = vordak::run_child(
        {"/usr/bin/python3", "-c", bare, notebook, (work / "bare_out.ipynb").string(), work.string()});
    baseline.push_back(seconds_since(start));
    if (result.exit_status != 0) {
      std::fprintf(stderr, "bare nbclient run failed:\n%s\n", result.err.c_str());
      return 1;
    }
  }

  // The C++ side alone: read, inject, write the parameterized notebook.
  constexpr int kInjections = 200;
  auto start = Clock::now();
  for (int i = 0; i < kInjections; ++i) {
    auto document = vordak::motor::read_notebook(notebook, vordak::Env::system());
    vordak::motor::inject_parameters(document, parameters);
    const std::string text = vordak::motor::notebook_text(document);
    if (text.empty()) return 1;
  }
  const double injection = seconds_since(start) / kInjections;

  std::printf("%d runs of %s\n", runs, notebook.c_str());
  summary("vordak executor", ours);
  summary("bare nbclient", baseline);
  double ours_total = 0, baseline_total = 0;
  for (double t : ours) ours_total += t;
  for (double t : baseline) baseline_total += t;
  std::printf("overhead per notebook  %+.3f s (mean), injection alone %.1f us\n",
              (ours_total - baseline_total) / runs, injection * 1e6);
  return 0;
}
