// Runs the command line in-process and keeps what it printed.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace testutil {

struct CliRun {
  int code = -1;
  std::string out;
  std::string err;
};

inline CliRun RunCli(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  CliRun run;
  run.code = cli::Run(args, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

}  // namespace testutil
