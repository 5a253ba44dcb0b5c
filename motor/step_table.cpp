#include "motor/step_table.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace vordak::motor {

namespace {

using enum RunParam;
using enum RunGroup;

// An ingest step reading its extracts from the given data sources.
StepDefinition ingest(std::string kod, std::string nb, std::string aciklama, std::vector<std::string> sources,
                SourceParam param, RunGroup group = kIngest) {
  return {kod,   nb, aciklama, StepKind::kIngest, {"ingest_ddl"}, {"ingest_ddl"}, std::move(sources),
          param, {kReportPath, kSourceContracts, kAcceptedChecks, kRejectedDir}, group};
}

// A step whose notebook reads exactly what its upstream steps write.
StepDefinition step(std::string kod, std::string nb, std::string aciklama, std::vector<std::string> upstream,
              std::vector<RunParam> params = {}, RunGroup group = kNotOffered) {
  return {kod, nb, aciklama, StepKind::kDerived, upstream, upstream, {}, SourceParam::kNone, std::move(params), group};
}

// The keys of the table's steps that load extracts from data sources (every ingest step
// but the one creating the tables), in table order.
std::vector<std::string> extract_loaders(const std::vector<StepDefinition>& table) {
  std::vector<std::string> keys;
  for (const StepDefinition& definition : table) {
    if (!definition.data_sources.empty()) keys.push_back(definition.kod);
  }
  return keys;
}

// Built on first use, so that it may be read while other libraries load.
std::vector<StepDefinition> build_table() {
  using SP = SourceParam;
  std::vector<StepDefinition> table = {
      {"ingest_ddl", "nb_01a_ingest_ddl.ipynb", "DB tablo oluşturma", StepKind::kIngest, {}, {}, {}, SP::kNone, {kReportPath},
       kIngest},
      ingest("ingest_kik", "nb_01b_ingest_kik.ipynb", "KIK izleme CSV", {"kik_data_ham_csv"}, SP::kSourceDir),
      ingest("ingest_kredi", "nb_01c_ingest_kredi.ipynb", "Kredi risk parquet", {"kredi_db"}, SP::kSourceDir),
      ingest("ingest_yis", "nb_01d_ingest_yis.ipynb", "YIS tahmin CSV", {"yis_tahmin_data"}, SP::kSourceDir),
      ingest("ingest_eus", "nb_01e_ingest_eus.ipynb", "EUS tahmin CSV", {"eus_tahmin_data"}, SP::kSourceDir),
      ingest("ingest_hedef_kapsam", "nb_01f_ingest_hedef_kapsam.ipynb", "EUS hedef+kapsam MUTA",
             {"eus_hedef_muta", "eus_sql_kapsam_muta"}, SP::kSourceDirs),
      ingest("ingest_statik", "nb_01g_ingest_statik.ipynb", "Statik bilgiler TXT", {"statik_db"}, SP::kSourceDir),
      ingest("ingest_train", "nb_01h_ingest_train.ipynb", "Training features parquet", {"yis_train_data"},
             SP::kSourceDir),
      ingest("ingest_rkd", "nb_01i_ingest_rkd.ipynb", "RKD kriter parquet", {"rkd_donem_data"}, SP::kSourceDirs),
      ingest("ingest_memzuc", "nb_01k_ingest_memzuc.ipynb", "Memzuc parquet", {"memzuc_data_donem"},
             SP::kSourceDirs),
      // The deposit extract is not among the default run's data sources; its key is ours.
      ingest("ingest_depo", "nb_01j_ingest_depo.ipynb", "Raporlama depo parquet", {"raporlama_depo"},
             SP::kSourceDir, kNotOffered),
      step("transform", "nb_02_transform.ipynb", "Bronze → Silver (EUS patch dahil)", {},
           {kLogDir, kReferansTarihList, kReportPath, kCrossChecks, kAcceptedChecks}, kCore),
      step("eus_diag", "nb_06a_diag_extract.ipynb", "EUS kapsam dışı kalma teşhisi (extract)", {"transform"}),
      step("diag_analysis", "nb_06b_diag_analysis.ipynb", "Diagnostik analiz & özet tablolar", {"eus_diag"}),
      step("diag_features", "nb_06c_diag_features.ipynb", "Diagnostik ML feature engineering", {"eus_diag"}),
      step("ml_features", "nb_04a_ml_features.ipynb", "ML feature engineering", {"transform", "diag_features"},
           {kCacheDir, kTestMutaCount}, kMl),
      step("ml_train", "nb_04b_ml_train.ipynb", "ML LightGBM eğitimi", {"ml_features"},
           {kCacheDir, kTestMutaCount, kModelDir}, kMl),
      step("ml_predict", "nb_04c_ml_predict.ipynb", "ML tahmin + SHAP", {"ml_train", "marts"},
           {kCacheDir, kTestMutaCount, kModelDir, kScoreboardPath}, kMl),
      step("marts", "nb_03_marts.ipynb", "Scoreboard + Trending + HTML", {"transform", "diag_analysis"}, {kStepSeasons, kReportPath},
           kCore),
      step("backtest_eus", "nb_05a_backtest_eus.ipynb", "EUS skor backtest", {"transform"}, {}, kBacktest),
      step("backtest_yis", "nb_05b_backtest_yis.ipynb", "YIS skor backtest", {"transform"}, {}, kBacktest),
      step("backtest_ml", "nb_05c_backtest_ml.ipynb", "ML scoreboard backtest", {"ml_train", "transform"}, {},
           kBacktest),
      step("diag_unvan", "nb_07a_diag_unvan.ipynb", "Unvan boşluk diagnostiği", {"transform"}),
      step("diag_risk", "nb_07b_diag_risk.ipynb", "Risk tutarlılık diagnostiği", {"transform"}),
  };
  const auto at = [&](std::string_view kod) -> StepDefinition& {
    return *std::find_if(table.begin(), table.end(), [&](const StepDefinition& s) { return s.kod == kod; });
  };
  // The transform reads every extract that was loaded.
  at("transform").upstream = at("transform").reads = extract_loaders(table);
  // The prediction step only reports whether a scoreboard exists; it reads none. The
  // marts show the predictions and the backtest summaries, so they read those tables.
  at("ml_predict").reads = {"ml_train"};
  at("marts").publishes = true;
  at("marts").reads = {"transform", "diag_analysis", "ml_predict", "backtest_eus", "backtest_yis", "backtest_ml"};
  return table;
}

}  // namespace

