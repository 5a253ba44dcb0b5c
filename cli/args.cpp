#include "cli/args.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "core/text.h"

namespace vordak::cli {

std::optional<std::string> ParsedArgs::value(const std::string& name) const {
  const auto found = values_.find(name);
  if (found == values_.end() || found->second.empty()) return std::nullopt;
  return found->second.back();
}

std::vector<std::string> ParsedArgs::values(const std::string& name) const {
  const auto found = values_.find(name);
  return found == values_.end() ? std::vector<std::string>{} : found->second;
}

ParsedArgs parse_args(const Command& command, const std::vector<std::string>& args) {
  ParsedArgs parsed;
  bool options_done = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_done && arg == "-h") {
      parsed.help_ = true;
      return parsed;
    }
    if (options_done || !arg.starts_with("--") || arg == "-") {
      parsed.positionals_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    if (arg == "--help") {
      parsed.help_ = true;
      return parsed;
    }
    const auto equals = arg.find('=');
    const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const Option* option = nullptr;
    for (const Option& candidate : command.options) {
      if (candidate.name == name) option = &candidate;
    }
    if (option == nullptr) {
      std::vector<std::string> names;
      for (const Option& candidate : command.options) names.push_back(candidate.name);
      const std::string near = closest_match(name, names);
      throw UsageError("unknown option --" + name, near.empty() ? "" : "did you mean --" + near + "?");
    }
    if (option->kind == Option::Kind::kFlag) {
      if (equals != std::string::npos) throw UsageError("--" + name + " takes no value");
      parsed.flags_.insert(name);
      continue;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      throw UsageError("--" + name + " needs a value (" + option->metavar + ")");
    }
    auto& slot = parsed.values_[name];
    if (option->kind == Option::Kind::kValue) slot.clear();
    slot.push_back(value);
  }
  if (parsed.positionals_.size() < command.min_positionals) {
    throw UsageError("missing argument: " + command.positionals);
  }
  if (parsed.positionals_.size() > command.max_positionals) {
    throw UsageError("unexpected argument: " + parsed.positionals_[command.max_positionals]);
  }
  return parsed;
}

std::string usage_text(const Command& command) {
  std::string text = "usage: vordak " + command.name + (command.options.empty() ? "" : " [options]");
  if (!command.positionals.empty()) text += " " + command.positionals;
  text += "\n\n" + command.summary + "\n";
  if (!command.options.empty()) text += "\noptions:\n";
  for (const Option& option : command.options) {
    std::string left = "  --" + option.name + (option.metavar.empty() ? "" : " " + option.metavar);
    text += pad_right(left, 28) + " " + option.help + (option.kind == Option::Kind::kRepeated ? " (repeatable)" : "") + "\n";
  }
  text += pad_right("  --help", 28) + " show this help\n";
  return text;
}

long long integer_value(const std::string& option, const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0) throw UsageError("--" + option + " needs an integer, got '" + text + "'");
  return value;
}

std::string closest_match(const std::string& given, const std::vector<std::string>& candidates) {
  std::string best;
  std::size_t best_distance = 3;
  for (const std::string& candidate : candidates) {
    // Levenshtein distance, one row at a time.
    std::vector<std::size_t> row(candidate.size() + 1);
    for (std::size_t j = 0; j < row.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= given.size(); ++i) {
      std::size_t diagonal = row[0];
      row[0] = i;
      for (std::size_t j = 1; j <= candidate.size(); ++j) {
        const std::size_t above = row[j];
        row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (given[i - 1] == candidate[j - 1] ? 0 : 1)});
        diagonal = above;
      }
    }
    const std::size_t distance = row.back();
    if (distance < best_distance && 2 * distance <= given.size()) {
      best = candidate;
      best_distance = distance;
    }
  }
  return best;
}

}  // namespace vordak::cli
