// The card commands on PS1 cards: listings of the real cards, formats of each kind, saves
// put on, deleted and restored, refusals that leave the card as it was, checks and repairs,
// and conversions between the kinds of file.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/cli_runner.h"
#include "support/ps1_builder.h"
#include "support/ps1_card_builder.h"
#include "support/psu_builder.h"

using testutil::Bytes;
using testutil::RunCli;

namespace {

nlohmann::json Listing(const std::string& card, bool deleted = false) {
  std::vector<std::string> args = {"card", "ls", "--json", card};
  if (deleted) args.push_back("--deleted");
  auto run = RunCli(args);
  EXPECT_EQ(run.code, 0) << run.err;
  return run.code == 0 ? nlohmann::json::parse(run.out) : nlohmann::json::object();
}

std::string Ps1CorpusFolder() {
  const std::string empty = testutil::CorpusPath("ps1card/l-empty.mcd");
  return empty.empty() ? std::string() : std::filesystem::path(empty).parent_path().string();
}

}  // namespace

TEST(CliPs1Card, ListsTheRealCards) {
  const std::string folder = Ps1CorpusFolder();
  if (folder.empty()) GTEST_SKIP() << "no corpus";
  const struct {
    const char* file;
    const char* type;
    std::size_t saves, withDeleted;
    int free;
  } rows[] = {
      {"a.mcd", "PS1 raw", 10, 10, 0},          {"d.gme", "PS1 DexDrive", 2, 7, 7},
      {"e-raw-named-gme.gme", "PS1 raw", 1, 1, 14}, {"f.vmp", "PS1 PSP/Vita", 7, 7, 1},
      {"i-mcx.bin", "PS1 PocketStation", 1, 1, 14}, {"j.vgs", "PS1 VGS", 3, 3, 11},
      {"k-hostile.mcd", "PS1 raw", 1, 1, 14},   {"l-empty.mcd", "PS1 raw", 0, 0, 15},
  };
  for (const auto& r : rows) {
    const std::string card = folder + "/" + r.file;
    const nlohmann::json live = Listing(card), all = Listing(card, true);
    EXPECT_EQ(live["type"], r.type) << r.file;
    EXPECT_EQ(live["saves"].size(), r.saves) << r.file;
    EXPECT_EQ(all["saves"].size(), r.withDeleted) << r.file;
    EXPECT_EQ(live["free_blocks"], r.free) << r.file;
    std::size_t deleted = 0;
    for (const auto& s : all["saves"]) {
      EXPECT_EQ(s["slots"].size(), s["blocks"].get<std::size_t>()) << r.file;
      deleted += s["deleted"].get<bool>() ? 1 : 0;
    }
    EXPECT_EQ(deleted, r.withDeleted - r.saves) << r.file;
  }
  const nlohmann::json gme = Listing(folder + "/d.gme", true);
  EXPECT_EQ(gme["saves"][4]["folder"], "BASCUS-94194GT");
  EXPECT_EQ(gme["saves"][4]["slots"], nlohmann::json({7, 8, 10, 11, 12}));
  EXPECT_EQ(gme["saves"][4]["title_utf8"], "\xEF\xBC\xA7\xEF\xBC\xB4\xE3\x80\x80\xEF\xBD\x87\xEF\xBD\x81\xEF\xBD\x8D\xEF\xBD\x85"
                                           "\xE3\x80\x80\xEF\xBD\x84\xEF\xBD\x81\xEF\xBD\x94\xEF\xBD\x81");  // ＧＴ　ｇａｍｅ　ｄａｔａ
  // The hostile card lists, its save marked damaged with what is wrong.
  const auto hostile = RunCli({"card", "ls", folder + "/k-hostile.mcd"});
  EXPECT_EQ(hostile.code, 0);
  EXPECT_NE(hostile.err.find("FREEPSXBOOT is damaged on the card"), std::string::npos) << hostile.err;
  EXPECT_NE(hostile.err.find("0x339"), std::string::npos) << hostile.err;
}

