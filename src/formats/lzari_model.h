// The two models LZARI codes with, shared by LzariDecode and LzariEncode (internal to
// src/formats): the fixed position model as constant data, and the updates of the
// adaptive character model (see LzariCharModel in lzari.h). Both sides must change the
// character model in exactly the same way after every code, or the stream means
// something else to the decoder than to the encoder.
#pragma once

#include <array>
#include <cstdint>

#include "formats/lzari.h"

// The block sums are searched and counted eight at a time with SSE2 where the compiler has
// it; the plain loops beside that code do the same one at a time. MORAVELT_LZARI_SCALAR
// builds the plain loops everywhere (the asan preset does, so both are built and tested),
// as the portable build does, except for WebAssembly: there the compiler's SSE2 header
// gives each of these operations as one of WebAssembly's SIMD instructions (-msse2
// -msimd128), and decoding takes three fifths of the time the plain loops take.
#if defined(__SSE2__) && !defined(MORAVELT_LZARI_SCALAR) && (!defined(MORAVELT_PORTABLE) || defined(__wasm_simd128__))
#include <emmintrin.h>
#define MORAVELT_LZARI_SSE2 1
#endif

// The decoding and encoding loops are compiled a second time for processors with AVX2,
// BMI1, BMI2 and LZCNT (three-operand forms, shifts by a register without the flags,
// leading zeros counted in one instruction), chosen at run time.
#if defined(MORAVELT_LZARI_SSE2) && defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#define MORAVELT_LZARI_WIDE 1
#define MORAVELT_LZARI_WIDE_TARGET gnu::target("avx2,bmi,bmi2,lzcnt")
#endif

namespace lzari::detail {

// Exact division of any 32-bit n by a fixed d (2 <= d < 2^32) as a multiplication:
// with m = ceil(2^64 / d), floor(n / d) is the top 64 bits of n * m, because n * m /
// 2^64 exceeds n / d by less than n / 2^64 < 1 / d, too little to reach the next whole
// number. Where a 128-bit product is a call into the compiler's library (WebAssembly and
// other 32-bit targets), the two divisions it saves cost less than it does, so there it
// divides.
#if defined(__SIZEOF_INT128__) && !defined(__wasm__)
class Reciprocal {
 public:
  explicit Reciprocal(std::uint32_t d) : m_(~std::uint64_t{0} / d + 1) {}
  std::uint32_t Divide(std::uint32_t n) const {
    return static_cast<std::uint32_t>((static_cast<unsigned __int128>(n) * m_) >> 64);
  }

 private:
  std::uint64_t m_;
};
#else
class Reciprocal {
 public:
  explicit Reciprocal(std::uint32_t d) : d_(d) {}
  std::uint32_t Divide(std::uint32_t n) const { return n / d_; }

 private:
  std::uint32_t d_;
};
#endif

#ifdef MORAVELT_LZARI_WIDE
// Whether this processor runs the wide loops. LZCNT is reported apart from the others.
inline bool HasWide() {
  static const bool has = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    const bool lzcnt = __get_cpuid(0x80000001, &a, &b, &c, &d) && (c & bit_LZCNT) != 0;
    return lzcnt && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2");
  }();
  return has;
}
#endif

// The fixed position model. Position p weighs floor(10000 / (p + 201)); cum[i] is the
// weight of positions i..4095, so cum[0] is the total and cum[4096] is 0. positionOf[x]
// is the p with cum[p] > x >= cum[p + 1], looked up instead of searched for.
struct PositionModel {
  std::array<std::uint32_t, kRingSize + 1> cum{};
  std::array<std::uint16_t, kPositionTotal> positionOf{};
};

constexpr PositionModel MakePositionModel() {
  PositionModel m;
  for (std::uint32_t i = kRingSize; i >= 1; --i) m.cum[i - 1] = m.cum[i] + 10000 / (i + 200);
  for (std::uint32_t p = 0; p < kRingSize; ++p)
    for (std::uint32_t x = m.cum[p + 1]; x < m.cum[p]; ++x) m.positionOf[x] = static_cast<std::uint16_t>(p);
  return m;
}

inline constexpr PositionModel kPositions = MakePositionModel();
static_assert(kPositions.cum[0] == kPositionTotal);
static_assert(kPositions.cum[0] - kPositions.cum[1] == 49 && kPositions.cum[4095] == 2);

// The block and local sums from the frequencies.
inline void SumFrequencies(LzariCharModel& m) {
  std::uint32_t total = 0;
  for (std::int32_t b = kBlocks - 1; b >= 0; --b) {
    m.blockCum[b] = static_cast<std::int16_t>(total);
    std::uint32_t local = 0;
    for (std::int32_t k = kSymbolBlock - 1; k >= 0; --k) {
      const std::uint32_t sym = static_cast<std::uint32_t>(b) * kSymbolBlock + static_cast<std::uint32_t>(k);
      m.localCum[sym] = static_cast<std::int16_t>(local);
      if (sym >= 1 && sym <= kCharCodes) local += m.symbolFreq[sym];
    }
    total += local;
  }
  for (std::uint32_t b = kBlocks; b < kBlockSlots; ++b) m.blockCum[b] = 0;
  m.charTotal = total;
}

