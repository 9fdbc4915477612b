// An LZARI encoder for the tests: the published algorithm's encoder with the same
// models and coder as the decoder, so that tests can make streams of known content.
// Either compress a buffer (greedy matching), or put together an exact stream of
// literals and matches with LzariEncoder.
#pragma once

#include <cstdint>
#include <span>

#include "support/test_util.h"

namespace testutil {

class LzariEncoder {
 public:
  LzariEncoder();

  void Literal(std::uint8_t byte);
  // A back reference: `position` is the distance minus one (0..4095), `length` 3..60.
  void Match(std::uint32_t position, std::uint32_t length);
  // Ends the stream: the bits that pin the final interval down, then zero bits to the
  // byte boundary.
  Bytes Finish();

  // Character codes coded so far (literals and match lengths).
  std::size_t codes() const { return codes_; }

 private:
  void EncodeChar(std::uint32_t code);
  void EncodePosition(std::uint32_t position);
  void Narrow(std::uint32_t cumHigh, std::uint32_t cumLow, std::uint32_t total);
  void UpdateModel(std::uint32_t sym);
  void PutBit(int bit);
  void OutputAndFollow(int bit);

  std::uint32_t charToSymbol_[314];
  std::uint32_t symbolToChar_[315];
  std::uint32_t symbolFreq_[315];
  std::uint32_t symbolCum_[315];
  std::uint32_t positionCum_[4097];
  std::uint32_t low_ = 0;
  std::uint32_t high_ = 1u << 17;
  std::uint32_t pending_ = 0;  // opposite bits owed after the next output bit
  std::uint8_t byte_ = 0;
  std::uint8_t mask_ = 0x80;
  std::size_t codes_ = 0;
  Bytes out_;
};

// Compresses data with greedy matching (hash chains over the window, the window's
// initial spaces and zeros included).
Bytes LzariCompress(std::span<const std::uint8_t> data);

}  // namespace testutil
