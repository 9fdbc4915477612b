// The edit commands: each change read back from the file written.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "formats/psu/psu.h"
#include "formats/registry.h"
#include "io/file.h"
#include "model/entry_data.h"
#include "support/cli_runner.h"
#include "support/psu_builder.h"
#include "support/test_util.h"

using testutil::Bytes;
using testutil::RunCli;

namespace {

class CliEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    image_.folder = "BESLES-12345SAVE";
    image_.files.push_back({"icon.sys", testutil::MakeIconSys("\x82\x60")});
    image_.files.push_back({"data.bin", testutil::MakeBytes(2000, 1)});
    image_.files.push_back({"other", testutil::MakeBytes(30, 2)});
    path_ = dir_.File("game.psu");
    testutil::WriteFile(path_, image_.Build());
    original_ = testutil::ReadFile(path_);
  }

  // The save as written, loaded again.
  std::unique_ptr<CPsu> Reload(const std::string& path) {
    auto psu = std::make_unique<CPsu>();
    EXPECT_EQ(psu->Load(path), LoadResult::kOk);
    return psu;
  }

  Bytes DataOf(const CPsu& psu, int index) {
    Bytes data;
    EXPECT_EQ(ReadEntryData(*psu.EntryAt(index), psu.container.get(), data), DataResult::kOk);
    return data;
  }

  void ExpectUnchanged() {
    EXPECT_EQ(testutil::ReadFile(path_), original_);
    EXPECT_FALSE(io::Exists(path_ + "~0"));
  }

  testutil::TempDir dir_;
  testutil::PsuImage image_;
  std::string path_;
  Bytes original_;
};

}  // namespace

TEST_F(CliEdit, RenameFolderAndFileInPlace) {
  auto root = RunCli({"rename", path_, "BESLES-99999NEW"});
  ASSERT_EQ(root.code, 0) << root.err;
  EXPECT_FALSE(io::Exists(path_ + "~0"));
  auto psu = Reload(path_);
  EXPECT_EQ(psu->EntryAt(-1)->Name(), "BESLES-99999NEW");
  EXPECT_EQ(DataOf(*psu, 1), image_.files[1].data);

  std::string name32(32, 'q');
  auto file = RunCli({"rename", path_, "--file", "data.bin", name32});
  ASSERT_EQ(file.code, 0) << file.err;
  psu = Reload(path_);
  // The container field holds all 32 characters; the name as loaded keeps 31.
  EXPECT_EQ(psu->EntryAt(1)->Title(), name32);
  EXPECT_EQ(DataOf(*psu, 1), image_.files[1].data);
  // And the file is found under its whole name.
  auto back = RunCli({"rename", path_, "--file", name32, "data.bin"});
  ASSERT_EQ(back.code, 0) << back.err;
  EXPECT_EQ(Reload(path_)->EntryAt(1)->Name(), "data.bin");
}

