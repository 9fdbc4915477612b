// POPStarter's folders: the game ID of a .VCD made here, hostile discs and VMCDIR.TXT files,
// a USB tree and an internal-disk tree listed with their redirects, and split and merge
// round trips through both.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include "card/card.h"
#include "card/ps1/ps1_card.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/fs_path.h"
#include "io/path.h"
#include "sd/merge.h"
#include "sd/pops.h"
#include "sd/split.h"
#include "sd/survey.h"
#include "sd/vcd.h"
#include "support/ps1_builder.h"
#include "support/ps1_card_builder.h"
#include "support/sd_tree.h"
#include "support/vcd_builder.h"

namespace {

namespace fs = std::filesystem;
using testutil::Bytes;

void Put(const std::string& root, const std::string& relative, const Bytes& bytes) {
  const std::string path = io::JoinPath(root, relative);
  fs::create_directories(io::ToFsPath(path).parent_path());
  testutil::WriteFile(path, bytes);
}

// A raw PS1 card holding one-block saves, each save's bytes from its seed.
Bytes Ps1CardWith(const std::vector<std::pair<std::string, std::uint32_t>>& saves) {
  testutil::Ps1Card card;
  int block = 1;
  for (const auto& [name, seed] : saves) card.PutSave(name, {block++}, testutil::MakePs1Blocks(1, seed));
  return card.bytes;
}

std::map<std::string, Bytes> SavesOn(const std::string& path) {
  std::map<std::string, Bytes> saves;
  card::OpenedCard opened = card::OpenCard(path);
  if (const auto* ps1 = dynamic_cast<const card::Ps1Card*>(opened.card.get()))
    for (const card::Ps1SaveState& s : ps1->image().directory().saves)
      if (!s.deleted) saves[s.name] = ps1->image().SaveBytes(s);
  return saves;
}

sd::SplitReport SplitPops(const std::string& card, const std::string& root) {
  sd::SplitOptions options;
  options.device = sd::Layout::kPops;
  return sd::SplitCardFile(card, root, options);
}

TEST(SdPops, TheGameIdComesFromTheDiscsSystemCnf) {
  const Bytes usual = testutil::MakeVcdBooting("SLUS_005.94");
  std::vector<testutil::IsoFile> many(60, {"DATA.BIN;1", {}});  // the root's first sector full
  many.push_back({"SYSTEM.CNF;1", testutil::FromString("boot=cdrom:sles_012.34\n")});
  const Bytes longRoot = testutil::MakeVcd(testutil::MakeIsoDisc(many));
  const std::size_t pvd = testutil::VcdDataOffset(16), root = testutil::VcdDataOffset(18);
  const std::size_t cnf = root + 68 + 42;  // SYSTEM.CNF's record, after ".", ".." and PSX.EXE's
  const auto patched = [](Bytes b, std::size_t at, std::vector<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
  };
  const struct {
    std::string why;
    Bytes vcd;
    std::string id, problem;  // the problem's start
    std::uint32_t sectors;    // read; 0: not counted
  } rows[] = {
      {"the usual SYSTEM.CNF", usual, "SLUS-00594", "", 3},
      {"after a 150-sector pregap", testutil::MakeVcdBooting("SLUS_005.94", 150), "SLUS-00594", "", 3},
      {"lower case, in the root's second sector", longRoot, "SLES-01234", "", 4},
      {"a PS2 disc's BOOT2 line", testutil::MakeVcd(testutil::MakeIsoDisc({{"SYSTEM.CNF;1", testutil::FromString("BOOT2 = cdrom0:\\SLUS_209.46;1\n")}})), "", "its SYSTEM.CNF names no game", 0},
      {"no SYSTEM.CNF", testutil::MakeVcd(testutil::MakeIsoDisc({{"PSX.EXE;1", {}}})), "", "no SYSTEM.CNF in its root", 0},
      {"cut inside its header", Bytes(1000, 0), "", "too short for a disc image", 0},
      {"no descriptor", testutil::MakeVcd(Bytes(40 * 2048, 0)), "", "no ISO 9660 volume descriptor in its first 320", 0},
      {"the descriptor past where it is looked for", testutil::MakeVcdBooting("SLUS_005.94", 320), "", "no ISO 9660", 0},
      {"blocks of 512 bytes", patched(usual, pvd + 128, {0, 2}), "", "its volume descriptor gives blocks of 512", 0},
      {"the root past the end", patched(usual, pvd + 156 + 2, {0xFF, 0xFF, 0xFF, 0x7F}), "", "its root directory (sector 2147483647) lies past", 0},
      {"cut after the descriptor", Bytes(usual.begin(), usual.begin() + static_cast<std::ptrdiff_t>(root)), "", "its root directory (sector 18)", 0},
      {"a record under 34 bytes", patched(usual, root, {20}), "", "its root directory holds a broken record at byte 0", 0},
      {"a record past its sector", patched(longRoot, root + 2004, {0xFF}), "", "its root directory holds a broken record at byte 2004", 0},
      {"SYSTEM.CNF past the end", patched(usual, cnf + 2, {0, 0, 0, 1}), "", "its SYSTEM.CNF (sector 16777216) lies past", 0},
      // Sizes of 4 GiB: the reads stay within their caps.
      {"SYSTEM.CNF of 4 GiB", patched(usual, cnf + 10, {0xFF, 0xFF, 0xFF, 0xFF}), "SLUS-00594", "", 3},
      {"a root of 4 GiB of nothing",
       patched(testutil::MakeVcd(testutil::MakeIsoDisc({{"PSX.EXE;1", Bytes(100 * 2048, 0)}})), pvd + 156 + 10, {0xFF, 0xFF, 0xFF, 0xFF}),
       "", "no SYSTEM.CNF", 1 + sd::kMaxRootSectors},
  };
  for (const auto& row : rows) {
    const sd::DiscId disc = sd::ReadVcdGameId(*io::MemorySource(row.vcd, "game.VCD"));
    EXPECT_EQ(disc.id, row.id) << row.why;
    EXPECT_EQ(disc.problem.substr(0, row.problem.size()), row.problem) << row.why;
    EXPECT_EQ(disc.id.empty(), !disc.problem.empty()) << row.why;
    EXPECT_TRUE(row.sectors == 0 || disc.sectorsRead == row.sectors) << row.why << ": " << disc.sectorsRead;
  }
}

// A USB drive: a later disc sent to disc 1's folder, a folder with no disc in POPS3/.
void PutUsbTree(const std::string& root) {
  Put(root, "POPS/Crash Bandicoot.VCD", testutil::MakeVcdBooting("SCUS_949.00"));
  Put(root, "POPS/Crash Bandicoot/SLOT0.VMC", Ps1CardWith({{"BASCUS-94900CRASH", 1}}));
  Put(root, "POPS/Crash Bandicoot/SLOT1.VMC", Ps1CardWith({}));
  Put(root, "POPS/FF7 (Disc 1).VCD", testutil::MakeVcdBooting("SCUS_941.63"));
  Put(root, "POPS/FF7 (Disc 2).vcd", testutil::MakeVcdBooting("SCUS_941.64"));
  Put(root, "POPS/FF7 (Disc 1)/SLOT0.VMC", Ps1CardWith({{"BASCUS-94163FF7", 2}}));
  Put(root, "POPS/FF7 (Disc 2)/VMCDIR.TXT", testutil::FromString("ff7 (disc 1)\r\n"));
  Put(root, "POPS/FF7 (Disc 2)/SLOT0.VMC", Ps1CardWith({{"BASCUS-94164OLD", 3}}));
  Put(root, "POPS3/Tekken 3/SLOT0.VMC", Ps1CardWith({{"BASCUS-94300TK3", 4}}));
}

// A PS2's internal disk copied: the games in __.POPS, a VMCDIR.TXT in __common/POPS sending
// every game to one pair of cards.
void PutInternalTree(const std::string& root) {
  Put(root, "__.POPS/Crash Bandicoot.VCD", testutil::MakeVcdBooting("SCUS_949.00"));
  Put(root, "__.POPS/Spyro.VCD", testutil::MakeVcdBooting("SCUS_944.26"));
  Put(root, "__common/POPS/VMCDIR.TXT", testutil::FromString("SHARED"));
  Put(root, "__common/POPS/SHARED/SLOT0.VMC", Ps1CardWith({{"BASCUS-94426SPYRO", 5}}));
  Put(root, "__common/POPS/Crash Bandicoot/SLOT0.VMC", Ps1CardWith({{"BASCUS-94900CRASH", 6}}));
}

struct Tree {
  std::string name;
  void (*put)(const std::string&);
};
const Tree kTrees[] = {{"USB", PutUsbTree}, {"internal disk", PutInternalTree}};

TEST(SdPops, TreesListEachCardsGameAndRedirects) {
  // card, game ID, the games sharing it, where its game is sent instead, saves
  using Card = std::tuple<std::string, std::string, std::vector<std::string>, std::string, int>;
  const std::vector<Card> cards[] = {
      {{"POPS/Crash Bandicoot/SLOT0.VMC", "SCUS-94900", {}, "", 1},
       {"POPS/Crash Bandicoot/SLOT1.VMC", "SCUS-94900", {}, "", 0},
       {"POPS/FF7 (Disc 1)/SLOT0.VMC", "SCUS-94163", {"FF7 (Disc 2)"}, "", 1},
       {"POPS/FF7 (Disc 2)/SLOT0.VMC", "SCUS-94164", {}, "POPS/FF7 (Disc 1)", 1},
       {"POPS3/Tekken 3/SLOT0.VMC", "", {}, "", 1}},
      {{"__common/POPS/Crash Bandicoot/SLOT0.VMC", "SCUS-94900", {}, "__common/POPS/SHARED", 1},
       {"__common/POPS/SHARED/SLOT0.VMC", "", {"Crash Bandicoot", "Spyro"}, "", 1}},
  };
  for (std::size_t t = 0; t < 2; ++t) {
    testutil::TempDir dir(testutil::FastTempBase());
    const std::string root = dir.File("usb \xE3\x83\x89\xE3\x83\xA9\xE3\x82\xA4\xE3\x83\x96");  // ドライブ
    kTrees[t].put(root);
    const sd::Survey survey = sd::SurveyCards(root);
    ASSERT_EQ(survey.cards.size(), cards[t].size()) << kTrees[t].name;
    for (std::size_t i = 0; i < cards[t].size(); ++i) {
      const sd::FoundCard& c = survey.cards[i].place;
      const auto& [relative, id, sharedBy, redirectedTo, saves] = cards[t][i];
      EXPECT_EQ(std::tie(c.relative, c.gameId, c.sharedBy, c.redirectedTo), std::tie(relative, id, sharedBy, redirectedTo));
      EXPECT_EQ(c.layout, sd::Layout::kPops) << relative;
      EXPECT_EQ(c.folder, io::FileNameOf(io::ParentOf(relative))) << relative;
      EXPECT_EQ(c.channel, relative.ends_with("SLOT1.VMC") ? 2 : 1) << relative;
      EXPECT_EQ(survey.cards[i].saves, saves) << relative;
    }
    EXPECT_EQ(sd::FindSaves(root, "crash").saves.size(), 1u) << kTrees[t].name;
    EXPECT_TRUE(sd::CheckTree(root).Clean()) << kTrees[t].name;
  }
}

// The saves of a PS1 card onto each game's SLOT0.VMC, then back onto one card, all and by game.
TEST(SdPops, SplitAndMergeRoundTrip) {
  const std::vector<std::pair<std::string, std::uint32_t>> source = {
      {"BASCUS-94900CRASH2", 11}, {"BASCUS-94163FF7B", 12}, {"BASCUS-94164FF7D2", 13},
      {"BASLUS-00594GONE", 14},   {"BAMYHOMEBREW", 15},     {"BASCUS-94426SPYRO2", 16}};
  const struct {
    std::vector<std::pair<std::string, std::string>> placed;  // save, card
    std::vector<std::string> skipped;
    std::string game;
    std::vector<std::string> gameSaves;  // merged alone
  } rows[] = {
      {{{"BASCUS-94900CRASH2", "POPS/Crash Bandicoot/SLOT0.VMC"},
        {"BASCUS-94163FF7B", "POPS/FF7 (Disc 1)/SLOT0.VMC"},
        {"BASCUS-94164FF7D2", "POPS/FF7 (Disc 1)/SLOT0.VMC"}},  // as disc 2's redirect says
       {"BASLUS-00594GONE", "BAMYHOMEBREW", "BASCUS-94426SPYRO2"},
       "SCUS_941.64",  // disc 2's cards are disc 1's, not the one left in its own folder
       {"BASCUS-94163FF7", "BASCUS-94163FF7B", "BASCUS-94164FF7D2"}},
      {{{"BASCUS-94900CRASH2", "__common/POPS/SHARED/SLOT0.VMC"}, {"BASCUS-94426SPYRO2", "__common/POPS/SHARED/SLOT0.VMC"}},
       {"BASCUS-94163FF7B", "BASCUS-94164FF7D2", "BASLUS-00594GONE", "BAMYHOMEBREW"},
       "SCUS-94426",
       {"BASCUS-94426SPYRO", "BASCUS-94426SPYRO2", "BASCUS-94900CRASH2"}},
  };
  for (std::size_t t = 0; t < 2; ++t) {
    SCOPED_TRACE(kTrees[t].name);
    testutil::TempDir dir(testutil::FastTempBase());
    const std::string root = dir.File("drive");
    kTrees[t].put(root);
    Put(dir.path().string(), "source.mcd", Ps1CardWith(source));
    const std::map<std::string, Bytes> sourceSaves = SavesOn(dir.File("source.mcd"));
    const std::string redirect = t == 0 ? "POPS/FF7 (Disc 2)/VMCDIR.TXT" : "__common/POPS/VMCDIR.TXT";
    const Bytes redirectBytes = testutil::ReadFile(io::JoinPath(root, redirect));

    const sd::SplitReport r = SplitPops(dir.File("source.mcd"), root);
    EXPECT_FALSE(r.Complete());  // saves went nowhere: exit status 1
    std::vector<std::pair<std::string, std::string>> placed;
    std::vector<std::string> skipped;
    for (const sd::SplitLine& l : r.lines) {
      EXPECT_TRUE(l.event == sd::SplitEvent::kPlaced || l.event == sd::SplitEvent::kSkipped) << l.save;
      if (l.event == sd::SplitEvent::kPlaced) placed.emplace_back(l.save, l.card);
      else skipped.push_back(l.save);
    }
    EXPECT_EQ(placed, rows[t].placed);
    EXPECT_EQ(skipped, rows[t].skipped);
    EXPECT_EQ(testutil::ReadFile(io::JoinPath(root, redirect)), redirectBytes);

    sd::MergeOptions merge;
    merge.ps1 = true;
    EXPECT_TRUE(sd::MergeIntoFile(root, dir.File("all.mcr"), merge).Complete());
    const std::map<std::string, Bytes> all = SavesOn(dir.File("all.mcr"));
    for (const auto& [save, card] : rows[t].placed) EXPECT_EQ(all.at(save), sourceSaves.at(save)) << save;
    EXPECT_EQ(all.count("BASCUS-94900CRASH"), 1u);  // a save already there
    merge.game = rows[t].game;
    EXPECT_TRUE(sd::MergeIntoFile(root, dir.File("one.mcr"), merge).Complete());
    std::vector<std::string> names;
    for (const auto& [name, bytes] : SavesOn(dir.File("one.mcr"))) names.push_back(name);
    EXPECT_EQ(names, rows[t].gameSaves);

    const sd::SplitReport again = SplitPops(dir.File("source.mcd"), root);
    EXPECT_EQ(std::count_if(again.lines.begin(), again.lines.end(), [](const sd::SplitLine& l) { return l.event == sd::SplitEvent::kAlreadyThere; }),
              static_cast<std::ptrdiff_t>(rows[t].placed.size()));
  }
}

// A game's first run: its folder and SLOT0.VMC are made, SLOT1.VMC is not; a PS2 card
// writes nothing.
TEST(SdPops, AMissingCardIsMadeAndAPs2CardRefused) {
  for (const auto& [disc, made] : {std::pair{"POPS7/Vib-Ribbon.VCD", "POPS7/Vib-Ribbon/SLOT0.VMC"},
                                   std::pair{"__.POPS/Vib-Ribbon.VCD", "__common/POPS/Vib-Ribbon/SLOT0.VMC"}}) {
    testutil::TempDir dir(testutil::FastTempBase());
    const std::string root = dir.File("drive");
    Put(root, disc, testutil::MakeVcdBooting("SCES_020.49"));
    const std::string ps2 = testutil::PutCard(dir, dir.path().string(), "Mcd001.ps2", {{"BESCES-02049VIB", 100, 1}});
    EXPECT_EQ(SplitPops(ps2, root).failure, "a PS2 card: POPStarter's cards are PS1 cards, and only a PS1 card's saves go on them");
    EXPECT_FALSE(fs::exists(io::ToFsPath(io::ParentOf(io::JoinPath(root, made)))));
    Put(dir.path().string(), "source.mcd", Ps1CardWith({{"BESCESP02049VIB", 21}}));
    const sd::SplitReport r = SplitPops(dir.File("source.mcd"), root);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_TRUE(r.Complete() && r.lines[0].newCard && r.lines[0].card == made) << r.lines[0].card;
    EXPECT_EQ(SavesOn(io::JoinPath(root, made)).at("BESCESP02049VIB"), testutil::MakePs1Blocks(1, 21));
    EXPECT_EQ(io::FileSize(io::JoinPath(root, made)).value_or(0), testutil::kPs1Card);
    EXPECT_FALSE(io::Exists(io::JoinPath(io::ParentOf(io::JoinPath(root, made)), "SLOT1.VMC")));
  }
}

// A VMCDIR.TXT POPStarter would ignore, or one leading out of POPS, is reported by check and
// not followed by split; a good one is followed, and none is changed.
TEST(SdPops, RedirectsNotFollowedAreReported) {
  const struct {
    std::string where, bytes, problem, card;  // the file's folder under POPS/; where the save goes
  } rows[] = {
      {"Disc 2", "disc 1", "", "POPS/Disc 1/SLOT0.VMC"},
      {"", "Disc 1\n", "", "POPS/Disc 1/SLOT0.VMC"},
      {"Disc 2", "Disc 1\r\n", "", "POPS/Disc 1/SLOT0.VMC"},
      {"Disc 2", "\xEF\xBC\xA4\xEF\xBD\x89\xEF\xBD\x93\xEF\xBD\x83 1", "", "POPS/\xEF\xBC\xA4\xEF\xBD\x89\xEF\xBD\x93\xEF\xBD\x83 1/SLOT0.VMC"},  // Ｄｉｓｃ 1
      {"Disc 2", std::string(103, 'D'), "", "POPS/" + std::string(103, 'D') + "/SLOT0.VMC"},
      {"Disc 2", std::string(102, 'D') + "\r\n", "a file of 104 bytes", "POPS/Disc 2/SLOT0.VMC"},
      {"Disc 2", "Disc 1\r\n\r\n", "more than one line", "POPS/Disc 2/SLOT0.VMC"},
      {"Disc 2", "mass:Disc 1", "holds '/', '\\' or ':'", "POPS/Disc 2/SLOT0.VMC"},
      {"Disc 2", ".", "\".\" leaves POPS: refused", "POPS/Disc 2/SLOT0.VMC"},
      {"Disc 2", "\r\n", "names no folder", "POPS/Disc 2/SLOT0.VMC"},
      {"Disc 2", std::string("Disc 1\0x", 8), "holds a control character", "POPS/Disc 2/SLOT0.VMC"},
      {"Disc 2", "New Folder", "", "POPS/New Folder/SLOT0.VMC"},
      {"Disc 2", std::string(200, 'D'), "a file of 200 bytes, over the 103", "POPS/Disc 2/SLOT0.VMC"},
      {"", std::string(5000000, 'D'), "a file of 5000000 bytes", "POPS/Disc 2/SLOT0.VMC"},
      {"Disc 2", "Disc 1\nDisc 3", "more than one line: POPStarter ignores it", "POPS/Disc 2/SLOT0.VMC"},
      {"Disc 2", "..", "\"..\" leaves POPS: refused", "POPS/Disc 2/SLOT0.VMC"},
      {"", "..\\..\\Windows", "holds '/', '\\' or ':'", "POPS/Disc 2/SLOT0.VMC"},
      {"Disc 2", "Outside", "names a link, which may lead out of POPS", "POPS/Disc 2/SLOT0.VMC"},
      {"Disc 2", "Disc 1.VCD", "names a file, not a folder", "POPS/Disc 2/SLOT0.VMC"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.where + ": " + row.bytes.substr(0, 20));
    testutil::TempDir dir(testutil::FastTempBase());
    const std::string root = dir.File("drive"), txt = (row.where.empty() ? "POPS/" : "POPS/" + row.where + "/") + "VMCDIR.TXT";
    Put(root, "POPS/Disc 1.VCD", testutil::MakeVcdBooting("SLUS_012.51"));
    Put(root, "POPS/Disc 2.VCD", testutil::MakeVcdBooting("SLUS_012.52"));
    Put(root, "POPS/Disc 1/SLOT0.VMC", Ps1CardWith({}));
    Put(root, txt, testutil::FromString(row.bytes));
    fs::create_directories(io::ToFsPath(dir.File("elsewhere")));
    fs::create_directory_symlink(io::ToFsPath(dir.File("elsewhere")), io::ToFsPath(io::JoinPath(root, "POPS/Outside")));

    const sd::TreeFindings check = sd::CheckTree(root);
    EXPECT_EQ(check.Clean(), row.problem.empty());
    if (!row.problem.empty()) {
      ASSERT_EQ(check.redirects.size(), 1u);
      EXPECT_EQ(check.redirects[0].file, txt);
      EXPECT_EQ(check.redirects[0].problem.substr(0, row.problem.size()), row.problem);
    }
    Put(dir.path().string(), "source.mcd", Ps1CardWith({{"BASLUS-01252SAVE", 31}}));
    const sd::SplitReport r = SplitPops(dir.File("source.mcd"), root);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0].card, row.card);
    EXPECT_EQ(SavesOn(io::JoinPath(root, row.card)).count("BASLUS-01252SAVE"), 1u);
    EXPECT_TRUE(fs::is_empty(io::ToFsPath(dir.File("elsewhere"))));
    EXPECT_EQ(testutil::ReadFile(io::JoinPath(root, txt)), testutil::FromString(row.bytes));
  }
}

}  // namespace
