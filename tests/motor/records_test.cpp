#include <gtest/gtest.h>

#include <regex>

#include "core/version.h"
#include "motor/motor.h"
#include "motor_test_support.h"

namespace vordak::motor {
namespace {

using testing::TempDir;
using testing::write_text;

class RecordsTest : public ::testing::Test {
 protected:
  Motor make(MotorArgs args) { return Motor(args); }
  TempDir dir;
};

TEST_F(RecordsTest, SummaryTableAlignsByCharactersAndCounts) {
  MotorArgs args = testing::quiet_args(dir.path());
  Motor motor(args);
  motor.ozet_satirlar = {
      {"ingest_kik", "nb_01b_ingest_kik.ipynb", "42s", "OK", "ingest — notebook kontrol eder"},
      {"transform", "nb_02_transform.ipynb", "-", "ATLANDI", "uyumlu (abc)"},
      {"marts", "nb_03_marts.ipynb", "1.5dk", "HATA", "x"},
      {"diag_risk", "nb_07b_diag_risk.ipynb", "-", "NB YOK", "bulunamadı"},
      {"a_very_long_step_key_over_22", "nb.ipynb", "-", "TUHAF", ""},
  };
  ::testing::internal::CaptureStdout();
  motor.ozet_yazdir();
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string rule(80, '=');
  const std::string expected =
      "\n" + rule + "\n" +
      "  " + motor.season_adi + " | PROD\n" + rule + "\n" +
      "  Adım                   Notebook                                 Süre  Durum\n"
      "  ---------------------- -------------------------------------- ------  --------\n"
      "  ingest_kik             nb_01b_ingest_kik.ipynb                   42s  [OK]\n"
      "  transform              nb_02_transform.ipynb                       -  [SKIP]\n"
      "  marts                  nb_03_marts.ipynb                       1.5dk  [ERR]\n"
      "  diag_risk              nb_07b_diag_risk.ipynb                      -  [!!]\n"
      "  a_very_long_step_key_over_22 nb.ipynb                                    -  [?]\n"
      "\n  Süre: 0.0dk | OK:1 Atlandı:1 Hata:1\n"
      "  Season: " + motor.season_dir.string() + "\n";
  EXPECT_EQ(out, expected);
}

TEST_F(RecordsTest, ManifestHoldsTheRunInOrder) {
  MotorArgs args = testing::quiet_args(dir.path());
  args.force_adimlar = std::vector<std::string>{"marts", "transform"};
  args.from_step = "transform";
  Motor motor(args);
  motor.ozet_satirlar = {{"transform", "nb", "-", "ATLANDI", ""}, {"transform", "nb", "1s", "OK", ""}};
  motor.manifest_adimlar["transform"] = {{"durum", "ATLANDI"}};
  motor.manifest_adimlar["marts"] = {{"durum", "NB_YOK"}};
  motor.manifest_adimlar["transform"] = {{"notebook", "nb"}, {"durum", "OK"}, {"sure", "1s"}};
  ::testing::internal::CaptureStdout();
  const fs::path path = motor.manifest_yaz();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(path, motor.meta_dir / ("manifest_" + motor.ts + ".json"));
  EXPECT_EQ(out, "\n  Manifest: " + path.string() + "\n");

  const std::string text = testing::read_text(path);
  const std::regex layout(
      "\\{\n  \"season\": \"" + motor.season_adi + "\",\n  \"pipeline_ts\": \"" + motor.ts +
      "\",\n  \"pkg_version\": \"" + kVersion +
      "\",\n  \"tarih\": \"[0-9T:.-]+\",\n  \"mode\": \"prod\",\n  \"git\": \\{\n    \"git_available\": false\n  \\},\n"
      "  \"parametreler\": \\{\n    \"force_all\": false,\n    \"force_adimlar\": \\[\n      \"marts\",\n"
      "      \"transform\"\n    \\],\n    \"from_step\": \"transform\"\n  \\},\n"
      "  \"sonuc\": \\{\n    \"toplam_sure_dk\": 0.0,\n    \"ok\": 1,\n    \"atlandi\": 1,\n    \"hata\": 0\n  \\},\n"
      "  \"adimlar\": \\{\n    \"transform\": \\{\n      \"notebook\": \"nb\",\n      \"durum\": \"OK\",\n"
      "      \"sure\": \"1s\"\n    \\},\n    \"marts\": \\{\n      \"durum\": \"NB_YOK\"\n    \\}\n  \\}\n\\}");
  EXPECT_TRUE(std::regex_match(text, layout)) << text;
}

TEST_F(RecordsTest, HousekeepingRemovesEveryErrorReport) {
  for (const char* place : {"seasons/S_1/error_report.txt", "seasons/S_2/logs/error_report.txt",
                            "seasons/T_3/error_report.txt", "outputs/json/error_report.txt"}) {
    write_text(dir / place, "x");
  }
  write_text(dir / "seasons/S_1/other.txt", "kept");
  Motor motor(testing::quiet_args(dir.path()));
  ::testing::internal::CaptureStdout();
  motor._temizle_error_reports();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "  Temizlik: 4 eski error_report silindi\n");
  EXPECT_TRUE(fs::exists(dir / "seasons/S_1/other.txt"));
  ::testing::internal::CaptureStdout();
  motor._temizle_error_reports();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

}  // namespace
}  // namespace vordak::motor
