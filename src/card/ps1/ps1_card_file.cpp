#include "card/ps1/ps1_card_file.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "formats/psv/psv_sign.h"
#include "formats/ps1/ps1_frame.h"
#include "io/crypto.h"
#include "io/file.h"
#include "io/path.h"
#include "model/bytes.h"

namespace card {

namespace {

constexpr std::string_view kDexDriveMagic = "123-456-STD";
constexpr std::string_view kVgsMagic = "VgsM";
constexpr std::array<std::uint8_t, 4> kVmpMagic = {0x00, 'P', 'M', 'V'};
constexpr std::array<std::uint8_t, 2> kCardMagic = {'M', 'C'};

// DexDrive header fields.
constexpr std::size_t kDexStateCopies = 0x16;
constexpr std::size_t kDexNextCopies = 0x26;
// VGS header fields.
constexpr std::size_t kVgsVersionByte = 0x11;
// .vmp header fields.
constexpr std::size_t kVmpSeedOffset = 0x0C;
constexpr std::size_t kVmpSignatureOffset = 0x20;
constexpr std::size_t kVmpSignatureEnd = kVmpSignatureOffset + psv::kSignatureSize;
// PocketStation: the decrypted file.
constexpr std::size_t kPocketPrefixBytes = 0x80;
constexpr std::size_t kPocketHashed = kPocketPrefixBytes + kPs1CardBytes;

constexpr io::Aes128Key kPocketKey = {0x81, 0xD9, 0xCC, 0xE9, 0x71, 0xA9, 0x49, 0x9B,
                                      0x04, 0xAD, 0xDC, 0x48, 0x30, 0x7F, 0x07, 0x92};
constexpr io::AesBlock kPocketIv = {0x13, 0xC2, 0xE7, 0x69, 0x4B, 0xEC, 0x69, 0x6D,
                                    0x52, 0xCF, 0x00, 0x09, 0x2A, 0xC1, 0xF2, 0x72};

constexpr std::size_t kDirectoryEntries = kPs1Blocks - 1;
constexpr std::size_t kBrokenFrameFirst = 16;
constexpr std::size_t kBrokenFrames = 20;
constexpr std::size_t kLastFrame = 63;

bool StartsWith(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> magic) {
  return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}
bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view magic) {
  return StartsWith(bytes, std::span(reinterpret_cast<const std::uint8_t*>(magic.data()), magic.size()));
}

bool IsCardAt(std::span<const std::uint8_t> head, std::size_t offset) {
  return head.size() >= offset + kCardMagic.size() && StartsWith(head.subspan(offset), kCardMagic);
}

// A DexDrive file: its header, then at least the directory block, at most the whole card.
bool IsDexDrive(std::span<const std::uint8_t> head, std::uint64_t length) {
  if (length < kDexDriveHeaderBytes + kPs1BlockBytes || length > kDexDriveHeaderBytes + kPs1CardBytes)
    return false;
  if (StartsWith(head, kDexDriveMagic)) return true;
  // A header of zeros, as some real files have, before a card.
  return IsCardAt(head, kDexDriveHeaderBytes) &&
         std::all_of(head.begin(), head.begin() + kDexDriveHeaderBytes, [](std::uint8_t b) { return b == 0; });
}

// The signature of a whole .vmp file under the seed its header holds.
std::optional<psv::Signature> VmpSignature(std::span<const std::uint8_t> file) {
  psv::Seed seed{};
  std::copy_n(file.begin() + kVmpSeedOffset, seed.size(), seed.begin());
  const std::optional<io::Sha1Digest> key = psv::SigningKey(psv::SaveKind::kPs1, seed);
  if (!key) return std::nullopt;
  psv::MaskedSha1 hash(io::Sha1::Hmac(*key), kVmpSignatureOffset, kVmpSignatureEnd);
  hash.Update(file);
  return hash.Finish();
}

bool VmpVerifies(std::span<const std::uint8_t> file) {
  const std::optional<psv::Signature> signature = VmpSignature(file);
  return signature && std::equal(signature->begin(), signature->end(), file.begin() + kVmpSignatureOffset);
}

Ps1ReadResult ParsePocketStation(std::span<const std::uint8_t> file, Ps1CardFile& out) {
  std::vector<std::uint8_t> plain(file.size());
  if (!io::Aes128CbcDecrypt(kPocketKey, kPocketIv, file, plain)) return Ps1ReadResult::kReadFailed;
  if (!IsCardAt(plain, kPocketPrefixBytes)) return Ps1ReadResult::kNotPs1Card;
  const std::optional<io::Sha256Digest> hash = io::Sha256Of(std::span(plain).first(kPocketHashed));
  out.verified = hash && std::equal(hash->begin(), hash->end(), plain.begin() + kPocketHashed);
  out.header.assign(plain.begin(), plain.begin() + kPocketPrefixBytes);
  out.card.assign(plain.begin() + kPocketPrefixBytes, plain.begin() + kPocketHashed);
  return Ps1ReadResult::kRead;
}

// The copies a DexDrive header keeps of the directory, taken from it.
void RefreshDexDriveHeader(std::vector<std::uint8_t>& header, std::span<const std::uint8_t> card) {
  if (!StartsWith(header, kDexDriveMagic)) {
    // An all-zero header: without the magic the file would no longer be known for one.
    std::copy(kDexDriveMagic.begin(), kDexDriveMagic.end(), header.begin());
    header[0x12] = 1;
    header[0x14] = 1;
    header[0x15] = 'M';
  }
  for (std::size_t i = 0; i < kDirectoryEntries; ++i) {
    const std::uint8_t* frame = card.data() + (i + 1) * ::ps1::kFrameSize;
    header[kDexStateCopies + i] = frame[::ps1::kStateOffset];
    header[kDexNextCopies + i] = frame[::ps1::kNextOffset];
  }
}

std::vector<std::uint8_t> FreshHeader(Ps1FileKind kind) {
  std::vector<std::uint8_t> header;
  switch (kind) {
    case Ps1FileKind::kRaw:
      break;
    case Ps1FileKind::kDexDrive:
      header.assign(kDexDriveHeaderBytes, 0);  // completed when written
      break;
    case Ps1FileKind::kVgs:
      header.assign(kVgsHeaderBytes, 0);
      std::copy(kVgsMagic.begin(), kVgsMagic.end(), header.begin());
      for (std::size_t at : {4, 8, 12}) bytes::PutU32LE(header.data() + at, 1);
      header[kVgsVersionByte] = 2;
      break;
    case Ps1FileKind::kVmp:
      header.assign(kVmpHeaderBytes, 0);
      std::copy(kVmpMagic.begin(), kVmpMagic.end(), header.begin());
      bytes::PutU32LE(header.data() + 4, static_cast<std::uint32_t>(kVmpHeaderBytes));
      break;
    case Ps1FileKind::kPocketStation:
      header.assign(kPocketPrefixBytes, 0);
      break;
  }
  return header;
}

std::optional<std::vector<std::uint8_t>> PocketStationBytes(const Ps1CardFile& file) {
  std::vector<std::uint8_t> plain(kPocketStationBytes, 0);
  std::copy_n(file.header.begin(), std::min(file.header.size(), kPocketPrefixBytes), plain.begin());
  std::copy(file.card.begin(), file.card.end(), plain.begin() + kPocketPrefixBytes);
  const std::optional<io::Sha256Digest> hash = io::Sha256Of(std::span(plain).first(kPocketHashed));
  if (!hash) return std::nullopt;
  std::copy(hash->begin(), hash->end(), plain.begin() + kPocketHashed);
  if (!io::Aes128CbcEncrypt(kPocketKey, kPocketIv, plain, plain)) return std::nullopt;
  return plain;
}

}  // namespace

