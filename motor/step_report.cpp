#include "motor/step_report.h"

#include <stdexcept>

#include "core/io_error.h"
#include "core/json_writer.h"

namespace vordak::motor {

namespace {

// A report holds a few counts and texts; anything larger is not one of ours.
constexpr std::uintmax_t kMaxReportBytes = 1 << 20;

}  // namespace


std::optional<StepReport> read_step_report(const fs::path& path, Env& env) {
  const std::optional<FileStatus> status = env.status(path);
  if (!status) return std::nullopt;
  const auto refuse = [&](const std::string& why) {
    return FileRefused("adım raporu okunamadı: " + path.string() + " (" + why + ")", path);
  };
  if (status->type != fs::file_type::regular) throw refuse("düzenli bir dosya değil");
  if (status->size > kMaxReportBytes) throw refuse("çok büyük");
  ordered_json document;
  try {
    document = parse_json(env.read_file(path));
  } catch (const std::exception& failure) {
    throw refuse(failure.what());
  }
  if (!document.is_object()) throw refuse("bir JSON nesnesi değil");
  StepReport report;
  const auto texts = [&](const char* name, std::vector<std::string>& into) {
    const auto found = document.find(name);
    if (found == document.end()) return;
    if (!found->is_array()) throw refuse(std::string("\"") + name + "\" bir liste değil");
    for (const ordered_json& item : *found) {
      if (!item.is_string()) throw refuse(std::string("\"") + name + "\" metin olmayan bir öğe taşıyor");
      into.push_back(item.get<std::string>());
    }
  };
  if (const auto changed = document.find("kaynak_degisti"); changed != document.end()) {
    if (!changed->is_boolean()) throw refuse("\"kaynak_degisti\" bir doğru/yanlış değeri değil");
    report.kaynak_degisti = changed->get<bool>();
  }
  texts("uyarilar", report.uyarilar);
  texts("kabul_edilen", report.kabul_edilen);
  if (const auto engel = document.find("engel"); engel != document.end() && !engel->is_null()) {
    const auto check = engel->is_object() ? engel->find("kontrol") : engel->end();
    if (!engel->is_object() || check == engel->end() || !check->is_string()) throw refuse("\"engel\" bir kontrol adı taşımıyor");
    report.engel = check->get<std::string>();
  }
  if (const auto quality = document.find("veri_kalitesi"); quality != document.end()) report.veri_kalitesi = *quality;
  return report;
}

}  // namespace vordak::motor
