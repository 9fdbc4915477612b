#include "support/lzari_encoder.h"

#include <memory>
#include <stdexcept>

namespace testutil {

Bytes LzariEncoder::Finish() const {
  Bytes out(lzari::TokensBound(tokens_.size()));
  auto state = std::make_unique<LzariEncodeState>();
  const std::int64_t n = LzariEncodeTokens(tokens_, out, *state);
  if (n < 0) throw std::invalid_argument("LzariEncodeTokens failed");
  out.resize(static_cast<std::size_t>(n));
  return out;
}

Bytes LzariCompress(std::span<const std::uint8_t> data) {
  Bytes out(lzari::EncodeBound(data.size()));
  auto state = std::make_unique<LzariEncodeState>();
  const std::int64_t n = LzariEncode(data, out, *state);
  if (n < 0) throw std::invalid_argument("LzariEncode failed");
  return Bytes(out.begin() + lzari::kLengthFieldSize, out.begin() + n);
}

}  // namespace testutil
