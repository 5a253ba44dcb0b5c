#pragma once

// The errors of the file system and the clock's world, typed so that a caller tells them
// apart without reading their text.

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

// A file or directory could not be read, written, listed, created or removed. what() is
// "<what>: <path> (<the system's reason>)", the line an operator reads; path() and code()
// are the same facts for a program.
class IoError : public std::runtime_error {
 public:
  IoError(const std::string& what, std::filesystem::path path, std::error_code code)
      : IoError(Worded{what + ": " + path.string() + " (" + code.message() + ")"}, path, code) {}
  // Built from errno as the failing call left it.
  IoError(const std::string& what, std::filesystem::path path, int error)
      : IoError(what, std::move(path), std::error_code(error, std::generic_category())) {}
  // The same failure told in a caller's own words, `message` whole.
  static IoError worded(const std::string& message, std::filesystem::path path, std::error_code code) {
    return IoError(Worded{message}, std::move(path), code);
  }
  // A file or directory that is not there, `message` whole.
  static IoError missing(const std::string& message, std::filesystem::path path) {
    return worded(message, std::move(path), std::make_error_code(std::errc::no_such_file_or_directory));
  }

  const std::filesystem::path& path() const { return path_; }
  const std::error_code& code() const { return code_; }

 private:
  struct Worded {
    std::string message;
  };
  IoError(Worded message, std::filesystem::path path, std::error_code code)
      : std::runtime_error(message.message), path_(std::move(path)), code_(code) {}

  std::filesystem::path path_;
  std::error_code code_;
};

// A file that is there and readable, refused for what it is: not a regular file, larger
// than its reader allows, or not what it must hold (malformed JSON, a journal that is not
// ours). The message names the file and the reason.
class FileRefused : public std::runtime_error {
 public:
  FileRefused(const std::string& message, std::filesystem::path path)
      : std::runtime_error(message), path_(std::move(path)) {}
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace vordak

VORDAK_PUBLIC_END
