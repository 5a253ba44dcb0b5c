#include "pipeline/html_render.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/text.h"
#include "pipeline/admin_lists.h"
#include "pipeline/cleaning.h"
#include "pipeline/dashboard_data.h"
#include "pipeline/edition_data.h"
#include "pipeline/html_page.h"

namespace vordak::pipeline {

namespace {

constexpr std::string_view kDataToken = "{{DATA}}";

std::string compact(const ordered_json& value) {
  return script_safe_json(to_json_text(value, JsonWriter::Layout::kCompact));
}

std::string fact(std::string_view label, const std::string& value) {
  return "<div class=\"fact\"><span class=\"label\">" + std::string(label) + "</span><span class=\"value\">" + value +
         "</span></div>";
}

// The embedded data: everything the page draws, its firm data being in the folder
// beside it; `titles` are the backtest firms' titles. "kesilen" (the entries left out of
// the admin lists) is there only when some were; "bolge" only in a region's edition.
std::string page_data(const Scoreboard& scoreboard, Edition edition, const EditionData& data, const BranchNames& names,
                      const ordered_json& extra_data, const ordered_json& titles, const ordered_json& left_out,
                      const PageContext& context) {
  ordered_json meta = ordered_json::object();
  for (const char* member : {"donemler", "son_donem"}) {
    if (scoreboard.meta.is_object() && scoreboard.meta.contains(member)) meta[member] = scoreboard.meta[member];
  }
  std::string region;
  if (!context.region.empty()) {
    const ordered_json name = names.regions.contains(context.region) ? names.regions[context.region] : ordered_json(nullptr);
    region = ",\"bolge\":" + compact({{"kod", context.region}, {"ad", name}});
  }
  return "{\"edition\":\"" + std::string(edition_key(edition)) + "\"" + region + ",\"meta\":" + compact(meta) +
         ",\"portfoy_firma\":" + std::to_string(scoreboard.rows.num_rows()) +
         ",\"firma\":" + std::to_string(data.selection.rows.size()) + ",\"kurallar\":" + compact(page_rules()) +
         ",\"unvanlar\":" + compact(titles) +
         ",\"subeler\":" + compact(names.branches) + ",\"bolgeler\":" + compact(names.regions) +
         ",\"veri\":" + compact(data.files) + ",\"kapsam\":" + compact(data.scope) + ",\"extra\":" + compact(extra_data) +
         (left_out.empty() ? std::string() : ",\"kesilen\":" + compact(left_out)) + "}";
}

// The summed risk as the header shows it: beyond 64 bits it is too large, never a wrapped
// number.
std::string total_risk_text(double total) {
  if (!fits_int64(total)) return "çok büyük (&gt; " + grouped(std::numeric_limits<std::int64_t>::max()) + " TL)";
  return grouped(static_cast<std::int64_t>(total)) + " TL";
}

std::string note_div(const std::string& sentence) { return "<div class=\"note\">" + sentence + "</div>"; }

// "Sezon: <b>S_A</b> (skorlar, teşhis); <b>S_B</b> (tahminler)": the seasons whose runs made
// the page's parts, each with the parts it made.
std::string season_parts(const StepSeasons& step_seasons) {
  static const std::map<std::string, std::string> kParts = {
      {"transform", "skorlar"},          {"diag_analysis", "teşhis"},        {"ml_predict", "tahminler"},
      {"backtest_eus", "EUS backtest"}, {"backtest_yis", "YIS backtest"}, {"backtest_ml", "ML backtest"}};
  std::vector<std::pair<std::string, std::vector<std::string>>> seasons;
  for (const auto& [step, season] : step_seasons) {
    auto found = std::find_if(seasons.begin(), seasons.end(), [&](const auto& entry) { return entry.first == season; });
    if (found == seasons.end()) found = seasons.insert(seasons.end(), {season, {}});
    const auto part = kParts.find(step);
    found->second.push_back(part == kParts.end() ? step : part->second);
  }
  std::string text = "Sezon:";
  for (std::size_t i = 0; i < seasons.size(); ++i) {
    text += std::string(i == 0 ? " " : "; ") + "<b>" + html_escape(seasons[i].first) + "</b> (" + html_escape(join(seasons[i].second, ", ")) + ")";
  }
  return text;
}

// The header line under the facts: the data's periods, when and from which database
// the page was made, and the model of its YI probabilities (each part only when known).
std::string provenance(const std::vector<std::string>& periods, const PageContext& context) {
  std::vector<std::string> parts;
  if (!periods.empty()) {
    parts.push_back("Veri dönemi: <b>" + html_escape(periods.front()) +
                    (periods.size() > 1 ? " – " + html_escape(periods.back()) : std::string()) + "</b> (" +
                    std::to_string(periods.size()) + " dönem)");
  }
  if (context.generated_at) parts.push_back("Oluşturulma: <b>" + html_escape(page_time_text(*context.generated_at)) + "</b>");
  if (!context.database.empty()) parts.push_back("Veritabanı: <b>" + html_escape(context.database) + "</b>");
  if (!context.step_seasons.empty()) parts.push_back(season_parts(context.step_seasons));
  if (!context.ml_model.empty()) parts.push_back("ML modeli: <b>" + html_escape(context.ml_model) + "</b>");
  std::string line;
  for (const std::string& part : parts) line += (line.empty() ? "" : " · ") + ("<span>" + part + "</span>");
  return line;
}

}  // namespace

std::string render_page(const Scoreboard& scoreboard, const std::filesystem::path& html_path, const BranchNames& names,
                        const EditionData& data, double max_size_mb, const ordered_json& extra_data,
                        const PageContext& context) {
  const Edition edition = edition_of(extra_data, data.filtered);
  const std::vector<std::string> periods = period_labels(scoreboard.meta);
  const std::string son_donem =
      scoreboard.meta.is_object() && scoreboard.meta.contains("son_donem") ? text_form(scoreboard.meta["son_donem"]) : "";
  const EditionRows& selection = data.selection;

  const std::string title = "VRD Erken Uyarı Panosu";
  std::string label(edition_label(edition));
  if (!context.region.empty()) {
    label += " · " + (names.regions.contains(context.region) ? text_form(names.regions[context.region]) : context.region);
  }
  const std::string facts =
      fact("Dönem", son_donem.empty() ? "–" : html_escape(son_donem)) +
      fact("Firma", grouped(static_cast<std::int64_t>(selection.rows.size()))) +
      fact("Toplam risk", total_risk_text(selection.total_risk));

  const std::size_t data_at = kDashboardTemplate.find(kDataToken);
  if (data_at == std::string_view::npos) throw std::logic_error("dashboard template lacks its data token");
  const std::string_view page_head = kDashboardTemplate.substr(0, data_at);
  const std::string page_tail = fill_template(kDashboardTemplate.substr(data_at + kDataToken.size()),
                                              {{"SCRIPT", kDashboardScript}});
  auto fill_head = [&](std::string_view note) {
    return fill_template(page_head, {{"TITLE", title},
                                     {"EDITION", html_escape(label)},
                                     {"FACTS", facts},
                                     {"PROVENANCE", provenance(periods, context)},
                                     {"NOTE", note},
                                     {"STYLE", kDashboardStyle}});
  };

  const auto cap = static_cast<std::size_t>(std::max(0.0, max_size_mb) * 1e6);
  const ordered_json nothing_left_out = ordered_json::object();
  const ordered_json titles = backtest_titles(scoreboard.rows, extra_data);
  const std::size_t page_frame = fill_head("").size() + page_tail.size();
  std::string body, list_notes;
  if (edition == Edition::kAdmin) {
    // Measured without the lists' entries, whose sizes the fitting knows: the page is
    // made once, with what it keeps.
    ordered_json shortened = extra_data;
    const ordered_json left_out =
        fit_admin_lists(shortened, scoreboard.rows, cap, [&](const ordered_json& emptied) {
          return page_frame + page_data(scoreboard, edition, data, names, emptied, titles, nothing_left_out, context).size();
        });
    if (!left_out.empty()) {
      body = page_data(scoreboard, edition, data, names, shortened, backtest_titles(scoreboard.rows, shortened), left_out,
                       context);
      for (const std::string& sentence : left_out_notes(left_out, shortened)) list_notes += note_div(sentence);
    }
  }
  if (body.empty()) body = page_data(scoreboard, edition, data, names, extra_data, titles, nothing_left_out, context);
  std::string page = fill_head(list_notes) + body + page_tail;
  if (page.size() > cap) {
    throw std::runtime_error("dashboard " + html_path.string() + " needs " + std::to_string(page.size()) +
                             " bytes, more than its limit of " + std::to_string(cap));
  }
  return page;
}

}  // namespace vordak::pipeline
