#pragma once

// The disk as the fuzzers need it: one file whose content is the fuzzer's input.

#include <string>

#include "core/env.h"

namespace vordak::fuzzing {

class OneFileEnv : public EnvWrapper {
 public:
  explicit OneFileEnv(fs::path file) : EnvWrapper(Env::system()), file_(std::move(file)) {}
  void set(std::string content) { content_ = std::move(content); }

  std::optional<FileStatus> status(const fs::path& path) override {
    if (path != file_) return EnvWrapper::status(path);
    FileStatus status;
    status.type = fs::file_type::regular;
    status.size = content_.size();
    return status;
  }
  std::vector<std::optional<FileStatus>> statuses(std::span<const std::string_view> paths) override {
    return Env::statuses(paths);
  }
  std::string read_file(const fs::path& path) override {
    return path == file_ ? content_ : EnvWrapper::read_file(path);
  }
  std::string read_regular_file(const fs::path& path, std::uintmax_t max_bytes) override {
    return path == file_ ? content_ : EnvWrapper::read_regular_file(path, max_bytes);
  }
  void write_file_atomic(const fs::path& path, std::string_view) override {
    throw std::runtime_error("the fuzzers write nothing: " + path.string());
  }

 private:
  fs::path file_;
  std::string content_;
};

// A scratch directory for the process, made once.
inline const fs::path& scratch_dir() {
  static const fs::path dir = [] {
    std::string pattern = (fs::temp_directory_path() / "vordak-fuzz-XXXXXX").string();
    return fs::path(::mkdtemp(pattern.data()));
  }();
  return dir;
}

}  // namespace vordak::fuzzing
