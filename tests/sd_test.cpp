// The SD cards of memory-card emulators: game IDs, the small text files, searching, the
// cards each device takes, finding cards in every layout, and split and merge on trees
// built here (and on the corpus card).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "card/card.h"
#include "card/card_messages.h"
#include "formats/registry.h"
#include "io/file.h"
#include "io/fs_path.h"
#include "model/entry_data.h"
#include "sd/find_cards.h"
#include "sd/game_id.h"
#include "sd/ini.h"
#include "sd/merge.h"
#include "sd/messages.h"
#include "sd/places.h"
#include "sd/saves.h"
#include "sd/search.h"
#include "sd/split.h"
#include "sd/survey.h"
#include "support/card_builder.h"
#include "support/sd_tree.h"

namespace {

namespace fs = std::filesystem;
using testutil::Bytes;
using testutil::MakeTime;
using testutil::PutCard;
using testutil::SaveRecipe;

constexpr std::uint64_t kMiB = 1048576;
constexpr std::uint64_t kEccMiB = 1081344;

std::string Join(const std::string& root, const std::string& relative) { return io::JoinPath(root, relative); }

void Touch(const std::string& path, std::size_t bytes = 10) {
  fs::create_directories(io::ToFsPath(path).parent_path());
  testutil::WriteFile(path, Bytes(bytes, 0x55));
}

std::vector<std::string> SplitLines(const sd::SplitReport& r) {
  std::vector<std::string> lines;
  for (const sd::SplitLine& l : r.lines) lines.push_back(sd::messages::SplitLineText(l));
  return lines;
}

std::vector<std::string> MergeLines(const sd::MergeReport& r) {
  std::vector<std::string> lines;
  for (const sd::MergeLine& l : r.lines) lines.push_back(sd::messages::MergeLineText(l));
  return lines;
}

// Each save's files on a card, by folder name: the save compared file for file.
std::map<std::string, std::map<std::string, Bytes>> SavesOn(const std::string& path) {
  std::map<std::string, std::map<std::string, Bytes>> saves;
  card::OpenedCard opened = card::OpenCard(path);
  if (!opened.card) return saves;
  for (const card::SaveInfo& s : opened.card->List().saves) {
    std::unique_ptr<CSaveGame> save = opened.card->OpenSave(s.folder).save;
    auto& files = saves[s.folder];
    for (int i = 0; save && i < save->FileCount(); ++i)
      EXPECT_EQ(ReadEntryData(*save->EntryAt(i), save->container.get(), files[std::string(save->EntryAt(i)->Name())]), DataResult::kOk);
  }
  return saves;
}

// ---- names ----------------------------------------------------------------------------------

TEST(SdGameId, StartupFilesDeviceFoldersAndSaveFolders) {
  struct Row {
    std::string text, deviceId, startup;
  };
  const Row rows[] = {
      {"SLUS_209.46", "SLUS-20946", "SLUS_209.46"},
      {"cdrom0:\\SLUS_209.46;1", "SLUS-20946", "SLUS_209.46"},
      {"host:/games/SCES_505.01", "SCES-50501", "SCES_505.01"},
      {"SLUS-20946", "SLUS-20946", "SLUS_209.46"},
      {"PBPX_955.03", "PBPX-95503", "PBPX_955.03"},
      {"BOOT", "BOOT", ""},
      {"SLUS_2094", "SLUS-2094", ""},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(sd::DeviceId(r.text), r.deviceId) << r.text;
    EXPECT_EQ(sd::StartupFile(sd::DeviceId(r.text)), r.startup) << r.text;
  }

  struct Folder {
    std::string folder, code;
    sd::SaveKind kind;
  };
  const Folder folders[] = {
      {"BASLUS-20946SAVE", "SLUS-20946", sd::SaveKind::kGame},
      {"BESCES-50501REZ", "SCES-50501", sd::SaveKind::kGame},
      {"BISCAJ-20146nico", "SCAJ-20146", sd::SaveKind::kGame},
      {"BKSLKA-25001", "SLKA-25001", sd::SaveKind::kGame},
      {"BEPBPX-95503", "PBPX-95503", sd::SaveKind::kGame},
      {"BASLUSP00958GS", "SLUS-00958", sd::SaveKind::kGame},  // PS1 cards write P for -
      {"BADATA-SYSTEM", "", sd::SaveKind::kSystem},
      {"BIDATA-SYSTEM", "", sd::SaveKind::kSystem},
      {"BWNETCNF", "", sd::SaveKind::kSystem},
      {"BEEXEC-SYSTEM", "", sd::SaveKind::kUnsorted},
      {"BADATA-SYSTEMX", "", sd::SaveKind::kUnsorted},
      {"BXSLUS-20946", "", sd::SaveKind::kUnsorted},  // no such region
      {"baslus-20946", "", sd::SaveKind::kUnsorted},
      {"BASLUS-2094X", "", sd::SaveKind::kUnsorted},
      {"BASLUS-2094", "", sd::SaveKind::kUnsorted},
      {"OPL", "", sd::SaveKind::kUnsorted},
  };
  for (const Folder& f : folders) {
    EXPECT_EQ(sd::ProductCodeOf(f.folder), f.code) << f.folder;
    EXPECT_EQ(sd::KindOf(f.folder), f.kind) << f.folder;
  }
}

TEST(SdSearch, CaseAndWidthDoNotMatter) {
  struct Row {
    std::string text, needle;
    bool found;
  };
  const Row rows[] = {
      {"\xEF\xBC\xB3\xEF\xBD\x89\xEF\xBD\x92\xEF\xBD\x85\xEF\xBD\x8E", "siren", true},  // Ｓｉｒｅｎ
      {"Siren", "\xEF\xBC\xB3\xEF\xBC\xA9\xEF\xBC\xB2", true},                          // ＳＩＲ
      {"Kingdom Hearts", "HEARTS", true},
      {"Kingdom\xE3\x80\x80Hearts", "kingdom hearts", true},                         // ideographic space
      {"\xE3\x82\xAC\xE3\x83\xB3\xE3\x83\x80\xE3\x83\xA0", "\xEF\xBD\xB6\xEF\xBE\x9E\xEF\xBE\x9D\xEF\xBE\x80\xEF\xBE\x9E\xEF\xBE\x91", true},  // ガンダム / ｶﾞﾝﾀﾞﾑ
      {"\xE3\x83\x91\xE3\x83\x83\xE3\x82\xAF", "\xEF\xBE\x8A\xEF\xBE\x9F\xEF\xBD\xAF\xEF\xBD\xB8", true},  // パック / ﾊﾟｯｸ
      {"\xE3\x83\xB4", "\xEF\xBD\xB3\xEF\xBE\x9E", true},                                    // ヴ / ｳﾞ
      {"\xE3\x82\xAB", "\xEF\xBD\xB6\xEF\xBE\x9E", false},                                   // カ is not ｶﾞ
      {"\xE3\x83\x8F", "\xEF\xBE\x8A\xEF\xBE\x9F", false},                                   // ハ is not ﾊﾟ
      {"Siren", "sirens", false},
      {"BASLUS-20946", "slus-20946", true},
      {"BASLUS-20946", "SLUS_209", false},
      {"\xFF\xFE bytes", "\xFF\xFE", true},  // not UTF-8: compared as bytes
  };
  for (const Row& r : rows) EXPECT_EQ(sd::SearchMatches(r.text, r.needle), r.found) << r.text << " / " << r.needle;
}

TEST(SdIni, GameFoldersAndChannelSettings) {
  const sd::GameFolders folders = sd::GameFolders::Parse(
      "; shared cards\r\n[PS2]\r\nSLUS-20946 = Kingdom Hearts \xC3\xBC\r\nslus-21005=KH\r\n"
      "SLES-82036=../escape\r\nSLES-82037=" + std::string(32, 'x') + "\r\nSLES-82038=a/b\r\n" +
      std::string("SLES-82039=..\0\r\nSLES-82040=Tab\tin\r\n", 35) + "[PS1]\nSCUS-94163=FF7\n");
  struct Row {
    bool ps1;
    std::string id, folder;
  };
  const Row rows[] = {
      {false, "SLUS-20946", "Kingdom Hearts \xC3\xBC"},
      {false, "SLUS-21005", "KH"},          // the key's case is the device's
      {false, "SLES-82036", "SLES-82036"},  // a value leaving the folder is not taken
      {false, "SLES-82037", "SLES-82037"},  // nor one of more than 31 characters
      {false, "SLES-82038", "SLES-82038"},
      {false, "SLES-82039", "SLES-82039"},  // nor one the system would end at its NUL: ".."
      {false, "SLES-82040", "SLES-82040"},  // nor one with a control character, which FAT refuses
      {false, "SCUS-94163", "SCUS-94163"},  // the PS1 section is the PS1 cards'
      {true, "SCUS-94163", "FF7"},
      {true, "SLUS-20946", "SLUS-20946"},
  };
  for (const Row& r : rows) EXPECT_EQ(folders.FolderFor(r.ps1, r.id), r.folder) << r.id;

  const sd::ChannelSettings s = sd::ParseChannelSettings("[ChannelName]\n1=Main\n2 = Second try\n9=No\n[Settings]\nMaxChannels=4\n");
  EXPECT_EQ(s.names, (std::map<int, std::string>{{1, "Main"}, {2, "Second try"}}));
  EXPECT_EQ(s.maxChannels, 4);
  EXPECT_EQ(sd::ParseChannelSettings("[Settings]\nMaxChannels=0\n").maxChannels, 8);
}

TEST(SdIni, VmcLinesKeepEveryOtherLine) {
  struct Row {
    std::optional<std::string> before;
    int slot;
    sd::CfgChange change;
    std::string after;  // the new text, or the card named there
  };
  const Row rows[] = {
      {std::nullopt, 0, sd::CfgChange::kCreated, "$VMC_0=SLUS_209.46_0\n"},
      {"Title=KH2\r\n$Compatibility=5\r\n", 0, sd::CfgChange::kAdded, "Title=KH2\r\n$Compatibility=5\r\n$VMC_0=SLUS_209.46_0\r\n"},
      {"Title=KH2", 0, sd::CfgChange::kAdded, "Title=KH2\n$VMC_0=SLUS_209.46_0\n"},
      {"$VMC_0=SLUS_209.46_0\n", 1, sd::CfgChange::kAdded, "$VMC_0=SLUS_209.46_0\n$VMC_1=SLUS_209.46_1\n"},
      {"A=1\n$VMC_0=\nB=2\n", 0, sd::CfgChange::kAdded, "A=1\n$VMC_0=SLUS_209.46_0\nB=2\n"},
      {"A=1\n$VMC_0=SLUS_209.46_0\r\n", 0, sd::CfgChange::kAlreadySet, ""},
      {"$VMC_0=Mine\n", 0, sd::CfgChange::kNamesOther, "Mine"},
  };
  for (const Row& r : rows) {
    const sd::CfgEdit edit = sd::SetVmcLine(r.before, r.slot, sd::OplCardName("SLUS_209.46", r.slot));
    EXPECT_EQ(edit.change, r.change) << r.before.value_or("(none)");
    EXPECT_EQ(r.change == sd::CfgChange::kNamesOther ? edit.existing : edit.text, r.after) << r.before.value_or("(none)");
  }
}

TEST(SdPlaces, WhatEachDeviceTakes) {
  struct Row {
    sd::Layout layout;
    sd::Console console;
    std::uint64_t bytes;
    bool taken;
  };
  const Row rows[] = {
      {sd::Layout::kSd2psx, sd::Console::kPs2, 8 * kMiB, true},
      {sd::Layout::kSd2psx, sd::Console::kPs2, kMiB / 2, true},
      {sd::Layout::kSd2psx, sd::Console::kPs2, kMiB, true},
      {sd::Layout::kSd2psx, sd::Console::kPs2, 64 * kMiB, true},
      {sd::Layout::kSd2psx, sd::Console::kPs2, 8 * kEccMiB, false},
      {sd::Layout::kSd2psx, sd::Console::kPs2, kEccMiB, false},
      {sd::Layout::kSd2psx, sd::Console::kPs2, 3 * kMiB, false},
      {sd::Layout::kSd2psx, sd::Console::kPs2, 128 * kMiB, false},
      {sd::Layout::kSd2psx, sd::Console::kPs1, 131072, true},
      {sd::Layout::kSd2psx, sd::Console::kPs1, 8 * kMiB, false},
      {sd::Layout::kMemcardPro2, sd::Console::kPs2, 8 * kMiB, true},
      {sd::Layout::kMemcardPro2, sd::Console::kPs2, 8 * kEccMiB, false},
      {sd::Layout::kMemcardPro, sd::Console::kPs1, 131072, true},
      {sd::Layout::kMemcardPro, sd::Console::kPs1, 131073, false},
      {sd::Layout::kOpl, sd::Console::kPs2, 8 * kMiB, true},
      {sd::Layout::kOpl, sd::Console::kPs2, 64 * kMiB, true},
      {sd::Layout::kOpl, sd::Console::kPs2, 4 * kMiB, false},
      {sd::Layout::kOpl, sd::Console::kPs2, 16 * kEccMiB, false},
      {sd::Layout::kPcsx2, sd::Console::kPs2, 8 * kEccMiB, true},
  };
  for (const Row& r : rows)
    EXPECT_EQ(sd::Refusal(r.layout, r.console, r.bytes).empty(), r.taken)
        << sd::LayoutName(r.layout) << " " << r.bytes << ": " << sd::Refusal(r.layout, r.console, r.bytes);
}

// ---- finding cards ----------------------------------------------------------------------------

TEST(SdFind, EveryLayoutOfASampleTree) {
  testutil::TempDir dir;
  const std::string root = dir.File("sd card");
  const std::string ps2 = "MemoryCards/PS2/";
  for (const char* name : {"SLUS-20946/SLUS-20946-1.mcd", "SLUS-20946/SLUS-20946-2.mcd", "SLUS-20946/SLUS-20946.bin",
                           "SLUS-20946/SLUS-20946-1.bin", "BOOT/BootCard.mcd", "BOOT/BootCard-3.mcd", "Card1/Card1-1.mcd",
                           "My Cards \xC3\xBC/My Cards \xC3\xBC-2.mcd", "Stray/notes.txt"})
    Touch(Join(root, ps2 + name));
  testutil::WriteFile(Join(root, ps2 + "SLUS-20946/SLUS-20946.ini"), testutil::FromString("[ChannelName]\n2=Second\n"));
  Touch(Join(root, "MemoryCards/PS1/SCUS-94163/SCUS-94163-1.mcd"), 131072);
  Touch(Join(root, "MemoryCards/PROT/Arcade/Arcade-1.mcd"));
  Touch(Join(root, ".sd2psx/settings.mcd"));
  Touch(Join(root, "PS2/SLUS-21005/SLUS-21005-1.mc2"));
  Touch(Join(root, "MemoryCard1/MemoryCard1-8.mc2"));
  Touch(Join(root, "PS1/SLES-00001/SLES-00001-1.mcd"), 131072);
  Touch(Join(root, "VMC/SLUS_209.46_0.bin"));
  Touch(Join(root, "ART/SLUS_209.46_COV.bin"));
  Touch(Join(root, "memcards/Mcd001.ps2"));
  Touch(Join(root, "memcards/Mcd002.ps2/_pcsx2_superblock"));
  Touch(Join(root, "memcards/Mcd002.ps2/BESLES-00000/DATA"));

  struct Row {
    std::string relative;
    sd::Layout layout;
    sd::Console console;
    std::string folder;
    int channel;
    std::string channelName;
  };
  const std::vector<Row> expected = {
      {"MemoryCard1/MemoryCard1-8.mc2", sd::Layout::kMemcardPro2, sd::Console::kPs2, "MemoryCard1", 8, ""},
      {"MemoryCards/PROT/Arcade/Arcade-1.mcd", sd::Layout::kSd2psx, sd::Console::kPs2, "Arcade", 1, ""},
      {"MemoryCards/PS1/SCUS-94163/SCUS-94163-1.mcd", sd::Layout::kSd2psx, sd::Console::kPs1, "SCUS-94163", 1, ""},
      {"MemoryCards/PS2/BOOT/BootCard-3.mcd", sd::Layout::kSd2psx, sd::Console::kPs2, "BOOT", 3, ""},
      {"MemoryCards/PS2/BOOT/BootCard.mcd", sd::Layout::kSd2psx, sd::Console::kPs2, "BOOT", 1, ""},
      {"MemoryCards/PS2/Card1/Card1-1.mcd", sd::Layout::kSd2psx, sd::Console::kPs2, "Card1", 1, ""},
      {"MemoryCards/PS2/My Cards \xC3\xBC/My Cards \xC3\xBC-2.mcd", sd::Layout::kSd2psx, sd::Console::kPs2, "My Cards \xC3\xBC", 2, ""},
      {"MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd", sd::Layout::kSd2psx, sd::Console::kPs2, "SLUS-20946", 1, ""},
      {"MemoryCards/PS2/SLUS-20946/SLUS-20946-2.mcd", sd::Layout::kSd2psx, sd::Console::kPs2, "SLUS-20946", 2, "Second"},
      {"PS1/SLES-00001/SLES-00001-1.mcd", sd::Layout::kMemcardPro, sd::Console::kPs1, "SLES-00001", 1, ""},
      {"PS2/SLUS-21005/SLUS-21005-1.mc2", sd::Layout::kMemcardPro2, sd::Console::kPs2, "SLUS-21005", 1, ""},
      {"VMC/SLUS_209.46_0.bin", sd::Layout::kOpl, sd::Console::kPs2, "SLUS_209.46_0", 0, ""},
      {"memcards/Mcd001.ps2", sd::Layout::kPcsx2, sd::Console::kPs2, "Mcd001.ps2", 0, ""},
      {"memcards/Mcd002.ps2", sd::Layout::kPcsx2, sd::Console::kPs2, "Mcd002.ps2", 0, ""},
  };
  const sd::FoundCards found = sd::FindCards(root);
  ASSERT_EQ(found.cards.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const sd::FoundCard& c = found.cards[i];
    const Row& r = expected[i];
    EXPECT_EQ(c.relative, r.relative);
    EXPECT_EQ(c.layout, r.layout) << r.relative;
    EXPECT_EQ(c.console, r.console) << r.relative;
    EXPECT_EQ(c.folder, r.folder) << r.relative;
    EXPECT_EQ(c.channel, r.channel) << r.relative;
    EXPECT_EQ(c.channelName, r.channelName) << r.relative;
    EXPECT_TRUE(io::Exists(c.path)) << c.path;
  }
}

// ---- reading only what a listing uses ---------------------------------------------------------

// sd ls, sd find and card ls read of each card its superblock, its FAT, the pages of its
// directories' entries and the head of each icon.sys, and nothing else: no page twice, no
// erase block around a page, no save's data. The io layer counts the bytes asked for.
TEST(SdListing, ReadsOnlyThePagesItUses) {
  testutil::TempDir dir;
  struct Row {
    const char* why;
    bool ecc;
    int saves;
    int files;       // icon.sys and files - 1 more of 2,000 bytes
    bool within64;   // the whole listing within 64 KiB
  };
  const Row rows[] = {
      {"one save, as sd split makes the cards", false, 1, 3, true},
      {"one save, with ECC", true, 1, 3, true},
      {"six saves of three files, with ECC", true, 6, 3, true},
      {"ten saves of one file", false, 10, 1, true},
      {"ten saves of three files, with ECC", true, 10, 3, false},
  };
  testutil::WriteFile(dir.File("icon.sys"), testutil::MakeIconSys("LISTED"));
  testutil::WriteFile(dir.File("file"), testutil::MakeBytes(2000, 5));
  for (const Row& r : rows) {
    const std::string root = dir.File(std::string("sd-") + r.why);
    const std::string path = PutCard(dir, root, "MemoryCards/PS2/SLES-50000/SLES-50000-1.mcd", {}, r.ecc);
    {
      std::unique_ptr<card::Card> c = card::OpenCard(path).card;
      ASSERT_TRUE(c) << r.why;
      for (int k = 0; k < r.saves; ++k) {
        CGeneric s;
        s.AddEntryFromDisk(dir.File("icon.sys"), "icon.sys");
        for (int f = 1; f < r.files; ++f) s.AddEntryFromDisk(dir.File("file"), "FILE" + std::to_string(f));
        s.SetName(-1, "BESLES-5000" + std::to_string(k) + "GAME");
        ASSERT_EQ(c->Import(s).result, card::ImportResult::kImported) << r.why;
      }
    }
    // What the listing needs: the 4 KiB a file is told apart by, the superblock's head and
    // page, the first page of the indirect FAT, the FAT (32 clusters on an 8 MB card), one
    // page per entry of the root and of each save, backup block 2's first word, and the
    // title's 256 bytes of each icon.sys, for the short title and the full one.
    const std::uint64_t page = r.ecc ? 528 : 512;
    const std::uint64_t entries = 2 + static_cast<std::uint64_t>(r.saves) * (1 + 2 + r.files);
    const std::uint64_t needed = 4096 + 52 + page * (1 + 1 + 64 + entries) + 4 + static_cast<std::uint64_t>(r.saves) * 2 * 256;
    const auto asked = [](const auto& list) {
      const std::uint64_t before = io::BytesAsked();
      list();
      return io::BytesAsked() - before;
    };
    const std::uint64_t ls = asked([&] {
      const sd::Survey survey = sd::SurveyCards(root);
      ASSERT_EQ(survey.cards.size(), 1u);
      EXPECT_EQ(survey.cards[0].saves, r.saves) << r.why;
    });
    const std::uint64_t find = asked([&] { EXPECT_EQ(sd::FindSaves(root, "LISTED").saves.size(), static_cast<std::size_t>(r.saves)) << r.why; });
    const std::uint64_t cardLs = asked([&] {
      const card::Listing listing = card::OpenCard(path).card->List();
      ASSERT_EQ(listing.saves.size(), static_cast<std::size_t>(r.saves));
      EXPECT_EQ(listing.saves.back().title, "LISTED") << r.why;
    });
    for (const std::uint64_t n : {ls, find, cardLs}) {
      EXPECT_LE(n, needed) << r.why;
      if (r.within64) {
        EXPECT_LE(n, 64u * 1024) << r.why;
      }
    }
  }
}

// ---- split and merge --------------------------------------------------------------------------

sd::SplitOptions Layout(sd::Layout device, sd::SystemFolders system = sd::SystemFolders::kCopy) {
  sd::SplitOptions o;
  o.device = device;
  o.system = system;
  o.now = MakeTime(2024, 5, 6, 7, 8, 9);
  return o;
}

struct LayoutCase {
  sd::Layout device;
  std::string rezCard;      // where BESCES-50501REZ goes
  std::string unsortedCard;
  std::string cfg;          // Open PS2 Loader's CFG of that game
};

class SdSplitMerge : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(SdSplitMerge, TheCorpusCardSplitsByGameAndMergesBackWhole) {
  REQUIRE_CORPUS(corpusCard, "card/a.ps2");
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string source = dir.File("Mcd001.ps2");
  fs::copy_file(io::ToFsPath(corpusCard), io::ToFsPath(source));
  {
    card::OpenedCard c = card::OpenCard(source);
    ASSERT_TRUE(c.card);
    for (const char* name : {"psu/d.psu", "psu/e.PSU", "psu/f.psu", "max/b.max", "max/c.max", "cbs/h.cbs"}) {
      const std::string path = testutil::CorpusPath(name);
      std::unique_ptr<CSaveGame> save = CreateForExtension(io::ExtensionOf(path));
      ASSERT_TRUE(save && save->Load(path) == LoadResult::kOk) << name;
      const card::ImportOutcome out = c.card->Import(*save);
      ASSERT_EQ(out.result, card::ImportResult::kImported) << card::messages::ImportMessage(out);
    }
  }
  const Bytes before = testutil::ReadFile(source);
  const auto expected = SavesOn(source);
  ASSERT_EQ(expected.size(), 8u);

