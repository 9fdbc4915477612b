// The X-Port sum's fast paths against the plain definition: the residue walk until the
// low bits settle, the settled walk for each of the five settled classes, wraps in every
// density, block edges, and the sum worked out on a second thread for large saves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "formats/psu/psu.h"
#include "formats/xps/background_sum.h"
#include "formats/xps/xps.h"
#include "model/bytes.h"
#include "support/psu_builder.h"
#include "support/test_util.h"
#include "support/xps_builder.h"

using testutil::Bytes;
using testutil::MakeBytes;
using testutil::ReferenceXpsChecksum;

namespace {

std::uint32_t Reference(const Bytes& b) { return ReferenceXpsChecksum(b.data(), b.size()); }

// Sums b in pieces whose sizes come from the seed (some empty, some one byte).
std::uint32_t InPieces(const Bytes& b, std::uint32_t seed) {
  std::mt19937 rng(seed);
  XpsChecksum sum;
  std::size_t at = 0;
  while (at < b.size()) {
    std::size_t n = std::min<std::size_t>(rng() % 700, b.size() - at);
    sum.Add(std::span(b).subspan(at, n));
    at += n;
  }
  return sum.value();
}

struct Kind {
  const char* name;
  std::function<std::uint8_t(std::mt19937&, std::size_t)> byte;
};

const Kind kKinds[] = {
    {"random", [](std::mt19937& r, std::size_t) { return static_cast<std::uint8_t>(r()); }},
    {"all 0xFF: a wrap every few bytes", [](std::mt19937&, std::size_t) { return 0xFF; }},
    {"text", [](std::mt19937& r, std::size_t) { return static_cast<std::uint8_t>(0x20 + r() % 0x5F); }},
    {"mostly zeros", [](std::mt19937& r, std::size_t) { return r() % 16 ? 0 : 0xFF; }},
    {"multiples of 8", [](std::mt19937& r, std::size_t) { return static_cast<std::uint8_t>(r() & 0xF8); }},
    {"small values: wraps seldom", [](std::mt19937& r, std::size_t) { return static_cast<std::uint8_t>(r() % 4); }},
    {"runs", [](std::mt19937&, std::size_t i) { return (i / 300) % 2 ? 0xFF : 0x00; }},
};

}  // namespace

// The first byte sets the sum's low three bits (the sum starts at 0 with shift 0), so
// each of the eight cases enters the settled walk from another class, or never: with
// low bits 0 to 2 the residue walk goes on until a byte moves them.
TEST(XpsSumPaths, EveryLowBitClassAndKindAgreeWithTheDefinition) {
  for (std::uint8_t first = 0; first < 8; ++first) {
    for (const Kind& kind : kKinds) {
      std::mt19937 rng(first * 31 + 7);
      Bytes data(20000);
      for (std::size_t i = 0; i < data.size(); ++i) data[i] = kind.byte(rng, i);
      data[0] = first;
      const std::uint32_t expected = Reference(data);
      EXPECT_EQ(XpsChecksum::Of(data), expected) << kind.name << ", first byte " << int(first);
      EXPECT_EQ(InPieces(data, first), expected) << kind.name << ", first byte " << int(first);
    }
  }
}

// The settled walk counts within blocks of 256 bytes; 0xFF bytes grow the count fastest
// (a step and a wrap on most bytes), so lengths around the block edges catch a table
// too short or a count not brought back.
TEST(XpsSumPaths, BlockEdgesWithTheFastestGrowingCount) {
  for (std::uint8_t first : {3, 4, 5, 6, 7}) {
    for (std::size_t n : {1u, 4u, 5u, 255u, 256u, 257u, 258u, 511u, 512u, 513u, 1025u, 4099u}) {
      Bytes data(n, 0xFF);
      data[0] = first;
      EXPECT_EQ(XpsChecksum::Of(data), Reference(data)) << int(first) << " " << n;
    }
  }
}

// Random lengths, contents and piece boundaries, with a random prefix so that the walk
// starts from sums of every kind.
TEST(XpsSumPaths, RandomBuffersInRandomPieces) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 400; ++round) {
    Bytes data(rng() % 3000);
    const Kind& kind = kKinds[rng() % std::size(kKinds)];
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = kind.byte(rng, i);
    const std::uint32_t expected = Reference(data);
    ASSERT_EQ(XpsChecksum::Of(data), expected) << "round " << round << ", " << kind.name;
    ASSERT_EQ(InPieces(data, round), expected) << "round " << round << ", " << kind.name;
  }
}

// ---------------------------------------------------------------- BackgroundSum

