#include <string>
#include <vector>

#include "cli/cli.h"
#include "io/utf16.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

// The arguments come from the wide command line, so that names in any script reach the
// program intact as UTF-8; the console is switched to UTF-8 for what it prints.
int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; argv && i < argc; ++i) args.push_back(io::Narrow(argv[i]));
  if (argv) LocalFree(argv);
  UINT previous = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  int code = cli::Main(args);
  SetConsoleOutputCP(previous);
  return code;
}
#else
int main(int argc, char** argv) { return cli::Main(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