  const std::string root = dir.File("sd");
  fs::create_directories(io::ToFsPath(root));
  const LayoutCase& lc = GetParam();
  const sd::SplitReport split = sd::SplitCardFile(source, root, Layout(lc.device));
  EXPECT_TRUE(split.Complete()) << ::testing::PrintToString(SplitLines(split));
  EXPECT_EQ(testutil::ReadFile(source), before);  // the source is only read

  // The game's card holds its save and the browser's data; the homebrew went to UNSORTED.
  EXPECT_EQ(testutil::FoldersOn(Join(root, lc.rezCard)), (std::vector<std::string>{"BESCES-50501REZ", "BEDATA-SYSTEM"}));
  EXPECT_EQ(testutil::FoldersOn(Join(root, lc.unsortedCard)), (std::vector<std::string>{"BCEXEC-SYSTEM", "SYS-CONF"}));
  if (!lc.cfg.empty()) {
    EXPECT_EQ(testutil::ReadFile(Join(root, lc.cfg)), testutil::FromString("$VMC_0=SCES_505.01_0\n"));
  }
  // Every card made is one the device takes, undamaged.
  const sd::Survey survey = sd::SurveyCards(root);
  EXPECT_EQ(survey.cards.size(), 6u);
  for (const sd::CardSurvey& s : survey.cards) {
    EXPECT_TRUE(s.opened && !s.damaged && s.refusal.empty() && !s.ecc && s.megabytes == 8) << s.place.relative;
    EXPECT_EQ(s.place.layout, sd::LayoutFor(lc.device, sd::Console::kPs2)) << s.place.relative;
  }

