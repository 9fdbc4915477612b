// A byte count as the file list and the Properties dialog show it.
#pragma once

#include <cstdint>
#include <string>

// "964 B", "1.5 kB", "976.56 kB", "5 MB": at most two decimals, no trailing zeros.
std::string FormatSize(std::uint32_t bytes);
