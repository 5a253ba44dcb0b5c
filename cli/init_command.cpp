// `vordak init`: puts the package's notebooks into a working directory.

#include "cli/init_command.h"

#include <stdexcept>

#include "cli/commands.h"
#include "core/sink.h"
#include "core/files.h"
#include "core/version.h"
#include "motor/paths.h"
#include "motor/registry.h"
#include "motor/work_dir_lock.h"

namespace vordak::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kHeaderNotebook = "vrd_pipeline.ipynb";

}  // namespace

InstalledNotebooks install_notebooks(const fs::path& work_dir, bool force) {
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
  InstalledNotebooks result;
  for (const std::string& name : names) {
    const fs::path target = work_dir / name;
    const bool differs = fs::exists(target) && read_file(target) != read_file(source / name);
    if (differs && !force) {
      result.left_alone.push_back(name);
      continue;
    }
    fs::copy_file(source / name, target, fs::copy_options::overwrite_existing);
    result.copied.push_back(name);
  }
  if (result.left_alone.empty()) write_file_atomic(work_dir / "db" / ".nb_version", std::string(kVersion) + "\n");
  return result;
}

namespace {

int init_command(const ParsedArgs& args) {
  const fs::path work_dir = fs::weakly_canonical(fs::absolute(args.value("work-dir").value_or(".")));
  fs::create_directories(work_dir);
  // Notebooks replaced under a running step would be recorded as the ones it ran.
  const motor::WorkDirLock lock(work_dir, Env::system());
  const InstalledNotebooks installed = install_notebooks(work_dir, args.flag("force"));
  Sink& out = stdout_sink();
  out.line("  " + std::to_string(installed.copied.size()) + " notebook kopyalandı: " + paths::get_notebooks_dir().string() +
           " -> " + work_dir.string());
  if (installed.left_alone.empty()) {
    out.line("  " + (work_dir / "db" / ".nb_version").string() + ": " + kVersion);
    return 0;
  }
  for (const std::string& name : installed.left_alone) out.line("  [!] Paketteki sürümden farklı, dokunulmadı: " + name);
  out.line("  " + std::to_string(installed.left_alone.size()) +
           " notebook değiştirilmedi; db/.nb_version güncellenmedi. Paketteki sürümü kurmak için: vordak init --force");
  return 0;
}

const RegisterTool kInit({{"init", "", 0, 0,
                           "Copies the packaged notebooks into a working directory and records their version.",
                           {{"work-dir", Option::Kind::kValue, "DIR", "working directory (default .)"},
                            {"force", Option::Kind::kFlag, "", "also replace notebooks that differ from the packaged ones"}}},
                          init_command});

}  // namespace

}  // namespace vordak::cli
