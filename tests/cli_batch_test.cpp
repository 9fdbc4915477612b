// batch, unpack and pack through the command line.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "formats/psu/psu.h"
#include "formats/registry.h"
#include "io/file.h"
#include "model/entry_data.h"
#include "support/cli_runner.h"
#include "support/psu_builder.h"
#include "support/test_util.h"

using testutil::Bytes;
using testutil::RunCli;
namespace fs = std::filesystem;

namespace {

testutil::PsuImage Image(const std::string& folder, std::uint32_t seed) {
  testutil::PsuImage image;
  image.folder = folder;
  image.files.push_back({"icon.sys", testutil::MakeIconSys("\x82\x60")});
  image.files.push_back({"data", testutil::MakeBytes(700 + seed, seed)});
  return image;
}

void Put(const fs::path& path, const Bytes& bytes) {
  fs::create_directories(path.parent_path());
  testutil::WriteFile(path.string(), bytes);
}

// Every file of a save by its name, with its bytes.
std::map<std::string, Bytes> FilesOf(const CSaveGame& save) {
  std::map<std::string, Bytes> files;
  for (int i = 0; i < save.FileCount(); ++i) {
    Bytes data;
    EXPECT_EQ(ReadEntryData(*save.EntryAt(i), save.container.get(), data), DataResult::kOk);
    files[std::string(save.EntryAt(i)->Name())] = data;
  }
  return files;
}

std::unique_ptr<CSaveGame> Load(const std::string& path) {
  auto save = CreateForExtension(ExtensionOf(path));
  if (!save || save->Load(path) != LoadResult::kOk) return nullptr;
  return save;
}

}  // namespace

