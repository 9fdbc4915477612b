// UTF-8 (the program's text everywhere) to and from UTF-16 (the wide Win32 calls).
#pragma once

#include <string>
#include <string_view>

namespace win32 {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace win32
