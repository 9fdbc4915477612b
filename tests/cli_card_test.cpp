// The card commands: the corpus cards, saves going on and off each kind of card, full and
// damaged cards, formats, layout conversions, refusals, and the CARD:FOLDER names.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/common.h"
#include "formats/registry.h"
#include "model/entry_data.h"
#include "support/card_builder.h"
#include "support/cli_runner.h"
#include "support/psu_builder.h"

using testutil::Bytes;
using testutil::RunCli;
namespace fs = std::filesystem;

namespace {

// The folder name (under " ") and every file's bytes by name, of a save file or a folder.
std::map<std::string, Bytes> FilesOf(const std::string& path) {
  std::map<std::string, Bytes> files;
  if (fs::is_directory(path)) {
    files[" "] = testutil::FromString(fs::path(path).filename().string());
    for (const auto& e : fs::directory_iterator(path)) files[e.path().filename().string()] = testutil::ReadFile(e.path().string());
    return files;
  }
  auto save = CreateForExtension(ExtensionOf(path));
  EXPECT_TRUE(save && save->Load(path) == LoadResult::kOk) << path;
  if (!save || !save->entries) return files;
  files[" "] = testutil::FromString(std::string(save->EntryAt(-1)->Name()));
  for (int i = 0; i < save->FileCount(); ++i)
    EXPECT_EQ(ReadEntryData(*save->EntryAt(i), save->container.get(), files[std::string(save->EntryAt(i)->Name())]), DataResult::kOk);
  return files;
}

std::string WriteSave(const testutil::TempDir& dir, const std::string& folder, std::size_t dataSize, std::uint32_t seed) {
  testutil::PsuImage image;
  image.folder = folder;
  image.files = {{"icon.sys", testutil::MakeIconSys("\x82\x60")}, {"DATA", testutil::MakeBytes(dataSize, seed)}, {"empty", {}}};
  testutil::WriteFile(dir.File(folder + ".psu"), image.Build());
  return dir.File(folder + ".psu");
}

// card.ps2 in `dir`, formatted and holding BESLES-11111AAA with `dataSize` bytes of data,
// both through the command line.
std::string CardWithOneSave(const testutil::TempDir& dir, std::size_t dataSize) {
  const std::string card = dir.File("card.ps2");
  EXPECT_EQ(RunCli({"card", "format", card}).code, 0);
  EXPECT_EQ(RunCli({"card", "import", card, WriteSave(dir, "BESLES-11111AAA", dataSize, 1)}).code, 0);
  return card;
}

std::vector<std::string> Folders(const std::string& card) {
  auto run = RunCli({"card", "ls", "--json", card});
  EXPECT_EQ(run.code, 0) << run.err;
  std::vector<std::string> folders;
  const nlohmann::json listing = run.code == 0 ? nlohmann::json::parse(run.out) : nlohmann::json::object();
  for (const auto& s : listing.value("saves", nlohmann::json::array())) folders.push_back(s["folder"]);
  return folders;
}

}  // namespace

TEST(CliCard, CorpusCards) {
  REQUIRE_CORPUS(a, "card/a.ps2");
  REQUIRE_CORPUS(empty, "card/b-empty.ps2");
  REQUIRE_CORPUS(psu, "psu/a.psu");
  testutil::TempDir dir;
  for (const std::string& card : {a, empty}) EXPECT_EQ(RunCli({"card", "check", card}).out, "No problems found\n");
  EXPECT_EQ(RunCli({"card", "ls", empty}).out, "No saves\n8,000 KB free\n");
  EXPECT_NE(RunCli({"card", "ls", a}).out.find("BESCES-50501REZ  53 KB  2018-04-21 23:53:09  0x00008427  Rez    "
                                               "\xEF\xBC\xB2\xEF\xBD\x85\xEF\xBD\x9A\n7,941 KB free\n"),
            std::string::npos);
  EXPECT_EQ(Folders(a), (std::vector<std::string>{"BEDATA-SYSTEM", "BESCES-50501REZ"}));

  // Off the card in every writable family, as a folder, and read where a save file is.
  const auto expected = FilesOf(psu);
  for (const FormatFamily& family : Families()) {
    if (!family.Can(kWritesConversions) || !family.HoldsPs2()) continue;
    const std::string out = dir.File(std::string(family.name));
    ASSERT_EQ(RunCli({"card", "export", a, "BESCES-50501REZ", "--to", std::string(family.name), "-o", out}).code, 0);
    // A PS3 takes its export only under the name it makes from the folder.
    const std::string name = family.name == "psv" ? "BESCES-5050152455A.PSV"
                                                  : "BESCES-50501REZ." + std::string(family.OwnExtension());
    EXPECT_EQ(FilesOf(out + "/" + name), expected) << family.name;
  }
  ASSERT_EQ(RunCli({"card", "export", a, "--all", "--to", "folder", "-o", dir.File("f")}).code, 0);
  EXPECT_EQ(FilesOf(dir.File("f/BESCES-50501REZ")), expected);
  ASSERT_EQ(RunCli({"convert", a + ":BESCES-50501REZ", dir.File("c.psu")}).code, 0);
  EXPECT_EQ(FilesOf(dir.File("c.psu")), expected);
  EXPECT_EQ(nlohmann::json::parse(RunCli({"info", "--json", a + ":BESCES-50501REZ"}).out)["format"], "card");
  EXPECT_EQ(RunCli({"info", a}).err, "Unknown file type\nthis looks like a memory card image: see moravelt-cli card ls\n");
}