TEST(CliBatch, FolderTreeWithCollisionsAndADamagedFile) {
  testutil::TempDir dir;
  fs::path in = dir.path() / "in";
  Bytes a = Image("A", 1).Build(), subA = Image("SUBA", 2).Build(), c = Image("C", 3).Build();
  Put(in / "a.psu", a);
  Put(in / "sub" / "a.psu", subA);
  Put(in / "c.psu", c);
  Put(in / "bad.psu", Bytes(a.begin(), a.begin() + 700));
  Put(in / "notes.txt", testutil::FromString("not a save"));
  std::string out = dir.File("out");

  auto run = RunCli({"batch", "--to", "psu", "-o", out, "--jobs", "2", in.string()});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(testutil::ReadFile(out + "/a.psu"), a);
  EXPECT_EQ(testutil::ReadFile(out + "/a-2.psu"), subA);
  EXPECT_EQ(testutil::ReadFile(out + "/c.psu"), c);
  EXPECT_FALSE(fs::exists(fs::path(out) / "bad.psu"));
  EXPECT_NE(run.out.find("3 converted, 0 skipped, 1 failed\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("bad.psu: Unexpected error\n"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("warning: "), std::string::npos);
  EXPECT_NE(run.err.find("is written as \"" + out + "/a-2.psu\""), std::string::npos) << run.err;
  // Not a terminal: one line per file.
  EXPECT_NE(run.err.find("converted: " + (in / "c.psu").string() + " -> " + out + "/c.psu\n"),
            std::string::npos)
      << run.err;

  // Again: the outputs exist and stay as they are without --force.
  testutil::WriteFile(out + "/c.psu", testutil::FromString("keep me"));
  auto again = RunCli({"batch", "--to", "psu", "-o", out, "--json", in.string()});
  EXPECT_EQ(again.code, 1);
  EXPECT_EQ(testutil::ReadFile(out + "/c.psu"), testutil::FromString("keep me"));
  std::istringstream lines(again.out);
  std::map<std::string, std::string> status;
  for (std::string line; std::getline(lines, line);) {
    auto j = nlohmann::json::parse(line);
    status[fs::path(j["input"].get<std::string>()).lexically_relative(in).string()] = j["status"];
    if (j["status"] == "failed") {
      EXPECT_EQ(j["reason"], "Unexpected error");
    }
  }
  EXPECT_EQ(status, (std::map<std::string, std::string>{{"a.psu", "skipped"},
                                                        {"bad.psu", "failed"},
                                                        {"c.psu", "skipped"},
                                                        {"sub/a.psu", "skipped"}}));
  EXPECT_NE(again.err.find("0 converted, 3 skipped, 1 failed"), std::string::npos) << again.err;

  auto forced = RunCli({"batch", "--to", "psu", "-o", out, "--force", in.string()});
  EXPECT_EQ(forced.code, 1);
  EXPECT_EQ(testutil::ReadFile(out + "/c.psu"), c);
}

TEST(CliBatch, BesideTheInputsAndNamedFiles) {
  testutil::TempDir dir;
  Bytes a = Image("A", 1).Build();
  Put(dir.path() / "a.psu", a);
  // A save already in the target format beside itself is left alone.
  auto same = RunCli({"batch", "--to", "PSU", dir.File("a.psu")});
  EXPECT_EQ(same.code, 0) << same.err;
  EXPECT_NE(same.out.find("0 converted, 1 skipped, 0 failed"), std::string::npos) << same.out;
  EXPECT_NE(same.err.find("already a .psu file"), std::string::npos);
  // A named file nothing reads fails; a missing one too.
  auto odd = RunCli({"batch", "--to", "psu", "-o", dir.File("o"), dir.File("a.psu"),
                     dir.File("x.txt"), dir.File("gone.psu")});
  EXPECT_EQ(odd.code, 1);
  EXPECT_NE(odd.out.find("1 converted, 0 skipped, 2 failed"), std::string::npos) << odd.out;
  EXPECT_NE(odd.out.find("x.txt: Unknown file type"), std::string::npos);
  EXPECT_NE(odd.out.find("gone.psu: Error opening file"), std::string::npos);
  EXPECT_EQ(RunCli({"batch", "--to", "sps", dir.File("a.psu")}).code, 2);
}

// --to takes every family that writes; a PS3 export is named as a PS3 wants it, from the
// save's folder: two saves of one folder can't both have that name, and a folder name a
// USB drive can't hold gives none.
TEST(CliBatch, EveryTargetAndPs3Names) {
  testutil::TempDir dir;
  Put(dir.path() / "in" / "one.psu", Image("BESLES-12345ONE", 1).Build());
  Put(dir.path() / "in" / "two.psu", Image("BESLES-12345ONE", 2).Build());
  Put(dir.path() / "in" / "odd.psu", Image("BES\xE9", 3).Build());
  const struct {
    const char* to;
    std::vector<std::string> outputs;
  } cases[] = {
      {"psu", {"odd.psu", "one.psu", "two.psu"}},
      {"xps", {"odd.xps", "one.xps", "two.xps"}},
      {"max", {"odd.max", "one.max", "two.max"}},
      {"pws", {"odd.pws", "one.pws", "two.pws"}},
      {"cbs", {"odd.cbs", "one.cbs", "two.cbs"}},
      {"PSV", {"BESLES-123454F4E45-2.PSV", "BESLES-123454F4E45.PSV", "odd.psv"}},
  };
  for (const auto& c : cases) {
    const fs::path out = dir.path() / (std::string("out-") + c.to);
    auto run = RunCli({"batch", "--to", c.to, "-o", out.string(), "--jobs", "1", dir.File("in")});
    ASSERT_EQ(run.code, 0) << c.to << run.err;
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(out)) names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.outputs) << c.to;
    for (const std::string& name : names) EXPECT_TRUE(Load((out / name).string())) << name;
  }
  auto psv = RunCli({"batch", "--to", "psv", "-o", dir.File("again"), "--jobs", "1", dir.File("in")});
  EXPECT_NE(psv.err.find("would both be written as"), std::string::npos) << psv.err;
  EXPECT_NE(psv.err.find("warning: a PS3 export is taken only as BESLES-123454F4E45.PSV (in "
                         "PS3/EXPORT/PSV on a USB drive), not as \"BESLES-123454F4E45-2.PSV\""),
            std::string::npos)
      << psv.err;
  EXPECT_NE(psv.err.find("warning: a PS3 export of the folder \"BES\xC3\xA9\" can't be named"),
            std::string::npos)
      << psv.err;
}

