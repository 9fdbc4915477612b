#include "support/lzari_encoder.h"

#include <algorithm>
#include <vector>

namespace testutil {

namespace {
constexpr std::uint32_t kQ1 = 1u << 15, kQ2 = 2 * kQ1, kQ3 = 3 * kQ1;
constexpr std::uint32_t kCodes = 314;
constexpr std::uint32_t kN = 4096;
}  // namespace

LzariEncoder::LzariEncoder() {
  symbolCum_[kCodes] = 0;
  for (std::uint32_t s = kCodes; s >= 1; --s) {
    symbolToChar_[s] = s - 1;
    charToSymbol_[s - 1] = s;
    symbolFreq_[s] = 1;
    symbolCum_[s - 1] = symbolCum_[s] + 1;
  }
  symbolToChar_[0] = 0;
  symbolFreq_[0] = 0;
  positionCum_[kN] = 0;
  for (std::uint32_t i = kN; i >= 1; --i) positionCum_[i - 1] = positionCum_[i] + 10000 / (i + 200);
}

void LzariEncoder::PutBit(int bit) {
  if (bit) byte_ |= mask_;
  mask_ >>= 1;
  if (mask_ == 0) {
    out_.push_back(byte_);
    byte_ = 0;
    mask_ = 0x80;
  }
}

void LzariEncoder::OutputAndFollow(int bit) {
  PutBit(bit);
  for (; pending_ > 0; --pending_) PutBit(!bit);
}

void LzariEncoder::Narrow(std::uint32_t cumHigh, std::uint32_t cumLow, std::uint32_t total) {
  std::uint32_t range = high_ - low_;
  high_ = low_ + range * cumHigh / total;
  low_ = low_ + range * cumLow / total;
  for (;;) {
    if (high_ <= kQ2) {
      OutputAndFollow(0);
    } else if (low_ >= kQ2) {
      OutputAndFollow(1);
      low_ -= kQ2;
      high_ -= kQ2;
    } else if (low_ >= kQ1 && high_ <= kQ3) {
      ++pending_;
      low_ -= kQ1;
      high_ -= kQ1;
    } else {
      break;
    }
    low_ += low_;
    high_ += high_;
  }
}

void LzariEncoder::UpdateModel(std::uint32_t sym) {
  if (symbolCum_[0] >= kQ1 - 1) {
    std::uint32_t c = 0;
    for (std::uint32_t i = kCodes; i > 0; --i) {
      symbolCum_[i] = c;
      c += (symbolFreq_[i] = (symbolFreq_[i] + 1) >> 1);
    }
    symbolCum_[0] = c;
  }
  std::uint32_t i = sym;
  while (symbolFreq_[i] == symbolFreq_[i - 1]) --i;
  if (i < sym) {
    std::uint32_t chI = symbolToChar_[i], chSym = symbolToChar_[sym];
    symbolToChar_[i] = chSym;
    symbolToChar_[sym] = chI;
    charToSymbol_[chI] = sym;
    charToSymbol_[chSym] = i;
  }
  ++symbolFreq_[i];
  while (i > 0) ++symbolCum_[--i];
}

void LzariEncoder::EncodeChar(std::uint32_t code) {
  std::uint32_t sym = charToSymbol_[code];
  Narrow(symbolCum_[sym - 1], symbolCum_[sym], symbolCum_[0]);
  UpdateModel(sym);
  ++codes_;
}

void LzariEncoder::EncodePosition(std::uint32_t position) {
  Narrow(positionCum_[position], positionCum_[position + 1], positionCum_[0]);
}

void LzariEncoder::Literal(std::uint8_t byte) { EncodeChar(byte); }

void LzariEncoder::Match(std::uint32_t position, std::uint32_t length) {
  EncodeChar(253 + length);
  EncodePosition(position);
}

Bytes LzariEncoder::Finish() {
  ++pending_;
  OutputAndFollow(low_ < kQ1 ? 0 : 1);
  for (int i = 0; i < 7; ++i) PutBit(0);
  return out_;
}

Bytes LzariCompress(std::span<const std::uint8_t> data) {
  // The window as the decoder starts it, seen as history in front of the data: ring
  // positions 4036..4095 (zeros) come first, then 0..4035 (spaces). A distance d from
  // history index v then reads exactly what the decoder's ring holds at r - d.
  constexpr std::size_t kHistory = kN;
  std::vector<std::uint8_t> text(kHistory, 0);
  std::fill(text.begin() + 60, text.end(), 0x20);
  text.insert(text.end(), data.begin(), data.end());

  constexpr std::uint32_t kHashBits = 15;
  constexpr int kChainLimit = 48;
  std::vector<std::int64_t> head(std::size_t{1} << kHashBits, -1);
  std::vector<std::int64_t> prev(text.size(), -1);
  auto hashAt = [&](std::size_t v) {
    std::uint32_t h = text[v] | (text[v + 1] << 8) | (text[v + 2] << 16);
    return (h * 2654435761u) >> (32 - kHashBits);
  };
  auto insert = [&](std::size_t v) {
    if (v + 2 >= text.size()) return;
    std::uint32_t h = hashAt(v);
    prev[v] = head[h];
    head[h] = static_cast<std::int64_t>(v);
  };
  for (std::size_t v = 0; v < kHistory; ++v) insert(v);

  LzariEncoder enc;
  std::size_t v = kHistory;
  while (v < text.size()) {
    std::size_t left = text.size() - v;
    std::size_t maxLen = std::min<std::size_t>(60, left);
    std::size_t bestLen = 0, bestDist = 0;
    if (maxLen >= 3) {
      int steps = 0;
      for (std::int64_t c = head[hashAt(v)]; c >= 0 && steps < kChainLimit;
           c = prev[static_cast<std::size_t>(c)], ++steps) {
        std::size_t dist = v - static_cast<std::size_t>(c);
        if (dist > kN) break;
        std::size_t len = 0;
        while (len < maxLen && text[static_cast<std::size_t>(c) + len] == text[v + len]) ++len;
        if (len > bestLen) {
          bestLen = len;
          bestDist = dist;
          if (len == maxLen) break;
        }
      }
    }
    if (bestLen >= 3) {
      enc.Match(static_cast<std::uint32_t>(bestDist - 1), static_cast<std::uint32_t>(bestLen));
      for (std::size_t k = 0; k < bestLen; ++k) insert(v + k);
      v += bestLen;
    } else {
      enc.Literal(text[v]);
      insert(v);
      ++v;
    }
  }
  return enc.Finish();
}

}  // namespace testutil
