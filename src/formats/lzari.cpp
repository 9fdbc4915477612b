#include "formats/lzari.h"

#include <bit>
#include <cstring>

#include "formats/lzari_model.h"

using namespace lzari;
using namespace lzari::detail;

namespace {

// Exact division of any 32-bit n by a fixed d (2 <= d < 2^32) as a multiplication:
// with m = ceil(2^64 / d), floor(n / d) is the top 64 bits of n * m, because n * m /
// 2^64 exceeds n / d by less than n / 2^64 < 1 / d, too little to reach the next whole
// number.
class Reciprocal {
 public:
  explicit Reciprocal(std::uint32_t d) : m_(~std::uint64_t{0} / d + 1) {}
  std::uint32_t Divide(std::uint32_t n) const {
    return static_cast<std::uint32_t>((static_cast<unsigned __int128>(n) * m_) >> 64);
  }

 private:
  std::uint64_t m_;
};

#ifdef MORAVELT_LZARI_SSE2
// Two mask bits per 16-bit lane where a > b.
inline std::uint64_t Above(__m128i a, __m128i b) {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi16(a, b)));
}
#endif

// The symbol whose share of the character total holds x (0 <= x < total): the first
// sym with symbolCum[sym] <= x, so that symbolCum[sym - 1] > x >= symbolCum[sym].
// The sums fall from symbol to symbol, so the entries above x are a leading run: the
// block is the first whose blockCum (the sum at its last symbol) is not above x, and
// within it the symbol is the first whose local sum is not above what is left.
// cumBelow and cumAbove are symbolCum[sym] and symbolCum[sym - 1].
inline std::uint32_t FindSymbol(const LzariCharModel& m, std::uint32_t x, std::uint32_t& cumBelow,
                                std::uint32_t& cumAbove) {
#ifdef MORAVELT_LZARI_SSE2
  const __m128i limit = _mm_set1_epi16(static_cast<std::int16_t>(x));
  const std::uint64_t blocksAbove = Above(Load8(m.blockCum), limit) |
                                    Above(Load8(m.blockCum + 8), limit) << 16 |
                                    Above(Load8(m.blockCum + 16), limit) << 32;
  const std::uint32_t block = static_cast<std::uint32_t>(std::countr_one(blocksAbove)) / 2;
  const std::uint32_t base = static_cast<std::uint32_t>(m.blockCum[block]);
  const std::int16_t* local = m.localCum + block * kSymbolBlock;
  const __m128i rest = _mm_set1_epi16(static_cast<std::int16_t>(x - base));
  const std::uint64_t localAbove = Above(Load8(local), rest) | Above(Load8(local + 8), rest) << 16;
  const std::uint32_t sym = block * kSymbolBlock + static_cast<std::uint32_t>(std::countr_one(localAbove)) / 2;
#else
  std::uint32_t block = 0;
  while (static_cast<std::uint32_t>(m.blockCum[block]) > x) ++block;
  const std::uint32_t base = static_cast<std::uint32_t>(m.blockCum[block]);
  std::uint32_t sym = block * kSymbolBlock;
  while (base + static_cast<std::uint32_t>(m.localCum[sym]) > x) ++sym;
#endif
  cumBelow = base + static_cast<std::uint32_t>(m.localCum[sym]);
  cumAbove = cumBelow + m.symbolFreq[sym];
  return sym;
}

}  // namespace

