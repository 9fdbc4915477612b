// Text as the saves store it, turned into the program's UTF-8: titles in Shift-JIS (code
// page 932, decoded by the platform's own converter), and a check for bytes that already
// are UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace io {

// Shift-JIS (code page 932) bytes as UTF-8; sequences that don't decode become U+FFFD.
std::string ShiftJisToUtf8(std::string_view sjis);

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view bytes);

}  // namespace io