TEST(CliPs1Card, FormatTakesTheKindFromTheNameOrAs) {
  testutil::TempDir dir;
  const struct {
    std::vector<std::string> args;
    const char* file;
    const char* type;
    std::size_t size;
  } rows[] = {
      {{"--ps1"}, "epsxe.mcr", "PS1 raw", 131072},
      {{"--ps1"}, "dex.gme", "PS1 DexDrive", 0xF40 + 131072},
      {{"--ps1"}, "card.mem", "PS1 VGS", 64 + 131072},
      {{"--ps1"}, "psp.vmp", "PS1 PSP/Vita", 0x80 + 131072},
      {{"--as", "pocketstation"}, "pocket.bin", "PS1 PocketStation", 131232},
      {{"--as", "gme"}, "named.mcd", "PS1 DexDrive", 0xF40 + 131072},
  };
  for (const auto& r : rows) {
    std::vector<std::string> args = {"card", "format", dir.File(r.file)};
    args.insert(args.end(), r.args.begin(), r.args.end());
    const auto run = RunCli(args);
    ASSERT_EQ(run.code, 0) << r.file << ": " << run.err;
    EXPECT_EQ(testutil::ReadFile(dir.File(r.file)).size(), r.size) << r.file;
    const nlohmann::json listing = Listing(dir.File(r.file));
    EXPECT_EQ(listing["type"], r.type) << r.file;
    EXPECT_EQ(listing["free_blocks"], 15) << r.file;
    EXPECT_EQ(RunCli({"card", "check", dir.File(r.file)}).out, "No problems found\n") << r.file;
    EXPECT_EQ(RunCli(args).code, 1) << r.file << ": formatted over an existing file";
  }
  EXPECT_EQ(testutil::ReadFile(dir.File("epsxe.mcr")), testutil::Ps1Card::EmptyCard());
  EXPECT_EQ(RunCli({"card", "format", dir.File("x.mcd"), "--as", "psu"}).code, 2);
}

