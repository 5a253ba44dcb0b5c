#include "motor/registry.h"

#include "motor/step_table.h"

namespace vordak::motor {

namespace {

OrderedTable<std::vector<std::string>> build_dependencies() {
  std::vector<std::pair<std::string, std::vector<std::string>>> entries;
  for (const StepDefinition& definition : step_table()) entries.emplace_back(definition.kod, definition.upstream);
  for (const auto& entry : inert_dependencies()) entries.push_back(entry);
  return OrderedTable<std::vector<std::string>>(std::move(entries));
}

OrderedTable<AdimKaydi> build_registry() {
  std::vector<std::pair<std::string, AdimKaydi>> entries;
  for (const StepDefinition& definition : step_table()) entries.push_back({definition.kod, {definition.nb, definition.aciklama}});
  return OrderedTable<AdimKaydi>(std::move(entries));
}

std::vector<std::string> collect_ingest_steps() {
  std::vector<std::string> keys;
  for (const auto& [key, record] : ADIM_REGISTRY) {
    if (is_ingest_step(key)) keys.push_back(key);
  }
  return keys;
}

}  // namespace

// Declared in this order on purpose: the ingest list is derived from the registry.
const OrderedTable<std::vector<std::string>> BAGIMLILIK = build_dependencies();
const OrderedTable<AdimKaydi> ADIM_REGISTRY = build_registry();
const std::vector<std::string> ALL_INGEST_STEPS = collect_ingest_steps();

bool is_ingest_step(std::string_view kod) { return kod.starts_with("ingest_"); }

std::vector<std::string> registry_keys() {
  std::vector<std::string> keys;
  for (const auto& [key, record] : ADIM_REGISTRY) keys.push_back(key);
  return keys;
}

}  // namespace vordak::motor
