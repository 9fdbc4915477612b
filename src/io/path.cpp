#include "io/path.h"

namespace io {

namespace {
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

std::size_t FileNameOffset(std::string_view path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? 0 : slash + 1;
}

std::string_view FileNameOf(std::string_view path) { return path.substr(FileNameOffset(path)); }

std::string_view ExtensionOf(std::string_view path) {
  std::string_view name = FileNameOf(path);
  std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
}

std::string_view StemOf(std::string_view path) {
  std::string_view name = FileNameOf(path);
  return name.substr(0, name.rfind('.'));
}

std::string FoldAscii(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = LowerAscii(c);
  return folded;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

}  // namespace io
