#include "io/safe_name.h"

#include <array>

#include "io/path.h"
#include "io/text.h"

namespace io {

namespace {

bool IsReservedDevice(std::string_view name) {
  std::string stem = FoldAscii(name.substr(0, name.find('.')));
  // Windows also ignores trailing spaces before the extension: "CON .txt" is CON.
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static constexpr std::array<std::string_view, 4> kPlain = {"con", "prn", "aux", "nul"};
  for (std::string_view r : kPlain)
    if (stem == r) return true;
  if (stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) &&
      stem[3] >= '1' && stem[3] <= '9')
    return true;
  return false;
}

bool IsRefusedChar(unsigned char c) {
  if (c < 0x20 || c == 0x7F) return true;
  switch (c) {
    case '/': case '\\': case '<': case '>': case ':': case '"': case '|': case '?': case '*':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string SafeName(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 1);
  bool utf8 = IsValidUtf8(name);
  for (unsigned char c : name) {
    if (IsRefusedChar(c) || (c >= 0x80 && !utf8))
      out += '_';
    else
      out += static_cast<char>(c);
  }
  if (out.empty()) return "_";
  for (std::size_t i = out.size(); i > 0 && (out[i - 1] == '.' || out[i - 1] == ' '); --i)
    out[i - 1] = '_';
  if (IsReservedDevice(out)) out.insert(out.begin(), '_');
  return out;
}

std::string SafeNamer::Next(std::string_view name) {
  std::string safe = SafeName(name);
  std::string candidate = safe;
  for (int n = 2; taken_.count(FoldAscii(candidate)) != 0; ++n) {
    std::size_t dot = safe.rfind('.');
    if (dot == 0 || dot == std::string::npos) dot = safe.size();
    candidate = safe.substr(0, dot) + "~" + std::to_string(n) + safe.substr(dot);
  }
  taken_.insert(FoldAscii(candidate));
  changed_ = candidate != name;
  return candidate;
}

}  // namespace io
