#include "lzari_baseline.h"

#include <memory>

#include "formats/lzari.h"

namespace bench {

namespace {

constexpr std::uint32_t kN = 4096;  // window
constexpr std::uint32_t kF = 60;    // longest match
constexpr std::uint32_t kThreshold = 2;
constexpr std::uint32_t kNChar = 256 - kThreshold + kF;  // 314 codes
constexpr std::uint32_t kQ1 = 1u << 15, kQ2 = 2 * kQ1, kQ3 = 3 * kQ1, kQ4 = 4 * kQ1;
constexpr std::uint32_t kMaxCum = kQ1 - 1;

// The character and position models as the published coder keeps them, the same for
// both directions.
struct Model {
  std::uint32_t charToSym[kNChar];
  std::uint32_t symToChar[kNChar + 1];
  std::uint32_t symFreq[kNChar + 1];
  std::uint32_t symCum[kNChar + 1];
  std::uint32_t positionCum[kN + 1];

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
};

struct Decoder : Model {
  std::uint8_t text[kN];
  std::uint32_t low = 0, high = kQ2 * 2, value = 0;

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

// The encoder's tree code works on int positions, as published.
constexpr int kWindow = static_cast<int>(kN);
constexpr int kLongest = static_cast<int>(kF);
constexpr int kShortest = static_cast<int>(kThreshold);  // a match is longer than this
constexpr int kNil = kWindow;                             // no node

struct Encoder : Model {
  // The window, with its first kLongest - 1 bytes repeated behind it so that a string read
  // from any position is contiguous. Bytes never written are zero.
  std::uint8_t text[kWindow + kLongest - 1] = {};
  int matchPosition = 0, matchLength = 0;
  // The trees: lson/rson/dad per position; rson[kWindow + 1 + c] is the root for strings
  // that start with byte c.
  int lson[kWindow + 1], rson[kWindow + 257], dad[kWindow + 1];

  std::uint32_t low = 0, high = kQ4;
  std::uint32_t shifts = 0;  // bits owed, opposite to the next one output

  std::vector<std::uint8_t>* out = nullptr;
  std::uint32_t buffer = 0, mask = 128;

  void InitTree() {
    for (int i = kWindow + 1; i <= kWindow + 256; i++) rson[i] = kNil;
    for (int i = 0; i < kWindow; i++) dad[i] = kNil;
  }

  // Inserts the string at r into its tree, keeping the longest match met on the way
  // (the nearer one of equal length); a match of kLongest replaces the old node.
  void InsertNode(int r) {
    int i, p, cmp = 1;
    const std::uint8_t* key = &text[r];
    p = kWindow + 1 + key[0];
    rson[r] = lson[r] = kNil;
    matchLength = 0;
    for (;;) {
      if (cmp >= 0) {
        if (rson[p] != kNil) {
          p = rson[p];
        } else {
          rson[p] = r;
          dad[r] = p;
          return;
        }
      } else {
        if (lson[p] != kNil) {
          p = lson[p];
        } else {
          lson[p] = r;
          dad[r] = p;
          return;
        }
      }
      for (i = 1; i < kLongest; i++)
        if ((cmp = key[i] - text[p + i]) != 0) break;
      if (i > kShortest) {
        if (i > matchLength) {
          matchPosition = (r - p) & (kWindow - 1);
          if ((matchLength = i) >= kLongest) break;
        } else if (i == matchLength) {
          int c = (r - p) & (kWindow - 1);
          if (c < matchPosition) matchPosition = c;
        }
      }
    }
    dad[r] = dad[p];
    lson[r] = lson[p];
    rson[r] = rson[p];
    dad[lson[p]] = r;
    dad[rson[p]] = r;
    if (rson[dad[p]] == p) rson[dad[p]] = r;
    else lson[dad[p]] = r;
    dad[p] = kNil;
  }

  void DeleteNode(int p) {
    int q;
    if (dad[p] == kNil) return;
    if (rson[p] == kNil) {
      q = lson[p];
    } else if (lson[p] == kNil) {
      q = rson[p];
    } else {
      q = lson[p];
      if (rson[q] != kNil) {
        do {
          q = rson[q];
        } while (rson[q] != kNil);
        rson[dad[q]] = lson[q];
        dad[lson[q]] = dad[q];
        lson[q] = lson[p];
        dad[lson[p]] = q;
      }
      rson[q] = rson[p];
      dad[rson[p]] = q;
    }
    dad[q] = dad[p];
    if (rson[dad[p]] == p) rson[dad[p]] = q;
    else lson[dad[p]] = q;
    dad[p] = kNil;
  }

