#include "formats/lzari.h"

#include <array>
#include <bit>
#include <cstring>

using namespace lzari;

namespace {

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

constexpr PositionModel kPositions = MakePositionModel();
static_assert(kPositions.cum[0] == kPositionTotal);
static_assert(kPositions.cum[0] - kPositions.cum[1] == 49 && kPositions.cum[4095] == 2);

// symbolTree[k] holds the frequencies of symbols k - lowbit(k) + 1 .. k.
void BuildSymbolTree(LzariState& s) {
  std::uint32_t* tree = s.symbolTree;
  for (std::uint32_t k = 1; k <= kCharCodes; ++k) tree[k] = s.symbolFreq[k];
  for (std::uint32_t k = 1; k <= kCharCodes; ++k) {
    std::uint32_t parent = k + (k & (0u - k));
    if (parent <= kCharCodes) tree[parent] += tree[k];
  }
}

// Walking down, the last symbol seen with each frequency is the front of its run.
void FindRuns(LzariState& s) {
  for (std::uint32_t sym = kCharCodes; sym >= 1; --sym)
    s.runStart[s.symbolFreq[sym]] = static_cast<std::uint16_t>(sym);
}

void StartModels(LzariState& s) {
  for (std::uint32_t sym = kCharCodes; sym >= 1; --sym) {
    s.symbolToChar[sym] = sym - 1;
    s.charToSymbol[sym - 1] = sym;
    s.symbolFreq[sym] = 1;
  }
  s.symbolToChar[0] = 0;
  s.symbolFreq[0] = 0;
  s.symbolFreq[kCharCodes + 1] = 0;
  s.charTotal = kCharCodes;
  FindRuns(s);
  std::memset(s.symbolTree, 0xFF, sizeof s.symbolTree);
  s.symbolTree[0] = 0;
  BuildSymbolTree(s);
}

// The symbol whose share of the character total holds x (0 <= x < total), with the two
// cumulative frequencies that bound it: cumAbove = symbolCum[sym - 1] > x >=
// cumBelow = symbolCum[sym]. Those are the frequencies of the symbols after sym, so
// sym is the first symbol whose prefix sum reaches total - x.
inline std::uint32_t FindSymbol(const LzariState& s, std::uint32_t x, std::uint32_t& cumAbove,
                                std::uint32_t& cumBelow) {
  const std::uint32_t* tree = s.symbolTree;
  std::uint32_t pos = 0;
  std::uint32_t rest = s.charTotal - x;  // 1 .. total
  for (std::uint32_t step = kSymbolTreeSize / 2; step != 0; step >>= 1) {
    // Written to compile without branches: the path is as good as random.
    const std::uint32_t next = pos + step;
    const std::uint32_t part = tree[next];
    const bool go = part < rest;
    pos = go ? next : pos;
    rest = go ? rest - part : rest;
  }
  // Now symbols 1..pos sum to total - x - rest.
  const std::uint32_t sym = pos + 1;
  cumAbove = x + rest;
  cumBelow = cumAbove - s.symbolFreq[sym];
  return sym;
}

// Counts symbol `sym` once. The symbols stay sorted by falling frequency: before the
// increment, `sym` trades places with the lowest symbol of its run of equal
// frequencies, so only that one symbol's frequency changes.
inline void UpdateCharModel(LzariState& s, std::uint32_t sym) {
  std::uint32_t* freq = s.symbolFreq;
  if (s.charTotal >= kMaxCharTotal) {
    std::uint32_t sum = 0;
    for (std::uint32_t i = kCharCodes; i >= 1; --i) {
      freq[i] = (freq[i] + 1) >> 1;
      sum += freq[i];
    }
    s.charTotal = sum;
    BuildSymbolTree(s);
    FindRuns(s);
  }
  const std::uint32_t f = freq[sym];
  const std::uint32_t i = s.runStart[f];
  if (i < sym) {
    std::uint32_t chI = s.symbolToChar[i];
    std::uint32_t chSym = s.symbolToChar[sym];
    s.symbolToChar[i] = chSym;
    s.symbolToChar[sym] = chI;
    s.charToSymbol[chI] = sym;
    s.charToSymbol[chSym] = i;
  }
  ++freq[i];
  ++s.charTotal;
  // i left the front of the run of f and became the back of the run of f + 1.
  if (freq[i + 1] == f) s.runStart[f] = static_cast<std::uint16_t>(i + 1);
  if (freq[i - 1] != f + 1) s.runStart[f + 1] = static_cast<std::uint16_t>(i);
  for (std::uint32_t k = i; k <= kCharCodes; k += k & (0u - k)) ++s.symbolTree[k];
}

}  // namespace

int LzariDecode(std::span<const std::uint8_t> input, std::uint8_t* output,
                std::uint32_t expectedLength, LzariState& state) {
  LzariState& s = state;
  std::memset(s.ring, 0, sizeof s.ring);
  std::memset(s.charToSymbol, 0, sizeof s.charToSymbol);
  std::memset(s.symbolToChar, 0, sizeof s.symbolToChar);
  std::memset(s.symbolFreq, 0, sizeof s.symbolFreq);
  std::memset(s.runStart, 0, sizeof s.runStart);
  std::memset(s.symbolTree, 0, sizeof s.symbolTree);
  s.charTotal = 0;
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
  StartModels(s);
  std::memset(s.ring, kRingFill, kRingStart);
  std::uint32_t r = kRingStart;
  std::uint32_t count = 0;

  const std::uint32_t* positionCum = kPositions.cum.data();
  std::uint8_t* ring = s.ring;

  for (;;) {
    // A character code. low <= value < high holds whatever the input, so x < total;
    // the clamp only keeps the search inside its table should that ever fail.
    std::uint32_t range = high - low;
    std::uint32_t total = s.charTotal;
    std::uint32_t x = ((value - low + 1) * total - 1) / range;
    if (x >= total) x = total - 1;
    std::uint32_t cumAbove, cumBelow;
    const std::uint32_t sym = FindSymbol(s, x, cumAbove, cumBelow);
    high = low + range * cumAbove / total;
    low = low + range * cumBelow / total;
    renormalise();
    const std::uint32_t ch = s.symbolToChar[sym];
    UpdateCharModel(s, sym);

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
