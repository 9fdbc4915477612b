#include "cli/cli.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>

#include "cli/command.h"
#include "io/file.h"
#include "formats/registry.h"

namespace cli {

namespace {

constexpr const char* kOverview =
    "Examples:\n"
    "  moravelt-cli info game.max\n"
    "  moravelt-cli convert game.max game.psu\n"
    "  moravelt-cli batch --to psu -o converted saves/\n"
    "  moravelt-cli unpack game.psu folders/\n"
    "  moravelt-cli pack folders/BESLES-12345SAVE game.psu\n"
    "  moravelt-cli card ls Mcd001.ps2\n"
    "  moravelt-cli card import Mcd001.ps2 game.psu\n"
    "  moravelt-cli icon Mcd001.ps2:BESCES-50501REZ -o icon.png\n"
    "A save on a memory card is named CARD:FOLDER wherever a save is read.\n"
    "Every command explains itself: moravelt-cli COMMAND --help\n"
    "Exit status: 0 success, 1 failure, 2 usage error.";

}  // namespace

void AddOpenOptions(CLI::App* cmd, OpenOptions& options) {
  cmd->add_flag("-y,--yes", options.yes, "Answer Yes to a question the loader asks (default: No)");
  cmd->add_option("--as", options.as,
                  "Open the file as this family, whatever its extension: " +
                      OpenableFamilyNames(", ", " or "));
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        bool errIsTerminal) {
  Console console{out, err, errIsTerminal, {}};
  CLI::App app{"Reads PlayStation 2 memory-card saves and PlayStation 1 single saves (" +
                   ReadableExtensions(" ") + ", raw), shows them, edits them a little, and writes them as " +
                   TargetExtensions(", ", " or ") + ".",
               "moravelt-cli"};
  app.require_subcommand(1);
  app.footer(kOverview);
  app.set_version_flag("--version", std::string("moravelt-cli ") + MORAVELT_VERSION);

  Commands commands;
  AddInfoCommand(app, commands);
  AddConvertCommands(app, commands);
  AddExtractCommands(app, commands);
  AddPackCommand(app, commands);
  AddEditCommands(app, commands);
  AddCardCommands(app, commands);
  AddIconCommand(app, commands);

  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e, out, err);
    return code == 0 ? kExitOk : kExitUsage;
  }

  try {
    for (const Command& command : commands)
      if (command.app->parsed()) return command.run(console);
    return kExitUsage;
  } catch (const std::exception&) {
    console.Error("Unexpected error");
    return kExitFailed;
  }
}

int Main(const std::vector<std::string>& args) {
  return Run(args, std::cout, std::cerr, io::StderrIsTerminal());
}

}  // namespace cli
