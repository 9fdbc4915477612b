// The LZARI decoder written the plain way, one bit and one table step at a time, exactly
// as the published algorithm states it (linear model update, bisection over the
// cumulative tables, byte-at-a-time bit reader), with the same end-of-input and
// overrun rules as LzariDecode. Tests hold the fast decoder to it on any input; it is
// also the baseline the fast one is measured against.
#pragma once

#include <cstdint>
#include <span>

#include "formats/lzari.h"

namespace testutil {

struct ReferenceResult {
  LzariResult result;         // kDecoded, kInputEnded or kNoOutput, as LzariDecode
  std::uint32_t outputCount;  // bytes written
};

ReferenceResult ReferenceLzariDecode(std::span<const std::uint8_t> input, std::uint8_t* output,
                                     std::uint32_t expectedLength);

}  // namespace testutil
