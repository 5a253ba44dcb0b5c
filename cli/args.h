#pragma once

// A small command-line parser: long options (--name VALUE or --name=VALUE), flags,
// repeatable options and positional arguments, with generated help text.

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak::cli {

// A usage mistake: the front end prints it on one line, a hint on a second ("did you
// mean", or where the help is), and exits with 2.
class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& message, std::string hint = "")
      : std::runtime_error(message), hint_(std::move(hint)) {}
  const std::string& hint() const { return hint_; }

 private:
  std::string hint_;
};

// Of `candidates`, the one `given` most likely misspells (at most two edits away, and
// no more than half its length); empty when none is near.
std::string closest_match(const std::string& given, const std::vector<std::string>& candidates);

struct Option {
  enum class Kind { kFlag, kValue, kRepeated };
  std::string name;     // without the leading "--"
  Kind kind;
  std::string metavar;  // shown in help for options that take a value
  std::string help;
};

struct Command {
  std::string name;
  std::string positionals;  // shown in the usage line, e.g. "STEP"
  std::size_t min_positionals = 0;
  std::size_t max_positionals = 0;
  std::string summary;
  std::vector<Option> options;
};

class ParsedArgs {
 public:
  bool flag(const std::string& name) const { return flags_.contains(name); }
  std::optional<std::string> value(const std::string& name) const;
  std::vector<std::string> values(const std::string& name) const;
  const std::vector<std::string>& positionals() const { return positionals_; }
  bool help() const { return help_; }

 private:
  friend ParsedArgs parse_args(const Command& command, const std::vector<std::string>& args);
  std::set<std::string> flags_;
  std::map<std::string, std::vector<std::string>> values_;
  std::vector<std::string> positionals_;
  bool help_ = false;
};

// Parses the arguments after the command name. Throws UsageError.
ParsedArgs parse_args(const Command& command, const std::vector<std::string>& args);

// "usage: vordak NAME [options] POSITIONALS", the summary and one line per option.
std::string usage_text(const Command& command);

// An integer option's value; a UsageError naming the option otherwise.
long long integer_value(const std::string& option, const std::string& text);

}  // namespace vordak::cli

VORDAK_PUBLIC_END
