#include "pipeline/model_inventory.h"

#include <cmath>
#include <exception>

#include "core/number_text.h"
#include "pipeline/auc_delong.h"

namespace vordak::pipeline {

namespace {

constexpr int kDecimals = 4;

ordered_json rounded(const std::optional<double>& value) {
  if (!value || !std::isfinite(*value)) return nullptr;
  return round_half_even(*value, kDecimals);
}

std::string text_of(const Column& column, std::size_t row) {
  return column.is_null(row) || column.kind() != ColumnKind::kText ? std::string() : std::string(column.text(row));
}

ordered_json parsed(const Column& column, std::size_t row) {
  const std::string text = text_of(column, row);
  return text.empty() ? ordered_json(nullptr) : ordered_json::parse(text);
}

ChampionModel champion_of(const Table& rows, std::size_t row) {
  ChampionModel model;
  model.id = text_of(rows.column("model_id"), row);
  model.training_window = text_of(rows.column("egitim_baslangic"), row) + " – " + text_of(rows.column("egitim_bitis"), row);
  model.band_edges = parsed(rows.column("bant_sinirlari"), row).get<std::vector<double>>();
  model.reference_bands = parsed(rows.column("bant_referans"), row).get<std::vector<std::size_t>>();
  if (model.reference_bands.size() != model.band_edges.size() + 1) {
    throw std::runtime_error("bant_referans holds " + std::to_string(model.reference_bands.size()) + " counts for " +
                             std::to_string(model.band_edges.size() + 1) + " bands");
  }
  model.validation_period = text_of(rows.column("dogrulama_donemi"), row);
  model.validation_auc = rows.column("dogrulama_auc").number(row);
  const ordered_json features = parsed(rows.column("ozellik_referans"), row);
  for (const auto& [name, reference] : features.items()) {
    model.features.push_back({name, reference.at("sinirlar").get<std::vector<double>>(),
                              reference.at("sayilar").get<std::vector<std::size_t>>()});
    if (model.features.back().counts.size() != model.features.back().edges.size() + 1) {
      throw std::runtime_error("ozellik_referans of " + name + " holds a count per bin it does not have");
    }
  }
  return model;
}

ordered_json model_entry(const Table& rows, std::size_t row) {
  const ordered_json features = parsed(rows.column("ozellikler"), row);
  return {{"model_id", text_of(rows.column("model_id"), row)},
          {"tur", text_of(rows.column("tur"), row)},
          {"rol", text_of(rows.column("rol"), row)},
          {"egitim_zamani", text_of(rows.column("egitim_zamani"), row)},
          {"egitim_penceresi", text_of(rows.column("egitim_baslangic"), row) + " – " + text_of(rows.column("egitim_bitis"), row)},
          {"dogrulama_donemi", text_of(rows.column("dogrulama_donemi"), row)},
          {"veri_hash", text_of(rows.column("veri_hash"), row)},
          {"satir", rows.column("satir").to_json(row)},
          {"pozitif", rows.column("pozitif").to_json(row)},
          {"ozellikler", features.is_array() ? features : ordered_json::array()},
          {"parametreler", parsed(rows.column("parametreler"), row)},
          {"dogrulama", {{"n", rows.column("dogrulama_n").to_json(row)},
                         {"yi", rows.column("dogrulama_yi").to_json(row)},
                         {"auc", rounded(rows.column("dogrulama_auc").number(row))},
                         {"brier", rounded(rows.column("dogrulama_brier").number(row))}}}};
}

ordered_json auc_json(const AucEstimate& estimate) {
  return {{"auc", rounded(estimate.auc)}, {"alt", rounded(estimate.lower())}, {"ust", rounded(estimate.upper())}};
}

// DeLong's paired test of the champion against the challenger on the firms both scored
// in the validation period; null when the predictions are missing or one class is too
// small to test.
ordered_json comparison(Connection& con, const std::string& champion, const std::string& challenger,
                        std::optional<double>& champion_auc) {
  if (!con.has_table("ml_model_dogrulama")) return nullptr;
  const Table rows = con.query(
      "SELECT s.yi_prob AS sampiyon, r.yi_prob AS rakip, s.hedef_yi, s.donem FROM ml_model_dogrulama s JOIN ml_model_dogrulama r "
      "ON r.entity_id = s.entity_id AND r.donem = s.donem WHERE s.model_id = " + sql_literal(champion) +
      " AND r.model_id = " + sql_literal(challenger) +
      " AND s.yi_prob IS NOT NULL AND r.yi_prob IS NOT NULL AND s.hedef_yi IS NOT NULL ORDER BY s.entity_id");
  std::vector<double> first, second;
  std::vector<bool> outcomes;
  for (std::size_t i = 0; i < rows.num_rows(); ++i) {
    first.push_back(rows.column(0).number(i).value_or(NAN));
    second.push_back(rows.column(1).number(i).value_or(NAN));
    outcomes.push_back(rows.column(2).number(i).value_or(0) != 0);
  }
  const std::optional<AucComparison> test = delong_compare(first, second, outcomes);
  if (!test) return nullptr;
  champion_auc = test->first.auc;
  return {{"sampiyon", champion},
          {"rakip", challenger},
          {"donem", rows.empty() ? ordered_json(nullptr) : rows.column(3).to_json(0)},
          {"n", outcomes.size()},
          {"yi", test->first.positives},
          {"sampiyon_auc", auc_json(test->first)},
          {"rakip_auc", auc_json(test->second)},
          {"fark", rounded(test->difference)},
          {"standart_hata", rounded(test->standard_error)},
          {"p", rounded(test->p_value)}};
}

}  // namespace

ModelInventory read_model_inventory(Connection& con) {
  ModelInventory inventory;
  if (!con.has_table("ml_model_envanter")) {
    inventory.page = {{"eksik", "Model envanteri yok: ml_train adımı henüz model eğitmedi."}};
    return inventory;
  }
  const Table rows = con.query("SELECT * FROM ml_model_envanter ORDER BY egitim_zamani DESC, rol = 'sampiyon' DESC, model_id");
  ordered_json models = ordered_json::array();
  std::optional<std::size_t> champion_row;
  std::string challenger;
  std::string unreadable;
  for (std::size_t row = 0; row < rows.num_rows(); ++row) {
    try {
      models.push_back(model_entry(rows, row));
      const std::string role = text_of(rows.column("rol"), row);
      if (role == "sampiyon" && !champion_row) champion_row = row;
      if (role == "rakip" && challenger.empty()) challenger = text_of(rows.column("model_id"), row);
    } catch (const std::exception& error) {
      unreadable = text_of(rows.column("model_id"), row) + ": " + error.what();
    }
  }
  inventory.page = {{"modeller", std::move(models)}, {"sampiyon", nullptr}, {"karsilastirma", nullptr}};
  if (champion_row) {
    try {
      inventory.champion = champion_of(rows, *champion_row);
      inventory.page["sampiyon"] = inventory.champion->id;
    } catch (const std::exception& error) {
      unreadable = text_of(rows.column("model_id"), *champion_row) + ": " + error.what();
    }
  }
  if (inventory.champion && !challenger.empty()) {
    inventory.page["karsilastirma"] =
        comparison(con, inventory.champion->id, challenger, inventory.champion->validation_auc);
  }
  if (!unreadable.empty()) inventory.page["eksik"] = "Envanter kaydı okunamadı (" + unreadable + ").";
  return inventory;
}

}  // namespace vordak::pipeline
