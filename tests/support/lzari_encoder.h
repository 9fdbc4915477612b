// LZARI streams for the tests, made by the production encoder: either a buffer
// compressed as the classic encoder does it, or an exact stream of literals and matches
// put together with LzariEncoder.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "formats/lzari_encode.h"
#include "support/test_util.h"

namespace testutil {

class LzariEncoder {
 public:
  void Literal(std::uint8_t byte) { tokens_.push_back({0, 0, byte}); }
  // A back reference: `position` is the distance minus one (0..4095), `length` 3..60.
  void Match(std::uint32_t position, std::uint32_t length) {
    tokens_.push_back({static_cast<std::uint16_t>(position), static_cast<std::uint8_t>(length), 0});
  }
  // The stream, closed as the classic encoder closes it.
  Bytes Finish() const;

  // Character codes coded so far (literals and match lengths).
  std::size_t codes() const { return tokens_.size(); }

 private:
  std::vector<LzariToken> tokens_;
};

// The stream LzariEncode makes of data, without the 4-byte length in front of it.
Bytes LzariCompress(std::span<const std::uint8_t> data);

}  // namespace testutil
