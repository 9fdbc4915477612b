#include "ui/start.h"

#include "io/folder.h"

namespace ui {

CommandLine ReadCommandLine(std::span<const std::string> args) {
  CommandLine line;
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--version") {
      line.action = CommandLine::Action::kVersion;
      return line;
    }
    if (arg == "--help" || arg == "-h") {
      line.action = CommandLine::Action::kHelp;
      return line;
    }
  }
  bool options = true;
  for (const std::string& arg : args) {
    if (options && arg == "--") {
      options = false;
    } else if (options && arg.size() > 1 && arg.front() == '-') {
      line.action = CommandLine::Action::kUnknownOption;
      line.option = arg;
      line.paths.clear();
      return line;
    } else {
      line.paths.push_back(io::AbsolutePath(arg));
    }
  }
  return line;
}

std::string QuotedArgument(std::string_view arg) {
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + '"';
}

}  // namespace ui
