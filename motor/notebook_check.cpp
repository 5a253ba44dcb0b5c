#include "motor/notebook_check.h"

#include <stdexcept>
#include <string>

#include "core/io_error.h"
#include "core/json_writer.h"
#include "core/text.h"
#include "motor/bad_notebook.h"
#include "motor/fingerprint.h"

namespace vordak::motor {

namespace {

bool tagged_parameters(const ordered_json& cell) {
  const auto metadata = cell.find("metadata");
  if (metadata == cell.end() || !metadata->is_object()) return false;
  const auto tags = metadata->find("tags");
  if (tags == metadata->end() || !tags->is_array()) return false;
  for (const auto& tag : *tags) {
    if (tag == "parameters") return true;
  }
  return false;
}

}  // namespace

void check_notebook(const std::filesystem::path& path, Env& env) {
  std::string text;
  try {
    text = env.read_file(path);
  } catch (const IoError& failure) {
    throw IoError::worded(std::string("notebook okunamadı: ") + failure.what(), failure.path(), failure.code());
  }
  if (!is_valid_utf8(text)) throw BadNotebook("notebook UTF-8 değil: " + path.string(), path);
  ordered_json notebook;
  try {
    notebook = parse_json(text);
  } catch (const std::exception& failure) {
    throw BadNotebook("notebook geçerli JSON değil: " + path.string() + " (" + failure.what() + ")", path);
  }
  const auto cells = notebook.is_object() ? notebook.find("cells") : notebook.end();
  if (!notebook.is_object() || cells == notebook.end() || !cells->is_array()) {
    throw BadNotebook("notebook'un hücre listesi yok: " + path.string(), path);
  }
  bool parameters = false;
  for (const auto& cell : *cells) {
    if (!cell.is_object()) throw BadNotebook("notebook'ta nesne olmayan bir hücre var: " + path.string(), path);
    const auto type = cell.find("cell_type");
    if (type != cell.end() && *type == "code" && tagged_parameters(cell)) parameters = true;
  }
  // Its code must be what the engine fingerprints: else every run would find it changed.
  if (!notebook_code_fingerprint(text)) {
    throw BadNotebook("notebook'ta kaynağı metin olmayan bir hücre var: " + path.string(), path);
  }
  if (parameters) return;
  throw BadNotebook("notebook'ta \"parameters\" etiketli kod hücresi yok: " + path.string() +
                        " (çalıştırmanın parametreleri bu hücreden sonra verilir)",
                    path);
}

}  // namespace vordak::motor
