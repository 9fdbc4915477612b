// The texts the views show for sizes and mode words.
#pragma once

#include <cstdint>
#include <string>

namespace ui {

// A byte count as "%g %s" with the unit "B", "kB" or "MB", kept to two decimals:
// 964 B, 1.5 kB, 976.56 kB, 1024 kB (for 1048575), 5 MB.
std::string FormatSize(std::uint32_t bytes);

// A mode word as "0x%08X".
std::string FormatMode(std::uint32_t mode);

}  // namespace ui
