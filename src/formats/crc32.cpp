#include "formats/crc32.h"

#include <array>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(MORAVELT_PORTABLE)
#include <immintrin.h>
#define MORAVELT_CRC32_CLMUL 1
#endif

namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

// Slicing by eight: table[0] is the classic byte table; table[k][b] is the register
// contribution of byte b followed by k zero bytes, so eight bytes fold in with eight
// independent look-ups per pass instead of eight dependent ones.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
  Tables t{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    std::uint32_t c = b;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    t[0][b] = c;
  }
  for (std::size_t k = 1; k < 8; ++k)
    for (std::size_t b = 0; b < 256; ++b)
      t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
  return t;
}

constexpr Tables kTables = MakeTables();

inline std::uint32_t Load32LE(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

#ifdef MORAVELT_CRC32_CLMUL
// Folding with carry-less multiplication, for processors that have it. The CRC is the
// remainder of the message polynomial modulo P. A 128-bit lane of remainder is carried
// a fixed distance further along the message by multiplying each of its 64-bit halves
// by the power of x that distance stands for (mod P) and adding (xor) the message lane
// found there. Four lanes advance together 64 bytes a pass, are folded into one, then
// the last 128 bits shrink to 64, to 32, and a Barrett reduction leaves the remainder.
// The constants, bit-reflected like the CRC itself: k1/k2 carry a lane 512 bits on,
// k3/k4 128 bits, k5 takes 64 bits to 32; then P (with its x^32 term) and x^64 / P.
#define MORAVELT_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

MORAVELT_CLMUL_TARGET inline __m128i Load128(const std::uint8_t* q) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

// The lane moved forward by the distance k stands for, plus the message lane met there.
MORAVELT_CLMUL_TARGET inline __m128i Fold(__m128i lane, __m128i k, __m128i next) {
  __m128i lo = _mm_clmulepi64_si128(lane, k, 0x00);
  __m128i hi = _mm_clmulepi64_si128(lane, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// `crc` is the register (already complemented); n is a multiple of 16, at least 64.
MORAVELT_CLMUL_TARGET std::uint32_t FoldClmul(const std::uint8_t* p, std::size_t n,
                                              std::uint32_t crc) {
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
  const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  __m128i x1 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = Load128(p + 16);
  __m128i x3 = Load128(p + 32);
  __m128i x4 = Load128(p + 48);
  p += 64;
  n -= 64;
  while (n >= 64) {
    x1 = Fold(x1, k1k2, Load128(p));
    x2 = Fold(x2, k1k2, Load128(p + 16));
    x3 = Fold(x3, k1k2, Load128(p + 32));
    x4 = Fold(x4, k1k2, Load128(p + 48));
    p += 64;
    n -= 64;
  }
  x1 = Fold(x1, k3k4, x2);
  x1 = Fold(x1, k3k4, x3);
  x1 = Fold(x1, k3k4, x4);
  while (n >= 16) {
    x1 = Fold(x1, k3k4, Load128(p));
    p += 16;
    n -= 16;
  }
  // 128 bits to 64: the low half moved by 64 bits into the high half's place.
  __m128i t = _mm_clmulepi64_si128(x1, k3k4, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), t);
  // 64 to 32.
  t = _mm_srli_si128(x1, 4);
  x1 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00);
  x1 = _mm_xor_si128(x1, t);
  // Barrett reduction.
  t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
  x1 = _mm_xor_si128(x1, t);
  return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

bool HaveClmul() {
  static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return have;
}
#endif

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
  const std::uint8_t* p = bytes.data();
  std::size_t n = bytes.size();
  std::uint32_t c = ~crc;
#ifdef MORAVELT_CRC32_CLMUL
  if (n >= 64 && HaveClmul()) {
    std::size_t whole = n & ~std::size_t{15};
    c = FoldClmul(p, whole, c);
    p += whole;
    n -= whole;
  }
#endif
  while (n >= 8) {
    std::uint32_t lo = c ^ Load32LE(p);
    std::uint32_t hi = Load32LE(p + 4);
    c = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
        kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
        kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
    p += 8;
    n -= 8;
  }
  while (n-- > 0) c = kTables[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
  return ~c;
}
