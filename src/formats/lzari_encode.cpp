#include "formats/lzari_encode.h"

#include <bit>
#include <cstring>

#include "formats/lzari_model.h"

using namespace lzari;
using namespace lzari::detail;

namespace {

// Writes bits most significant first into output[0 .. length), 32 at a time. It goes
// on counting past the end of the output without writing there, so that the caller
// learns at the end whether everything fitted.
class BitWriter {
 public:
  explicit BitWriter(std::span<std::uint8_t> output) : out_(output.data()), length_(output.size()) {}

  // The low n bits of v (n <= 32, v below 2^n).
  void Put(std::uint64_t v, std::uint32_t n) {
    bits_ = (bits_ << n) | v;
    count_ += n;
    if (count_ >= 32) {
      count_ -= 32;
      const auto word = static_cast<std::uint32_t>(bits_ >> count_);
      if (written_ + 4 <= length_) {
        out_[written_] = static_cast<std::uint8_t>(word >> 24);
        out_[written_ + 1] = static_cast<std::uint8_t>(word >> 16);
        out_[written_ + 2] = static_cast<std::uint8_t>(word >> 8);
        out_[written_ + 3] = static_cast<std::uint8_t>(word);
        written_ += 4;
      } else {
        for (int k = 3; k >= 0; --k) Byte(static_cast<std::uint8_t>(word >> (8 * k)));
      }
    }
  }
  // n copies of one bit, n as large as it comes.
  void Run(std::uint32_t bit, std::uint32_t n) {
    const std::uint64_t ones = bit ? ~std::uint64_t{0} : 0;
    for (; n >= 32; n -= 32) Put(ones >> 32, 32);
    if (n != 0) Put(ones >> (64 - n), n);
  }
  // A byte, where the output is byte aligned.
  void Byte(std::uint8_t b) {
    if (written_ < length_) out_[written_] = b;
    ++written_;
  }
  // Writes the whole bytes still held; the bits of a last partial byte are dropped.
  void Close() {
    while (count_ >= 8) {
      count_ -= 8;
      Byte(static_cast<std::uint8_t>(bits_ >> count_));
    }
    count_ = 0;
  }
  std::uint64_t written() const { return written_; }
  bool fitted() const { return written_ <= length_; }

 private:
  std::uint8_t* out_;
  std::uint64_t length_;
  std::uint64_t written_ = 0;  // bytes written, or that would have been
  std::uint64_t bits_ = 0;     // bits not yet written, the last one lowest
  std::uint32_t count_ = 0;    // how many of them (below 32 between calls)
};

// The arithmetic coder with its two models, the mirror of the decoder's: each code
// narrows [low, high) to its share, then the interval is widened again by shifts that
// each give one bit, or, when the interval straddles the middle, one bit owed until the
// next bit given (its opposite follows it).
class Coder {
 public:
  Coder(LzariCharModel& model, BitWriter& out) : model_(model), out_(out) {
    std::memset(&model_, 0, sizeof model_);
    StartCharModel(model_);
  }

  void Char(std::uint32_t code) {
    const std::uint32_t sym = model_.charToSymbol[code];
    const std::uint32_t cumBelow = CumulativeFrequency(model_, sym);
    const std::uint32_t cumAbove = cumBelow + model_.symbolFreq[sym];
    const std::uint32_t total = model_.charTotal;
    const std::uint32_t range = high_ - low_;
    high_ = low_ + range * cumAbove / total;
    low_ = low_ + range * cumBelow / total;
    Shift();
    UpdateCharModel(model_, sym);
  }

  void Position(std::uint32_t p) {
    const std::uint32_t range = high_ - low_;
    high_ = low_ + range * kPositions.cum[p] / kPositionTotal;
    low_ = low_ + range * kPositions.cum[p + 1] / kPositionTotal;
    Shift();
  }

  // One more bit owed, then the bit that says which quarter low is in.
  void End() {
    ++pending_;
    Bit(low_ < kQuarter ? 0 : 1);
    out_.Put(0, 7);
    out_.Close();
  }

 private:
  void Bit(std::uint32_t bit) {
    out_.Put(bit, 1);
    out_.Run(bit ^ 1, pending_);
    pending_ = 0;
  }

