#include "motor/record_reader.h"

#include "motor/fingerprint.h"

namespace vordak::motor {

const RecordReader::Record* RecordReader::read(const fs::path& file) {
  const auto [at, added] = read_.try_emplace(file.string());
  if (!added) return at->second.get();
  try {
    auto record = std::make_unique<Record>();
    record->document = parse_json(env_.read_file(file), kSourceHashes, &record->sources);
    if (record->document.is_object()) at->second = std::move(record);
  } catch (const std::exception&) {
    // Unreadable or malformed: the caller passes it over.
  }
  return at->second.get();
}

}  // namespace vordak::motor
