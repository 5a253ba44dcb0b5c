#include "motor/step_report.h"

#include <stdexcept>

#include "core/json_writer.h"

namespace vordak::motor {

namespace {

// A report holds a few counts and texts; anything larger is not one of ours.
constexpr std::uintmax_t kMaxReportBytes = 1 << 20;

}  // namespace

fs::path step_report_path(const fs::path& log_dir, const std::string& kod) { return log_dir / ("adim_" + kod + "_rapor.json"); }

std::optional<StepReport> read_step_report(const fs::path& path, Env& env) {
  const std::optional<FileStatus> status = env.status(path);
  if (!status) return std::nullopt;
  const auto refuse = [&](const std::string& why) {
    return std::runtime_error("adım raporu okunamadı: " + path.string() + " (" + why + ")");
  };
  if (status->type != fs::file_type::regular) throw refuse("düzenli bir dosya değil");
  if (status->size > kMaxReportBytes) throw refuse("çok büyük");
  ordered_json document;
  try {
    document = parse_json(env.read_file(path));
  } catch (const std::exception& failure) {
    throw refuse(failure.what());
  }
  const auto changed = document.is_object() ? document.find("kaynak_degisti") : document.end();
  if (!document.is_object() || changed == document.end() || !changed->is_boolean()) {
    throw refuse("\"kaynak_degisti\" bir doğru/yanlış değeri değil");
  }
  return StepReport{changed->get<bool>()};
}

}  // namespace vordak::motor
