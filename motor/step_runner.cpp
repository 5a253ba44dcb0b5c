#include "motor/step_runner.h"

#include <algorithm>

#include "core/clock.h"
#include "core/operator_identity.h"
#include "core/text.h"
#include "motor/error_report.h"
#include "motor/fingerprint.h"
#include "motor/layout.h"
#include "motor/notebook_check.h"
#include "motor/source_contracts.h"
#include "motor/step_report.h"
#include "motor/step_table.h"

namespace vordak::motor {

namespace {

constexpr std::size_t kConsoleErrorLength = 300;

}  // namespace

bool StepRunner::adim_isle(const OfferedStep& step, const KontrolFn& kontrol_fn) {
  const std::string& kod = step.kod;
  const StepDefinition* record = find_step(kod);
  if (record == nullptr) {
    out_.line("  [!] Bilinmeyen adım: " + kod);
    return false;
  }
  const std::optional<fs::path> nb_path = season_.nb_path(kod);
  out_.line("\n  ── " + kod + " | " + record->aciklama + " ──");
  if (!nb_path) {
    out_.line("  [!] Notebook bulunamadı: " + record->nb);
    report_.notebook_missing(kod, record->nb);
    return false;
  }
  const std::string nb_name = nb_path->filename().string();
  const Fingerprint fingerprint = file_hash(nb_path->string(), env_);
  const std::string nb_hash = fingerprint && !fingerprint->empty() ? *fingerprint : "--";
  out_.line("  " + nb_name + " (" + nb_hash.substr(0, 8) + ")");

  if (const std::optional<std::string> sebep = season_.before_start(kod)) {
    out_.line("  ATLANDI — " + *sebep);
    report_.skipped_before_start(kod, nb_name, *sebep);
    if (kontrol_fn) kontrol_fn(season_.work_dir());
    return true;
  }

  const Decision decision = changes_.decide_offered(step, progress_);
  if (!decision.calistir) {
    out_.line("  ATLANDI — " + decision.sebep);
    report_.skipped(kod, nb_name, decision.sebep);
    if (kontrol_fn) kontrol_fn(season_.work_dir());
    return true;
  }

  out_.line("  ÇALIŞTIRILIYOR — " + decision.sebep);
  const double t0 = epoch_seconds(env_.now());
  NotebookParams params = season_.base_params();
  if (step.ek_params) {
    for (const auto& [name, value] : *step.ek_params) params.set(name, value);
  }
  const fs::path report_path = step_report_path(season_.log_dir(), kod);
  if (const StepDefinition* definition = find_step(kod)) add_own_params(params, *definition);
  const ParamValue* report_param = params.find(std::string(param_name(RunParam::kReportPath)));
  const bool reports = report_param != nullptr && *report_param == ParamValue(report_path.string());
  const fs::path out_nb = executed_notebook(season_.log_dir(), kod, nb_name);

  try {
    check_notebook(*nb_path, env_);
    // Sources are fingerprinted before the notebook runs: a file changed while the step
    // runs must make the next run see a change.
    ordered_json source_hashes = ordered_json::object();
    if (step.source_dirs && !step.source_dirs->empty()) source_hashes = source_fingerprints(*step.source_dirs, env_);
    // So is the notebook: the record must name the text the kernel read, not one put in
    // its place while the step ran.
    const NotebookPrints printed = notebook_prints(season_, *nb_path, env_);
    // A report left by an earlier call in this season must not speak for this one.
    if (reports) env_.remove_file(report_path);
    executor_.execute_notebook(nb_path->string(), out_nb.string(), params, season_.work_dir().string());
    const double sure = epoch_seconds(env_.now()) - t0;
    const StepReport reported = reports ? read_report(report_path) : StepReport{};
    for (const std::string& warning : reported.uyarilar) out_.line("  [WARN] " + warning);
    const bool unchanged = !reported.kaynak_degisti;
    ordered_json ekstra = ordered_json::object();
    if (unchanged) {
      ekstra[kKaynakDegismedi] = true;
      ekstra[kSonDegisiklik] = changes_.last_change_season(kod).value_or(season_.season_adi());
    }
    const ordered_json acceptances = acceptance_records(reported.kabul_edilen);
    if (!reported.veri_kalitesi.is_null() || !reported.uyarilar.empty() || !acceptances.empty()) {
      ekstra["veri_kalitesi"] = {{"kaynaklar", reported.veri_kalitesi}, {"uyarilar", reported.uyarilar}, {"kabul", acceptances}};
    }
    records_.write(kod, *nb_path, sure, source_hashes, ekstra, printed);
    // A step that changed nothing leaves the steps below it to their own fingerprints.
    if (!unchanged) progress_.changed(kod);
    out_.line("  OK " + sure_text(sure) + (unchanged ? std::string(" — ") + kKaynakDegismediSebep : ""));
    if (unchanged) {
      report_.completed_unchanged(kod, nb_name, sure);
    } else {
      report_.completed(kod, nb_name, sure, decision.sebep);
    }
    report_.data_findings(kod, reported.uyarilar, acceptances);
    if (kontrol_fn) kontrol_fn(season_.work_dir());
    return true;
  } catch (const std::exception& failure) {
    const double sure = epoch_seconds(env_.now()) - t0;
    const std::string hata = utf8_prefix(failure.what(), kConsoleErrorLength);
    out_.line("  HATA — " + sure_text(sure) + "\n  " + hata);
    try {
      const fs::path report = season_.season_dir() / "error_report.txt";
      save_error_report(failure, season_.db_path(), "step=" + kod, report, env_);
      out_.line("  Hata raporu: " + report.string());
    } catch (const std::exception&) {
      // The report is best effort; the failure is already on the console and in the records.
    }
    report_.failed(kod, nb_name, sure, hata);
    // A data check that stopped the step keeps every step that reads its tables from
    // running: the published outputs stay the last complete set.
    if (reports) {
      if (const std::optional<std::string> check = read_report(report_path).engel) {
        progress_.block(kod);
        report_.data_check_failed(kod, *check);
      }
    }
    return false;
  }
}

void StepRunner::add_own_params(NotebookParams& params, const StepDefinition& definition) {
  const auto json_text = [](const ordered_json& value) { return to_json_text(value, JsonWriter::Layout::kCompact); };
  for (const RunParam param : definition.run_params) {
    const std::string name(param_name(param));
    if (params.find(name) != nullptr) continue;
    switch (param) {
      case RunParam::kReportPath: params.set(name, step_report_path(season_.log_dir(), definition.kod).string()); break;
      case RunParam::kStepSeasons: params.set(name, step_seasons(definition)); break;
      case RunParam::kSourceContracts: {
        ordered_json contracts = ordered_json::array();
        for (const SourceContract* contract : contracts_of(definition.kod)) contracts.push_back(contract_json(*contract));
        params.set(name, json_text(contracts));
        break;
      }
      case RunParam::kCrossChecks: {
        ordered_json checks = ordered_json::array();
        for (const CrossCheck& check : cross_source_checks()) checks.push_back(cross_check_json(check));
        params.set(name, json_text(checks));
        break;
      }
      case RunParam::kAcceptedChecks: params.set(name, json_text(ordered_json(season_.accepted_checks()))); break;
      case RunParam::kRejectedDir: params.set(name, (season_.season_dir() / "rejected").string()); break;
      default: break;  // the run's own, set when it offers the step
    }
  }
}

std::string StepRunner::step_seasons(const StepDefinition& definition) {
  ordered_json seasons = ordered_json::object();
  for (const std::string& read : definition.reads) {
    const bool now = progress_.calisan_adimlar().contains(read);
    if (const std::optional<std::string> season = now ? season_.season_adi() : changes_.last_change_season(read)) {
      seasons[read] = *season;
    }
  }
  return to_json_text(seasons, JsonWriter::Layout::kCompact);
}

StepReport StepRunner::read_report(const fs::path& report_path) const {
  try {
    return read_step_report(report_path, env_).value_or(StepReport{});
  } catch (const std::runtime_error& failure) {
    // The notebook ran; a report it garbled only costs the steps below a run.
    out_.line(std::string("  [WARN] ") + failure.what());
    return StepReport{};
  }
}

ordered_json StepRunner::acceptance_records(const std::vector<std::string>& checks) const {
  ordered_json records = ordered_json::array();
  const OperatorIdentity who = operator_identity();
  for (const std::string& check : checks) {
    records.push_back({{"kontrol", check}, {"kullanici", who.user}, {"makine", who.host}, {"zaman", iso_text(env_.now())}});
  }
  return records;
}

}  // namespace vordak::motor