TEST(CliPs1Card, ImportDeleteRestoreAndTheirRefusals) {
  testutil::TempDir dir;
  const std::string card = dir.File("card.mcr");
  ASSERT_EQ(RunCli({"card", "format", "--ps1", card}).code, 0);
  testutil::Ps1Card source;
  source.PutSave("BASLUS-00001BIG", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, testutil::MakePs1Blocks(12, 1));
  source.PutSave("BASLUS-00002ONE", {13}, testutil::MakePs1Blocks(1, 2));
  testutil::WriteFile(dir.File("source.mcd"), source.bytes);
  testutil::Ps1Card other;
  other.PutSave("BASLUS-00003THREE", {1, 2, 3}, testutil::MakePs1Blocks(3, 3));
  testutil::WriteFile(dir.File("other.mcd"), other.bytes);
  auto onSource = [&](const std::string& name) {
    return dir.File(name == "BASLUS-00003THREE" ? "other.mcd" : "source.mcd") + ":" + name;
  };

  ASSERT_EQ(RunCli({"card", "import", card, onSource("BASLUS-00002ONE"), onSource("BASLUS-00001BIG")}).code, 0);
  Bytes before = testutil::ReadFile(card);
  const struct {
    const char* why;
    std::string save;
    const char* message;
  } refusals[] = {
      {"a name already there", onSource("BASLUS-00002ONE"), "BASLUS-00002ONE is already on the card"},
      {"more blocks than are free", onSource("BASLUS-00003THREE"), "BASLUS-00003THREE does not fit: needs 24 KB, 16 KB free"},
      {"not on the source card", onSource("BASLUS-00009NONE"), "BASLUS-00009NONE is not on the card"},
  };
  for (const auto& r : refusals) {
    const auto run = RunCli({"card", "import", card, r.save});
    EXPECT_EQ(run.code, 1) << r.why;
    EXPECT_NE(run.err.find(r.message), std::string::npos) << r.why << ": " << run.err;
    EXPECT_EQ(testutil::ReadFile(card), before) << r.why;
  }

  // Deleted: listed only with --deleted; its blocks free; restored while they are.
  ASSERT_EQ(RunCli({"card", "rm", card, "BASLUS-00002ONE"}).out, "BASLUS-00002ONE removed from the card\n3 blocks free\n");
  EXPECT_EQ(Listing(card)["saves"].size(), 1u);
  EXPECT_EQ(Listing(card, true)["saves"][0]["deleted"], true);
  ASSERT_EQ(RunCli({"card", "restore", card, "BASLUS-00002ONE"}).out, "BASLUS-00002ONE restored on the card\n2 blocks free\n");
  EXPECT_EQ(testutil::ReadFile(card), before);

  // A deleted save whose last block another save has taken since: the restore says so and
  // changes nothing.
  testutil::Ps1Card reused;
  reused.PutSave("BASLUS-00004PAIR", {5, 2}, testutil::MakePs1Blocks(2, 4));
  reused.SetEntry(5, 0xA1, 2 * 8192, 1, "BASLUS-00004PAIR");
  reused.SetEntry(2, 0xA3, 0, 0xFFFF);
  const std::string second = dir.File("second.mcd");
  testutil::WriteFile(second, reused.bytes);
  ASSERT_EQ(RunCli({"card", "import", second, onSource("BASLUS-00002ONE")}).code, 0);  // block 1
  ASSERT_EQ(RunCli({"card", "restore", second, "BASLUS-00004PAIR"}).code, 0);
  ASSERT_EQ(RunCli({"card", "rm", second, "BASLUS-00004PAIR"}).code, 0);
  ASSERT_EQ(RunCli({"card", "import", second, onSource("BASLUS-00003THREE")}).code, 0);  // blocks 2, 3, 4
  before = testutil::ReadFile(second);
  const auto restore = RunCli({"card", "restore", second, "BASLUS-00004PAIR"});
  EXPECT_EQ(restore.code, 1);
  EXPECT_NE(restore.err.find("another save has taken its blocks"), std::string::npos) << restore.err;
  EXPECT_EQ(testutil::ReadFile(second), before);
}