std::optional<Ps1FileKind> Ps1KindOf(std::span<const std::uint8_t> head, std::uint64_t length) {
  if (length == kPs1CardBytes && IsCardAt(head, 0)) return Ps1FileKind::kRaw;
  if (IsDexDrive(head, length)) return Ps1FileKind::kDexDrive;
  if (length == kVgsHeaderBytes + kPs1CardBytes && StartsWith(head, kVgsMagic)) return Ps1FileKind::kVgs;
  if (length == kVmpHeaderBytes + kPs1CardBytes && StartsWith(head, kVmpMagic)) return Ps1FileKind::kVmp;
  if (length == kPocketStationBytes) return Ps1FileKind::kPocketStation;
  return std::nullopt;
}

std::optional<std::uint64_t> Ps1CardFile::CardOffset() const {
  if (kind == Ps1FileKind::kPocketStation) return std::nullopt;
  return header.size();
}

Ps1ReadResult ReadPs1CardFile(const std::string& path, Ps1CardFile& out) {
  const io::SourcePtr file = io::OpenSource(path);
  if (!file) return Ps1ReadResult::kOpenFailed;
  return ReadPs1CardFile(*file, out);
}

Ps1ReadResult ReadPs1CardFile(const io::ByteSource& file, Ps1CardFile& out) {
  // No card file is longer than a whole DexDrive file: anything longer is none.
  if (file.size() > kDexDriveHeaderBytes + kPs1CardBytes) return Ps1ReadResult::kNotPs1Card;
  if (const std::uint8_t* all = file.data())
    return ParsePs1CardFile(std::span(all, static_cast<std::size_t>(file.size())), out);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.size()));
  if (!file.ReadAt(0, bytes)) return Ps1ReadResult::kReadFailed;
  return ParsePs1CardFile(bytes, out);
}

