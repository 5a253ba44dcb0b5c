// The tools around the engine, gathered from the files that register them.

#include <dlfcn.h>

#include <algorithm>

#include "cli/commands.h"
#include "core/sink.h"

namespace vordak::cli {

namespace {

// A function of this library, to find the library's file by.
void anchor() {}

std::vector<Subcommand>& registered_tools() {
  static std::vector<Subcommand> tools;
  return tools;
}

}  // namespace

RegisterTool::RegisterTool(Subcommand subcommand) { registered_tools().push_back(std::move(subcommand)); }

std::vector<Subcommand> tool_subcommands() {
  static const std::vector<std::string> kOrder = {"steps", "history", "prune", "marts", "init", "sql", "demo"};
  std::vector<Subcommand> tools = registered_tools();
  const auto rank = [](const Subcommand& sub) { return std::find(kOrder.begin(), kOrder.end(), sub.command.name) - kOrder.begin(); };
  std::stable_sort(tools.begin(), tools.end(), [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
  return tools;
}

std::unique_ptr<motor::WorkDirLock> lock_database(const std::string& db_path, const std::string& command) {
  return motor::lock_database_work_dir(db_path, Env::system(), [&command](const std::string& busy) {
    stderr_sink().line("vordak " + command + ": " + busy + "; bitmesi bekleniyor");
  });
}

std::filesystem::path commands_library_dir() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&anchor), &info) == 0 || info.dli_fname == nullptr) return {};
  return std::filesystem::path(info.dli_fname).parent_path();
}

}  // namespace vordak::cli
