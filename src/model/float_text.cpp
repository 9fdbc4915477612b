#include "model/float_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace model {

#if defined(__cpp_lib_to_chars)

std::string ShortestText(float value) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : std::string();
}

double ShortestValue(float value) {
  const std::string text = ShortestText(value);
  double shortest = 0;
  std::from_chars(text.data(), text.data() + text.size(), shortest);
  return shortest;
}

#else

std::string ShortestText(float value) { return ShortestTextByPrintf(value); }

double ShortestValue(float value) {
  if (!std::isfinite(value)) return value;
  return std::strtod(ShortestText(value).c_str(), nullptr);
}

#endif

// The fewest significant digits that read back as the value, in the shorter of the fixed
// and the scientific forms, fixed on a tie, as to_chars chooses.
std::string ShortestTextByPrintf(float value) {
  if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  const std::string sign = std::signbit(value) ? "-" : "";
  if (value == 0) return sign + "0";
  char printed[48];
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(printed, sizeof printed, "%.*e", digits - 1, static_cast<double>(std::fabs(value)));
    if (std::strtof(printed, nullptr) == std::fabs(value)) break;
  }
  // printed is d[.ddd]e±XX
  std::string mantissa;
  const char* p = printed;
  for (; *p != 'e'; ++p)
    if (*p != '.') mantissa.push_back(*p);
  const int exponent = std::atoi(p + 1);
  char exponentText[8];
  std::snprintf(exponentText, sizeof exponentText, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
  const std::string scientific =
      mantissa.substr(0, 1) + (mantissa.size() > 1 ? "." + mantissa.substr(1) : "") + exponentText;
  std::string fixed;
  if (exponent < 0) {
    fixed = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + mantissa;
  } else if (mantissa.size() <= static_cast<std::size_t>(exponent) + 1) {
    fixed = mantissa + std::string(static_cast<std::size_t>(exponent) + 1 - mantissa.size(), '0');
  } else {
    fixed = mantissa.substr(0, static_cast<std::size_t>(exponent) + 1) + "." +
            mantissa.substr(static_cast<std::size_t>(exponent) + 1);
  }
  return sign + (fixed.size() <= scientific.size() ? fixed : scientific);
}

}  // namespace model
