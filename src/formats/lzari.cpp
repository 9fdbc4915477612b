#include "formats/lzari.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "formats/lzari_model.h"

using namespace lzari;
using namespace lzari::detail;

namespace {

#ifdef MORAVELT_LZARI_SSE2
// Two mask bits per 16-bit lane that is all ones.
inline std::uint64_t Mask(__m128i a) { return static_cast<std::uint32_t>(_mm_movemask_epi8(a)); }
// Two mask bits per 16-bit lane where a > b.
inline std::uint64_t Above(__m128i a, __m128i b) { return Mask(_mm_cmpgt_epi16(a, b)); }
// The largest of the eight lanes, in all eight.
inline __m128i LargestEverywhere(__m128i v) {
  v = _mm_max_epi16(v, _mm_shuffle_epi32(v, 0x4E));
  v = _mm_max_epi16(v, _mm_shuffle_epi32(v, 0xB1));
  v = _mm_max_epi16(v, _mm_shufflelo_epi16(v, 0xB1));
  return _mm_shuffle_epi32(v, 0);
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
  const __m128i b0 = Load8(m.blockCum), b1 = Load8(m.blockCum + 8), b2 = Load8(m.blockCum + 16);
  const __m128i above0 = _mm_cmpgt_epi16(b0, limit), above1 = _mm_cmpgt_epi16(b1, limit),
                above2 = _mm_cmpgt_epi16(b2, limit);
  const std::uint64_t blocksAbove = Mask(above0) | Mask(above1) << 16 | Mask(above2) << 32;
  const std::uint32_t block = static_cast<std::uint32_t>(std::countr_one(blocksAbove)) / 2;
  const std::uint32_t base = static_cast<std::uint32_t>(m.blockCum[block]);
  const std::int16_t* local = m.localCum + block * kSymbolBlock;
  // The block's sum is the largest not above x: found among the lanes already in hand,
  // it is in every lane sooner than it would be loaded and spread from its index.
  const __m128i rest = _mm_sub_epi16(
      limit, LargestEverywhere(_mm_max_epi16(_mm_max_epi16(_mm_andnot_si128(above0, b0), _mm_andnot_si128(above1, b1)),
                                             _mm_andnot_si128(above2, b2))));
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

// The input as bits, most significant first, zeros past its end. The place is a count of
// bits, so the next bits are one unaligned 8-byte load away, whatever was taken before.
class BitReader {
 public:
  BitReader(const std::uint8_t* in, std::size_t length) : in_(in), length_(length) {}

  // The next n bits (0..32) as a number, the first one most significant.
  std::uint32_t Take(std::uint32_t n) {
    const std::uint64_t word = Word(bits_ >> 3) << (bits_ & 7);
    bits_ += n;
    return static_cast<std::uint32_t>((word >> 32) >> (32 - n));
  }
  std::uint64_t bitsRead() const { return bits_; }

  // The input now at `in`, `length` bytes, after the first `dropped` bytes of the old
  // one went: the place moves back by as many bits.
  void Rebase(const std::uint8_t* in, std::size_t length, std::uint64_t dropped) {
    in_ = in;
    length_ = length;
    bits_ -= dropped * 8;
  }

 private:
  // The 8 bytes from `byte` on, the first one most significant.
  std::uint64_t Word(std::uint64_t byte) const {
    std::uint64_t w = 0;
    if (byte + 8 <= length_) {
      std::memcpy(&w, in_ + byte, 8);
      if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
      return w;
    }
    for (std::uint64_t k = 0; k < 8; ++k)
      if (byte + k < length_) w |= std::uint64_t{in_[byte + k]} << (56 - 8 * k);
    return w;
  }

  const std::uint8_t* in_;
  std::size_t length_;
  std::uint64_t bits_ = 0;
};

// The coder: the interval [low, low + range) and the code bits read so far as an offset
// from low. After a symbol has narrowed it to [low + below, low + above), the published
// loop shifts one bit at a time: while low and the interval's last value agree in their
// top bit it drops that bit (low >= half: subtract half; last <= half: nothing) and
// doubles; then, while low is 01... and the last value is 10... (the interval straddles
// the middle half), it subtracts a quarter and doubles, which drops the second bit and
// keeps the top one. Once the top bits differ they stay different, so all the first kind
// come before all the second, and each run is counted and shifted at once. Either kind
// doubles the width and the offset and takes one bit into the offset.
struct Coder {
  std::uint32_t low = 0;
  std::uint32_t range = kFull;
  std::uint32_t offset = 0;

  void Narrow(std::uint32_t below, std::uint32_t above, BitReader& reader) {
    constexpr std::uint32_t kMask = kFull - 1;
    std::uint32_t l = low + below;
    std::uint32_t top = low + above - 1;  // the interval's last value
    offset -= below;
    range = above - below;
    // How many top bits they agree in, at most all 17 (the bit below them stops the count).
    const std::uint32_t n = static_cast<std::uint32_t>(
        std::countl_zero(((l ^ top) << (32 - kCodeBits)) | (1u << (31 - kCodeBits))));
    l = (l << n) & kMask;
    top = ((top << n) | ((1u << n) - 1)) & kMask;
    // Runs of the second kind: low's bits after the top one are 1 where top's are 0.
    const std::uint32_t m = static_cast<std::uint32_t>(
        std::countl_one(((l & ~top) & (kHalf - 1)) << (32 - kCodeBits + 1)));
    const std::uint32_t keep = (1u << (kCodeBits - 1 - m)) - 1;  // bits below the dropped ones
    low = (l & kHalf) | ((l & keep) << m);
    const std::uint32_t shifts = n + m;  // at most 17: the second kind needs bits the first left
    offset = (offset << shifts) | reader.Take(shifts);
    range <<= shifts;
  }
};

// The byte `back` (1..4096) before output[count]: written output, or while fewer than
// `back` bytes are out, the initial window (spaces, then zeros where output begins; a
// place of the window is overwritten only once the output reaches it).
inline std::uint8_t WindowByte(const std::uint8_t* output, std::uint32_t count, std::uint32_t back) {
  if (count >= back) return output[count - back];
  const std::uint32_t place = (kRingStart + count - back) & kRingMask;
  return place < kRingStart ? kRingFill : 0;
}

// Copies `length` bytes from `back` bytes behind output[count], one after another as the
// published decoder does, so that a match may overlap what it produces. Nothing is
// written past output[count + length - 1].
[[gnu::noinline]] void CopyMatch(std::uint8_t* output, std::uint32_t count, std::uint32_t back, std::uint32_t length) {
  std::uint8_t* to = output + count;
  if (count < back) {
    for (std::uint32_t k = 0; k < length; ++k) to[k] = WindowByte(output, count + k, back);
    return;
  }
  const std::uint8_t* from = to - back;
  std::uint32_t k = 0;
  if (back < 8) {
    // The first bytes one by one; after them the bytes repeat with a period of `back`,
    // so that from then on they can be read from a whole number of periods back, at
    // least 8.
    for (; k < length && k < 8; ++k) to[k] = from[k];
    from = to - back * ((8 + back - 1) / back);
  }
  for (; k + 8 <= length; k += 8) std::memcpy(to + k, from + k, 8);  // read before written
  for (; k < length; ++k) to[k] = from[k];
}

// A stream read piece by piece: the buffer holds the bytes from `base` on. The loop asks
// for more when its place passes the limit, which leaves room for the most one pass can
// read (two symbols' 17 bits and the 8-byte load at the place) until the last piece is
// in; from then on the limit is the input's end and its slack, as for a stream in memory.
class Feed {
 public:
  Feed(LzariSource& source, std::uint64_t total) : source_(source), total_(total) {
    buffer_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(total, kPieceBytes)));
  }
  std::span<const std::uint8_t> First() {
    held_ = Fill(0);
    return {buffer_.data(), held_};
  }
  std::uint64_t Limit() const {
    return base_ + held_ >= total_ ? (held_ + kInputSlackBytes) * 8 : (held_ - kMargin) * 8;
  }
  // Moves the unread bytes to the front and reads more behind them; false when no more
  // come (the stream ended, or the source failed).
  bool More(BitReader& reader) {
    if (base_ + held_ >= total_) return false;
    const std::size_t drop = static_cast<std::size_t>(reader.bitsRead() >> 3);
    std::memmove(buffer_.data(), buffer_.data() + drop, held_ - drop);
    held_ -= drop;
    base_ += drop;
    const std::size_t got = Fill(held_);
    held_ += got;
    reader.Rebase(buffer_.data(), held_, drop);
    return got > 0;
  }
  std::uint64_t base() const { return base_; }
  bool failed() const { return failed_; }

