#include "motor/source_contracts.h"

#include <algorithm>

namespace vordak::motor {

namespace {

using enum ValueType;

// The checks every load makes. A share of rows above its threshold fails the check; a
// key, period or value that does not parse loses a row the dashboards would have shown,
// so those block at a tenth of a percent. Reconciliation compares the load with the rows
// the table holds, which are the previous successful load's.
std::vector<Check> row_checks() {
  return {
      {"bos_dosya", 0, true, "satırı olmayan dosyaların sayısı"},
      {"anahtar_cozulemedi", 0.001, true, "anahtarı çözülemeyen (boş ya da sayı olmayan) satırların payı"},
      {"tur_hatali", 0.001, true, "sütun türüne uymayan değer taşıyan satırların payı"},
      {"izin_disi_deger", 0.001, true, "izin verilen değerler dışında değer taşıyan satırların payı"},
      {"zorunlu_bos", 0.001, true, "zorunlu bir değeri boş satırların payı"},
      {"tekrarlanan_anahtar", 0, true, "anahtarı daha önceki bir satırla aynı olan satırların payı"},
      {"satir_degisimi", 0.10, true, "son yüklemeye göre satır sayısının değişimi (dönem başına, en büyüğü)"},
  };
}

std::vector<Check> period_checks() {
  return {
      {"donem_cozulemedi", 0.001, true, "dönemi YYYYMM olarak çözülemeyen satırların payı"},
      {"gelecek_donem", 0, true, "bu aydan sonraki dönemlerin sayısı"},
      {"eksik_donem", 0, true, "son yüklemede olup şimdi olmayan dönemlerin sayısı"},
      {"donem_boslugu", 0, true, "son yüklemenin son döneminin ardından gelmeyen yeni dönemlerin sayısı"},
      {"kayip_firma", 0.10, true, "son yüklemenin son dönemindeki anahtarlardan bu yüklemenin son döneminde olmayanların payı"},
  };
}

ContractColumn col(std::string name, ValueType type, bool required = false, std::vector<std::string> allowed = {}) {
  return {std::move(name), type, required, std::move(allowed)};
}

// A source with a MUTA_NO and DONEM key, one row per firm and period.
SourceContract periodic(std::string kaynak, std::string adim, std::string tablo, std::string dosyalar, FileFormat format,
                        std::vector<ContractColumn> more, std::vector<std::string> key = {"MUTA_NO", "DONEM"}) {
  SourceContract contract;
  contract.kaynak = std::move(kaynak);
  contract.adim = std::move(adim);
  contract.tablo = std::move(tablo);
  contract.dosyalar = std::move(dosyalar);
  contract.format = format;
  if (format == FileFormat::kCsv) {
    contract.encodings = {"utf-8"};
    contract.delimiter = ";";
    contract.decimal_mark = ".";
  }
  contract.columns = {col("MUTA_NO", kInteger, true), col("DONEM", kPeriod, true)};
  contract.columns.insert(contract.columns.end(), more.begin(), more.end());
  contract.key = std::move(key);
  contract.period_column = "DONEM";
  contract.checks = row_checks();
  const std::vector<Check> periods = period_checks();
  contract.checks.insert(contract.checks.begin() + 2, periods.begin(), periods.end());
  return contract;
}

// A table of the static extract: one row per key, no period, Turkish text that older
// systems still export in Windows-1254.
SourceContract fixed(std::string kaynak, std::string tablo, std::string dosyalar, std::vector<ContractColumn> columns,
                     std::string key) {
  SourceContract contract;
  contract.kaynak = std::move(kaynak);
  contract.adim = "ingest_statik";
  contract.tablo = std::move(tablo);
  contract.dosyalar = std::move(dosyalar);
  contract.encodings = {"utf-8", "windows-1254"};
  contract.delimiter = "|";
  contract.decimal_mark = ".";
  contract.columns = std::move(columns);
  contract.key = {std::move(key)};
  contract.checks = row_checks();
  return contract;
}

std::vector<SourceContract> build_contracts() {
  using F = FileFormat;
  return {
      periodic("kik_data_ham_csv", "ingest_kik", "raw_kik", "*.csv", F::kCsv,
               {col("VRD_SKOR", kText), col("IZLEME_DURUMU", kText, false, {"IZLEMEDE", "YAKIN IZLEME"})}),
      periodic("kredi_db", "ingest_kredi", "raw_kredi", "*.parquet", F::kParquet,
               {col("NAKIT_RISK", kDecimal), col("GNAKIT_RISK", kDecimal), col("KOMBINE_RISK", kDecimal),
                col("RISK_DEGISIM", kDecimal)}),
      periodic("yis_tahmin_data", "ingest_yis", "raw_yis", "*.csv", F::kCsv,
               {col("YIS_OLASILIK", kDecimal), col("YIS_SINIF", kInteger)}),
      periodic("eus_tahmin_data", "ingest_eus", "raw_eus", "*.csv", F::kCsv, {col("EUS_SKOR", kDecimal), col("VRD_SKOR", kText)}),
      periodic("eus_hedef_muta", "ingest_hedef_kapsam", "raw_eus_hedef", "*.csv", F::kCsv, {}),
      periodic("eus_sql_kapsam_muta", "ingest_hedef_kapsam", "raw_eus_kapsam", "*.csv", F::kCsv, {col("KAYNAK", kText)}),
      fixed("statik_db.firma", "raw_statik_firma", "*firma*.txt",
            {col("MUTA_NO", kInteger, true), col("UNVAN", kText), col("SEGMENT", kText), col("SUBE_KODU", kInteger),
             col("BOLGE_KODU", kInteger), col("SON_IZLEME_KODU", kText), col("RISK_GRUP_KODU", kInteger), col("PGY", kText),
             col("FINANSMAN_KONU", kText), col("TAHSIS_ONAY_BIRIMI", kText)},
            "MUTA_NO"),
      fixed("statik_db.sube", "raw_statik_sube", "*sube*.txt",
            {col("SUBE_KODU", kInteger, true), col("SUBE_ADI", kText), col("BOLGE_KODU", kInteger), col("BOLGE_ADI", kText)},
            "SUBE_KODU"),
      periodic("yis_train_data", "ingest_train", "raw_train", "*.parquet", F::kParquet,
               {col("GECIKME_GUN", kInteger), col("LIMIT_KULLANIM_ORANI", kDecimal), col("CEK_KARSILIKSIZ", kInteger),
                col("HEDEF_YI", kInteger)}),
      periodic("rkd_donem_data", "ingest_rkd", "raw_rkd", "*.parquet", F::kParquet,
               {col("KRITER", kText, true), col("DEGER", kDecimal)}, {"MUTA_NO", "DONEM", "KRITER"}),
      periodic("memzuc_data_donem", "ingest_memzuc", "raw_memzuc", "*.parquet", F::kParquet,
               {col("MEMZUC_NAKIT", kDecimal), col("MEMZUC_GNAKIT", kDecimal), col("BANKA_SAYISI", kInteger)}),
      periodic("raporlama_depo", "ingest_depo", "raw_depo", "*.parquet", F::kParquet, {col("DEPO_RISK", kDecimal)}),
  };
}

ordered_json check_json(const Check& check) {
  return {{"ad", check.name}, {"esik", check.threshold}, {"engeller", check.blocks}, {"aciklama", check.aciklama}};
}

}  // namespace

const std::vector<SourceContract>& source_contracts() {
  static const std::vector<SourceContract> contracts = build_contracts();
  return contracts;
}

std::vector<const SourceContract*> contracts_of(std::string_view adim) {
  std::vector<const SourceContract*> found;
  for (const SourceContract& contract : source_contracts()) {
    if (contract.adim == adim) found.push_back(&contract);
  }
  return found;
}

const std::vector<CrossCheck>& cross_source_checks() {
  static const std::vector<CrossCheck> checks = {
      {{"donem_uyumu", 0, true, "izleme ve kredi verilerinden yalnız birinde olan dönemlerin sayısı"},
       {"kik_data_ham_csv", "kredi_db"}},
      {{"statik_kapsami", 0, false, "izleme verisindeki firmalardan statik firma tablosunda olmayanların payı"},
       {"kik_data_ham_csv", "statik_db.firma"}},
  };
  return checks;
}

std::vector<std::string> check_names() {
  std::vector<std::string> names;
  const auto add = [&](const Check& check) {
    if (std::find(names.begin(), names.end(), check.name) == names.end()) names.push_back(check.name);
  };
  for (const SourceContract& contract : source_contracts()) std::for_each(contract.checks.begin(), contract.checks.end(), add);
  for (const CrossCheck& cross : cross_source_checks()) add(cross.check);
  return names;
}

ordered_json contract_json(const SourceContract& contract) {
  ordered_json columns = ordered_json::array();
  for (const ContractColumn& column : contract.columns) {
    columns.push_back({{"ad", column.name},
                       {"tur", value_type_name(column.type)},
                       {"zorunlu", column.required},
                       {"izinli", column.allowed.empty() ? ordered_json(nullptr) : ordered_json(column.allowed)}});
  }
  ordered_json checks = ordered_json::array();
  for (const Check& check : contract.checks) checks.push_back(check_json(check));
  const bool text = contract.format == FileFormat::kCsv;
  return {{"kaynak", contract.kaynak},
          {"adim", contract.adim},
          {"tablo", contract.tablo},
          {"dosyalar", contract.dosyalar},
          {"bicim", file_format_name(contract.format)},
          {"kodlama", text ? ordered_json(contract.encodings) : ordered_json(nullptr)},
          {"ayrac", text ? ordered_json(contract.delimiter) : ordered_json(nullptr)},
          {"ondalik", text ? ordered_json(contract.decimal_mark) : ordered_json(nullptr)},
          {"sutunlar", columns},
          {"anahtar", contract.key},
          {"donem", contract.period_column ? ordered_json(*contract.period_column) : ordered_json(nullptr)},
          {"kontroller", checks}};
}

ordered_json cross_check_json(const CrossCheck& cross) {
  ordered_json json = check_json(cross.check);
  json["kaynaklar"] = cross.sources;
  std::vector<std::string> tables;
  for (const std::string& source : cross.sources) {
    const auto contract = std::find_if(source_contracts().begin(), source_contracts().end(),
                                       [&](const SourceContract& c) { return c.kaynak == source; });
    tables.push_back(contract == source_contracts().end() ? source : contract->tablo);
  }
  json["tablolar"] = tables;
  return json;
}

std::string_view value_type_name(ValueType type) {
  switch (type) {
    case kInteger: return "tamsayi";
    case kDecimal: return "ondalik";
    case kText: return "metin";
    case kPeriod: return "donem";
  }
  return "";
}

std::string_view file_format_name(FileFormat format) { return format == FileFormat::kCsv ? "csv" : "parquet"; }

}  // namespace vordak::motor
