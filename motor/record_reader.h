#pragma once

// Meta records and manifests of earlier seasons, each read and parsed once in a process.
// A run's decisions and its runs page read the same records, which do not change while
// the working directory is locked; a large one (tens of thousands of source
// fingerprints) is worth reading once.

#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>

#include "core/env.h"
#include "core/json_reader.h"

namespace vordak::motor {

class RecordReader {
 public:
  struct Record {
    ordered_json document;  // the source fingerprints' member an empty object
    TextMembers sources;    // the source fingerprints, by path
  };

  explicit RecordReader(Env& env) : env_(env) {}
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // The record at `file`, or null when it cannot be read or parsed or is no JSON object.
  // A record stays where it is for the reader's life.
  const Record* read(const fs::path& file);

 private:
  Env& env_;
  std::unordered_map<std::string, std::unique_ptr<const Record>> read_;  // null: not a record
};

}  // namespace vordak::motor
