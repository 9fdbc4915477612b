// The portable command-line front end: info, convert, extract, batch, unpack, pack, the
// edit commands, the memory-card commands and icon, built on the same container classes
// as the dialog program.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace cli {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs one command line (without the program name), writing to out and err.
// errIsTerminal turns on the progress bar of batch.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        bool errIsTerminal = false);

// The process entry: UTF-8 arguments, standard streams.
int Main(const std::vector<std::string>& args);

}  // namespace cli
