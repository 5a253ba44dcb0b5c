// `vordak init`: puts the package's notebooks into a working directory.

#include "cli/init_command.h"

#include <stdexcept>

#include "cli/commands.h"
#include "core/sink.h"
#include "core/env.h"
#include "core/io_error.h"
#include "core/version.h"
#include "motor/layout.h"
#include "motor/paths.h"
#include "motor/work_dir_lock.h"

namespace vordak::cli {

namespace fs = std::filesystem;

InstalledNotebooks install_notebooks(const fs::path& work_dir, InstallMode mode) {
  Env& env = Env::system();
  const fs::path source = paths::get_notebooks_dir();
  // Checked before anything is copied: a partial set would mix two versions.
  for (const std::string& name : motor::package_notebook_names()) {
    if (!fs::is_regular_file(source / name)) {
      throw IoError::missing("paket notebook'u bulunamadı: " + (source / name).string(), source / name);
    }
  }
  fs::create_directories(work_dir / "db");
  motor::InstallRecord record = motor::read_install_record(work_dir, env);
  InstalledNotebooks result;
  for (const motor::InstalledNotebook& notebook : motor::installed_notebooks(work_dir, source, env)) {
    const bool replace = notebook.state == motor::NotebookState::kCurrent ||
                         notebook.state == motor::NotebookState::kMissing || mode == InstallMode::kForce ||
                         (notebook.state == motor::NotebookState::kOld && mode == InstallMode::kUpgrade);
    if (!replace) {
      result.left_alone.push_back(notebook);
      continue;
    }
    fs::copy_file(source / notebook.name, work_dir / notebook.name, fs::copy_options::overwrite_existing);
    record[notebook.name] = {motor::notebook_file_hash(source / notebook.name, env), kVersion};
    result.copied.push_back(notebook.name);
  }
  motor::write_install_record(work_dir, record, env);
  if (result.left_alone.empty()) env.write_file_atomic(motor::notebook_version_file(work_dir), std::string(kVersion) + "\n");
  return result;
}

namespace {

// The line of a notebook init left alone.
std::string left_alone_line(const motor::InstalledNotebook& notebook) {
  switch (notebook.state) {
    case motor::NotebookState::kOld:
      return "  [!] Eski sürüm (" + notebook.installed_version + " kurulumu), dokunulmadı: " + notebook.name;
    case motor::NotebookState::kEdited: return "  [!] Kurulumdan sonra değiştirilmiş, dokunulmadı: " + notebook.name;
    default: return "  [!] Paketteki sürümden farklı, dokunulmadı: " + notebook.name;
  }
}

int init_command(const ParsedArgs& args) {
  if (args.flag("upgrade") && args.flag("force")) throw UsageError("--upgrade and --force exclude each other");
  const fs::path work_dir = fs::weakly_canonical(fs::absolute(args.value("work-dir").value_or(".")));
  fs::create_directories(work_dir);
  // Notebooks replaced under a running step would be recorded as the ones it ran.
  const motor::WorkDirLock lock(work_dir, Env::system());
  const InstallMode mode = args.flag("force")     ? InstallMode::kForce
                           : args.flag("upgrade") ? InstallMode::kUpgrade
                                                  : InstallMode::kKeepDiffering;
  const InstalledNotebooks installed = install_notebooks(work_dir, mode);
  Sink& out = stdout_sink();
  out.line("  " + std::to_string(installed.copied.size()) + " notebook kopyalandı: " + paths::get_notebooks_dir().string() +
           " -> " + work_dir.string());
  if (installed.left_alone.empty()) {
    out.line("  " + motor::notebook_version_file(work_dir).string() + ": " + kVersion);
    return 0;
  }
  bool old = false;
  for (const motor::InstalledNotebook& notebook : installed.left_alone) {
    out.line(left_alone_line(notebook));
    old = old || notebook.state == motor::NotebookState::kOld;
  }
  const std::string how = old ? "Eski sürümleri yenilemek için: vordak init --upgrade; hepsini paketteki sürümle değiştirmek için: "
                                "vordak init --force"
                              : "Paketteki sürümü kurmak için: vordak init --force";
  out.line("  " + std::to_string(installed.left_alone.size()) + " notebook değiştirilmedi; db/.nb_version güncellenmedi. " + how);
  return 0;
}

const RegisterTool kInit({{"init", "", 0, 0,
                           "Copies the packaged notebooks into a working directory and records their version.",
                           {{"work-dir", Option::Kind::kValue, "DIR", "working directory (default .)"},
                            {"upgrade", Option::Kind::kFlag, "",
                             "also replace notebooks an older package installed and nobody edited since"},
                            {"force", Option::Kind::kFlag, "", "also replace notebooks that differ from the packaged ones, local edits included"}}},
                          init_command});

}  // namespace

}  // namespace vordak::cli
