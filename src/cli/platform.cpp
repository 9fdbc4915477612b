#include "cli/platform.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "io/file.h"
#include "io/utf16.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <iconv.h>
#include <unistd.h>
#endif

namespace cli::platform {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

#ifdef _WIN32
// One character of code page 932: a lead byte takes its trail byte with it.
std::size_t CharLength(std::string_view sjis, std::size_t i) {
  unsigned char c = static_cast<unsigned char>(sjis[i]);
  bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
  return lead && i + 1 < sjis.size() ? 2 : 1;
}
#endif

}  // namespace

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

std::string ShiftJisToUtf8(std::string_view sjis) {
  std::string out;
#ifdef _WIN32
  // Character by character, so that one bad sequence costs one replacement mark.
  for (std::size_t i = 0; i < sjis.size();) {
    std::size_t n = CharLength(sjis, i);
    wchar_t wide[4];
    int got = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, sjis.data() + i, static_cast<int>(n),
                                  wide, 4);
    if (got > 0)
      out += io::Narrow(std::wstring_view(wide, static_cast<std::size_t>(got)));
    else
      out += kReplacement;
    i += n;
  }
#else
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open("UTF-8", "SHIFT_JIS");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(sjis);
  std::string input(sjis);
  char* in = input.data();
  std::size_t inLeft = input.size();
  while (inLeft > 0) {
    char buffer[256];
    char* o = buffer;
    std::size_t outLeft = sizeof buffer;
    std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    out.append(buffer, static_cast<std::size_t>(o - buffer));
    if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // An invalid or cut-off sequence: mark it and go on after its first byte.
      out += kReplacement;
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
#endif
  return out;
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
