#include "pipeline/extract_files.h"

#include <fnmatch.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "core/env.h"
#include "core/text.h"

namespace vordak::pipeline {

namespace {

// Bytes 0x80-0x9F of Windows-1254; 0 where the code page has no character.
constexpr char32_t kHighControls[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0,      0,
                                        0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0,      0x0178};

std::string file_list(const std::vector<std::string>& files) {
  std::vector<std::string> items;
  for (const std::string& file : files) items.push_back(sql_literal(file));
  return "[" + join(items, ", ") + "]";
}

// A text file's first line as it stands, without its line end; empty when there is no
// whole first line within the first 64 KiB.
std::string first_line(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::string line(64 * 1024, '\0');
  in.read(line.data(), static_cast<std::streamsize>(line.size()));
  line.resize(static_cast<std::size_t>(in.gcount()));
  const std::size_t end = line.find('\n');
  if (end == std::string::npos) return "";
  line.resize(end > 0 && line[end - 1] == '\r' ? end - 1 : end);
  return line;
}

// The names on a first line read the plain way: split at the delimiter, each perhaps in
// double quotes, a byte order mark dropped.
std::vector<std::string> plain_header(std::string line, const std::string& delimiter) {
  if (line.empty() || delimiter.empty()) return {};
  if (line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
  std::vector<std::string> names;
  for (std::size_t at = 0;;) {
    const std::size_t next = line.find(delimiter, at);
    std::string name = line.substr(at, next == std::string::npos ? std::string::npos : next - at);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    names.push_back(std::move(name));
    if (next == std::string::npos) return names;
    at = next + delimiter.size();
  }
}

bool names_every_column(const LoadContract& contract, const std::vector<std::string>& header) {
  return std::all_of(contract.columns.begin(), contract.columns.end(), [&](const LoadContract::Column& column) {
    return std::find(header.begin(), header.end(), column.name) != header.end();
  });
}

// Throws LoadError when the file, whose first line is `header_line`, lacks a contract column.
void check_header(Connection& con, const LoadContract& contract, const std::string& file, const std::string& shown,
                  const std::string& header_line) {
  // Most extracts name their columns on a plain first line. DuckDB's sniffer, which reads
  // well into the file, is asked only about the others, for what it found there.
  if (names_every_column(contract, plain_header(header_line, contract.delimiter))) return;
  std::vector<std::string> header;
  try {
    const Table described = con.query("DESCRIBE SELECT * FROM read_csv(" + sql_literal(file) + ", delim = " +
                                      sql_literal(contract.delimiter) + ", header = true, all_varchar = true)");
    for (std::size_t row = 0; row < described.num_rows(); ++row) header.emplace_back(described.column(0).text(row));
  } catch (const DatabaseError& error) {
    throw read_error(contract, shown, error);
  }
  std::vector<std::string> absent;
  for (const LoadContract::Column& column : contract.columns) {
    if (std::find(header.begin(), header.end(), column.name) == header.end()) absent.push_back(column.name);
  }
  if (!absent.empty()) {
    throw LoadError(contract.kaynak + ": " + shown + ": sütun eksik: " + join(absent, ", ") + " (başlık: " + join(header, " | ") +
                    "; ayraç " + sql_literal(contract.delimiter) + ")");
  }
}

void stage_text(Connection& con, const LoadContract& contract, const std::vector<std::string>& files, StagedExtracts& staged) {
  const bool windows_allowed = std::count(contract.encodings.begin(), contract.encodings.end(), "windows-1254") > 0;
  std::vector<std::string> readable;           // the files DuckDB reads: the extracts, or their UTF-8 copies
  std::map<std::string, std::string> copy_of;  // UTF-8 copy -> extract
  std::set<std::string> encodings;
  std::set<std::string> headers;  // the first lines of the files read
  for (const std::string& file : files) {
    if (fs::file_size(file) == 0) continue;
    std::string read = file;
    // Only a source that may come in Windows-1254 is read whole to tell: DuckDB itself
    // refuses what is not UTF-8, naming the file.
    if (windows_allowed) {
      const std::string bytes = Env::system().read_file(file);
      if (!is_valid_utf8(bytes)) {
        if (!staged.converted) staged.converted = std::make_unique<ScratchDir>();
        read = (staged.converted->path() / (std::to_string(readable.size()) + ".csv")).string();
        Env::system().write_file_atomic(read, windows1254_to_utf8(bytes));
        copy_of[read] = file;
        encodings.insert("windows-1254");
      } else {
        encodings.insert("utf-8");
      }
    } else {
      encodings.insert("utf-8");
    }
    const std::string header = first_line(read);
    check_header(con, contract, read, file, header);
    headers.insert(header);
    readable.push_back(read);
  }
  staged.encoding = join(std::vector<std::string>(encodings.rbegin(), encodings.rend()), ", ");
  staged.lines_before_first_row = 1;  // the header
  std::vector<std::string> columns;
  for (const LoadContract::Column& column : contract.columns) columns.push_back(sql_identifier(column.name));
  if (readable.empty()) {
    std::vector<std::string> nulls;
    for (const std::string& column : columns) nulls.push_back("NULL::VARCHAR AS " + column);
    staged.rows = "SELECT NULL::INTEGER AS _dosya, " + join(nulls, ", ") + " LIMIT 0";
    return;
  }
  for (const std::string& read : readable) staged.files.push_back(copy_of.contains(read) ? copy_of[read] : read);
  // A file's place is DuckDB's index of it in the list (`file_index`, from 0). Files whose
  // columns may stand in another order are matched by name, which costs DuckDB a look
  // into every file each time the rows are read; files with one first line need none.
  const bool one_header = headers.size() == 1 && !headers.begin()->empty();
  staged.rows = "SELECT (file_index + 1)::INTEGER AS _dosya, " + join(columns, ", ") + " FROM read_csv(" + file_list(readable) +
                ", delim = " + sql_literal(contract.delimiter) + ", header = true, all_varchar = true, quote = '\"'" +
                (one_header ? "" : ", union_by_name = true") + ")";
}

void stage_parquet(Connection& con, const LoadContract& contract, const std::vector<std::string>& files, StagedExtracts& staged) {
  staged.files = files;
  std::vector<std::string> columns;
  for (const LoadContract::Column& column : contract.columns) columns.push_back(sql_identifier(column.name));
  try {
    const Table schema = con.query("SELECT file_name, name FROM parquet_schema(" + file_list(files) + ")");
    std::map<std::string, std::set<std::string>> names;
    for (std::size_t row = 0; row < schema.num_rows(); ++row) {
      names[std::string(schema.column(0).text(row))].insert(std::string(schema.column(1).text(row)));
    }
    for (const std::string& file : files) {
      std::vector<std::string> absent;
      for (const LoadContract::Column& column : contract.columns) {
        if (!names[file].contains(column.name)) absent.push_back(column.name);
      }
      if (!absent.empty()) throw LoadError(contract.kaynak + ": " + file + ": sütun eksik: " + join(absent, ", "));
    }
  } catch (const DatabaseError& error) {
    throw read_error(contract, join(files, ", "), error);
  }
  staged.rows = "SELECT (file_index + 1)::INTEGER AS _dosya, " + join(columns, ", ") + " FROM read_parquet(" + file_list(files) +
                ", union_by_name = true)";
}

}  // namespace

LoadError read_error(const LoadContract& contract, const std::string& shown, const DatabaseError& error) {
  const std::string message = error.what();
  // DuckDB names the file on a line of its own when it read several.
  std::string file = shown;
  if (const std::size_t at = message.find("\n  file = "); at != std::string::npos) {
    const std::size_t start = at + std::string("\n  file = ").size();
    file = message.substr(start, message.find('\n', start) - start);
  }
  const std::string reason = message.find("Invalid unicode") != std::string::npos
                                 ? "UTF-8 değil (sözleşmedeki kodlama: " + join(contract.encodings, ", ") + ")"
                                 : message.substr(0, message.find('\n'));
  return LoadError(contract.kaynak + ": " + file + ": dosya okunamadı: " + reason);
}

std::vector<std::string> extract_files(const LoadContract& contract, const std::vector<std::string>& directories) {
  std::vector<std::string> files;
  for (const std::string& dir : directories) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
      const std::string name = entry.path().filename().string();
      if (entry.is_regular_file() && ::fnmatch(contract.dosyalar.c_str(), name.c_str(), FNM_PERIOD) == 0) {
        files.push_back(entry.path().string());
      }
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    throw LoadError(contract.kaynak + ": kaynak dosya bulunamadı (" + contract.dosyalar + "): " + join(directories, ", "));
  }
  return files;
}

std::string extract_signature(const std::vector<std::string>& files) {
  std::vector<std::string> parts;
  for (const std::string& file : files) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) throw LoadError("okunamadı: " + file);
    parts.push_back(fs::path(file).filename().string() + ":" + std::to_string(status.st_size) + ":" +
                    std::to_string(status.st_mtime));
  }
  return join(parts, ";");
}

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "vordak-load-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw LoadError("geçici dizin açılamadı: " + pattern);
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

StagedExtracts stage_extracts(Connection& con, const LoadContract& contract, const std::vector<std::string>& files) {
  StagedExtracts staged;
  if (contract.bicim == "parquet") {
    stage_parquet(con, contract, files, staged);
  } else {
    stage_text(con, contract, files, staged);
  }
  return staged;
}

std::string windows1254_to_utf8(std::string_view bytes) {
  std::u32string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    char32_t point = byte;
    if (byte >= 0x80 && byte < 0xA0) {
      point = kHighControls[byte - 0x80] != 0 ? kHighControls[byte - 0x80] : U'\uFFFD';
    } else if (byte == 0xD0) {
      point = U'Ğ';
    } else if (byte == 0xDD) {
      point = U'İ';
    } else if (byte == 0xDE) {
      point = U'Ş';
    } else if (byte == 0xF0) {
      point = U'ğ';
    } else if (byte == 0xFD) {
      point = U'ı';
    } else if (byte == 0xFE) {
      point = U'ş';
    }
    text.push_back(point);
  }
  return encode_utf8(text);
}

}  // namespace vordak::pipeline
