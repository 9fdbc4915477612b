#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include "formats/lzari.h"
#include "formats/lzari_encode.h"
#ifdef MORAVELT_HAVE_ZLIB
#include "data_kinds.h"
#endif
#include "lzari_baseline.h"
#include "model/bytes.h"
#include "support/lzari_encoder.h"
#include "support/lzari_reference.h"
#include "support/test_util.h"

using testutil::Bytes;
using testutil::LzariCompress;
using testutil::LzariEncoder;

// A result that differs prints as its number in lzari.h's table.
static void PrintTo(LzariResult result, std::ostream* os) { *os << static_cast<int>(result); }

namespace {

constexpr std::uint8_t kGuard = 0xA5;

struct Decoded {
  LzariResult result;
  Bytes out;            // expectedLength bytes, then the guard bytes
  std::uint32_t count;  // what the state says was written
};

// Decodes into a buffer with guard bytes behind the expected length, so that a write
// past it shows.
Decoded Decode(const Bytes& stream, std::uint32_t expectedLength, std::size_t guard = 64) {
  auto state = std::make_unique<LzariState>();
  Decoded d;
  d.out.assign(expectedLength + guard, kGuard);
  d.result = LzariDecode(stream, d.out.data(), expectedLength, *state);
  d.count = state->outputCount;
  return d;
}

Bytes Head(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }

bool GuardIntact(const Decoded& d, std::size_t from) {
  for (std::size_t i = from; i < d.out.size(); ++i)
    if (d.out[i] != kGuard) return false;
  return true;
}

// Text with repeats near and far, and a run.
Bytes MixedData(std::size_t n) {
  Bytes out;
  const std::string words[] = {"memory ", "card ", "save ", "icon.sys ", "BESLES-", "\n"};
  Bytes noise = testutil::MakeBytes(n, 3);
  std::size_t i = 0;
  while (out.size() < n) {
    std::uint8_t r = noise[i++ % noise.size()];
    if (r < 150) {
      const std::string& w = words[r % 6];
      out.insert(out.end(), w.begin(), w.end());
    } else if (r < 220) {
      out.push_back(r);
    } else {
      out.insert(out.end(), r % 90, static_cast<std::uint8_t>(r & 3));
    }
  }
  out.resize(n);
  return out;
}

// What LzariEncode makes of data: the length field and the stream, or empty on failure.
// The output starts as guard bytes, so every byte counted as written must have been.
Bytes Encode(const Bytes& data, LzariEncodeState& state) {
  Bytes out(lzari::EncodeBound(data.size()), kGuard);
  const std::int64_t n = LzariEncode(data, out, state);
  if (n < 0) return {};
  out.resize(static_cast<std::size_t>(n));
  return out;
}

// Random bytes, then a slice of them again: the look-ahead runs out in the middle of
// the match, and the window's old bytes behind the input's end still agree with it.
Bytes EndsInsideAMatch(std::size_t block, std::size_t repeat) {
  Bytes out = testutil::MakeBytes(block, 41);
  out.insert(out.end(), out.begin() + 100, out.begin() + 100 + static_cast<std::ptrdiff_t>(repeat));
  return out;
}

// The input ends with a string met twice before, near with one continuation and far
// with another; the window's old bytes behind the input's end are the far one's, so
// the classic encoder, which still compares them, takes the far match (in full, 60
// bytes) over the near one. Were those bytes anything else, the walk would pass the far
// node for the near one (inserted later and sorting just below it) and take that.
Bytes OldBytesPickTheMatch() {
  constexpr std::size_t kSize = 5000;
  Bytes out = testutil::MakeBytes(kSize, 51);
  const Bytes string = testutil::MakeBytes(20, 52);
  Bytes far = testutil::MakeBytes(40, 53), near = testutil::MakeBytes(40, 54);
  far[0] = 0xF0;
  near[0] = 0x10;
  auto put = [&](std::size_t at, const Bytes& b) {
    std::copy(b.begin(), b.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
  };
  put(kSize - lzari::kRingSize, far);  // what the window holds behind the end
  put(2000, string);
  put(2020, far);
  put(4500, string);
  put(4520, near);
  put(kSize - string.size(), string);
  return out;
}

// Strings met at several distances with the same length, so that the nearer one must
// win, and runs of them long enough to reach 60 and replace tree nodes.
Bytes EqualLengthMatches() {
  Bytes out;
  for (int round = 0; round < 300; ++round) {
    const std::string word = "save" + std::to_string(round % 7) + "-" + std::string(round % 50, 'x');
    out.insert(out.end(), word.begin(), word.end());
    out.push_back(static_cast<std::uint8_t>(round));
  }
  return out;
}

}  // namespace

TEST(LzariDecode, ZeroExpectedLengthReadsAndWritesNothing) {
  Bytes stream = LzariCompress(testutil::FromString("abc"));
  Decoded d = Decode(stream, 0);
  EXPECT_EQ(d.result, LzariResult::kNoOutput);
  EXPECT_TRUE(GuardIntact(d, 0));

  auto state = std::make_unique<LzariState>();
  EXPECT_EQ(LzariDecode(stream, nullptr, 3, *state), LzariResult::kNoOutput) << "no output buffer";
  EXPECT_EQ(state->bitsRead, 0u);
}

// Streams made symbol by symbol, each with the exact bytes it must give.
TEST(LzariDecode, ExactStreams) {
  struct Token {
    int literal;  // -1: a match
    std::uint32_t position, length;
  };
  auto lit = [](char c) { return Token{static_cast<unsigned char>(c), 0, 0}; };
  auto match = [](std::uint32_t p, std::uint32_t len) { return Token{-1, p, len}; };
  struct Case {
    const char* why;
    std::vector<Token> tokens;
    std::string expected;
  };
  const std::string spaces10(10, ' ');
  const std::string zeros6_spaces4 = std::string(6, '\0') + std::string(4, ' ');
  const Case cases[] = {
      {"literals only", {lit('P'), lit('S'), lit('2'), lit('D')}, "PS2D"},
      {"a literal and distance 1, length 5 repeat the literal six times",
       {lit('x'), match(0, 5)}, "xxxxxx"},
      {"a match at the start reads the window's initial spaces (from 4030, overlapping)",
       {match(5, 10)}, spaces10},
      {"a match at the start reads unwritten zeros at 4090..4095, then spaces at 0..3",
       {match(4041, 10)}, zeros6_spaces4},
      {"the farthest distance reads the byte about to be overwritten",
       {lit('a'), match(4095, 3)}, std::string("a") + std::string(1, '\0') + std::string(2, '\0')},
      {"the longest match, overlapping by two",
       {lit('a'), lit('b'), match(1, 60)}, [] {
         std::string s;
         for (int i = 0; i < 31; ++i) s += "ab";
         return s;
       }()},
      {"a match of three, the shortest",
       {lit('1'), lit('2'), lit('3'), lit('4'), match(3, 3)}, "1234123"},
  };
  for (const Case& c : cases) {
    LzariEncoder enc;
    for (const Token& t : c.tokens) {
      if (t.literal >= 0) enc.Literal(static_cast<std::uint8_t>(t.literal));
      else enc.Match(t.position, t.length);
    }
    Bytes stream = enc.Finish();
    Decoded d = Decode(stream, static_cast<std::uint32_t>(c.expected.size()));
    EXPECT_EQ(d.result, LzariResult::kDecoded) << c.why;
    EXPECT_EQ(Head(d.out, c.expected.size()), testutil::FromString(c.expected)) << c.why;
    EXPECT_TRUE(GuardIntact(d, c.expected.size())) << c.why;
  }
}

TEST(LzariDecode, RoundTripsCompressedData) {
  struct Case {
    const char* why;
    Bytes data;
  };
  const Case cases[] = {
      {"one byte", Bytes{0x42}},
      {"spaces, all matched from the initial window", Bytes(5000, 0x20)},
      {"zeros", Bytes(70000, 0)},
      {"random bytes, literals nearly all", testutil::MakeBytes(50000, 9)},
      {"mixed text and runs", MixedData(300000)},
  };
  for (const Case& c : cases) {
    Bytes stream = LzariCompress(c.data);
    Decoded d = Decode(stream, static_cast<std::uint32_t>(c.data.size()));
    EXPECT_EQ(d.result, LzariResult::kDecoded) << c.why;
    EXPECT_EQ(d.count, c.data.size()) << c.why;
    EXPECT_TRUE(Head(d.out, c.data.size()) == c.data) << c.why;
    EXPECT_TRUE(GuardIntact(d, c.data.size())) << c.why;
  }
}

TEST(LzariDecode, LongStreamHalvesTheCharacterModel) {
  // The total starts at 314 and grows by one per code; 32453 codes bring it to 32767,
  // and the update after that halves. Literals of few values make the halved
  // frequencies uneven, so symbols keep trading places after it.
  Bytes data;
  Bytes noise = testutil::MakeBytes(80000, 21);
  LzariEncoder enc;
  for (std::uint8_t b : noise) {
    std::uint8_t v = b < 200 ? static_cast<std::uint8_t>(b % 7) : b;
    enc.Literal(v);
    data.push_back(v);
  }
  ASSERT_GT(enc.codes(), 2u * (32767 - 314));
  Bytes stream = enc.Finish();
  Decoded d = Decode(stream, static_cast<std::uint32_t>(data.size()));
  EXPECT_EQ(d.result, LzariResult::kDecoded);
  EXPECT_TRUE(Head(d.out, data.size()) == data);
}

// Every one of the 314 codes, literal or match length, climbing and falling through the
// ranks of the character model (the sums are kept per block of 16 symbols, so every
// block and every place in a block is met), through two halvings.
TEST(LzariDecode, EveryCodeAtEveryRankAgreesWithThePlainDecoder) {
  LzariEncoder enc;
  Bytes noise = testutil::MakeBytes(90000, 33);
  std::uint32_t bytes = 0;
  for (std::size_t i = 0; i < noise.size(); ++i) {
    // Skewed towards a few codes that move over time, with every code now and then.
    std::uint32_t code = noise[i] < 128 ? static_cast<std::uint32_t>((i / 4000 + noise[i] % 5) * 13 % 314)
                                        : static_cast<std::uint32_t>((noise[i] * 7 + i) % 314);
    if (code < 256) {
      enc.Literal(static_cast<std::uint8_t>(code));
      bytes += 1;
    } else {
      std::uint32_t length = code - 253;
      enc.Match(static_cast<std::uint32_t>((noise[i] * 31 + i) % 4096), length);
      bytes += length;
    }
  }
  ASSERT_GT(enc.codes(), 2u * (32767 - 314));
  Bytes stream = enc.Finish();
  Bytes expected(bytes);
  testutil::ReferenceResult ref = testutil::ReferenceLzariDecode(stream, expected.data(), bytes);
  ASSERT_EQ(ref.result, LzariResult::kDecoded);
  Decoded d = Decode(stream, bytes);
  EXPECT_EQ(d.result, LzariResult::kDecoded);
  EXPECT_TRUE(Head(d.out, bytes) == expected);
  EXPECT_TRUE(GuardIntact(d, bytes));
}

TEST(LzariDecode, EachDecodeStartsFresh) {
  Bytes data = MixedData(20000);
  Bytes stream = LzariCompress(data);
  // The same state used twice, and a state full of junk: every field is set again,
  // the bit buffer included.
  auto state = std::make_unique<LzariState>();
  std::memset(state.get(), 0xCD, sizeof(LzariState));
  Bytes first(data.size()), second(data.size());
  ASSERT_EQ(LzariDecode(stream, first.data(), static_cast<std::uint32_t>(data.size()), *state), LzariResult::kDecoded);
  ASSERT_EQ(LzariDecode(stream, second.data(), static_cast<std::uint32_t>(data.size()), *state), LzariResult::kDecoded);
  EXPECT_TRUE(first == data);
  EXPECT_TRUE(second == data);

  // A decode that stopped mid-byte leaves bits behind; the next one ignores them.
  Bytes other = LzariCompress(testutil::FromString("abcabcabcabc"));
  Bytes small(5);
  ASSERT_EQ(LzariDecode(other, small.data(), 5, *state), LzariResult::kDecoded);
  ASSERT_NE(state->bitsRead % 8, 0u);
  Bytes third(data.size());
  ASSERT_EQ(LzariDecode(stream, third.data(), static_cast<std::uint32_t>(data.size()), *state), LzariResult::kDecoded);
  EXPECT_TRUE(third == data);
}

TEST(LzariDecode, StopsExactlyAtExpectedLength) {
  Bytes data = MixedData(4000);
  Bytes stream = LzariCompress(data);
  for (std::uint32_t n : {1u, 2u, 17u, 1000u, 3999u}) {
    Decoded d = Decode(stream, n);
    EXPECT_EQ(d.result, LzariResult::kDecoded) << n;
    EXPECT_EQ(d.count, n);
    EXPECT_TRUE(Head(d.out, n) == Head(data, n)) << n;
    EXPECT_TRUE(GuardIntact(d, n)) << "nothing written past " << n;
  }
}

TEST(LzariDecode, FinalMatchPastTheEndIsCutOff) {
  LzariEncoder enc;
  enc.Literal('q');
  enc.Match(0, 60);  // 61 bytes in all
  Bytes stream = enc.Finish();
  for (std::uint32_t n : {2u, 5u, 60u}) {
    Decoded d = Decode(stream, n, 100);
    EXPECT_EQ(d.result, LzariResult::kDecoded);
    EXPECT_EQ(d.count, n);
    EXPECT_EQ(Head(d.out, n), Bytes(n, 'q'));
    EXPECT_TRUE(GuardIntact(d, n)) << n;
  }
}

TEST(LzariDecode, TruncatedStreamsFailOnceTheyRunDry) {
  Bytes data = testutil::MakeBytes(3000, 5);  // nearly all literals: every coded bit counts
  Bytes stream = LzariCompress(data);
  ASSERT_EQ(Decode(stream, 3000).result, LzariResult::kDecoded);
  // Zero bits within the slack decode to a few rare codes (long matches at most), so
  // only a stream that lost more than that much output is sure to be caught.
  constexpr std::size_t kUndetectable = 256;
  for (std::size_t len = 0; len <= stream.size(); ++len) {
    Decoded d = Decode(Head(stream, len), 3000);
    ASSERT_TRUE(GuardIntact(d, 3000)) << len;
    ASSERT_TRUE(d.result == LzariResult::kDecoded || d.result == LzariResult::kInputEnded) << len;
    if (len + kUndetectable <= stream.size()) {
      EXPECT_EQ(d.result, LzariResult::kInputEnded) << "prefix of " << len << " bytes";
      EXPECT_LT(d.count, 3000u);
    }
    if (d.result == LzariResult::kDecoded) {
      EXPECT_EQ(d.count, 3000u);
    }
  }
  // The closing bits reach into the last byte at most: without it the start of the data
  // still decodes, but not every byte of it.
  Decoded shortByOne = Decode(Head(stream, stream.size() - 1), 3000);
  EXPECT_EQ(shortByOne.result, LzariResult::kDecoded);
  EXPECT_TRUE(Head(shortByOne.out, 2900) == Head(data, 2900));
}

TEST(LzariDecode, GarbageTerminatesInsideItsBuffers) {
  for (std::uint32_t seed = 1; seed <= 200; ++seed) {
    Bytes junk = testutil::MakeBytes(seed * 7 % 600, seed);
    std::uint32_t expected = 1 + seed * 131 % 5000;
    Decoded d = Decode(junk, expected);
    ASSERT_TRUE(d.result == LzariResult::kDecoded || d.result == LzariResult::kInputEnded) << seed;
    ASSERT_TRUE(GuardIntact(d, expected)) << seed;
    if (d.result == LzariResult::kDecoded) {
      EXPECT_EQ(d.count, expected);
    }
    EXPECT_LE(d.count, expected);
  }
  // An empty input is zero bits: it gets no further than the slack allows.
  Decoded empty = Decode(Bytes{}, 1u << 20);
  EXPECT_EQ(empty.result, LzariResult::kInputEnded);
  EXPECT_TRUE(GuardIntact(empty, 1u << 20));
}

// The decoder keeps its sums in faster structures than the published one; on any input,
// sound or not, it must give the very same bytes, result and count as the plain form.
TEST(LzariDecode, AgreesWithThePlainDecoderOnAnyInput) {
  struct Case {
    std::string why;
    Bytes stream;
    std::uint32_t expectedLength;
  };
  std::vector<Case> cases = {
      {"mixed data", LzariCompress(MixedData(120000)), 120000},
      {"random data", LzariCompress(testutil::MakeBytes(60000, 12)), 60000},
      {"runs", LzariCompress(Bytes(90000, 7)), 90000},
#ifdef MORAVELT_HAVE_ZLIB
      {"configuration files and logs", LzariCompress(bench::TextLinesData(80000, 21)), 80000},
      {"records of small numbers and flags", LzariCompress(bench::RecordsData(80000, 22)), 80000},
      {"long runs and records between", LzariCompress(bench::RunsData(200000, 23)), 200000},
      {"deflated text and records", LzariCompress(bench::CompressedData(80000, 24)), 80000},
#endif
  };
  for (std::uint32_t seed = 1; seed <= 60; ++seed)
    cases.push_back({"junk " + std::to_string(seed), testutil::MakeBytes(seed * 97 % 9000, seed),
                     1 + seed * 7919 % 100000});
  int finished = 0, ranDry = 0;
  for (const Case& c : cases) {
    Decoded fast = Decode(c.stream, c.expectedLength, 0);
    Bytes plain(c.expectedLength, kGuard);
    testutil::ReferenceResult ref = testutil::ReferenceLzariDecode(c.stream, plain.data(), c.expectedLength);
    EXPECT_EQ(fast.result, ref.result) << c.why;
    EXPECT_EQ(fast.count, ref.outputCount) << c.why;
    EXPECT_TRUE(fast.out == plain) << c.why;
    (fast.result == LzariResult::kDecoded ? finished : ranDry) += 1;
  }
  // Junk both runs dry and, when long enough for its length, finishes.
  EXPECT_GT(finished, 10);
  EXPECT_GT(ranDry, 10);
}

// The ARMAX files made by devices hold, from offset 88, exactly what the classic encoder
// makes of their records: encoding the decoded records again must give those bytes.
TEST(LzariEncode, ReproducesDeviceFilesByteForByte) {
  const char* const files[] = {"max/b.max", "max/c.max"};
  for (const char* name : files) {
    const std::string path = testutil::CorpusPath(name);
    if (path.empty()) GTEST_SKIP() << "corpus file " << name << " absent";
  }
  constexpr std::size_t kLengthOffset = 0x58, kStreamOffset = 0x5C;
  auto state = std::make_unique<LzariEncodeState>();
  for (const char* name : files) {
    const Bytes file = testutil::ReadFile(testutil::CorpusPath(name));
    ASSERT_GT(file.size(), kStreamOffset) << name;
    const std::uint32_t length = bytes::GetU32LE(&file[kLengthOffset]);
    const Bytes stream(file.begin() + kStreamOffset, file.end());
    Decoded records = Decode(stream, length, 0);
    ASSERT_EQ(records.result, LzariResult::kDecoded) << name;
    const Bytes expected(file.begin() + kLengthOffset, file.end());
    EXPECT_TRUE(Encode(records.out, *state) == expected) << name;
  }
}

// Every kind of input, encoded by one state used again and again: it decodes to the
// input, and it is byte for byte what the published encoder makes of it.
TEST(LzariEncode, RoundTripsAndAgreesWithThePublishedEncoder) {
  struct Case {
    const char* why;
    Bytes data;
  };
  const Case cases[] = {
      {"empty: the length field alone", Bytes{}},
      {"one byte", Bytes{0x42}},
      {"shorter than the look-ahead: zeros behind it take part in the comparisons",
       testutil::FromString("abcabcabc")},
      {"exactly the look-ahead", testutil::MakeBytes(60, 2)},
      {"one past the look-ahead", testutil::MakeBytes(61, 3)},
      {"a run of spaces, matched from the initial window", Bytes(5000, 0x20)},
      {"a long run: every insert replaces a node", Bytes(100000, 0)},
      {"text and runs", MixedData(50000)},
      {"random bytes, literals nearly all, past a halving of the model",
       testutil::MakeBytes(60000, 9)},
      {"long matches at distances up to the window's", [] {
         Bytes b = testutil::MakeBytes(4000, 17);
         for (int k = 0; k < 5; ++k) b.insert(b.end(), b.begin(), b.begin() + 4000);
         return b;
       }()},
      {"equal lengths at several distances", EqualLengthMatches()},
      {"the input ends inside a match", EndsInsideAMatch(4200, 30)},
      {"the input ends inside a match shorter than the look-ahead", EndsInsideAMatch(300, 20)},
      {"the old bytes behind the input's end choose the match", OldBytesPickTheMatch()},
      {"1 MiB of mixed text, runs and noise", MixedData(1 << 20)},
#ifdef MORAVELT_HAVE_ZLIB
      // The bench's kinds of data, smaller.
      {"configuration files and logs: short matches among numbers", bench::TextLinesData(60000, 5)},
      {"records of small numbers and flags: matches of 3 to 8 bytes at many distances",
       bench::RecordsData(60000, 6)},
      {"long runs of zeros and of one byte, records between", bench::RunsData(300000, 7)},
      {"deflated text and records", bench::CompressedData(60000, 8)},
#endif
  };
  auto state = std::make_unique<LzariEncodeState>();
  std::memset(state.get(), 0xCD, sizeof(LzariEncodeState));
  for (const Case& c : cases) {
    const Bytes coded = Encode(c.data, *state);
    ASSERT_GE(coded.size(), lzari::kLengthFieldSize) << c.why;
    EXPECT_LE(coded.size(), lzari::EncodeBound(c.data.size())) << c.why;
    EXPECT_EQ(bytes::GetU32LE(coded.data()), c.data.size()) << c.why;
    EXPECT_TRUE(coded == bench::BaselineLzariEncode(c.data)) << c.why;
    if (c.data.empty()) {
      EXPECT_EQ(coded.size(), lzari::kLengthFieldSize) << "no stream at all";
      continue;
    }
    const Bytes stream(coded.begin() + lzari::kLengthFieldSize, coded.end());
    Decoded d = Decode(stream, static_cast<std::uint32_t>(c.data.size()));
    EXPECT_EQ(d.result, LzariResult::kDecoded) << c.why;
    EXPECT_TRUE(Head(d.out, c.data.size()) == c.data) << c.why;
  }
}

// An output too small for the result is refused and not written past; a token out of
// range is refused.
TEST(LzariEncode, RefusesWhatDoesNotFit) {
  auto state = std::make_unique<LzariEncodeState>();
  const Bytes data = MixedData(20000);
  const Bytes full = Encode(data, *state);
  ASSERT_FALSE(full.empty());
  for (std::size_t room : {std::size_t{0}, std::size_t{3}, full.size() / 2, full.size() - 1, full.size()}) {
    Bytes out(room + 64, kGuard);
    const std::int64_t n = LzariEncode(data, std::span<std::uint8_t>(out.data(), room), *state);
    if (room < full.size()) {
      EXPECT_EQ(n, lzari::kEncodeOutputFull) << room;
    } else {
      EXPECT_EQ(n, static_cast<std::int64_t>(full.size()));
      EXPECT_TRUE(Head(out, room) == full);
    }
    for (std::size_t i = room; i < out.size(); ++i) ASSERT_EQ(out[i], kGuard) << room << " wrote at " << i;
  }

  struct BadToken {
    const char* why;
    LzariToken token;
  };
  const BadToken bad[] = {
      {"a match of 2", {0, 2, 0}},
      {"a match of 61", {0, 61, 0}},
      {"a position past the window", {4096, 3, 0}},
  };
  for (const BadToken& b : bad) {
    const LzariToken tokens[] = {{0, 0, 'a'}, b.token};
    Bytes out(64);
    EXPECT_EQ(LzariEncodeTokens(tokens, out, *state), lzari::kEncodeBadToken) << b.why;
  }
}

// Two encodes at once, each with its own state, give what each gives alone.
TEST(LzariEncode, ThreadsWithTheirOwnStatesDoNotMeet) {
  const Bytes inputs[] = {MixedData(300000), testutil::MakeBytes(200000, 5)};
  Bytes alone[2], together[2];
  for (int k = 0; k < 2; ++k) {
    auto state = std::make_unique<LzariEncodeState>();
    alone[k] = Encode(inputs[k], *state);
  }
  std::thread other([&] {
    auto state = std::make_unique<LzariEncodeState>();
    together[1] = Encode(inputs[1], *state);
  });
  auto state = std::make_unique<LzariEncodeState>();
  together[0] = Encode(inputs[0], *state);
  other.join();
  EXPECT_TRUE(together[0] == alone[0]);
  EXPECT_TRUE(together[1] == alone[1]);
}

namespace {

// A stream handed out as asked, until `failAt` bytes have gone: from there a read gives
// fewer bytes than asked, as a failing disk would.
class VectorSource final : public LzariSource {
 public:
  VectorSource(const Bytes& bytes, std::size_t failAt) : bytes_(bytes), failAt_(failAt) {}
  std::size_t Read(std::uint8_t* buffer, std::size_t n) override {
    const std::size_t end = std::min({at_ + n, bytes_.size(), failAt_});
    const std::size_t got = end > at_ ? end - at_ : 0;
    std::memcpy(buffer, bytes_.data() + at_, got);
    at_ += got;
    return got;
  }

