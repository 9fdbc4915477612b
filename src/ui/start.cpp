#include "ui/start.h"

#include <algorithm>

#include "card/kinds.h"
#include "formats/registry.h"
#include "io/folder.h"

namespace ui {

std::string Usage() {
  const std::string text = "Opens each save (" + ReadableExtensions(" ") + "; a raw PS1 save by its contents), " +
                           "PS2 memory card (" + card::CardExtensions(false, std::nullopt, " ") + "), PS1 memory card (" +
                           card::CardExtensions(true, std::nullopt, " ") +
                           ") or PCSX2 folder card named in a window of its own; with no FILE, one empty window.";
  // Broken into lines of at most 88 characters.
  std::string wrapped, line;
  for (std::size_t from = 0; from <= text.size();) {
    const std::size_t space = std::min(text.find(' ', from), text.size());
    const std::string word = text.substr(from, space - from);
    if (!line.empty() && line.size() + 1 + word.size() > 88) {
      wrapped += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    from = space + 1;
  }
  return "Usage: moravelt [FILE...]\n" + wrapped + line +
         "\n"
         "  --version  print the version and exit\n"
         "  --help     print this text and exit\n";
}

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
