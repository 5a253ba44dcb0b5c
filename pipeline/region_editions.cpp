#include "pipeline/region_editions.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "pipeline/cleaning.h"
#include "pipeline/dashboard_data.h"
#include "pipeline/firm_facts.h"

namespace vordak::pipeline {

namespace {

std::string file_part(const std::string& code) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string part;
  for (const char c : code) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (plain) {
      part += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      part += '~';
      part += kHex[byte >> 4];
      part += kHex[byte & 15];
    }
  }
  return part;
}

}  // namespace

std::filesystem::path region_page(const std::filesystem::path& html_dir, const std::string& code,
                                  const std::string& file_suffix) {
  return html_dir / ("vrd_dashboard_bolge_" + file_part(code) + file_suffix + ".html");
}

std::filesystem::path region_index_page(const std::filesystem::path& html_dir, const std::string& file_suffix) {
  return html_dir / ("vrd_dashboard_bolgeler" + file_suffix + ".html");
}

RowFilter region_filter(RowFilter manager, std::string code) {
  return [manager = std::move(manager), code = std::move(code)](const Table& rows, std::size_t row) {
    const Column* region = rows.find("bolge_kodu");
    if (region == nullptr || region->is_null(row)) return false;
    const std::string text = region->kind() == ColumnKind::kText ? std::string(region->text(row)) : cell_text_form(*region, row);
    return text == code && manager(rows, row);
  };
}

std::string render_region_index(const std::vector<RegionEdition>& regions, const PageContext& context) {
  std::vector<const RegionEdition*> sorted;
  for (const RegionEdition& region : regions) sorted.push_back(&region);
  std::stable_sort(sorted.begin(), sorted.end(), [](const RegionEdition* a, const RegionEdition* b) {
    return alphabetical_key(a->name.empty() ? a->code : a->name) < alphabetical_key(b->name.empty() ? b->code : b->name);
  });
  std::string rows;
  std::size_t firms = 0;
  double risk = 0;
  for (const RegionEdition* entry : sorted) {
    const RegionEdition& region = *entry;
    firms += region.firms;
    risk += region.total_risk;
    rows += "<tr><td><a href=\"" + html_escape(region.page.filename().string()) + "\">" +
            html_escape(region.name.empty() ? region.code : region.name) + "</a></td><td>" + html_escape(region.code) +
            "</td><td class=\"num\">" + grouped(static_cast<std::int64_t>(region.firms)) + "</td><td class=\"num\">" +
            grouped(static_cast<std::int64_t>(std::trunc(region.total_risk))) + " TL</td></tr>\n";
  }
  const std::string made =
      context.generated_at ? "<p>Oluşturulma: <b>" + html_escape(page_time_text(*context.generated_at)) + "</b></p>\n" : "";
  return "<!DOCTYPE html>\n<html lang=\"tr\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<title>VRD Erken Uyarı Panosu · Bölge sürümleri</title>\n<style>"
         "body{font:14px/1.4 system-ui,sans-serif;margin:24px;color:#1c2833}table{border-collapse:collapse}"
         "th,td{border-bottom:1px solid #dfe4ea;padding:4px 12px;text-align:left}td.num{text-align:right}"
         "p.note{color:#5d6d7e;max-width:760px}</style>\n</head>\n<body>\n"
         "<h1>VRD Erken Uyarı Panosu · Bölge sürümleri</h1>\n" + made +
         "<p class=\"note\">Her bölge sürümü, yönetici sürümünün yalnızca o bölgedeki firmalarını tutar. Bir bölge yöneticisine "
         "kendi sayfası, yanındaki aynı adlı “_veri” klasörüyle birlikte verilir.</p>\n"
         "<table>\n<thead><tr><th>Bölge</th><th>Kod</th><th>Firma</th><th>Toplam risk</th></tr></thead>\n<tbody>\n" + rows +
         "</tbody>\n<tfoot><tr><th>Toplam</th><th></th><th class=\"num\">" + grouped(static_cast<std::int64_t>(firms)) +
         "</th><th class=\"num\">" + grouped(static_cast<std::int64_t>(std::trunc(risk))) +
         " TL</th></tr></tfoot>\n</table>\n</body>\n</html>\n";
}

}  // namespace vordak::pipeline
