// LZARI decoding, memory to memory.
//
// LZARI is LZSS (a 4096-byte sliding window with back references of 3 to 60 bytes)
// whose output is coded arithmetically instead of with flag bits:
//
//   - One adaptive model codes every "character": the bytes 0..255 as literals and
//     the match lengths 3..60 as codes 256..313 (length = code - 253). Each code owns
//     a symbol 1..314; symbols are kept sorted by falling frequency, so symbol 1 is
//     always the most frequent code. Every code starts with frequency 1; each one
//     decoded adds 1, and when the total has reached 32767 all frequencies are halved
//     (rounding up) first.
//   - A fixed model codes the position of a match: position p (0..4095) means "p + 1
//     bytes back" and weighs floor(10000 / (p + 201)), from 49 for p = 0 down to 2 for
//     p = 4095, 28568 in all.
//   - The coder keeps 17-bit registers low/high/value (quarter 0x8000, half 0x10000,
//     three quarters 0x18000, full 0x20000), reads 17 bits before the first symbol and
//     one per renormalising shift. Bits are taken most significant first, starting
//     with the top bit of the first input byte; the stream has no header.
//   - The window starts with 0x20 in bytes 0..4035 and 0 in 4036..4095; output starts
//     at position 4036. A match copies one byte at a time, each entering the window
//     before the next is read, so a match may overlap what it produces.
//
// The stream carries no length and no end mark; the caller knows how many bytes it
// decodes to. What this decoder does at the edges:
//
//   - End of input. Past the last input byte the coder is fed zero bits. The 17-bit
//     look-ahead runs ahead of the last symbol, so a complete stream is read up to 17
//     bits beyond its end (15 at most when the encoder closed it the published way;
//     real ARMAX files need 9 to 15). A decode that would consume more than
//     kInputSlackBytes bytes past the end is abandoned with kInputEnded: its input is
//     truncated or is not LZARI at all. Bytes are only ever read inside the input.
//     There is no end mark, so a stream that lost no more than its last few bytes can
//     still decode in full with its last symbols wrong; a check sum over the data has
//     to catch that.
//   - Output overrun. The output holds exactly expectedLength bytes. A final match
//     that reaches past it is cut off at expectedLength and the decode succeeds (the
//     count has reached its target); no byte is written past the buffer.
//   - Every loop pass writes at least one byte, so any input terminates after at most
//     expectedLength symbols.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lzari {
inline constexpr std::uint32_t kRingSize = 4096;
inline constexpr std::uint32_t kRingMask = kRingSize - 1;
inline constexpr std::uint32_t kMaxMatch = 60;
inline constexpr std::uint32_t kThreshold = 2;  // a match is longer than this
inline constexpr std::uint32_t kLiterals = 256;
inline constexpr std::uint32_t kCharCodes = kLiterals + kMaxMatch - kThreshold;  // 314
inline constexpr std::uint32_t kRingStart = kRingSize - kMaxMatch;               // 4036
inline constexpr std::uint8_t kRingFill = 0x20;
inline constexpr std::uint32_t kSymbolBlock = 16;
inline constexpr std::uint32_t kSymbolSlots = 320;  // symbols 0..314 in whole blocks
inline constexpr std::uint32_t kBlocks = kSymbolSlots / kSymbolBlock;  // 20
inline constexpr std::uint32_t kBlockSlots = 24;     // 20 rounded up to whole vectors

inline constexpr std::uint32_t kCodeBits = 17;
inline constexpr std::uint32_t kQuarter = 1u << (kCodeBits - 2);
inline constexpr std::uint32_t kHalf = 2 * kQuarter;
inline constexpr std::uint32_t kThreeQuarters = 3 * kQuarter;
inline constexpr std::uint32_t kFull = 4 * kQuarter;
inline constexpr std::uint32_t kMaxCharTotal = kQuarter - 1;
inline constexpr std::uint32_t kPositionTotal = 28568;

// How far past the end of the input the decoder may read (as zero bits) before it
// gives up on the stream.
inline constexpr std::size_t kInputSlackBytes = 3;
}  // namespace lzari

