// Cards of every size and from every formatter: the device's own layout (indirect FAT at
// cluster 16), Open PS2 Loader's, a web formatter's and a PC formatter's, each read from
// the superblock's own fields; and ECC to raw and back at every size.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>

#include "card/card.h"
#include "card/card_messages.h"
#include "card/layout.h"
#include "model/bytes.h"
#include "model/dir_entry.h"
#include "support/card_builder.h"
#include "support/sd_tree.h"

namespace {

using testutil::Bytes;

// A formatter's choices for a blank raw card.
struct Formatter {
  const char* name;
  std::uint32_t clusters, ifcCluster, allocOffset, allocEnd, limit0x170;
  bool opl;                // unused indirect-FAT list entries 0xFFFFFFFF, 0x0000 at 0x2E
  std::uint32_t freeKB;    // what an empty card offers
};

// The blank card that formatter writes: superblock, one indirect cluster listing the FAT
// clusters right after it, the FAT, and the root's "." and "..".
Bytes BlankCard(const Formatter& f) {
  using bytes::PutU32LE;
  Bytes img(std::size_t{f.clusters} * card::kClusterSize, 0xFF);
  std::array<std::uint8_t, card::kPageData> page{};
  std::uint8_t* sb = page.data();
  std::memcpy(sb, card::sb::kMagic.data(), card::sb::kMagic.size());
  std::memcpy(sb + card::sb::kVersionOffset, card::sb::kVersion.data(), card::sb::kVersion.size());
  bytes::PutU16LE(sb + 0x28, 512);
  bytes::PutU16LE(sb + 0x2A, 2);
  bytes::PutU16LE(sb + 0x2C, 16);
  bytes::PutU16LE(sb + 0x2E, f.opl ? 0x0000 : 0xFF00);
  PutU32LE(sb + 0x30, f.clusters);
  PutU32LE(sb + 0x34, f.allocOffset);
  PutU32LE(sb + 0x38, f.allocEnd);
  PutU32LE(sb + 0x40, f.clusters / 8 - 1);
  PutU32LE(sb + 0x44, f.clusters / 8 - 2);
  for (std::size_t i = 0; i < 32; ++i) PutU32LE(sb + 0x50 + 4 * i, i == 0 ? f.ifcCluster : f.opl ? 0xFFFFFFFF : 0);
  std::memset(sb + 0xD0, 0xFF, 128);
  sb[0x150] = 2;
  sb[0x151] = 0x2B;
  PutU32LE(sb + 0x170, f.limit0x170);
  std::copy(page.begin(), page.end(), img.begin());
  const std::uint32_t fatClusters = (f.allocEnd + 255) / 256;
  std::uint8_t* ifc = img.data() + std::size_t{f.ifcCluster} * card::kClusterSize;
  std::memset(ifc, 0, card::kClusterSize);
  for (std::uint32_t k = 0; k < fatClusters; ++k) PutU32LE(ifc + 4 * k, f.ifcCluster + 1 + k);
  for (std::uint32_t n = 0; n < fatClusters * 256; ++n)
    PutU32LE(img.data() + std::size_t{f.ifcCluster + 1} * card::kClusterSize + 4 * n,
             n == 0 || n >= f.allocEnd ? 0xFFFFFFFF : 0x7FFFFFFF);
  std::uint8_t* root = img.data() + std::size_t{f.allocOffset} * card::kClusterSize;
  std::memset(root, 0, card::kClusterSize);
  DirEntry dot;
  dot.mode = 0x8427;
  dot.length = 2;
  dot.SetName(".");
  dot.Write(root);
  DirEntry dotdot;
  dotdot.mode = 0xA426;
  dotdot.SetName("..");
  dotdot.Write(root + 512);
  return img;
}

TEST(CardLayouts, EveryFormattersCardOpensTakesASaveAndConverts) {
  const Formatter rows[] = {
      // The device's own: the indirect FAT at cluster 16, alloc_offset clusters / 256 + 17.
      {"device 8 MB", 8192, 16, 49, 8127, 8001, false, 8000},
      {"device 64 MB", 65536, 16, 273, 65247, 65001, false, 65000},
      {"device 1 MB", 1024, 16, 21, 987, 1001, false, 986},
      {"Open PS2 Loader 8 MB", 8192, 8, 41, 8135, 8001, true, 8000},
      {"web formatter 64 MB", 65536, 8, 272, 65248, 65001, false, 65000},
      // alloc_end as clusters - 16, past the backup blocks: the console's limit keeps
      // saves off them.
      {"PC formatter 8 MB", 8192, 8, 41, 8176, 8001, false, 8000},
      {"PC formatter 2 MB", 2048, 8, 17, 2032, 2001, false, 2014},
  };
  testutil::TempDir dir(testutil::FastTempBase());
  for (const Formatter& f : rows) {
    const std::string raw = dir.File("card.mcd"), ecc = dir.File("card.ps2"), back = dir.File("back.mcd");
    for (const std::string& p : {raw, ecc, back}) std::filesystem::remove(p);
    testutil::WriteFile(raw, BlankCard(f));
    card::OpenedCard opened = card::OpenCard(raw);
    ASSERT_TRUE(opened.card) << f.name << ": " << card::messages::OpenFailure(opened);
    EXPECT_TRUE(opened.card->Check().empty()) << f.name << ": " << card::messages::IssueLine(opened.card->Check()[0]);
    EXPECT_EQ(opened.card->List().freeKB, f.freeKB) << f.name;
    // A save goes on and comes back, and nothing is allocated past the console's limit.
    const card::ImportOutcome out = opened.card->Import(*testutil::MakeSave(dir, {"BASLUS-20946A", 300 * 1024, 3}));
    ASSERT_EQ(out.result, card::ImportResult::kImported) << f.name << ": " << card::messages::ImportMessage(out);
    EXPECT_TRUE(opened.card->Check().empty()) << f.name;
    EXPECT_EQ(opened.card->List().freeKB, f.freeKB - 303) << f.name;  // data, directory, the root's 2nd cluster
    // With ECC and back, page for page.
    ASSERT_EQ(card::ConvertImage(raw, ecc, true), card::ConvertResult::kConverted) << f.name;
    EXPECT_EQ(std::filesystem::file_size(ecc), std::uint64_t{f.clusters} * 2 * 528) << f.name;
    ASSERT_TRUE(card::OpenCard(ecc).card) << f.name;
    EXPECT_TRUE(card::OpenCard(ecc).card->Check().empty()) << f.name;
    ASSERT_EQ(card::ConvertImage(ecc, back, false), card::ConvertResult::kConverted) << f.name;
    EXPECT_TRUE(testutil::ReadFile(back) == testutil::ReadFile(raw)) << f.name;
  }
}

TEST(CardLayouts, EveryFormatSizeConvertsBothWays) {
  testutil::TempDir dir(testutil::FastTempBase());
  for (unsigned mb : card::kFormatSizes) {
    const std::string ecc = dir.File(std::to_string(mb) + ".ps2"), raw = dir.File(std::to_string(mb) + ".bin"),
                      back = dir.File(std::to_string(mb) + "-back.ps2");
    testutil::CardFile::Format(ecc, true, mb);
    ASSERT_EQ(card::OpenCard(ecc).card->Import(*testutil::MakeSave(dir, {"BASLUS-20946A", 200 * 1024, mb})).result,
              card::ImportResult::kImported);
    ASSERT_EQ(card::ConvertImage(ecc, raw, false), card::ConvertResult::kConverted) << mb;
    EXPECT_EQ(std::filesystem::file_size(raw), std::uint64_t{mb} << 20) << mb;
    EXPECT_EQ(testutil::FoldersOn(raw), std::vector<std::string>{"BASLUS-20946A"}) << mb;
    EXPECT_TRUE(card::OpenCard(raw).card->Check().empty()) << mb;
    // Back with ECC the card reads the same; its erased pages carry no code, where the
    // console's blocks it programmed did, so the raw forms are what compare.
    ASSERT_EQ(card::ConvertImage(raw, back, true), card::ConvertResult::kConverted) << mb;
    EXPECT_TRUE(card::OpenCard(back).card->Check().empty()) << mb;
    const std::string again = dir.File("again.bin");
    ASSERT_EQ(card::ConvertImage(back, again, false), card::ConvertResult::kConverted) << mb;
    EXPECT_TRUE(testutil::ReadFile(again) == testutil::ReadFile(raw)) << mb;
    for (const std::string& p : {ecc, raw, back, again}) std::filesystem::remove(p);
  }
}

TEST(CardLayouts, TheDevicesBlankCardFromTheCorpus) {
  REQUIRE_CORPUS(blank, "card/c-raw-blank.mcd");
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string path = dir.File("SLUS-20946-1.mcd");
  std::filesystem::copy_file(blank, path);
  card::OpenedCard opened = card::OpenCard(path);
  ASSERT_TRUE(opened.card) << card::messages::OpenFailure(opened);
  EXPECT_EQ(opened.card->type(), card::CardType::kRawImage);
  EXPECT_TRUE(opened.card->Check().empty());
  EXPECT_EQ(opened.card->List().freeKB, 8000u);
  ASSERT_EQ(opened.card->Import(*testutil::MakeSave(dir, {"BASLUS-20946A", 5000, 1})).result, card::ImportResult::kImported);
  EXPECT_TRUE(opened.card->Check().empty());
  // Its superblock is left as the device wrote it.
  const Bytes after = testutil::ReadFile(path), original = testutil::ReadFile(blank);
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + 512, original.begin()));
}

}  // namespace
