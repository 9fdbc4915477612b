// LZARI encoding, memory to memory or from input handed over in pieces, with the output
// of the classic encoder to the bit: the input's length as 4 bytes, little-endian, then
// the bit stream that LzariDecode reads (see lzari.h for the models and the coder). ARMAX
// files hold exactly this from offset 88, and devices made them with this encoder, so a
// save written again comes out byte for byte as the device wrote it.
//
// How the classic encoder parses, which this one follows step by step:
//
//   - The window is 4096 bytes: 0x20 in 0..4035, the first 60 input bytes from 4036
//     (the look-ahead), zeros behind them. Its first 59 bytes are repeated behind its
//     end, so that the 60 bytes from any position can be read in one run; the copy is
//     brought up to date only when those bytes are written, so it keeps the zeros until
//     the input has reached them.
//   - Every window position that has been the start of the look-ahead is a node of a
//     binary search tree, one tree per first byte, ordered by the 60 bytes from that
//     position. Before the first code the 60 positions 3976..4035 are inserted, then
//     4036. Each byte taken from the input deletes the oldest node, overwrites its
//     byte, moves the look-ahead on by one and inserts the new look-ahead position.
//   - Inserting walks down the tree, comparing with each node passed; the longest
//     common prefix of more than 2 bytes met on the way is the match, the nearer of two
//     of the same length. A node that agrees in all 60 bytes is replaced by the new
//     one, which takes its place in the tree.
//   - The match is cut to the bytes left in the look-ahead. One of 2 bytes or fewer is
//     coded as a literal of the look-ahead's first byte, a longer one as its length
//     (code 253 + length) and its distance minus one; then as many bytes are taken in.
//     Past the end of the input no byte is written: the look-ahead shrinks and the old
//     bytes behind it stay, and still take part in the comparisons.
//   - The stream ends with the bit that says which quarter low is in (0 below the
//     first quarter, else 1), then its opposite once more than the bits still owed,
//     then 7 zero bits; only whole bytes are kept. An empty input gives the 4 length
//     bytes and no stream at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "formats/lzari.h"

namespace lzari {
inline constexpr std::uint32_t kNoNode = kRingSize;      // the trees' null link
inline constexpr std::uint32_t kTreeRoots = kRingSize + 1;  // root of byte c: kTreeRoots + c
// Bytes of the window array: the window, the 59 repeated, and room for comparing 8 bytes
// at a time, which reads up to 5 bytes past the 60th.
inline constexpr std::uint32_t kTextSize = kRingSize + kMaxMatch + 8;

inline constexpr std::size_t kLengthFieldSize = 4;

// What LzariEncode and LzariEncodeTokens return when they fail; on success they return
// the number of bytes written.
inline constexpr std::int64_t kEncodeOutputFull = -1;    // output too small for the result
inline constexpr std::int64_t kEncodeInputTooLong = -2;  // more bytes than the length field can say
inline constexpr std::int64_t kEncodeBadToken = -3;      // a token outside the ranges below
inline constexpr std::int64_t kEncodeInputMismatch = -4;  // not the bytes announced (LzariStreamEncoder)

// The input LzariStreamEncoder holds at most.
inline constexpr std::size_t kFeedBytes = 64 * 1024;

// The most bytes LzariEncode writes for an input of n bytes: no code needs more than 17
// bits (a literal at the least likely costs at most that, a match at most twice it for
// three or more bytes), and the end adds 9.
constexpr std::uint64_t EncodeBound(std::uint64_t n) { return kLengthFieldSize + (17 * n + 9) / 8; }
// The most bytes LzariEncodeTokens writes for n tokens.
constexpr std::uint64_t TokensBound(std::uint64_t n) { return (34 * n + 9) / 8; }
}  // namespace lzari

