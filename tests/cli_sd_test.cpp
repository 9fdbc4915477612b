// moravelt-cli sd: ls, find and check on a sample SD card, and the exit statuses of split
// and merge.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "card/card.h"
#include "io/file.h"
#include "io/fs_path.h"
#include "support/card_builder.h"
#include "support/cli_runner.h"
#include "support/ps1_builder.h"
#include "support/ps1_card_builder.h"
#include "support/sd_tree.h"
#include "support/vcd_builder.h"

namespace {

namespace fs = std::filesystem;
using testutil::RunCli;

// "Ｓｉｒｅｎ" in Shift-JIS.
const std::string kSirenSjis = "\x82\x72\x82\x89\x82\x92\x82\x85\x82\x8E";

// A card at root/relative holding one save with a title.
void PutTitledSave(const testutil::TempDir& dir, const std::string& root, const std::string& relative,
                   const std::string& folder, const std::string& title) {
  const std::string path = testutil::PutCard(dir, root, relative, {});
  testutil::WriteFile(dir.File("icon.sys"), testutil::MakeIconSys(title));
  testutil::WriteFile(dir.File("DATA"), testutil::MakeBytes(2000, 4));
  CGeneric save;
  save.AddEntryFromDisk(dir.File("icon.sys"), "icon.sys");
  save.AddEntryFromDisk(dir.File("DATA"), "DATA");
  save.SetName(-1, folder);
  ASSERT_EQ(card::OpenCard(path).card->Import(save).result, card::ImportResult::kImported);
}

TEST(CliSd, ListFindAndCheckASampleSdCard) {
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string root = dir.File("sd");
  PutTitledSave(dir, root, "MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd", "BASLUS-20946SIREN", kSirenSjis);
  testutil::WriteFile(io::JoinPath(root, "MemoryCards/PS2/SLUS-20946/SLUS-20946.ini"),
                      testutil::FromString("[ChannelName]\n1=Ma\x1b" "in\n"));
  testutil::PutCard(dir, root, "MemoryCards/PS2/SLUS-20946/SLUS-20946-2.mcd", {}, /*ecc=*/true);
  testutil::PutCard(dir, root, "VMC/SLUS_210.05_0.bin", {{"BASLUS-21005KH", 1000, 2}});
  const std::string ps1 = io::JoinPath(root, "MemoryCards/PS1/SCUS-94163/SCUS-94163-1.mcd");
  fs::create_directories(io::ToFsPath(ps1).parent_path());
  testutil::Ps1Card ps1Card;
  ps1Card.PutSave("BASCUS-94163FF7", {1}, testutil::MakePs1Blocks(1, 5));
  testutil::WriteFile(ps1, ps1Card.bytes);

  auto ls = RunCli({"sd", "ls", "--json", root});
  ASSERT_EQ(ls.code, 0) << ls.err;
  const nlohmann::json all = nlohmann::json::parse(ls.out);
  ASSERT_EQ(all["cards"].size(), 4u);
  // The PS1 card: its saves and its free blocks.
  EXPECT_EQ(all["cards"][0]["console"], "PS1");
  EXPECT_EQ(all["cards"][0]["readable"], true);
  EXPECT_EQ(all["cards"][0]["saves"], 1);
  EXPECT_EQ(all["cards"][0]["free_blocks"], 14);
  EXPECT_EQ(all["cards"][0]["refused"], "");
  nlohmann::json j = all;
  j["cards"].erase(0);
  const nlohmann::json& first = j["cards"][0];
  EXPECT_EQ(first["card"], "MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd");
  EXPECT_EQ(first["console"], "PS2");
  EXPECT_EQ(first["layout"], "sd2psx");
  EXPECT_EQ(first["folder"], "SLUS-20946");
  EXPECT_EQ(first["channel"], 1);
  EXPECT_EQ(first["channel_name"], "Ma\x1b" "in");  // exact in JSON, escaped on the terminal
  EXPECT_EQ(first["size_mb"], 8);
  EXPECT_EQ(first["saves"], 1);
  EXPECT_EQ(first["refused"], "");
  EXPECT_EQ(j["cards"][1]["ecc"], true);
  EXPECT_EQ(j["cards"][1]["refused"], "it has ECC, which sd2psx refuses");
  EXPECT_EQ(j["cards"][2]["layout"], "Open PS2 Loader");
  EXPECT_EQ(j["cards"][2]["saves"], 1);
  const auto text = RunCli({"sd", "ls", root}).out;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5) << text;
  EXPECT_NE(text.find("refused: it has ECC"), std::string::npos) << text;
  EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
  const std::string ps1Row = text.substr(text.find("MemoryCards/PS1/"), text.find("MemoryCards/PS2/") - text.find("MemoryCards/PS1/"));
  EXPECT_NE(ps1Row.find("128 KB PS1 card"), std::string::npos) << text;
  EXPECT_NE(ps1Row.find("14 blocks"), std::string::npos) << text;

