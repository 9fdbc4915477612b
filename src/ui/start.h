// What the dialog program does with its command line, on Windows and on Linux alike: the
// files named open each in a main window of its own (MainWindow::OpenPath: a save in the
// main window, a card image or a PCSX2 folder card in its card window, as File > Open
// does), or one empty window opens when none is named. A file manager's "Open with" runs
// the program so.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

// The text --help prints; the families and kinds of card it names come from their tables.
std::string Usage();

struct CommandLine {
  enum class Action { kOpen, kVersion, kHelp, kUnknownOption };
  Action action = Action::kOpen;
  std::vector<std::string> paths;  // to open, in order, made absolute from the current folder
  std::string option;              // the unknown option
};

// `args`: the arguments after the program's name, UTF-8 (on Linux, as the file system
// spells them). --version and --help win wherever they stand; after "--" every argument
// is a file; "-" alone is a file's name.
CommandLine ReadCommandLine(std::span<const std::string> args);

// One argument as the Windows C runtime and CommandLineToArgvW read it back: in quotes,
// a quote and the backslashes before one (or before the closing quote) escaped.
std::string QuotedArgument(std::string_view arg);

}  // namespace ui
