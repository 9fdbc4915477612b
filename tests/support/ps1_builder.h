// PS1 saves built in memory: the blocks of a save with a chosen title, icon and size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/test_util.h"

namespace testutil {

struct Ps1SaveImage {
  int blocks = 1;
  std::string magic = "SC";
  std::uint8_t iconFlag = 0x11;   // 0x11..0x13: 1..3 frames
  int blockCountByte = -1;        // the count the header gives; -1: `blocks`
  std::string rawTitle = "\x82\x60\x82\x61 TEST";  // Shift-JIS, "ＡＢ TEST"
  std::uint32_t seed = 1;         // the pseudo-random bytes after the header

  // The blocks: the header, palette, icon frames of pattern bytes, then pseudo-random data.
  Bytes Build() const;
};

// A 1-block save with default contents and the given seed.
Bytes MakePs1Blocks(int blocks, std::uint32_t seed = 1);

// A single-save file holding `blocks` as the card file `name`, made from the family's
// layout: "mcs" (a new directory frame first), "psx" (the 54-byte header) or "raw" (the
// blocks alone).
Bytes MakePs1File(std::string_view family, const std::string& name, const Bytes& blocks);
// A signed PS1 export (.psv) of `blocks` as `name`, written by the library's writer.
Bytes MakePs1Export(const std::string& name, const Bytes& blocks);

}  // namespace testutil