// One step of a parse: a literal, or a match of `length` bytes starting `position` + 1
// bytes back.
struct LzariToken {
  std::uint16_t position;  // a match's distance minus one, 0..4095
  std::uint8_t length;     // 0 for a literal, else 3..60
  std::uint8_t literal;    // a literal's byte
};

// Everything one encode uses apart from its few registers. Each call initialises what
// it uses, so a state can be reused, and several threads can encode at once, each with
// its own state.
struct LzariEncodeState {
  std::uint8_t text[lzari::kTextSize];            // the window, as described above
  // The strings of the window's positions, one tree per first byte, kept as each tree's
  // strings in sorted order with their ranks (see lzari_match.h): the string before
  // and after each (a ring through the tree's root, kTreeRoots + first byte: the root's
  // are the last and the first), and each one's rank.
  std::uint16_t lower[lzari::kTreeRoots + 256];
  std::uint16_t higher[lzari::kTreeRoots + 256];
  std::uint64_t rank[lzari::kTreeRoots + 256];
  // The bytes each string shares with the one before it in its list (0 after a root).
  std::uint8_t shared[lzari::kTreeRoots + 256];
  // The strings by their first two bytes: a bit for each pair some string begins with,
  // and the lowest such string (the slot behind them takes stores that go nowhere).
  std::uint64_t pairsUsed[65536 / 64];
  std::uint16_t pairFirst[65536 + 1];
  std::uint32_t matchLength;                      // the last insertion's match, 0..60
  std::uint32_t matchPosition;                    // and its distance, when longer than 2
  LzariCharModel model;
};

// Encodes `input` into `output`: the 4-byte length, then the stream. Returns the bytes
// written; kEncodeOutputFull when output is smaller than that (EncodeBound(n) bytes are
// always enough; what was written is then of no use); kEncodeInputTooLong for 2^32
// bytes or more (nothing is written).
std::int64_t LzariEncode(std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                         LzariEncodeState& state);

// Codes a parse given token by token, with the same models and coder, into `output`:
// the stream alone, closed as LzariEncode closes it (even with no token). The caller
// answers for the parse making sense (a match may reach back into the initial window).
// Returns the bytes written, kEncodeOutputFull as above (TokensBound(n) are enough),
// or kEncodeBadToken when a token is out of range (nothing is written from it on).
std::int64_t LzariEncodeTokens(std::span<const LzariToken> tokens, std::span<std::uint8_t> output,
                               LzariEncodeState& state);

// Encodes an input handed over in pieces, as LzariEncode encodes it whole: the same bytes,
// the 4-byte length first, handed to `sink` in pieces as they are made. It holds at most
// lzari::kFeedBytes of the input and a few KiB of the output.
class LzariStreamEncoder {
 public:
  // `size`: the input's length; Feed must be given exactly that many bytes before Finish.
  LzariStreamEncoder(std::uint32_t size, LzariSink& sink, LzariEncodeState& state);
  ~LzariStreamEncoder();
  LzariStreamEncoder(const LzariStreamEncoder&) = delete;
  LzariStreamEncoder& operator=(const LzariStreamEncoder&) = delete;

  // Takes the input's next bytes; false, and of no more use, when they go past `size` or
  // the sink refused a piece.
  bool Feed(std::span<const std::uint8_t> piece);
  // Codes the rest and closes the stream. Returns the bytes handed to the sink in all;
  // kEncodeInputMismatch when fewer or more than `size` bytes were fed (the stream is
  // not closed), kEncodeOutputFull when the sink refused a piece.
  std::int64_t Finish();

 private:
  struct Run;
  void Code(bool all);
  std::unique_ptr<Run> run_;
  std::vector<std::uint8_t> held_;  // input not yet taken in, from its start
  std::size_t heldBytes_ = 0;
  std::uint64_t fed_ = 0;
  std::uint32_t size_;
  bool started_ = false;
  bool ok_ = true;        // false once Feed failed
  bool overfed_ = false;  // more than size_ bytes were offered
};
