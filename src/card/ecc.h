// The error-correcting code of a memory-card page.
//
// A page's 512 data bytes are four chunks of 128; its 16-byte spare area holds 3 ECC bytes
// per chunk (chunk 0 first), then 4 bytes of padding that the console writes as 0. For one
// chunk:
//   ECC[0]  column parity: for each byte b, the parities of b&0x55, b&0x33, b&0x0F go to
//           bits 0-2 and those of b&0xAA, b&0xCC, b&0xF0 to bits 4-6, all XORed together;
//           stored inverted, masked with 0x77.
//   ECC[1]  line parity: XOR of (~i & 0x7F) over the indexes i of the bytes with odd
//           parity; stored inverted, masked with 0x7F.
//   ECC[2]  XOR of those indexes i themselves; stored inverted, masked with 0x7F.
// One flipped data bit is found from the differences (syndromes) between the stored and
// the computed bytes: ECC[1] ^ ECC[2] is then 0x7F and names the byte in ECC[2], the
// column bits name the bit. A single difference in the ECC bytes alone means the data is
// right and the code wrong. Anything else is more than one bit: uncorrectable.
//
// An erased page (every byte 0xFF, spare included) passes: 0xFF ECC bytes differ from the
// code of 0xFF data (77 7F 7F) only outside the masks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace card {

inline constexpr std::size_t kPageData = 512;
inline constexpr std::size_t kPageSpare = 16;
inline constexpr std::size_t kEccChunk = 128;
inline constexpr std::size_t kEccChunks = kPageData / kEccChunk;

using ChunkEcc = std::array<std::uint8_t, 3>;

// The 3 ECC bytes of one 128-byte chunk.
ChunkEcc ComputeChunkEcc(std::span<const std::uint8_t, kEccChunk> chunk);

// The spare area the console writes for a page: the four chunks' codes, then 4 zeros.
void ComputePageSpare(std::span<const std::uint8_t, kPageData> data,
                      std::span<std::uint8_t, kPageSpare> spare);

enum class EccStatus {
  kGood,
  kDataCorrected,  // one data bit was wrong; it has been flipped back
  kEccWrong,       // the data is right, one bit of the stored code is not
  kUncorrectable,  // more than one bit differs: the data is left as it was
};

// Checks one chunk against its stored code and corrects one flipped data bit in place.
EccStatus CheckChunk(std::span<std::uint8_t, kEccChunk> chunk, const ChunkEcc& stored);

// True when every chunk of the page agrees with its stored code: CheckPage would find it
// kGood. Nothing is changed, so the page may be read where it lies.
bool PageIsGood(std::span<const std::uint8_t, kPageData> data, std::span<const std::uint8_t, kPageSpare> spare);

// Checks a whole page (data and spare) and corrects what can be corrected in the data; the
// worst status of its four chunks (kUncorrectable over kDataCorrected over kEccWrong).
// `badChunk` receives the first chunk with that status.
EccStatus CheckPage(std::span<std::uint8_t, kPageData> data,
                    std::span<const std::uint8_t, kPageSpare> spare, int* badChunk = nullptr);

}  // namespace card
