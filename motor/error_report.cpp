#include "motor/error_report.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "core/clock.h"
#include "motor/executor.h"

namespace vordak::motor {

namespace {

std::string kind_name(const std::exception& failure) {
  const char* mangled = typeid(failure).name();
  int status = 0;
  const std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                         std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

std::string with_final_newline(std::string text) {
  if (!text.empty() && text.back() != '\n') text += '\n';
  return text;
}

}  // namespace

std::string strip_terminal_codes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] != '\x1b') {
      out += text[i++];
      continue;
    }
    ++i;
    if (i < text.size() && text[i] == '[') {
      // Control sequence: parameter and intermediate bytes, then one final byte.
      ++i;
      while (i < text.size() && text[i] >= 0x20 && text[i] <= 0x3F) ++i;
      if (i < text.size() && text[i] >= 0x40 && text[i] <= 0x7E) ++i;
    } else if (i < text.size() && text[i] == ']') {
      // Operating-system command (a window title, a hyperlink), ended by BEL or ESC \.
      ++i;
      while (i < text.size() && text[i] != '\a' && text[i] != '\x1b') ++i;
      if (i < text.size() && text[i] == '\a') ++i;
      else if (i + 1 < text.size() && text[i + 1] == '\\') i += 2;
    } else if (i < text.size() && text[i] >= 0x40 && text[i] <= 0x5F) {
      ++i;
    }
  }
  return out;
}

void save_error_report(const std::exception& failure, const std::filesystem::path& db_path,
                       const std::string& context, const std::filesystem::path& output_path, Env& env) {
  std::string report = "=== Hata raporu ===\n";
  report += "Zaman: " + iso_text(env.now()) + "\n";
  report += "Bağlam: " + context + "\n";
  report += "Veritabanı: " + db_path.string() + "\n";
  report += "Hata türü: " + kind_name(failure) + "\n";
  report += "Mesaj: " + with_final_newline(strip_terminal_codes(failure.what()));
  if (const auto* notebook = dynamic_cast<const NotebookFailure*>(&failure)) {
    report += "\n" + with_final_newline(strip_terminal_codes(notebook->report()));
  }

  std::string content;
  if (env.exists(output_path)) {
    content = with_final_newline(env.read_file(output_path));
    if (!content.empty()) content += '\n';
  } else if (output_path.has_parent_path()) {
    env.create_directories(output_path.parent_path());
  }
  content += report;
  env.write_file_atomic(output_path, content);
}

}  // namespace vordak::motor