// Each kind of card takes saves from save files, folders and other cards, gives them back
// unchanged, and checks clean throughout.
TEST(CliCard, ImportCheckExportRemove) {
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string first = WriteSave(dir, "BESLES-11111AAA", 5000, 1);
  const std::string second = WriteSave(dir, "BESLES-22222BBB", 70000, 2);
  ASSERT_EQ(RunCli({"unpack", second, dir.File("pc")}).code, 0);
  const struct { const char* name; std::vector<std::string> format; } kinds[] = {{"ecc.ps2", {}}, {"raw.bin", {}}, {"raw.img", {"--raw", "--size", "16M"}}, {"Mcd009.ps2", {"--folder"}}};
  for (const auto& k : kinds) {
    const std::string card = dir.File(k.name), out = dir.File(std::string(k.name) + "-out");
    std::vector<std::string> format = {"card", "format", card};
    format.insert(format.end(), k.format.begin(), k.format.end());
    ASSERT_EQ(RunCli(format).code, 0) << k.name;
    // The second save from a PC folder onto the first card, and from that card onto the others.
    const std::string from = k.name == kinds[0].name ? dir.File("pc/BESLES-22222BBB") : dir.File("ecc.ps2:BESLES-22222BBB");
    auto imported = RunCli({"card", "import", card, first, from});
    ASSERT_EQ(imported.code, 0) << k.name << imported.err;
    EXPECT_EQ(Folders(card), (std::vector<std::string>{"BESLES-11111AAA", "BESLES-22222BBB"})) << k.name;
    EXPECT_EQ(RunCli({"card", "check", card}).code, 0) << k.name;
    ASSERT_EQ(RunCli({"card", "export", card, "--all", "-o", out}).code, 0) << k.name;
    EXPECT_EQ(FilesOf(out + "/BESLES-11111AAA.psu"), FilesOf(first)) << k.name;
    EXPECT_EQ(FilesOf(out + "/BESLES-22222BBB.psu"), FilesOf(second)) << k.name;
    EXPECT_EQ(RunCli({"card", "export", card, "BESLES-11111AAA", "-o", out}).code, 1) << "overwritten " << k.name;

    auto twice = RunCli({"card", "import", card, first});
    EXPECT_EQ(twice.err, "BESLES-11111AAA is already on the card\n") << k.name;
    EXPECT_EQ(RunCli({"card", "import", "--replace", card, card + ":BESLES-11111AAA"}).code, 0) << k.name;
    auto removed = RunCli({"card", "rm", card, "BESLES-11111AAA", "NOTHERE"});
    EXPECT_EQ(removed.code, 1) << k.name;
    EXPECT_EQ(removed.err, "NOTHERE is not on the card\n") << k.name;
    EXPECT_EQ(Folders(card), std::vector<std::string>{"BESLES-22222BBB"}) << k.name;
    EXPECT_EQ(RunCli({"card", "check", card}).code, 0) << k.name;
  }
}

