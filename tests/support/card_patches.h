// The compact form the card fuzz target reads: an 8 MiB image is too large to mutate, so an
// input is a list of patches over a freshly formatted raw card.
//
//   byte 0       bit 0: store the patched card with ECC (every page that is not all 0xFF
//                gets its code, as a card written by the console has)
//   then         records: offset (u32 little-endian, taken modulo the raw card's size),
//                length (u16), that many bytes (fewer at the end of the input)
//
// Seeds are the differences between a fresh card and one the library has filled.
#pragma once

#include <cstdint>
#include <span>

#include "support/test_util.h"

namespace testutil {

// The raw 8 MiB card every input is patched over (formatted once, at a fixed time).
const Bytes& FreshRawCard();

// The card image an input stands for.
Bytes CardFromPatches(std::span<const std::uint8_t> input);

// The input that gives `rawCard` (a raw 8 MiB image), stored with ECC or not.
Bytes PatchesFor(const Bytes& rawCard, bool ecc);

}  // namespace testutil
