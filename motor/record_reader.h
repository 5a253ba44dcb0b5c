#pragma once

// Meta records and manifests of earlier seasons, each read and parsed once in a process.
// A run's decisions and its runs page read the same records, which do not change while
// the working directory is locked; a large one (tens of thousands of source
// fingerprints) is worth reading once.

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "core/env.h"
#include "core/record_parser.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

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
  // A record stays where it is for the reader's life. Safe to call from several threads:
  // a file being read by one is waited for by the others.
  const Record* read(const fs::path& file);

 private:
  struct Entry {
    bool done = false;
    std::unique_ptr<const Record> record;  // null: not a record
  };

  Env& env_;
  std::mutex mutex_;
  std::condition_variable read_done_;
  std::unordered_map<std::string, Entry> read_;
};

}  // namespace vordak::motor

VORDAK_PUBLIC_END
