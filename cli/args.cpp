#include "cli/args.h"

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
    if (option == nullptr) throw UsageError("unknown option --" + name);
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

}  // namespace vordak::cli