  struct Search {
    std::string text;
    int code;
    std::string out;
    bool prefix = false;
  };
  const Search searches[] = {
      {"siren", 0, "MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd: BASLUS-20946SIREN  \xEF\xBC\xB3\xEF\xBD\x89\xEF\xBD\x92\xEF\xBD\x85\xEF\xBD\x8E\n"},
      {"\xEF\xBD\x8B\xEF\xBC\xA8", 0, "VMC/SLUS_210.05_0.bin: BASLUS-21005KH\n"},  // ｋＨ
      {"slus-2", 0, "MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd: BASLUS-20946SIREN  \xEF\xBC\xB3\xEF\xBD\x89\xEF\xBD\x92\xEF\xBD\x85\xEF\xBD\x8E\n"
                    "VMC/SLUS_210.05_0.bin: BASLUS-21005KH\n"},
      {"sirens", 1, ""},
      {"94163ff", 0, "MemoryCards/PS1/SCUS-94163/SCUS-94163-1.mcd: BASCUS-94163FF7", true},
  };
  for (const Search& s : searches) {
    auto run = RunCli({"sd", "find", root, s.text});
    EXPECT_EQ(run.code, s.code) << s.text;
    // A PS1 save's title follows its name: the row gives the line up to it.
    EXPECT_EQ(s.prefix ? run.out.substr(0, s.out.size()) : run.out, s.out) << s.text;
    if (s.prefix) {
      EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    }
  }

  // The card with ECC is one sd2psx refuses; without it, and with a loop in a chain, the
  // damage is what check reports.
  auto check = RunCli({"sd", "check", root});
  EXPECT_EQ(check.code, 1);
  EXPECT_NE(check.out.find("MemoryCards/PS2/SLUS-20946/SLUS-20946-2.mcd: sd2psx refuses it: it has ECC, which sd2psx refuses\n"),
            std::string::npos) << check.out;
  EXPECT_NE(check.out.find("4 cards checked, 1 with problems\n"), std::string::npos) << check.out;
  fs::remove(io::ToFsPath(io::JoinPath(root, "MemoryCards/PS2/SLUS-20946/SLUS-20946-2.mcd")));
  check = RunCli({"sd", "check", root});
  EXPECT_EQ(check.code, 0) << check.out;
  EXPECT_EQ(check.out, "MemoryCards/PS1/SCUS-94163/SCUS-94163-1.mcd: No problems found\n"
                       "MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd: No problems found\n"
                       "VMC/SLUS_210.05_0.bin: No problems found\n3 cards checked, 0 with problems\n");
  testutil::CardFile vmc = testutil::CardFile::Read(io::JoinPath(root, "VMC/SLUS_210.05_0.bin"));
  vmc.SetFat(3, 0x80000003);  // the save's data chain comes back to itself
  vmc.Store();
  check = RunCli({"sd", "check", root});
  EXPECT_EQ(check.code, 1);
  EXPECT_NE(check.out.find("VMC/SLUS_210.05_0.bin: damage: "), std::string::npos) << check.out;
}

TEST(CliSd, SplitAndMergeSayWhenASaveWentNowhere) {
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string root = dir.File("sd");
  fs::create_directories(root);
  const std::string source = testutil::PutCard(dir, dir.path().string(), "Mcd001.ps2",
                                               {{"BASLUS-20946A", 1000, 1}, {"BADATA-SYSTEM", 100, 2}}, true);
  auto split = RunCli({"sd", "split", source, root});
  EXPECT_EQ(split.code, 0) << split.err;
  EXPECT_EQ(split.out, "BASLUS-20946A -> MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd (new card)\n"
                       "BADATA-SYSTEM -> MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd (system folder)\n"
                       "1 save onto 1 card; 1 copy of system folders\n");
  split = RunCli({"sd", "split", "--layout", "mcp2", "--system", "skip", source, root});
  EXPECT_EQ(split.code, 0) << split.err;
  EXPECT_EQ(testutil::FoldersOn(io::JoinPath(root, "SLUS-20946/SLUS-20946-1.mc2")), std::vector<std::string>{"BASLUS-20946A"});

  // The game's only channel holds another save of that name: it goes nowhere.
  testutil::PutCard(dir, root, "MemoryCards/PS2/SLUS-21005/SLUS-21005-1.mcd", {{"BASLUS-21005B", 100, 10}});
  testutil::WriteFile(io::JoinPath(root, "MemoryCards/PS2/SLUS-21005/SLUS-21005.ini"),
                      testutil::FromString("[Settings]\nMaxChannels=1\n"));
  const std::string other = testutil::PutCard(dir, dir.path().string(), "Mcd002.ps2", {{"BASLUS-21005B", 100, 9}});
  split = RunCli({"sd", "split", other, root});
  EXPECT_EQ(split.code, 1);
  EXPECT_EQ(split.out.rfind("skipped: BASLUS-21005B: every channel of SLUS-21005 (1-1)", 0), 0u) << split.out;

  auto merge = RunCli({"sd", "merge", "--game", "SLUS_209.46", root, dir.File("kh.bin")});
  EXPECT_EQ(merge.code, 0) << merge.err;
  EXPECT_EQ(testutil::FoldersOn(dir.File("kh.bin")), (std::vector<std::string>{"BASLUS-20946A", "BADATA-SYSTEM"}));
  EXPECT_EQ(card::OpenCard(dir.File("kh.bin")).card->type(), card::CardType::kRawImage);

  // Usage and cards that can't be read.
  EXPECT_EQ(RunCli({"sd", "split", "--layout", "dexdrive", source, root}).code, 2);
  EXPECT_EQ(RunCli({"sd", "ls", dir.File("missing")}).code, 2);
  auto missing = RunCli({"sd", "split", dir.File("missing.ps2"), root});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "the file can't be opened\n");
  testutil::Ps1Card ps1;
  ps1.PutSave("BASLUS-00958GS", {1}, testutil::MakePs1Blocks(1, 1));
  testutil::WriteFile(dir.File("ps1.mcd"), ps1.bytes);
  auto opl = RunCli({"sd", "split", "--layout", "opl", dir.File("ps1.mcd"), root});
  EXPECT_EQ(opl.code, 1);
  EXPECT_NE(opl.err.find("Open PS2 Loader takes no PS1 cards"), std::string::npos) << opl.err;
}