TEST(BackgroundSum, PiecesOfEverySizeAgreeWithTheDefinition) {
  constexpr std::size_t kSlot = BackgroundSum::kSlotSize;
  const std::vector<std::vector<std::size_t>> splits = {
      {},
      {0, 0},
      {1},
      {kSlot - 1, 1},
      {kSlot},
      {kSlot + 1, 0, 3},
      {3 * kSlot + 7},
      // more than all the slots hold at once, in small and large pieces
      {250, kSlot * 5, 250, 1, kSlot * 4 + 9, 250},
  };
  const Bytes data = MakeBytes(20 * kSlot, 5);
  for (const auto& split : splits) {
    auto behind = BackgroundSum::Start();
    ASSERT_NE(behind, nullptr);
    std::size_t at = 0;
    for (std::size_t n : split) {
      behind->Add(std::span(data).subspan(at, n));
      at += n;
    }
    EXPECT_EQ(behind->Finish(), ReferenceXpsChecksum(data.data(), at)) << at << " bytes";
    EXPECT_EQ(behind->Finish(), ReferenceXpsChecksum(data.data(), at)) << "asked again";
  }
}

// ---------------------------------------------------------------- large saves

namespace {

std::uint32_t U32At(const Bytes& b, std::size_t at) { return bytes::GetU32LE(&b[at]); }

// Where the data area of a written X-Port file starts and how long it says it is.
std::size_t DataAreaStart(const Bytes& w) {
  std::size_t at = 0;
  for (int text = 0; text < 4; ++text) {
    at += 4 + U32At(w, at);
    if (text == 0) at += 4;  // the zero word after the magic
  }
  return at + 4;
}

}  // namespace

// Data areas of a MiB and more are summed on the second thread; the files must carry
// exactly the sum of the plain definition, converted or saved back, and with a kept
// dataLength shorter than the data.
TEST(XpsLargeSave, SumOfLargeDataAreasMatchesTheDefinition) {
  testutil::TempDir dir;
  testutil::PsuImage psu;
  psu.files.push_back({"BIG.DAT", MakeBytes(3 * 1024 * 1024 + 17, 41)});
  psu.files.push_back({"icon.sys", MakeBytes(964, 42)});
  psu.files.push_back({"TAIL", Bytes(700000, 0xFF)});
  std::string source = dir.File("big.psu");
  testutil::WriteFile(source, psu.Build());

  CPsu loaded;
  ASSERT_EQ(loaded.Load(source), LoadResult::kOk);
  CXps writer;
  ASSERT_EQ(writer.WriteConvertedFrom(loaded, dir.File("big.xps")), LoadResult::kOk);
  Bytes w = testutil::ReadFile(dir.File("big.xps"));
  std::size_t start = DataAreaStart(w);
  std::uint32_t dataLength = U32At(w, start - 4);
  ASSERT_EQ(w.size(), start + dataLength + 4);
  EXPECT_EQ(U32At(w, w.size() - 4), ReferenceXpsChecksum(&w[start], dataLength));

  // Loaded and saved back: the same bytes.
  CXps again;
  ASSERT_EQ(again.Load(dir.File("big.xps")), LoadResult::kOk);
  ASSERT_EQ(again.Save(dir.File("again.xps")), LoadResult::kOk);
  EXPECT_EQ(testutil::ReadFile(dir.File("again.xps")), w);

  // A kept dataLength that stops inside the big file: the sum covers only that much.
  testutil::XpsImage image;
  image.files.push_back(testutil::XpsFile("BIG.DAT", MakeBytes(2 * 1024 * 1024, 43)));
  image.files.push_back(testutil::XpsFile("MORE", MakeBytes(300000, 44)));
  image.dataLength = 1536 * 1024;
  Bytes built = image.Build();
  testutil::WriteFile(dir.File("short.xps"), built);
  CXps shortLength;
  ASSERT_EQ(shortLength.Load(dir.File("short.xps")), LoadResult::kOk);
  ASSERT_EQ(shortLength.Save(dir.File("short-out.xps")), LoadResult::kOk);
  Bytes out = testutil::ReadFile(dir.File("short-out.xps"));
  EXPECT_EQ(out, built);
  EXPECT_EQ(U32At(out, out.size() - 4),
            ReferenceXpsChecksum(&out[image.DataAreaStart()], *image.dataLength));
}

// A large save whose source shrinks after loading fails half-way, with pieces still
// queued for the sum: 0, no file left behind, and the thread stopped (a hang or a leak
// shows up here under the sanitizers).
TEST(XpsLargeSave, SourceCutShortMidWayLeavesNothing) {
  testutil::TempDir dir;
  testutil::XpsImage image;
  image.files.push_back(testutil::XpsFile("A", MakeBytes(2 * 1024 * 1024, 51)));
  image.files.push_back(testutil::XpsFile("B", MakeBytes(2 * 1024 * 1024, 52)));
  Bytes built = image.Build();
  std::string source = dir.File("cut.xps");
  testutil::WriteFile(source, built);
  CXps x;
  ASSERT_EQ(x.Load(source), LoadResult::kOk);
  std::filesystem::resize_file(source, built.size() - 1024 * 1024);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(x.Save(dir.File("out.xps")), LoadResult::kOpenFailed);
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.xps")));
  }
  std::size_t left = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++left;
  EXPECT_EQ(left, 1u);  // only the source: no temporary file either
}