  // The published loop shifts one bit at a time: while low and high - 1 agree in their
  // top bit it gives that bit (then subtracts half when it is 1) and doubles; while low
  // is 01... and high - 1 is 10..., it owes a bit, subtracts a quarter and doubles.
  // Once the top bits differ they stay different, so all shifts of the first kind come
  // before all of the second, and each run is taken at once (as the decoder does).
  void Shift() {
    constexpr std::uint32_t kMask = kFull - 1;
    std::uint32_t low = low_;
    std::uint32_t top = high_ - 1;  // the interval's last value
    std::uint32_t n = static_cast<std::uint32_t>(std::countl_zero((low ^ top) << (32 - kCodeBits)));
    if (n > kCodeBits) n = kCodeBits;
    if (n != 0) {
      const std::uint32_t given = low >> (kCodeBits - n);  // the n bits they agree in
      if (pending_ == 0) {
        out_.Put(given, n);
      } else {
        Bit(given >> (n - 1));
        out_.Put(given & ((1u << (n - 1)) - 1), n - 1);
      }
      low = (low << n) & kMask;
      top = ((top << n) | ((1u << n) - 1)) & kMask;
    }
    // Runs of the second kind: low's bits after the top one are 1 where top's are 0.
    const std::uint32_t m = static_cast<std::uint32_t>(
        std::countl_one(((low & ~top) & (kHalf - 1)) << (32 - kCodeBits + 1)));
    if (m != 0) {
      const std::uint32_t keep = (1u << (kCodeBits - 1 - m)) - 1;  // bits below the dropped ones
      low = (low & kHalf) | ((low & keep) << m);
      top = (top & kHalf) | ((top & keep) << m) | ((1u << m) - 1);
      pending_ += m;
    }
    low_ = low;
    high_ = top + 1;
  }

  LzariCharModel& model_;
  BitWriter& out_;
  std::uint32_t low_ = 0;
  std::uint32_t high_ = kFull;
  std::uint32_t pending_ = 0;  // bits owed: the opposite of the next bit given
};

// 8 bytes from p as a number whose order is theirs byte by byte: the first one most
// significant.
constexpr std::uint32_t kWordBytes = 8;
// The words compared start at bytes 1, 9, ..., 57 of a string; the last ends at 64.
static_assert(kRingSize - 1 + 57 + kWordBytes <= kTextSize);
inline std::uint64_t LoadOrdered(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, kWordBytes);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

// The tree operations of the published encoder, link for link.
class Trees {
 public:
  explicit Trees(LzariEncodeState& s) : s_(s) {
    for (std::uint32_t i = kTreeRoots; i < kTreeRoots + 256; ++i) s_.child[i][0] = s_.child[i][1] = kNoNode;
    for (std::uint32_t i = 0; i < kRingSize; ++i) s_.parent[i] = kNoNode;
  }

  // Inserts the string at r. With kFindMatch, leaves the match in s.matchLength and
  // s.matchPosition; the parse only asks for it at the start of a code, so the inserts
  // for the rest of a match skip that bookkeeping.
  template <bool kFindMatch>
  void Insert(std::uint32_t r) {
    auto* const child = s_.child;
    std::uint16_t* const parent = s_.parent;
    const std::uint8_t* const text = s_.text;
    const std::uint8_t* const key = text + r;
    std::uint32_t p = kTreeRoots + key[0];
    std::uint32_t length = 0;
    std::uint32_t position = s_.matchPosition;
    std::uint32_t larger = 1;  // the key sorts after p (from a root: go right)
    child[r][0] = child[r][1] = static_cast<std::uint16_t>(kNoNode);
    for (;;) {
      // Both links are read at once and the comparison picks one: measured faster
      // than reading only the one it picks.
      std::uint32_t links;
      std::memcpy(&links, child[p], sizeof links);
      if constexpr (std::endian::native == std::endian::big) links = links >> 16 | links << 16;
      const std::uint32_t next = (links >> (16 * larger)) & 0xFFFF;
      if (next == kNoNode) {
        child[p][larger] = static_cast<std::uint16_t>(r);
        parent[r] = static_cast<std::uint16_t>(p);
        if constexpr (kFindMatch) {
          s_.matchLength = length;
          s_.matchPosition = position;
        }
        return;
      }
      p = next;
      // The first byte where the strings differ (reading up to 5 bytes past the 60th),
      // or 60; the first bytes agree, being the tree's. (Starting past the bytes
      // the key is known to share with the nodes passed would compare less, but would
      // make each step wait for the last one's comparison; as it is, the walk runs
      // ahead on the predicted side while the comparison finishes.)
      std::uint32_t i = 1;
      for (;;) {
        const std::uint64_t x = LoadOrdered(key + i);
        const std::uint64_t y = LoadOrdered(text + p + i);
        if (x != y) {
          i += static_cast<std::uint32_t>(std::countl_zero(x ^ y)) / 8;  // bits to bytes
          larger = x > y;
          break;
        }
        i += kWordBytes;
        if (i >= kMaxMatch) break;
      }
      if (i >= kMaxMatch) {
        position = (r - p) & kRingMask;
        length = kMaxMatch;
        break;
      }
      if (kFindMatch && i > kThreshold) {
        const std::uint32_t distance = (r - p) & kRingMask;
        if (i > length) {
          position = distance;
          length = i;
        } else if (i == length && distance < position) {
          position = distance;
        }
      }
    }
    // p holds the same 60 bytes: r takes its place.
    const std::uint32_t up = parent[p];
    parent[r] = static_cast<std::uint16_t>(up);
    child[r][0] = child[p][0];
    child[r][1] = child[p][1];
    parent[child[p][0]] = static_cast<std::uint16_t>(r);
    parent[child[p][1]] = static_cast<std::uint16_t>(r);
    child[up][child[up][1] == p ? 1 : 0] = static_cast<std::uint16_t>(r);
    parent[p] = static_cast<std::uint16_t>(kNoNode);
    if constexpr (kFindMatch) {
      s_.matchLength = length;
      s_.matchPosition = position;
    }
  }