 private:
  const Bytes& bytes_;
  std::size_t failAt_, at_ = 0;
};

}  // namespace

// Read piece by piece, a stream decodes to what it decodes to held whole: the same
// result, bytes, count and bits read, across piece boundaries and at its end; a source
// that fails says so.
TEST(LzariDecodeFrom, ReadsTheStreamInPiecesAndMatchesTheWholeDecode) {
  const Bytes mixed = MixedData(900000), random = testutil::MakeBytes(200000, 61);
  const Bytes mixedStream = LzariCompress(mixed), randomStream = LzariCompress(random);
  ASSERT_GT(mixedStream.size(), lzari::kPieceBytes);
  ASSERT_GT(randomStream.size(), 3 * lzari::kPieceBytes);
  constexpr std::size_t kNever = ~std::size_t{0};
  using enum LzariResult;
  struct Case {
    const char* why;
    Bytes stream;
    std::uint32_t expectedLength;
    std::size_t failAt;
    LzariResult result;
  };
  const Case cases[] = {
      {"within one piece", LzariCompress(Head(mixed, 20000)), 20000, kNever, kDecoded},
      {"mixed data over several pieces", mixedStream, 900000, kNever, kDecoded},
      {"random data over several pieces", randomStream, 200000, kNever, kDecoded},
#ifdef MORAVELT_HAVE_ZLIB
      {"records over several pieces: short matches far back across each edge",
       LzariCompress(bench::RecordsData(300000, 41)), 300000, kNever, kDecoded},
#endif
      {"exactly one piece", Head(randomStream, lzari::kPieceBytes), 200000, kNever, kInputEnded},
      {"cut a byte past a piece", Head(randomStream, 2 * lzari::kPieceBytes + 1), 200000, kNever, kInputEnded},
      {"cut inside the third piece", Head(randomStream, 2 * lzari::kPieceBytes + 5000), 200000, kNever, kInputEnded},
      {"an empty stream", Bytes{}, 200000, kNever, kInputEnded},
      {"a shorter output than the stream holds", mixedStream, 500000, kNever, kDecoded},
      {"no output to decode to", mixedStream, 0, kNever, kNoOutput},
      {"the source fails in the second piece", randomStream, 200000, lzari::kPieceBytes + 100, kSourceFailed},
      {"the source fails at once", randomStream, 200000, 0, kSourceFailed},
  };
  for (const Case& c : cases) {
    const Decoded whole = Decode(c.stream, c.expectedLength);
    auto state = std::make_unique<LzariState>();
    Bytes out(c.expectedLength + 64, kGuard);
    VectorSource source(c.stream, c.failAt);
    const LzariResult result = LzariDecodeFrom(source, c.stream.size(), out.data(), c.expectedLength, *state);
    EXPECT_EQ(result, c.result) << c.why;
    if (c.failAt != kNever) continue;
    EXPECT_EQ(whole.result, c.result) << c.why;
    EXPECT_TRUE(out == whole.out) << c.why;
    EXPECT_EQ(state->outputCount, whole.count) << c.why;
  }
}

namespace {

// Gathers what a windowed decode hands over, refusing once `refuseAfter` pieces came.
class Gather final : public LzariSink {
 public:
  explicit Gather(std::size_t refuseAfter) : refuseAfter_(refuseAfter) {}
  bool Take(std::span<const std::uint8_t> bytes) override {
    if (pieces == refuseAfter_) return false;
    ++pieces;
    got.insert(got.end(), bytes.begin(), bytes.end());
    return true;
  }
  Bytes got;
  std::size_t pieces = 0;

