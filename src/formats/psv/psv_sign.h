// The signature of PS3 exports (.psv), its seed, and the file name the PS3 asks for.
//
//   header offset  width  field
//   0x00           4      00 56 53 50 ("\0VSP")
//   0x08           20     seed (random on a PS3; any 20 bytes do)
//   0x1C           20     signature: HMAC-SHA1 of the whole file with 0x1C..0x2F as zero
//   0x3C           4      2 for a PS2 save, 1 for a PS1 save
//
// The HMAC key is 20 bytes derived from the seed with one of two fixed AES-128 keys and
// a shared IV (all published, the same in every reader):
//   PS2: AES-128-CBC decryption of the seed followed by 44 zero bytes, under the PS2 key
//        and the IV; the first 20 bytes of the result.
//   PS1: bytes 0..15 = AES-128 decryption of seed[0..15] under the PS1 key, XOR the IV;
//        bytes 16..19 = the first 4 bytes of AES-128 encryption of seed[0..15] under the
//        same key, XOR seed[16..19].
//
// Writers produce a file in pieces, so signing and the seed come in two forms: objects
// fed the file from its first byte on, in pieces of any size, and one-call forms over a
// whole buffer. Files are a few MiB at most; nothing here holds more than a hash state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "io/crypto.h"

namespace psv {
inline constexpr std::size_t kHeaderSize = 0x40;
inline constexpr std::size_t kSeedOffset = 0x08;
inline constexpr std::size_t kSeedSize = 20;
inline constexpr std::size_t kSignatureOffset = 0x1C;
inline constexpr std::size_t kSignatureSize = 20;
inline constexpr std::size_t kSignedGapEnd = 0x30;  // 0x1C..0x2F count as zero when signing
inline constexpr std::size_t kKindOffset = 0x3C;
// The PS3's file name keeps this many characters of the folder name as they are.
inline constexpr std::size_t kNameKeptChars = 12;
inline constexpr std::size_t kMaxFolderName = 32;

enum class SaveKind : std::uint32_t { kPs1 = 1, kPs2 = 2 };

using Seed = std::array<std::uint8_t, kSeedSize>;
using Signature = io::Sha1Digest;

// The HMAC key for a save of `kind` signed with `seed`; none when the crypto library fails.
std::optional<io::Sha1Digest> SigningKey(SaveKind kind, const Seed& seed);

// SHA-1 or HMAC-SHA1 of a file fed in order from its first byte, with the bytes at
// [maskBegin, maskEnd) of the file taken as zero whatever is fed there.
class MaskedSha1 {
 public:
  MaskedSha1(io::Sha1 sha, std::size_t maskBegin, std::size_t maskEnd)
      : sha_(std::move(sha)), maskBegin_(maskBegin), maskEnd_(maskEnd) {}
  void Update(std::span<const std::uint8_t> bytes);
  std::optional<io::Sha1Digest> Finish() { return sha_.Finish(); }

 private:
  io::Sha1 sha_;
  std::size_t maskBegin_;
  std::size_t maskEnd_;
  std::uint64_t position_ = 0;  // file offset of the next byte fed
};

// The signature of a file, fed in pieces: the file as it will be written, from offset 0,
// whatever stands at 0x1C..0x2F.
class Signer {
 public:
  Signer(SaveKind kind, const Seed& seed);
  void Update(std::span<const std::uint8_t> bytes) {
    if (hash_) hash_->Update(bytes);
  }
  std::optional<Signature> Finish() { return hash_ ? hash_->Finish() : std::nullopt; }

 private:
  std::optional<MaskedSha1> hash_;  // none when the key could not be derived
};

// A seed that depends only on the content: SHA-1 of the file with the seed and the
// signature (0x08..0x2F) taken as zero. Writing the same save twice gives the same bytes.
class SeedMaker {
 public:
  SeedMaker() : hash_(io::Sha1(), kSeedOffset, kSignedGapEnd) {}
  void Update(std::span<const std::uint8_t> bytes) { hash_.Update(bytes); }
  std::optional<Seed> Finish() { return hash_.Finish(); }

 private:
  MaskedSha1 hash_;
};

// The kind a header names; none for a buffer shorter than the header or another value.
std::optional<SaveKind> KindOf(std::span<const std::uint8_t> file);

// The signature of a whole file under the seed and kind its own header holds; none when
// the header is short or names no known kind, or the crypto library fails.
std::optional<Signature> Sign(std::span<const std::uint8_t> file);

enum class SignatureCheck {
  kValid,
  kMismatch,    // the stored signature is not the file's
  kUnreadable,  // the header is short or names no known kind, or the crypto library failed
};
SignatureCheck Verify(std::span<const std::uint8_t> file);

// The content seed of a whole file (see SeedMaker); none for a buffer shorter than the
// header or when the crypto library fails.
std::optional<Seed> ContentSeed(std::span<const std::uint8_t> file);

// The name the PS3 accepts for the export of a save folder: its first 12 characters,
// then the remaining bytes as upper-case hex, then ".PSV" (BESCES-50501REZ gives
// BESCES-5050152455A.PSV). None for an empty name, one over 32 bytes, or one whose first
// 12 bytes hold something that can't stand in a file name on the USB drive (a control
// character, a byte outside ASCII, or one of \ / : * ? " < > |).
std::optional<std::string> ExportFileName(std::string_view folderName);
}  // namespace psv
