#include <gtest/gtest.h>

#include <cstring>

#include "formats/crc32.h"
#include "support/test_util.h"

#ifdef MORAVELT_HAVE_ZLIB
#include <zlib.h>
#endif

using testutil::Bytes;

namespace {

// Bitwise, one byte at a time: the definition the table form must agree with.
std::uint32_t BitwiseCrc(const Bytes& data) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::uint8_t b : data) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
  }
  return ~c;
}

}  // namespace

TEST(Crc32, KnownValues) {
  struct Case {
    const char* why;
    std::string text;
    std::uint32_t crc;
  };
  const Case cases[] = {
      {"the standard check value", "123456789", 0xCBF43926u},
      {"nothing at all", "", 0x00000000u},
      {"one byte, the remainder loop alone", "a", 0xE8B7BE43u},
      {"exactly one eight-byte pass", "abcdefgh", 0xAEEF2A50u},
      {"a pass and a remainder", "The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const Case& c : cases) {
    Bytes data = testutil::FromString(c.text);
    EXPECT_EQ(Crc32(data), c.crc) << c.why;
    EXPECT_EQ(Crc32(data.data(), data.size()), c.crc) << c.why;
  }
}

TEST(Crc32, AgreesWithBitwiseDefinitionAtEveryLengthAndAlignment) {
  Bytes data = testutil::MakeBytes(300, 7);
  for (std::size_t offset = 0; offset < 9; ++offset)
    for (std::size_t len = 0; offset + len <= data.size(); len += 1 + len / 16) {
      Bytes piece(data.begin() + static_cast<std::ptrdiff_t>(offset),
                  data.begin() + static_cast<std::ptrdiff_t>(offset + len));
      ASSERT_EQ(Crc32(data.data() + offset, len), BitwiseCrc(piece))
          << "offset " << offset << " length " << len;
    }
}

TEST(Crc32, IncrementalSplitsGiveTheWholeBufferCrc) {
  Bytes data = testutil::MakeBytes(5000, 11);
  const std::uint32_t whole = Crc32(data);
  for (std::size_t a : {0u, 1u, 7u, 8u, 9u, 100u, 2500u, 4999u, 5000u}) {
    for (std::size_t b : {a, a + (5000 - a) / 3, std::size_t{5000}}) {
      std::uint32_t c = Crc32Update(0, std::span(data.data(), a));
      c = Crc32Update(c, std::span(data.data() + a, b - a));
      c = Crc32Update(c, std::span(data.data() + b, data.size() - b));
      EXPECT_EQ(c, whole) << "split at " << a << " and " << b;
    }
  }
}

// Long buffers are folded 64 and 16 bytes at a time where the processor allows and
// finished byte by byte: every way a length splits between those steps, at any alignment.
TEST(Crc32, FoldingStepBoundaries) {
  Bytes data = testutil::MakeBytes(70000, 13);
  for (std::size_t offset : {0u, 1u, 3u, 8u, 15u})
    for (std::size_t len : {63u, 64u, 65u, 79u, 80u, 81u, 127u, 128u, 129u, 143u, 144u, 191u,
                            192u, 193u, 4095u, 4096u, 65536u + 47u}) {
      Bytes piece(data.begin() + static_cast<std::ptrdiff_t>(offset),
                  data.begin() + static_cast<std::ptrdiff_t>(offset + len));
      ASSERT_EQ(Crc32(piece), BitwiseCrc(piece)) << "offset " << offset << " length " << len;
    }
}

#ifdef MORAVELT_HAVE_ZLIB
TEST(Crc32, MatchesZlibOnRandomBuffers) {
  std::uint32_t seed = 1;
  for (std::size_t len : {0u, 1u, 3u, 8u, 15u, 16u, 17u, 63u, 64u, 255u, 1024u, 4093u, 65536u,
                          1000003u}) {
    for (int round = 0; round < 4; ++round) {
      Bytes data = testutil::MakeBytes(len, seed++);
      std::uint32_t expected = static_cast<std::uint32_t>(
          crc32(0L, data.data(), static_cast<uInt>(data.size())));
      ASSERT_EQ(Crc32(data), expected) << "length " << len << " seed " << seed - 1;
      // The same buffer in two uneven pieces continues zlib's running value.
      std::size_t cut = len / 3 + static_cast<std::size_t>(round);
      if (cut > len) cut = len;
      std::uint32_t first = static_cast<std::uint32_t>(crc32(0L, data.data(), static_cast<uInt>(cut)));
      ASSERT_EQ(Crc32Update(first, std::span(data.data() + cut, len - cut)), expected);
    }
  }
}
#endif
