// The run driver: the banner, the steps offered in their fixed order, and the records.

#include "core/console.h"
#include "core/text.h"
#include "core/version.h"
#include "motor/motor.h"

namespace vordak::motor {

namespace {

// Ingest steps with their data-source keys; ingest_ddl reads none.
const std::vector<std::pair<std::string, std::vector<std::string>>> kIngestSources = {
    {"ingest_ddl", {}},
    {"ingest_kik", {"kik_data_ham_csv"}},
    {"ingest_kredi", {"kredi_db"}},
    {"ingest_yis", {"yis_tahmin_data"}},
    {"ingest_eus", {"eus_tahmin_data"}},
    {"ingest_hedef_kapsam", {"eus_hedef_muta", "eus_sql_kapsam_muta"}},
    {"ingest_statik", {"statik_db"}},
    {"ingest_train", {"yis_train_data"}},
    {"ingest_rkd", {"rkd_donem_data"}},
    {"ingest_memzuc", {"memzuc_data_donem"}},
};

// These take their directories as SOURCE_DIRS (joined by ","); the others as SOURCE_DIR.
bool takes_source_list(const std::string& kod) {
  return kod == "ingest_hedef_kapsam" || kod == "ingest_rkd" || kod == "ingest_memzuc";
}

}  // namespace

std::vector<OfferedStep> Motor::offered_steps(bool skip_ingest, bool skip_backtest, bool skip_ml,
                                              const std::optional<std::vector<std::string>>& referans_tarih_list,
                                              std::int64_t test_muta_count) const {
  // data_paths override varsa onu kullan, yoksa external_data/subdir.
  const fs::path external_data = work_dir / "external_data";
  const auto resolve = [&](const std::string& key) {
    for (const auto& [name, dir] : data_paths) {
      if (name == key) return dir;
    }
    return (external_data / key).string();
  };

  std::vector<OfferedStep> steps;
  if (!skip_ingest) {
    for (const auto& [kod, keys] : kIngestSources) {
      if (keys.empty()) {
        steps.push_back({kod, std::nullopt, std::nullopt});
        continue;
      }
      std::vector<std::string> dirs;
      for (const std::string& key : keys) dirs.push_back(resolve(key));
      NotebookParams params;
      if (takes_source_list(kod)) {
        params.set("SOURCE_DIRS", join(dirs, ","));
      } else {
        params.set("SOURCE_DIR", dirs.front());
      }
      steps.push_back({kod, params, dirs});
    }
  }

  NotebookParams transform{{"LOG_DIR", log_dir.string()}};
  if (referans_tarih_list && !referans_tarih_list->empty()) {
    transform.set("REFERANS_TARIH_LIST", python_list_text(*referans_tarih_list));
  }
  steps.push_back({"transform", transform, std::nullopt});
  steps.push_back({"marts", std::nullopt, std::nullopt});

  if (!skip_ml) {
    const NotebookParams common{{"CACHE_DIR", (work_dir / "db" / "cache").string()}, {"TEST_MUTA_COUNT", test_muta_count}};
    const std::string model_dir = (work_dir / "ml_models").string();
    NotebookParams train = common;
    train.set("MODEL_DIR", model_dir);
    NotebookParams predict = train;
    predict.set("SCOREBOARD_PATH", (output_dir / ("sample_scoreboard" + file_suffix + ".json")).string());
    steps.push_back({"ml_features", common, std::nullopt});
    steps.push_back({"ml_train", train, std::nullopt});
    steps.push_back({"ml_predict", predict, std::nullopt});
  }
  if (!skip_backtest) {
    for (const char* kod : {"backtest_eus", "backtest_yis", "backtest_ml"}) steps.push_back({kod, std::nullopt, std::nullopt});
  }
  return steps;
}

void Motor::print_banner() const {
  say(std::string("Vordak Pipeline v") + kVersion);
  say("Season: " + season_adi);
  say("Mode: " + mode);
  if (mode == "test") {
    say("DB: " + db_path.string());
    if (!muta_filter_path.empty()) say("MUTA filtre: " + muta_filter_path);
  }
  const auto available = git_info.find("git_available");
  if (available != git_info.end() && available->is_boolean() && available->get<bool>()) {
    const auto entry = [&](const char* key) {
      const auto found = git_info.find(key);
      return found == git_info.end() ? std::string("?") : python_text(*found);
    };
    say("Git: " + entry("git_commit_short") + " (" + entry("git_branch") + ")");
  }
  const std::vector<std::string> forced(force_adimlar.begin(), force_adimlar.end());
  say(std::string("Force: ") + (force_all ? "True" : "False") + " " + python_list_text(forced));
}

fs::path Motor::run_all(bool skip_ingest, bool skip_backtest, bool skip_ml,
                        const std::optional<std::vector<std::string>>& referans_tarih_list,
                        std::int64_t test_muta_count) {
  print_banner();
  for (const OfferedStep& step : offered_steps(skip_ingest, skip_backtest, skip_ml, referans_tarih_list, test_muta_count)) {
    adim_isle(step.kod, step.ek_params, nullptr, step.source_dirs);
  }
  _temizle_error_reports();
  ozet_yazdir();
  return manifest_yaz();
}

}  // namespace vordak::motor
