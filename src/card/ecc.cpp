#include "card/ecc.h"

#include <bit>

#if defined(__SSE2__) && defined(__x86_64__) && !defined(MORAVELT_PORTABLE)
#include <emmintrin.h>
#endif

#include "model/bytes.h"

namespace card {

namespace {

constexpr bool OddParity(unsigned v) { return (std::popcount(v) & 1) != 0; }

// The six column-parity bits of each byte value, in their ECC[0] positions.
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
    t[b] = static_cast<std::uint8_t>(bits);
  }
  return t;
}

constexpr auto kColumn = MakeColumnTable();

// The parity of the bits of v: 1 when odd.
constexpr unsigned Parity(std::uint64_t v) {
#if defined(__GNUC__)
  return static_cast<unsigned>(__builtin_parityll(v));  // the processor's parity flag, on x86
#endif
  v ^= v >> 32;
  v ^= v >> 16;
  v ^= v >> 8;
  v ^= v >> 4;
  return (0x6996u >> (v & 0xF)) & 1u;
}

}  // namespace

ChunkEcc ComputeChunkEcc(std::span<const std::uint8_t, kEccChunk> chunk) {
  // Parity is linear: the parity of bytes XORed together is the XOR of their parities. So
  // bit k of the line parity (the parity of the odd bytes whose index has bit k set) is the
  // parity of those bytes XORed together, and the column bits are those of all 128 bytes
  // XORed together. The bytes are taken eight at a time: bits 3-6 of an index choose the
  // word, bits 0-2 the byte within it. Masks rather than branches pick the words, so that
  // the loop unrolls into straight XORs.
  std::uint64_t all = 0;
  std::array<std::uint64_t, 4> words{};  // [k]: the words whose number has bit k set
#if defined(__SSE2__) && defined(__x86_64__) && !defined(MORAVELT_PORTABLE)
  // Sixteen bytes at a time: row r holds words 2r and 2r + 1, so the odd words are the
  // rows' high halves, and bits 1-3 of a word's number are bits 0-2 of its row's.
  __m128i row[8];
  for (std::size_t r = 0; r < 8; ++r)
    row[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk.data() + 16 * r));
  const __m128i odd = _mm_xor_si128(_mm_xor_si128(row[1], row[3]), _mm_xor_si128(row[5], row[7]));
  const __m128i pairs = _mm_xor_si128(_mm_xor_si128(row[2], row[3]), _mm_xor_si128(row[6], row[7]));
  const __m128i upper = _mm_xor_si128(_mm_xor_si128(row[4], row[5]), _mm_xor_si128(row[6], row[7]));
  const __m128i every =
      _mm_xor_si128(odd, _mm_xor_si128(_mm_xor_si128(row[0], row[2]), _mm_xor_si128(row[4], row[6])));
  const auto low = [](__m128i v) { return static_cast<std::uint64_t>(_mm_cvtsi128_si64(v)); };
  const auto high = [](__m128i v) { return static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v))); };
  all = low(every) ^ high(every);
  words = {high(every), low(odd) ^ high(odd), low(pairs) ^ high(pairs), low(upper) ^ high(upper)};
#else
  for (unsigned j = 0; j < kEccChunk / 8; ++j) {
    const std::uint8_t* p = chunk.data() + 8 * j;
    const std::uint64_t w = bytes::GetU32LE(p) | std::uint64_t{bytes::GetU32LE(p + 4)} << 32;
    all ^= w;
    for (unsigned k = 0; k < words.size(); ++k) words[k] ^= w & (0 - std::uint64_t{(j >> k) & 1u});
  }
#endif
  unsigned line1 = Parity(all & 0xFF00FF00FF00FF00u) | Parity(all & 0xFFFF0000FFFF0000u) << 1 |
                   Parity(all & 0xFFFFFFFF00000000u) << 2;
  for (unsigned k = 0; k < words.size(); ++k) line1 |= Parity(words[k]) << (3 + k);
  const unsigned line0 = line1 ^ (Parity(all) ? 0x7Fu : 0u);  // ~i & 0x7F is i ^ 0x7F
  std::uint64_t folded = all ^ (all >> 32);
  folded ^= folded >> 16;
  folded ^= folded >> 8;
  const unsigned column = kColumn[folded & 0xFF];
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

namespace {
// Where a chunk's code and the stored one differ, within the bits the code uses.
ChunkEcc Syndrome(std::span<const std::uint8_t, kEccChunk> chunk, const std::uint8_t* stored) {
  const ChunkEcc computed = ComputeChunkEcc(chunk);
  return {static_cast<std::uint8_t>((computed[0] ^ stored[0]) & 0x77u),
          static_cast<std::uint8_t>((computed[1] ^ stored[1]) & 0x7Fu),
          static_cast<std::uint8_t>((computed[2] ^ stored[2]) & 0x7Fu)};
}
}  // namespace

EccStatus CheckChunk(std::span<std::uint8_t, kEccChunk> chunk, const ChunkEcc& stored) {
  const ChunkEcc s = Syndrome(chunk, stored.data());
  const unsigned e0 = s[0], e1 = s[1], e2 = s[2];
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

bool PageIsGood(std::span<const std::uint8_t, kPageData> data, std::span<const std::uint8_t, kPageSpare> spare) {
  for (std::size_t c = 0; c < kEccChunks; ++c) {
    // The differences ORed together, byte by byte: comparing the three bytes as an array
    // reads them back as one word just after they were written one by one, which stalls
    // the processor.
    const ChunkEcc s = Syndrome(data.subspan(c * kEccChunk).first<kEccChunk>(), spare.data() + c * 3);
    if ((s[0] | s[1] | s[2]) != 0) return false;
  }
  return true;
}

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