  void PutBit(int bit) {
    if (bit) buffer |= mask;
    if ((mask >>= 1) == 0) {
      out->push_back(static_cast<std::uint8_t>(buffer));
      buffer = 0;
      mask = 128;
    }
  }
  void Output(int bit) {
    PutBit(bit);
    for (; shifts > 0; shifts--) PutBit(!bit);
  }

  void Shift() {
    for (;;) {
      if (high <= kQ2) {
        Output(0);
      } else if (low >= kQ2) {
        Output(1);
        low -= kQ2;
        high -= kQ2;
      } else if (low >= kQ1 && high <= kQ3) {
        shifts++;
        low -= kQ1;
        high -= kQ1;
      } else {
        break;
      }
      low += low;
      high += high;
    }
  }

  void EncodeChar(std::uint32_t ch) {
    std::uint32_t sym = charToSym[ch];
    std::uint32_t range = high - low;
    high = low + (range * symCum[sym - 1]) / symCum[0];
    low += (range * symCum[sym]) / symCum[0];
    Shift();
    UpdateModel(sym);
  }

  void EncodePosition(std::uint32_t position) {
    std::uint32_t range = high - low;
    high = low + (range * positionCum[position]) / positionCum[0];
    low += (range * positionCum[position + 1]) / positionCum[0];
    Shift();
  }

  void EncodeEnd() {
    shifts++;
    Output(low < kQ1 ? 0 : 1);
    for (int i = 0; i < 7; i++) PutBit(0);
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
  for (std::uint32_t i = 0; i < kWindow - kLongest; ++i) d->text[i] = ' ';
  for (std::uint32_t i = kWindow - kLongest; i < kWindow; ++i) d->text[i] = 0;
  std::uint32_t r = kWindow - kLongest;
  std::uint32_t count = 0;
  const std::uint64_t bitLimit = (input.size() + lzari::kInputSlackBytes) * 8;
  for (;;) {
    std::uint32_t c = d->DecodeChar();
    if (c < 256) {
      output[count++] = static_cast<std::uint8_t>(c);
      d->text[r++] = static_cast<std::uint8_t>(c);
      r &= kWindow - 1;
    } else {
      std::uint32_t i = (r - d->DecodePosition() - 1) & (kWindow - 1);
      std::uint32_t j = c - 255 + kShortest;
      for (std::uint32_t k = 0; k < j && count < expectedLength; ++k) {
        std::uint8_t b = d->text[(i + k) & (kWindow - 1)];
        output[count++] = b;
        d->text[r++] = b;
        r &= kWindow - 1;
      }
    }
    if (count >= expectedLength) return 1;
    if (d->BitsUsed() > bitLimit) return -1;
  }
}

std::vector<std::uint8_t> BaselineLzariEncode(std::span<const std::uint8_t> input) {
  std::vector<std::uint8_t> out;
  const std::uint32_t textSize = static_cast<std::uint32_t>(input.size());
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(textSize >> (8 * k)));
  if (textSize == 0) return out;

  auto e = std::make_unique<Encoder>();
  e->out = &out;
  std::size_t next = 0;  // the next input byte to read
  auto getc = [&]() -> int { return next < input.size() ? input[next++] : -1; };

  int i, c, len, r, s, lastMatchLength;
  e->StartModel();
  e->InitTree();
  s = 0;
  r = kWindow - kLongest;
  for (i = s; i < r; i++) e->text[i] = ' ';
  for (len = 0; len < kLongest && (c = getc()) != -1; len++) e->text[r + len] = static_cast<std::uint8_t>(c);
  for (i = 1; i <= kLongest; i++) e->InsertNode(r - i);
  e->InsertNode(r);
  do {
    if (e->matchLength > len) e->matchLength = len;
    if (e->matchLength <= kShortest) {
      e->matchLength = 1;
      e->EncodeChar(e->text[r]);
    } else {
      e->EncodeChar(255 - kShortest + e->matchLength);
      e->EncodePosition(e->matchPosition - 1);
    }
    lastMatchLength = e->matchLength;
    for (i = 0; i < lastMatchLength && (c = getc()) != -1; i++) {
      e->DeleteNode(s);
      e->text[s] = static_cast<std::uint8_t>(c);
      if (s < kLongest - 1) e->text[s + kWindow] = static_cast<std::uint8_t>(c);
      s = (s + 1) & (kWindow - 1);
      r = (r + 1) & (kWindow - 1);
      e->InsertNode(r);
    }
    while (i++ < lastMatchLength) {
      e->DeleteNode(s);
      s = (s + 1) & (kWindow - 1);
      r = (r + 1) & (kWindow - 1);
      if (--len) e->InsertNode(r);
    }
  } while (len > 0);
  e->EncodeEnd();
  return out;
}

}  // namespace bench