  // Merged back, every save is there with the same files; the copies of the browser's
  // data are one and the same, so no collision is reported.
  const std::string merged = dir.File("merged.ps2");
  const sd::MergeReport merge = sd::MergeIntoFile(root, merged, {});
  EXPECT_TRUE(merge.Complete()) << ::testing::PrintToString(MergeLines(merge));
  EXPECT_EQ(merge.cards, 6);
  for (const sd::MergeLine& l : merge.lines) EXPECT_NE(l.event, sd::MergeEvent::kNotTaken) << sd::messages::MergeLineText(l);
  EXPECT_EQ(SavesOn(merged), expected);
  EXPECT_EQ(card::OpenCard(merged).card->type(), card::CardType::kImageWithEcc);
  // Into a new PS2 Classics card: made encrypted, as its name says.
  const std::string vme = dir.File("merged.vme");
  EXPECT_TRUE(sd::MergeIntoFile(root, vme, {}).Complete());
  EXPECT_EQ(SavesOn(vme), expected);
  EXPECT_EQ(card::OpenCard(vme).card->type(), card::CardType::kPs3Vme);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SdSplitMerge,
    ::testing::Values(LayoutCase{sd::Layout::kSd2psx, "MemoryCards/PS2/SCES-50501/SCES-50501-1.mcd",
                                 "MemoryCards/PS2/UNSORTED/UNSORTED-1.mcd", ""},
                      LayoutCase{sd::Layout::kMemcardPro2, "SCES-50501/SCES-50501-1.mc2", "UNSORTED/UNSORTED-1.mc2", ""},
                      LayoutCase{sd::Layout::kOpl, "VMC/SCES_505.01_0.bin", "VMC/UNSORTED_0.bin", "CFG/SCES_505.01.cfg"}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) {
      return std::string(info.param.device == sd::Layout::kOpl ? "opl" : info.param.device == sd::Layout::kSd2psx ? "sd2psx" : "mcp2");
    });

TEST(SdSplit, AFullOrForeignChannelSendsTheSaveToTheNext) {
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string root = dir.File("sd");
  const std::string game = "MemoryCards/PS2/SLUS-20946/SLUS-20946-";
  // Channel 1 has 20 KB left; SLES-50000's channel 1 has ECC, channel 2 is not a card.
  PutCard(dir, root, game + "1.mcd", {{"BASLUS-20946BIG", 7960 * 1024, 1}});
  const std::string ecc = PutCard(dir, root, "MemoryCards/PS2/SLES-50000/SLES-50000-1.mcd", {}, /*ecc=*/true);
  const std::string junk = Join(root, "MemoryCards/PS2/SLES-50000/SLES-50000-2.mcd");
  Touch(junk, 8 * kMiB);
  const Bytes eccBytes = testutil::ReadFile(ecc), junkBytes = testutil::ReadFile(junk);

  const std::string source = PutCard(dir, dir.path().string(), "source.mcd",
                                     {{"BASLUS-20946A", 5000, 2}, {"BASLUS-20946B", 40000, 3}, {"BESLES-50000X", 100, 4}});
  const sd::SplitReport r = sd::SplitCardFile(source, root, Layout(sd::Layout::kSd2psx));
  EXPECT_EQ(SplitLines(r), (std::vector<std::string>{
                               "BASLUS-20946A -> MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd",
                               "BASLUS-20946B -> MemoryCards/PS2/SLUS-20946/SLUS-20946-2.mcd (new card)",
                               "MemoryCards/PS2/SLES-50000/SLES-50000-1.mcd: left untouched: it has ECC, which sd2psx refuses",
                               "MemoryCards/PS2/SLES-50000/SLES-50000-2.mcd: left untouched: not a card: not a PS2 memory card image",
                               "BESLES-50000X -> MemoryCards/PS2/SLES-50000/SLES-50000-3.mcd (new card)",
                           }));
  EXPECT_TRUE(r.Complete());
  EXPECT_EQ(testutil::ReadFile(ecc), eccBytes);
  EXPECT_EQ(testutil::ReadFile(junk), junkBytes);
  EXPECT_EQ(testutil::FoldersOn(Join(root, game + "1.mcd")), (std::vector<std::string>{"BASLUS-20946BIG", "BASLUS-20946A"}));

  // Again: each save is found where it went, and nothing is written twice.
  const sd::SplitReport again = sd::SplitCardFile(source, root, Layout(sd::Layout::kSd2psx));
  EXPECT_TRUE(again.Complete());
  int already = 0;
  for (const sd::SplitLine& l : again.lines) already += l.event == sd::SplitEvent::kAlreadyThere;
  EXPECT_EQ(already, 3);
  EXPECT_FALSE(io::Exists(Join(root, game + "3.mcd")));
}

TEST(SdSplit, ChannelsRunOutAndASaveTooBigForAnyCardIsSkipped) {
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string root = dir.File("sd");
  const std::string folder = "MemoryCards/PS2/SLUS-20946/";
  // The folder allows two channels; both hold another save of the same name.
  PutCard(dir, root, folder + "SLUS-20946-1.mcd", {{"BASLUS-20946A", 100, 7}});
  PutCard(dir, root, folder + "SLUS-20946-2.mcd", {{"BASLUS-20946A", 200, 8}});
  testutil::WriteFile(Join(root, folder + "SLUS-20946.ini"), testutil::FromString("[Settings]\nMaxChannels=2\n"));
  const std::string source = PutCard(dir, dir.path().string(), "source.mcd", {{"BASLUS-20946A", 300, 9}});
  testutil::WriteFile(dir.File("huge"), testutil::MakeBytes(8100 * 1024, 1));
  CGeneric huge;
  huge.AddEntryFromDisk(dir.File("huge"), "DATA");
  huge.SetName(-1, "BASLUS-21005HUGE");

  sd::SplitReport r = sd::SplitCardFile(source, root, Layout(sd::Layout::kSd2psx));
  EXPECT_FALSE(r.Complete());
  EXPECT_EQ(SplitLines(r), (std::vector<std::string>{"skipped: BASLUS-20946A: every channel of SLUS-20946 (1-2) is full, "
                                                     "holds another save of that name, or is in the way"}));
  // A card that would only be made for a save that can't fit is not left behind.
  const std::string bigSource = dir.File("big.ps2");
  card::FormatOptions sixteen;
  sixteen.megabytes = 16;
  ASSERT_EQ(card::FormatImage(bigSource, sixteen), card::FormatResult::kFormatted);
  ASSERT_EQ(card::OpenCard(bigSource).card->Import(huge).result, card::ImportResult::kImported);
  r = sd::SplitCardFile(bigSource, root, Layout(sd::Layout::kSd2psx));
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0].event, sd::SplitEvent::kSkipped);
  EXPECT_FALSE(io::Exists(Join(root, "MemoryCards/PS2/SLUS-21005/SLUS-21005-1.mcd")));
}

