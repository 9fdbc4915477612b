#include "card/ecc.h"

#include <bit>

namespace card {

namespace {

constexpr bool OddParity(unsigned v) { return (std::popcount(v) & 1) != 0; }

// The six column-parity bits of each byte value, in their ECC[0] positions, and in bit 7
// the byte's own parity.
constexpr std::array<std::uint8_t, 256> MakeColumnTable() {
  std::array<std::uint8_t, 256> t{};
  for (unsigned b = 0; b < 256; ++b) {
    unsigned bits = 0;
    if (OddParity(b & 0x55)) bits |= 0x01;
    if (OddParity(b & 0x33)) bits |= 0x02;
    if (OddParity(b & 0x0F)) bits |= 0x04;
    if (OddParity(b & 0xAA)) bits |= 0x10;
    if (OddParity(b & 0xCC)) bits |= 0x20;
    if (OddParity(b & 0xF0)) bits |= 0x40;
    if (OddParity(b)) bits |= 0x80;
    t[b] = static_cast<std::uint8_t>(bits);
  }
  return t;
}

constexpr auto kColumn = MakeColumnTable();

}  // namespace

ChunkEcc ComputeChunkEcc(std::span<const std::uint8_t, kEccChunk> chunk) {
  // The line parities: the indices of the bytes of odd parity, XORed, once as they are
  // and once inverted. Without a branch, as such bytes come in no pattern.
  unsigned column = 0, line1 = 0, odd = 0;
  for (unsigned i = 0; i < kEccChunk; ++i) {
    const unsigned bits = kColumn[chunk[i]];
    const unsigned mask = 0u - (bits >> 7);  // all ones for a byte of odd parity
    column ^= bits;
    line1 ^= i & mask;
    odd ^= mask;
  }
  const unsigned line0 = line1 ^ (odd & 0x7F);  // ~i & 0x7F is i ^ 0x7F
  return {static_cast<std::uint8_t>(~column & 0x77), static_cast<std::uint8_t>(~line0 & 0x7F),
          static_cast<std::uint8_t>(~line1 & 0x7F)};
}

void ComputePageSpare(std::span<const std::uint8_t, kPageData> data,
                      std::span<std::uint8_t, kPageSpare> spare) {
  for (std::size_t c = 0; c < kEccChunks; ++c) {
    ChunkEcc ecc = ComputeChunkEcc(data.subspan(c * kEccChunk).first<kEccChunk>());
    for (std::size_t k = 0; k < ecc.size(); ++k) spare[c * 3 + k] = ecc[k];
  }
  for (std::size_t k = kEccChunks * 3; k < kPageSpare; ++k) spare[k] = 0;
}

EccStatus CheckChunk(std::span<std::uint8_t, kEccChunk> chunk, const ChunkEcc& stored) {
  const ChunkEcc computed = ComputeChunkEcc(chunk);
  const unsigned e0 = (computed[0] ^ stored[0]) & 0x77u;
  const unsigned e1 = (computed[1] ^ stored[1]) & 0x7Fu;
  const unsigned e2 = (computed[2] ^ stored[2]) & 0x7Fu;
  if (e0 == 0 && e1 == 0 && e2 == 0) return EccStatus::kGood;
  const unsigned column = (e0 & 7u) ^ (e0 >> 4);
  if ((e1 ^ e2) == 0x7F && column == 7) {
    chunk[e2] ^= static_cast<std::uint8_t>(1u << (e0 >> 4));
    return EccStatus::kDataCorrected;
  }
  if (std::popcount(e1 ^ e2) + std::popcount(column) == 1) return EccStatus::kEccWrong;
  return EccStatus::kUncorrectable;
}

namespace {
// How bad a status is: a corrected data bit outranks a wrong code.
int Rank(EccStatus s) {
  switch (s) {
    case EccStatus::kGood: return 0;
    case EccStatus::kEccWrong: return 1;
    case EccStatus::kDataCorrected: return 2;
    case EccStatus::kUncorrectable: return 3;
  }
  return 3;
}
}  // namespace

EccStatus CheckPage(std::span<std::uint8_t, kPageData> data,
                    std::span<const std::uint8_t, kPageSpare> spare, int* badChunk) {
  EccStatus worst = EccStatus::kGood;
  for (std::size_t c = 0; c < kEccChunks; ++c) {
    ChunkEcc stored{spare[c * 3], spare[c * 3 + 1], spare[c * 3 + 2]};
    EccStatus s = CheckChunk(data.subspan(c * kEccChunk).first<kEccChunk>(), stored);
    if (Rank(s) > Rank(worst)) {
      worst = s;
      if (badChunk) *badChunk = static_cast<int>(c);
    }
  }
  return worst;
}

}  // namespace card
