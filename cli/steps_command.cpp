// `vordak steps`: the step table as operators and the notebook builder read it.

#include "cli/commands.h"
#include "core/json_writer.h"
#include "core/sink.h"
#include "core/text.h"
#include "motor/step_table.h"

namespace vordak::cli {

namespace {

ordered_json text_list(const std::vector<std::string>& items) { return ordered_json(items); }

ordered_json optional_text(std::string_view text) { return text.empty() ? ordered_json(nullptr) : ordered_json(text); }

ordered_json table_json() {
  ordered_json steps = ordered_json::array();
  for (const motor::StepDefinition& definition : motor::step_table()) {
    ordered_json step = ordered_json::object();
    step["adim"] = definition.kod;
    step["nb"] = definition.nb;
    step["aciklama"] = definition.aciklama;
    step["bagimlilik"] = text_list(definition.upstream);
    step["okur"] = text_list(definition.reads);
    step["veri_kaynaklari"] = text_list(definition.data_sources);
    step["kaynak_parametresi"] = optional_text(motor::source_param_name(definition.source_param));
    step["parametreler"] = text_list(motor::step_param_names(definition));
    step["run_grubu"] = optional_text(motor::group_name(definition.group));
    steps.push_back(std::move(step));
  }
  ordered_json table = ordered_json::object();
  table["temel_parametreler"] = text_list(motor::base_param_names());
  table["adimlar"] = std::move(steps);
  table["run_sirasi"] = text_list(motor::default_run_order());
  table["tum_adimlar_sirasi"] = text_list(motor::full_run_order());
  table["run_sonunda_yeniden"] = text_list(motor::offered_again(motor::default_run_order()));
  return table;
}

std::string listed(const std::vector<std::string>& items) { return items.empty() ? "-" : join(items, ","); }

void print_table(Sink& out) {
  out.line("  " + pad_left("#", 2) + "  " + pad_right("adım", 20) + " " + pad_right("notebook", 33) + " " +
           pad_right("run", 9) + " " + pad_right("veri kaynakları", 46) + " bağımlılıklar");
  int number = 0;
  for (const motor::StepDefinition& definition : motor::step_table()) {
    std::string sources = "-";
    if (!definition.data_sources.empty()) {
      sources = std::string(motor::source_param_name(definition.source_param)) + "=" + listed(definition.data_sources);
    }
    const std::string_view group = motor::group_name(definition.group);
    out.line("  " + pad_left(std::to_string(++number), 2) + "  " + pad_right(definition.kod, 20) + " " + pad_right(definition.nb, 33) +
             " " + pad_right(group.empty() ? "-" : group, 9) + " " + pad_right(sources, 46) + " " + listed(definition.upstream) +
             (definition.reads == definition.upstream ? "" : "  okur: " + listed(definition.reads)));
  }
  const std::vector<std::string> offered = motor::default_run_order();
  const std::vector<std::string> all = motor::full_run_order();
  out.line("");
  out.line("  vordak run (" + std::to_string(offered.size()) + " adım): " + join(offered, " "));
  out.line("  vordak run sonunda, okuduğu adımlar ondan sonra değiştiyse yeniden: " + listed(motor::offered_again(offered)));
  out.line("  vordak run --all-steps (" + std::to_string(all.size()) + " adım): " + join(all, " "));
}

int steps_command(const ParsedArgs& args) {
  if (args.flag("json")) {
    stdout_sink().line(to_json_text(table_json(), JsonWriter::Layout::kIndented));
  } else {
    print_table(stdout_sink());
  }
  return 0;
}

const RegisterTool kSteps({{"steps", "", 0, 0,
                            "Prints the step table: notebooks, dependencies, data sources, and which steps a run "
                            "offers in which order.",
                            {{"json", Option::Kind::kFlag, "", "print the table as JSON"}}},
                           steps_command});

}  // namespace

}  // namespace vordak::cli