 private:
  static constexpr std::size_t kMargin = 16;
  std::size_t Fill(std::size_t from) {
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(buffer_.size() - from, total_ - base_ - from));
    const std::size_t got = want ? source_.Read(buffer_.data() + from, want) : 0;
    if (got < want) {
      failed_ = true;
      total_ = base_ + from + got;  // what there is decodes; the result says it failed
    }
    return got;
  }

  LzariSource& source_;
  std::uint64_t total_;
  std::vector<std::uint8_t> buffer_;
  std::size_t held_ = 0;
  std::uint64_t base_ = 0;
  bool failed_ = false;
};

// The output of a windowed decode: kWindowBytes and room for one more match past them.
// Once the place passes kWindowBytes the bytes not yet handed on go to the sink and the
// last kRingSize move to the front, where the next matches reach back into them.
class Slider {
 public:
  static constexpr std::uint32_t kStop = kWindowBytes;
  static_assert(kStop > kRingSize);

  explicit Slider(LzariSink& sink) : sink_(sink), buffer_(kWindowBytes + kMaxMatch) {}
  std::uint8_t* data() { return buffer_.data(); }
  std::uint64_t slid() const { return slid_; }

  // Hands on buffer[.. count) and slides; how far the bytes moved, 0 when the sink refused.
  std::uint32_t Slide(std::uint32_t count) {
    if (!Hand(count)) return 0;
    const std::uint32_t moved = count - kRingSize;
    std::memmove(buffer_.data(), buffer_.data() + moved, kRingSize);
    handed_ = kRingSize;
    slid_ += moved;
    return moved;
  }
  // Hands on the bytes up to buffer[count] that have not gone yet.
  bool Hand(std::uint32_t count) {
    const bool ok = count <= handed_ || sink_.Take({buffer_.data() + handed_, count - handed_});
    handed_ = count;
    return ok;
  }

