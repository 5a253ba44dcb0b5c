// `vordak sources`: the data sources' contracts, as operators and the data owners read them.

#include "cli/commands.h"
#include "core/json_writer.h"
#include "core/number_text.h"
#include "core/sink.h"
#include "core/text.h"
#include "motor/source_contracts.h"

namespace vordak::cli {

namespace {

std::string check_text(const motor::Check& check) {
  return check.name + " " + python_float_repr(check.threshold) + (check.blocks ? " engeller" : " uyarır");
}

void print_contracts(Sink& out) {
  for (const motor::SourceContract& contract : motor::source_contracts()) {
    out.line("  " + contract.kaynak + "  (" + contract.adim + " → " + contract.tablo + ")");
    std::string files = "    dosyalar: " + contract.dosyalar + " · " + std::string(motor::file_format_name(contract.format));
    if (contract.format == motor::FileFormat::kCsv) {
      files += " · " + join(contract.encodings, " ya da ") + " · ayraç '" + contract.delimiter + "' · ondalık '" +
               contract.decimal_mark + "'";
    }
    out.line(files);
    out.line("    anahtar: " + join(contract.key, ", ") +
             (contract.period_column ? " · dönem: " + *contract.period_column + " (YYYYMM)" : std::string()));
    std::vector<std::string> columns;
    for (const motor::ContractColumn& column : contract.columns) {
      std::string text = column.name + " " + std::string(motor::value_type_name(column.type));
      if (column.required) text += " zorunlu";
      if (!column.allowed.empty()) text += " {" + join(column.allowed, ", ") + "}";
      columns.push_back(text);
    }
    out.line("    sütunlar: " + join(columns, ", "));
    std::vector<std::string> checks;
    for (const motor::Check& check : contract.checks) checks.push_back(check_text(check));
    out.line("    kontroller: " + join(checks, ", "));
  }
  out.line("");
  for (const motor::CrossCheck& cross : motor::cross_source_checks()) {
    out.line("  kaynaklar arası: " + check_text(cross.check) + " (" + join(cross.sources, ", ") + ") — " + cross.check.aciklama);
  }
  out.line("");
  out.line("  Bir kontrolün başarısızlığını bir çalıştırma için kabul etmek: vordak run --accept KONTROL (ya da KAYNAK:KONTROL)");
}

int sources_command(const ParsedArgs& args) {
  if (args.flag("json")) {
    ordered_json contracts = ordered_json::array();
    for (const motor::SourceContract& contract : motor::source_contracts()) contracts.push_back(motor::contract_json(contract));
    ordered_json cross = ordered_json::array();
    for (const motor::CrossCheck& check : motor::cross_source_checks()) cross.push_back(motor::cross_check_json(check));
    const ordered_json document = {{"kaynaklar", contracts}, {"kaynaklar_arasi", cross}};
    stdout_sink().line(to_json_text(document, JsonWriter::Layout::kIndented));
  } else {
    print_contracts(stdout_sink());
  }
  return 0;
}

const RegisterTool kSources({{"sources", "", 0, 0,
                              "Prints the data sources' contracts: files, encoding, columns, key, period, and the "
                              "checks every load makes with their thresholds.",
                              {{"json", Option::Kind::kFlag, "", "print the contracts as JSON"}}},
                             sources_command});

}  // namespace

}  // namespace vordak::cli
