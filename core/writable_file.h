#pragma once

// A file written under a hidden temporary name beside the file it is to replace
// ("." + name + ".XXXXXX"), so that the target keeps its old content until a rename puts
// the new one in its place. While its writer lives the file holds a lock, so that a
// clean-up of files left by killed writers never takes one that is still being written.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

namespace fs = std::filesystem;

// Who may read an output once it is in place. kShared: what an ordinary new file gets
// (0666 less the umask). kPrivate: owner and group only (0640 less the umask, and 0750 for
// a directory), for outputs holding customer data.
enum class FileAccess { kShared, kPrivate };

// The permission bits of a new file or directory with `access`, the umask applied.
unsigned file_mode(FileAccess access, bool directory = false);

class WritableFile {
 public:
  virtual ~WritableFile() = default;

  // The temporary file's own path.
  virtual const fs::path& path() const = 0;
  // Appends bytes (buffered). Throws IoError naming the target.
  virtual void append(std::string_view bytes) = 0;
  // Hands everything appended so far to the disk without waiting for it, so that the
  // final sync finds little left to do. Throws like append().
  virtual void start_writeback() = 0;
  // Returns once every appended byte is on the disk, and closes the file; nothing may be
  // appended after. Throws naming the target (a full disk often shows only here).
  virtual void sync_and_close() = 0;
};

// Creates the temporary file for `target` in the target's directory; it gets the
// permissions of `access` when synced. Throws IoError naming the target.
std::unique_ptr<WritableFile> open_temporary_file(const fs::path& target, FileAccess access = FileAccess::kShared);

// The name of the file a temporary file was made for: ".a.json.Xy12Ab" gives "a.json";
// empty for a name of any other shape.
std::string temporary_file_target(std::string_view name);

// Removes a temporary file, or a directory with all it holds, whose maker is gone
// (killed, or an earlier version that kept no lock); one that a living process holds
// locked stays. True when it was removed. Throws IoError naming the path when it cannot
// be removed.
bool remove_abandoned_temporary(const fs::path& path);

}  // namespace vordak

VORDAK_PUBLIC_END
