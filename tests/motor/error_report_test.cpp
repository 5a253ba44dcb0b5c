#include "motor/error_report.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>

#include "core/files.h"
#include "motor/executor.h"

namespace vordak::motor {
namespace {

namespace fs = std::filesystem;

class ErrorReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vordak_error_report_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The report text with its time stamp replaced by "T".
  static std::string without_time(const std::string& text) {
    return std::regex_replace(text, std::regex("Zaman: [0-9T:.-]+\n"), "Zaman: T\n");
  }

  fs::path dir_;
};

TEST_F(ErrorReportTest, NotebookFailureReportHoldsCellAndTracebackWithoutColours) {
  const fs::path report = dir_ / "season" / "error_report.txt";
  const NotebookFailure failure("ZeroDivisionError: division by zero",
                                "Hata veren hücre (#2):\n1/0\n\nTraceback:\n"
                                "\x1b[0;31mZeroDivisionError\x1b[0m: division by zero\n");
  save_error_report(failure, "/w/db/vrd.duckdb", "step=transform", report);
  EXPECT_EQ(without_time(read_file(report)),
            "=== Hata raporu ===\n"
            "Zaman: T\n"
            "Bağlam: step=transform\n"
            "Veritabanı: /w/db/vrd.duckdb\n"
            "Hata türü: vordak::motor::NotebookFailure\n"
            "Mesaj: ZeroDivisionError: division by zero\n"
            "\n"
            "Hata veren hücre (#2):\n1/0\n\nTraceback:\n"
            "ZeroDivisionError: division by zero\n");
}

TEST_F(ErrorReportTest, LaterReportsAreAppended) {
  const fs::path report = dir_ / "error_report.txt";
  save_error_report(std::runtime_error("ilk"), "db1", "step=a", report);
  save_error_report(std::out_of_range("ikinci"), "db2", "step=b", report);
  EXPECT_EQ(without_time(read_file(report)),
            "=== Hata raporu ===\nZaman: T\nBağlam: step=a\nVeritabanı: db1\n"
            "Hata türü: std::runtime_error\nMesaj: ilk\n"
            "\n"
            "=== Hata raporu ===\nZaman: T\nBağlam: step=b\nVeritabanı: db2\n"
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
