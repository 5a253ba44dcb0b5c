// `vordak load`: loads one data source's extracts into its raw table under its contract
// (pipeline/source_load.h), for the ingest notebooks. It prints the load's lines and, with
// --report, adds what it found to the step's report for the engine. A load that a check
// blocks, or that cannot be made at all, exits with 1 and lines naming the source, the
// file, the check and its figures; the table keeps its rows.

#include <stdexcept>

#include "cli/commands.h"
#include "cli/data_report.h"
#include "core/clock.h"
#include "core/number_text.h"
#include "core/sink.h"
#include "core/text.h"
#include "pipeline/source_load.h"

namespace vordak::cli {

namespace {

using Kind = Option::Kind;
using pipeline::CheckOutcome;
using pipeline::CheckResult;
using pipeline::LoadResult;

int current_period() { return std::stoi(timestamp_text(Env::system().now()).substr(0, 6)); }

int load_command(const ParsedArgs& args) {
  const auto required = [&](const char* name) {
    const std::optional<std::string> value = args.value(name);
    if (!value) throw UsageError(std::string("--") + name + " is required");
    return *value;
  };
  const std::string db = required("db");
  pipeline::LoadContract contract;
  try {
    contract = pipeline::LoadContract::from_json(parse_json(required("contract")));
  } catch (const std::exception& failure) {
    throw UsageError(std::string("--contract: ") + failure.what());
  }
  pipeline::LoadOptions options;
  options.directories = args.values("dir");
  if (options.directories.empty()) throw UsageError("--dir DIR is required");
  options.force = args.flag("force");
  options.accepted = args.values("accept");
  if (const auto dir = args.value("rejected-dir")) options.rejected_dir = fs::path(*dir);
  options.current_period = current_period();
  const std::optional<std::string> report = args.value("report");
  Sink& out = stdout_sink();

  const std::unique_ptr<motor::WorkDirLock> lock = lock_database(db, "load");
  LoadResult result;
  try {
    pipeline::Connection con(db);
    result = pipeline::load_source(con, contract, options);
  } catch (const pipeline::LoadError& failure) {
    // The files cannot be loaded at all: as blocking as any check.
    if (report) add_to_report(*report, {true, std::nullopt, {}, {}, contract.kaynak + ":dosya_yapisi", failure.what()});
    throw;
  }
  ReportEntry entry{result.changed, pipeline::load_result_json(result), {}, {}, std::nullopt, ""};
  if (!result.changed) {
    out.line("  " + result.tablo + ": kaynak değişmedi, " + std::to_string(result.loaded) + " satır korunuyor");
    if (report) add_to_report(*report, entry);
    return 0;
  }
  std::vector<std::string> blocked, blocked_lines;
  for (const CheckResult& check : result.checks) {
    const std::string line = check_line(result.kaynak, check, result.rejected_file);
    if (check.outcome == CheckOutcome::kWarned || check.outcome == CheckOutcome::kAccepted) {
      entry.warnings.push_back(line);
      out.line("  [WARN] " + line);
    }
    if (check.outcome == CheckOutcome::kAccepted) entry.accepted.push_back(result.kaynak + ":" + check.name);
    if (check.outcome == CheckOutcome::kBlocked) {
      blocked.push_back(result.kaynak + ":" + check.name);
      blocked_lines.push_back(line);
    }
  }
  if (!blocked.empty()) {
    entry.blocked_check = join(blocked, ",");
    entry.blocked_message = join(blocked_lines, "\n") + "\n" + result.tablo +
                            " korunuyor. Veriyi inceleyip kabul etmek için: vordak run --accept " + join(blocked, " --accept ");
  }
  if (report) add_to_report(*report, entry);
  if (entry.blocked_check) throw std::runtime_error(entry.blocked_message);
  out.line("  " + result.tablo + ": " + std::to_string(result.loaded) + " satır, " + std::to_string(result.files.size()) +
           " dosya (" + fixed_text(result.seconds, 1) + "s)" +
           (result.rejected > 0 ? ", " + std::to_string(result.rejected) + " satır reddedildi" : ""));
  return 0;
}

const RegisterTool kLoad({Command{"load", "", 0, 0,
                                  "load a data source's extracts into its raw table under its contract, checking every row",
                                  {{"db", Kind::kValue, "PATH", "analytic database file (required)"},
                                   {"contract", Kind::kValue, "JSON", "the source's contract, as `vordak sources --json` prints it (required)"},
                                   {"dir", Kind::kRepeated, "DIR", "a directory of the source's files (at least one)"},
                                   {"accept", Kind::kRepeated, "CHECK", "a failed check to accept for this load: CHECK or SOURCE:CHECK"},
                                   {"rejected-dir", Kind::kValue, "DIR", "write the first 10,000 rejected rows to DIR/SOURCE.csv"},
                                   {"report", Kind::kValue, "PATH", "add the load's figures and findings to this step report"},
                                   {"force", Kind::kFlag, "", "load even when the files are those of the last load"}}},
                          load_command});

}  // namespace

}  // namespace vordak::cli
