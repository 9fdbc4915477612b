// The LZARI decoder as the published algorithm describes it, kept only as the yardstick
// for LzariDecode: one bit at a time from a byte buffer, the character model's
// cumulative frequencies in a plain array that every decoded code updates linearly,
// a bisection over that array and over the position model's, one division per bound.
// Same models, same edges (zeros past the input, the output cut at expectedLength, the
// same slack before giving up) and so the same output byte for byte.
#pragma once

#include <cstdint>
#include <span>

namespace bench {

// 1 when expectedLength bytes were produced, -1 when the input ran dry first.
int BaselineLzariDecode(std::span<const std::uint8_t> input, std::uint8_t* output,
                        std::uint32_t expectedLength);

}  // namespace bench
