// CRC-32 of IEEE 802.3 in its reflected form, the one zip and zlib use: polynomial
// 0xEDB88320 (bit-reversed 0x04C11DB7), register preset to all ones, result complemented.
// The check value of the nine characters "123456789" is 0xCBF43926.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Continues a CRC over more bytes. Start with 0; the result of one call is the `crc` of
// the next, so Crc32Update(Crc32Update(0, a), b) equals the CRC of a followed by b.
std::uint32_t Crc32Update(std::uint32_t crc, std::span<const std::uint8_t> bytes);

// The CRC of one buffer in one piece.
inline std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t length) {
  return Crc32Update(0, std::span<const std::uint8_t>(bytes, length));
}
inline std::uint32_t Crc32(std::span<const std::uint8_t> bytes) { return Crc32Update(0, bytes); }
