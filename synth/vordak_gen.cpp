// vordak-gen: writes a synthetic portfolio into a DuckDB file.
//   vordak-gen --db PATH [--firms N] [--periods N] [--seed N] [--no-model-outputs]
// Besides the portfolio it writes the diagnostic, backtest and prediction tables that
// the admin dashboard shows, unless --no-model-outputs is given.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "synth/model_outputs.h"
#include "synth/portfolio_generator.h"

int main(int argc, char** argv) {
  std::string db;
  vordak::synth::PortfolioOptions options;
  bool model_outputs = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf("usage: vordak-gen --db PATH [--firms N] [--periods N] [--seed N] [--no-model-outputs]\n");
      return 0;
    }
    if (arg == "--no-model-outputs") {
      model_outputs = false;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "vordak-gen: %s needs a value\n", arg.c_str());
      return 2;
    }
    const std::string value = argv[++i];
    try {
      if (arg == "--db") db = value;
      else if (arg == "--firms") options.firms = std::stoll(value);
      else if (arg == "--periods") options.periods = std::stoi(value);
      else if (arg == "--seed") options.seed = std::stoull(value);
      else {
        std::fprintf(stderr, "vordak-gen: unknown option %s\n", arg.c_str());
        return 2;
      }
    } catch (const std::exception&) {
      std::fprintf(stderr, "vordak-gen: %s needs a whole number, got %s\n", arg.c_str(), value.c_str());
      return 2;
    }
  }
  if (db.empty()) {
    std::fprintf(stderr, "vordak-gen: --db PATH is required\n");
    return 2;
  }
  try {
    vordak::synth::generate_portfolio(db, options);
    if (model_outputs) vordak::synth::generate_model_outputs(db, options.seed);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vordak-gen: %s\n", error.what());
    return 1;
  }
  std::printf("%s: %lld firms, %d periods\n", db.c_str(), static_cast<long long>(options.firms), options.periods);
  return 0;
}
