#include "ui/format_size.h"

#include <cstdio>

namespace ui {

std::string FormatSize(std::uint32_t bytes) {
  double value = bytes;
  const char* unit = "B";
  if (bytes >= 1048576u) {
    value = bytes / 1048576.0;
    unit = "MB";
  } else if (bytes >= 1024u) {
    value = bytes / 1024.0;
    unit = "kB";
  }
  // Two decimals, rounded half up; %g then drops trailing zeros.
  double hundredths = static_cast<double>(static_cast<std::int64_t>(value * 100.0 + 0.5));
  value = hundredths / 100.0;
  char text[32];
  std::snprintf(text, sizeof text, "%g %s", value, unit);
  return text;
}

std::string FormatMode(std::uint32_t mode) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(mode));
  return text;
}

}  // namespace ui
