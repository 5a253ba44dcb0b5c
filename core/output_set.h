#pragma once

// Output files that appear together or not at all. Each member is written to a temporary
// file beside its target (see WritableFile); publish() syncs every member and only then
// renames them all, one right after the other. Until then every target keeps its old
// content, so a failure before publish() (a full disk, an error of the run, a kill)
// publishes nothing new. A set destroyed without publishing removes its temporary files.
//
// The renames are journalled: publish() first records them in a journal file, and
// removes it when the last rename is done. When a kill falls between two renames, the
// next run's finish_interrupted_publish() does the rest, so a set is never left half
// old and half new.

#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "core/env.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

class OutputSet {
 public:
  // `journal` is where publish() records its renames (a hidden file beside the outputs).
  OutputSet(Env& env, fs::path journal);
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // A new member that will replace `target` (a file of that name must not be added
  // twice), readable as `access` says. The set owns the file; one thread at a time may
  // write it, and every writer must be done before publish(). Throws naming the target
  // when it cannot be created.
  WritableFile& add(const fs::path& target, FileAccess access = FileAccess::kShared);

  // Syncs every member, then renames each over its target. Throws naming the file that
  // failed; a failure before the renames publishes nothing. The set is empty after.
  void publish();

 private:
  struct Member {
    fs::path target;
    std::unique_ptr<WritableFile> file;
  };

  Env& env_;
  fs::path journal_;
  std::vector<Member> members_;
  bool journalled_ = false;  // the temporary files now belong to the journal
};

// Where the mart builder's publish journal of an output directory lives; while it exists,
// that directory's output set is not whole.
fs::path publish_journal(const fs::path& output_dir, const std::string& file_suffix);

// Completes the renames of a publish cut short (recorded in `journal`) and removes the
// journal; does nothing when there is none. Throws naming the file when a rename fails,
// keeping the journal for the next attempt. A journal that does not parse, or holds any
// entry other than a temporary file renamed over its target directly in one of
// `output_dirs`, is not ours: nothing is renamed and the error names the journal.
void finish_interrupted_publish(Env& env, const fs::path& journal, const std::vector<fs::path>& output_dirs);

// Removes from `dir` the temporary files of targets whose names `is_output` accepts, left
// there by writers that are gone. Returns how many were removed.
std::size_t remove_abandoned_outputs(Env& env, const fs::path& dir,
                                     const std::function<bool(std::string_view)>& is_output);

}  // namespace vordak

VORDAK_PUBLIC_END
