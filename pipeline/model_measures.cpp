#include "pipeline/model_measures.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <unordered_map>

#include "core/number_text.h"
#include "pipeline/calibration_tests.h"
#include "pipeline/cleaning.h"
#include "pipeline/feature_stability.h"
#include "pipeline/firm_periods.h"
#include "pipeline/flows.h"

// Members of a model's entry, after "model", "ad" and "kaynak":
//   "olcek" ("skor" or "olasilik"), "bantlar" (labels, best first, "YI" last),
//   "bant_kaynagi" (where the bands come from), "esik" (alarm threshold or null),
//   "referans" {"tur" ("donem" or "egitim"), "donem", "model_id" (ML), "auc", "aciklama"},
//   "donemler": per period with scores {"donem", "skorlu" (counted firms), "dagilim"
//     (their count per band), "psi" (against the reference), "n" and "yi" (counted firms
//     whose next period is known, and how many reached YI), "auc", "gini", "auc_alt",
//     "auc_ust" (95 % interval), "auc_p" (one-sided test against the reference AUC),
//     "sonraki_bilinmeyen", "durumu_bilinmeyen", "az_olay" (fewer than MIN_EVENTS),
//     "hhi", and for probabilities "brier", "hl" {"istatistik", "sd", "p", "isik"} and
//     "jeffreys" per band {"bant", "firma", "yi", "ort_olasilik", "gozlenen_oran", "p",
//     "alt", "ust", "yon" ("dusuk_tahmin" or "yuksek_tahmin"), "isik"}},
//   "gecisler": per pair of consecutive periods {"from", "to", "sayilar", "oranlar",
//     "risk_tl", "kotulesen", "kotulesen_risk_tl", "iyilesen", "iyilesen_risk_tl", "ayni"},
//   "havuz", "ufuklar" (per horizon, with "ay" and "donem_sayisi", or "eksik"),
//   "segmentler" (with "segment"): {"n", "yi", "auc", "auc_alt", "auc_ust", "gini", "tp",
//     "fp", "fn", "tn", "precision", "recall", "az_olay"},
//   "kalibrasyon" (probabilities) {"tum_donemler", "brier", "hl", "donemler": [{"donem",
//     "dilimler"}]}, a decile being {"firma", "yi", "ort_olasilik", "gozlenen_oran", "p",
//     "isik"},
//   "ozellik_kararliligi" (ML with a champion, see feature_stability.h).
// Ratios are rounded to 4 decimals, exposures truncated to whole TL.

