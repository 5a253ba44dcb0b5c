#include "cli/data_report.h"

#include <stdexcept>

#include "core/env.h"
#include "core/io_error.h"
#include "core/number_text.h"

namespace vordak::cli {

void add_to_report(const std::filesystem::path& path, const ReportEntry& entry) {
  ordered_json report = ordered_json::object();
  if (std::filesystem::exists(path)) {
    report = parse_json(Env::system().read_file(path));
    if (!report.is_object()) throw FileRefused("adım raporu bir JSON nesnesi değil: " + path.string(), path);
  }
  if (entry.changed) report["kaynak_degisti"] = report.value("kaynak_degisti", false) || *entry.changed;
  const auto append = [&](const char* name, const ordered_json& value) {
    if (!report.contains(name)) report[name] = ordered_json::array();
    report[name].push_back(value);
  };
  if (entry.load) append("veri_kalitesi", *entry.load);
  for (const std::string& warning : entry.warnings) append("uyarilar", warning);
  for (const std::string& check : entry.accepted) append("kabul_edilen", check);
  if (entry.blocked_check) report["engel"] = {{"kontrol", *entry.blocked_check}, {"mesaj", entry.blocked_message}};
  Env::system().write_file_atomic(path, to_json_text(report, JsonWriter::Layout::kIndented));
}

std::string check_line(const std::string& kaynak, const pipeline::CheckResult& check,
                       const std::optional<std::filesystem::path>& rejected_file) {
  std::string line = kaynak + ": " + check.name;
  if (check.outcome == pipeline::CheckOutcome::kAccepted) line += " kabul edildi";
  line += " — " + check.detail + " (eşik " + python_float_repr(check.threshold) + (check.blocks ? ", engeller)" : ")");
  if (check.rejected_rows > 0 && rejected_file) line += "; reddedilenler: " + rejected_file->string();
  return line;
}

}  // namespace vordak::cli
