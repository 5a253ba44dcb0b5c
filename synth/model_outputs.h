#pragma once

// The tables that the diagnostic, backtest and prediction steps of the pipeline leave in
// the analytic database, synthesised from a generated portfolio so that the admin
// dashboard has data without running those steps: diag_eus_kapsam_diskalma,
// backtest_eus/yis/ml, backtest_eus/yis/ml_firma, backtest_ml_tahmin, backtest_esikler,
// the extracts' scores raw_eus and raw_yis, ml_yi_tahmin and ml_yi_aciklama, and the
// model inventory: ml_model_envanter, ml_model_dogrulama and the ml_features it reads.

#include <cstdint>
#include <string>

namespace vordak::synth {

// Creates (or replaces) the tables above from fact_periodic in the database at
// `db_path`; deterministic for a given seed. Throws pipeline::DatabaseError.
void generate_model_outputs(const std::string& db_path, std::uint64_t seed);

}  // namespace vordak::synth
