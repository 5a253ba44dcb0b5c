#pragma once

// Helpers over an Env for outputs written whole or not at all.

#include <filesystem>
#include <memory>
#include <string_view>

#include "core/env.h"
#include "core/writable_file.h"

namespace vordak {

namespace fs = std::filesystem;

// An open temporary file beside `target`, made through `env`, that becomes `target` on
// commit(); removed when destroyed without a commit, so a crash or a failure never leaves
// a truncated target behind. For outputs written in pieces, or with an access other than
// Env::write_file_atomic's.
class AtomicFile {
 public:
  // Throws IoError naming the target when the temporary file cannot be made.
  AtomicFile(Env& env, fs::path target, FileAccess access = FileAccess::kShared);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void write(std::string_view bytes) { file_->append(bytes); }
  // Syncs and renames over the target. Throws IoError naming the target on failure.
  void commit();

 private:
  Env& env_;
  fs::path target_;
  std::unique_ptr<WritableFile> file_;
  bool committed_ = false;
};

}  // namespace vordak
