#include "lzari_baseline.h"

#include <memory>

#include "formats/lzari.h"

namespace bench {

namespace {

constexpr std::uint32_t kN = 4096;  // window
constexpr std::uint32_t kF = 60;    // longest match
constexpr std::uint32_t kThreshold = 2;
constexpr std::uint32_t kNChar = 256 - kThreshold + kF;  // 314 codes
constexpr std::uint32_t kQ1 = 1u << 15, kQ2 = 2 * kQ1, kQ3 = 3 * kQ1;
constexpr std::uint32_t kMaxCum = kQ1 - 1;

struct Decoder {
  std::uint8_t text[kN];
  std::uint32_t low = 0, high = kQ2 * 2, value = 0;
  std::uint32_t charToSym[kNChar];
  std::uint32_t symToChar[kNChar + 1];
  std::uint32_t symFreq[kNChar + 1];
  std::uint32_t symCum[kNChar + 1];
  std::uint32_t positionCum[kN + 1];

  std::span<const std::uint8_t> in;
  std::size_t inPos = 0;
  std::uint32_t buffer = 0;
  std::uint32_t mask = 0;

  int GetBit() {
    if ((mask >>= 1) == 0) {
      buffer = inPos < in.size() ? in[inPos] : 0;
      ++inPos;
      mask = 128;
    }
    return (buffer & mask) != 0;
  }
  std::uint64_t BitsUsed() const {
    std::uint32_t unread = 0;
    for (std::uint32_t m = mask >> 1; m != 0; m >>= 1) ++unread;
    return inPos * 8 - unread;
  }

  void StartModel() {
    symCum[kNChar] = 0;
    for (std::uint32_t sym = kNChar; sym >= 1; --sym) {
      std::uint32_t ch = sym - 1;
      charToSym[ch] = sym;
      symToChar[sym] = ch;
      symFreq[sym] = 1;
      symCum[sym - 1] = symCum[sym] + symFreq[sym];
    }
    symFreq[0] = 0;
    positionCum[kN] = 0;
    for (std::uint32_t i = kN; i >= 1; --i) positionCum[i - 1] = positionCum[i] + 10000 / (i + 200);
  }

  void UpdateModel(std::uint32_t sym) {
    if (symCum[0] >= kMaxCum) {
      std::uint32_t c = 0;
      for (std::uint32_t i = kNChar; i > 0; --i) {
        symCum[i] = c;
        c += (symFreq[i] = (symFreq[i] + 1) >> 1);
      }
      symCum[0] = c;
    }
    std::uint32_t i;
    for (i = sym; symFreq[i] == symFreq[i - 1]; --i) {
    }
    if (i < sym) {
      std::uint32_t chI = symToChar[i], chSym = symToChar[sym];
      symToChar[i] = chSym;
      symToChar[sym] = chI;
      charToSym[chI] = sym;
      charToSym[chSym] = i;
    }
    symFreq[i]++;
    while (--i > 0) symCum[i]++;
    symCum[0]++;
  }

  // The first symbol whose cumulative frequency is not above x.
  std::uint32_t SearchSymbol(std::uint32_t x) const {
    std::uint32_t i = 1, j = kNChar;
    while (i < j) {
      std::uint32_t k = (i + j) / 2;
      if (symCum[k] > x) i = k + 1;
      else j = k;
    }
    return i;
  }
  std::uint32_t SearchPosition(std::uint32_t x) const {
    std::uint32_t i = 1, j = kN;
    while (i < j) {
      std::uint32_t k = (i + j) / 2;
      if (positionCum[k] > x) i = k + 1;
      else j = k;
    }
    return i - 1;
  }

  void Renormalise() {
    for (;;) {
      if (low >= kQ2) {
        value -= kQ2;
        low -= kQ2;
        high -= kQ2;
      } else if (low >= kQ1 && high <= kQ3) {
        value -= kQ1;
        low -= kQ1;
        high -= kQ1;
      } else if (high > kQ2) {
        break;
      }
      low += low;
      high += high;
      value = 2 * value + static_cast<std::uint32_t>(GetBit());
    }
  }

  std::uint32_t DecodeChar() {
    std::uint32_t range = high - low;
    std::uint32_t sym = SearchSymbol(((value - low + 1) * symCum[0] - 1) / range);
    high = low + range * symCum[sym - 1] / symCum[0];
    low += range * symCum[sym] / symCum[0];
    Renormalise();
    std::uint32_t ch = symToChar[sym];
    UpdateModel(sym);
    return ch;
  }

  std::uint32_t DecodePosition() {
    std::uint32_t range = high - low;
    std::uint32_t p = SearchPosition(((value - low + 1) * positionCum[0] - 1) / range);
    high = low + range * positionCum[p] / positionCum[0];
    low += range * positionCum[p + 1] / positionCum[0];
    Renormalise();
    return p;
  }
};

}  // namespace

int BaselineLzariDecode(std::span<const std::uint8_t> input, std::uint8_t* output,
                        std::uint32_t expectedLength) {
  if (expectedLength == 0 || output == nullptr) return -1;
  auto d = std::make_unique<Decoder>();
  d->in = input;
  for (int i = 0; i < 17; ++i) d->value = 2 * d->value + static_cast<std::uint32_t>(d->GetBit());
  d->StartModel();
  for (std::uint32_t i = 0; i < kN - kF; ++i) d->text[i] = ' ';
  for (std::uint32_t i = kN - kF; i < kN; ++i) d->text[i] = 0;
  std::uint32_t r = kN - kF;
  std::uint32_t count = 0;
  const std::uint64_t bitLimit = (input.size() + lzari::kInputSlackBytes) * 8;
  for (;;) {
    std::uint32_t c = d->DecodeChar();
    if (c < 256) {
      output[count++] = static_cast<std::uint8_t>(c);
      d->text[r++] = static_cast<std::uint8_t>(c);
      r &= kN - 1;
    } else {
      std::uint32_t i = (r - d->DecodePosition() - 1) & (kN - 1);
      std::uint32_t j = c - 255 + kThreshold;
      for (std::uint32_t k = 0; k < j && count < expectedLength; ++k) {
        std::uint8_t b = d->text[(i + k) & (kN - 1)];
        output[count++] = b;
        d->text[r++] = b;
        r &= kN - 1;
      }
    }
    if (count >= expectedLength) return 1;
    if (d->BitsUsed() > bitLimit) return -1;
  }
}

}  // namespace bench
