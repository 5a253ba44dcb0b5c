// `vordak reconcile`: the checks across data sources (pipeline/cross_checks.h), for the
// transform notebook before it combines the sources. A blocking failure exits with 1 and
// its lines; with --report, the findings go into the step's report for the engine.

#include <stdexcept>

#include "cli/commands.h"
#include "cli/data_report.h"
#include "core/sink.h"
#include "core/text.h"
#include "pipeline/cross_checks.h"

namespace vordak::cli {

namespace {

using Kind = Option::Kind;
using pipeline::CheckOutcome;

int reconcile_command(const ParsedArgs& args) {
  const std::optional<std::string> db = args.value("db");
  const std::optional<std::string> checks_text = args.value("checks");
  if (!db || !checks_text) throw UsageError("--db PATH and --checks JSON are required");
  ordered_json checks;
  try {
    checks = parse_json(*checks_text);
  } catch (const std::exception& failure) {
    throw UsageError(std::string("--checks: not JSON: ") + failure.what());
  }
  const std::unique_ptr<motor::WorkDirLock> lock = lock_database(*db, "reconcile");
  std::vector<pipeline::CheckResult> results;
  {
    pipeline::Connection con(*db);
    try {
      results = pipeline::check_across_sources(con, checks, args.values("accept"));
    } catch (const std::invalid_argument& failure) {
      throw UsageError(std::string("--checks: ") + failure.what());
    } catch (const ordered_json::exception& failure) {
      throw UsageError(std::string("--checks: ") + failure.what());
    }
  }
  ReportEntry entry{std::nullopt, std::nullopt, {}, {}, std::nullopt, ""};
  std::vector<std::string> blocked, blocked_lines;
  for (const pipeline::CheckResult& check : results) {
    const std::string line = check_line("kaynaklar arası", check);
    if (check.outcome == CheckOutcome::kWarned || check.outcome == CheckOutcome::kAccepted) {
      entry.warnings.push_back(line);
      stdout_sink().line("  [WARN] " + line);
    }
    if (check.outcome == CheckOutcome::kAccepted) entry.accepted.push_back(check.name);
    if (check.outcome == CheckOutcome::kBlocked) {
      blocked.push_back(check.name);
      blocked_lines.push_back(line);
    }
  }
  if (!blocked.empty()) {
    entry.blocked_check = join(blocked, ",");
    entry.blocked_message = join(blocked_lines, "\n") + "\nVeriyi inceleyip kabul etmek için: vordak run --accept " +
                            join(blocked, " --accept ");
  }
  if (const auto report = args.value("report")) add_to_report(*report, entry);
  if (entry.blocked_check) throw std::runtime_error(entry.blocked_message);
  stdout_sink().line("  kaynaklar arası: " + std::to_string(results.size()) + " kontrol");
  return 0;
}

const RegisterTool kReconcile({Command{"reconcile", "", 0, 0, "check the loaded data sources against each other",
                                       {{"db", Kind::kValue, "PATH", "analytic database file (required)"},
                                        {"checks", Kind::kValue, "JSON", "the checks, as `vordak sources --json` prints them under \"kaynaklar_arasi\" (required)"},
                                        {"accept", Kind::kRepeated, "CHECK", "a failed check to accept for this run"},
                                        {"report", Kind::kValue, "PATH", "add the findings to this step report"}}},
                               reconcile_command});

}  // namespace

}  // namespace vordak::cli
