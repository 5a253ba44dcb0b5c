#include "pipeline/edition_data.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <set>

#include "core/helper_thread.h"
#include "core/number_text.h"
#include "pipeline/cleaning.h"
#include "pipeline/dashboard_data.h"
#include "pipeline/data_script.h"
#include "pipeline/enrichment.h"
#include "pipeline/flows.h"
#include "pipeline/firm_records.h"
#include "pipeline/ranking.h"
#include "pipeline/search_index.h"
#include "pipeline/watch_rules.h"

namespace vordak::pipeline {

namespace {

// The firm table shows the scores of this many latest periods (and the flow matrix
// fewer): they are the periods with a score column.
constexpr std::size_t kTablePeriods = 12;
// Scores in a score column: "YI" above every score, no score below every one.
constexpr std::int16_t kYiScore = 32767;
constexpr std::int16_t kNoScore = -32768;

// The codes of a member present among the edition's rows (sorted), each place's as a
// number: 1 + its place among them, 0 for none.
struct CodeList {
  std::vector<std::string> codes;
  std::vector<std::uint16_t> of_place;

  CodeList(const CodeIndex& index, const std::vector<std::size_t>& rows) {
    std::vector<std::uint32_t> renumber(index.codes.size() + 1, 0);
    for (const std::size_t row : rows) renumber[index.of_row[row]] = 1;
    renumber[0] = 0;
    for (std::size_t c = 1; c < renumber.size(); ++c) {
      if (renumber[c] == 0) continue;
      codes.push_back(index.codes[c - 1]);
      renumber[c] = static_cast<std::uint32_t>(codes.size());
    }
    if (codes.size() >= std::numeric_limits<std::uint16_t>::max()) {
      throw std::runtime_error("dashboard: more than 65534 regions, branches or segments");
    }
    of_place.resize(rows.size());
    for (std::size_t k = 0; k < rows.size(); ++k) of_place[k] = static_cast<std::uint16_t>(renumber[index.of_row[rows[k]]]);
  }
};

template <class T>
std::string bytes_of(const std::vector<T>& values) {
  std::string bytes(values.size() * sizeof(T), '\0');
  if (!values.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

std::int16_t score_cell(const Column* column, std::size_t row) {
  if (column == nullptr) return kNoScore;
  const StoredScore stored = read_score(*column, row);
  if (stored.kind == StoredScore::kYi) return kYiScore;
  if (stored.kind == StoredScore::kNone || std::isnan(stored.number)) return kNoScore;
  return static_cast<std::int16_t>(std::clamp(std::floor(stored.number), -32767.0, 32766.0));
}

float float_cell(const Column* column, std::size_t row) {
  const std::optional<double> value = column == nullptr ? std::nullopt : column->number(row);
  return value && std::isfinite(*value) ? static_cast<float>(*value) : std::numeric_limits<float>::quiet_NaN();
}

// The scopes a filter of the page can choose: every region, every branch, and for a
// branch whose firms lie in several regions its part in each of them. Group 0 is all
// the edition's rows; the others follow in that order. The groupings are by row of the
// scoreboard (`table_rows` of them), the edition's rows being `rows`.
struct Scopes {
  std::size_t groups = 1;
  Groupings groupings;
  ordered_json index = ordered_json::object();  // the page's "kapsamlar"

  Scopes(const CodeList& regions, const CodeList& branches, const std::vector<std::size_t>& rows, std::size_t table_rows) {
    const std::size_t count = rows.size();
    std::vector<std::uint32_t> all(table_rows, kNoGroup), region_group(table_rows, kNoGroup),
        branch_group(table_rows, kNoGroup), pair_group(table_rows, kNoGroup);
    std::vector<std::set<std::uint16_t>> regions_of_branch(branches.codes.size() + 1);
    for (std::size_t k = 0; k < count; ++k) regions_of_branch[branches.of_place[k]].insert(regions.of_place[k]);
    ordered_json region_index = ordered_json::object(), branch_index = ordered_json::object(),
                 pair_index = ordered_json::object();
    for (std::size_t r = 0; r < regions.codes.size(); ++r) region_index[regions.codes[r]] = groups + r;
    groups += regions.codes.size();
    for (std::size_t b = 0; b < branches.codes.size(); ++b) {
      const std::set<std::uint16_t>& in = regions_of_branch[b + 1];
      ordered_json region = in.size() == 1 && *in.begin() != 0 ? ordered_json(regions.codes[*in.begin() - 1]) : nullptr;
      branch_index[branches.codes[b]] = {{"id", groups + b}, {"bolge", std::move(region)}};
    }
    const std::size_t branch_base = groups;
    groups += branches.codes.size();
    std::map<std::pair<std::uint16_t, std::uint16_t>, std::uint32_t> pairs;
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t row = rows[k];
      const std::uint16_t region = regions.of_place[k], branch = branches.of_place[k];
      all[row] = 0;
      if (region != 0) region_group[row] = static_cast<std::uint32_t>(region);
      if (branch == 0) continue;
      branch_group[row] = static_cast<std::uint32_t>(branch_base + branch - 1);
      if (region == 0 || regions_of_branch[branch].size() < 2) continue;
      const auto [at, added] = pairs.try_emplace({region, branch}, static_cast<std::uint32_t>(groups));
      if (added) {
        pair_index[regions.codes[region - 1] + "|" + branches.codes[branch - 1]] = groups;
        ++groups;
      }
      pair_group[row] = at->second;
    }
    groupings = {std::move(all), std::move(region_group), std::move(branch_group), std::move(pair_group)};
    index = {{"bolge", std::move(region_index)}, {"sube", std::move(branch_index)}, {"cift", std::move(pair_index)}};
  }
};

// Counts of every group: firms, summed current risk, firms on each list and on any.
std::vector<ordered_json> scope_counts(const Table& table, const FirmFacts& facts, const Scopes& scopes) {
  const Column* son_risk = table.find("son_risk");
  const std::size_t groups = scopes.groups;
  std::vector<std::size_t> firms(groups, 0), any(groups, 0);
  std::vector<double> risk(groups, 0.0);
  std::vector<std::array<std::size_t, TRENDING_KEYS.size()>> listed(groups);
  for (const std::vector<std::uint32_t>& grouping : scopes.groupings) {
    for (std::size_t row = 0; row < grouping.size(); ++row) {
      const std::uint32_t group = grouping[row];
      if (group == kNoGroup) continue;
      ++firms[group];
      risk[group] += son_risk == nullptr ? 0.0 : risk_key(*son_risk, row).value_or(0.0);
      const std::uint8_t bits = facts.current[row];
      if (bits != 0) ++any[group];
      for (std::size_t l = 0; l < TRENDING_KEYS.size(); ++l) listed[group][l] += (bits >> l) & 1u;
    }
  }
  std::vector<ordered_json> records(groups, ordered_json::object());
  for (std::size_t g = 0; g < groups; ++g) {
    ordered_json counts = ordered_json::object();
    for (std::size_t l = 0; l < TRENDING_FLAGS.size(); ++l) counts[std::string(TRENDING_FLAGS[l].second)] = listed[g][l];
    counts["herhangi"] = any[g];
    records[g]["firma"] = firms[g];
    records[g]["toplam_risk"] = std::isfinite(risk[g]) ? static_cast<std::int64_t>(std::trunc(risk[g])) : 0;
    records[g]["liste_sayilari"] = std::move(counts);
  }
  return records;
}

// Adds the band snapshot and the flow matrix of every group to its record; rows without
// "segment" give empty charts.
void add_charts(const Scoreboard& scoreboard, const FirmFacts& facts, const Scopes& scopes, bool any_rows,
                std::vector<ordered_json>& records) {
  if (scoreboard.rows.find("segment") == nullptr && any_rows) {
    for (ordered_json& record : records) {
      record["band_snapshot"] = ordered_json::object();
      record["flow_matrix"] = ordered_json::object();
    }
    return;
  }
  std::vector<ordered_json> bands = band_snapshots_by_group(scoreboard, scopes.groupings, scopes.groups, facts.bands);
  std::vector<ordered_json> flows = flow_matrices_by_group(scoreboard, scopes.groupings, scopes.groups, facts.bands);
  for (std::size_t g = 0; g < scopes.groups; ++g) {
    records[g]["band_snapshot"] = std::move(bands[g]);
    records[g]["flow_matrix"] = std::move(flows[g]);
  }
}

std::string payload_text(const ordered_json& document) { return to_json_text(document, JsonWriter::Layout::kCompact); }

}  // namespace

EditionData write_edition_data(const Scoreboard& scoreboard, const RowFilter& row_filter, const FirmFacts& facts,
                               const PageContext& context, const DataFolder& folder) {
  const Table& table = scoreboard.rows;
  EditionData data;
  data.filtered = static_cast<bool>(row_filter);
  data.selection = edition_rows(table, row_filter);
  const std::vector<std::size_t>& rows = data.selection.rows;
  const std::vector<std::string> periods = period_labels(scoreboard.meta);

  const CodeList segments(facts.segments, rows);
  const CodeList regions(facts.regions, rows);
  const CodeList branches(facts.branches, rows);
  const Scopes scopes(regions, branches, rows, table.num_rows());

  // Counts and charts of every scope. An edition of every row shows the scoreboard's
  // own charts, which are the same.
  std::vector<ordered_json> records = scope_counts(table, facts, scopes);
  add_charts(scoreboard, facts, scopes, !rows.empty(), records);
  const ordered_json& extra = scoreboard.extra;
  if (!row_filter && extra.contains("band_snapshot") && extra.contains("flow_matrix")) {
    records[0]["band_snapshot"] = extra["band_snapshot"];
    records[0]["flow_matrix"] = extra["flow_matrix"];
  }
  data.scope = std::move(records[0]);

  // The score columns: the latest periods that have scores.
  std::vector<std::string> score_periods;
  for (std::size_t p = periods.size() > kTablePeriods ? periods.size() - kTablePeriods : 0; p < periods.size(); ++p) {
    if (table.find("vrd" + periods[p]) != nullptr) score_periods.push_back(periods[p]);
  }
  const Column* change = periods.size() >= 2 ? table.find("df" + periods[periods.size() - 2]) : nullptr;
  const Column* probability = table.find("_ml_yi_prob");

  const FirmRecords firm_records(scoreboard, facts, context);
  const std::vector<SearchFile> search = build_search_index(facts, rows, folder.search_places_per_file);
  const std::size_t firm_files = (rows.size() + folder.firms_per_file - 1) / folder.firms_per_file;

  // The files are made and written on two threads; `json` makes a JSON file's text,
  // `binary` a binary file's bytes.
  std::vector<std::function<void()>> tasks;
  auto file = [&](std::string name, std::function<std::string()> json) {
    tasks.push_back([&folder, name = std::move(name), json = std::move(json)] {
      folder.write(name + ".js", data_script(name, json()));
    });
  };
  auto binary_file = [&](std::string name, std::function<std::string()> bytes) {
    tasks.push_back([&folder, name = std::move(name), bytes = std::move(bytes)] {
      folder.write(name + ".js", binary_data_script(name, bytes()));
    });
  };
  for (std::size_t f = 0; f < firm_files; ++f) {
    for (const auto& [prefix, part] : {std::pair{"f-", RecordPart::kTable}, std::pair{"g-", RecordPart::kPanel}}) {
      file(prefix + std::to_string(f), [&, f, part = part] {
        const std::size_t begin = f * folder.firms_per_file;
        return firm_records.array(rows, begin, std::min(rows.size(), begin + folder.firms_per_file), part);
      });
    }
  }
  ordered_json column_types = ordered_json::object();
  auto column = [&](const std::string& name, const char* type, auto make) {
    column_types[name] = type;
    binary_file("c-" + name, [make] { return bytes_of(make()); });
  };
  column("segment", "u16", [&] { return segments.of_place; });
  column("bolge", "u16", [&] { return regions.of_place; });
  column("sube", "u16", [&] { return branches.of_place; });
  column("liste", "u8", [&] {
    std::vector<std::uint8_t> bits(rows.size());
    for (std::size_t k = 0; k < rows.size(); ++k) bits[k] = facts.current[rows[k]];
    return bits;
  });
  for (const std::string& period : score_periods) {
    column("vrd" + period, "i16", [&, scores = table.find("vrd" + period)] {
      std::vector<std::int16_t> values(rows.size());
      for (std::size_t k = 0; k < rows.size(); ++k) values[k] = score_cell(scores, rows[k]);
      return values;
    });
  }
  for (const auto& [name, source] : {std::pair{"degisim", change}, std::pair{"olasilik", probability}}) {
    column(name, "f32", [&, source = source] {
      std::vector<float> values(rows.size());
      for (std::size_t k = 0; k < rows.size(); ++k) values[k] = float_cell(source, rows[k]);
      return values;
    });
  }
  for (const auto& [name, ranks] : {std::pair{"unvan", &facts.title_rank}, std::pair{"muta", &facts.key_rank}}) {
    column(name, "u32", [&, ranks = ranks] {
      std::vector<std::uint32_t> values(rows.size());
      for (std::size_t k = 0; k < rows.size(); ++k) values[k] = (*ranks)[rows[k]];
      return values;
    });
  }

  // The lists, each in its order, as places of this edition.
  std::vector<std::uint32_t> place_of(table.num_rows(), kNotListed);
  for (std::size_t k = 0; k < rows.size(); ++k) place_of[rows[k]] = static_cast<std::uint32_t>(k);
  ordered_json list_counts = ordered_json::array();
  for (std::size_t l = 0; l < facts.lists.size(); ++l) {
    std::vector<std::int32_t> places;
    for (const WatchEntry& entry : facts.lists[l]) {
      if (place_of[entry.row] != kNotListed) places.push_back(static_cast<std::int32_t>(place_of[entry.row]));
    }
    list_counts.push_back(places.size());
    binary_file("l-" + std::to_string(l), [places = std::move(places)] { return bytes_of(places); });
  }
  for (std::size_t g = 1; g < scopes.groups; ++g) {
    file("k-" + std::to_string(g), [&, g] { return payload_text(records[g]); });
  }
  ordered_json first_words = ordered_json::array();
  for (std::size_t s = 0; s < search.size(); ++s) {
    first_words.push_back(search[s].first_word);
    file("a-" + std::to_string(s), [&, s] { return search[s].payload; });
  }

  on_two_threads(tasks.size(), [&](std::size_t i) { tasks[i](); });

  data.files = {{"klasor", folder.href},
                {"dosya_basina", folder.firms_per_file},
                {"firma_dosyasi", firm_files},
                {"alanlar", firm_records.fields(RecordPart::kTable)},
                {"panel_alanlari", firm_records.fields(RecordPart::kPanel)},
                {"sutunlar", std::move(column_types)},
                {"skor_donemleri", score_periods},
                {"segmentler", segments.codes},
                {"bolge_kodlari", regions.codes},
                {"sube_kodlari", branches.codes},
                {"listeler", std::move(list_counts)},
                {"arama", std::move(first_words)},
                {"kapsamlar", std::move(scopes.index)}};
  return data;
}

}  // namespace vordak::pipeline