TEST(CliBatch, TwoFormatsOfOneSaveGetDistinctNames) {
  if (!CreateForExtension("max") || !CreateForExtension("xps"))
    GTEST_SKIP() << "the .max or .xps class is not built yet";
  REQUIRE_CORPUS(max, "max/a.max");
  REQUIRE_CORPUS(xps, "xps/a.xps");
  testutil::TempDir dir;
  fs::copy_file(max, dir.path() / "game.max");
  fs::copy_file(xps, dir.path() / "game.xps");
  auto run = RunCli({"batch", "--to", "psu", dir.path().string()});
  ASSERT_EQ(run.code, 0) << run.err << run.out;
  auto one = Load(dir.File("game.psu"));
  auto two = Load(dir.File("game-2.psu"));
  ASSERT_TRUE(one && two);
  EXPECT_EQ(FilesOf(*one), FilesOf(*two));
  EXPECT_NE(run.err.find("warning: "), std::string::npos);
}

TEST(CliUnpackPack, CorpusSavesRoundTrip) {
  const char* names[] = {"psu/a.psu", "psu/d.psu", "psu/e.PSU", "psu/f.psu", "psu/g.psu",
                         "max/a.max", "max/b.max", "max/c.max", "xps/a.xps", "sps/b.sps",
                         "cbs/a.cbs", "cbs/h.cbs", "cbs/i.cbs", "psv/a.psv", "psv/k.psv"};
  int done = 0;
  for (const char* name : names) {
    std::string path = testutil::CorpusPath(name);
    if (path.empty() || !CreateForExtension(ExtensionOf(path))) continue;
    SCOPED_TRACE(name);
    testutil::TempDir dir;
    auto original = Load(path);
    ASSERT_TRUE(original);
    std::string folder(original->EntryAt(-1)->Name());

    auto unpack = RunCli({"unpack", path, dir.File("cards")});
    ASSERT_EQ(unpack.code, 0) << unpack.err;
    auto files = FilesOf(*original);
    for (const auto& [file, bytes] : files)
      EXPECT_EQ(testutil::ReadFile(dir.File("cards/" + folder + "/" + file)), bytes) << file;

    // The modification time of what was written is the instant the entry's time names on
    // the console's clock (Japan time, UTC+9), whatever the PC's zone.
    const SaveEntry& first = *original->EntryAt(0);
    auto written = fs::last_write_time(dir.path() / "cards" / folder / std::string(first.Name()));
    std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written)) + 9 * 3600;
    std::tm japan{};
    gmtime_r(&t, &japan);
    EXPECT_EQ(japan.tm_year + 1900, first.modified.year);
    EXPECT_EQ(japan.tm_hour, first.modified.hour);
    EXPECT_EQ(japan.tm_min, first.modified.minute);

    auto pack = RunCli({"pack", dir.File("cards/" + folder), dir.File("packed.psu")});
    ASSERT_EQ(pack.code, 0) << pack.err;
    auto packed = Load(dir.File("packed.psu"));
    ASSERT_TRUE(packed);
    EXPECT_EQ(packed->EntryAt(-1)->Name(), folder);
    EXPECT_EQ(FilesOf(*packed), files);
    ++done;
  }
  if (done == 0) GTEST_SKIP() << "corpus absent";
}

TEST(CliUnpackPack, UnpackKeepsExistingFilesWithoutForce) {
  testutil::TempDir dir;
  Put(dir.path() / "s.psu", Image("SAVE", 4).Build());
  ASSERT_EQ(RunCli({"unpack", dir.File("s.psu"), dir.File("out")}).code, 0);
  testutil::WriteFile(dir.File("out/SAVE/data"), testutil::FromString("mine"));
  auto again = RunCli({"unpack", dir.File("s.psu"), dir.File("out")});
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find("exists, not overwritten (use --force)"), std::string::npos);
  EXPECT_EQ(testutil::ReadFile(dir.File("out/SAVE/data")), testutil::FromString("mine"));
  EXPECT_EQ(RunCli({"unpack", "--force", dir.File("s.psu"), dir.File("out")}).code, 0);
  EXPECT_EQ(testutil::ReadFile(dir.File("out/SAVE/data")), Image("SAVE", 4).files[1].data);
}

TEST(CliUnpackPack, UnpackMakesTheFolderNameSafe) {
  testutil::TempDir dir;
  Put(dir.path() / "s.psu", Image("../up", 5).Build());
  auto run = RunCli({"unpack", dir.File("s.psu"), dir.File("out")});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(fs::exists(dir.path() / "out" / ".._up" / "data"));
  EXPECT_FALSE(fs::exists(dir.path() / "up"));
  EXPECT_NE(run.err.find("folder \"../up\" is written as \".._up\""), std::string::npos) << run.err;
}