TEST(CliCard, ExportedNamesAreSafeAndDistinct) {
  testutil::TempDir dir;
  const std::string card = dir.File("card.ps2");
  ASSERT_EQ(RunCli({"card", "format", card}).code, 0);
  ASSERT_EQ(RunCli({"card", "import", card, WriteSave(dir, "CON", 10, 1), WriteSave(dir, "con", 10, 2)}).code, 0);
  auto run = RunCli({"card", "export", card, "--all", "-o", dir.File("out")});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, dir.File("out/_CON.psu") + "\n" + dir.File("out/_con~2.psu") + "\n");
  EXPECT_EQ(run.err, "renamed: \"CON.psu\" is written as \"_CON.psu\"\nrenamed: \"con.psu\" is written as \"_con~2.psu\"\n");
  EXPECT_EQ(FilesOf(dir.File("out/_con~2.psu")), FilesOf(dir.File("con.psu")));
}

TEST(CliCard, AFullCardIsRefusedUnchanged) {
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string card = dir.File("card.ps2");
  ASSERT_EQ(RunCli({"card", "format", card}).code, 0);
  // Each save: icon.sys 1 cluster, DATA 4,882, the directory of 5 entries 3; the first
  // save also starts the root's second cluster.
  ASSERT_EQ(RunCli({"card", "import", card, WriteSave(dir, "BIG1", 5000000 - 964, 1)}).code, 0);
  const Bytes before = testutil::ReadFile(card);
  auto run = RunCli({"card", "import", card, WriteSave(dir, "BIG2", 5000000 - 964, 2)});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, "BIG2 does not fit: needs 4,886 KB, 3,113 KB free\n");
  EXPECT_TRUE(testutil::ReadFile(card) == before);
}

TEST(CliCard, FormatSizesAndLayouts) {
  testutil::TempDir dir(testutil::FastTempBase());
  const struct {
    std::vector<std::string> args;  // after "card format NAME"
    const char* name;
    std::uintmax_t bytes;  // 0: refused
    const char* out;       // ls, or the error
  } rows[] = {
      {{}, "a.ps2", 8650752, "No saves\n8,000 KB free\n"},
      {{"--size", "16M"}, "b.bin", 16777216, "No saves\n16,000 KB free\n"},
      {{"--size", "32m"}, "c.vmc", 33554432, "No saves\n32,000 KB free\n"},
      {{"--size", "64M", "--ecc"}, "d.vmc", 69206016, "No saves\n65,000 KB free\n"},
      {{"--size", "8", "--raw"}, "e.ps2", 8388608, "No saves\n8,000 KB free\n"},
      // Below 8 MB the whole allocation area is free, less the root's cluster.
      {{"--size", "1M"}, "f.mcd", 1048576, "No saves\n994 KB free\n"},
      {{"--size", "2M", "--ecc"}, "g.ps2", 2162688, "No saves\n2,014 KB free\n"},
      {{"--size", "4m"}, "h.bin", 4194304, "No saves\n4,054 KB free\n"},
      {{"--size", "12M"}, "x.ps2", 0, "A card is 1, 2, 4, 8, 16, 32 or 64 MB\n"},
      {{}, "a.ps2", 0, "Something is already there; nothing was formatted (--force formats over a file)\n"},
      {{"--folder"}, "a.ps2", 0, "Something is already there; nothing was formatted\n"},
  };
  for (const auto& r : rows) {
    std::vector<std::string> args = {"card", "format", dir.File(r.name)};
    args.insert(args.end(), r.args.begin(), r.args.end());
    auto run = RunCli(args);
    EXPECT_EQ(run.code == 0, r.bytes != 0) << r.name << run.err;
    EXPECT_EQ(r.bytes ? RunCli({"card", "ls", dir.File(r.name)}).out : run.err, r.out) << r.name;
    if (r.bytes) {
      EXPECT_EQ(fs::file_size(dir.path() / r.name), r.bytes) << r.name;
      // Every size but 8 MB is made with a warning.
      const bool eight = r.bytes == 8650752 || r.bytes == 8388608;
      EXPECT_EQ(run.err.rfind("warning: Some games refuse a card of ", 0) == 0, !eight) << r.name << run.err;
    }
  }
  EXPECT_FALSE(fs::exists(dir.path() / "x.ps2"));
  ASSERT_EQ(RunCli({"card", "format", "--folder", dir.File("Mcd001.ps2")}).code, 0);
  EXPECT_EQ(fs::file_size(dir.path() / "Mcd001.ps2/_pcsx2_superblock"), 8192u);
  EXPECT_EQ(RunCli({"card", "ls", dir.File("Mcd001.ps2")}).out, "No saves\n7,999 KB free\n");
}

