// UTF-8 (the program's text everywhere) to and from UTF-16 (the wide Win32 calls).
// Windows only: every other platform takes UTF-8 paths as they are.
#pragma once

#ifdef _WIN32
#include <string>
#include <string_view>

namespace io {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace io
#endif