TEST(SdSplit, Game2FolderSystemFoldersAndLoaderSettings) {
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string source = PutCard(dir, dir.path().string(), "source.ps2",
                                     {{"BADATA-SYSTEM", 300, 1}, {"BWNETCNF", 200, 2}, {"BASLUS-20946A", 100, 3},
                                      {"BASLUS-21005B", 100, 4}, {"BOOT", 100, 5}},
                                     /*ecc=*/true);
  // sd2psx: two games share a user-named folder; the system folders are left out.
  const std::string sd2psx = dir.File("sd2psx");
  fs::create_directories(io::ToFsPath(Join(sd2psx, ".sd2psx")));
  testutil::WriteFile(Join(sd2psx, ".sd2psx/Game2Folder.ini"),
                      testutil::FromString("[PS2]\nSLUS-20946=Kingdom Hearts \xC3\xBC\nSLUS-21005=Kingdom Hearts \xC3\xBC\n"));
  sd::SplitReport r = sd::SplitCardFile(source, sd2psx, Layout(sd::Layout::kSd2psx, sd::SystemFolders::kSkip));
  EXPECT_TRUE(r.Complete());
  const std::string kh = "MemoryCards/PS2/Kingdom Hearts \xC3\xBC/Kingdom Hearts \xC3\xBC-1.mcd";
  EXPECT_EQ(testutil::FoldersOn(Join(sd2psx, kh)), (std::vector<std::string>{"BASLUS-20946A", "BASLUS-21005B"}));
  EXPECT_EQ(testutil::FoldersOn(Join(sd2psx, "MemoryCards/PS2/UNSORTED/UNSORTED-1.mcd")), (std::vector<std::string>{"BOOT"}));
  EXPECT_EQ(SplitLines(r).front(), "BADATA-SYSTEM: a system folder, left out as asked");
  // And merged back from that folder by either spelling of one of its games.
  for (const std::string game : {"SLUS_209.46", "SLUS-21005"}) {
    sd::MergeOptions only;
    only.game = game;
    const std::string out = dir.File("kh-" + game + ".bin");
    EXPECT_TRUE(sd::MergeIntoFile(sd2psx, out, only).Complete());
    EXPECT_EQ(testutil::FoldersOn(out), (std::vector<std::string>{"BASLUS-20946A", "BASLUS-21005B"})) << game;
  }

  // Open PS2 Loader: the system folders go to each game's card; a CFG naming another
  // card is left as it is, one without the line gets it after its own lines.
  const std::string opl = dir.File("opl");
  fs::create_directories(io::ToFsPath(Join(opl, "CFG")));
  const Bytes mine = testutil::FromString("Title=KH\r\n$VMC_0=Mine\r\n");
  testutil::WriteFile(Join(opl, "CFG/SLUS_209.46.cfg"), mine);
  testutil::WriteFile(Join(opl, "CFG/SLUS_210.05.cfg"), testutil::FromString("Title=KH2\r\n"));
  r = sd::SplitCardFile(source, opl, Layout(sd::Layout::kOpl));
  EXPECT_TRUE(r.Complete()) << ::testing::PrintToString(SplitLines(r));
  EXPECT_EQ(testutil::ReadFile(Join(opl, "CFG/SLUS_209.46.cfg")), mine);
  EXPECT_EQ(testutil::ReadFile(Join(opl, "CFG/SLUS_210.05.cfg")), testutil::FromString("Title=KH2\r\n$VMC_0=SLUS_210.05_0\r\n"));
  EXPECT_FALSE(io::Exists(Join(opl, "CFG/UNSORTED.cfg")));
  EXPECT_EQ(testutil::FoldersOn(Join(opl, "VMC/SLUS_209.46_0.bin")),
            (std::vector<std::string>{"BASLUS-20946A", "BADATA-SYSTEM", "BWNETCNF"}));
  EXPECT_EQ(testutil::FoldersOn(Join(opl, "VMC/SLUS_210.05_0.bin")),
            (std::vector<std::string>{"BASLUS-21005B", "BADATA-SYSTEM", "BWNETCNF"}));
  const std::vector<std::string> lines = SplitLines(r);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "CFG/SLUS_209.46.cfg: names another card ($VMC_0=Mine); left as it is"), lines.end());
  EXPECT_EQ(testutil::FoldersOn(Join(opl, "VMC/UNSORTED_0.bin")), (std::vector<std::string>{"BOOT"}));
}

