// `vordak history`: the runs of a working directory, newest first, read from their
// seasons; with a step key, that step's outcomes over the runs.

#include <algorithm>
#include <limits>

#include "cli/commands.h"
#include "core/json_writer.h"
#include "core/number_text.h"
#include "core/sink.h"
#include "core/text.h"
#include "motor/history.h"
#include "motor/layout.h"

namespace vordak::cli {

namespace {

using motor::SeasonRecord;
using motor::StepOutcome;

// "2025-03-01T14:15:02" as "2025-03-01 14:15:02".
std::string start_text(const std::string& baslangic) {
  std::string text = baslangic;
  std::replace(text.begin(), text.end(), 'T', ' ');
  return text;
}

ordered_json season_json(const SeasonRecord& season) {
  ordered_json item = ordered_json::object();
  item["season"] = season.season;
  item["baslangic"] = season.baslangic;
  item["mode"] = season.mode;
  item["manifest"] = season.has_manifest;
  item["sure_dk"] = season.sure_dk ? ordered_json(*season.sure_dk) : ordered_json(nullptr);
  item["ok"] = season.ok;
  item["atlandi"] = season.atlandi;
  item["hata"] = season.hata;
  item["nb_yok"] = season.nb_yok;
  item["basarisiz"] = season.failed_steps();
  item["durum"] = motor::run_state_text(season.durum);
  item["exit"] = season.exit ? ordered_json(*season.exit) : ordered_json(nullptr);
  item["bitis"] = season.bitis ? ordered_json(*season.bitis) : ordered_json(nullptr);
  item["baslangic_iso"] = season.baslangic_iso;
  item["sira"] = season.sira ? ordered_json(*season.sira) : ordered_json(nullptr);
  return item;
}

void print_seasons(const std::vector<SeasonRecord>& seasons, Sink& out) {
  out.line("  " + pad_right("Season", 30) + " " + pad_right("Başlangıç", 19) + " " + pad_right("Mod", 6) + " " +
           pad_left("Süre", 7) + " " + pad_left("OK", 4) + " " + pad_left("ATLANDI", 7) + " " + pad_left("HATA", 4) + " " +
           pad_left("NB YOK", 6) + "  " + pad_right("Durum", 8) + " Başarısız");
  for (const SeasonRecord& season : seasons) {
    const std::vector<std::string> failed = season.failed_steps();
    const std::string sure = season.sure_dk ? fixed_text(*season.sure_dk, 1) + "dk" : "-";
    std::string note = failed.empty() ? "-" : join(failed, ",");
    if (!season.has_manifest) note = "(manifest yok)";
    out.line("  " + pad_right(season.season, 30) + " " + start_text(season.baslangic) + " " + pad_right(season.mode, 6) + " " +
             pad_left(sure, 7) + " " + pad_left(std::to_string(season.ok), 4) + " " +
             pad_left(std::to_string(season.atlandi), 7) + " " + pad_left(std::to_string(season.hata), 4) + " " +
             pad_left(std::to_string(season.nb_yok), 6) + "  " + pad_right(motor::run_state_text(season.durum), 8) + " " + note);
  }
}

ordered_json step_json(const SeasonRecord& season, const StepOutcome& step) {
  ordered_json item = ordered_json::object();
  item["season"] = season.season;
  item["baslangic"] = season.baslangic;
  item["mode"] = season.mode;
  item["durum"] = motor::summary_status_text(step.durum);
  item["sure"] = step.sure.empty() ? ordered_json(nullptr) : ordered_json(step.sure);
  item["sebep"] = step.sebep.empty() ? ordered_json(nullptr) : ordered_json(step.sebep);
  item["baslangic_iso"] = season.baslangic_iso;
  return item;
}

int history_command(const ParsedArgs& args) {
  const std::string work_dir = existing_work_dir(args);
  std::size_t last = std::numeric_limits<std::size_t>::max();
  if (const auto text = args.value("last")) {
    const long long value = integer_value("last", *text);
    if (value < 1) throw UsageError("--last must be at least 1");
    last = static_cast<std::size_t>(value);
  }
  // Warnings go to standard error, so that the table and the JSON stay whole for scripts.
  std::vector<SeasonRecord> seasons = motor::read_history(work_dir, Env::system(), stderr_sink());
  Sink& out = stdout_sink();
  const bool json = args.flag("json");

  if (args.positionals().empty()) {
    if (seasons.size() > last) seasons.resize(last);
    if (json) {
      ordered_json list = ordered_json::array();
      for (const SeasonRecord& season : seasons) list.push_back(season_json(season));
      out.line(to_json_text(list, JsonWriter::Layout::kIndented));
    } else if (seasons.empty()) {
      out.line("  Season yok: " + motor::seasons_dir(work_dir).string());
    } else {
      print_seasons(seasons, out);
    }
    return 0;
  }

  const std::string kod = args.positionals().front();
  std::vector<std::pair<const SeasonRecord*, const StepOutcome*>> rows;
  for (const SeasonRecord& season : seasons) {
    if (rows.size() == last) break;
    if (const StepOutcome* step = season.outcome(kod)) rows.emplace_back(&season, step);
  }
  // A key that no season recorded must at least be a step: a misspelt one lists them.
  if (rows.empty()) require_registered("", kod);
  if (json) {
    ordered_json list = ordered_json::array();
    for (const auto& [season, step] : rows) list.push_back(step_json(*season, *step));
    out.line(to_json_text(list, JsonWriter::Layout::kIndented));
    return 0;
  }
  if (rows.empty()) {
    out.line("  " + kod + ": hiçbir season'da kaydı yok");
    return 0;
  }
  out.line("  " + pad_right("Season", 30) + " " + pad_right("Başlangıç", 19) + " " + pad_right("Durum", 7) + " " +
           pad_left("Süre", 6) + "  Sebep");
  for (const auto& [season, step] : rows) {
    out.line("  " + pad_right(season->season, 30) + " " + start_text(season->baslangic) + " " +
             pad_right(motor::summary_status_text(step->durum), 7) + " " + pad_left(step->sure.empty() ? "-" : step->sure, 6) +
             "  " + utf8_prefix(step->sebep.substr(0, step->sebep.find('\n')), 100));
  }
  return 0;
}

const RegisterTool kHistory({{"history", "[STEP]", 0, 1,
                              "Lists the runs of a working directory, newest first; with STEP, that step's outcomes.",
                              {{"work-dir", Option::Kind::kValue, "DIR", "working directory (default .)"},
                               {"last", Option::Kind::kValue, "N", "only the newest N runs"},
                               {"json", Option::Kind::kFlag, "", "print JSON instead of a table"}}},
                             history_command});

}  // namespace

}  // namespace vordak::cli