 private:
  std::size_t refuseAfter_;
};

}  // namespace

// Decoded through a window, a stream gives what it gives decoded whole, in order and
// across every slide of the window (matches reaching back over it, a match cut at the
// end); a sink that refuses, a source that fails and a stream cut short each stop it.
TEST(LzariDecodeTo, HandsOverWhatTheWholeDecodeWrites) {
  const std::uint32_t w = lzari::kWindowBytes;
  const Bytes mixed = MixedData(3 * w + 12345), random = testutil::MakeBytes(w + 5000, 62);
  const Bytes mixedStream = LzariCompress(mixed), randomStream = LzariCompress(random);
  const Bytes zeros(2 * w + 7, 0);  // long matches across every slide
  constexpr std::size_t kNever = ~std::size_t{0};
  using enum LzariResult;
  struct Case {
    const char* why;
    Bytes stream;
    std::uint32_t expectedLength;
    std::size_t failAt;       // the source fails there
    std::size_t refuseAfter;  // the sink refuses the piece after this many
    LzariResult result;
  };
  const Case cases[] = {
      {"within one window", LzariCompress(Head(mixed, 20000)), 20000, kNever, kNever, kDecoded},
      {"exactly one window", LzariCompress(Head(mixed, w)), w, kNever, kNever, kDecoded},
      {"one byte past a window", LzariCompress(Head(mixed, w + 1)), w + 1, kNever, kNever, kDecoded},
      {"mixed data over several windows", mixedStream, static_cast<std::uint32_t>(mixed.size()), kNever, kNever, kDecoded},
      {"random data over two windows", randomStream, static_cast<std::uint32_t>(random.size()), kNever, kNever, kDecoded},
      {"zeros: matches over every slide", LzariCompress(zeros), static_cast<std::uint32_t>(zeros.size()), kNever, kNever, kDecoded},
#ifdef MORAVELT_HAVE_ZLIB
      {"records over several windows: short matches reaching back across every slide",
       LzariCompress(bench::RecordsData(2 * w + 999, 42)), 2 * w + 999, kNever, kNever, kDecoded},
      {"text over several windows", LzariCompress(bench::TextLinesData(2 * w + 333, 43)), 2 * w + 333, kNever,
       kNever, kDecoded},
#endif
      {"a shorter output than the stream holds", mixedStream, 2 * w + 3, kNever, kNever, kDecoded},
      {"a stream cut short", Head(randomStream, randomStream.size() / 2), static_cast<std::uint32_t>(random.size()), kNever, kNever, kInputEnded},
      {"no output to decode to", mixedStream, 0, kNever, kNever, kNoOutput},
      {"the source fails", mixedStream, static_cast<std::uint32_t>(mixed.size()), lzari::kPieceBytes + 9, kNever, kSourceFailed},
      {"the sink refuses the first piece", mixedStream, static_cast<std::uint32_t>(mixed.size()), kNever, 0, kSinkRefused},
      {"the sink refuses the third piece", mixedStream, static_cast<std::uint32_t>(mixed.size()), kNever, 2, kSinkRefused},
      {"the sink refuses the last piece", LzariCompress(Head(mixed, 1000)), 1000, kNever, 0, kSinkRefused},
  };
  for (const Case& c : cases) {
    const Decoded whole = Decode(c.stream, c.expectedLength);
    auto state = std::make_unique<LzariState>();
    VectorSource source(c.stream, c.failAt);
    Gather sink(c.refuseAfter);
    const LzariResult result = LzariDecodeTo(source, c.stream.size(), sink, c.expectedLength, *state);
    EXPECT_EQ(result, c.result) << c.why;
    // What was handed over is always the start of what the whole decode wrote.
    ASSERT_LE(sink.got.size(), whole.count) << c.why;
    EXPECT_TRUE(std::equal(sink.got.begin(), sink.got.end(), whole.out.begin())) << c.why;
    if (c.result != kDecoded) continue;
    EXPECT_EQ(whole.result, kDecoded) << c.why;
    EXPECT_EQ(sink.got.size(), c.expectedLength) << c.why;
    EXPECT_EQ(state->outputCount, whole.count) << c.why;
  }
}

namespace {

// Keeps what a stream encoder hands over; refuses from the `refuseAt`-th piece on.
struct Collect final : LzariSink {
  Bytes bytes;
  std::size_t pieces = 0;
  std::size_t refuseAt = SIZE_MAX;
  bool Take(std::span<const std::uint8_t> piece) override {
    if (pieces++ >= refuseAt) return false;
    bytes.insert(bytes.end(), piece.begin(), piece.end());
    return true;
  }
};

}  // namespace

// Fed in pieces of any size, across the edges of what the encoder holds, the stream
// encoder hands over the very bytes LzariEncode makes of the whole.
TEST(LzariStreamEncoder, SameBytesAsTheWholeInPiecesOfAnySize) {
  struct Case {
    const char* why;
    Bytes data;
    std::size_t piece;
  };
  const std::size_t held = lzari::kFeedBytes;
  const Case cases[] = {
      {"empty", Bytes{}, 1},
      {"shorter than the look-ahead, a byte at a time", testutil::FromString("abcabcabc"), 1},
      {"just past the look-ahead", testutil::MakeBytes(61, 3), 7},
      {"mixed, a byte at a time", MixedData(3 * held + 123), 1},
      {"mixed, pieces a little short of what is held", MixedData(3 * held + 123), held - 59},
      {"mixed, pieces just over what is held", MixedData(3 * held + 123), held + 1},
      {"mixed, in one piece", MixedData(3 * held + 123), 3 * held + 123},
      {"a long run of zeros in pieces of 60", Bytes(2 * held + 5, 0), 60},
      {"random bytes ending inside a match", EndsInsideAMatch(held + 100, 30), 4096},
#ifdef MORAVELT_HAVE_ZLIB
      {"records, in pieces of a file's odd size", bench::RecordsData(2 * held + 77, 31), 7777},
      {"text lines, pieces a little short of what is held", bench::TextLinesData(2 * held + 5, 32), held - 1},
#endif
  };
  auto state = std::make_unique<LzariEncodeState>();
  for (const Case& c : cases) {
    const Bytes whole = Encode(c.data, *state);
    std::memset(state.get(), 0xCD, sizeof(LzariEncodeState));
    Collect sink;
    LzariStreamEncoder encoder(static_cast<std::uint32_t>(c.data.size()), sink, *state);
    for (std::size_t at = 0; at < c.data.size(); at += c.piece)
      ASSERT_TRUE(encoder.Feed(std::span(c.data).subspan(at, std::min(c.piece, c.data.size() - at)))) << c.why;
    EXPECT_EQ(encoder.Finish(), static_cast<std::int64_t>(whole.size())) << c.why;
    EXPECT_TRUE(sink.bytes == whole) << c.why;
  }
}

// Fewer or more bytes than announced, or a sink that refuses a piece, end in a failure,
// never in a stream that looks complete.
TEST(LzariStreamEncoder, WrongInputOrARefusingSinkFails) {
  const Bytes data = MixedData(lzari::kFeedBytes + 5000);
  auto state = std::make_unique<LzariEncodeState>();
  struct Case {
    const char* why;
    std::size_t announced;
    std::size_t refuseAt;
    std::int64_t result;
  };
  const Case cases[] = {
      {"one byte fewer fed than announced", data.size() + 1, SIZE_MAX, lzari::kEncodeInputMismatch},
      {"one byte more fed than announced", data.size() - 1, SIZE_MAX, lzari::kEncodeInputMismatch},
      {"the sink refuses its first piece", data.size(), 0, lzari::kEncodeOutputFull},
      {"the sink refuses a later piece", data.size(), 1, lzari::kEncodeOutputFull},
  };
  for (const Case& c : cases) {
    Collect sink;
    sink.refuseAt = c.refuseAt;
    LzariStreamEncoder encoder(static_cast<std::uint32_t>(c.announced), sink, *state);
    for (std::size_t at = 0; at < data.size(); at += 1000)
      encoder.Feed(std::span(data).subspan(at, std::min<std::size_t>(1000, data.size() - at)));
    EXPECT_EQ(encoder.Finish(), c.result) << c.why;
  }
}

#ifdef MORAVELT_HAVE_ZLIB
// The bench's kinds of data are what their rows say: a generator that went wrong would
// give the encoder something friendlier (zeros, one repeated record) or harder (noise)
// and its figures would mean nothing. Each kind compresses within the band of the real
// thing, gives exactly the bytes asked, and the same seed gives the same bytes.
TEST(LzariBenchData, EachKindCompressesAsItsKindDoes) {
  struct Case {
    const char* kind;
    std::vector<std::uint8_t> (*make)(std::size_t, std::uint64_t);
    double leastRatio, mostRatio;  // plain bytes over coded bytes
  };
  const Case cases[] = {
      {"configuration files and logs: about 3 to 1", bench::TextLinesData, 2.5, 4.5},
      {"records of small numbers and flags: about 3 to 2", bench::RecordsData, 1.25, 2.0},
      {"long runs: tens to one, the records between them bounding it", bench::RunsData, 15.0, 120.0},
      {"deflated data: nothing to gain", bench::CompressedData, 0.97, 1.02},
  };
  constexpr std::size_t kSize = 256 * 1024;
  for (const Case& c : cases) {
    const Bytes data = c.make(kSize, 3);
    ASSERT_EQ(data.size(), kSize) << c.kind;
    EXPECT_TRUE(c.make(kSize, 3) == data) << c.kind << ": the same seed gives other bytes";
    EXPECT_FALSE(c.make(kSize, 4) == data) << c.kind << ": another seed gives the same bytes";
    const double ratio = static_cast<double>(kSize) / static_cast<double>(LzariCompress(data).size());
    EXPECT_GE(ratio, c.leastRatio) << c.kind;
    EXPECT_LE(ratio, c.mostRatio) << c.kind;
  }
}

// The text is text: printable ASCII and line ends, in lines of a reasonable length.
TEST(LzariBenchData, TextIsLinesOfPrintableCharacters) {
  const Bytes text = bench::TextLinesData(128 * 1024, 9);
  std::size_t line = 0, longest = 0, lines = 0;
  for (std::uint8_t b : text) {
    ASSERT_TRUE(b == '\n' || (b >= 0x20 && b < 0x7F)) << "byte " << int{b};
    line = b == '\n' ? 0 : line + 1;
    lines += b == '\n';
    longest = std::max(longest, line);
  }
  EXPECT_LE(longest, 120u);
  EXPECT_GE(lines, text.size() / 80);
}
#endif
