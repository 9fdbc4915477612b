#include "support/lzari_reference.h"

#include <memory>
#include <vector>

#include "formats/lzari.h"

namespace testutil {

namespace {

struct Plain {
  std::uint8_t ring[4096];
  std::uint32_t low = 0, high = 1u << 17, value = 0;
  std::uint32_t charToSymbol[314];
  std::uint32_t symbolToChar[315];
  std::uint32_t symbolFreq[315];
  std::uint32_t symbolCum[315];
  std::uint32_t positionCum[4097];
  std::span<const std::uint8_t> in;
  std::size_t inPos = 0;      // bytes fetched, zeros past the end included
  std::uint32_t buffer = 0;
  std::uint32_t mask = 0;     // the next bit's mask; 0 = empty

  int GetBit() {
    if ((mask >>= 1) == 0) {
      buffer = inPos < in.size() ? in[inPos] : 0;
      ++inPos;
      mask = 0x80;
    }
    return (buffer & mask) != 0;
  }
  std::uint64_t BitsConsumed() const {
    std::uint32_t left = 0;
    for (std::uint32_t m = mask >> 1; m != 0; m >>= 1) ++left;
    return inPos * 8 - left;
  }
  void Renormalise() {
    for (;;) {
      if (low >= 65536) {
        value -= 65536; low -= 65536; high -= 65536;
      } else if (low >= 32768 && high <= 98304) {
        value -= 32768; low -= 32768; high -= 32768;
      } else if (high > 65536) {
        break;
      }
      low += low;
      high += high;
      value = 2 * value + static_cast<std::uint32_t>(GetBit());
    }
  }
  void Update(std::uint32_t sym) {
    if (symbolCum[0] >= 32767) {
      std::uint32_t c = 0;
      for (std::uint32_t i = 314; i > 0; --i) {
        symbolCum[i] = c;
        c += (symbolFreq[i] = (symbolFreq[i] + 1) >> 1);
      }
      symbolCum[0] = c;
    }
    std::uint32_t i = sym;
    while (symbolFreq[i] == symbolFreq[i - 1]) --i;
    if (i < sym) {
      std::uint32_t chI = symbolToChar[i], chSym = symbolToChar[sym];
      symbolToChar[i] = chSym;
      symbolToChar[sym] = chI;
      charToSymbol[chI] = sym;
      charToSymbol[chSym] = i;
    }
    symbolFreq[i]++;
    while (i > 0) symbolCum[--i]++;
  }
  std::uint32_t DecodeChar() {
    std::uint32_t range = high - low;
    std::uint32_t x = ((value - low + 1) * symbolCum[0] - 1) / range;
    std::uint32_t i = 1, j = 314;
    while (i < j) {
      std::uint32_t k = (i + j) / 2;
      if (symbolCum[k] > x) i = k + 1;
      else j = k;
    }
    std::uint32_t sym = i;
    high = low + range * symbolCum[sym - 1] / symbolCum[0];
    low += range * symbolCum[sym] / symbolCum[0];
    Renormalise();
    std::uint32_t ch = symbolToChar[sym];
    Update(sym);
    return ch;
  }
  std::uint32_t DecodePosition() {
    std::uint32_t range = high - low;
    std::uint32_t x = ((value - low + 1) * positionCum[0] - 1) / range;
    std::uint32_t i = 1, j = 4096;
    while (i < j) {
      std::uint32_t k = (i + j) / 2;
      if (positionCum[k] > x) i = k + 1;
      else j = k;
    }
    std::uint32_t p = i - 1;
    high = low + range * positionCum[p] / positionCum[0];
    low += range * positionCum[p + 1] / positionCum[0];
    Renormalise();
    return p;
  }
};

}  // namespace

ReferenceResult ReferenceLzariDecode(std::span<const std::uint8_t> input, std::uint8_t* output,
                                     std::uint32_t expectedLength) {
  if (expectedLength == 0 || output == nullptr) return {LzariResult::kNoOutput, 0};
  auto d = std::make_unique<Plain>();
  d->in = input;
  for (int i = 0; i < 17; ++i) d->value = 2 * d->value + static_cast<std::uint32_t>(d->GetBit());
  d->symbolCum[314] = 0;
  for (std::uint32_t s = 314; s >= 1; --s) {
    d->symbolToChar[s] = s - 1;
    d->charToSymbol[s - 1] = s;
    d->symbolFreq[s] = 1;
    d->symbolCum[s - 1] = d->symbolCum[s] + 1;
  }
  d->symbolFreq[0] = 0;
  d->positionCum[4096] = 0;
  for (std::uint32_t i = 4096; i >= 1; --i) d->positionCum[i - 1] = d->positionCum[i] + 10000 / (i + 200);
  for (int i = 0; i < 4036; ++i) d->ring[i] = 0x20;
  for (int i = 4036; i < 4096; ++i) d->ring[i] = 0;
  std::uint32_t r = 4036, count = 0;
  const std::uint64_t limit = (input.size() + lzari::kInputSlackBytes) * 8;
  for (;;) {
    std::uint32_t c = d->DecodeChar();
    if (c < 256) {
      output[count++] = static_cast<std::uint8_t>(c);
      d->ring[r] = static_cast<std::uint8_t>(c);
      r = (r + 1) & 4095;
    } else {
      std::uint32_t i = (r - d->DecodePosition() - 1) & 4095;
      std::uint32_t j = c - 253;
      for (std::uint32_t k = 0; k < j && count < expectedLength; ++k) {
        std::uint8_t b = d->ring[(i + k) & 4095];
        output[count++] = b;
        d->ring[r] = b;
        r = (r + 1) & 4095;
      }
    }
    if (count >= expectedLength) return {LzariResult::kDecoded, count};
    if (d->BitsConsumed() > limit) return {LzariResult::kInputEnded, count};
  }
}

}  // namespace testutil
