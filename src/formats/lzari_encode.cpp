#include "formats/lzari_encode.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "formats/lzari_match.h"
#include "formats/lzari_model.h"

using namespace lzari;
using namespace lzari::detail;

namespace {

// Writes bits most significant first into output[0 .. length). The bits gather in a
// word and go, whole bytes at a time, into a staging buffer, eight bytes stored on every
// write whether or not all are complete (the next write stores them again): no branch
// on how many bits are held. The buffer is handed to the output when it fills and at the
// end; the writer goes on counting past the end of the output without writing there, so
// that the caller learns at the end whether everything fitted.
class BitWriter {
 public:
  explicit BitWriter(std::span<std::uint8_t> output) : out_(output.data()), length_(output.size()) {}
  // The bytes go to `sink` piece by piece instead; fitted() is then false once it refused one.
  explicit BitWriter(LzariSink& sink) : out_(nullptr), length_(~std::uint64_t{0}), sink_(&sink) {}

  // The low n bits of v (n <= 32, v below 2^n).
  void Put(std::uint64_t v, std::uint32_t n) {
    bits_ |= (v << (63 - n) << 1) >> count_;
    count_ += n;
    std::uint64_t word = bits_;
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    std::memcpy(stage_ + staged_, &word, sizeof word);
    staged_ += count_ / 8;
    bits_ <<= count_ & ~7u;
    count_ &= 7;
    if (staged_ >= kStage) Drain();
  }
  // n copies of one bit, n as large as it comes.
  void Run(std::uint32_t bit, std::uint32_t n) {
    const std::uint64_t ones = bit ? ~std::uint64_t{0} : 0;
    for (; n >= 32; n -= 32) Put(ones >> 32, 32);
    if (n != 0) Put(ones >> (64 - n), n);
  }
  // A byte, where the output is byte aligned.
  void Byte(std::uint8_t b) { Put(b, 8); }
  // Writes the whole bytes still held; the bits of a last partial byte are dropped.
  void Close() {
    count_ = 0;
    Drain();
  }
  std::uint64_t written() const { return drained_ + staged_; }
  bool fitted() const { return written() <= length_; }

 private:
  void Drain() {
    if (sink_ != nullptr) {
      if (staged_ != 0 && length_ != 0 && !sink_->Take({stage_, staged_})) length_ = 0;
    } else if (drained_ < length_) {
      const std::uint64_t room = length_ - drained_;
      std::memcpy(out_ + drained_, stage_, static_cast<std::size_t>(room < staged_ ? room : staged_));
    }
    drained_ += staged_;
    staged_ = 0;  // the bits of a byte not yet complete are still in bits_
  }

  static constexpr std::uint32_t kStage = 4096;
  std::uint8_t* out_;
  std::uint64_t length_;  // with a sink: 0 once it refused a piece
  LzariSink* sink_ = nullptr;
  std::uint64_t drained_ = 0;  // bytes handed to the output, or that would have been
  std::uint64_t bits_ = 0;     // bits not yet in whole bytes, the first one highest
  std::uint32_t count_ = 0;    // how many of them (below 8 between calls)
  std::uint32_t staged_ = 0;   // complete bytes in the stage
  std::uint8_t stage_[kStage + sizeof(std::uint64_t)];
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

  [[gnu::always_inline]] void Char(std::uint32_t code) {
    const std::uint32_t sym = model_.charToSymbol[code];
    const std::uint32_t cumBelow = CumulativeFrequency(model_, sym);
    const std::uint32_t cumAbove = cumBelow + model_.symbolFreq[sym];
    // The total is known long before the bounds are: its reciprocal is worked out
    // meanwhile, and they take a multiplication each.
    const Reciprocal byTotal(model_.charTotal);
    const std::uint32_t range = high_ - low_;
    high_ = low_ + byTotal.Divide(range * cumAbove);
    low_ = low_ + byTotal.Divide(range * cumBelow);
    Shift();
    UpdateCharModel(model_, sym);
  }

