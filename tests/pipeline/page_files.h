#pragma once

// A dashboard page's embedded data and its data files, read back as the page reads them;
// one page written as a mart run writes it, for tests of the page alone.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/csv_reader.h"
#include "core/env.h"
#include "core/files.h"
#include "core/json_writer.h"
#include "pipeline/dashboard_data.h"
#include "pipeline/edition_data.h"
#include "pipeline/firm_facts.h"
#include "pipeline/html_render.h"
#include "pipeline/page_data_folder.h"
#include "pipeline/trending.h"
#include "test_support.h"

namespace vordak::pipeline::testing {

// The page of the rows that pass `row_filter` at `html_path` and its data files in the
// folder beside it, with the branch and region names of the reference CSV at
// `ref_csv_path`, as a mart run makes an edition.
inline void write_page(const Scoreboard& scoreboard, const std::filesystem::path& html_path,
                       const std::filesystem::path& ref_csv_path, const RowFilter& row_filter = {},
                       double max_size_mb = 12.5, const ordered_json& extra_data = nullptr,
                       const PageContext& context = {}) {
  Env& env = Env::system();
  const BranchNames names = reference_names(parse_csv(env.read_file(ref_csv_path)));
  const FirmFacts facts = firm_facts(scoreboard, build_watch_lists(scoreboard), watch_list_history(scoreboard), {});
  PageDataFolder folder(env, html_path, context.generated_at.value_or(env.now()));
  const EditionData data = write_edition_data(scoreboard, row_filter, facts, context, folder.folder());
  const std::string page = render_page(scoreboard, html_path, names, data, max_size_mb, extra_data, context);
  folder.sync();
  AtomicFile file(env, html_path, FileAccess::kPrivate);
  file.write(page);
  file.commit();
  folder.keep();
}

// The JSON document a page embeds for its script.
inline ordered_json page_data(const std::string& page) {
  const std::string open = "<script id=\"vrd-data\" type=\"application/json\">";
  const std::size_t begin = page.find(open);
  EXPECT_NE(begin, std::string::npos);
  const std::size_t end = page.find("</script>", begin);
  return ordered_json::parse(page.substr(begin + open.size(), end - begin - open.size()));
}

inline std::string base64_decoded(const std::string& text) {
  static const std::string kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned value = 0;
  int bits = 0;
  for (const char c : text) {
    if (c == '=') break;
    value = value << 6 | static_cast<unsigned>(kDigits.find(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>(value >> bits & 0xFF);
    }
  }
  return out;
}

// The value a data script hands the page: vrdVeri("name",<value>); fails the test when it
// is not a data script of that name. A binary file's value is its bytes in Base64.
inline std::string script_payload(const std::string& script, const std::string& name) {
  const std::string prefix = "vrdVeri(\"" + name + "\",";
  EXPECT_TRUE(script.starts_with(prefix) && script.ends_with(");\n")) << name;
  if (!script.starts_with(prefix) || !script.ends_with(");\n")) return "null";
  return script.substr(prefix.size(), script.size() - prefix.size() - 3);
}

// The payload of data file `name` of the page at `html`.
inline std::string data_file(const std::filesystem::path& html, const std::string& name) {
  const ordered_json data = page_data(vordak::testing::read_text(html));
  return script_payload(
      vordak::testing::read_text(html.parent_path() / data["veri"]["klasor"].get<std::string>() / (name + ".js")), name);
}

inline ordered_json data_json(const std::filesystem::path& html, const std::string& name) {
  return ordered_json::parse(data_file(html, name));
}

}  // namespace vordak::pipeline::testing
