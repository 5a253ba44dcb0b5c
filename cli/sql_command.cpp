// `vordak sql`: runs SQL on the analytic database and prints the last statement's result,
// as an aligned table for people or as CSV for the notebooks. A database failure reaches
// the front end, which prints it and exits with 1.

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/npy_columns.h"
#include "core/number_text.h"
#include "core/sink.h"
#include "core/text.h"
#include "pipeline/duckdb_connection.h"

namespace vordak::cli {

namespace {

using pipeline::Column;
using pipeline::ColumnKind;
using pipeline::Table;

// Splits SQL text into statements at the semicolons that lie outside quotes and
// comments; blank statements (only white space and comments) are dropped.
std::vector<std::string> split_statements(const std::string& text) {
  std::vector<std::string> statements;
  std::string current;
  bool has_content = false;
  const auto finish = [&] {
    if (has_content) statements.push_back(current);
    current.clear();
    has_content = false;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\'' || c == '"') {
      const std::size_t close = text.find(c, i + 1);
      const std::size_t end = close == std::string::npos ? text.size() : close + 1;
      current.append(text, i, end - i);
      has_content = true;
      i = end - 1;  // a doubled quote inside a literal reads as two adjacent literals
    } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      const std::size_t end = text.find('\n', i);
      i = end == std::string::npos ? text.size() : end;
      current += '\n';
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      const std::size_t end = text.find("*/", i + 2);
      i = end == std::string::npos ? text.size() : end + 1;
      current += ' ';
    } else if (c == ';') {
      finish();
    } else {
      current += c;
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') has_content = true;
    }
  }
  finish();
  return statements;
}

std::string cell_text(const Column& column, std::size_t row) {
  switch (column.kind()) {
    case ColumnKind::kInteger: return int_text(column.integer(row));
    case ColumnKind::kFloat: return python_float_repr(column.floating(row));
    case ColumnKind::kBoolean: return column.boolean(row) ? "true" : "false";
    case ColumnKind::kText: return std::string(column.text(row));
    case ColumnKind::kJson: return column.json(row).dump();
  }
  return "";
}

// A field quoted when it holds a separator, a quote or a line break, and an empty text
// written as "" so that it differs from a null (an empty field).
std::string csv_field(const std::string& text, bool is_text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos && !(is_text && text.empty())) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string csv_header(const std::vector<std::string>& names) {
  std::string line;
  for (std::size_t c = 0; c < names.size(); ++c) {
    if (c != 0) line += ',';
    line += csv_field(names[c], false);
  }
  return line + '\n';
}

std::string csv_header(const Table& table) {
  std::vector<std::string> names;
  for (std::size_t c = 0; c < table.num_columns(); ++c) names.push_back(table.column(c).name());
  return csv_header(names);
}

// The CSV is data for the notebooks rather than lines for a person: it goes to `out` in
// large blocks, since a flush per line makes a large result three times slower.
void print_csv(const Table& table, std::FILE* out) {
  std::string block = csv_header(table);
  for (std::size_t row = 0; row < table.num_rows(); ++row) {
    for (std::size_t c = 0; c < table.num_columns(); ++c) {
      const Column& column = table.column(c);
      if (c != 0) block += ',';
      if (!column.is_null(row)) block += csv_field(cell_text(column, row), column.kind() == ColumnKind::kText);
    }
    block += '\n';
    if (block.size() > (1 << 20)) {
      std::fwrite(block.data(), 1, block.size(), out);
      block.clear();
    }
  }
  std::fwrite(block.data(), 1, block.size(), out);
  std::fflush(out);
}

// Columns padded to their widest value; numbers right-aligned, nulls shown as NULL.
void print_aligned(const Table& table, Sink& sink) {
  const std::size_t columns = table.num_columns();
  std::vector<std::vector<std::string>> cells(columns);
  std::vector<std::size_t> widths(columns);
  for (std::size_t c = 0; c < columns; ++c) {
    const Column& column = table.column(c);
    widths[c] = utf8_length(column.name());
    for (std::size_t row = 0; row < table.num_rows(); ++row) {
      cells[c].push_back(column.is_null(row) ? "NULL" : cell_text(column, row));
      widths[c] = std::max(widths[c], utf8_length(cells[c].back()));
    }
  }
  const auto line = [&](const auto& text_of) {
    std::string out;
    for (std::size_t c = 0; c < columns; ++c) {
      if (c != 0) out += "  ";
      const bool numeric = table.column(c).kind() == ColumnKind::kInteger || table.column(c).kind() == ColumnKind::kFloat;
      out += numeric ? pad_left(text_of(c), widths[c]) : pad_right(text_of(c), widths[c]);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    sink.line(out);
  };
  line([&](std::size_t c) { return table.column(c).name(); });
  line([&](std::size_t c) { return std::string(widths[c], '-'); });
  for (std::size_t row = 0; row < table.num_rows(); ++row) line([&](std::size_t c) { return cells[c][row]; });
  sink.line("(" + std::to_string(table.num_rows()) + " satır)");
}

int sql_command(const ParsedArgs& args) {
  const auto db = args.value("db");
  if (!db) throw UsageError("--db PATH is required");
  const std::vector<std::string> statements = split_statements(args.positionals().front());
  if (statements.empty()) throw UsageError("no SQL statement given");
  const std::optional<std::string> npy_dir = args.value("npy");
  Table last;
  std::vector<std::string> npy_names;
  {
    const std::unique_ptr<motor::WorkDirLock> lock =
        *db == ":memory:" ? nullptr : lock_database(*db, "sql");
    // Only the schema step creates the database (--create): a mistyped path elsewhere
    // must not leave an empty database behind.
    const bool create = args.flag("create") || *db == ":memory:";
    pipeline::Connection con(*db, create ? pipeline::Connection::Open::kCreate : pipeline::Connection::Open::kExisting);
    for (std::size_t i = 0; i + 1 < statements.size(); ++i) con.execute(statements[i]);
    // A model's training rows can outgrow memory held as a table: they go to the files
    // as they come.
    if (npy_dir) npy_names = write_npy_columns(con, statements.back(), *npy_dir);
    else last = con.query(statements.back());
  }
  if (npy_dir) {
    if (!npy_names.empty()) std::fputs(csv_header(npy_names).c_str(), stdout);
    return 0;
  }
  if (last.num_columns() == 0) return 0;
  if (args.flag("csv")) {
    print_csv(last, stdout);
  } else {
    print_aligned(last, stdout_sink());
  }
  return 0;
}

const RegisterTool kSql({{"sql", "SQL", 1, 1,
                                           "Runs SQL on the analytic database and prints the last statement's result.",
                                           {{"db", Option::Kind::kValue, "PATH", "an existing database file"},
                                            {"create", Option::Kind::kFlag, "", "create the database file when missing"},
                                            {"csv", Option::Kind::kFlag, "", "print CSV with a header instead of a table"},
                                            {"npy", Option::Kind::kValue, "DIR",
                                             "write each column as DIR/<i>.npy for NumPy and print only the CSV header"}}},
                                          sql_command});

}  // namespace

}  // namespace vordak::cli
