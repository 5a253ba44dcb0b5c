#include "pipeline/cross_checks.h"

#include <algorithm>
#include <stdexcept>

#include "core/number_text.h"

namespace vordak::pipeline {

namespace {

std::string periods_only_in(const std::string& table, const std::string& other) {
  return "SELECT DISTINCT donem FROM " + sql_identifier(table) + " EXCEPT SELECT DISTINCT donem FROM " + sql_identifier(other);
}

// The periods in one table and not the other, both ways.
CheckResult period_agreement(Connection& con, const std::vector<std::string>& tables) {
  const Table rows = con.query("SELECT string_agg(CAST(donem AS VARCHAR), ', ' ORDER BY donem), count(*) FROM (" +
                               periods_only_in(tables[0], tables[1]) + " UNION " + periods_only_in(tables[1], tables[0]) + ")");
  CheckResult result;
  result.value = static_cast<double>(rows.column(1).integer(0));
  result.detail = tables[0] + " ile " + tables[1] + " dönemleri: yalnız birinde olan " +
                  (rows.column(0).is_null(0) ? std::string("yok") : std::string(rows.column(0).text(0)));
  return result;
}

// The share of the first table's firms that the second does not hold.
CheckResult firm_coverage(Connection& con, const std::vector<std::string>& tables) {
  const Table rows = con.query("SELECT count(*) FILTER (WHERE s.muta_no IS NULL), count(*) FROM (SELECT DISTINCT muta_no FROM " +
                               sql_identifier(tables[0]) + ") f LEFT JOIN (SELECT DISTINCT muta_no FROM " +
                               sql_identifier(tables[1]) + ") s USING (muta_no)");
  const std::int64_t missing = rows.column(0).integer(0);
  const std::int64_t firms = rows.column(1).integer(0);
  CheckResult result;
  result.value = firms > 0 ? static_cast<double>(missing) / static_cast<double>(firms) : 0;
  result.detail = tables[0] + " firmalarından " + std::to_string(missing) + " / " + std::to_string(firms) + " tanesi " +
                  tables[1] + " tablosunda yok";
  return result;
}

}  // namespace

std::vector<CheckResult> check_across_sources(Connection& con, const ordered_json& checks,
                                              const std::vector<std::string>& accepted) {
  std::vector<CheckResult> results;
  for (const ordered_json& check : checks) {
    const std::string name = check.at("ad").get<std::string>();
    const std::vector<std::string> tables = check.at("tablolar").get<std::vector<std::string>>();
    if (tables.size() != 2) throw std::invalid_argument("kaynaklar arası kontrol " + name + ": iki tablo gerekli");
    CheckResult result;
    if (name == "donem_uyumu") {
      result = period_agreement(con, tables);
    } else if (name == "statik_kapsami") {
      result = firm_coverage(con, tables);
    } else {
      throw std::invalid_argument("bilinmeyen kaynaklar arası kontrol: " + name);
    }
    result.name = name;
    result.threshold = check.at("esik").get<double>();
    result.blocks = check.at("engeller").get<bool>();
    if (result.value > result.threshold) {
      const bool accept = std::any_of(accepted.begin(), accepted.end(), [&](const std::string& a) { return a == name; });
      result.outcome = !result.blocks ? CheckOutcome::kWarned : accept ? CheckOutcome::kAccepted : CheckOutcome::kBlocked;
    }
    results.push_back(std::move(result));
  }
  return results;
}

}  // namespace vordak::pipeline
