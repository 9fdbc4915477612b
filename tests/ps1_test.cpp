// The PS1 save core: the directory frame and its XOR check, the first block's header and
// icon, and the save object whose blocks read from memory or through extents of a card.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "icon/ps1_icon.h"
#include "card/card_save.h"
#include "formats/ps1/ps1_frame.h"
#include "formats/ps1/ps1_header.h"
#include "formats/ps1/ps1_save.h"
#include "formats/psu/psu.h"
#include "support/ps1_builder.h"
#include "support/test_util.h"

using testutil::Bytes;

namespace {

ps1::DirFrame FrameFrom(const Bytes& bytes, std::size_t at) {
  ps1::DirFrame frame;
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), frame.bytes.size(), frame.bytes.begin());
  return frame;
}

std::unique_ptr<CPs1Save> InMemorySave(const std::string& name, const Bytes& blocks) {
  auto save = std::make_unique<CPs1Save>();
  save->Assign(name, static_cast<std::uint32_t>(blocks.size()), InMemory{blocks}, nullptr, std::nullopt);
  return save;
}

}  // namespace

TEST(Ps1Frame, FieldsAndXorCheck) {
  const struct {
    const char* why;
    std::string name;
    std::string readBack;
  } cases[] = {
      {"a short name ends at its NUL", "BASLUS-00958GS2-7", "BASLUS-00958GS2-7"},
      {"all 20 characters, no NUL", "BESCES-0096700994465", "BESCES-0096700994465"},
      {"a longer name keeps 20", "BESCES-0096700994465XYZ", "BESCES-0096700994465"},
  };
  for (const auto& c : cases) {
    ps1::DirFrame frame = ps1::DirFrame::FirstOf(c.name, 3 * 8192);
    EXPECT_EQ(frame.Name(), c.readBack) << c.why;
    EXPECT_EQ(frame.State(), ps1::kStateFirst) << c.why;
    EXPECT_EQ(frame.Size(), 3u * 8192) << c.why;
    EXPECT_EQ(frame.Next(), ps1::kNoNext) << c.why;
    EXPECT_TRUE(frame.XorValid()) << c.why;
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < 127; ++i) x ^= frame.bytes[i];
    EXPECT_EQ(frame.bytes[127], x) << c.why;
    frame.bytes[0x38] ^= 0x40;
    EXPECT_FALSE(frame.XorValid()) << c.why;
  }
}

