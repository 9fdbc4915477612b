#include "formats/psv/psv_sign.h"

#include <algorithm>

#include "model/bytes.h"

namespace psv {

namespace {

constexpr io::Aes128Key kPs2Key = {0xEA, 0x02, 0xCE, 0xEF, 0x5B, 0xB4, 0xD2, 0x99,
                                   0x8F, 0x61, 0x19, 0x10, 0xD7, 0x7F, 0x51, 0xC6};
constexpr io::Aes128Key kPs1Key = {0xAB, 0x5A, 0xBC, 0x9F, 0xC1, 0xF4, 0x9D, 0xE6,
                                   0xA0, 0x51, 0xDB, 0xAE, 0xFA, 0x51, 0x88, 0x59};
constexpr io::AesBlock kIv = {0xB3, 0x0F, 0xFE, 0xED, 0xB7, 0xDC, 0x5E, 0xB7,
                              0x13, 0x3D, 0xA6, 0x0D, 0x1B, 0x6B, 0x2C, 0xDC};

// The PS2 derivation decrypts the seed padded with zeros to this length.
constexpr std::size_t kPs2KeyInput = 64;

std::optional<io::Sha1Digest> Ps2Key(const Seed& seed) {
  std::array<std::uint8_t, kPs2KeyInput> buffer{};
  std::copy(seed.begin(), seed.end(), buffer.begin());
  if (!io::Aes128CbcDecrypt(kPs2Key, kIv, buffer, buffer)) return std::nullopt;
  io::Sha1Digest key;
  std::copy_n(buffer.begin(), key.size(), key.begin());
  return key;
}

std::optional<io::Sha1Digest> Ps1Key(const Seed& seed) {
  io::AesBlock head;
  std::copy_n(seed.begin(), head.size(), head.begin());
  const std::optional<io::AesBlock> decrypted = io::Aes128DecryptBlock(kPs1Key, head);
  const std::optional<io::AesBlock> encrypted = io::Aes128EncryptBlock(kPs1Key, head);
  if (!decrypted || !encrypted) return std::nullopt;
  io::Sha1Digest key;
  for (std::size_t i = 0; i < io::kAesBlockSize; ++i) key[i] = (*decrypted)[i] ^ kIv[i];
  for (std::size_t i = io::kAesBlockSize; i < key.size(); ++i)
    key[i] = (*encrypted)[i - io::kAesBlockSize] ^ seed[i];
  return key;
}

Seed SeedOf(std::span<const std::uint8_t> file) {
  Seed seed;
  std::copy_n(file.begin() + kSeedOffset, seed.size(), seed.begin());
  return seed;
}

}  // namespace

std::optional<io::Sha1Digest> SigningKey(SaveKind kind, const Seed& seed) {
  return kind == SaveKind::kPs1 ? Ps1Key(seed) : Ps2Key(seed);
}

void MaskedSha1::Update(std::span<const std::uint8_t> bytes) {
  static constexpr std::uint8_t kZeros[64] = {};
  while (!bytes.empty()) {
    std::size_t n = bytes.size();
    if (position_ < maskBegin_) {
      n = static_cast<std::size_t>(std::min<std::uint64_t>(n, maskBegin_ - position_));
      sha_.Update(bytes.first(n));
    } else if (position_ < maskEnd_) {
      n = static_cast<std::size_t>(
          std::min<std::uint64_t>({n, maskEnd_ - position_, sizeof kZeros}));
      sha_.Update(std::span(kZeros, n));
    } else {
      sha_.Update(bytes);
    }
    position_ += n;
    bytes = bytes.subspan(n);
  }
}

Signer::Signer(SaveKind kind, const Seed& seed) {
  if (std::optional<io::Sha1Digest> key = SigningKey(kind, seed))
    hash_.emplace(io::Sha1::Hmac(*key), kSignatureOffset, kSignedGapEnd);
}

std::optional<SaveKind> KindOf(std::span<const std::uint8_t> file) {
  if (file.size() < kHeaderSize) return std::nullopt;
  const std::uint32_t kind = bytes::GetU32LE(file.data() + kKindOffset);
  if (kind == static_cast<std::uint32_t>(SaveKind::kPs1)) return SaveKind::kPs1;
  if (kind == static_cast<std::uint32_t>(SaveKind::kPs2)) return SaveKind::kPs2;
  return std::nullopt;
}

std::optional<Signature> Sign(std::span<const std::uint8_t> file) {
  const std::optional<SaveKind> kind = KindOf(file);
  if (!kind) return std::nullopt;
  Signer signer(*kind, SeedOf(file));
  signer.Update(file);
  return signer.Finish();
}

SignatureCheck Verify(std::span<const std::uint8_t> file) {
  const std::optional<Signature> signature = Sign(file);
  if (!signature) return SignatureCheck::kUnreadable;
  return std::equal(signature->begin(), signature->end(), file.begin() + kSignatureOffset)
             ? SignatureCheck::kValid
             : SignatureCheck::kMismatch;
}

std::optional<Seed> ContentSeed(std::span<const std::uint8_t> file) {
  if (file.size() < kHeaderSize) return std::nullopt;
  SeedMaker maker;
  maker.Update(file);
  return maker.Finish();
}

std::optional<std::string> ExportFileName(std::string_view folderName) {
  if (folderName.empty() || folderName.size() > kMaxFolderName) return std::nullopt;
  const std::string_view kept = folderName.substr(0, kNameKeptChars);
  for (char c : kept) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b >= 0x7F || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
      return std::nullopt;
  }
  static const char kHexDigits[] = "0123456789ABCDEF";
  std::string name(kept);
  for (char c : folderName.substr(kept.size())) {
    const auto b = static_cast<unsigned char>(c);
    name += kHexDigits[b >> 4];
    name += kHexDigits[b & 15];
  }
  return name + ".PSV";
}

}  // namespace psv