  [[gnu::always_inline]] void Position(std::uint32_t p) {
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
  [[gnu::always_inline]] void Shift() {
    constexpr std::uint32_t kMask = kFull - 1;
    std::uint32_t low = low_;
    std::uint32_t top = high_ - 1;  // the interval's last value
    // How many top bits they agree in, at most all 17 (the bit below them stops the count).
    const std::uint32_t n = static_cast<std::uint32_t>(
        std::countl_zero(((low ^ top) << (32 - kCodeBits)) | (1u << (31 - kCodeBits))));
    // The n bits they agree in, the first of them followed by the bits owed (its
    // opposite): n + owed bits in all, none when n is 0. Written without a branch on n,
    // which may be 0 as often as not.
    const std::uint32_t some = n != 0;
    const std::uint32_t rest = n - some;  // n - 1, or 0 when n is 0
    const std::uint32_t owedCount = some ? pending_ : 0;
    const std::uint64_t given = low >> (kCodeBits - n);
    const std::uint64_t first = given >> rest;
    if (owedCount + n <= 32) {
      const std::uint64_t owed = ((std::uint64_t{1} << owedCount) - 1) & (first - 1);
      out_.Put(first << (owedCount + rest) | owed << rest | (given & ((std::uint64_t{1} << rest) - 1)),
               owedCount + n);
    } else {
      Bit(static_cast<std::uint32_t>(first));
      out_.Put(given & ((std::uint64_t{1} << rest) - 1), rest);
    }
    pending_ = some ? 0 : pending_;
    low = (low << n) & kMask;
    top = ((top << n) | ((1u << n) - 1)) & kMask;
    // Runs of the second kind: low's bits after the top one are 1 where top's are 0.
    const std::uint32_t m = static_cast<std::uint32_t>(
        std::countl_one(((low & ~top) & (kHalf - 1)) << (32 - kCodeBits + 1)));
    const std::uint32_t keep = (1u << (kCodeBits - 1 - m)) - 1;  // bits below the dropped ones
    low = (low & kHalf) | ((low & keep) << m);
    top = (top & kHalf) | ((top & keep) << m) | ((1u << m) - 1);
    pending_ += m;
    low_ = low;
    high_ = top + 1;
  }

  LzariCharModel& model_;
  BitWriter& out_;
  std::uint32_t low_ = 0;
  std::uint32_t high_ = kFull;
  std::uint32_t pending_ = 0;  // bits owed: the opposite of the next bit given
};

// Where the encoding loop stands between pieces of input.
struct Progress {
  std::uint32_t len = 0;           // bytes in the look-ahead
  std::uint32_t r = kRingStart;    // the look-ahead's start
  std::uint32_t oldest = 0;        // the oldest window position, overwritten next
};

// The window: spaces, then the look-ahead (`first`: the input's first kMaxMatch bytes, or
// all of a shorter one), then zeros, the repeated bytes included; then the first strings.
void Start(std::span<const std::uint8_t> first, Progress& g, MatchFinder& trees, LzariEncodeState& s) {
  std::uint8_t* const text = s.text;
  s.matchLength = 0;
  s.matchPosition = 0;
  std::memset(text, kRingFill, kRingStart);
  std::memset(text + kRingStart, 0, kTextSize - kRingStart);
  g.len = static_cast<std::uint32_t>(first.size());
  std::memcpy(text + kRingStart, first.data(), g.len);
  for (std::uint32_t i = 1; i <= kMaxMatch; ++i) trees.Insert<false>(g.r - i);
  trees.Insert<true>(g.r);
}

// Codes from p, the next input byte, until the look-ahead is empty; or, with the input
// not yet all at hand (kAll false), until fewer than kMaxMatch bytes are left before
// stop, as many as one code may take in. Returns where it stopped reading.
template <bool kAll>
[[gnu::always_inline]] inline const std::uint8_t* Codes(const std::uint8_t* p, const std::uint8_t* const stop,
                                                        Progress& g, MatchFinder& trees, Coder& coder,
                                                        LzariEncodeState& s) {
  std::uint8_t* const text = s.text;
  std::uint32_t len = g.len, r = g.r, oldest = g.oldest;
  while (len > 0 && (kAll || stop - p >= static_cast<std::ptrdiff_t>(kMaxMatch))) {
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
      if (p < stop) {
        const std::uint8_t c = *p++;
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
  }
  g = {len, r, oldest};
  return p;
}

// The length field, and no stream at all for an empty input.
void PutLength(BitWriter& out, std::uint32_t size) {
  for (std::uint32_t k = 0; k < kLengthFieldSize; ++k) out.Byte(static_cast<std::uint8_t>(size >> (8 * k)));
  if (size == 0) out.Close();
}

std::int64_t Result(const BitWriter& out) {
  return out.fitted() ? static_cast<std::int64_t>(out.written()) : kEncodeOutputFull;
}

// The whole input at once, compiled twice where the processor may offer more than SSE2
// (see LzariEncode).
[[gnu::always_inline]] inline std::int64_t Encode(std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                                                  LzariEncodeState& s) {
  BitWriter out(output);
  const auto size = static_cast<std::uint32_t>(input.size());
  PutLength(out, size);
  if (size == 0) return Result(out);
  Coder coder(s.model, out);
  MatchFinder trees(s);
  Progress g;
  const std::uint32_t first = size < kMaxMatch ? size : kMaxMatch;
  Start(input.first(first), g, trees, s);
  Codes<true>(input.data() + first, input.data() + size, g, trees, coder, s);
  coder.End();
  return Result(out);
}

#ifdef MORAVELT_LZARI_WIDE
[[MORAVELT_LZARI_WIDE_TARGET]] std::int64_t EncodeWide(std::span<const std::uint8_t> input,
                                                       std::span<std::uint8_t> output, LzariEncodeState& state) {
  return Encode(input, output, state);
}
#endif

}  // namespace

std::int64_t LzariEncode(std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                         LzariEncodeState& state) {
  if (input.size() > 0xFFFFFFFFu) return kEncodeInputTooLong;
#ifdef MORAVELT_LZARI_WIDE
  if (HasWide()) return EncodeWide(input, output, state);
#endif
  return Encode(input, output, state);
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

// What the coding of a stream keeps from one piece of input to the next.
struct LzariStreamEncoder::Run {
  Run(LzariSink& sink, LzariEncodeState& state) : out(sink), coder(state.model, out), trees(state), s(state) {}
  BitWriter out;
  Coder coder;
  MatchFinder trees;
  LzariEncodeState& s;
  Progress g;
};

namespace {

template <bool kAll>
const std::uint8_t* CodesOf(const std::uint8_t* p, const std::uint8_t* stop, Progress& g, MatchFinder& trees,
                            Coder& coder, LzariEncodeState& s) {
  return Codes<kAll>(p, stop, g, trees, coder, s);
}
#ifdef MORAVELT_LZARI_WIDE
template <bool kAll>
[[MORAVELT_LZARI_WIDE_TARGET]] const std::uint8_t* CodesWide(const std::uint8_t* p, const std::uint8_t* stop,
                                                             Progress& g, MatchFinder& trees, Coder& coder,
                                                             LzariEncodeState& s) {
  return Codes<kAll>(p, stop, g, trees, coder, s);
}
#endif

}  // namespace

LzariStreamEncoder::LzariStreamEncoder(std::uint32_t size, LzariSink& sink, LzariEncodeState& state)
    : run_(std::make_unique<Run>(sink, state)), held_(kFeedBytes), size_(size) {
  PutLength(run_->out, size);
}

LzariStreamEncoder::~LzariStreamEncoder() = default;

bool LzariStreamEncoder::Feed(std::span<const std::uint8_t> piece) {
  if (!ok_) return false;
  if (piece.size() > size_ - fed_) {
    overfed_ = true;
    return ok_ = false;
  }
  fed_ += piece.size();
  while (!piece.empty()) {
    const std::size_t n = std::min(piece.size(), held_.size() - heldBytes_);
    std::memcpy(held_.data() + heldBytes_, piece.data(), n);
    heldBytes_ += n;
    piece = piece.subspan(n);
    if (heldBytes_ == held_.size()) Code(false);
  }
  return ok_ = ok_ && run_->out.fitted();
}

// Codes what is held (all of it when the input is complete), and keeps what is left,
// fewer than kMaxMatch bytes, at the front.
void LzariStreamEncoder::Code(bool all) {
  Run& run = *run_;
  const std::uint8_t* p = held_.data();
  if (!started_) {
    const std::uint32_t first = size_ < kMaxMatch ? size_ : kMaxMatch;
    Start({p, first}, run.g, run.trees, run.s);
    p += first;
    started_ = true;
  }
  const std::uint8_t* const stop = held_.data() + heldBytes_;
  auto codes = all ? CodesOf<true> : CodesOf<false>;
#ifdef MORAVELT_LZARI_WIDE
  if (HasWide()) codes = all ? CodesWide<true> : CodesWide<false>;
#endif
  p = codes(p, stop, run.g, run.trees, run.coder, run.s);
  heldBytes_ = static_cast<std::size_t>(stop - p);
  std::memmove(held_.data(), p, heldBytes_);
}

std::int64_t LzariStreamEncoder::Finish() {
  if (!run_->out.fitted()) return kEncodeOutputFull;  // the sink refused a piece
  if (fed_ != size_ || overfed_) return kEncodeInputMismatch;
  if (ok_ && size_ != 0) {
    Code(true);
    run_->coder.End();
  }
  return Result(run_->out);
}
