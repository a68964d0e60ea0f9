// The subcommands. Each adds itself to the command line with its options,
// help text and examples; parsing a command line sets the action to run.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

namespace qvtool {

using Action = std::function<int()>;

void addInfoCommand(CLI::App& app, Action& action);
void addCheckCommand(CLI::App& app, Action& action);
void addConvertCommand(CLI::App& app, Action& action);
void addExportCommand(CLI::App& app, Action& action);
void addGrabCommand(CLI::App& app, Action& action);
void addNamesCommand(CLI::App& app, Action& action);
void addDemoCommand(CLI::App& app, Action& action);

// Binds the options to a value the action keeps alive.
template <typename Options>
CLI::App* addCommand(CLI::App& app, Action& action, const char* name, const char* description,
                     const char* examples, std::shared_ptr<Options>& options,
                     int (*run)(const Options&)) {
  options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(name, description);
  command->footer(
      std::string(
          "\nGlobal options (before or after the command): -v, --log FILE.\n"
          "Exit codes: 0 success, 1 failure, 2 usage error, 130 interrupted.\n\nExamples:\n") +
      examples);
  command->callback([&action, options, run] { action = [options, run] { return run(*options); }; });
  return command;
}

}  // namespace qvtool
