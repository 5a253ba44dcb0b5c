#include "motor/executor.h"

namespace vordak::motor {

std::shared_ptr<NotebookExecutor> make_default_executor() {
  throw std::runtime_error("notebook executor not built yet");
}

}  // namespace vordak::motor