TEST(SdMerge, TheNewerCopyWinsAndTheOtherIsNamed) {
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string root = dir.File("sd");
  const EntryTime older = MakeTime(2020, 1, 1, 0, 0, 0), newer = MakeTime(2021, 6, 1, 0, 0, 0);
  // Card1 comes first in path order; it and channel 2 hold copies of the same age.
  PutCard(dir, root, "MemoryCards/PS2/Card1/Card1-1.mcd", {{"BASLUS-20946A", 100, 1, newer}, {"BADATA-SYSTEM", 50, 9, older}});
  PutCard(dir, root, "MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd", {{"BASLUS-20946A", 100, 2, older}, {"BADATA-SYSTEM", 50, 9, older}});
  PutCard(dir, root, "MemoryCards/PS2/SLUS-20946/SLUS-20946-2.mcd", {{"BASLUS-20946A", 100, 3, newer}, {"BADATA-SYSTEM", 60, 8, older}});
  PutCard(dir, root, "MemoryCards/PS2/SLUS-21005/SLUS-21005-1.mcd", {{"BASLUS-21005B", 100, 4, older}});
  Touch(Join(root, "MemoryCards/PS2/Broken/Broken-1.mcd"), 8 * kMiB);
  // The target holds a newer copy of one save.
  const std::string target = PutCard(dir, dir.path().string(), "target.mcd", {{"BASLUS-21005B", 100, 5, newer}});
  const auto before = testutil::ReadFile(Join(root, "MemoryCards/PS2/Card1/Card1-1.mcd"));

  const sd::MergeReport r = sd::MergeIntoFile(root, target, {});
  EXPECT_EQ(MergeLines(r), (std::vector<std::string>{
                               "MemoryCards/PS2/Broken/Broken-1.mcd: not read: not a PS2 memory card image",
                               "BASLUS-21005B: kept the copy from " + target + ", not the one on MemoryCards/PS2/SLUS-21005/SLUS-21005-1.mcd (modified 2020-01-01 00:00:00)",
                               "BASLUS-20946A: kept the copy from MemoryCards/PS2/Card1/Card1-1.mcd, not the one on MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd (modified 2020-01-01 00:00:00)",
                               "BASLUS-20946A: kept the copy from MemoryCards/PS2/Card1/Card1-1.mcd, not the one on MemoryCards/PS2/SLUS-20946/SLUS-20946-2.mcd (modified 2021-06-01 00:00:00)",
                               "BASLUS-20946A <- MemoryCards/PS2/Card1/Card1-1.mcd",
                               "BADATA-SYSTEM: kept the copy from MemoryCards/PS2/Card1/Card1-1.mcd, not the one on MemoryCards/PS2/SLUS-20946/SLUS-20946-2.mcd (modified 2020-01-01 00:00:00)",
                               "BADATA-SYSTEM <- MemoryCards/PS2/Card1/Card1-1.mcd",
                           }));
  EXPECT_FALSE(r.Complete());  // the unformatted card's saves went nowhere
  const auto saves = SavesOn(target);
  EXPECT_EQ(saves.at("BASLUS-20946A").at("DATA"), testutil::MakeBytes(100, 1));
  EXPECT_EQ(saves.at("BASLUS-21005B").at("DATA"), testutil::MakeBytes(100, 5));
  EXPECT_EQ(testutil::ReadFile(Join(root, "MemoryCards/PS2/Card1/Card1-1.mcd")), before);

  // A newer copy on the SD card replaces the target's.
  PutCard(dir, root, "MemoryCards/PS2/SLUS-21005/SLUS-21005-2.mcd", {{"BASLUS-21005B", 100, 6, MakeTime(2022, 1, 1, 0, 0, 0)}});
  sd::MergeOptions only;
  only.game = "SLUS-21005";
  const sd::MergeReport again = sd::MergeIntoFile(root, target, only);
  EXPECT_TRUE(again.Complete());
  EXPECT_EQ(MergeLines(again).back(), "BASLUS-21005B <- MemoryCards/PS2/SLUS-21005/SLUS-21005-2.mcd (in place of the card's older copy)");
  EXPECT_EQ(SavesOn(target).at("BASLUS-21005B").at("DATA"), testutil::MakeBytes(100, 6));
}

