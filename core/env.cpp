#include "core/env.h"

#include "core/io_error.h"

namespace vordak {

std::vector<std::optional<FileStatus>> Env::statuses(std::span<const std::string_view> paths) {
  std::vector<std::optional<FileStatus>> found(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    try {
      found[i] = status(fs::path(paths[i]));
    } catch (const IoError&) {
      // Unreadable: absent, as the call promises.
    }
  }
  return found;
}

bool Env::is_directory(const fs::path& path) {
  const std::optional<FileStatus> found = status(path);
  return found && found->type == fs::file_type::directory;
}

bool Env::is_regular_file(const fs::path& path) {
  const std::optional<FileStatus> found = status(path);
  return found && found->type == fs::file_type::regular;
}

}  // namespace vordak
