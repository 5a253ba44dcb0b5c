#include "pipeline/source_load.h"

#include <gtest/gtest.h>

#include <functional>

#include "pipeline/extract_files.h"
#include "test_support.h"

namespace vordak::pipeline {
namespace {

using vordak::testing::read_text;
using vordak::testing::TempDir;
using vordak::testing::write_text;

// The monitoring extract's contract as the engine hands it, with the checks a load makes.
ordered_json kik_contract(const std::string& decimal = ".") {
  ordered_json contract = ordered_json::parse(R"({
    "kaynak": "kik", "adim": "ingest_kik", "tablo": "raw_kik", "dosyalar": "*.csv", "bicim": "csv",
    "kodlama": ["utf-8"], "ayrac": ";", "ondalik": ".",
    "sutunlar": [{"ad": "MUTA_NO", "tur": "tamsayi", "zorunlu": true, "izinli": null},
                 {"ad": "DONEM", "tur": "donem", "zorunlu": true, "izinli": null},
                 {"ad": "SKOR", "tur": "ondalik", "zorunlu": false, "izinli": null},
                 {"ad": "DURUM", "tur": "metin", "zorunlu": false, "izinli": ["IZLEMEDE", "YAKIN IZLEME"]}],
    "anahtar": ["MUTA_NO", "DONEM"], "donem": "DONEM", "kontroller": []})");
  contract["ondalik"] = decimal;
  for (const auto& [name, threshold] : std::vector<std::pair<std::string, double>>{
           {"bos_dosya", 0}, {"anahtar_cozulemedi", 0.001}, {"donem_cozulemedi", 0.001}, {"gelecek_donem", 0},
           {"eksik_donem", 0}, {"donem_boslugu", 0}, {"kayip_firma", 0.1}, {"tur_hatali", 0.001},
           {"izin_disi_deger", 0.001}, {"zorunlu_bos", 0.001}, {"tekrarlanan_anahtar", 0}, {"satir_degisimi", 0.1}}) {
    contract["kontroller"].push_back({{"ad", name}, {"esik", threshold}, {"engeller", true}});
  }
  return contract;
}

// 2,000 firms' rows of one period, as the extract would hold them.
std::string period_file(int period, int firms = 2000, const std::function<std::string(int)>& row = {}) {
  std::string text = "MUTA_NO;DONEM;SKOR;DURUM\n";
  for (int firm = 1; firm <= firms; ++firm) {
    text += row ? row(firm) : std::to_string(1000 + firm) + ";" + std::to_string(period) + ";" + std::to_string(firm % 900) +
                                  ".5;IZLEMEDE";
    text += "\n";
  }
  return text;
}

class SourceLoadTest : public ::testing::Test {
 protected:
  SourceLoadTest() : con((dir / "vrd.duckdb").string(), Connection::Open::kCreate) {
    con.execute("CREATE TABLE ingest_log (adim VARCHAR, imza VARCHAR, dosya_sayisi INTEGER, satir BIGINT, yuklendi TIMESTAMP)");
    con.execute("CREATE TABLE raw_kik (muta_no BIGINT, donem INTEGER, skor DOUBLE, durum VARCHAR)");
    for (int period : {202401, 202402, 202403}) write_text(dir / "kik" / (std::to_string(period) + ".csv"), period_file(period));
  }
  LoadResult load(const ordered_json& contract, std::vector<std::string> accepted = {}) {
    LoadOptions options;
    options.directories = {(dir / "kik").string()};
    options.accepted = std::move(accepted);
    options.rejected_dir = dir / "rejected";
    options.current_period = 202412;
    options.force = true;
    return load_source(con, LoadContract::from_json(contract), options);
  }
  std::string table() { return con.query("SELECT count(*), sum(skor) FROM raw_kik").row_json(0).dump(); }
  static std::vector<std::string> blocking(const LoadResult& result) {
    std::vector<std::string> names;
    for (const CheckResult* check : result.blocking()) names.push_back(check->name);
    return names;
  }

