// LZARI as the published algorithm describes it, kept as the yardstick for LzariDecode
// and LzariEncode; both directions share the published model code.
//
// The decoder: one bit at a time from a byte buffer, the character model's cumulative
// frequencies in a plain array that every decoded code updates linearly, a bisection
// over that array and over the position model's, one division per bound. Same models,
// same edges (zeros past the input, the output cut at expectedLength, the same slack
// before giving up) and so the same output byte for byte.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace bench {

// 1 when expectedLength bytes were produced, -1 when the input ran dry first.
int BaselineLzariDecode(std::span<const std::uint8_t> input, std::uint8_t* output,
                        std::uint32_t expectedLength);

// The encoder, as published: a binary search tree over the window with one node
// per position, inserted and deleted one byte at a time and compared one byte at a time;
// the same linear model updates; the coder's output one bit at a time. Its output is the
// classic file: the input's length as 4 bytes, little-endian, then the bit stream. Kept
// as the yardstick for LzariEncode, and what the tests hold it to.
std::vector<std::uint8_t> BaselineLzariEncode(std::span<const std::uint8_t> input);

}  // namespace bench
