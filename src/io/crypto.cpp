// The platform-neutral part of the crypto interface: the one-piece forms.
#include "io/crypto.h"

namespace io {

std::optional<Sha1Digest> Sha1Of(std::span<const std::uint8_t> bytes) {
  Sha1 sha;
  sha.Update(bytes);
  return sha.Finish();
}

std::optional<Sha1Digest> HmacSha1Of(std::span<const std::uint8_t> key,
                                     std::span<const std::uint8_t> bytes) {
  Sha1 hmac = Sha1::Hmac(key);
  hmac.Update(bytes);
  return hmac.Finish();
}

}  // namespace io
