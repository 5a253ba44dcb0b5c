#pragma once

// A notebook that is there and readable, which the engine will not run: not UTF-8, not
// JSON, not an nbformat 4 document, no cell list, no code cell tagged "parameters".
// what() is the line the operator reads; path() the file, empty where a document was
// handed over without one.

#include <filesystem>
#include <stdexcept>
#include <string>

namespace vordak::motor {

class BadNotebook : public std::runtime_error {
 public:
  BadNotebook(const std::string& message, std::filesystem::path path)
      : std::runtime_error(message), path_(std::move(path)) {}
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace vordak::motor