TEST(SdMerge, ASaveThatDoesNotFitStopsNothing) {
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string root = dir.File("sd");
  PutCard(dir, root, "A/A-1.mc2", {{"BASLUS-20946BIG", 5000 * 1024, 1}});
  PutCard(dir, root, "B/B-1.mc2", {{"BASLUS-21005BIG", 5000 * 1024, 2}, {"BASLUS-21005SMALL", 1000, 3}});
  const std::string target = dir.File("all.ps2");
  const sd::MergeReport r = sd::MergeIntoFile(root, target, {});
  EXPECT_FALSE(r.Complete());
  const std::vector<std::string> lines = MergeLines(r);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], target + ": a new card (8 MB, with ECC)");
  EXPECT_EQ(lines[2].rfind("did not fit: BASLUS-21005BIG does not fit: needs", 0), 0u) << lines[2];
  EXPECT_EQ(testutil::FoldersOn(target), (std::vector<std::string>{"BASLUS-20946BIG", "BASLUS-21005SMALL"}));
}

}  // namespace

namespace {

// Nothing is written through a card with damage: split passes such a channel by, merge
// gathers nothing onto such a card, and both leave its bytes as they were.
TEST(SdDamage, NoWriteGoesThroughADamagedCard) {
  struct Row {
    const char* name;
    bool split;
    std::vector<std::string> lines;
    bool complete;
  };
  const Row rows[] = {
      {"split passes the damaged channel by", true,
       {"MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd: left untouched: the card has damage (sd check says what)",
        "BASLUS-20946A -> MemoryCards/PS2/SLUS-20946/SLUS-20946-2.mcd (new card)"},
       true},
      {"merge writes nothing onto a damaged card", false, {}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testutil::TempDir dir(testutil::FastTempBase());
    const std::string root = dir.File("sd");
    const std::string damaged = row.split
        ? PutCard(dir, root, "MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd", {{"BASLUS-20946OLD", 1000, 1}})
        : PutCard(dir, dir.path().string(), "target.mcd", {{"BASLUS-20946OLD", 1000, 1}});
    testutil::CardFile f = testutil::CardFile::Read(damaged);
    f.SetFat(3, 0x80000003);  // the save's data chain comes back to itself
    f.Store();
    ASSERT_TRUE(card::OpenCard(damaged).card->Damaged());
    const Bytes before = testutil::ReadFile(damaged);
    if (row.split) {
      const std::string source = PutCard(dir, dir.path().string(), "source.mcd", {{"BASLUS-20946A", 500, 2}});
      const sd::SplitReport r = sd::SplitCardFile(source, root, Layout(sd::Layout::kSd2psx));
      EXPECT_EQ(SplitLines(r), row.lines);
      EXPECT_EQ(r.Complete(), row.complete);
    } else {
      PutCard(dir, root, "MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd", {{"BASLUS-20946A", 500, 2}});
      const sd::MergeReport r = sd::MergeIntoFile(root, damaged, {});
      EXPECT_EQ(r.failure.rfind("The card is damaged", 0), 0u) << r.failure;
      EXPECT_EQ(MergeLines(r), row.lines);
      EXPECT_EQ(r.Complete(), row.complete);
    }
    EXPECT_EQ(testutil::ReadFile(damaged), before);
  }
}

}  // namespace
