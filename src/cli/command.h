// A command of moravelt-cli: each command file declares its subcommand, with its options,
// help and examples next to the code that runs it, and hands back what to run when that
// subcommand is the one given.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/common.h"

namespace cli {

struct Command {
  CLI::App* app;                    // the subcommand, parsed by cli::Run
  std::function<int(Console&)> run;  // what it does, with the options parsed
};
using Commands = std::vector<Command>;

// --yes and --as, for a command that opens one save.
void AddOpenOptions(CLI::App* cmd, OpenOptions& options);

// Each adds its subcommands to the application and their runners to the list.
void AddInfoCommand(CLI::App& app, Commands& commands);
void AddConvertCommands(CLI::App& app, Commands& commands);  // convert, batch
void AddExtractCommands(CLI::App& app, Commands& commands);  // extract, unpack
void AddPackCommand(CLI::App& app, Commands& commands);
void AddEditCommands(CLI::App& app, Commands& commands);     // rename, add, remove, set-mode, set-time
void AddCardCommands(CLI::App& app, Commands& commands);     // card ls, export, import, rm, format, check, convert
void AddIconCommand(CLI::App& app, Commands& commands);
void AddSdCommands(CLI::App& app, Commands& commands);       // sd ls, find, split, merge, check

}  // namespace cli
