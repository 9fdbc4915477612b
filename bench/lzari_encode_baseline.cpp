#include "lzari_encode_baseline.h"

#include <memory>

namespace bench {

namespace {

constexpr int kN = 4096;  // window
constexpr int kF = 60;    // longest match
constexpr int kThreshold = 2;
constexpr int kNil = kN;  // no node
constexpr int kNChar = 256 - kThreshold + kF;  // 314 codes
constexpr std::uint32_t kQ1 = 1u << 15, kQ2 = 2 * kQ1, kQ3 = 3 * kQ1, kQ4 = 4 * kQ1;
constexpr std::uint32_t kMaxCum = kQ1 - 1;

struct Encoder {
  // The window, with its first kF - 1 bytes repeated behind it so that a string read
  // from any position is contiguous. Bytes never written are zero.
  std::uint8_t text[kN + kF - 1] = {};
  int matchPosition = 0, matchLength = 0;
  // The trees: lson/rson/dad per position; rson[kN + 1 + c] is the root for strings
  // that start with byte c.
  int lson[kN + 1], rson[kN + 257], dad[kN + 1];

  std::uint32_t low = 0, high = kQ4;
  std::uint32_t shifts = 0;  // bits owed, opposite to the next one output
  int charToSym[kNChar], symToChar[kNChar + 1];
  std::uint32_t symFreq[kNChar + 1], symCum[kNChar + 1], positionCum[kN + 1];

  std::vector<std::uint8_t>* out = nullptr;
  std::uint32_t buffer = 0, mask = 128;

  void InitTree() {
    for (int i = kN + 1; i <= kN + 256; i++) rson[i] = kNil;
    for (int i = 0; i < kN; i++) dad[i] = kNil;
  }

  // Inserts the string at r into its tree, keeping the longest match met on the way
  // (the nearer one of equal length); a match of kF replaces the old node.
  void InsertNode(int r) {
    int i, p, cmp = 1;
    const std::uint8_t* key = &text[r];
    p = kN + 1 + key[0];
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
      for (i = 1; i < kF; i++)
        if ((cmp = key[i] - text[p + i]) != 0) break;
      if (i > kThreshold) {
        if (i > matchLength) {
          matchPosition = (r - p) & (kN - 1);
          if ((matchLength = i) >= kF) break;
        } else if (i == matchLength) {
          int c = (r - p) & (kN - 1);
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

  void StartModel() {
    symCum[kNChar] = 0;
    for (int sym = kNChar; sym >= 1; sym--) {
      int ch = sym - 1;
      charToSym[ch] = sym;
      symToChar[sym] = ch;
      symFreq[sym] = 1;
      symCum[sym - 1] = symCum[sym] + symFreq[sym];
    }
    symFreq[0] = 0;
    positionCum[kN] = 0;
    for (int i = kN; i >= 1; i--) positionCum[i - 1] = positionCum[i] + 10000 / (i + 200);
  }

  void UpdateModel(int sym) {
    if (symCum[0] >= kMaxCum) {
      std::uint32_t c = 0;
      for (int i = kNChar; i > 0; i--) {
        symCum[i] = c;
        c += (symFreq[i] = (symFreq[i] + 1) >> 1);
      }
      symCum[0] = c;
    }
    int i;
    for (i = sym; symFreq[i] == symFreq[i - 1]; i--) {
    }
    if (i < sym) {
      int chI = symToChar[i], chSym = symToChar[sym];
      symToChar[i] = chSym;
      symToChar[sym] = chI;
      charToSym[chI] = sym;
      charToSym[chSym] = i;
    }
    symFreq[i]++;
    while (--i >= 0) symCum[i]++;
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

  void EncodeChar(int ch) {
    int sym = charToSym[ch];
    std::uint32_t range = high - low;
    high = low + (range * symCum[sym - 1]) / symCum[0];
    low += (range * symCum[sym]) / symCum[0];
    Shift();
    UpdateModel(sym);
  }

  void EncodePosition(int position) {
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
  r = kN - kF;
  for (i = s; i < r; i++) e->text[i] = ' ';
  for (len = 0; len < kF && (c = getc()) != -1; len++) e->text[r + len] = static_cast<std::uint8_t>(c);
  for (i = 1; i <= kF; i++) e->InsertNode(r - i);
  e->InsertNode(r);
  do {
    if (e->matchLength > len) e->matchLength = len;
    if (e->matchLength <= kThreshold) {
      e->matchLength = 1;
      e->EncodeChar(e->text[r]);
    } else {
      e->EncodeChar(255 - kThreshold + e->matchLength);
      e->EncodePosition(e->matchPosition - 1);
    }
    lastMatchLength = e->matchLength;
    for (i = 0; i < lastMatchLength && (c = getc()) != -1; i++) {
      e->DeleteNode(s);
      e->text[s] = static_cast<std::uint8_t>(c);
      if (s < kF - 1) e->text[s + kN] = static_cast<std::uint8_t>(c);
      s = (s + 1) & (kN - 1);
      r = (r + 1) & (kN - 1);
      e->InsertNode(r);
    }
    while (i++ < lastMatchLength) {
      e->DeleteNode(s);
      s = (s + 1) & (kN - 1);
      r = (r + 1) & (kN - 1);
      if (--len) e->InsertNode(r);
    }
  } while (len > 0);
  e->EncodeEnd();
  return out;
}

}  // namespace bench
