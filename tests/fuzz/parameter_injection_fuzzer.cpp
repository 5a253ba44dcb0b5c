// Parameter values come from the command line and the data-source path file. Whatever
// their text, each is written as a Python literal that cannot end early: one line, in
// double quotes, with no unescaped quote or backslash inside.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "motor/parameter_injection.h"

using namespace vordak;

namespace {

// True when `literal` is one double-quoted Python string whose quotes and backslashes
// inside are all escaped, on one line.
bool closed_literal(const std::string& literal) {
  if (literal.size() < 2 || literal.front() != '"' || literal.back() != '"') return false;
  for (std::size_t i = 1; i + 1 < literal.size(); ++i) {
    const char c = literal[i];
    if (c == '\n' || c == '\r' || c == '"') return false;
    if (c == '\\') {
      if (i + 2 >= literal.size()) return false;  // would escape the closing quote
      ++i;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  motor::NotebookParams params;
  while (input.remaining_bytes() > 0) {
    const std::string name = input.ConsumeRandomLengthString(16);
    if (input.ConsumeBool()) {
      const std::string value = input.ConsumeRandomLengthString(64);
      if (!closed_literal(motor::python_literal(value))) std::abort();
      params.set(name, value);
    } else {
      params.set(name, input.ConsumeIntegral<std::int64_t>());
    }
  }
  ordered_json notebook = {{"cells", ordered_json::array()}, {"metadata", ordered_json::object()}, {"nbformat", 4},
                           {"nbformat_minor", 5}};
  try {
    motor::inject_parameters(notebook, params);
  } catch (const std::invalid_argument&) {
    // A name that is not a Python identifier is refused.
  }
  return 0;
}
