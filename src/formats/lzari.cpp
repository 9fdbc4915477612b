#include "formats/lzari.h"

#include <cstring>

using namespace lzari;

namespace {

void StartModels(LzariState& s) {
  s.symbolCum[kCharCodes] = 0;
  for (std::uint32_t sym = kCharCodes; sym >= 1; --sym) {
    s.symbolToChar[sym] = sym - 1;
    s.charToSymbol[sym - 1] = sym;
    s.symbolFreq[sym] = 1;
    s.symbolCum[sym - 1] = s.symbolCum[sym] + 1;
  }
  s.symbolToChar[0] = 0;
  s.symbolFreq[0] = 0;

  s.positionCum[kRingSize] = 0;
  for (std::uint32_t i = kRingSize; i >= 1; --i)
    s.positionCum[i - 1] = s.positionCum[i] + 10000 / (i + 200);
}

// Counts symbol `sym` once. The symbols stay sorted by falling frequency: before the
// increment, `sym` trades places with the lowest symbol of its run of equal
// frequencies, so only that one symbol's frequency (and the sums above it) change.
inline void UpdateCharModel(LzariState& s, std::uint32_t sym) {
  std::uint32_t* freq = s.symbolFreq;
  std::uint32_t* cum = s.symbolCum;
  if (cum[0] >= kMaxCharTotal) {
    std::uint32_t sum = 0;
    for (std::uint32_t i = kCharCodes; i >= 1; --i) {
      cum[i] = sum;
      freq[i] = (freq[i] + 1) >> 1;
      sum += freq[i];
    }
    cum[0] = sum;
  }
  std::uint32_t i = sym;
  while (freq[i] == freq[i - 1]) --i;  // freq[0] == 0 stops this at 1
  if (i < sym) {
    std::uint32_t chI = s.symbolToChar[i];
    std::uint32_t chSym = s.symbolToChar[sym];
    s.symbolToChar[i] = chSym;
    s.symbolToChar[sym] = chI;
    s.charToSymbol[chI] = sym;
    s.charToSymbol[chSym] = i;
  }
  ++freq[i];
  for (std::uint32_t j = 0; j < i; ++j) ++cum[j];
}

}  // namespace

int LzariDecode(std::span<const std::uint8_t> input, std::uint8_t* output,
                std::uint32_t expectedLength, LzariState& state) {
  LzariState& s = state;
  std::memset(s.ring, 0, sizeof s.ring);
  std::memset(s.charToSymbol, 0, sizeof s.charToSymbol);
  std::memset(s.symbolToChar, 0, sizeof s.symbolToChar);
  std::memset(s.symbolFreq, 0, sizeof s.symbolFreq);
  std::memset(s.symbolCum, 0, sizeof s.symbolCum);
  std::memset(s.positionCum, 0, sizeof s.positionCum);
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

  auto nextBit = [&]() -> std::uint32_t {
    if (bitCount == 0) {
      // Top the buffer up to 7 or 8 whole bytes; zeros past the end of the input.
      while (bitCount <= 56) {
        std::uint64_t byte = inCount < inLength ? in[inCount] : 0;
        ++inCount;
        bits |= byte << (56 - bitCount);
        bitCount += 8;
      }
    }
    std::uint32_t bit = static_cast<std::uint32_t>(bits >> 63);
    bits <<= 1;
    --bitCount;
    return bit;
  };
  auto renormalise = [&]() {
    for (;;) {
      if (low >= kHalf) {
        value -= kHalf;
        low -= kHalf;
        high -= kHalf;
      } else if (low >= kQuarter && high <= kThreeQuarters) {
        value -= kQuarter;
        low -= kQuarter;
        high -= kQuarter;
      } else if (high > kHalf) {
        break;
      }
      low += low;
      high += high;
      value = 2 * value + nextBit();
    }
  };
  auto save = [&]() {
    s.low = low;
    s.high = high;
    s.value = value;
    s.inputCount = inCount;
    s.bits = bits;
    s.bitCount = bitCount;
  };

  for (std::uint32_t i = 0; i < kCodeBits; ++i) value = 2 * value + nextBit();
  StartModels(s);
  std::memset(s.ring, kRingFill, kRingStart);
  std::uint32_t r = kRingStart;
  std::uint32_t count = 0;

  const std::uint32_t* symbolCum = s.symbolCum;
  const std::uint32_t* positionCum = s.positionCum;
  std::uint8_t* ring = s.ring;

  for (;;) {
    // A character code. low <= value < high holds whatever the input, so x names a
    // symbol: the s with symbolCum[s-1] > x >= symbolCum[s].
    std::uint32_t range = high - low;
    std::uint32_t total = symbolCum[0];
    std::uint32_t x = ((value - low + 1) * total - 1) / range;
    std::uint32_t lo = 1, hi = kCharCodes;
    while (lo < hi) {
      std::uint32_t mid = (lo + hi) >> 1;
      if (symbolCum[mid] > x) lo = mid + 1;
      else hi = mid;
    }
    const std::uint32_t sym = lo;
    high = low + range * symbolCum[sym - 1] / total;
    low = low + range * symbolCum[sym] / total;
    renormalise();
    const std::uint32_t ch = s.symbolToChar[sym];
    UpdateCharModel(s, sym);

    if (ch < kLiterals) {
      output[count++] = static_cast<std::uint8_t>(ch);
      ring[r] = static_cast<std::uint8_t>(ch);
      r = (r + 1) & kRingMask;
    } else {
      // Its position, from the fixed model: the p with positionCum[p] > x >= positionCum[p+1].
      range = high - low;
      x = ((value - low + 1) * kPositionTotal - 1) / range;
      lo = 1;
      hi = kRingSize;
      while (lo < hi) {
        std::uint32_t mid = (lo + hi) >> 1;
        if (positionCum[mid] > x) lo = mid + 1;
        else hi = mid;
      }
      const std::uint32_t p = lo - 1;
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
