// The time limit of one notebook step: --step-timeout, else VORDAK_STEP_TIMEOUT.

#include <cstdlib>

#include "cli/commands.h"

namespace vordak::cli {

namespace {

constexpr long long kLongestLimit = 365LL * 24 * 60 * 60;

std::chrono::seconds limit_value(const std::string& source, const std::string& text) {
  long long seconds = 0;
  try {
    seconds = integer_value("step-timeout", text);
  } catch (const UsageError&) {
    seconds = 0;
  }
  if (seconds < 1 || seconds > kLongestLimit) {
    throw UsageError(source + " needs a whole number of seconds from 1 to " + std::to_string(kLongestLimit) +
                     ", got '" + text + "'");
  }
  return std::chrono::seconds(seconds);
}

}  // namespace

Option step_timeout_option() {
  return {"step-timeout", Option::Kind::kValue, "SECONDS",
          "stop a notebook step running longer, as \"HATA\" (default: VORDAK_STEP_TIMEOUT, else no limit)"};
}

std::shared_ptr<motor::NotebookExecutor> notebook_executor(const ParsedArgs& args) {
  motor::ExecutorOptions options;
  if (const auto text = args.value("step-timeout")) {
    options.step_timeout = limit_value("--step-timeout", *text);
  } else if (const char* variable = std::getenv("VORDAK_STEP_TIMEOUT"); variable != nullptr && *variable != '\0') {
    options.step_timeout = limit_value("VORDAK_STEP_TIMEOUT", variable);
  }
  return motor::make_default_executor(options);
}

}  // namespace vordak::cli