TEST(Ps1Frame, CardFileNames) {
  const struct {
    std::string name;
    bool valid;
  } cases[] = {
      {"BESLES-01051Matt..", true}, {"BASLUS-00001 @`", true},   {"", false},
      {"BESCES-0096700994465", true}, {"BESCES-00967009944651", false},
      {"BASLUS-\x01", false},        {"BISLPS-\x82\x60", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ps1::IsCardFileName(c.name), c.valid) << c.name;
}

TEST(Ps1Header, MagicIconFramesAndBlocks) {
  const struct {
    std::string magic;
    std::uint8_t flag;
    bool read;
    ps1::Magic want;
    int frames;
  } cases[] = {
      {"SC", 0x11, true, ps1::Magic::kSc, 1},
      {"SC", 0x12, true, ps1::Magic::kSc, 2},
      {"SC", 0x13, true, ps1::Magic::kSc, 3},
      {"SC", 0x14, true, ps1::Magic::kSc, 1},
      {"SC", 0x00, true, ps1::Magic::kSc, 1},
      {"CS", 0x11, true, ps1::Magic::kCs, 1},
      {std::string("C\0", 2), 0x12, true, ps1::Magic::kC0, 2},
      {"MC", 0x11, false, ps1::Magic::kNone, 0},
      {std::string("\0\0", 2), 0x11, false, ps1::Magic::kNone, 0},
  };
  for (const auto& c : cases) {
    testutil::Ps1SaveImage image;
    image.magic = c.magic;
    image.iconFlag = c.flag;
    image.blocks = 2;
    const std::optional<ps1::SaveHeader> h = ps1::ReadHeader(image.Build());
    ASSERT_EQ(h.has_value(), c.read) << c.magic;
    if (!h) continue;
    EXPECT_EQ(h->magic, c.want) << c.magic;
    EXPECT_EQ(h->iconFrames, c.frames) << c.magic;
    EXPECT_EQ(h->blocks, 2) << c.magic;
  }
  // A header with its frames needs 0x200 bytes.
  EXPECT_FALSE(ps1::ReadHeader(Bytes(0x1FF, 'S')).has_value());
}

TEST(Ps1Header, TitleDecodedUpToItsNul) {
  const struct {
    const char* why;
    std::string raw;
    std::string raw64;  // what the header keeps
    std::string utf8;
  } cases[] = {
      {"full-width minus as a dash", "PAC\x81\x7CMAN", "PAC\x81\x7CMAN", "PAC\xEF\xBC\x8DMAN"},
      {"junk after the NUL", std::string("AB\0\x82\x60junk", 9), "AB", "AB"},
      {"katakana", "\x83\x66\x83\x42", "\x83\x66\x83\x42", "\xE3\x83\x87\xE3\x82\xA3"},
      {"64 bytes, no NUL", std::string(64, 'Z'), std::string(64, 'Z'), std::string(64, 'Z')},
  };
  for (const auto& c : cases) {
    testutil::Ps1SaveImage image;
    image.rawTitle = c.raw;
    Bytes blocks = image.Build();
    blocks[0x44] = 'J';  // the byte after the 64-byte field is not part of the title
    const std::optional<ps1::SaveHeader> h = ps1::ReadHeader(blocks);
    ASSERT_TRUE(h) << c.why;
    EXPECT_EQ(h->rawTitle, c.raw64) << c.why;
    EXPECT_EQ(h->title, c.utf8) << c.why;
  }
}

TEST(Ps1Header, IconPixelsFromThePalette) {
  Bytes blocks = testutil::MakePs1Blocks(1);
  const struct {
    std::uint16_t colour;
    std::uint8_t r, g, b, a;
  } colours[] = {
      {0x0000, 0, 0, 0, 0},          // transparent
      {0x8000, 0, 0, 0, 255},        // black with the semi-transparency flag: opaque
      {0x001F, 255, 0, 0, 255},      // red
      {0x03E0, 0, 255, 0, 255},      // green
      {0x7C00, 0, 0, 255, 255},      // blue
      {0x7FFF, 255, 255, 255, 255},  // white
      {0x0421, 8, 8, 8, 255},        // 1 in each channel
  };
  for (std::size_t i = 0; i < std::size(colours); ++i) {
    blocks[0x60 + 2 * i] = static_cast<std::uint8_t>(colours[i].colour);
    blocks[0x61 + 2 * i] = static_cast<std::uint8_t>(colours[i].colour >> 8);
  }
  // Pixel k of the first row has colour k (two pixels a byte, the low nibble on the left);
  // the second row is colour 6 then 0.
  for (std::size_t k = 0; k < 8; k += 2) blocks[0x80 + k / 2] = static_cast<std::uint8_t>(k | (k + 1) << 4);
  blocks[0x88] = 0x06;
  const std::optional<ps1::SaveHeader> h = ps1::ReadHeader(blocks);
  ASSERT_TRUE(h);
  const icon::Picture picture = icon::Ps1Frame(*h, 0);
  ASSERT_EQ(picture.width, 16);
  ASSERT_EQ(picture.height, 16);
  for (int k = 0; k < 7; ++k) {
    const std::uint8_t* p = picture.PixelAt(k, 0);
    const auto& want = colours[static_cast<std::size_t>(k)];
    EXPECT_EQ((Bytes{p[0], p[1], p[2], p[3]}), (Bytes{want.r, want.g, want.b, want.a})) << k;
  }
  EXPECT_EQ(picture.PixelAt(0, 1)[0], 8);
  EXPECT_EQ(picture.PixelAt(1, 1)[3], 0);
  // Only the frames the header gives are drawn.
  EXPECT_TRUE(icon::Ps1Frame(*h, 1).rgba.empty());
  EXPECT_TRUE(icon::Ps1Frame(*h, -1).rgba.empty());
}

TEST(Ps1Header, RegionFromTheName) {
  const struct {
    const char* name;
    ps1::Region region;
  } cases[] = {
      {"BISLPS-01416-DIAB-01", ps1::Region::kJapan}, {"BASLUS-00958GS2-7", ps1::Region::kAmerica},
      {"BESCES-00984GT", ps1::Region::kEurope},      {"FREEPSXBOOT", ps1::Region::kUnknown},
      {"B", ps1::Region::kUnknown},                   {"BXSLUS-00958", ps1::Region::kUnknown},
  };
  for (const auto& c : cases) EXPECT_EQ(ps1::RegionOf(c.name), c.region) << c.name;
}

TEST(Ps1Save, BlocksThatAreNoSave) {
  testutil::Ps1SaveImage wrongCount;
  wrongCount.blocks = 2;
  wrongCount.blockCountByte = 3;
  testutil::Ps1SaveImage noMagic;
  noMagic.magic = "XY";
  const struct {
    const char* why;
    Bytes blocks;
    std::string problem;
  } cases[] = {
      {"one block", testutil::MakePs1Blocks(1), ""},
      {"fifteen blocks", testutil::MakePs1Blocks(15), ""},
      {"nothing", Bytes{}, "The save's 0 bytes are not 1 to 15 whole blocks of 8,192 bytes."},
      {"part of a block", Bytes(8191, 0), "The save's 8191 bytes are not 1 to 15 whole blocks of 8,192 bytes."},
      {"sixteen blocks", testutil::MakePs1Blocks(16),
       "The save's 131072 bytes are not 1 to 15 whole blocks of 8,192 bytes."},
      {"a count that isn't the blocks'", wrongCount.Build(), "The save says it has 3 blocks, but it holds 2."},
      {"no magic", noMagic.Build(),
       "The save's first block doesn't begin with \"SC\": this is no PlayStation 1 save."},
  };
  for (const auto& c : cases) EXPECT_EQ(ps1::BlocksProblem(c.blocks), c.problem) << c.why;
}

TEST(Ps1Save, TableTitleAndWhatTellsItFromAPs2Save) {
  const Bytes blocks = testutil::MakePs1Blocks(2);
  std::unique_ptr<CPs1Save> made = InMemorySave("BASLUS-00958GS2-7", blocks);
  CPs1Save& save = *made;
  ASSERT_TRUE(save.entries);
  ASSERT_EQ(save.FileCount(), 1);
  EXPECT_EQ(save.EntryAt(-1)->Name(), "BASLUS-00958GS2-7");
  EXPECT_EQ(save.EntryAt(0)->Name(), "BASLUS-00958GS2-7");
  EXPECT_EQ(save.EntryAt(0)->size, 2u * 8192);
  EXPECT_EQ(save.EntryAt(-1)->RawTitle(), "\x82\x60\x82\x61 TEST");
  EXPECT_EQ(save.EntryAt(-1)->Title(), "AB TEST");
  std::vector<std::uint8_t> read;
  ASSERT_EQ(ps1::ReadBlocks(save, read), DataResult::kOk);
  EXPECT_EQ(read, blocks);
  const std::optional<ps1::SaveHeader> h = ps1::HeaderOf(save);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->title, "\xEF\xBC\xA1\xEF\xBC\xA2 TEST");

  EXPECT_TRUE(ps1::IsPs1(save));
  EXPECT_FALSE(ps1::IsPs1(CPs1Save()));  // an object with no save yet
  EXPECT_FALSE(ps1::IsPs1(CCardSave()));
  EXPECT_FALSE(ps1::IsPs1(CPsu()));
}

