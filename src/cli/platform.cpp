#include "cli/platform.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "io/file.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace cli::platform {

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

bool SetModifiedTime(const std::string& path, const EntryTime& time) {
  if (time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31 || time.hour > 23 ||
      time.minute > 59 || time.second > 59 || time.year < 1970)
    return false;
  std::tm local{};
  local.tm_year = time.year - 1900;
  local.tm_mon = time.month - 1;
  local.tm_mday = time.day;
  local.tm_hour = time.hour;
  local.tm_min = time.minute;
  local.tm_sec = time.second;
  local.tm_isdst = -1;
  std::time_t t = std::mktime(&local);
  if (t == static_cast<std::time_t>(-1)) return false;
  auto sys = std::chrono::system_clock::from_time_t(t);
  auto file = std::chrono::file_clock::from_sys(sys);
  std::error_code ec;
  std::filesystem::last_write_time(io::ToFsPath(path), file, ec);
  return !ec;
}

}  // namespace cli::platform