TEST(CliCard, ConvertBetweenEccAndRaw) {
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string ecc = dir.File("card.ps2");
  ASSERT_EQ(RunCli({"card", "format", ecc}).code, 0);
  ASSERT_EQ(RunCli({"card", "import", ecc, WriteSave(dir, "BESLES-11111AAA", 40000, 1)}).code, 0);
  // ECC -> raw -> ECC -> raw: the raw images are the same, and every image reads the same.
  for (const auto& [from, to] : {std::pair{"card.ps2", "a.bin"}, {"a.bin", "b.ps2"}, {"b.ps2", "c.mcd"}}) {
    ASSERT_EQ(RunCli({"card", "convert", dir.File(from), dir.File(to)}).code, 0) << to;
    EXPECT_EQ(Folders(dir.File(to)), std::vector<std::string>{"BESLES-11111AAA"}) << to;
    EXPECT_EQ(RunCli({"card", "check", dir.File(to)}).code, 0) << to;
  }
  const Bytes raw = testutil::ReadFile(dir.File("a.bin"));
  EXPECT_TRUE(testutil::ReadFile(dir.File("c.mcd")) == raw);
  ASSERT_EQ(RunCli({"card", "format", "--folder", dir.File("Mcd001.ps2")}).code, 0);
  const struct { const char* from; const char* to; int code; std::string err; } rows[] = {
      {"card.ps2", "same.ps2", 1, "The image already has that layout\n"},
      {"card.ps2", "x.img", 2,
       "Name the layout: OUT ending in .ps2 or .vm2 (with ECC) or .mc2, .mcd, .bin or .vmc (raw), or --ecc or --raw\n"},
      {"card.ps2", "a.bin", 1, "exists, not overwritten (use --force): \"" + dir.File("a.bin") + "\"\n"},
      {"Mcd001.ps2", "m.bin", 1,
       "A PCSX2 folder card has no layout to convert: only card images have ECC or not\n"},
      {"a.bin/none", "m.bin", 1, "Not a PS2 memory card image\n"},
  };
  for (const auto& r : rows) {
    auto run = RunCli({"card", "convert", dir.File(r.from), dir.File(r.to)});
    EXPECT_EQ(run.code, r.code) << r.to;
    EXPECT_EQ(run.err, r.err) << r.to;
  }
  EXPECT_FALSE(fs::exists(dir.path() / "same.ps2") || fs::exists(dir.path() / "x.img") || fs::exists(dir.path() / "m.bin"));
  EXPECT_TRUE(testutil::ReadFile(dir.File("a.bin")) == raw);
  // In place, and named by a flag.
  ASSERT_EQ(RunCli({"card", "convert", "--raw", ecc, ecc}).code, 0);
  EXPECT_TRUE(testutil::ReadFile(ecc) == raw);
}