// Walking down, the last symbol seen with each frequency is the front of its run.
inline void FindRuns(LzariCharModel& m) {
  for (std::uint32_t sym = kCharCodes; sym >= 1; --sym)
    m.runStart[m.symbolFreq[sym]] = static_cast<std::uint16_t>(sym);
}

// Every code at frequency 1, code c as symbol c + 1.
inline void StartCharModel(LzariCharModel& m) {
  for (std::uint32_t sym = kCharCodes; sym >= 1; --sym) {
    m.symbolToChar[sym] = sym - 1;
    m.charToSymbol[sym - 1] = sym;
    m.symbolFreq[sym] = 1;
  }
  m.symbolToChar[0] = 0;
  m.symbolFreq[0] = 0;
  m.symbolFreq[kCharCodes + 1] = 0;
  SumFrequencies(m);
  FindRuns(m);
}

// symbolCum[sym]: the frequencies of the symbols after sym.
inline std::uint32_t CumulativeFrequency(const LzariCharModel& m, std::uint32_t sym) {
  return static_cast<std::uint32_t>(m.blockCum[sym / kSymbolBlock]) + static_cast<std::uint32_t>(m.localCum[sym]);
}

#ifdef MORAVELT_LZARI_SSE2
inline __m128i Load8(const std::int16_t* p) { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store8(std::int16_t* p, __m128i v) { _mm_store_si128(reinterpret_cast<__m128i*>(p), v); }
#endif

// Adds 1 to symbolCum[0..n-1]: the local sums before n in n's block and the block sums
// before that block.
inline void CountUpTo(LzariCharModel& m, std::uint32_t n) {
  const std::uint32_t block = n / kSymbolBlock;
  const std::uint32_t within = n % kSymbolBlock;
#ifdef MORAVELT_LZARI_SSE2
  // A compare that holds gives -1 in a lane, so subtracting it adds 1 there.
  const __m128i lanes = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
  const __m128i eight = _mm_set1_epi16(8);
  const __m128i sixteen = _mm_set1_epi16(16);
  const __m128i localEnd = _mm_set1_epi16(static_cast<std::int16_t>(within));
  std::int16_t* local = m.localCum + block * kSymbolBlock;
  Store8(local, _mm_sub_epi16(Load8(local), _mm_cmpgt_epi16(localEnd, lanes)));
  Store8(local + 8, _mm_sub_epi16(Load8(local + 8), _mm_cmpgt_epi16(localEnd, _mm_add_epi16(lanes, eight))));
  const __m128i blockEnd = _mm_set1_epi16(static_cast<std::int16_t>(block));
  std::int16_t* blocks = m.blockCum;
  Store8(blocks, _mm_sub_epi16(Load8(blocks), _mm_cmpgt_epi16(blockEnd, lanes)));
  Store8(blocks + 8, _mm_sub_epi16(Load8(blocks + 8), _mm_cmpgt_epi16(blockEnd, _mm_add_epi16(lanes, eight))));
  Store8(blocks + 16, _mm_sub_epi16(Load8(blocks + 16), _mm_cmpgt_epi16(blockEnd, _mm_add_epi16(lanes, sixteen))));
#else
  for (std::uint32_t k = 0; k < within; ++k) ++m.localCum[block * kSymbolBlock + k];
  for (std::uint32_t b = 0; b < block; ++b) ++m.blockCum[b];
#endif
}

// Counts symbol `sym` once. The symbols stay sorted by falling frequency: before the
// increment, `sym` trades places with the lowest symbol of its run of equal
// frequencies, so only that one symbol's frequency changes. Written without branches
// (a trade of a symbol with itself changes nothing): which way each test goes depends on
// the data, and a mispredicted branch costs more than the stores.
inline void UpdateCharModel(LzariCharModel& m, std::uint32_t sym) {
  std::uint32_t* freq = m.symbolFreq;
  if (m.charTotal >= kMaxCharTotal) {
    for (std::uint32_t i = kCharCodes; i >= 1; --i) freq[i] = (freq[i] + 1) >> 1;
    SumFrequencies(m);
    FindRuns(m);
  }
  const std::uint32_t f = freq[sym];
  const std::uint32_t i = m.runStart[f];
  const std::uint32_t chI = m.symbolToChar[i];
  const std::uint32_t chSym = m.symbolToChar[sym];
  m.symbolToChar[i] = chSym;
  m.symbolToChar[sym] = chI;
  m.charToSymbol[chI] = sym;
  m.charToSymbol[chSym] = i;
  ++freq[i];
  ++m.charTotal;
  // i left the front of the run of f (when it was the run's only symbol, the run is gone
  // and its entry is no longer read) and became the back of the run of f + 1, or its
  // front when the symbol before it has another frequency.
  m.runStart[f] = static_cast<std::uint16_t>(i + 1);
  const std::uint16_t front = m.runStart[f + 1];
  m.runStart[f + 1] = freq[i - 1] == f + 1 ? front : static_cast<std::uint16_t>(i);
  CountUpTo(m, i);
}

}  // namespace lzari::detail
