#include <string>
#include <vector>

#include "cli/cli.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

namespace {

std::string ToUtf8(const wchar_t* wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<std::size_t>(n - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

// The arguments come from the wide command line, so that names in any script reach the
// program intact as UTF-8; the console is switched to UTF-8 for what it prints.
int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; argv && i < argc; ++i) args.push_back(ToUtf8(argv[i]));
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