TEST(Ps1Save, OnlyRenamingToACardFileNameChangesIt) {
  std::unique_ptr<CPs1Save> made = InMemorySave("BASLUS-00958GS2-7", testutil::MakePs1Blocks(1));
  CPs1Save& save = *made;
  const struct {
    const char* why;
    int entry;
    std::string name;
    std::string want;
  } cases[] = {
      {"the root", -1, "BASLUS-00958GS2-8", "BASLUS-00958GS2-8"},
      {"its file", 0, "BESLES-04095XSMOTO", "BESLES-04095XSMOTO"},
      {"too long", -1, "BESCES-00967009944651", "BESLES-04095XSMOTO"},
      {"not ASCII", -1, "BISLPS-\x83\x66", "BESLES-04095XSMOTO"},
      {"empty", 0, "", "BESLES-04095XSMOTO"},
  };
  for (const auto& c : cases) {
    save.SetName(c.entry, c.name);
    EXPECT_EQ(save.EntryAt(-1)->Name(), c.want) << c.why;
    EXPECT_EQ(save.EntryAt(0)->Name(), c.want) << c.why;
  }
  testutil::TempDir dir;
  testutil::WriteFile(dir.File("pc.bin"), Bytes(5, 1));
  EXPECT_FALSE(save.AddEntryFromDisk(dir.File("pc.bin"), "more"));
  EXPECT_FALSE(save.ReplaceEntryFromDisk(dir.File("pc.bin"), 1));
  save.RemoveEntry(0);
  save.SetMode(0, 0);
  save.SetModified(-1, testutil::MakeTime(2020, 1, 1, 0, 0, 0));
  EXPECT_EQ(save.FileCount(), 1);
  EXPECT_EQ(save.EntryAt(0)->size, 8192u);
  EXPECT_NE(save.EntryAt(0)->mode, 0u);
  EXPECT_EQ(save.EntryAt(-1)->modified, EntryTime{});
}

