#include "ui/format_size.h"

#include <cstdio>

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
  // Two decimals, rounded half up.
  value = static_cast<double>(static_cast<long long>(value * 100 + 0.5)) / 100;
  char text[32];
  std::snprintf(text, sizeof text, "%g %s", value, unit);
  return text;
}