  void Delete(std::uint32_t p) {
    auto* const child = s_.child;
    std::uint16_t* const parent = s_.parent;
    if (parent[p] == kNoNode) return;
    std::uint32_t q;
    if (child[p][1] == kNoNode) {
      q = child[p][0];
    } else if (child[p][0] == kNoNode) {
      q = child[p][1];
    } else {
      // Both children: the last node of the smaller side takes p's place.
      q = child[p][0];
      if (child[q][1] != kNoNode) {
        do {
          q = child[q][1];
        } while (child[q][1] != kNoNode);
        child[parent[q]][1] = child[q][0];
        parent[child[q][0]] = parent[q];
        child[q][0] = child[p][0];
        parent[child[p][0]] = static_cast<std::uint16_t>(q);
      }
      child[q][1] = child[p][1];
      parent[child[p][1]] = static_cast<std::uint16_t>(q);
    }
    const std::uint32_t up = parent[p];
    parent[q] = static_cast<std::uint16_t>(up);
    child[up][child[up][1] == p ? 1 : 0] = static_cast<std::uint16_t>(q);
    parent[p] = static_cast<std::uint16_t>(kNoNode);
  }

 private:
  LzariEncodeState& s_;
};

}  // namespace

std::int64_t LzariEncode(std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                         LzariEncodeState& state) {
  if (input.size() > 0xFFFFFFFFu) return kEncodeInputTooLong;
  BitWriter out(output);
  const auto size = static_cast<std::uint32_t>(input.size());
  for (std::uint32_t k = 0; k < kLengthFieldSize; ++k) out.Byte(static_cast<std::uint8_t>(size >> (8 * k)));
  if (size == 0) return out.fitted() ? static_cast<std::int64_t>(out.written()) : kEncodeOutputFull;

  LzariEncodeState& s = state;
  std::uint8_t* const text = s.text;
  Coder coder(s.model, out);
  Trees trees(s);
  s.matchLength = 0;
  s.matchPosition = 0;

  // The window: spaces, then the look-ahead, then zeros, the repeated bytes included.
  std::memset(text, kRingFill, kRingStart);
  std::memset(text + kRingStart, 0, kTextSize - kRingStart);
  std::uint32_t len = size < kMaxMatch ? size : kMaxMatch;  // bytes in the look-ahead
  std::memcpy(text + kRingStart, input.data(), len);
  std::size_t next = len;  // the next input byte to take
  std::uint32_t r = kRingStart;  // the look-ahead's start
  std::uint32_t oldest = 0;      // the oldest window position, overwritten next
  for (std::uint32_t i = 1; i <= kMaxMatch; ++i) trees.Insert<false>(r - i);
  trees.Insert<true>(r);

  do {
    std::uint32_t length = s.matchLength < len ? s.matchLength : len;
    if (length <= kThreshold) {
      length = 1;
      coder.Char(text[r]);
    } else {
      coder.Char(kLiterals - 1 - kThreshold + length);
      coder.Position(s.matchPosition - 1);
    }
    // Take in as many bytes; past the end of the input the look-ahead shrinks instead.
    for (std::uint32_t k = 1; k <= length; ++k) {
      trees.Delete(oldest);
      if (next < input.size()) {
        const std::uint8_t c = input[next++];
        text[oldest] = c;
        if (oldest < kMaxMatch - 1) text[oldest + kRingSize] = c;
      } else {
        --len;
      }
      oldest = (oldest + 1) & kRingMask;
      r = (r + 1) & kRingMask;
      if (len == 0) break;
      if (k == length) trees.Insert<true>(r);
      else trees.Insert<false>(r);
    }
  } while (len > 0);
  coder.End();
  return out.fitted() ? static_cast<std::int64_t>(out.written()) : kEncodeOutputFull;
}

std::int64_t LzariEncodeTokens(std::span<const LzariToken> tokens, std::span<std::uint8_t> output,
                               LzariEncodeState& state) {
  BitWriter out(output);
  Coder coder(state.model, out);
  for (const LzariToken& t : tokens) {
    if (t.length == 0) {
      coder.Char(t.literal);
    } else if (t.length > kThreshold && t.length <= kMaxMatch && t.position < kRingSize) {
      coder.Char(kLiterals - 1 - kThreshold + t.length);
      coder.Position(t.position);
    } else {
      return kEncodeBadToken;
    }
  }
  coder.End();
  return out.fitted() ? static_cast<std::int64_t>(out.written()) : kEncodeOutputFull;
}