namespace vordak::pipeline {

namespace {

constexpr int kDecimals = 4;

ordered_json rounded(std::optional<double> value) {
  if (!value || !std::isfinite(*value)) return nullptr;
  return round_half_even(*value, kDecimals);
}

std::optional<double> ratio(std::size_t part, std::size_t whole) {
  if (whole == 0) return std::nullopt;
  return static_cast<double>(part) / static_cast<double>(whole);
}

// A percentage as a band label shows it: at most two decimals, a decimal comma.
std::string percent_text(double share) {
  std::string text = fixed_text(share * 100, 2);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  std::replace(text.begin(), text.end(), '.', ',');
  return text;
}

ordered_json light_json(double p_value) { return std::string(light_text(light_of(p_value))); }

ordered_json jeffreys_json(std::size_t firms, std::size_t events, double mean) {
  ordered_json entry = {{"firma", firms}, {"yi", events}, {"ort_olasilik", rounded(mean)},
                        {"gozlenen_oran", rounded(ratio(events, firms))}};
  if (const std::optional<JeffreysTest> test = jeffreys_test(firms, events, mean)) {
    entry["p"] = rounded(test->p_value);
    entry["alt"] = rounded(test->lower);
    entry["ust"] = rounded(test->upper);
    entry["yon"] = test->underestimates ? "dusuk_tahmin" : "yuksek_tahmin";
    entry["isik"] = light_json(test->p_value);
  }
  return entry;
}

ordered_json deciles_json(const std::vector<CalibrationBin>& bins) {
  ordered_json list = ordered_json::array();
  for (const CalibrationBin& bin : bins) {
    ordered_json entry = jeffreys_json(bin.firms, bin.yi, bin.mean_probability);
    list.push_back({{"firma", entry["firma"]},
                    {"yi", entry["yi"]},
                    {"ort_olasilik", entry["ort_olasilik"]},
                    {"gozlenen_oran", entry["gozlenen_oran"]},
                    {"p", entry["p"]},
                    {"isik", entry["isik"]}});
  }
  return list;
}

ordered_json hosmer_lemeshow_json(const std::vector<CalibrationBin>& deciles) {
  const std::optional<HosmerLemeshow> test = hosmer_lemeshow(deciles);
  if (!test) return nullptr;
  return {{"istatistik", rounded(test->statistic)},
          {"sd", test->degrees_of_freedom},
          {"p", rounded(test->p_value)},
          {"isik", light_json(test->p_value)}};
}

// The pooled figures of one sample: AUC with its interval, and at the alarm threshold
// the outcome counts, precision and recall.
ordered_json pooled_json(const Sample& sample, const std::optional<double>& threshold) {
  const std::optional<AucEstimate> auc = sample.auc();
  ordered_json entry = {{"n", sample.size()},
                        {"yi", sample.events()},
                        {"auc", auc ? rounded(auc->auc) : ordered_json(nullptr)},
                        {"auc_alt", auc ? rounded(auc->lower()) : ordered_json(nullptr)},
                        {"auc_ust", auc ? rounded(auc->upper()) : ordered_json(nullptr)},
                        {"gini", auc ? rounded(gini_of(auc->auc)) : ordered_json(nullptr)}};
  const Confusion& counts = sample.confusion();
  for (const auto& [name, value] : {std::pair{"tp", counts.tp}, {"fp", counts.fp}, {"fn", counts.fn}, {"tn", counts.tn}}) {
    entry[name] = threshold ? ordered_json(value) : ordered_json(nullptr);
  }
  entry["precision"] = threshold ? rounded(ratio(counts.tp, counts.tp + counts.fp)) : ordered_json(nullptr);
  entry["recall"] = threshold ? rounded(ratio(counts.tp, counts.tp + counts.fn)) : ordered_json(nullptr);
  entry["az_olay"] = sample.events() < MIN_EVENTS;
  return entry;
}

ordered_json migration_json(const std::string& from, const std::string& to, const Migration& migration) {
  ordered_json counts = ordered_json::array(), rates = ordered_json::array(), exposure = ordered_json::array();
  const auto row_rates = migration.rates();
  for (std::size_t f = 0; f < migration.bands(); ++f) {
    ordered_json count_row = ordered_json::array(), rate_row = ordered_json::array(), exposure_row = ordered_json::array();
    for (std::size_t t = 0; t < migration.bands(); ++t) {
      count_row.push_back(migration.counts()[f][t]);
      rate_row.push_back(rounded(row_rates[f][t]));
      exposure_row.push_back(whole_sum(migration.exposure()[f][t]));
    }
    counts.push_back(std::move(count_row));
    rates.push_back(std::move(rate_row));
    exposure.push_back(std::move(exposure_row));
  }
  return {{"from", from},
          {"to", to},
          {"sayilar", std::move(counts)},
          {"oranlar", std::move(rates)},
          {"risk_tl", std::move(exposure)},
          {"kotulesen", migration.downgrades()},
          {"kotulesen_risk_tl", whole_sum(migration.downgrade_exposure())},
          {"iyilesen", migration.upgrades()},
          {"iyilesen_risk_tl", whole_sum(migration.upgrade_exposure())},
          {"ayni", migration.unchanged()}};
}

// Why a model cannot be measured (a missing table or column), or nothing.
std::optional<std::string> missing_source(Connection& con, const MeasuredModel& model) {
  const std::string table(model.scores.table);
  const std::string step = " (" + std::string(model.step) + " adımı)";
  if (!con.has_table(table)) return std::string(model.source) + " yok" + step;
  const std::vector<std::string> columns = con.describe_columns(table);
  for (std::string_view column : {model.scores.firm_column, model.scores.period_column, model.scores.score_column}) {
    if (std::find(columns.begin(), columns.end(), column) == columns.end()) {
      return std::string(model.source) + " okunamıyor: " + table + " tablosunda " + std::string(column) +
             " sütunu yok" + step;
    }
  }
  return std::nullopt;
}

// The alarm thresholds the backtests used, by model key.
std::unordered_map<std::string, double> alarm_thresholds(Connection& con) {
  std::unordered_map<std::string, double> thresholds;
  if (!con.has_table("backtest_esikler")) return thresholds;
  const Table rows = con.query("SELECT model, esik FROM backtest_esikler WHERE model IS NOT NULL AND esik IS NOT NULL");
  for (std::size_t i = 0; i < rows.num_rows(); ++i) {
    if (const std::optional<double> value = rows.column(1).number(i)) thresholds[cell_text_form(rows.column(0), i)] = *value;
  }
  return thresholds;
}

// What a model's stability and AUC are measured against.
struct Reference {
  ordered_json page;
  // The period the reference AUC was measured on, whose own AUC test would say nothing:
  // a period of the model's own, or the champion's validation period.
  std::optional<std::size_t> period;
  std::vector<std::size_t> distribution;
  std::optional<double> auc;
};

// The first period resting on at least MIN_EVENTS events, else the one with the most.
Reference reference_period(const ModelSamples& samples, const std::vector<std::string>& labels) {
  Reference reference;
  std::optional<std::size_t> chosen;
  std::size_t chosen_events = 0;
  for (std::size_t p = 0; p < samples.periods.size() && chosen_events < MIN_EVENTS; ++p) {
    const Sample& sample = samples.periods[p].sample;
    if (!sample.auc() || (chosen && sample.events() <= chosen_events)) continue;
    chosen = p;
    chosen_events = sample.events();
  }
  if (!chosen) {
    reference.page = {{"tur", "donem"}, {"donem", nullptr}, {"auc", nullptr},
                      {"aciklama", "Sonucu bilinen dönem yok: referans seçilemedi."}};
    return reference;
  }
  reference.period = chosen;
  reference.distribution = samples.periods[*chosen].distribution;
  reference.auc = samples.periods[*chosen].sample.auc()->auc;
  reference.page = {{"tur", "donem"}, {"donem", labels[*chosen]}, {"auc", rounded(reference.auc)},
                    {"aciklama", "Referans: en az " + std::to_string(MIN_EVENTS) +
                                     " olaylı ilk dönem (yoksa en çok olaylı dönem), " + labels[*chosen] +
                                     ". PSI bu dönemin bant dağılımına, AUC testi bu dönemin AUC’sine göre."}};
  return reference;
}

Reference training_reference(const ChampionModel& champion, const std::vector<std::string>& labels) {
  Reference reference;
  const auto validation = std::find(labels.begin(), labels.end(), champion.validation_period);
  if (validation != labels.end()) reference.period = static_cast<std::size_t>(validation - labels.begin());
  reference.distribution = champion.reference_bands;
  reference.auc = champion.validation_auc;
  reference.page = {{"tur", "egitim"}, {"donem", champion.training_window}, {"model_id", champion.id},
                    {"auc", rounded(champion.validation_auc)},
                    {"aciklama", "Referans: şampiyon model " + champion.id + " — PSI eğitim penceresinin (" +
                                     champion.training_window +
                                     ") bant dağılımına, AUC testi modelin doğrulama dönemi AUC’sine göre."}};
  return reference;
}

ordered_json period_json(const std::string& label, const PeriodSample& period, const BandScale& scale,
                         const Reference& reference, bool is_reference) {
  std::size_t counted = 0;
  for (std::size_t n : period.distribution) counted += n;
  const std::optional<AucEstimate> auc = period.sample.auc();
  ordered_json entry = {{"donem", label},
                        {"skorlu", counted},
                        {"dagilim", period.distribution},
                        {"psi", reference.distribution.empty()
                                    ? ordered_json(nullptr)
                                    : rounded(population_stability(reference.distribution, period.distribution))},
                        {"n", period.sample.size()},
                        {"yi", period.sample.events()},
                        {"auc", auc ? rounded(auc->auc) : ordered_json(nullptr)},
                        {"gini", auc ? rounded(gini_of(auc->auc)) : ordered_json(nullptr)},
                        {"auc_alt", auc ? rounded(auc->lower()) : ordered_json(nullptr)},
                        {"auc_ust", auc ? rounded(auc->upper()) : ordered_json(nullptr)},
                        {"auc_p", auc && reference.auc && !is_reference ? rounded(auc_drop_p_value(*auc, *reference.auc))
                                                                         : ordered_json(nullptr)},
                        {"sonraki_bilinmeyen", period.next_unknown},
                        {"durumu_bilinmeyen", period.state_unknown},
                        {"az_olay", period.sample.events() < MIN_EVENTS},
                        {"hhi", rounded(herfindahl_index(period.distribution))}};
  if (scale.probability) {
    entry["brier"] = period.sample.size() ? rounded(period.sample.brier()) : ordered_json(nullptr);
    entry["hl"] = hosmer_lemeshow_json(period.sample.deciles());
    ordered_json bands = ordered_json::array();
    for (std::size_t b = 0; b < period.bands.size(); ++b) {
      const BandTally& tally = period.bands[b];
      if (tally.firms == 0) continue;
      ordered_json band = {{"bant", scale.labels[b]}};
      band.update(jeffreys_json(tally.firms, tally.events, tally.score_sum / static_cast<double>(tally.firms)));
      bands.push_back(std::move(band));
    }
    entry["jeffreys"] = std::move(bands);
  }
  return entry;
}

ordered_json horizons_json(const ModelSamples& samples, const FirmPeriods& firms, const std::optional<double>& threshold) {
  ordered_json list = ordered_json::array();
  for (std::size_t k = 0; k < HORIZON_MONTHS.size(); ++k) {
    ordered_json entry = {{"ay", HORIZON_MONTHS[k]}};
    if (!firms.months_known) {
      entry["eksik"] = "Dönem etiketleri ay olarak okunamadı.";
    } else if (samples.horizons[k].size() == 0) {
      entry["eksik"] = "Veri yetmez: " + std::to_string(HORIZON_MONTHS[k]) + " ay sonrası bilinen dönem yok.";
    } else {
      entry["donem_sayisi"] = samples.horizon_periods[k];
      entry.update(pooled_json(samples.horizons[k], threshold));
    }
    list.push_back(std::move(entry));
  }
  return list;
}

ordered_json measure_model(Connection& con, const MeasuredModel& model, const FirmPeriods& firms,
                           const ModelInventory& inventory, const std::optional<double>& threshold) {
  const bool probability = model.scale == ScoreScale::kProbability;
  const ChampionModel* champion = model.key == "ml" && inventory.champion ? &*inventory.champion : nullptr;
  const BandScale scale = champion ? band_scale(model.scale, champion->band_edges)
                                   : band_scale(model.scale, {PROBABILITY_BAND_EDGES.begin(), PROBABILITY_BAND_EDGES.end()});
  const ModelScores scores = read_model_scores(con, model.scores, firms);
  const ModelSamples samples = collect_samples(firms, scores, scale, threshold);
  const std::vector<std::string>& labels = firms.periods;
  const Reference reference = champion ? training_reference(*champion, labels) : reference_period(samples, labels);

  ordered_json period_list = ordered_json::array(), moves = ordered_json::array(), calibration = ordered_json::array();
  std::optional<std::size_t> previous;
  for (std::size_t p = 0; p < labels.size(); ++p) {
    const PeriodSample& period = samples.periods[p];
    const bool measured = period.sample.size() > 0 ||
                          std::any_of(period.distribution.begin(), period.distribution.end(), [](std::size_t n) { return n > 0; });
    if (!measured) {
      previous.reset();  // not a period of this model: no migration across it
      continue;
    }
    period_list.push_back(period_json(labels[p], period, scale, reference, reference.period == p));
    if (previous) {
      Migration migration(scale.bands() + 1);
      for (std::size_t f = 0; f < firms.firms; ++f) {
        const std::int8_t from = samples.cell_bands[firms.cell(f, *previous)], to = samples.cell_bands[firms.cell(f, p)];
        if (from >= 0 && to >= 0) migration.add(static_cast<std::size_t>(from), static_cast<std::size_t>(to), firms.exposure(f, p));
      }
      moves.push_back(migration_json(labels[*previous], labels[p], migration));
    }
    if (probability && period.sample.size() > 0) {
      calibration.push_back({{"donem", labels[p]}, {"dilimler", deciles_json(period.sample.deciles())}});
    }
    previous = p;
  }

  ordered_json all_labels = scale.labels;
  all_labels.push_back(std::string(FLOW_BANDS[kYiBand]));
  ordered_json measures = {
      {"olcek", probability ? "olasilik" : "skor"},
      {"bantlar", std::move(all_labels)},
      {"bant_kaynagi", champion ? "Şampiyon modelin (" + champion->id + ") eğitim penceresindeki tahminlerinin %50, %75, %90 "
                                  "ve %97 yüzdelikleri; modelle birlikte sabitlenir."
                       : probability ? "Sabit olasılık bantları." : "Erken uyarı skorunun bantları."},
      {"esik", threshold ? ordered_json(*threshold) : ordered_json(nullptr)},
      {"referans", reference.page},
      {"donemler", std::move(period_list)},
      {"gecisler", std::move(moves)},
      {"havuz", pooled_json(samples.pooled, threshold)},
      {"ufuklar", horizons_json(samples, firms, threshold)}};
  ordered_json segments = ordered_json::array();
  for (std::size_t s = 1; s < FLOW_SEGMENTS.size(); ++s) {
    ordered_json entry = {{"segment", std::string(FLOW_SEGMENTS[s])}};
    entry.update(pooled_json(samples.segments[s], threshold));
    segments.push_back(std::move(entry));
  }
  measures["segmentler"] = std::move(segments);
  if (probability) {
    const std::vector<CalibrationBin> pooled = samples.pooled.deciles();
    measures["kalibrasyon"] = {{"tum_donemler", deciles_json(pooled)},
                               {"brier", samples.pooled.size() ? rounded(samples.pooled.brier()) : ordered_json(nullptr)},
                               {"hl", hosmer_lemeshow_json(pooled)},
                               {"donemler", std::move(calibration)}};
  }
  if (champion) measures["ozellik_kararliligi"] = feature_stability(con, *champion);
  return measures;
}

}  // namespace

BandScale band_scale(ScoreScale scale, const std::vector<double>& probability_edges) {
  BandScale bands;
  if (scale == ScoreScale::kScore) {
    bands.edges = {kBandLowEdge, kBandMidEdge, kBandHighEdge};
    bands.labels = {FLOW_BANDS.begin(), FLOW_BANDS.begin() + kYiBand};
    return bands;
  }
  bands.probability = true;
  bands.edges = probability_edges;
  std::string lower = "0";
  for (double edge : probability_edges) {
    bands.labels.push_back("%" + lower + "-" + percent_text(edge));
    lower = percent_text(edge);
  }
  bands.labels.push_back("%" + lower + "-100");
  return bands;
}

ordered_json build_model_measures(Connection& con, const Scoreboard& scoreboard, const ModelInventory& inventory,
                                  Sink& sink) {
  const FirmPeriods firms = firm_periods(scoreboard);
  const std::unordered_map<std::string, double> thresholds = alarm_thresholds(con);
  ordered_json models = ordered_json::array();
  for (const MeasuredModel& model : MODEL_SCORES) {
    ordered_json entry = {{"model", model.key}, {"ad", model.label}, {"kaynak", model.source}};
    if (const std::optional<std::string> missing = missing_source(con, model)) {
      entry["eksik"] = *missing;
      sink.line("  [MODEL] " + std::string(model.key) + ": " + *missing);
    } else {
      const auto threshold = thresholds.find(std::string(model.key));
      try {
        entry.update(measure_model(con, model, firms, inventory,
                                   threshold == thresholds.end() ? std::nullopt : std::optional(threshold->second)));
      } catch (const DatabaseError& error) {
        throw DatabaseError("measuring " + std::string(model.key) + " from " + std::string(model.scores.table) + "." +
                            std::string(model.scores.score_column) + ": " + error.what());
      }
      sink.line("  [MODEL] " + std::string(model.key) + ": " + std::to_string(entry["donemler"].size()) +
                " dönem ölçüldü" + (entry.contains("ozellik_kararliligi") ? ", özellik kararlılığı ile" : ""));
    }
    models.push_back(std::move(entry));
  }
  return models;
}

}  // namespace vordak::pipeline
