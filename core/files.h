#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/writable_file.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

namespace fs = std::filesystem;

// The whole file as bytes. Throws std::runtime_error naming the file when it cannot be read.
std::string read_file(const fs::path& path);

// The whole file as bytes, for a file whose content comes from people: only a regular
// file (a link to one included) of at most `max_bytes`. A FIFO, a device or a larger file
// is refused without reading it, so that it can neither block nor fill the memory.
// Throws std::runtime_error naming the file.
std::string read_regular_file(const fs::path& path, std::uintmax_t max_bytes);

// Writes `content` to `path` atomically: a temporary file in the same directory, synced,
// then a rename over the target, so a crash never leaves a truncated file behind; the
// file is readable as `access` says. Throws std::runtime_error naming the file on
// failure (the temporary file is removed).
void write_file_atomic(const fs::path& path, std::string_view content, FileAccess access = FileAccess::kShared);

// An open temporary file beside `target` that becomes `target` on commit(); removed
// when destroyed without a commit. For outputs written in pieces.
class AtomicFile {
 public:
  explicit AtomicFile(fs::path target, FileAccess access = FileAccess::kShared);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void write(std::string_view bytes) { file_->append(bytes); }
  // Syncs and renames over the target. Throws on failure.
  void commit();

 private:
  fs::path target_;
  std::unique_ptr<WritableFile> file_;
  bool committed_ = false;
};

}  // namespace vordak

VORDAK_PUBLIC_END