TEST(CliCard, DamageIsReportedAndRepairedWhereSafe) {
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string card = CardWithOneSave(dir, 40000);
  const Bytes good = testutil::ReadFile(card);
  testutil::CardFile file = testutil::CardFile::Read(card);
  const DirEntry save = file.Entry(file.EntryPage(0, 2));
  ASSERT_EQ(save.Name(), "BESLES-11111AAA");

  // One bit of the save's directory page: a notice, rewritten by --repair.
  file.Page(file.ClusterPage(save.cluster))[100] ^= 0x04;
  file.Store();
  EXPECT_EQ(RunCli({"card", "check", card}).out, "notice: page " + std::to_string(file.ClusterPage(save.cluster)) +
                                                 ": one wrong data bit in chunk 0, correctable [ecc-corrected]\n");
  auto repair = RunCli({"card", "check", "--repair", card});
  EXPECT_EQ(repair.code, 0);
  EXPECT_NE(repair.out.find("\nRepaired: 1 pages corrected, 0 lost clusters freed\n"), std::string::npos) << repair.out;
  EXPECT_TRUE(testutil::ReadFile(card) == good);

  // Its chain coming back to itself: damage, listed, and nothing written.
  file = testutil::CardFile::Read(card);
  file.SetFat(save.cluster, 0x80000000u | save.cluster);
  file.Store();
  const Bytes damaged = testutil::ReadFile(card);
  auto checked = RunCli({"card", "check", card});
  EXPECT_EQ(checked.code, 1);
  EXPECT_EQ(checked.out.rfind("damage: ", 0), 0u) << checked.out;
  EXPECT_NE(checked.out.find(" [chain-loop]\n"), std::string::npos) << checked.out;
  EXPECT_EQ(RunCli({"card", "check", "--repair", card}).code, 1);
  EXPECT_NE(RunCli({"card", "ls", card}).err.find("note: the card has damage"), std::string::npos);
  for (const std::vector<std::string>& args : {std::vector<std::string>{"card", "rm", card, "BESLES-11111AAA"},
                                               {"card", "import", card, WriteSave(dir, "BESLES-33333CCC", 10, 3)}}) {
    auto run = RunCli(args);
    EXPECT_EQ(run.code, 1) << args[1];
    EXPECT_EQ(run.err, "The card is damaged and is not written to; check it first\n") << args[1];
  }
  EXPECT_TRUE(testutil::ReadFile(card) == damaged);
}

TEST(CliCard, RefusalsAndUsage) {
  testutil::TempDir dir;
  const std::string save = WriteSave(dir, "BESLES-11111AAA", 100, 1), card = dir.File("card.ps2");
  ASSERT_EQ(RunCli({"card", "format", card}).code, 0);
  ASSERT_EQ(RunCli({"card", "import", card, save}).code, 0);
  fs::create_directories(dir.path() / "pc/inner");
  const struct { std::vector<std::string> args; int code; std::string err; } rows[] = {  // err: its first line
      {{"card", "ls", save}, 1, "not a PS2 memory card image"},
      {{"card", "export", card}, 2, "card export needs either SAVE... or --all"},
      {{"card", "export", card, "--all", "--to", "zip"}, 2,
       "No family \"zip\" to write: --to takes psu, xps, max, cbs, psv or folder"},
      {{"card", "export", card, "NOTHERE", "-o", dir.File("out")}, 1, "NOTHERE is not on the card"},
      {{"card", "import", card, dir.File("pc")}, 1,
       dir.File("pc") + ": The folder holds a subfolder, \"inner\": a save holds files only"},
      {{"card", "import", card, card}, 1, card + ": Unknown file type"},
      {{"rename", card + ":BESLES-11111AAA", "NEW"}, 2,
       "A save on a card is not changed there: name a .psu, .xps, .max, .pws, .cbs or .psv file to write with -o OUT, then put it back "
       "with card import --replace"},
      {{"info", card + ":NOTHERE"}, 1, "NOTHERE is not on the card"},
  };
  for (const auto& r : rows) {
    auto run = RunCli(r.args);
    EXPECT_EQ(run.code, r.code) << r.args.back() << run.err;
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), r.err) << r.args.back();
  }
  EXPECT_EQ(Folders(card), std::vector<std::string>{"BESLES-11111AAA"});
}

TEST(CliCard, CardSaveNames) {
  const struct { const char* text; const char* card; const char* folder; } rows[] = {  // card nullptr: none
      {"Mcd001.ps2:BESCES-50501REZ", "Mcd001.ps2", "BESCES-50501REZ"}, {"a:b:SAVE", "a:b", "SAVE"},
      {"D:\\cards\\Mcd001.ps2:BESCES-50501REZ", "D:\\cards\\Mcd001.ps2", "BESCES-50501REZ"},
      {"D:\\saves\\game.psu", nullptr, nullptr}, {"D:game.psu", nullptr, nullptr}, {"card.ps2:", nullptr, nullptr},
      {":SAVE", nullptr, nullptr}, {"card.ps2:dir/file", nullptr, nullptr}, {"card.ps2:dir\\file", nullptr, nullptr},
      {"card.ps2:123456789012345678901234567890123", nullptr, nullptr},
  };
  for (const auto& r : rows) {
    std::optional<cli::CardSaveName> name = cli::SplitCardSaveName(r.text);
    ASSERT_EQ(name.has_value(), r.card != nullptr) << r.text;
    if (name) {
      EXPECT_EQ(name->card + "|" + name->folder, std::string(r.card) + "|" + r.folder);
    }
  }
}