// A POPStarter drive: ls names each card's game and disc ID, split --layout pops skips the
// save whose disc is absent (exit 1) and refuses a PS2 card, check reports a VMCDIR.TXT
// POPStarter would ignore.
TEST(CliSd, PopStarterFolders) {
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string root = dir.File("usb");
  fs::create_directories(io::ToFsPath(io::JoinPath(root, "POPS/FF7 (Disc 2)")));
  testutil::WriteFile(io::JoinPath(root, "POPS/FF7 (Disc 1).VCD"), testutil::MakeVcdBooting("SCUS_941.63"));
  testutil::WriteFile(io::JoinPath(root, "POPS/FF7 (Disc 2).VCD"), testutil::MakeVcdBooting("SCUS_941.64"));
  testutil::WriteFile(io::JoinPath(root, "POPS/FF7 (Disc 2)/VMCDIR.TXT"), testutil::FromString("FF7 (Disc 1)"));
  testutil::Ps1Card source;
  source.PutSave("BASCUS-94164FF7", {1}, testutil::MakePs1Blocks(1, 1));
  source.PutSave("BASLUS-00594GONE", {2}, testutil::MakePs1Blocks(1, 2));
  testutil::WriteFile(dir.File("source.mcd"), source.bytes);

  auto split = RunCli({"sd", "split", "--layout", "pops", dir.File("source.mcd"), root});
  EXPECT_EQ(split.code, 1) << split.err;
  EXPECT_EQ(split.out,
            "skipped: BASLUS-00594GONE: no .VCD here is the disc of SLUS-00594 (its SYSTEM.CNF read)\n"
            "BASCUS-94164FF7 -> POPS/FF7 (Disc 1)/SLOT0.VMC (new card), as POPS/FF7 (Disc 2)/VMCDIR.TXT says\n"
            "1 save onto 1 card; 1 skipped\n");
  EXPECT_NE(RunCli({"sd", "ls", root}).out.find("POPStarter  FF7 (Disc 1) (SCUS-94163); also FF7 (Disc 2)  1 "), std::string::npos);
  const nlohmann::json j = nlohmann::json::parse(RunCli({"sd", "ls", "--json", root}).out);
  EXPECT_EQ(j["cards"][0]["game_id"], "SCUS-94163");
  EXPECT_EQ(j["cards"][0]["shared_by"], nlohmann::json::array({"FF7 (Disc 2)"}));

  EXPECT_EQ(RunCli({"sd", "check", root}).code, 0);
  testutil::WriteFile(io::JoinPath(root, "POPS/FF7 (Disc 2)/VMCDIR.TXT"), testutil::FromString("FF7 (Disc 1)\nFF7 (Disc 3)"));
  auto check = RunCli({"sd", "check", root});
  EXPECT_EQ(check.code, 1);
  EXPECT_EQ(check.out, "POPS/FF7 (Disc 1)/SLOT0.VMC: No problems found\n"
                       "POPS/FF7 (Disc 2)/VMCDIR.TXT: not followed: more than one line: POPStarter ignores it\n"
                       "1 card checked, 0 with problems; 1 VMCDIR.TXT file not followed\n");
  const std::string ps2 = testutil::PutCard(dir, dir.path().string(), "Mcd001.ps2", {{"BASCUS-94163A", 100, 1}});
  auto refused = RunCli({"sd", "split", "--layout", "pops", ps2, root});
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.err, "a PS2 card: POPStarter's cards are PS1 cards, and only a PS1 card's saves go on them\n");
}

}  // namespace