 private:
  LzariSink& sink_;
  std::vector<std::uint8_t> buffer_;
  std::uint32_t handed_ = 0;
  std::uint64_t slid_ = 0;
};

// The decoding loop, compiled twice where the processor may offer more than SSE2 (see
// LzariDecode).
// With a feed, input is its first piece and more is read as the loop goes; with a slider,
// output is its buffer, and the place and the length left move back at each slide.
[[gnu::always_inline]] inline LzariResult Decode(std::span<const std::uint8_t> input, std::uint8_t* output,
                                                 std::uint32_t expectedLength, LzariState& state, Feed* feed,
                                                 Slider* slider) {
  LzariState& s = state;
  std::memset(&s.model, 0, sizeof s.model);
  s.low = 0;
  s.range = kFull;
  s.offset = 0;
  s.bitsRead = 0;
  s.outputCount = 0;
  if (expectedLength == 0 || output == nullptr) return LzariResult::kNoOutput;

  // The coder and the bit reader live in locals while decoding (the output writes could
  // otherwise alias them) and go back into the state on the way out.
  BitReader reader(input.data(), input.size());
  // Bits past this many have gone further beyond the input than any sound stream does.
  std::uint64_t bitLimit = feed ? feed->Limit() : (static_cast<std::uint64_t>(input.size()) + kInputSlackBytes) * 8;
  Coder coder;
  coder.offset = reader.Take(kCodeBits);
  StartCharModel(s.model);
  LzariCharModel& model = s.model;
  const std::uint32_t* positionCum = kPositions.cum.data();
  std::uint32_t count = 0;
  std::uint32_t stop = slider ? std::min(expectedLength, Slider::kStop) : expectedLength;

  auto finish = [&](LzariResult result) {
    s.low = coder.low;
    s.range = coder.range;
    s.offset = coder.offset;
    s.bitsRead = reader.bitsRead() + (feed ? feed->base() * 8 : 0);
    s.outputCount = count;
    return result;
  };

  for (;;) {
    // A character code. The offset stays below the range whatever the input, so x <
    // total; the clamp only keeps the search inside its table should that ever fail.
    const std::uint32_t range = coder.range;
    const std::uint32_t total = model.charTotal;
    // The two bounds divide by the total, known before this symbol's x is: its
    // reciprocal is worked out meanwhile and they take a multiplication each.
    const Reciprocal byTotal(total);
    std::uint32_t x = ((coder.offset + 1) * total - 1) / range;
    x = x < total ? x : total - 1;
    std::uint32_t cumBelow, cumAbove;
    const std::uint32_t sym = FindSymbol(model, x, cumBelow, cumAbove);
    coder.Narrow(byTotal.Divide(range * cumBelow), byTotal.Divide(range * cumAbove), reader);
    const std::uint32_t ch = model.symbolToChar[sym];
    UpdateCharModel(model, sym);

    if (ch < kLiterals) {
      output[count++] = static_cast<std::uint8_t>(ch);
    } else {
      // Its position, from the fixed model.
      const std::uint32_t r = coder.range;
      std::uint32_t px = ((coder.offset + 1) * kPositionTotal - 1) / r;
      px = px < kPositionTotal ? px : kPositionTotal - 1;
      const std::uint32_t p = kPositions.positionOf[px];
      coder.Narrow(r * positionCum[p + 1] / kPositionTotal, r * positionCum[p] / kPositionTotal, reader);

      std::uint32_t length = ch - (kLiterals - 1 - kThreshold);
      if (length > expectedLength - count) length = expectedLength - count;
      CopyMatch(output, count, p + 1, length);
      count += length;
    }

    if (count >= stop) [[unlikely]] {
      if (count >= expectedLength) return finish(LzariResult::kDecoded);
      const std::uint32_t moved = slider->Slide(count);  // only a windowed decode stops short
      if (moved == 0) return finish(LzariResult::kSinkRefused);
      count -= moved;
      expectedLength -= moved;
      stop = std::min(expectedLength, Slider::kStop);
    }
    while (reader.bitsRead() > bitLimit) [[unlikely]] {
      if (!feed || !feed->More(reader)) return finish(LzariResult::kInputEnded);
      bitLimit = feed->Limit();
    }
  }
}