// The frame a copy gets: the save's own with name, size and check brought up to date and
// every other byte as it was; or a new one.
TEST(Ps1Save, FrameForACopyKeepsUnknownBytes) {
  ps1::DirFrame stored = ps1::DirFrame::FirstOf("BESCES-00984GT", 5 * 8192);
  stored.SetNext(1);
  stored.bytes[0x38] = 0x40;
  stored.Seal();
  CPs1Save save;
  const Bytes blocks = testutil::MakePs1Blocks(1);
  save.Assign("BESCES-00984RT", 8192, InMemory{blocks}, nullptr, stored);
  const ps1::DirFrame frame = ps1::FrameFor(save);
  EXPECT_EQ(frame.Name(), "BESCES-00984RT");
  EXPECT_EQ(frame.Size(), 8192u);
  EXPECT_EQ(frame.Next(), 1);
  EXPECT_EQ(frame.bytes[0x38], 0x40);
  EXPECT_TRUE(frame.XorValid());
  EXPECT_EQ(ps1::FrameFor(*InMemorySave("BASLUS-1", blocks)), ps1::DirFrame::FirstOf("BASLUS-1", 8192));
}

// A save on a card reads its blocks through extents of the card file: block 1 of the
// Japanese card with its frame is exactly the .mcs file of that save.
TEST(Ps1Save, CardSaveThroughExtentsIsTheMcsFile) {
  REQUIRE_CORPUS(card, "ps1card/c-japanese.mcd");
  REQUIRE_CORPUS(mcs, "ps1save/a.mcs");
  const Bytes cardBytes = testutil::ReadFile(card);
  const Bytes want = testutil::ReadFile(mcs);
  const ps1::DirFrame frame = FrameFrom(cardBytes, 128);
  ASSERT_EQ(frame.Size(), 10u * 8192);
  // Two extents, as a card layer gives a chain cut in two.
  ContainerExtents extents;
  extents.extents = {{8192, 3 * 8192}, {4 * 8192, 7 * 8192}};
  CPs1Save save;
  save.Assign(frame.Name(), frame.Size(), extents, io::OpenSource(card), frame);
  std::vector<std::uint8_t> blocks;
  ASSERT_EQ(ps1::ReadBlocks(save, blocks), DataResult::kOk);
  EXPECT_EQ(ps1::BlocksProblem(blocks), "");
  const ps1::DirFrame copied = ps1::FrameFor(save);
  EXPECT_EQ(copied, frame);
  Bytes joined(copied.bytes.begin(), copied.bytes.end());
  joined.insert(joined.end(), blocks.begin(), blocks.end());
  EXPECT_TRUE(joined == want);
  EXPECT_EQ(ps1::RegionOf(ps1::NameOf(save)), ps1::Region::kJapan);
}
