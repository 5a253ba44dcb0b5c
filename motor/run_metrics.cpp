#include "motor/run_metrics.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "core/number_text.h"
#include "core/text.h"

namespace vordak::motor {

namespace {

constexpr const char* kLastSuccess = "vordak_run_last_success_timestamp_seconds";

// A label value with its backslashes, quotes and line breaks escaped.
std::string label_value(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return escaped;
}

class MetricsText {
 public:
  explicit MetricsText(const std::string& work_dir) : labels_("work_dir=\"" + label_value(work_dir) + "\"") {}
  void family(const std::string& name, const std::string& help) {
    text_ += "# HELP " + name + " " + help + "\n# TYPE " + name + " gauge\n";
  }
  void sample(const std::string& name, double value, const std::string& extra_labels = "") {
    text_ += name + "{" + labels_ + (extra_labels.empty() ? "" : "," + extra_labels) + "} " + python_float_repr(value) + "\n";
  }
  const std::string& text() const { return text_; }

 private:
  std::string labels_;
  std::string text_;
};

}  // namespace

std::string metrics_text(const RunFigures& run, const RunReport& report) {
  MetricsText out(run.work_dir);
  out.family(kLastSuccess, "End of the newest run that succeeded, in seconds since the epoch (0: none).");
  out.sample(kLastSuccess, run.last_success_at.value_or(0));
  out.family("vordak_run_last_timestamp_seconds", "End of the newest run, in seconds since the epoch.");
  out.sample("vordak_run_last_timestamp_seconds", run.ended_at);
  out.family("vordak_run_success", "1 when the newest run succeeded, else 0.");
  out.sample("vordak_run_success", run.state == RunState::kDone ? 1 : 0);
  out.family("vordak_run_duration_seconds", "Wall time of the newest run.");
  out.sample("vordak_run_duration_seconds", run.duration_seconds);

  std::map<std::string, int> by_status = {{"ok", 0}, {"atlandi", 0}, {"hata", 0}, {"nb_yok", 0}};
  for (const OzetSatiri& row : report.ozet_satirlar()) ++by_status[to_lower(manifest_status_text(row.durum))];
  out.family("vordak_steps", "Steps of the newest run by how they ended.");
  for (const auto& [status, count] : by_status) out.sample("vordak_steps", count, "status=\"" + status + "\"");

  out.family("vordak_step_duration_seconds", "Wall time of each step the newest run executed (its last execution).");
  std::map<std::string, double> durations;
  for (const OzetSatiri& row : report.ozet_satirlar()) {
    if (row.saniye) durations[row.adim] = *row.saniye;
  }
  for (const auto& [step, seconds] : durations) out.sample("vordak_step_duration_seconds", seconds, "step=\"" + label_value(step) + "\"");

  int failures = 0, warnings = 0;
  for (const std::string& kod : report.failed_steps()) {
    const std::string checks = report.data_check(kod);
    if (!checks.empty()) failures += 1 + static_cast<int>(std::count(checks.begin(), checks.end(), ','));
  }
  for (const auto& [kod, entry] : report.manifest_adimlar().items()) {
    if (const auto found = entry.find("uyarilar"); found != entry.end() && found->is_array()) {
      warnings += static_cast<int>(found->size());
    }
  }
  out.family("vordak_data_check_failures", "Data checks that stopped a step in the newest run.");
  out.sample("vordak_data_check_failures", failures);
  out.family("vordak_data_check_warnings", "Data-check warnings of the newest run.");
  out.sample("vordak_data_check_warnings", warnings);
  return out.text();
}

std::optional<double> previous_last_success(const std::filesystem::path& metrics_file, Env& env) {
  try {
    if (!env.exists(metrics_file)) return std::nullopt;
    const std::string text = env.read_file(metrics_file);
    const std::string start = std::string(kLastSuccess) + "{";
    for (std::size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) {
      if (at != 0 && text[at - 1] != '\n') continue;
      const std::size_t end = text.find('\n', at);
      const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
      const double value = std::strtod(line.c_str() + line.rfind(' ') + 1, nullptr);
      return value > 0 ? std::optional<double>(value) : std::nullopt;
    }
  } catch (const std::exception&) {
    // An unreadable earlier file: as if there were none.
  }
  return std::nullopt;
}

}  // namespace vordak::motor
