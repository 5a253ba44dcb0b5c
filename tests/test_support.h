#pragma once

// Small helpers shared by the test suites: a temporary directory, file writing and a
// tiny notebook builder.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/env.h"
#include "core/json_writer.h"
#include "core/limit_clock.h"

namespace vordak::testing {

namespace fs = std::filesystem;

// A fresh directory under the system temp dir, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "vordak-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

inline void write_text(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A limit clock on which a minute passes between any two readings, from any thread:
// whatever limit a reading starts has passed at the next one, without a real wait.
class HurryingClock : public LimitClock {
 public:
  time_point now() const override { return start_ + std::chrono::minutes(readings_++); }

 private:
  const time_point start_ = std::chrono::steady_clock::now();
  mutable std::atomic<int> readings_{0};
};

// The real disk with a clock that moves only when told, so that runs made one after
// another get seasons of their own without sleeping.
class FakeClockEnv : public EnvWrapper {
 public:
  FakeClockEnv() : EnvWrapper(Env::system()) {}
  TimePoint now() override { return now_; }
  void sleep_until(TimePoint deadline) override { now_ = std::max(now_, deadline); }
  void advance(std::chrono::nanoseconds step) { now_ += step; }

 private:
  TimePoint now_{std::chrono::seconds(1740838502)};  // 2025-03-01 14:15:02 UTC
};

// A notebook document whose cells hold the given sources: code cells, markdown cells when
// marked "md:", and code cells tagged "parameters" when marked "params:".
inline ordered_json notebook(const std::vector<std::string>& sources) {
  ordered_json cells = ordered_json::array();
  for (const auto& source : sources) {
    const bool markdown = source.rfind("md:", 0) == 0;
    const bool parameters = source.rfind("params:", 0) == 0;
    ordered_json metadata = ordered_json::object();
    if (parameters) metadata["tags"] = {"parameters"};
    ordered_json cell = {{"cell_type", markdown ? "markdown" : "code"},
                         {"metadata", metadata},
                         {"source", markdown ? source.substr(3) : parameters ? source.substr(7) : source}};
    if (!markdown) {
      cell["execution_count"] = nullptr;
      cell["outputs"] = ordered_json::array();
    }
    cells.push_back(cell);
  }
  return {{"cells", cells},
          {"metadata", {{"kernelspec", {{"name", "python3"}, {"display_name", "Python 3"}, {"language", "python"}}}}},
          {"nbformat", 4},
          {"nbformat_minor", 5}};
}

inline void write_notebook(const fs::path& path, const std::vector<std::string>& sources) {
  write_text(path, notebook(sources).dump(1));
}

}  // namespace vordak::testing