TEST(CliUnpackPack, PackBuildsASaveInNameOrder) {
  testutil::TempDir dir;
  fs::path src = dir.path() / "BESLES-00001GAME";
  Put(src / "zeta", testutil::MakeBytes(10, 1));
  Put(src / "alpha", testutil::MakeBytes(3000, 2));
  Put(src / "icon.sys", testutil::MakeIconSys("\x82\x60\x82\x61"));
  auto run = RunCli({"pack", src.string() + "/", dir.File("out.psu")});
  ASSERT_EQ(run.code, 0) << run.err;
  CPsu psu;
  ASSERT_EQ(psu.Load(dir.File("out.psu")), LoadResult::kOk);
  EXPECT_EQ(psu.EntryAt(-1)->Name(), "BESLES-00001GAME");
  EXPECT_EQ(psu.EntryAt(-1)->mode, 0x8427u);
  ASSERT_EQ(psu.FileCount(), 3);
  EXPECT_EQ(psu.EntryAt(0)->Name(), "alpha");
  EXPECT_EQ(psu.EntryAt(1)->Name(), "icon.sys");
  EXPECT_EQ(psu.EntryAt(2)->Name(), "zeta");
  EXPECT_EQ(psu.EntryAt(2)->mode, 0x8497u);
  EXPECT_EQ(psu.EntryAt(-1)->Title(), "AB");

  ASSERT_EQ(RunCli({"pack", src.string(), dir.File("named.psu"), "--name", "OTHER"}).code, 0);
  ASSERT_EQ(psu.Load(dir.File("named.psu")), LoadResult::kOk);
  EXPECT_EQ(psu.EntryAt(-1)->Name(), "OTHER");
}

TEST(CliUnpackPack, PackRefusesWhatACardCannotHold) {
  testutil::TempDir dir;
  fs::path sub = dir.path() / "sub";
  Put(sub / "f", {1});
  fs::create_directories(sub / "inner");
  fs::path big = dir.path() / "big";
  Put(big / "f", {});
  fs::resize_file(big / "f", 8u * 1024 * 1024 + 1);
  fs::path full = dir.path() / "full";
  for (int i = 0; i < 9; ++i) {
    Put(full / ("f" + std::to_string(i)), {});
    fs::resize_file(full / ("f" + std::to_string(i)), 1024 * 1024);
  }
  fs::path longName = dir.path() / "long";
  Put(longName / std::string(33, 'x'), {1});
  fs::path empty = dir.path() / "empty";
  fs::create_directories(empty);
  fs::path many = dir.path() / "many";
  fs::create_directories(many);
  for (int i = 0; i < 16383; ++i) io::File::OpenWrite((many / std::to_string(i)).string());

  const struct {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{"pack", sub.string(), dir.File("o.psu")},
       "The folder holds a subfolder, \"inner\": a save holds files only\n"},
      {{"pack", big.string(), dir.File("o.psu")},
       "The file \"f\" (8388609 bytes) is larger than a memory card can hold (8 MiB)\n"},
      {{"pack", full.string(), dir.File("o.psu")},
       "The files need 9222 KiB, more than a memory card can hold (8192 KiB)\n"},
      {{"pack", longName.string(), dir.File("o.psu")},
       "The file name \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\" has more than 32 characters\n"},
      {{"pack", empty.string(), dir.File("o.psu")}, "The folder holds no files\n"},
      {{"pack", many.string(), dir.File("o.psu")},
       "The folder holds 16383 files; a memory card directory holds at most 16382\n"},
      {{"pack", sub.string(), dir.File("o.psu"), "--name", std::string(33, 'n')},
       "The save folder's name \"nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn\" must have 1 to 32 characters\n"},
      {{"pack", dir.File("nothere"), dir.File("o.psu")}, nullptr},
      {{"pack", empty.string(), dir.File("o.txt")}, "Unknown file type\n"},
  };
  for (const auto& c : cases) {
    auto run = RunCli(c.args);
    EXPECT_EQ(run.code, 1) << c.args[1];
    if (c.err) {
      EXPECT_EQ(run.err, c.err) << c.args[1];
    }
  }
  EXPECT_FALSE(fs::exists(dir.path() / "o.psu"));
}
