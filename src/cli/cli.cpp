#include "cli/cli.h"

#include <cstdio>

namespace cli {
int Main(int, char**) {
  std::fputs("usage: moravelt-cli <info|convert|extract> ...\n", stderr);
  return 2;
}
}  // namespace cli
