#include "io/text.h"

#include <cerrno>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>

#include "io/utf16.h"
#else
#include <iconv.h>
#endif

namespace io {

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
      out += Narrow(std::wstring_view(wide, static_cast<std::size_t>(got)));
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

bool IsValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    std::size_t extra;
    std::uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (bytes.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      unsigned char d = static_cast<unsigned char>(bytes[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace io
