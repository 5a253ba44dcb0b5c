// `vordak marts` as the marts step calls it: the warnings it prints go into the step's
// report for the engine, beside the lines on its own output.

#include <gtest/gtest.h>

#include "pipeline/duckdb_connection.h"
#include "synth/portfolio_generator.h"
#include "tests/cli/cli_test_support.h"

namespace vordak::testing {
namespace {

TEST(MartsCommand, ItsWarningsGoIntoTheStepReportBesideWhatTheReportHeld) {
  TempDir dir;
  const std::string db = (dir / "data" / "vrd.duckdb").string();
  fs::create_directories(dir / "data");
  synth::generate_portfolio(db, {.firms = 500, .periods = 4, .seed = 5});
  {
    pipeline::Connection con(db);
    con.execute("INSERT INTO dim_entity SELECT * FROM dim_entity ORDER BY entity_id LIMIT 2");
  }
  const fs::path report = dir / "adim_marts_rapor.json";
  write_text(report, R"({"uyarilar": ["önceki"]})");
  const ChildResult result = run_vordak({"marts", "--db", db, "--report", report.string()});
  ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
  const std::size_t printed = result.out.find("    [WARN] dim_entity holds 2 firms more than once (");
  ASSERT_NE(printed, std::string::npos) << result.out;
  const std::string warning = result.out.substr(printed + 11, result.out.find('\n', printed) - printed - 11);
  EXPECT_EQ(parse_json(read_text(report)), ordered_json::parse(R"({"uyarilar": ["önceki", ")" + warning + R"("]})"));

  // Without warnings the report keeps what it held.
  write_text(report, "{}");
  {
    pipeline::Connection con(db);
    con.execute("CREATE OR REPLACE TABLE dim_entity AS SELECT DISTINCT * FROM dim_entity");
  }
  ASSERT_EQ(run_vordak({"marts", "--db", db, "--report", report.string()}).exit_status, 0);
  EXPECT_EQ(read_text(report).find("uyarilar"), std::string::npos) << read_text(report);
}

}  // namespace
}  // namespace vordak::testing
