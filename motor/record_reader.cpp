#include "motor/record_reader.h"

#include "motor/fingerprint.h"

namespace vordak::motor {

namespace {

std::unique_ptr<const RecordReader::Record> parse_record(const fs::path& file, Env& env) {
  try {
    auto record = std::make_unique<RecordReader::Record>();
    record->document = parse_record(env.read_file(file), kSourceHashes, record->sources);
    if (record->document.is_object()) return record;
  } catch (const std::exception&) {
    // Unreadable or malformed: the caller passes it over.
  }
  return nullptr;
}

}  // namespace

const RecordReader::Record* RecordReader::read(const fs::path& file) {
  std::unique_lock lock(mutex_);
  // Entries keep their place in the map however it grows.
  const auto [at, added] = read_.try_emplace(file.string());
  Entry& entry = at->second;
  if (!added) {
    read_done_.wait(lock, [&entry] { return entry.done; });
    return entry.record.get();
  }
  lock.unlock();
  std::unique_ptr<const Record> record = parse_record(file, env_);
  lock.lock();
  entry.record = std::move(record);
  entry.done = true;
  read_done_.notify_all();
  return entry.record.get();
}

}  // namespace vordak::motor