int LzariDecode(std::span<const std::uint8_t> input, std::uint8_t* output,
                std::uint32_t expectedLength, LzariState& state) {
  LzariState& s = state;
  std::memset(s.ring, 0, sizeof s.ring);
  std::memset(&s.model, 0, sizeof s.model);
  s.low = 0;
  s.high = kFull;
  s.value = 0;
  s.input = input.data();
  s.inputLength = input.size();
  s.inputCount = 0;
  s.bits = 0;
  s.bitCount = 0;
  s.outputCount = 0;
  if (expectedLength == 0 || output == nullptr) return -1;

  // The coder's registers and the bit reader live in locals while decoding (the output
  // writes could otherwise alias them) and go back into the state on the way out.
  const std::uint8_t* in = s.input;
  const std::size_t inLength = s.inputLength;
  std::size_t inCount = 0;
  std::uint64_t bits = 0;
  std::uint32_t bitCount = 0;
  std::uint32_t low = 0, high = kFull, value = 0;
  // Bits past this many have gone further beyond the input than any sound stream does.
  const std::uint64_t bitLimit = (static_cast<std::uint64_t>(inLength) + kInputSlackBytes) * 8;

  // The next n (0..32) bits as a number, the first one most significant.
  auto takeBits = [&](std::uint32_t n) -> std::uint32_t {
    if (bitCount < n) {
      // Top the buffer up to 7 or 8 whole bytes; zeros past the end of the input.
      while (bitCount <= 56) {
        std::uint64_t byte = inCount < inLength ? in[inCount] : 0;
        ++inCount;
        bits |= byte << (56 - bitCount);
        bitCount += 8;
      }
    }
    std::uint32_t taken = static_cast<std::uint32_t>((bits >> 32) >> (32 - n));
    bits <<= n;
    bitCount -= n;
    return taken;
  };
  // The published loop shifts one bit at a time: while low and high - 1 agree in their
  // top bit it drops that bit (low >= half: subtract half; high <= half: nothing) and
  // doubles; then, while low is 01... and high - 1 is 10... (the interval straddles the
  // middle half), it subtracts a quarter and doubles, which drops the second bit and
  // keeps the top one. Once the top bits differ they stay different, so all the first
  // kind come before all the second, and each run is counted and shifted at once.
  auto renormalise = [&]() {
    constexpr std::uint32_t kMask = kFull - 1;
    std::uint32_t top = high - 1;  // the interval's last value
    std::uint32_t n = static_cast<std::uint32_t>(std::countl_zero((low ^ top) << (32 - kCodeBits)));
    if (n > kCodeBits) n = kCodeBits;
    if (n != 0) {
      low = (low << n) & kMask;
      top = ((top << n) | ((1u << n) - 1)) & kMask;
      value = ((value << n) | takeBits(n)) & kMask;
    }
    // Runs of the second kind: low's bits after the top one are 1 where top's are 0.
    std::uint32_t m = static_cast<std::uint32_t>(
        std::countl_one(((low & ~top) & (kHalf - 1)) << (32 - kCodeBits + 1)));
    if (m != 0) {
      const std::uint32_t keep = (1u << (kCodeBits - 1 - m)) - 1;  // bits below the dropped ones
      low = (low & kHalf) | ((low & keep) << m);
      top = (top & kHalf) | ((top & keep) << m) | ((1u << m) - 1);
      value = (value & kHalf) | ((value & keep) << m) | takeBits(m);
    }
    high = top + 1;
  };
  auto save = [&]() {
    s.low = low;
    s.high = high;
    s.value = value;
    s.inputCount = inCount;
    s.bits = bits;
    s.bitCount = bitCount;
  };

  value = takeBits(kCodeBits);
  StartCharModel(s.model);
  std::memset(s.ring, kRingFill, kRingStart);
  std::uint32_t r = kRingStart;
  std::uint32_t count = 0;

  const std::uint32_t* positionCum = kPositions.cum.data();
  std::uint8_t* ring = s.ring;

  for (;;) {
    // A character code. low <= value < high holds whatever the input, so x < total;
    // the clamp only keeps the search inside its table should that ever fail.
    std::uint32_t range = high - low;
    std::uint32_t total = s.model.charTotal;
    // The two bounds divide by the total, known before this symbol's x is: its
    // reciprocal is worked out meanwhile and they take a multiplication each.
    const Reciprocal byTotal(total);
    std::uint32_t x = ((value - low + 1) * total - 1) / range;
    if (x >= total) x = total - 1;
    std::uint32_t cumBelow, cumAbove;
    const std::uint32_t sym = FindSymbol(s.model, x, cumBelow, cumAbove);
    high = low + byTotal.Divide(range * cumAbove);
    low = low + byTotal.Divide(range * cumBelow);
    renormalise();
    const std::uint32_t ch = s.model.symbolToChar[sym];
    UpdateCharModel(s.model, sym);

    if (ch < kLiterals) {
      output[count++] = static_cast<std::uint8_t>(ch);
      ring[r] = static_cast<std::uint8_t>(ch);
      r = (r + 1) & kRingMask;
    } else {
      // Its position, from the fixed model.
      range = high - low;
      x = ((value - low + 1) * kPositionTotal - 1) / range;
      if (x >= kPositionTotal) x = kPositionTotal - 1;
      const std::uint32_t p = kPositions.positionOf[x];
      high = low + range * positionCum[p] / kPositionTotal;
      low = low + range * positionCum[p + 1] / kPositionTotal;
      renormalise();

      std::uint32_t from = (r - p - 1) & kRingMask;
      std::uint32_t length = ch - (kLiterals - 1 - kThreshold);
      if (length > expectedLength - count) length = expectedLength - count;
      for (std::uint32_t k = 0; k < length; ++k) {
        std::uint8_t b = ring[(from + k) & kRingMask];
        output[count++] = b;
        ring[r] = b;
        r = (r + 1) & kRingMask;
      }
    }

    if (count >= expectedLength) {
      s.outputCount = count;
      save();
      return 1;
    }
    if (static_cast<std::uint64_t>(inCount) * 8 - bitCount > bitLimit) {
      s.outputCount = count;
      save();
      return -1;
    }
  }
}
