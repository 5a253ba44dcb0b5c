#include "motor/runs_page.h"

#include <algorithm>

#include "core/number_text.h"
#include "core/text.h"
#include "core/version.h"
#include "motor/step_table.h"

namespace vordak::motor {

namespace {

constexpr const char* kStyle = R"(
body { font: 14px/1.4 system-ui, sans-serif; margin: 24px; color: #1d2733; background: #f6f7f9; }
h1 { font-size: 20px; margin: 0 0 4px; }
.meta { color: #5b6673; margin: 0 0 16px; }
.legend span { display: inline-block; padding: 2px 8px; margin-right: 6px; border-radius: 3px; }
.scroll { overflow-x: auto; background: #fff; border: 1px solid #d8dde3; }
table { border-collapse: collapse; font-size: 12px; }
th, td { border: 1px solid #e3e7ec; padding: 3px 6px; text-align: center; white-space: nowrap; }
th.step { text-align: left; position: sticky; left: 0; background: #fff; }
thead th { background: #eef1f4; vertical-align: bottom; }
.ok { background: #cdebd3; }
.skip { background: #e6e9ed; color: #5b6673; }
.fail { background: #f4c7c3; font-weight: 600; }
.missing { background: #fbe3b5; }
.none { color: #b4bcc5; }
tr.counts td { font-weight: 600; background: #fafbfc; }
.incomplete { color: #a05a00; }
td.noted { box-shadow: inset 0 0 0 2px #d08a00; }
#veri-kalitesi td { text-align: left; white-space: normal; }
tr.state .hata, tr.state .kesildi { background: #f4c7c3; }
tr.state .suruyor { background: #dbe8f7; }
)";

// The class of a run's state in the state row: ASCII, unlike its text.
const char* state_class(RunState state) {
  switch (state) {
    case RunState::kDone: return "tamam";
    case RunState::kFailed: return "hata";
    case RunState::kStopped: return "kesildi";
    case RunState::kRunning: return "suruyor";
  }
  return "";
}

struct Look {
  const char* css_class;
  const char* label;
};

Look look_of(StepStatus status) {
  switch (status) {
    case StepStatus::kOk: return {"ok", "OK"};
    case StepStatus::kSkipped: return {"skip", "ATLANDI"};
    case StepStatus::kFailed: return {"fail", "HATA"};
    case StepStatus::kNotebookMissing: return {"missing", "NB YOK"};
  }
  return {"none", ""};
}

// "2025-03-01T14:15:02" as "01.03 14:15", day first as Turkish dates are read.
std::string short_start(const std::string& baslangic) {
  if (baslangic.size() < 16) return baslangic;
  return baslangic.substr(8, 2) + "." + baslangic.substr(5, 2) + " " + baslangic.substr(11, 5);
}

// The table's rows: the steps in the order of a run of every step, then any other key a
// season recorded.
std::vector<std::string> step_rows(const std::vector<SeasonRecord>& seasons) {
  std::vector<std::string> rows = full_run_order();
  for (const SeasonRecord& season : seasons) {
    for (const StepOutcome& step : season.adimlar) {
      if (std::find(rows.begin(), rows.end(), step.kod) == rows.end()) rows.push_back(step.kod);
    }
  }
  return rows;
}

std::string season_title(const SeasonRecord& season) {
  std::string title = season.season + "\nmod: " + season.mode + "\ndurum: " + run_state_text(season.durum);
  if (season.bitis) title += "\nbitiş: " + *season.bitis;
  if (season.sure_dk) title += "\nsüre: " + fixed_text(*season.sure_dk, 1) + "dk";
  if (!season.has_manifest) title += "\nmanifest yok: yarım kalmış bir çalıştırma ya da tek adım";
  return title;
}

std::string cell(const StepOutcome* outcome) {
  if (outcome == nullptr) return "<td class=\"none\">·</td>";
  const Look look = look_of(outcome->durum);
  std::string title = look.label;
  if (!outcome->sure.empty()) title += " · " + outcome->sure;
  if (!outcome->sebep.empty()) title += "\n" + outcome->sebep;
  for (const std::string& note : outcome->veri_notlari) title += "\n" + note;
  const std::string css = std::string(look.css_class) + (outcome->veri_notlari.empty() ? "" : " noted");
  return "<td class=\"" + css + "\" title=\"" + html_escape(title) + "\">" + html_escape(look.label) +
         (outcome->veri_notlari.empty() ? "" : " !") + "</td>";
}

// Every data-check note of the seasons shown, newest first, readable without hovering
// and on paper.
std::string data_quality_section(const std::vector<SeasonRecord>& seasons) {
  std::string rows;
  for (const SeasonRecord& season : seasons) {
    for (const StepOutcome& step : season.adimlar) {
      for (const std::string& note : step.veri_notlari) {
        rows += "<tr><td>" + html_escape(season.season) + "</td><td>" + html_escape(step.kod) + "</td><td>" + html_escape(note) +
                "</td></tr>\n";
      }
    }
  }
  if (rows.empty()) return "";
  return "<section id=\"veri-kalitesi\">\n<h2>Veri kalitesi</h2>\n<div class=\"scroll\">\n<table>\n<thead>\n<tr><th>Season</th>"
         "<th>Adım</th><th>Not</th></tr>\n</thead>\n<tbody>\n" +
         rows + "</tbody>\n</table>\n</div>\n</section>\n";
}

}  // namespace

std::string render_runs_page(const std::vector<SeasonRecord>& seasons, std::size_t season_count,
                             const std::string& work_dir) {
  std::string html = "<!DOCTYPE html>\n<html lang=\"tr\">\n<head>\n<meta charset=\"utf-8\">\n<title>VRD Çalıştırmalar</title>\n";
  html += "<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
  html += "<h1>VRD Çalıştırmalar</h1>\n<p class=\"meta\">" + html_escape(work_dir) + " · Vordak " + kVersion + " · " +
          std::to_string(seasons.size()) + " sezon";
  if (seasons.size() < season_count) html += " (en yeni " + std::to_string(seasons.size()) + " / " + std::to_string(season_count) + ")";
  html += "</p>\n<p class=\"legend\">";
  for (const StepStatus status : {StepStatus::kOk, StepStatus::kSkipped, StepStatus::kFailed, StepStatus::kNotebookMissing}) {
    html += std::string("<span class=\"") + look_of(status).css_class + "\">" + look_of(status).label + "</span>";
  }
  html += "</p>\n";
  html += "<section id=\"runs\">\n<div class=\"scroll\">\n<table>\n<thead>\n<tr><th class=\"step\">Adım</th>";
  for (const SeasonRecord& season : seasons) {
    html += "<th title=\"" + html_escape(season_title(season)) + "\"" + (season.has_manifest ? "" : " class=\"incomplete\"") +
            ">" + html_escape(short_start(season.baslangic)) + "<br>" + html_escape(season.mode) + "</th>";
  }
  html += "</tr>\n<tr class=\"counts\"><th class=\"step\">OK / ATL / HATA / NB</th>";
  for (const SeasonRecord& season : seasons) {
    html += "<th>" + std::to_string(season.ok) + " / " + std::to_string(season.atlandi) + " / " + std::to_string(season.hata) +
            " / " + std::to_string(season.nb_yok) + "</th>";
  }
  html += "</tr>\n<tr class=\"state\"><th class=\"step\">Durum</th>";
  for (const SeasonRecord& season : seasons) {
    html += std::string("<th class=\"") + state_class(season.durum) + "\">" + run_state_text(season.durum) + "</th>";
  }
  html += "</tr>\n</thead>\n<tbody>\n";
  for (const std::string& kod : step_rows(seasons)) {
    html += "<tr><th class=\"step\">" + html_escape(kod) + "</th>";
    for (const SeasonRecord& season : seasons) html += cell(season.outcome(kod));
    html += "</tr>\n";
  }
  html += "</tbody>\n</table>\n</div>\n</section>\n" + data_quality_section(seasons) + "</body>\n</html>\n";
  return html;
}

fs::path write_runs_page(const fs::path& work_dir, Env& env) {
  RecordReader records(env);
  return write_runs_page(work_dir, env, records);
}

fs::path write_runs_page(const fs::path& work_dir, Env& env, RecordReader& records) {
  const fs::path html_dir = work_dir / "outputs" / "html";
  env.create_directories(html_dir);
  const fs::path page = html_dir / "vrd_runs.html";
  // Only the seasons shown are read: a nightly run's page costs the same after years of runs.
  const std::vector<SeasonDir> seasons = list_seasons(work_dir, env);
  const std::size_t shown = std::min<std::size_t>(seasons.size(), 60);
  std::vector<SeasonRecord> newest;
  newest.reserve(shown);
  for (std::size_t i = 0; i < shown; ++i) newest.push_back(read_season(seasons[i], env, records));
  env.write_file_atomic(page, render_runs_page(newest, seasons.size(), work_dir.string()));
  return page;
}

}  // namespace vordak::motor
