// What a hostile or unusual PC around the cards must not break: writes through symbolic
// links, the one time base between the console's clock and PC file times in every time
// zone, terminal control characters in names, files that claim far more than a save can
// hold, 32-character folder names, and numbers in JSON.
#include <gtest/gtest.h>

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

#include "card/folder_card.h"
#include "formats/output_file.h"
#include "formats/registry.h"
#include "support/alloc_probe.h"
#include "support/cbs_builder.h"
#include "support/cli_runner.h"
#include "support/psu_builder.h"
#include "support/psv_builder.h"
#include "support/test_util.h"

namespace {

namespace fs = std::filesystem;
using testutil::Bytes;
using testutil::RunCli;

constexpr std::string_view kFolder = "BESLES-12345SAVE";

std::string WritePsu(const std::string& path, const std::string& folder = std::string(kFolder),
                     const EntryTime& time = testutil::MakeTime(2007, 3, 5, 14, 3, 9)) {
  testutil::PsuImage image;
  image.folder = folder;
  image.created = image.modified = time;
  image.files = {{"icon.sys", testutil::MakeIconSys("SAVE"), 0x8497, time, time},
                 {"DATA", testutil::MakeBytes(3000, 7), 0x8497, time, time}};
  testutil::WriteFile(path, image.Build());
  return path;
}

std::vector<std::string> CardFolders(const std::string& card) {
  const auto run = RunCli({"card", "ls", "--json", card});
  EXPECT_EQ(run.code, 0) << run.err;
  std::vector<std::string> folders;
  if (run.code != 0) return folders;
  const nlohmann::json listing = nlohmann::json::parse(run.out);
  for (const auto& s : listing["saves"]) folders.push_back(s["folder"]);
  return folders;
}

fs::perms PermsOf(const fs::path& p) { return fs::status(p).permissions(); }

// A card, a folder card or a save in sync/, a link to it beside, a command given the link.
struct LinkCase {
  std::string what;
  std::function<std::string(const testutil::TempDir&)> makeReal;  // returns the real path
  std::function<std::vector<std::string>(const std::string& link, const testutil::TempDir&)> command;
  std::function<void(const std::string& real)> check;
};

TEST(CardHostile, WritesGoThroughSymbolicLinksToTheRealFile) {
  const std::vector<LinkCase> cases = {
      {"card image",
       [](const testutil::TempDir& d) {
         EXPECT_EQ(RunCli({"card", "format", d.File("sync/real.ps2")}).code, 0);
         return d.File("sync/real.ps2");
       },
       [](const std::string& link, const testutil::TempDir& d) {
         return std::vector<std::string>{"card", "import", link, WritePsu(d.File("game.psu"))};
       },
       [](const std::string& real) { EXPECT_EQ(CardFolders(real), std::vector<std::string>{std::string(kFolder)}); }},
      {"PCSX2 folder card",
       [](const testutil::TempDir& d) {
         EXPECT_EQ(RunCli({"card", "format", "--folder", d.File("sync/Mcd001.ps2")}).code, 0);
         return d.File("sync/Mcd001.ps2");
       },
       [](const std::string& link, const testutil::TempDir& d) {
         return std::vector<std::string>{"card", "import", link, WritePsu(d.File("game.psu"))};
       },
       [](const std::string& real) { EXPECT_TRUE(fs::is_directory(fs::path(real) / kFolder)); }},
      {"save edited in place",
       [](const testutil::TempDir& d) { return WritePsu(d.File("sync/game.psu")); },
       [](const std::string& link, const testutil::TempDir&) {
         return std::vector<std::string>{"rename", link, "BESLES-99999NEW"};
       },
       [](const std::string& real) {
         auto save = CreateForExtension("psu");
         ASSERT_EQ(save->Load(real), LoadResult::kOk);
         EXPECT_EQ(save->EntryAt(-1)->Name(), "BESLES-99999NEW");
       }},
  };
  for (const LinkCase& c : cases) {
    SCOPED_TRACE(c.what);
    testutil::TempDir dir;
    fs::create_directories(dir.path() / "sync");
    const std::string real = c.makeReal(dir);
    // Kept from others: a rewrite must not open it up.
    if (!fs::is_directory(real)) fs::permissions(real, fs::perms(0640));
    const fs::path name = fs::path(real).filename();
    // A link to a link, the first one relative as a sync folder's usually are.
    fs::create_symlink(fs::path("sync") / name, dir.path() / ("link-" + name.string()));
    fs::create_symlink(dir.path() / ("link-" + name.string()), dir.path() / ("link2-" + name.string()));
    const std::string link = dir.File("link2-" + name.string());

    const auto run = RunCli(c.command(link, dir));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_symlink(dir.path() / ("link-" + name.string())));
    c.check(real);
    if (!fs::is_directory(real)) {
      EXPECT_EQ(PermsOf(real), fs::perms(0640));
    }
    // Nothing left behind beside the links or the real file.
    for (const fs::path& folder : {dir.path(), dir.path() / "sync"})
      for (const auto& e : fs::directory_iterator(folder))
        EXPECT_EQ(e.path().string().find(".part"), std::string::npos) << e.path();
  }
}

// The dialog program saves over the file it opened through the "~0" file: beside the real
// file, not beside the link.
TEST(CardHostile, AnInPlaceSaveThroughALinkWritesItsTildeFileBesideTheRealFile) {
  testutil::TempDir dir;
  fs::create_directories(dir.path() / "sync");
  const std::string real = WritePsu(dir.File("sync/game.psu"));
  fs::create_symlink(fs::path("sync") / "game.psu", dir.path() / "game.psu");
  {
    OutputFile out(dir.File("game.psu"), /*inPlace=*/true);
    EXPECT_EQ(fs::path(out.temporaryPath()).parent_path(), dir.path() / "sync");
  }
  auto save = CreateForExtension("psu");
  ASSERT_EQ(save->Load(dir.File("game.psu")), LoadResult::kOk);
  save->SetName(-1, "BESLES-99999NEW");
  EXPECT_EQ(save->Save(dir.File("game.psu")), LoadResult::kSavedInPlace);
  EXPECT_TRUE(fs::is_symlink(dir.path() / "game.psu"));
  auto back = CreateForExtension("psu");
  ASSERT_EQ(back->Load(real), LoadResult::kOk);
  EXPECT_EQ(back->EntryAt(-1)->Name(), "BESLES-99999NEW");
}

}  // namespace