// The adaptive model of the character codes, kept the same way by the decoder and the
// encoder.
struct LzariCharModel {
  std::uint32_t charToSymbol[lzari::kCharCodes];        // symbol 1..314 of each code
  std::uint32_t symbolToChar[lzari::kCharCodes + 1];    // code of each symbol; [0] unused
  std::uint32_t symbolFreq[lzari::kCharCodes + 2];      // [0] and [315] are sentinels 0
  // The lowest symbol of the run of symbols that share a frequency, by frequency; valid
  // for the frequencies some symbol has (the published coder walks down to it).
  std::uint16_t runStart[lzari::kQuarter];
  // The published coder keeps symbolCum[s], the frequencies of symbols s+1..314 added
  // up, and adds 1 to up to 314 of them per code. Here the same sums are kept in two
  // parts over blocks of 16 symbols (symbol s in block s / 16):
  //   symbolCum[s] = blockCum[s / 16] + localCum[s]
  // blockCum[b]: the frequencies of every block after b; localCum[s]: those of the
  // symbols after s within its block. A code then changes at most 15 local and 19 block
  // sums, a few vector additions, and a search looks at 20 block sums and one block.
  // 16 bits are enough (the total stays below 32768). Symbols 0 and 315..319 weigh 0.
  alignas(16) std::int16_t localCum[lzari::kSymbolSlots];
  alignas(16) std::int16_t blockCum[lzari::kBlockSlots];
  std::uint32_t charTotal;                              // all frequencies (symbolCum[0])
};

// Everything one decode uses. LzariDecode initialises every field itself, so a state
// can be reused; nothing carries over from one decode to the next.
struct LzariState {
  // The coder, kept as the interval's lower end and its width, and the code bits read
  // so far less the lower end (the published coder's value - low): every shift doubles
  // the width and the offset and takes one bit into the offset, whichever kind it is.
  std::uint32_t low;
  std::uint32_t range;
  std::uint32_t offset;
  LzariCharModel model;
  // The position model never changes: it is constant data beside the coder. The window
  // is the output itself: a match reaches back into what was written, or, in the first
  // 4096 bytes, into the window's initial spaces and zeros.

  std::uint64_t bitsRead;      // bits taken from the input, the zeros past its end included
  std::uint32_t outputCount;   // bytes written so far
};

// What a decode ends with, one result per cause:
//
//   kDecoded        1  expectedLength bytes have been produced
//   kInputEnded    -1  the stream ran out of input (see above): the bytes decoded until
//                      then are in output, the rest is untouched
//   kSourceFailed  -2  (LzariDecodeFrom, LzariDecodeTo) the source gave fewer bytes than
//                      asked before the stream's end
//   kSinkRefused   -3  (LzariDecodeTo) the sink refused a piece
//   kNoOutput      -4  expectedLength is 0 or output is null: nothing is decoded or
//                      written (and LzariDecode reads nothing)
//
// The numbers are only for printing; nothing stores them.
enum class LzariResult { kDecoded = 1, kInputEnded = -1, kSourceFailed = -2, kSinkRefused = -3, kNoOutput = -4 };

// Decodes `input` into output[0 .. expectedLength): kDecoded, kInputEnded or kNoOutput.
LzariResult LzariDecode(std::span<const std::uint8_t> input, std::uint8_t* output,
                        std::uint32_t expectedLength, LzariState& state);

// Where a decode may take its stream from piece by piece, so that a stream on disk need
// not be held whole: Read fills buffer with up to n of the stream's next bytes and
// returns how many it gave; fewer than asked (before the stream's end) is a failure.
class LzariSource {
 public:
  virtual std::size_t Read(std::uint8_t* buffer, std::size_t n) = 0;

 protected:
  ~LzariSource() = default;
};

// As LzariDecode, the inputLength bytes of the stream read from `source` as they are
// needed, at most lzari::kPieceBytes held at a time; the output is the same byte for
// byte. Returns kSourceFailed when the source fails to give them, whatever the decode
// made of the bytes it had.
LzariResult LzariDecodeFrom(LzariSource& source, std::uint64_t inputLength, std::uint8_t* output,
                            std::uint32_t expectedLength, LzariState& state);

// Where a windowed decode hands its output, in order, piece by piece: Take returns false
// to stop the decode.
class LzariSink {
 public:
  virtual bool Take(std::span<const std::uint8_t> bytes) = 0;

 protected:
  ~LzariSink() = default;
};

// As LzariDecodeFrom, with no buffer for the whole output: the bytes are decoded into a
// window of lzari::kWindowBytes (the last 4096 kept in front for the matches that reach
// back) and handed to `sink` each time it fills, the rest once the decode succeeds. The
// same bytes, result and counts as LzariDecodeFrom; kSinkRefused when the sink refused a
// piece. On a failure the pieces handed before it are all that went.
LzariResult LzariDecodeTo(LzariSource& source, std::uint64_t inputLength, LzariSink& sink,
                          std::uint32_t expectedLength, LzariState& state);

namespace lzari {
inline constexpr std::size_t kPieceBytes = 64 * 1024;
inline constexpr std::uint32_t kWindowBytes = 256 * 1024;
}  // namespace lzari