TEST_F(CliEdit, RenameRefusals) {
  auto clash = RunCli({"rename", path_, "--file", "data.bin", "other"});
  EXPECT_EQ(clash.code, 1);
  EXPECT_EQ(clash.err, "The save already has a file named \"other\"\n");
  auto tooLong = RunCli({"rename", path_, std::string(33, 'x')});
  EXPECT_EQ(tooLong.code, 2);
  EXPECT_EQ(tooLong.err, "A name has 1 to 32 characters\n");
  auto missing = RunCli({"rename", path_, "--file", "nope", "x"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "No file named \"nope\" in the save\n");
  ExpectUnchanged();
}

TEST_F(CliEdit, AddNewAndReplaceExisting) {
  Bytes added = testutil::MakeBytes(1500, 9);
  testutil::WriteFile(dir_.File("new.dat"), added);
  Bytes replacement = testutil::MakeBytes(77, 10);
  std::filesystem::create_directories(dir_.path() / "pc");
  testutil::WriteFile(dir_.File("pc/other"), replacement);

  auto add = RunCli({"add", path_, dir_.File("new.dat")});
  ASSERT_EQ(add.code, 0) << add.err;
  auto psu = Reload(path_);
  ASSERT_EQ(psu->FileCount(), 4);
  EXPECT_EQ(psu->EntryAt(3)->Name(), "new.dat");
  EXPECT_EQ(psu->EntryAt(3)->mode, 0x8497u);
  EXPECT_EQ(DataOf(*psu, 3), added);

  // Same name, no --replace: the question is answered No and nothing changes.
  Bytes before = testutil::ReadFile(path_);
  auto no = RunCli({"add", path_, dir_.File("pc/other")});
  EXPECT_EQ(no.code, 0);
  EXPECT_NE(no.err.find("File \"other\" already exists. Do you want to replace it? -> No"),
            std::string::npos)
      << no.err;
  EXPECT_EQ(DataOf(*Reload(path_), 2), image_.files[2].data);

  auto yes = RunCli({"add", "--replace", path_, dir_.File("pc/other")});
  ASSERT_EQ(yes.code, 0) << yes.err;
  psu = Reload(path_);
  EXPECT_EQ(psu->FileCount(), 4);
  EXPECT_EQ(DataOf(*psu, 2), replacement);
  EXPECT_EQ(psu->EntryAt(2)->modified, image_.files[2].modified);  // name, mode, times kept

  auto unreadable = RunCli({"add", path_, dir_.File("nothere")});
  EXPECT_EQ(unreadable.code, 1);
  EXPECT_EQ(unreadable.err, "Cannot read file: \"" + dir_.File("nothere") + "\"\n");
}

TEST_F(CliEdit, RemoveToAnotherFile) {
  std::string out = dir_.File("smaller.psu");
  auto run = RunCli({"remove", path_, "data.bin", "-o", out});
  ASSERT_EQ(run.code, 0) << run.err;
  ExpectUnchanged();
  auto psu = Reload(out);
  ASSERT_EQ(psu->FileCount(), 2);
  EXPECT_EQ(psu->EntryAt(0)->Name(), "icon.sys");
  EXPECT_EQ(psu->EntryAt(1)->Name(), "other");
  EXPECT_EQ(DataOf(*psu, 1), image_.files[2].data);
  EXPECT_EQ(psu->EntryAt(-1)->size, 4u);

  auto missing = RunCli({"remove", path_, "data.BIN"});
  EXPECT_EQ(missing.code, 1);
  ExpectUnchanged();
  EXPECT_EQ(RunCli({"remove", path_, "x", "-o", dir_.File("a.doc")}).err, "Unknown file type\n");
}

TEST_F(CliEdit, SetMode) {
  ASSERT_EQ(RunCli({"set-mode", path_, "0x842F"}).code, 0);
  ASSERT_EQ(RunCli({"set-mode", path_, "--file", "other", "33951"}).code, 0);  // 0x849F
  auto psu = Reload(path_);
  EXPECT_EQ(psu->EntryAt(-1)->mode, 0x842Fu);
  EXPECT_EQ(psu->EntryAt(2)->mode, 0x849Fu);
  EXPECT_EQ(psu->EntryAt(1)->mode, 0x8497u);

  Bytes before = testutil::ReadFile(path_);
  const struct {
    std::vector<std::string> args;
    std::string err;
  } refused[] = {
      {{"set-mode", path_, "0x8407"},
       "The File (0x0010) and Directory (0x0020) flags cannot be changed\n"},
      {{"set-mode", path_, "--file", "other", "0x84B7"},
       "The File (0x0010) and Directory (0x0020) flags cannot be changed\n"},
      {{"set-mode", path_, "0x1G"}, "MODE is a 32-bit number, decimal or 0x hexadecimal: \"0x1G\"\n"},
      {{"set-mode", path_, "4294967296"},
       "MODE is a 32-bit number, decimal or 0x hexadecimal: \"4294967296\"\n"},
  };
  for (const auto& c : refused) {
    auto run = RunCli(c.args);
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(run.err, c.err);
  }
  EXPECT_EQ(testutil::ReadFile(path_), before);
}

TEST_F(CliEdit, SetTimeWithTheDialogsChecks) {
  ASSERT_EQ(RunCli({"set-time", path_, "--modified", "05-03-2007 14:03:09"}).code, 0);
  ASSERT_EQ(RunCli({"set-time", path_, "--file", "other", "--created", "31-02-2007 10:00:00"}).code, 0);
  ASSERT_EQ(RunCli({"set-time", path_, "--file", "icon.sys", "--created", "00-00-0000 00:00:00"}).code, 0);
  auto psu = Reload(path_);
  EXPECT_EQ(psu->EntryAt(-1)->modified, testutil::MakeTime(2007, 3, 5, 14, 3, 9));
  EXPECT_EQ(psu->EntryAt(-1)->created, image_.created);
  EXPECT_EQ(psu->EntryAt(2)->created, testutil::MakeTime(2007, 2, 31, 10, 0, 0));
  EXPECT_EQ(psu->EntryAt(0)->created, testutil::MakeTime(0, 0, 0, 0, 0, 0));

  Bytes before = testutil::ReadFile(path_);
  const char* kBlanks = "All blanks have to be filled with digits.\nOperation cancelled.\n";
  const char* kInvalid = "Invalid date/time format.\nOperation cancelled.\n";
  const struct {
    const char* text;
    const char* err;
  } refused[] = {
      {"32-01-2007 10:00:00", kInvalid}, {"01-13-2007 10:00:00", kInvalid},
      {"01-01-2007 24:00:00", kInvalid}, {"01-01-2007 10:60:00", kInvalid},
      {"01-01-2007 10:00:60", kInvalid}, {"0_-03-2007 14:03:09", kBlanks},
      {"05-03-2007", kBlanks},           {"05/03/2007 14:03:09", kInvalid},
      {"05-03-2007 14:03:09x", kInvalid},
  };
  for (const auto& c : refused) {
    auto run = RunCli({"set-time", path_, "--created", c.text});
    EXPECT_EQ(run.code, 2) << c.text;
    EXPECT_EQ(run.err, c.err) << c.text;
  }
  EXPECT_EQ(testutil::ReadFile(path_), before);
}

// -o writes every target family, and an edit of a file of each is saved in place.
TEST_F(CliEdit, EveryFamilyThroughOutputAndInPlace) {
  for (const char* ext : {"psu", "xps", "max", "pws", "cbs", "psv"}) {
    const std::string out = dir_.File(std::string("out.") + ext);
    auto written = RunCli({"rename", path_, "XNAME", "-o", out});
    ASSERT_EQ(written.code, 0) << ext << written.err;
    ExpectUnchanged();
    auto inPlace = RunCli({"set-mode", out, "--file", "other", "0x8417"});
    ASSERT_EQ(inPlace.code, 0) << ext << inPlace.err;
    EXPECT_FALSE(io::Exists(out + "~0")) << ext;
    auto again = RunCli({"rename", out, "BESLES-54321AGAIN"});
    ASSERT_EQ(again.code, 0) << ext << again.err;
    auto save = CreateForExtension(ext);
    ASSERT_EQ(save->Load(out), LoadResult::kOk) << ext;
    EXPECT_EQ(save->EntryAt(-1)->Name(), "BESLES-54321AGAIN") << ext;
    // ARMAX keeps no modes: its files are always 0x8497.
    const bool keepsModes = std::string_view(ext) != "max" && std::string_view(ext) != "pws";
    EXPECT_EQ(save->EntryAt(2)->mode, keepsModes ? 0x8417u : 0x8497u) << ext;
    Bytes data;
    ASSERT_EQ(ReadEntryData(*save->EntryAt(1), save->container.get(), data), DataResult::kOk);
    EXPECT_EQ(data, image_.files[1].data) << ext;
  }
}

// A real ARMAX file renamed in place, and to a .psu.
TEST_F(CliEdit, CorpusArmaxSaveInPlaceAndThroughOutput) {
  REQUIRE_CORPUS(max, "max/a.max");
  std::string copy = dir_.File("a.max");
  std::filesystem::copy_file(max, copy);
  auto inPlace = RunCli({"rename", copy, "NEW"});
  EXPECT_EQ(inPlace.code, 0) << inPlace.err;
  auto reloaded = CreateForExtension("max");
  ASSERT_EQ(reloaded->Load(copy), LoadResult::kOk);
  EXPECT_EQ(reloaded->EntryAt(-1)->Name(), "NEW");
  auto ok = RunCli({"rename", copy, "NEW", "-o", dir_.File("from-max.psu")});
  ASSERT_EQ(ok.code, 0) << ok.err;
  EXPECT_EQ(Reload(dir_.File("from-max.psu"))->EntryAt(-1)->Name(), "NEW");
}
