// The `vordak` command: one program, one subcommand per job.

#include <dlfcn.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/text.h"
#include "core/version.h"
#include "motor/motor.h"
#include "motor/work_dir_lock.h"

namespace {

using vordak::cli::Subcommand;

// The exit status of a command refused because another run holds its working directory:
// sysexits' EX_TEMPFAIL, a failure that a later try may not meet.
constexpr int kLockedExit = 75;

// Loads the module of the commands that open DuckDB databases (marts, sql, demo, load, reconcile); its
// commands register themselves with the tools as it loads. Only when it is needed: for
// one of them, or to list every command. False, with the reason on standard error, when
// the installation lacks it.
bool load_data_commands() {
  // By its full path: a run path is not searched when a sanitizer's runtime is the caller.
  const std::string module = (vordak::cli::commands_library_dir() / "libvordak_data.so").string();
  if (::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL) != nullptr) return true;
  std::fprintf(stderr, "vordak: the data commands (marts, sql, demo, load, reconcile) cannot be loaded: %s\n", ::dlerror());
  return false;
}

std::vector<Subcommand> all_subcommands() {
  std::vector<Subcommand> commands = vordak::cli::engine_subcommands();
  for (auto& command : vordak::cli::tool_subcommands()) commands.push_back(command);
  return commands;
}

void print_overview(std::FILE* out, const std::vector<Subcommand>& commands) {
  std::fprintf(out, "usage: vordak COMMAND [options]\n\nVordak %s: credit early-warning pipeline and marts.\n\ncommands:\n",
               vordak::kVersion);
  for (const Subcommand& sub : commands) std::fprintf(out, "  %-8s %s\n", sub.command.name.c_str(), sub.command.summary.c_str());
  std::fprintf(out, "\n'vordak COMMAND --help' describes one command; 'vordak --version' prints the version.\n");
  std::fprintf(out,
               "\nexit status: 0 success; 1 the work failed (a step ended in HATA or NB YOK, a check found a problem);\n"
               "2 a usage mistake, or a directory that is no working directory; %d the working directory is\n"
               "locked by another run (try again later); 130 or 143 stopped by SIGINT or SIGTERM.\n",
               kLockedExit);
}

// Prints a usage mistake: one line, then one hint line.
int usage_mistake(const std::string& who, const std::string& message, const std::string& hint) {
  std::fprintf(stderr, "%s: %s\n  %s\n", who.c_str(), vordak::terminal_safe(message).c_str(),
               vordak::terminal_safe(hint).c_str());
  return 2;
}

const Subcommand* find_subcommand(const std::vector<Subcommand>& commands, const std::string& name) {
  for (const Subcommand& sub : commands) {
    if (sub.command.name == name) return &sub;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Subcommand> commands = all_subcommands();
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || (find_subcommand(commands, args[0]) == nullptr && args[0] != "--version")) {
    if (!load_data_commands()) return 1;
    commands = all_subcommands();
  }
  if (args.empty()) {
    print_overview(stderr, commands);
    return 2;
  }
  if (args[0] == "--version") {
    std::printf("vordak %s\n", vordak::kVersion);
    return 0;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    print_overview(stdout, commands);
    return 0;
  }
  if (const Subcommand* found = find_subcommand(commands, args[0])) {
    const Subcommand& sub = *found;
    try {
      const auto parsed = vordak::cli::parse_args(sub.command, {args.begin() + 1, args.end()});
      if (parsed.help()) {
        std::fputs(vordak::cli::usage_text(sub.command).c_str(), stdout);
        return 0;
      }
      return sub.run(parsed);
    } catch (const vordak::cli::UsageError& error) {
      return usage_mistake("vordak " + args[0], error.what(),
                           error.hint().empty() ? "see: vordak " + args[0] + " --help" : error.hint());
    } catch (const vordak::motor::WorkDirBusy& busy) {
      std::fflush(stdout);
      std::fprintf(stderr, "vordak %s: %s\n", args[0].c_str(), vordak::terminal_safe(busy.what()).c_str());
      return kLockedExit;
    } catch (const vordak::motor::StopRequest& stop) {
      std::fflush(stdout);
      std::fprintf(stderr, "%s\n", vordak::terminal_safe(stop.what()).c_str());
      return 1;
    } catch (const std::exception& failure) {
      std::fflush(stdout);
      std::fprintf(stderr, "vordak %s: %s\n", args[0].c_str(), vordak::terminal_safe(failure.what()).c_str());
      return 1;
    }
  }
  std::vector<std::string> names;
  for (const Subcommand& sub : commands) names.push_back(sub.command.name);
  const std::string near = vordak::cli::closest_match(args[0], names);
  return usage_mistake("vordak", "unknown command '" + args[0] + "'",
                       near.empty() ? "see: vordak --help" : "did you mean " + near + "? (vordak --help lists every command)");
}