Ps1ReadResult ParsePs1CardFile(std::span<const std::uint8_t> file, Ps1CardFile& out) {
  const std::optional<Ps1FileKind> kind = Ps1KindOf(file.first(std::min(file.size(), kPs1HeadBytes)), file.size());
  if (!kind) return Ps1ReadResult::kNotPs1Card;
  out = Ps1CardFile{};
  out.kind = *kind;
  if (*kind == Ps1FileKind::kPocketStation) return ParsePocketStation(file, out);
  const std::size_t headerBytes = *kind == Ps1FileKind::kDexDrive ? kDexDriveHeaderBytes
                                  : *kind == Ps1FileKind::kVgs    ? kVgsHeaderBytes
                                  : *kind == Ps1FileKind::kVmp    ? kVmpHeaderBytes
                                                                  : 0;
  out.header.assign(file.begin(), file.begin() + headerBytes);
  out.stored = file.size() - headerBytes;
  out.card.assign(kPs1CardBytes, 0);
  std::copy(file.begin() + headerBytes, file.end(), out.card.begin());
  if (*kind == Ps1FileKind::kVmp) out.verified = VmpVerifies(file);
  return Ps1ReadResult::kRead;
}

std::optional<std::vector<std::uint8_t>> Ps1FileBytes(const Ps1CardFile& file) {
  if (file.card.size() != kPs1CardBytes) return std::nullopt;
  if (file.kind == Ps1FileKind::kPocketStation) return PocketStationBytes(file);
  std::vector<std::uint8_t> header = file.header;
  if (file.kind == Ps1FileKind::kDexDrive) {
    header.resize(kDexDriveHeaderBytes, 0);
    RefreshDexDriveHeader(header, file.card);
  }
  std::vector<std::uint8_t> bytes = std::move(header);
  bytes.insert(bytes.end(), file.card.begin(), file.card.end());
  if (file.kind == Ps1FileKind::kVmp) {
    if (bytes.size() < kVmpHeaderBytes) return std::nullopt;
    const std::optional<psv::Signature> signature = VmpSignature(bytes);
    if (!signature) return std::nullopt;
    std::copy(signature->begin(), signature->end(), bytes.begin() + kVmpSignatureOffset);
  }
  return bytes;
}

Ps1CardFile NewPs1CardFile(Ps1FileKind kind, std::vector<std::uint8_t> card) {
  Ps1CardFile file;
  file.kind = kind;
  file.header = FreshHeader(kind);
  if (kind == Ps1FileKind::kVmp) {
    // Any seed verifies; one taken from the card makes the same card give the same file.
    if (const std::optional<io::Sha1Digest> seed = io::Sha1Of(card))
      std::copy(seed->begin(), seed->end(), file.header.begin() + kVmpSeedOffset);
  }
  file.card = std::move(card);
  return file;
}

std::vector<std::uint8_t> FreshPs1Card() {
  std::vector<std::uint8_t> card(kPs1CardBytes, 0);
  auto frame = [&card](std::size_t n) { return std::span<std::uint8_t, ::ps1::kFrameSize>(card.data() + n * ::ps1::kFrameSize, ::ps1::kFrameSize); };
  auto seal = [](std::span<std::uint8_t, ::ps1::kFrameSize> f) { f[::ps1::kXorOffset] = ::ps1::XorCheck(f); };
  std::copy(kCardMagic.begin(), kCardMagic.end(), frame(0).begin());
  seal(frame(0));
  for (std::size_t i = 1; i <= kDirectoryEntries; ++i) {
    bytes::PutU32LE(frame(i).data() + ::ps1::kStateOffset, ::ps1::kStateFree);
    bytes::PutU16LE(frame(i).data() + ::ps1::kNextOffset, ::ps1::kNoNext);
    seal(frame(i));
  }
  for (std::size_t i = kBrokenFrameFirst; i < kBrokenFrameFirst + kBrokenFrames; ++i) {
    bytes::PutU32LE(frame(i).data(), 0xFFFFFFFF);
    bytes::PutU16LE(frame(i).data() + 8, 0xFFFF);
    seal(frame(i));
  }
  std::copy(frame(0).begin(), frame(0).end(), frame(kLastFrame).begin());
  return card;
}

}  // namespace card