TEST(CliPs1Card, SavesOfTheOtherConsoleAreRefused) {
  testutil::TempDir dir;
  const std::string ps1 = dir.File("card.mcd"), ps2 = dir.File("card.ps2");
  ASSERT_EQ(RunCli({"card", "format", "--ps1", ps1}).code, 0);
  ASSERT_EQ(RunCli({"card", "format", ps2}).code, 0);
  testutil::PsuImage psu;
  psu.folder = "BESLES-12345GAME";
  psu.files = {{"icon.sys", testutil::MakeIconSys("\x82\x60")}, {"DATA", testutil::MakeBytes(100, 1)}};
  testutil::WriteFile(dir.File("game.psu"), psu.Build());
  testutil::Ps1Card source;
  source.PutSave("BASLUS-00001A", {1}, testutil::MakePs1Blocks(1, 1));
  testutil::WriteFile(dir.File("source.mcd"), source.bytes);
  const Bytes ps1Before = testutil::ReadFile(ps1), ps2Before = testutil::ReadFile(ps2);
  const struct {
    std::string card, save;
    const char* message;
  } rows[] = {
      {ps1, dir.File("game.psu"), "BESLES-12345GAME is a PlayStation 2 save: a PlayStation 1 card can't hold it"},
      {ps2, dir.File("source.mcd") + ":BASLUS-00001A", "BASLUS-00001A is a PlayStation 1 save: a PlayStation 2 card can't hold it"},
  };
  for (const auto& r : rows) {
    const auto run = RunCli({"card", "import", r.card, r.save});
    EXPECT_EQ(run.code, 1) << r.save;
    EXPECT_NE(run.err.find(r.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(testutil::ReadFile(ps1), ps1Before);
  EXPECT_EQ(testutil::ReadFile(ps2), ps2Before);
}

TEST(CliPs1Card, CheckAndRepair) {
  testutil::TempDir dir;
  testutil::Ps1Card built;
  built.PutSave("BASLUS-00001A", {1, 2, 3}, testutil::MakePs1Blocks(3, 1));
  built.SetEntry(3, 0x52, 0, 0xFFFF);  // its last block marked as a middle one
  built.SetEntry(6, 0xA0, 0, 0xFFFF);
  built.Frame(6)[127] ^= 1;            // a wrong check byte
  const std::string card = dir.File("card.mcd");
  testutil::WriteFile(card, built.bytes);
  const auto check = RunCli({"card", "check", card});
  EXPECT_EQ(check.code, 0) << "notices only";
  EXPECT_EQ(check.out,
            "notice: block 6: the directory entry's check byte is wrong [bad-check]\n"
            "notice: BASLUS-00001A: block 3 is marked 0x52 where its place in the chain gives 0x53 [bad-block-state]\n");
  const auto repair = RunCli({"card", "check", "--repair", card});
  EXPECT_EQ(repair.code, 0);
  EXPECT_NE(repair.out.find("Repaired: 1 check bytes set, 1 block states mended"), std::string::npos) << repair.out;
  EXPECT_EQ(RunCli({"card", "check", card}).out, "No problems found\n");
  const Bytes after = testutil::ReadFile(card);
  EXPECT_EQ(after[3 * 128], 0x53);
  // Nothing else changed: two states... one state byte and two check bytes.
  std::size_t changed = 0;
  for (std::size_t i = 0; i < after.size(); ++i) changed += after[i] != built.bytes[i];
  EXPECT_EQ(changed, 3u);
}

TEST(CliPs1Card, ConvertsBetweenEveryKindAndBack) {
  testutil::TempDir dir;
  testutil::Ps1Card built;
  built.PutSave("BASLUS-00001A", {2, 5}, testutil::MakePs1Blocks(2, 1));
  const std::string first = dir.File("first.mcd");
  testutil::WriteFile(first, built.bytes);
  std::string from = first;
  for (const std::pair<const char*, const char*>& step : {std::pair{"a.gme", "PS1 DexDrive"}, {"b.vmp", "PS1 PSP/Vita"},
                                                          {"c.vgs", "PS1 VGS"}, {"d.bin", "PS1 PocketStation"}, {"e.srm", "PS1 raw"}}) {
    std::vector<std::string> args = {"card", "convert", from, dir.File(step.first)};
    if (std::string(step.first) == "d.bin") args = {"card", "convert", from, dir.File(step.first), "--as", "pocketstation"};
    const auto run = RunCli(args);
    ASSERT_EQ(run.code, 0) << step.first << ": " << run.err;
    EXPECT_EQ(Listing(dir.File(step.first))["type"], step.second);
    from = dir.File(step.first);
  }
  EXPECT_EQ(testutil::ReadFile(dir.File("e.srm")), built.bytes);
  EXPECT_EQ(RunCli({"card", "convert", first, dir.File("a.gme")}).code, 1) << "over an existing file";
  EXPECT_EQ(RunCli({"card", "convert", first, first}).code, 1) << "already a raw card";
}

TEST(CliPs1Card, ExportWritesEachPs1FamilyUnderItsName) {
  const std::string folder = Ps1CorpusFolder();
  if (folder.empty()) GTEST_SKIP() << "no corpus";
  const std::string raw = testutil::CorpusPath("ps1save/c-raw/BASLUS-00958GS2-7");
  ASSERT_FALSE(raw.empty());
  testutil::TempDir dir;
  const std::string vmp = folder + "/f.vmp";
  const struct {
    const char* to;
    const char* file;
  } rows[] = {
      {"mcs", "BASLUS-00958GS2-7.mcs"},
      {"psv", "BASLUS-009584753322D37.PSV"},
      {"psx", "BASLUS-00958GS2-7.psx"},
      {"raw", "BASLUS-00958GS2-7"},
  };
  const Bytes blocks = testutil::ReadFile(raw);
  for (const auto& r : rows) {
    const std::string out = dir.File(r.to);
    const auto run = RunCli({"card", "export", vmp, "BASLUS-00958GS2-7", "--to", r.to, "-o", out});
    ASSERT_EQ(run.code, 0) << r.to << ": " << run.err;
    const Bytes written = testutil::ReadFile(out + "/" + r.file);
    // Each file ends with the save's blocks, as the raw save holds them.
    ASSERT_GE(written.size(), blocks.size()) << r.to;
    EXPECT_TRUE(std::equal(blocks.begin(), blocks.end(), written.end() - static_cast<std::ptrdiff_t>(blocks.size()))) << r.to;
    // And it goes back on a card of any kind.
    const std::string card = dir.File(std::string("back-") + r.to + ".gme");
    ASSERT_EQ(RunCli({"card", "format", "--ps1", card}).code, 0);
    EXPECT_EQ(RunCli({"card", "import", card, out + "/" + r.file}).code, 0) << r.to;
    EXPECT_EQ(Listing(card)["saves"][0]["folder"], "BASLUS-00958GS2-7") << r.to;
  }
  // --all takes the live saves only; a PS2 family is refused for each.
  const auto all = RunCli({"card", "export", folder + "/d.gme", "--all", "-o", dir.File("all")});
  EXPECT_EQ(all.code, 0) << all.err;
  EXPECT_EQ(all.out, dir.File("all") + "/BASCUS-94194GT.mcs\n" + dir.File("all") + "/BASCUS-94194RT.mcs\n");
  const auto ps2 = RunCli({"card", "export", vmp, "BASLUS-00958GS2-7", "--to", "psu", "-o", dir.File("ps2")});
  EXPECT_EQ(ps2.code, 1);
  EXPECT_NE(ps2.err.find("This is a PlayStation 1 save"), std::string::npos) << ps2.err;
}

TEST(CliPs1Card, AnUnverifiedCardSaysWhyItIsOnlyRead) {
  testutil::TempDir dir;
  testutil::Ps1Card source;
  source.PutSave("BASLUS-00001ONE", {1}, testutil::MakePs1Blocks(1, 1));
  testutil::WriteFile(dir.File("source.mcd"), source.bytes);
  const std::string vmp = dir.File("card.vmp");
  ASSERT_EQ(RunCli({"card", "format", "--ps1", vmp}).code, 0);
  ASSERT_EQ(RunCli({"card", "import", vmp, dir.File("source.mcd") + ":BASLUS-00001ONE"}).code, 0);
  Bytes bytes = testutil::ReadFile(vmp);
  bytes[0x20] ^= 1;  // the signature
  testutil::WriteFile(vmp, bytes);
  const struct {
    std::vector<std::string> args;
    int code;
  } rows[] = {
      {{"card", "ls", vmp}, 0},
      {{"card", "rm", vmp, "BASLUS-00001ONE"}, 1},
      {{"card", "restore", vmp, "BASLUS-00001ONE"}, 1},
      {{"card", "import", vmp, dir.File("source.mcd") + ":BASLUS-00001ONE"}, 1},
  };
  for (const auto& r : rows) {
    const auto run = RunCli(r.args);
    EXPECT_EQ(run.code, r.code) << r.args[1];
    EXPECT_NE(run.err.find("signature: does not verify"), std::string::npos) << r.args[1] << ": " << run.err;
    EXPECT_EQ(testutil::ReadFile(vmp), bytes) << r.args[1];
  }
}
