#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "formats/lzari.h"
#include "support/lzari_encoder.h"
#include "support/lzari_reference.h"
#include "support/test_util.h"

using testutil::Bytes;
using testutil::LzariCompress;
using testutil::LzariEncoder;

namespace {

constexpr std::uint8_t kGuard = 0xA5;

struct Decoded {
  int result;
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

}  // namespace

TEST(LzariDecode, ZeroExpectedLengthReadsAndWritesNothing) {
  Bytes stream = LzariCompress(testutil::FromString("abc"));
  Decoded d = Decode(stream, 0);
  EXPECT_EQ(d.result, -1);
  EXPECT_TRUE(GuardIntact(d, 0));

  auto state = std::make_unique<LzariState>();
  EXPECT_EQ(LzariDecode(stream, nullptr, 3, *state), -1) << "no output buffer";
  EXPECT_EQ(state->inputCount, 0u);
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
    EXPECT_EQ(d.result, 1) << c.why;
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
    EXPECT_EQ(d.result, 1) << c.why;
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
  EXPECT_EQ(d.result, 1);
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
  ASSERT_EQ(ref.result, 1);
  Decoded d = Decode(stream, bytes);
  EXPECT_EQ(d.result, 1);
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
  ASSERT_EQ(LzariDecode(stream, first.data(), static_cast<std::uint32_t>(data.size()), *state), 1);
  ASSERT_EQ(LzariDecode(stream, second.data(), static_cast<std::uint32_t>(data.size()), *state), 1);
  EXPECT_TRUE(first == data);
  EXPECT_TRUE(second == data);

  // A decode that stopped mid-byte leaves bits behind; the next one ignores them.
  Bytes other = LzariCompress(testutil::FromString("abcabcabcabc"));
  Bytes small(5);
  ASSERT_EQ(LzariDecode(other, small.data(), 5, *state), 1);
  ASSERT_NE(state->bitCount, 0u);
  Bytes third(data.size());
  ASSERT_EQ(LzariDecode(stream, third.data(), static_cast<std::uint32_t>(data.size()), *state), 1);
  EXPECT_TRUE(third == data);
}

TEST(LzariDecode, StopsExactlyAtExpectedLength) {
  Bytes data = MixedData(4000);
  Bytes stream = LzariCompress(data);
  for (std::uint32_t n : {1u, 2u, 17u, 1000u, 3999u}) {
    Decoded d = Decode(stream, n);
    EXPECT_EQ(d.result, 1) << n;
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
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.count, n);
    EXPECT_EQ(Head(d.out, n), Bytes(n, 'q'));
    EXPECT_TRUE(GuardIntact(d, n)) << n;
  }
}

TEST(LzariDecode, TruncatedStreamsFailOnceTheyRunDry) {
  Bytes data = testutil::MakeBytes(3000, 5);  // nearly all literals: every coded bit counts
  Bytes stream = LzariCompress(data);
  ASSERT_EQ(Decode(stream, 3000).result, 1);
  // Zero bits within the slack decode to a few rare codes (long matches at most), so
  // only a stream that lost more than that much output is sure to be caught.
  constexpr std::size_t kUndetectable = 256;
  for (std::size_t len = 0; len <= stream.size(); ++len) {
    Decoded d = Decode(Head(stream, len), 3000);
    ASSERT_TRUE(GuardIntact(d, 3000)) << len;
    ASSERT_TRUE(d.result == 1 || d.result == -1) << len;
    if (len + kUndetectable <= stream.size()) {
      EXPECT_EQ(d.result, -1) << "prefix of " << len << " bytes";
      EXPECT_LT(d.count, 3000u);
    }
    if (d.result == 1) {
      EXPECT_EQ(d.count, 3000u);
    }
  }
  // The closing bits reach into the last byte at most: without it the start of the data
  // still decodes, but not every byte of it.
  Decoded shortByOne = Decode(Head(stream, stream.size() - 1), 3000);
  EXPECT_EQ(shortByOne.result, 1);
  EXPECT_TRUE(Head(shortByOne.out, 2900) == Head(data, 2900));
}

TEST(LzariDecode, GarbageTerminatesInsideItsBuffers) {
  for (std::uint32_t seed = 1; seed <= 200; ++seed) {
    Bytes junk = testutil::MakeBytes(seed * 7 % 600, seed);
    std::uint32_t expected = 1 + seed * 131 % 5000;
    Decoded d = Decode(junk, expected);
    ASSERT_TRUE(d.result == 1 || d.result == -1) << seed;
    ASSERT_TRUE(GuardIntact(d, expected)) << seed;
    if (d.result == 1) {
      EXPECT_EQ(d.count, expected);
    }
    EXPECT_LE(d.count, expected);
  }
  // An empty input is zero bits: it gets no further than the slack allows.
  Decoded empty = Decode(Bytes{}, 1u << 20);
  EXPECT_EQ(empty.result, -1);
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
    (fast.result == 1 ? finished : ranDry) += 1;
  }
  // Junk both runs dry and, when long enough for its length, finishes.
  EXPECT_GT(finished, 10);
  EXPECT_GT(ranDry, 10);
}
