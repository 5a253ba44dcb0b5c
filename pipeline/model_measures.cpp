#include "pipeline/model_measures.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <unordered_map>

#include "core/number_text.h"
#include "pipeline/cleaning.h"
#include "pipeline/model_metrics.h"

namespace vordak::pipeline {

namespace {

constexpr int kDecimals = 4;
constexpr std::size_t kDeciles = 10;

// The year and month of a period label ("2024-06", 202406, "2024-06-30"): its first six
// digits, as SQL compares them on the other side.
std::string year_month(std::string_view label) {
  std::string digits;
  for (char c : label) {
    if (c >= '0' && c <= '9' && digits.size() < 6) digits += c;
  }
  return digits;
}

std::string year_month_sql(std::string_view column) {
  return "left(regexp_replace(CAST(" + std::string(column) + " AS VARCHAR), '[^0-9]', '', 'g'), 6)";
}

// Per firm of fact_periodic in one period: in "YI" or not, and its exposure.
std::string firm_state_sql(const std::string& period) {
  return "SELECT TRY_CAST(entity_id AS BIGINT) AS entity_id, "
         "bool_or(coalesce(CAST(vrd_skor AS VARCHAR) IN ('YI', '-1'), false)) AS yi, "
         "sum(abs(coalesce(TRY_CAST(kombine_risk AS DOUBLE), 0))) AS risk "
         "FROM fact_periodic WHERE CAST(donem AS VARCHAR) = " + sql_literal(period) + " GROUP BY 1";
}

// One row per firm of fact_periodic in `period`: entity_id, the model's score (null when
// it has none; the highest when it has several), in "YI" now, exposure, and in "YI" in
// the next period (null when there is none or the firm is not in it).
Table period_rows(Connection& con, const ScoreSource& source, const std::vector<std::string>& periods, std::size_t p) {
  const std::string next = p + 1 < periods.size()
                               ? firm_state_sql(periods[p + 1])
                               : "SELECT NULL::BIGINT AS entity_id, NULL::BOOLEAN AS yi WHERE false";
  const std::string score_sql =
      "SELECT TRY_CAST(" + std::string(source.firm_column) + " AS BIGINT) AS entity_id, max(TRY_CAST(" +
      std::string(source.score_column) + " AS DOUBLE)) AS skor FROM " + std::string(source.table) + " WHERE " +
      year_month_sql(source.period_column) + " = " + sql_literal(year_month(periods[p])) + " GROUP BY 1";
  return con.query("WITH simdi AS (" + firm_state_sql(periods[p]) + "), sonraki AS (" + next + "), skor AS (" +
                   score_sql +
                   ") SELECT simdi.entity_id, skor.skor, simdi.yi, simdi.risk, sonraki.yi AS yi_sonraki FROM simdi "
                   "LEFT JOIN skor ON skor.entity_id = simdi.entity_id "
                   "LEFT JOIN sonraki ON sonraki.entity_id = simdi.entity_id WHERE simdi.entity_id IS NOT NULL "
                   // One order on every run: ties in the score fall into the same deciles.
                   "ORDER BY simdi.entity_id");
}

ordered_json rounded(std::optional<double> value) {
  if (!value || !std::isfinite(*value)) return nullptr;
  return round_half_even(*value, kDecimals);
}

ordered_json bins_json(const std::vector<CalibrationBin>& bins) {
  ordered_json list = ordered_json::array();
  for (const CalibrationBin& bin : bins) {
    list.push_back({{"firma", bin.firms},
                    {"yi", bin.yi},
                    {"ort_olasilik", rounded(bin.mean_probability)},
                    {"gozlenen_oran", rounded(bin.observed_rate())}});
  }
  return list;
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
std::optional<std::string> missing_source(Connection& con, const ScoreSource& source) {
  const std::string table(source.table);
  if (!con.has_table(table)) return table + " tablosu yok";
  const std::vector<std::string> columns = con.describe_columns(table);
  for (std::string_view column : {source.firm_column, source.period_column, source.score_column}) {
    if (std::find(columns.begin(), columns.end(), column) == columns.end()) {
      return table + " tablosunda " + std::string(column) + " sütunu yok";
    }
  }
  return std::nullopt;
}

ordered_json measure_model(Connection& con, const ScoreSource& source, const std::vector<std::string>& periods) {
  const std::vector<std::string> labels = score_band_labels(source.scale);
  const std::size_t yi_band = labels.size();
  const bool probability = source.scale == ScoreScale::kProbability;

  ordered_json period_list = ordered_json::array(), moves = ordered_json::array(), calibration = ordered_json::array();
  std::vector<double> pooled_scores;
  std::vector<bool> pooled_outcomes;
  // The previous scored period: its label, band distribution and each firm's band.
  std::optional<std::string> previous;
  std::vector<std::size_t> previous_distribution;
  std::unordered_map<std::int64_t, std::size_t> previous_bands;

  for (std::size_t p = 0; p < periods.size(); ++p) {
    const Table rows = period_rows(con, source, periods, p);
    const Column &firm = rows.column(0), &score = rows.column(1), &yi = rows.column(2), &risk = rows.column(3),
                 &yi_next = rows.column(4);
    std::vector<std::size_t> distribution(labels.size(), 0);
    std::vector<double> scores;
    std::vector<bool> outcomes;
    Migration migration(labels.size() + 1);
    std::unordered_map<std::int64_t, std::size_t> bands;
    for (std::size_t r = 0; r < rows.num_rows(); ++r) {
      const std::int64_t key = firm.integer(r);
      const bool in_yi = !yi.is_null(r) && yi.boolean(r);
      const std::optional<double> value = score.number(r);
      const bool scored = value && std::isfinite(*value);
      std::optional<std::size_t> band;
      if (in_yi) {
        band = yi_band;
      } else if (scored) {
        band = score_band(source.scale, *value);
        ++distribution[*band];
        if (!yi_next.is_null(r)) {
          scores.push_back(*value);
          outcomes.push_back(yi_next.boolean(r));
        }
      }
      if (!band) continue;
      bands.emplace(key, *band);
      const auto before = previous_bands.find(key);
      if (previous && before != previous_bands.end()) {
        const double exposure = risk.number(r).value_or(0.0);
        migration.add(before->second, *band, std::isfinite(exposure) ? exposure : 0.0);
      }
    }
    if (scores.empty() && std::all_of(distribution.begin(), distribution.end(), [](std::size_t n) { return n == 0; })) {
      // Not a period of this model: no measures, and no migration across it.
      previous.reset();
      previous_bands.clear();
      continue;
    }

    std::size_t scored_firms = 0, positives = 0;
    for (std::size_t n : distribution) scored_firms += n;
    for (bool outcome : outcomes) positives += outcome ? 1 : 0;
    const std::optional<double> auc = roc_auc(scores, outcomes);
    period_list.push_back({{"donem", periods[p]},
                           {"skorlu", scored_firms},
                           {"dagilim", distribution},
                           {"psi", previous ? rounded(population_stability(previous_distribution, distribution))
                                            : ordered_json(nullptr)},
                           {"n", scores.size()},
                           {"yi", positives},
                           {"auc", rounded(auc)},
                           {"gini", auc ? rounded(gini_of(*auc)) : ordered_json(nullptr)}});
    if (previous) moves.push_back(migration_json(*previous, periods[p], migration));
    if (probability && !scores.empty()) {
      calibration.push_back({{"donem", periods[p]}, {"dilimler", bins_json(calibration_bins(scores, outcomes, kDeciles))}});
      pooled_scores.insert(pooled_scores.end(), scores.begin(), scores.end());
      pooled_outcomes.insert(pooled_outcomes.end(), outcomes.begin(), outcomes.end());
    }
    previous = periods[p];
    previous_distribution = std::move(distribution);
    previous_bands = std::move(bands);
  }

  ordered_json all_labels = labels;
  all_labels.push_back(std::string(FLOW_BANDS[kYiBand]));
  ordered_json measures = {{"olcek", probability ? "olasilik" : "skor"},
                           {"bantlar", std::move(all_labels)},
                           {"donemler", std::move(period_list)},
                           {"gecisler", std::move(moves)}};
  if (probability) {
    measures["kalibrasyon"] = {{"tum_donemler", bins_json(calibration_bins(pooled_scores, pooled_outcomes, kDeciles))},
                               {"donemler", std::move(calibration)}};
  }
  return measures;
}

}  // namespace

std::vector<std::string> score_band_labels(ScoreScale scale) {
  if (scale == ScoreScale::kScore) return {FLOW_BANDS.begin(), FLOW_BANDS.begin() + kYiBand};
  std::vector<std::string> labels;
  std::string lower = "0";
  auto percent = [](double edge) { return int_text(static_cast<std::int64_t>(std::lround(edge * 100))); };
  for (double edge : PROBABILITY_BAND_EDGES) {
    labels.push_back("%" + lower + "-" + percent(edge));
    lower = percent(edge);
  }
  labels.push_back("%" + lower + "-100");
  return labels;
}

std::size_t score_band(ScoreScale scale, double score) {
  if (scale == ScoreScale::kScore) {
    const std::int8_t band = band_of_number(score);
    return band == kNoBand ? 0 : static_cast<std::size_t>(band);
  }
  std::size_t band = 0;
  while (band < PROBABILITY_BAND_EDGES.size() && score >= PROBABILITY_BAND_EDGES[band]) ++band;
  return band;
}

ordered_json build_model_measures(Connection& con, const std::vector<std::string>& periods) {
  ordered_json models = ordered_json::array();
  for (const ScoreSource& source : MODEL_SCORES) {
    ordered_json entry = {{"model", source.key},
                          {"ad", source.label},
                          {"kaynak", std::string(source.table) + "." + std::string(source.score_column)}};
    if (const std::optional<std::string> missing = missing_source(con, source)) {
      entry["eksik"] = *missing;
    } else {
      try {
        entry.update(measure_model(con, source, periods));
      } catch (const DatabaseError& error) {
        throw DatabaseError("measuring " + std::string(source.key) + " from " + std::string(source.table) + "." +
                            std::string(source.score_column) + ": " + error.what());
      }
    }
    models.push_back(std::move(entry));
  }
  return models;
}

}  // namespace vordak::pipeline
