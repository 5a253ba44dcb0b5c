#pragma once

// Fingerprints for change detection. None of these throws: every ordinary failure
// (missing file, no permission, bad content, no git, a time-out) gives the fallback.

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/env.h"
#include "core/json_writer.h"
#include "core/limit_clock.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::motor {

using Fingerprint = std::optional<std::string>;  // up to 16 lower-case hex digits, or absent

// The member of a step's meta record that holds its source files' quick fingerprints,
// by path: tens of thousands of them for a large source directory.
inline constexpr std::string_view kSourceHashes = "source_hashes";

// Content fingerprint of the file read through `env`: the notebook code fingerprint for
// a name ending exactly in ".ipynb", otherwise the first 16 hex digits of the SHA-256 of
// the raw bytes.
Fingerprint file_hash(const std::string& path, Env& env);

// The first 16 hex digits of the SHA-256 of the bytes: a file's whole content, outputs
// and metadata included.
std::string content_fingerprint(std::string_view bytes);

// MD5 over the concatenated source text of every cell, in order (no separators);
// outputs, metadata and execution counts stay out.
Fingerprint notebook_code_hash(const std::string& path, Env& env);
// The same for a notebook's text already read.
Fingerprint notebook_code_fingerprint(std::string_view text);

// A quick fingerprint, from a file's metadata only (much faster than its content for
// large files): the MD5 of "<last path component>|<size>|<mtime in whole nanoseconds>".
// Held without an allocation: a run takes tens of thousands.
struct QuickFingerprint {
  std::array<char, 16> digits{};
  bool present = false;  // false: a missing file, or one whose status cannot be read

  std::optional<std::string_view> text() const {
    return present ? std::optional<std::string_view>(std::string_view(digits.data(), digits.size())) : std::nullopt;
  }
};
// Quick fingerprints of many files, in the order given, into `found` (as many as
// `paths`); their statuses taken through `env`, on two threads when there are many.
void fast_fingerprints(std::span<const std::string_view> paths, std::span<QuickFingerprint> found, Env& env);

// Each call to git may take 5 seconds on `clock`; past that it is killed and counts as
// a failure.

// Git object hash of a file (if git available): `git hash-object`, cut to 16 digits.
Fingerprint git_hash(const std::string& repo_dir, const std::string& file_path,
                     const LimitClock& clock = LimitClock::steady());

// Get git repo info: "git_available", "git_commit", "git_commit_short", "git_branch",
// "git_error", in that order when present. Never fails.
ordered_json git_info(const std::string& repo_dir, Env& env, const LimitClock& clock = LimitClock::steady());
// Whether git_info must ask git: false only where git is installed and certainly finds
// no repository (looked for through `env`), and git_info answers at once.
bool git_must_be_asked(const std::string& repo_dir, Env& env);

}  // namespace vordak::motor

VORDAK_PUBLIC_END
