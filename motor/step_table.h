#pragma once

// The pipeline, defined once: every step with its notebook, description, kind,
// dependencies, data sources and the parameters a run hands it. The only list of steps:
// the engine, the run driver's offering, the dry-run plan, the demo's order,
// `vordak steps` and the notebook builder all read this table, and nothing else names or
// counts the steps.

#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

// How a step receives the directories of its data sources.
enum class SourceParam {
  kNone,
  kSourceDir,   // SOURCE_DIR: the one directory
  kSourceDirs,  // SOURCE_DIRS: the directories joined by ","
};

// The parameters a run hands a step beyond the engine's base parameters, in this order
// within a step's list.
enum class RunParam {
  kLogDir,             // LOG_DIR: the season's logs directory
  kReferansTarihList,  // REFERANS_TARIH_LIST: the reference dates, when any were given
  kCacheDir,           // CACHE_DIR: work_dir/db/cache
  kTestMutaCount,      // TEST_MUTA_COUNT: firm count of a reduced run (an integer)
  kModelDir,           // MODEL_DIR: work_dir/ml_models
  kScoreboardPath,     // SCOREBOARD_PATH: the scoreboard file of the output directory
  // Set by the step runner itself, for every call of the step:
  kReportPath,       // REPORT_PATH: the file in which the notebook reports what its run changed
  kStepSeasons,      // STEP_SEASONS: for each step read, the season that made its tables (JSON)
  kSourceContracts,  // SOURCE_CONTRACTS: the contracts of the sources the step loads (JSON)
  kCrossChecks,      // CROSS_CHECKS: the checks across sources (JSON)
  kAcceptedChecks,   // ACCEPTED_CHECKS: the failed checks the operator accepted for the run (JSON)
  kRejectedDir,      // REJECTED_DIR: the season's directory of rejected rows
};

// What a step does, which decides how the engine judges whether it must run.
enum class StepKind {
  kIngest,   // loads extracts; its notebook compares them with its last load itself
  kDerived,  // computes from the tables of the steps it reads
};

// The group in which a default run offers a step; kNotOffered steps run only when asked
// for by name or in a run of all steps.
enum class RunGroup { kNotOffered, kIngest, kCore, kMl, kBacktest };

struct StepDefinition {
  std::string kod;       // step key
  std::string nb;        // notebook file name
  std::string aciklama;  // description shown to the operator
  StepKind kind = StepKind::kDerived;
  // Upstream steps: a step that is otherwise up to date runs when one of these completed
  // earlier in the same run. In the order a cascade reason names them.
  std::vector<std::string> upstream;
  // The steps whose tables or files the notebook reads: in a run of every step they come
  // first. Mostly the upstream steps; the marts also read the predictions and the
  // backtests they show, and the prediction step reads no scoreboard.
  std::vector<std::string> reads;
  std::vector<std::string> data_sources;  // data-source keys, in the order they are passed
  SourceParam source_param = SourceParam::kNone;
  std::vector<RunParam> run_params;
  RunGroup group = RunGroup::kNotOffered;
  // The step publishes the output set (the marts): it is due while a publish of it was
  // cut short.
  bool publishes = false;
};

// Every step, in table order (the order `from_step` follows).
const std::vector<StepDefinition>& step_table();

// The step with this key; nullptr when there is none.
const StepDefinition* find_step(std::string_view kod);

// Dependency entries without a step of their own (never executed), as key and upstream:
// the `export` entry, kept for readers of the step table's JSON.
const std::vector<std::pair<std::string, std::vector<std::string>>>& inert_dependencies();

// The step keys in table order.
std::vector<std::string> step_keys();

// True for a step of the table that loads extracts.
bool is_ingest_step(std::string_view kod);

// Every step key in an order in which each step comes after the steps it reads: of the
// steps ready at each point, the first in table order. The demo and a run of all
// steps go in this order.
std::vector<std::string> full_run_order();

// Of `order`, the steps that read a step coming after them in it: a run offers them again
// at its end when such a step changed its outputs (the marts, after the predictions).
std::vector<std::string> offered_again(const std::vector<std::string>& order);

// The upstream steps, then the steps read that are not upstream: a step runs again when
// one of these changed its outputs after the step's own last run.
std::vector<std::string> inputs_of(const StepDefinition& definition);

// The steps a default run offers, in its order: the ingest group, transform and the
// marts, the machine-learning group, the backtest group; table order within a group.
std::vector<std::string> default_run_order();

// The parameters every executed step receives, in the order they are set; the last two
// only when they are not empty.
enum class BaseParam { kDbPath, kOutputDir, kWorkDir, kMutaFilterPath, kFileSuffix };

// DB_PATH, OUTPUT_DIR, WORK_DIR, MUTA_FILTER_PATH, FILE_SUFFIX: the names of BaseParam.
const std::vector<std::string>& base_param_names();
std::string_view base_param_name(BaseParam param);

// Every parameter a run may hand the step beyond the base ones, in order: its source
// parameter, then its run parameters.
std::vector<std::string> step_param_names(const StepDefinition& definition);

// Parameter names and operator words of the enums above.
std::string_view param_name(RunParam param);
std::string_view source_param_name(SourceParam param);  // "" for kNone
std::string_view group_name(RunGroup group);            // "" for kNotOffered

}  // namespace vordak::motor

VORDAK_PUBLIC_END