const std::vector<StepDefinition>& step_table() {
  static const std::vector<StepDefinition> table = build_table();
  return table;
}

const StepDefinition* find_step(std::string_view kod) {
  for (const StepDefinition& definition : step_table()) {
    if (definition.kod == kod) return &definition;
  }
  return nullptr;
}

const std::vector<std::pair<std::string, std::vector<std::string>>>& inert_dependencies() {
  static const std::vector<std::pair<std::string, std::vector<std::string>>> entries = {{"export", {"marts"}}};
  return entries;
}

std::vector<std::string> step_keys() {
  std::vector<std::string> keys;
  for (const StepDefinition& definition : step_table()) keys.push_back(definition.kod);
  return keys;
}

bool is_ingest_step(std::string_view kod) {
  const StepDefinition* definition = find_step(kod);
  return definition != nullptr && definition->kind == StepKind::kIngest;
}

std::vector<std::string> full_run_order() {
  const std::vector<StepDefinition>& table = step_table();
  std::vector<std::string> order;
  std::set<std::string> placed;
  while (order.size() < table.size()) {
    const auto ready = std::find_if(table.begin(), table.end(), [&](const StepDefinition& definition) {
      return !placed.contains(definition.kod) &&
             std::all_of(definition.reads.begin(), definition.reads.end(), [&](const std::string& r) { return placed.contains(r); });
    });
    if (ready == table.end()) throw std::logic_error("the steps' reads form a cycle");
    order.push_back(ready->kod);
    placed.insert(ready->kod);
  }
  return order;
}

