// The few cryptographic primitives the containers need, from the library the build names
// in MORAVELT_CRYPTO: OpenSSL's libcrypto (io/crypto_openssl.cpp), or CNG
// (io/crypto_cng.cpp), the default on Windows.
// Nothing here is implemented by hand.
//
//   SHA-1 and HMAC-SHA1, fed in pieces     PS3 export signatures and their seeds
//   AES-128 of one block, either way       the PS1 signing key
//   AES-128-CBC decryption of a buffer     the PS2 signing key, the PocketStation card
//   AES-128-CBC encryption of a buffer     the PocketStation card
//   SHA-256 of a buffer                    the PocketStation card's check
//
// Every call can fail (the library could not allocate, or the platform lacks the
// algorithm); a failure is reported through the result, never by a crash or a wrong value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace io {

inline constexpr std::size_t kSha1Size = 20;
inline constexpr std::size_t kSha256Size = 32;
inline constexpr std::size_t kAesBlockSize = 16;
inline constexpr std::size_t kAes128KeySize = 16;

using Sha1Digest = std::array<std::uint8_t, kSha1Size>;
using Sha256Digest = std::array<std::uint8_t, kSha256Size>;
using AesBlock = std::array<std::uint8_t, kAesBlockSize>;
using Aes128Key = std::array<std::uint8_t, kAes128KeySize>;

// A SHA-1 or HMAC-SHA1 computation fed in pieces: any split of the message gives the
// digest of the whole. Finish ends it; a later Update is ignored and a later Finish
// gives nothing. A computation the library could not start also gives nothing.
class Sha1 {
 public:
  // Plain SHA-1.
  Sha1();
  // HMAC-SHA1 under `key` (any length; the key is copied).
  static Sha1 Hmac(std::span<const std::uint8_t> key);

  ~Sha1() noexcept;
  Sha1(Sha1&& other) noexcept;
  Sha1& operator=(Sha1&& other) noexcept;
  Sha1(const Sha1&) = delete;
  Sha1& operator=(const Sha1&) = delete;

  void Update(std::span<const std::uint8_t> bytes);
  std::optional<Sha1Digest> Finish();

 private:
  struct State;  // the platform's context, defined by each implementation
  explicit Sha1(std::unique_ptr<State> state) noexcept;
  std::unique_ptr<State> state_;  // null once finished or when it could not start
};

// One buffer in one piece.
std::optional<Sha1Digest> Sha1Of(std::span<const std::uint8_t> bytes);
std::optional<Sha1Digest> HmacSha1Of(std::span<const std::uint8_t> key,
                                     std::span<const std::uint8_t> bytes);

// AES-128 of a single block (ECB, no padding).
std::optional<AesBlock> Aes128EncryptBlock(const Aes128Key& key, const AesBlock& block);
std::optional<AesBlock> Aes128DecryptBlock(const Aes128Key& key, const AesBlock& block);

// AES-128-CBC decryption without padding: `in` is whole blocks, `out` as long as `in`
// (it may be the very same buffer, never an overlapping other one). False when the
// lengths are wrong (nothing is written) or the library fails (`out` is then undefined).
bool Aes128CbcDecrypt(const Aes128Key& key, const AesBlock& iv, std::span<const std::uint8_t> in,
                      std::span<std::uint8_t> out);
// The same for encryption.
bool Aes128CbcEncrypt(const Aes128Key& key, const AesBlock& iv, std::span<const std::uint8_t> in,
                      std::span<std::uint8_t> out);

// SHA-256 of one buffer.
std::optional<Sha256Digest> Sha256Of(std::span<const std::uint8_t> bytes);

}  // namespace io
