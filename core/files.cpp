#include "core/files.h"

#include <exception>

namespace vordak {

AtomicFile::AtomicFile(Env& env, fs::path target, FileAccess access)
    : env_(env), target_(std::move(target)), file_(env_.new_temporary_file(target_, access)) {}

AtomicFile::~AtomicFile() {
  if (committed_) return;
  const fs::path temporary = file_->path();
  file_.reset();
  try {
    env_.remove_file(temporary);
  } catch (const std::exception&) {
    // Left behind: the next writer's clean-up of abandoned temporary files takes it.
  }
}

void AtomicFile::commit() {
  file_->sync_and_close();
  env_.rename_file(file_->path(), target_);
  committed_ = true;
}

}  // namespace vordak