std::vector<std::string> offered_again(const std::vector<std::string>& order) {
  std::vector<std::string> again;
  for (auto step = order.begin(); step != order.end(); ++step) {
    const std::vector<std::string>& reads = find_step(*step)->reads;
    if (std::any_of(step + 1, order.end(), [&](const std::string& later) { return std::ranges::count(reads, later) > 0; })) {
      again.push_back(*step);
    }
  }
  return again;
}

std::vector<std::string> inputs_of(const StepDefinition& definition) {
  std::vector<std::string> inputs = definition.upstream;
  for (const std::string& read : definition.reads) {
    if (std::find(inputs.begin(), inputs.end(), read) == inputs.end()) inputs.push_back(read);
  }
  return inputs;
}

std::vector<std::string> default_run_order() {
  std::vector<std::string> order;
  for (const RunGroup group : {kIngest, kCore, kMl, kBacktest}) {
    for (const StepDefinition& definition : step_table()) {
      if (definition.group == group) order.push_back(definition.kod);
    }
  }
  return order;
}

std::string_view base_param_name(BaseParam param) {
  switch (param) {
    case BaseParam::kDbPath: return "DB_PATH";
    case BaseParam::kOutputDir: return "OUTPUT_DIR";
    case BaseParam::kWorkDir: return "WORK_DIR";
    case BaseParam::kMutaFilterPath: return "MUTA_FILTER_PATH";
    case BaseParam::kFileSuffix: return "FILE_SUFFIX";
  }
  return "";
}

const std::vector<std::string>& base_param_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all;
    for (const BaseParam param : {BaseParam::kDbPath, BaseParam::kOutputDir, BaseParam::kWorkDir,
                                  BaseParam::kMutaFilterPath, BaseParam::kFileSuffix}) {
      all.emplace_back(base_param_name(param));
    }
    return all;
  }();
  return names;
}

std::vector<std::string> step_param_names(const StepDefinition& definition) {
  std::vector<std::string> names;
  if (definition.source_param != SourceParam::kNone) names.emplace_back(source_param_name(definition.source_param));
  for (const RunParam param : definition.run_params) names.emplace_back(param_name(param));
  return names;
}

std::string_view param_name(RunParam param) {
  switch (param) {
    case kLogDir: return "LOG_DIR";
    case kReferansTarihList: return "REFERANS_TARIH_LIST";
    case kCacheDir: return "CACHE_DIR";
    case kTestMutaCount: return "TEST_MUTA_COUNT";
    case kModelDir: return "MODEL_DIR";
    case kScoreboardPath: return "SCOREBOARD_PATH";
    case kReportPath: return "REPORT_PATH";
    case kStepSeasons: return "STEP_SEASONS";
    case kSourceContracts: return "SOURCE_CONTRACTS";
    case kCrossChecks: return "CROSS_CHECKS";
    case kAcceptedChecks: return "ACCEPTED_CHECKS";
    case kRejectedDir: return "REJECTED_DIR";
  }
  return "";
}

std::string_view source_param_name(SourceParam param) {
  switch (param) {
    case SourceParam::kNone: return "";
    case SourceParam::kSourceDir: return "SOURCE_DIR";
    case SourceParam::kSourceDirs: return "SOURCE_DIRS";
  }
  return "";
}

std::string_view group_name(RunGroup group) {
  switch (group) {
    case kNotOffered: return "";
    case kIngest: return "ingest";
    case kCore: return "core";
    case kMl: return "ml";
    case kBacktest: return "backtest";
  }
  return "";
}

}  // namespace vordak::motor
