// `vordak init`: puts the package's notebooks into a working directory.

#include "cli/init_command.h"

#include <stdexcept>

#include "cli/commands.h"
#include "core/sink.h"
#include "core/files.h"
#include "core/version.h"
#include "motor/paths.h"
#include "motor/registry.h"

namespace vordak::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kHeaderNotebook = "vrd_pipeline.ipynb";

}  // namespace

std::vector<std::string> install_notebooks(const fs::path& work_dir) {
  const fs::path source = paths::get_notebooks_dir();
  std::vector<std::string> names;
  for (const auto& [kod, kayit] : motor::ADIM_REGISTRY) names.push_back(kayit.nb);
  names.push_back(kHeaderNotebook);
  // Checked before anything is copied: a partial set would mix two versions.
  for (const std::string& name : names) {
    if (!fs::is_regular_file(source / name)) {
      throw std::runtime_error("paket notebook'u bulunamadı: " + (source / name).string());
    }
  }
  fs::create_directories(work_dir / "db");
  for (const std::string& name : names) {
    fs::copy_file(source / name, work_dir / name, fs::copy_options::overwrite_existing);
  }
  write_file_atomic(work_dir / "db" / ".nb_version", std::string(kVersion) + "\n");
  return names;
}

namespace {

int init_command(const ParsedArgs& args) {
  const fs::path work_dir = fs::weakly_canonical(fs::absolute(args.value("work-dir").value_or(".")));
  const std::vector<std::string> copied = install_notebooks(work_dir);
  Sink& out = stdout_sink();
  out.line("  " + std::to_string(copied.size()) + " notebook kopyalandı: " + paths::get_notebooks_dir().string() + " -> " +
      work_dir.string());
  out.line("  " + (work_dir / "db" / ".nb_version").string() + ": " + kVersion);
  return 0;
}

const RegisterTool kInit({{"init", "", 0, 0,
                           "Copies the packaged notebooks into a working directory and records their version.",
                           {{"work-dir", Option::Kind::kValue, "DIR", "working directory (default .)"}}},
                          init_command});

}  // namespace

}  // namespace vordak::cli