  TempDir dir;
  Connection con;
};

TEST_F(SourceLoadTest, EachBrokenExtractGetsItsVerdictAndABlockedLoadKeepsTheTable) {
  ASSERT_TRUE(blocking(load(kik_contract())).empty());
  const std::string loaded = table();
  const fs::path kik = dir / "kik";
  struct Case {
    std::string what;
    std::function<void()> spoil;
    std::vector<std::string> blocks;
  };
  const std::vector<Case> cases = {
      {"a deleted month", [&] { fs::remove(kik / "202402.csv"); }, {"eksik_donem"}},
      {"half a month's keys broken", [&] { write_text(kik / "202403.csv", period_file(202403, 2000, [](int f) {
                                             return (f % 2 ? "X" : "") + std::to_string(1000 + f) + ";202403;1.5;IZLEMEDE";
                                           })); },
       {"anahtar_cozulemedi", "kayip_firma", "satir_degisimi"}},
      {"null keys", [&] { write_text(kik / "202403.csv", period_file(202403, 2000, [](int f) {
                            return (f <= 100 ? "" : std::to_string(1000 + f)) + ";202403;1.5;IZLEMEDE";
                          })); },
       {"anahtar_cozulemedi"}},
      {"half a month missing", [&] { write_text(kik / "202403.csv", period_file(202403, 1000)); }, {"kayip_firma", "satir_degisimi"}},
      {"duplicated rows", [&] { write_text(kik / "202403.csv", period_file(202403) + period_file(202403, 3).substr(26)); },
       {"tekrarlanan_anahtar"}},
      {"a month out of order", [&] { write_text(kik / "202312.csv", period_file(202312)); }, {"donem_boslugu"}},
      {"a month skipped", [&] { write_text(kik / "202405.csv", period_file(202405)); }, {"donem_boslugu"}},
      {"a future month", [&] { write_text(kik / "202501.csv", period_file(202501)); }, {"gelecek_donem", "donem_boslugu"}},
      {"a period that is no month", [&] { write_text(kik / "202413.csv", period_file(202413)); }, {"donem_cozulemedi"}},
      {"decimal commas", [&] { write_text(kik / "202403.csv", period_file(202403, 2000, [](int f) {
                                 return std::to_string(1000 + f) + ";202403;1,5;IZLEMEDE";
                               })); },
       {"eksik_donem", "tur_hatali"}},
      {"a value not allowed", [&] { write_text(kik / "202403.csv", period_file(202403, 2000, [](int f) {
                                      return std::to_string(1000 + f) + ";202403;1.5;KAPANDI";
                                    })); },
       {"eksik_donem", "izin_disi_deger"}},
      {"an empty file", [&] { write_text(kik / "202404.csv", "MUTA_NO;DONEM;SKOR;DURUM\n"); }, {"bos_dosya"}},
      {"a file without a byte", [&] { write_text(kik / "202404.csv", ""); }, {"bos_dosya"}},
  };
  for (const Case& test : cases) {
    fs::remove_all(kik);
    for (int period : {202401, 202402, 202403}) write_text(kik / (std::to_string(period) + ".csv"), period_file(period));
    test.spoil();
    const LoadResult result = load(kik_contract());
    EXPECT_EQ(blocking(result), test.blocks) << test.what;
    EXPECT_EQ(table(), loaded) << test.what << ": the table keeps the last good load";
    if (test.what == "half a month's keys broken") {
      // Every rejected row kept, with its file, line and reason.
      const std::string rejected = read_text(dir / "rejected" / "kik.csv");
      EXPECT_TRUE(rejected.starts_with("dosya,satir,neden,MUTA_NO,DONEM,SKOR,DURUM\n" + (kik / "202403.csv").string() +
                                       ",2,anahtar_cozulemedi,X1001,202403,1.5,IZLEMEDE\n"))
          << rejected.substr(0, 300);
    }
  }
}

TEST_F(SourceLoadTest, StructuralFaultsNameTheFileAndWhatIsWrong) {
  const fs::path kik = dir / "kik";
  const std::vector<std::tuple<std::string, std::function<void()>, std::string>> cases = {
      {"a wrong delimiter", [&] { write_text(kik / "202403.csv", "MUTA_NO,DONEM,SKOR,DURUM\n1,202403,1,IZLEMEDE\n"); },
       "202403.csv: sütun eksik: MUTA_NO, DONEM, SKOR, DURUM (başlık: MUTA_NO,DONEM,SKOR,DURUM; ayraç ';')"},
      {"a renamed column", [&] { write_text(kik / "202403.csv", "MUTA_NO;DONEM;PUAN;DURUM\n1;202403;1;IZLEMEDE\n"); },
       "202403.csv: sütun eksik: SKOR (başlık: MUTA_NO | DONEM | PUAN | DURUM; ayraç ';')"},
      {"no file at all", [&] { fs::remove_all(kik); fs::create_directories(kik); }, "kik: kaynak dosya bulunamadı (*.csv): "},
      {"Windows-1254 text where UTF-8 is due", [&] { write_text(kik / "202403.csv", "MUTA_NO;DONEM;SKOR;DURUM\n1;202403;1;\xDD\xDE\n"); },
       "202403.csv: dosya okunamadı: UTF-8 değil (sözleşmedeki kodlama: utf-8)"},
  };
  for (const auto& [what, spoil, message] : cases) {
    for (int period : {202401, 202402, 202403}) write_text(kik / (std::to_string(period) + ".csv"), period_file(period));
    spoil();
    try {
      load(kik_contract());
      ADD_FAILURE() << what << " loaded";
    } catch (const LoadError& error) {
      EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << what << ": " << error.what();
    }
    fs::remove_all(kik);
  }
}

TEST_F(SourceLoadTest, ExtractsInTheirDeclaredFormsLoadWhole) {
  // A byte order mark, quoted delimiters, Windows-1254 Turkish text, decimal commas,
  // one more column, columns in another order, spaces around a text.
  ordered_json contract = kik_contract(",");
  contract["kodlama"] = {"utf-8", "windows-1254"};
  contract["sutunlar"][3]["izinli"] = nullptr;
  fs::remove_all(dir / "kik");
  write_text(dir / "kik" / "202401.csv", "\xEF\xBB\xBFMUTA_NO;DONEM;SKOR;DURUM;EK\n1;202401;1,5;\"A;B\";x\n");
  write_text(dir / "kik" / "202402.csv", "MUTA_NO;DONEM;SKOR;DURUM\n1;202402;2,25;\xDE\x69\xFEli \xDD\x7A\x6D\x69r \xD0\xFD\xF0\n");
  write_text(dir / "kik" / "202403.csv", "DURUM;SKOR;DONEM;MUTA_NO\n  C D \xA0;3,5;202403;1\n");
  const LoadResult result = load(contract);
  EXPECT_TRUE(blocking(result).empty());
  EXPECT_EQ(result.encoding, "windows-1254, utf-8");
  EXPECT_EQ(con.query("SELECT muta_no, donem, skor, durum FROM raw_kik ORDER BY donem").row_json(1).dump(),
            R"({"muta_no":1,"donem":202402,"skor":2.25,"durum":"Şişli İzmir Ğığ"})");
  EXPECT_EQ(con.query("SELECT muta_no, skor, durum FROM raw_kik WHERE donem = 202403").row_json(0).dump(),
            R"({"muta_no":1,"skor":3.5,"durum":"C D"})");
  EXPECT_EQ(con.query("SELECT durum FROM raw_kik WHERE donem = 202401").row_json(0).dump(), R"({"durum":"A;B"})");
}

TEST_F(SourceLoadTest, ASourceWithoutPeriodsIsCountedByFile) {
  ordered_json contract = kik_contract();
  contract["donem"] = nullptr;
  contract["anahtar"] = {"MUTA_NO"};
  contract["sutunlar"][1]["tur"] = "tamsayi";
  fs::remove_all(dir / "kik");
  write_text(dir / "kik" / "firma.csv", "MUTA_NO;DONEM;SKOR;DURUM\n1;1;1.5;IZLEMEDE\n1;2;2.5;IZLEMEDE\nx;3;1;IZLEMEDE\n");
  const LoadResult result = load(contract);
  EXPECT_EQ(std::tuple(result.read, result.loaded, result.rejected), std::tuple(3, 1, 2));
  EXPECT_EQ(blocking(result), (std::vector<std::string>{"anahtar_cozulemedi", "tekrarlanan_anahtar"}));
  EXPECT_EQ(read_text(dir / "rejected" / "kik.csv"), "dosya,satir,neden,MUTA_NO,DONEM,SKOR,DURUM\n" + (dir / "kik" / "firma.csv").string() +
                                                         ",3,tekrarlanan_anahtar,1,2,2.5,IZLEMEDE\n" + (dir / "kik" / "firma.csv").string() +
                                                         ",4,anahtar_cozulemedi,x,3,1,IZLEMEDE\n");
}

TEST_F(SourceLoadTest, ACleanLoadIsJudgedAsTheThoroughLoadJudgesIt) {
  // Clean files are read once; one row that cannot be loaded makes the same files be read
  // the thorough way, which must judge them alike.
  ASSERT_TRUE(blocking(load(kik_contract())).empty());
  write_text(dir / "kik" / "202403.csv", period_file(202403, 1000));
  const LoadResult clean = load(kik_contract());
  write_text(dir / "kik" / "202404.csv", "MUTA_NO;DONEM;SKOR;DURUM\nx;202404;1.5;IZLEMEDE\n");
  const LoadResult thorough = load(kik_contract());
  EXPECT_EQ(std::tuple(clean.read, clean.loaded, thorough.read, thorough.loaded), std::tuple(5000, 5000, 5001, 5000));
  EXPECT_EQ(clean.periods, thorough.periods);
  ASSERT_EQ(clean.checks.size(), thorough.checks.size());
  for (std::size_t i = 0; i < clean.checks.size(); ++i) {
    if (clean.checks[i].name == "anahtar_cozulemedi") continue;
    EXPECT_EQ(std::tie(clean.checks[i].outcome, clean.checks[i].detail), std::tie(thorough.checks[i].outcome, thorough.checks[i].detail))
        << clean.checks[i].name;
  }
  EXPECT_EQ(blocking(clean), (std::vector<std::string>{"kayip_firma", "satir_degisimi"}));
  const auto lost = std::find_if(clean.checks.begin(), clean.checks.end(), [](const CheckResult& c) { return c.name == "kayip_firma"; });
  EXPECT_EQ(lost->detail, "son yüklemenin son dönemindeki 2000 anahtardan 1000 tanesi bu yüklemenin son döneminde yok (%50.00)");
}

TEST_F(SourceLoadTest, RepeatedKeysAreFoundWhetherFewOrMany) {
  // Past ten thousand repeated keys every key is grouped instead of the repeated ones listed.
  const fs::path file = dir / "kik" / "202403.csv";
  for (const int repeats : {3, 10001}) {
    const std::string header = "MUTA_NO;DONEM;SKOR;DURUM\n";
    write_text(file, period_file(202403, 10001) + period_file(202403, repeats).substr(header.size()));
    const LoadResult result = load(kik_contract());
    EXPECT_EQ(result.rejected, repeats);
    EXPECT_EQ(blocking(result), std::vector<std::string>{"tekrarlanan_anahtar"});
    const std::string rejected = read_text(dir / "rejected" / "kik.csv");
    const std::string first = file.string() + ",10003,tekrarlanan_anahtar,1001,202403,1.5,IZLEMEDE\n";
    EXPECT_EQ(rejected.substr(rejected.find('\n') + 1, first.size()), first);
  }
}

TEST_F(SourceLoadTest, ATruncatedParquetFileIsNamed) {
  ordered_json contract = kik_contract();
  contract["bicim"] = "parquet";
  contract["dosyalar"] = "*.parquet";
  const fs::path whole = dir / "kik" / "202401.parquet";
  con.execute("COPY (SELECT 1001 AS MUTA_NO, '202401' AS DONEM, 1.5 AS SKOR, 'IZLEMEDE' AS DURUM) TO " + sql_literal(whole.string()) +
              " (FORMAT parquet)");
  const std::string bytes = read_text(whole);
  write_text(dir / "kik" / "202402.parquet", bytes.substr(0, bytes.size() / 2));
  try {
    load(contract);
    ADD_FAILURE() << "a truncated parquet file loaded";
  } catch (const LoadError& error) {
    EXPECT_NE(std::string(error.what()).find("kik: "), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("202402.parquet"), std::string::npos) << error.what();
  }
}

TEST_F(SourceLoadTest, AFewBadRowsWarnAnAcceptedCheckLoadsAndTheSameFilesAreKept) {
  ASSERT_TRUE(blocking(load(kik_contract())).empty());
  write_text(dir / "kik" / "202404.csv", period_file(202404, 2000, [](int f) {
    return (f == 7 ? "x" : "") + std::to_string(1000 + f) + ";202404;1.5;IZLEMEDE";
  }));
  const LoadResult warned = load(kik_contract());
  ASSERT_TRUE(blocking(warned).empty());
  EXPECT_EQ(std::tuple(warned.read, warned.loaded, warned.rejected), std::tuple(8000, 7999, 1));
  const auto check = std::find_if(warned.checks.begin(), warned.checks.end(), [](const CheckResult& c) { return c.name == "anahtar_cozulemedi"; });
  EXPECT_EQ(check->outcome, CheckOutcome::kWarned);
  EXPECT_EQ(check->detail, "1 / 8000 satır (%0.01); en çok " + (dir / "kik" / "202404.csv").string() + " (1)");

  fs::remove(dir / "kik" / "202402.csv");
  EXPECT_EQ(blocking(load(kik_contract())), std::vector<std::string>{"eksik_donem"});
  const LoadResult accepted = load(kik_contract(), {"kik:eksik_donem"});
  EXPECT_TRUE(blocking(accepted).empty());
  EXPECT_EQ(con.query("SELECT count(DISTINCT donem) FROM raw_kik").row_json(0).dump(), R"j({"count(DISTINCT donem)":3})j");
  // The administrator edition reads the accepted check as the load recorded it.
  const ordered_json recorded = recorded_checks(con);
  const auto missing_period = std::find_if(recorded.begin(), recorded.end(), [](const ordered_json& c) { return c["kontrol"] == "eksik_donem"; });
  ASSERT_NE(missing_period, recorded.end());
  EXPECT_EQ((*missing_period)["kaynak"], "kik");
  EXPECT_EQ((*missing_period)["sonuc"], "kabul");
  EXPECT_EQ((*missing_period)["engeller"], true);

  // The same files again: nothing is read, the rows stay.
  LoadOptions again;
  again.directories = {(dir / "kik").string()};
  again.current_period = 202412;
  const LoadResult kept = load_source(con, LoadContract::from_json(kik_contract()), again);
  EXPECT_FALSE(kept.changed);
  EXPECT_EQ(kept.loaded, 5999);
}

TEST(Windows1254, TurkishLettersAndThePunctuationOfTheHighControls) {
  EXPECT_EQ(windows1254_to_utf8("\xD0\xF0\xDD\xFD\xDE\xFE\xC7\xE7\xD6\xF6\xDC\xFC \x80\x93x\x94\x81"), "ĞğİıŞşÇçÖöÜü €“x”\uFFFD");
}

}  // namespace
}  // namespace vordak::pipeline