// card check and card check --repair on cards damaged where only a check sees it: a
// superblock that lost its signature, names with "/", and a blank file.
TEST(CliCard, CheckNamesDamageAndRepairRebuildsOnlyAWholeCard) {
  testutil::TempDir dir(testutil::FastTempBase());
  const std::string card = CardWithOneSave(dir, 4000);
  const Bytes good = testutil::ReadFile(card);
  const testutil::CardFile whole = testutil::CardFile::Read(card);
  auto noMagic = [](testutil::CardFile& f) {
    std::memset(f.Page(0), 'X', 4);
    f.Reseal(0);
  };
  auto rename = [](testutil::CardFile& f, std::uint32_t firstCluster, std::uint32_t index, const char* name) {
    DirEntry e = f.Entry(f.EntryPage(firstCluster, index));
    e.SetName(name);
    f.SetEntry(f.EntryPage(firstCluster, index), e);
  };
  const std::string lost = "error: superblock: card.ps2 is a damaged memory card: its superblock (page 0) has lost the card "
                           "signature, ";
  const std::string slash = ": a name with \"/\", which no card entry can have [bad-directory]\n";
  const struct {
    const char* why;
    std::function<void(testutil::CardFile&)> damage;
    std::string check;   // what card check prints
    int repairCode;
    std::string repair;  // the line card check --repair ends with
    bool restored;       // the repair gives back the card as it was
  } rows[] = {
      {"the signature overwritten", noMagic,
       lost + "while its FAT and directories are whole; moravelt-cli card check --repair can rebuild the superblock "
              "[damaged-superblock]\n",
       0, "Repaired: the superblock was rebuilt from the card's layout", true},
      {"and a chain that loops",
       [&](testutil::CardFile& f) {
         noMagic(f);
         f.SetFat(7, 0x80000005);
       },
       lost + "and its FAT or directories are damaged too, so the superblock can't be rebuilt [damaged-superblock]\n", 1,
       "Nothing that can be repaired safely", false},
      {"the cluster count overwritten", [](testutil::CardFile& f) { f.SetSuperblockWord(0x30, 12345); },
       "error: superblock: card.ps2 is a damaged memory card: its superblock describes a card of 12345 clusters, which "
       "is not what a file of 8650752 bytes holds; moravelt-cli card check --repair can rebuild the superblock "
       "[size-mismatch]\n",
       0, "Repaired: the superblock was rebuilt from the card's layout", true},
      {"a save folder named with a slash",
       [&](testutil::CardFile& f) { rename(f, 0, 2, "BESLES-1/../x"); },
       "damage: BESLES-1/../x" + slash, 1, "Nothing that can be repaired safely", false},
  };
  for (const auto& r : rows) {
    testutil::CardFile f = whole;
    r.damage(f);
    f.Store();
    auto checked = RunCli({"card", "check", card});
    EXPECT_EQ(checked.code, 1) << r.why;
    EXPECT_EQ(checked.out, r.check) << r.why;
    auto repaired = RunCli({"card", "check", "--repair", card});
    EXPECT_EQ(repaired.code, r.repairCode) << r.why << repaired.err;
    EXPECT_NE(repaired.out.find(r.repair + "\n"), std::string::npos) << r.why << ": " << repaired.out;
    EXPECT_TRUE(testutil::ReadFile(card) == (r.restored ? good : f.bytes())) << r.why;
  }
  // A file's name with "/" is damage of its save, and the save is listed as such.
  testutil::CardFile f = whole;
  rename(f, f.Entry(f.EntryPage(0, 2)).cluster, 3, "DA/TA");
  f.Store();
  EXPECT_EQ(RunCli({"card", "check", card}).out, "damage: BESLES-11111AAA/DA/TA" + slash);

  // Only a file with no card in it is unformatted, and only it is to be formatted.
  for (std::uint8_t fill : {0x00, 0xFF}) {
    testutil::WriteFile(card, Bytes(8650752, fill));
    auto checked = RunCli({"card", "check", card});
    EXPECT_EQ(checked.code, 1);
    EXPECT_EQ(checked.out, "error: an unformatted card image of 8 MiB: format it first [unformatted]\n") << int(fill);
  }
}
