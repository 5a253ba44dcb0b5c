// The dashboards read the branch-region CSV back from disk, where anyone may have edited
// it. Any text parses without a crash or a hang; and records written out with RFC 4180
// quoting read back as the same records.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/csv_reader.h"

using namespace vordak;

namespace {

std::string csv_field(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (const char c : field) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)parse_csv(text);

  FuzzedDataProvider input(data, size);
  std::vector<std::vector<std::string>> records;
  std::string written;
  while (input.remaining_bytes() > 0 && records.size() < 16) {
    std::vector<std::string> record;
    const int fields = input.ConsumeIntegralInRange(1, 6);
    for (int i = 0; i < fields; ++i) record.push_back(input.ConsumeRandomLengthString(24));
    for (std::size_t i = 0; i < record.size(); ++i) written += (i ? "," : "") + csv_field(record[i]);
    written += input.ConsumeBool() ? "\r\n" : "\n";
    records.push_back(record);
  }
  if (parse_csv(written) != records) std::abort();
  return 0;
}
