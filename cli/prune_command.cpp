// `vordak prune`: removes older seasons of each mode, keeping the newest N and every
// season that holds a step's newest meta record (see motor/prune.h).

#include "cli/commands.h"
#include "cli/run_console.h"
#include "core/number_text.h"
#include "core/sink.h"
#include "core/text.h"
#include "motor/prune.h"
#include "motor/season.h"
#include "motor/work_dir_lock.h"

namespace vordak::cli {

namespace {

std::string size_text(std::uintmax_t bytes) {
  if (bytes < 1024 * 1024) return std::to_string((bytes + 512) / 1024) + " KB";
  return fixed_text(static_cast<double>(bytes) / (1024.0 * 1024.0), 1) + " MB";
}

int prune_command(const ParsedArgs& args) {
  const fs::path work_dir = existing_work_dir(args);
  const auto keep_text = args.value("keep");
  if (!keep_text) throw UsageError("--keep N is required");
  const long long keep = integer_value("keep", *keep_text);
  if (keep < 1) throw UsageError("--keep must be at least 1");
  const bool dry_run = args.flag("dry-run");
  Env& env = Env::system();
  Sink& out = stdout_sink();
  // A run in progress reads the seasons that pruning would remove.
  std::optional<motor::WorkDirLock> lock;
  if (!dry_run) lock.emplace(motor::resolve_work_dir(work_dir.string()), env);

  const motor::PruneChoice choice = motor::choose_prune(work_dir, static_cast<std::size_t>(keep), env, out);
  for (const auto& [dir, steps] : choice.kept_for_meta) {
    out.line("  Korunuyor: " + dir.filename().string() + " — son meta kaydı: " + join(steps, ", "));
  }
  std::uintmax_t freed = 0;
  for (const fs::path& dir : choice.remove) {
    const std::uintmax_t bytes = motor::tree_size(dir, env);
    if (!dry_run) env.remove_tree(dir);
    freed += bytes;
    out.line(std::string(dry_run ? "  Silinecek: " : "  Silindi: ") + dir.filename().string() + " (" + size_text(bytes) + ")");
  }
  const std::string removed = std::to_string(choice.remove.size()) + " season " + (dry_run ? "silinecek" : "silindi") +
                              " (" + size_text(freed) + "), " + std::to_string(choice.kept_for_meta.size()) +
                              " eski season meta kaydı için korundu, " + std::to_string(choice.remaining) + " season " +
                              (dry_run ? "kalacak" : "kaldı");
  out.line(std::string(dry_run ? "  Budama (deneme): " : "  Budama: ") + removed);
  if (!dry_run && !choice.remove.empty() && env.exists(work_dir / "outputs" / "html" / "vrd_runs.html")) {
    update_runs_page("prune", work_dir);
  }
  return 0;
}

const RegisterTool kPrune({{"prune", "", 0, 0,
                            "Removes older seasons of each mode, keeping the newest N and every season that holds a "
                            "step's newest meta record, so the next run decides as before.",
                            {{"work-dir", Option::Kind::kValue, "DIR", "working directory (default .)"},
                             {"keep", Option::Kind::kValue, "N", "seasons of each mode to keep, at least 1 (required)"},
                             {"dry-run", Option::Kind::kFlag, "", "print what would be removed; remove nothing"}}},
                           prune_command});

}  // namespace

}  // namespace vordak::cli
