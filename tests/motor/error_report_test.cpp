#include "motor/error_report.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "core/clock.h"
#include "motor/executor.h"
#include "test_support.h"

namespace vordak::motor {
namespace {

class ErrorReportTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  testing::FakeClockEnv clock;
  const std::string time = "Zaman: " + iso_text(clock.now()) + "\n";
};

TEST_F(ErrorReportTest, NotebookFailureReportHoldsCellAndTracebackWithoutColours) {
  const fs::path report = dir / "season" / "error_report.txt";
  const NotebookFailure failure("ZeroDivisionError: division by zero",
                                "Hata veren hücre (#2):\n1/0\n\nTraceback:\n"
                                "\x1b[0;31mZeroDivisionError\x1b[0m: division by zero\n");
  save_error_report(failure, "/w/db/vrd.duckdb", "step=transform", report, clock);
  EXPECT_EQ(testing::read_text(report),
            "=== Hata raporu ===\n" + time +
            "Bağlam: step=transform\n"
            "Veritabanı: /w/db/vrd.duckdb\n"
            "Hata türü: vordak::motor::NotebookFailure\n"
            "Mesaj: ZeroDivisionError: division by zero\n"
            "\n"
            "Hata veren hücre (#2):\n1/0\n\nTraceback:\n"
            "ZeroDivisionError: division by zero\n");
}

TEST_F(ErrorReportTest, LaterReportsAreAppended) {
  const fs::path report = dir / "error_report.txt";
  save_error_report(std::runtime_error("ilk"), "db1", "step=a", report, clock);
  save_error_report(std::out_of_range("ikinci"), "db2", "step=b", report, clock);
  EXPECT_EQ(testing::read_text(report),
            "=== Hata raporu ===\n" + time + "Bağlam: step=a\nVeritabanı: db1\n"
            "Hata türü: std::runtime_error\nMesaj: ilk\n"
            "\n"
            "=== Hata raporu ===\n" + time + "Bağlam: step=b\nVeritabanı: db2\n"
            "Hata türü: std::out_of_range\nMesaj: ikinci\n");
}

TEST(StripTerminalCodes, RemovesEscapeSequencesOnly) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"plain çğü text", "plain çğü text"},
      {"\x1b[0;31mred\x1b[0m", "red"},
      {"\x1b[1;32m-> \x1b[39m1\x1b[39;49m/\x1b[38;5;241m0", "-> 1/0"},
      {"\x1b]8;;http://x\x07link\x1b]8;;\x1b\\", "link"},
      {"cut at end \x1b[", "cut at end "},
  };
  for (const auto& c : cases) EXPECT_EQ(strip_terminal_codes(c.in), c.out) << c.out;
}

}  // namespace
}  // namespace vordak::motor