#ifdef MORAVELT_LZARI_WIDE
[[MORAVELT_LZARI_WIDE_TARGET]] LzariResult DecodeWide(std::span<const std::uint8_t> input, std::uint8_t* output,
                                                      std::uint32_t expectedLength, LzariState& state, Feed* feed,
                                                      Slider* slider) {
  return Decode(input, output, expectedLength, state, feed, slider);
}
#endif

}  // namespace

namespace {

LzariResult DecodeWith(std::span<const std::uint8_t> input, std::uint8_t* output, std::uint32_t expectedLength,
                       LzariState& state, Feed* feed, Slider* slider = nullptr) {
#ifdef MORAVELT_LZARI_WIDE
  if (HasWide()) return DecodeWide(input, output, expectedLength, state, feed, slider);
#endif
  return Decode(input, output, expectedLength, state, feed, slider);
}

}  // namespace

LzariResult LzariDecode(std::span<const std::uint8_t> input, std::uint8_t* output,
                        std::uint32_t expectedLength, LzariState& state) {
  return DecodeWith(input, output, expectedLength, state, nullptr);
}

LzariResult LzariDecodeFrom(LzariSource& source, std::uint64_t inputLength, std::uint8_t* output,
                            std::uint32_t expectedLength, LzariState& state) {
  Feed feed(source, inputLength);
  const std::span<const std::uint8_t> first = feed.First();
  const LzariResult result = DecodeWith(first, output, expectedLength, state, &feed);
  return feed.failed() ? LzariResult::kSourceFailed : result;
}

LzariResult LzariDecodeTo(LzariSource& source, std::uint64_t inputLength, LzariSink& sink,
                          std::uint32_t expectedLength, LzariState& state) {
  Feed feed(source, inputLength);
  Slider slider(sink);
  const std::span<const std::uint8_t> first = feed.First();
  const LzariResult result = DecodeWith(first, slider.data(), expectedLength, state, &feed, &slider);
  const std::uint32_t held = state.outputCount;  // the place in the window
  state.outputCount = static_cast<std::uint32_t>(slider.slid() + held);
  if (feed.failed()) return LzariResult::kSourceFailed;
  if (result == LzariResult::kDecoded && !slider.Hand(held)) return LzariResult::kSinkRefused;
  return result;
}
