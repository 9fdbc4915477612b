// The LZARI encoder as the published algorithm has it, kept as the yardstick for
// LzariEncode: a binary search tree over the window with one node per position,
// inserted and deleted one byte at a time and compared one byte at a time; the
// character model's cumulative frequencies in a plain array that every code updates
// linearly; the coder's output one bit at a time. Its output is the classic file: the
// input's length as 4 bytes, little-endian, then the bit stream.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace bench {

std::vector<std::uint8_t> BaselineLzariEncode(std::span<const std::uint8_t> input);

}  // namespace bench
