// PS1 cards on the SD card of a memory-card emulator: split by game into each device's
// layout, listed, searched and checked, and merged onto a PS1 card.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "card/card.h"
#include "card/ps1/ps1_card.h"
#include "io/file.h"
#include "io/fs_path.h"
#include "io/path.h"
#include "sd/merge.h"
#include "sd/messages.h"
#include "sd/split.h"
#include "sd/survey.h"
#include "support/ps1_builder.h"
#include "support/ps1_card_builder.h"
#include "support/sd_tree.h"

namespace {

namespace fs = std::filesystem;
using testutil::Bytes;

struct Ps1Save {
  std::string name;
  std::vector<int> blocks;
  std::uint32_t seed = 1;
  bool deleted = false;
};

// A PS1 card holding the saves, written at `path` (folders made); returns the path.
std::string PutPs1Card(const std::string& path, const std::vector<Ps1Save>& saves) {
  testutil::Ps1Card built;
  for (const Ps1Save& s : saves) {
    built.PutSave(s.name, s.blocks, testutil::MakePs1Blocks(static_cast<int>(s.blocks.size()), s.seed));
    if (!s.deleted) continue;
    for (std::size_t k = 0; k < s.blocks.size(); ++k)  // deleted as the console deletes: 0x5? -> 0xA?
      built.SetEntry(s.blocks[k], built.State(s.blocks[k]) + 0x50, k == 0 ? static_cast<std::uint32_t>(s.blocks.size() * testutil::kPs1Block) : 0u,
                     built.Next(s.blocks[k]), k == 0 ? s.name : "");
  }
  fs::create_directories(io::ToFsPath(path).parent_path());
  testutil::WriteFile(path, built.bytes);
  return path;
}

// The bytes of a live save's blocks on the PS1 card at path; empty when it is not there.
Bytes SaveBytesOn(const std::string& path, const std::string& name) {
  card::OpenedCard opened = card::OpenCard(path);
  const auto* ps1 = dynamic_cast<const card::Ps1Card*>(opened.card.get());
  const card::Ps1SaveState* save = ps1 ? ps1->image().directory().Find(name) : nullptr;
  return save ? ps1->image().SaveBytes(*save) : Bytes();
}

std::vector<std::string> LiveSaves(const std::string& path) {
  std::vector<std::string> names;
  card::OpenedCard opened = card::OpenCard(path);
  if (!opened.card) return names;
  for (const card::SaveInfo& s : opened.card->List().saves)
    if (!s.deleted) names.push_back(s.folder);
  return names;
}

std::vector<std::string> Lines(const sd::SplitReport& r) {
  std::vector<std::string> lines;
  for (const sd::SplitLine& l : r.lines) lines.push_back(sd::messages::SplitLineText(l));
  return lines;
}

sd::SplitOptions Device(sd::Layout device) {
  sd::SplitOptions o;
  o.device = device;
  return o;
}

// Two games, a save of no game and a deleted save; on the SD card already, channel 1 of
// one game holds another save of the same name and channel 1 of the other is full.
TEST(SdPs1, ACardSplitsByGameIntoEachDevicesLayout) {
  struct Row {
    sd::Layout device;
    std::string home;  // where the device keeps PS1 cards, from the root
  };
  const Row rows[] = {{sd::Layout::kSd2psx, "MemoryCards/PS1/"}, {sd::Layout::kMemcardPro2, ""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.home);
    testutil::TempDir dir(testutil::FastTempBase());
    const std::string root = dir.File("sd card");
    const std::string source = PutPs1Card(dir.File("source.mcr"), {{"BASLUS-00958GS2-7", {1, 2}, 1},
                                                                   {"BESLESP00001A", {3}, 2},
                                                                   {"BAMYHOMEBREW", {4}, 3},
                                                                   {"BASLUS-00958OLD", {5}, 4, /*deleted=*/true}});
    const std::string ff = PutPs1Card(io::JoinPath(root, row.home + "SLUS-00958/SLUS-00958-1.mcd"),
                                      {{"BASLUS-00958GS2-7", {1, 2}, 9}});
    std::vector<int> all;
    for (int b = 1; b <= 15; ++b) all.push_back(b);
    const std::string full = PutPs1Card(io::JoinPath(root, row.home + "SLES-00001/SLES-00001-1.mcd"),
                                        {{"BESLESP00001FULL", all, 5}});
    const Bytes sourceBytes = testutil::ReadFile(source), ffBytes = testutil::ReadFile(ff), fullBytes = testutil::ReadFile(full);

    const sd::SplitReport r = sd::SplitCardFile(source, root, Device(row.device));
    const std::string ff2 = row.home + "SLUS-00958/SLUS-00958-2.mcd", sles2 = row.home + "SLES-00001/SLES-00001-2.mcd",
                      unsorted = row.home + "UNSORTED/UNSORTED-1.mcd";
    EXPECT_EQ(Lines(r), (std::vector<std::string>{"BASLUS-00958GS2-7 -> " + ff2 + " (new card)",
                                                  "BESLESP00001A -> " + sles2 + " (new card)",
                                                  "BAMYHOMEBREW -> " + unsorted + " (new card)"}));
    EXPECT_TRUE(r.Complete());
    const struct {
      std::string card, save;
      Bytes data;
    } placed[] = {{ff2, "BASLUS-00958GS2-7", testutil::MakePs1Blocks(2, 1)},
                  {sles2, "BESLESP00001A", testutil::MakePs1Blocks(1, 2)},
                  {unsorted, "BAMYHOMEBREW", testutil::MakePs1Blocks(1, 3)}};
    for (const auto& p : placed) {
      const std::string path = io::JoinPath(root, p.card);
      EXPECT_EQ(io::FileSize(path).value_or(0), 131072u) << p.card;
      EXPECT_EQ(LiveSaves(path), std::vector<std::string>{p.save}) << p.card;
      EXPECT_EQ(SaveBytesOn(path, p.save), p.data) << p.card;
    }
    EXPECT_EQ(testutil::ReadFile(source), sourceBytes);
    EXPECT_EQ(testutil::ReadFile(ff), ffBytes);
    EXPECT_EQ(testutil::ReadFile(full), fullBytes);

    // Again: each save is found where it went, and no card is made.
    const sd::SplitReport again = sd::SplitCardFile(source, root, Device(row.device));
    int already = 0;
    for (const sd::SplitLine& l : again.lines) already += l.event == sd::SplitEvent::kAlreadyThere;
    EXPECT_EQ(already, 3);
    EXPECT_FALSE(io::Exists(io::JoinPath(root, row.home + "SLUS-00958/SLUS-00958-3.mcd")));
  }
}

TEST(SdPs1, OpenPs2LoaderTakesNoPs1Card) {
  testutil::TempDir dir;
  const std::string root = dir.File("usb");
  fs::create_directories(io::ToFsPath(root));
  const std::string source = PutPs1Card(dir.File("source.mcd"), {{"BASLUS-00958GS2-7", {1}, 1}});
  const sd::SplitReport r = sd::SplitCardFile(source, root, Device(sd::Layout::kOpl));
  EXPECT_NE(r.failure.find("Open PS2 Loader takes no PS1 cards"), std::string::npos) << r.failure;
  EXPECT_FALSE(r.Complete());
  EXPECT_TRUE(fs::is_empty(io::ToFsPath(root)));
}

// Every live save of a real card lands on a card, block for block.
TEST(SdPs1, TheCorpusCardSplitsWhole) {
  REQUIRE_CORPUS(vmp, "ps1card/f.vmp");
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string source = dir.File("f.vmp");
  fs::copy_file(io::ToFsPath(vmp), io::ToFsPath(source));
  const Bytes before = testutil::ReadFile(source);
  const sd::SplitReport r = sd::SplitCardFile(source, dir.File("sd"), Device(sd::Layout::kSd2psx));
  ASSERT_TRUE(r.failure.empty()) << r.failure;
  EXPECT_TRUE(r.Complete()) << ::testing::PrintToString(Lines(r));
  card::OpenedCard opened = card::OpenCard(source);
  const auto& image = dynamic_cast<const card::Ps1Card&>(*opened.card).image();
  std::size_t live = 0;
  for (const card::Ps1SaveState& s : image.directory().saves) {
    if (s.deleted) continue;
    ++live;
    const auto line = std::find_if(r.lines.begin(), r.lines.end(), [&](const sd::SplitLine& l) { return l.save == s.name; });
    ASSERT_NE(line, r.lines.end()) << s.name;
    EXPECT_EQ(line->card.rfind("MemoryCards/PS1/", 0), 0u) << line->card;
    EXPECT_EQ(SaveBytesOn(io::JoinPath(dir.File("sd"), line->card), s.name), image.SaveBytes(s)) << s.name;
  }
  EXPECT_EQ(r.lines.size(), live);
  EXPECT_EQ(testutil::ReadFile(source), before);
}

// ls, find and check read PS1 cards: live saves, free blocks, damage and the size refused.
TEST(SdPs1, CardsAreListedSearchedAndChecked) {
  testutil::TempDir dir;
  const std::string root = dir.File("sd");
  PutPs1Card(io::JoinPath(root, "MemoryCards/PS1/SLUS-00958/SLUS-00958-1.mcd"),
             {{"BASLUS-00958GS2-7", {1, 2}, 1}, {"BASLUS-00958OLD", {3}, 2, /*deleted=*/true}});
  const std::string broken = PutPs1Card(io::JoinPath(root, "SCUS-94163/SCUS-94163-1.mcd"),
                                        {{"BASCUS-94163FF7", {1, 2}, 3}, {"BASCUS-94163B", {4}, 4}});
  testutil::Ps1Card loop;
  loop.bytes = testutil::ReadFile(broken);
  loop.SetEntry(2, 0x53, 0, 1);  // the last block links back to itself
  testutil::WriteFile(broken, loop.bytes);
  const std::string big = io::JoinPath(root, "MemoryCards/PS1/Big/Big-1.mcd");
  fs::create_directories(io::ToFsPath(big).parent_path());
  testutil::WriteFile(big, Bytes(262144, 0));

  struct Row {
    std::string card;
    bool opened;
    int saves, freeBlocks;
    bool damaged, refused;
  };
  const std::vector<Row> rows = {
      {"MemoryCards/PS1/Big/Big-1.mcd", false, 0, 0, false, true},
      {"MemoryCards/PS1/SLUS-00958/SLUS-00958-1.mcd", true, 1, 13, false, false},
      {"SCUS-94163/SCUS-94163-1.mcd", true, 2, 12, true, false},
  };
  const sd::Survey survey = sd::SurveyCards(root);
  const std::vector<sd::CardFindings> findings = sd::CheckCards(root);
  ASSERT_EQ(survey.cards.size(), rows.size());
  ASSERT_EQ(findings.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    const sd::CardSurvey& s = survey.cards[i];
    SCOPED_TRACE(row.card);
    EXPECT_EQ(s.place.relative, row.card);
    EXPECT_EQ(s.place.console, sd::Console::kPs1);
    EXPECT_EQ(s.opened, row.opened);
    if (row.opened) {
      EXPECT_TRUE(s.ps1);
    }
    EXPECT_EQ(s.saves, row.saves);
    EXPECT_EQ(s.freeBlocks, row.freeBlocks);
    EXPECT_EQ(s.damaged, row.damaged);
    EXPECT_EQ(!s.refusal.empty(), row.refused);
    EXPECT_EQ(findings[i].Clean(), !row.damaged && !row.refused && row.opened);
  }

  const struct {
    const char* text;
    std::vector<std::string> folders;
  } searches[] = {
      {"gs2", {"BASLUS-00958GS2-7"}},
      {"ff7", {"BASCUS-94163FF7"}},
      {"old", {}},  // deleted
  };
  for (const auto& search : searches) {
    std::vector<std::string> folders;
    for (const sd::FoundSave& f : sd::FindSaves(root, search.text).saves) folders.push_back(f.folder);
    EXPECT_EQ(folders, search.folders) << search.text;
  }
}

// A PS1 card gathers the PS1 cards, a PS2 card the PS2 cards; the others are left out.
TEST(SdPs1, MergeGathersTheCardsOfTheTargetsConsole) {
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string root = dir.File("sd");
  PutPs1Card(io::JoinPath(root, "MemoryCards/PS1/SLUS-00958/SLUS-00958-1.mcd"),
             {{"BASLUS-00958GS2-7", {1, 2}, 1}, {"BASLUS-00958OLD", {3}, 2, /*deleted=*/true}});
  PutPs1Card(io::JoinPath(root, "MemoryCards/PS1/SCUS-94163/SCUS-94163-1.mcd"), {{"BASCUS-94163FF7", {1}, 3}});
  testutil::PutCard(dir, root, "MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd", {{"BASLUS-20946A", 1000, 1}});

  struct Row {
    std::string target;
    bool ps1;
    std::vector<std::string> saves;
    int otherConsole;
  };
  const Row rows[] = {
      {"all.mcd", true, {"BASLUS-00958GS2-7", "BASCUS-94163FF7"}, 1},
      {"all.gme", true, {"BASLUS-00958GS2-7", "BASCUS-94163FF7"}, 1},
      {"all.ps2", false, {"BASLUS-20946A"}, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    sd::MergeOptions options;
    options.ps1 = row.ps1;
    const std::string target = dir.File(row.target);
    const sd::MergeReport r = sd::MergeIntoFile(root, target, options);
    EXPECT_TRUE(r.Complete()) << r.failure;
    std::vector<std::string> saves = LiveSaves(target);
    std::sort(saves.begin(), saves.end());
    std::vector<std::string> expected = row.saves;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(saves, expected);
    int other = 0;
    for (const sd::MergeLine& l : r.lines) other += l.event == sd::MergeEvent::kOtherConsole;
    EXPECT_EQ(other, row.otherConsole);
    if (row.ps1) {
      EXPECT_EQ(SaveBytesOn(target, "BASLUS-00958GS2-7"), testutil::MakePs1Blocks(2, 1));
    }
  }
}

}  // namespace
