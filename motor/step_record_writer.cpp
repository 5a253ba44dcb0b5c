#include "motor/step_record_writer.h"

#include "core/clock.h"
#include "core/number_text.h"
#include "core/version.h"
#include "motor/layout.h"

namespace vordak::motor {

namespace {

ordered_json fingerprint_json(const Fingerprint& fingerprint) {
  return fingerprint ? ordered_json(*fingerprint) : ordered_json(nullptr);
}

}  // namespace

NotebookPrints notebook_prints(const Season& season, const fs::path& nb_path, Env& env) {
  return {file_hash(nb_path.string(), env),
          season.git_available() ? git_hash(season.work_dir().string(), nb_path.string()) : std::nullopt};
}

void StepRecordWriter::write(const std::string& kod, const fs::path& nb_path, double sure,
                             const std::optional<ordered_json>& source_hashes, const std::optional<ordered_json>& ekstra,
                             const std::optional<NotebookPrints>& printed) {
  const NotebookPrints prints = printed ? *printed : notebook_prints(season_, nb_path, env_);
  ordered_json record = ordered_json::object();
  record["notebook"] = nb_path.filename().string();
  record["nb_hash"] = fingerprint_json(prints.nb_hash);
  record["git_nb_hash"] = season_.git_available() ? fingerprint_json(prints.git_nb_hash) : ordered_json(nullptr);
  record["pkg_version"] = kVersion;
  record["season"] = season_.season_adi();
  record["pipeline_ts"] = season_.ts();
  record["mode"] = season_.mode();
  record["sure_saniye"] = round_half_even(sure, 1);
  record["tarih"] = iso_text(env_.now());
  if (source_hashes && !source_hashes->empty()) record[kSourceHashes] = *source_hashes;
  if (ekstra && !ekstra->empty()) {
    for (const auto& [key, value] : ekstra->items()) record[key] = value;
  }
  env_.write_file_atomic(season_.meta_dir() / meta_file_name(kod), to_json_text(record, JsonWriter::Layout::kIndented));
}

}  // namespace vordak::motor
