// Path texts as the program splits and compares them. A path's file name is the text
// after its last '/' or '\' (both separate folders on Windows, and a save's file names
// never hold either); its extension is the text after the file name's last dot, empty
// when the name has none. Extensions and names compare in ASCII letter case only, as the
// file systems the saves come from do.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace io {

// Where a path's file name begins.
std::size_t FileNameOffset(std::string_view path);
// The file name: everything after the last separator.
std::string_view FileNameOf(std::string_view path);
// The extension without its dot; empty when the file name has no dot.
std::string_view ExtensionOf(std::string_view path);
// The file name without its extension and dot.
std::string_view StemOf(std::string_view path);

// ASCII letters in lower case; every other byte as it is.
std::string FoldAscii(std::string_view text);
// True when the texts are equal apart from the case of ASCII letters.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace io
