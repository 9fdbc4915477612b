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
#include "io/output_file.h"
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
    io::OutputFile out(dir.File("game.psu"), /*inPlace=*/true);
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

// Seconds since 1970 of a clock reading taken as UTC, by the standard library's calendar.
std::int64_t AsUtc(const EntryTime& t) {
  using namespace std::chrono;
  const sys_days day = year(t.year) / month(t.month) / t.day;
  return (day + hours(t.hour) + minutes(t.minute) + seconds(t.second)).time_since_epoch().count();
}

std::int64_t MTime(const fs::path& p) {
  const auto system = std::chrono::file_clock::to_sys(fs::last_write_time(p));
  return std::chrono::floor<std::chrono::seconds>(system).time_since_epoch().count();
}

// What the console's clock read at a Unix time: Japan time, UTC+9 all year.
std::string JapanText(std::int64_t instant) {
  std::time_t t = static_cast<std::time_t>(instant + 9 * 3600);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TimeZone() {
    if (old_) setenv("TZ", old_->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

TEST(CardHostile, CardAndPcTimesNameOneInstantInEveryTimeZone) {
  const EntryTime stamp = testutil::MakeTime(2007, 3, 5, 14, 3, 9);  // the console's clock
  const std::int64_t instant = AsUtc(stamp) - 9 * 3600;
  // POSIX zone rules, so that no zone database is needed: UTC, New York with summer time,
  // Tokyo itself, Lord Howe's half hour, and the day-ahead Line Islands.
  for (const char* zone : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "JST-9", "LHST-10:30LHDT-11,M10.1.0,M4.1.0", "<+14>-14"}) {
    SCOPED_TRACE(zone);
    TimeZone tz(zone);
    testutil::TempDir dir;
    const std::string psu = WritePsu(dir.File("game.psu"));
    const std::string card = dir.File("card.ps2");
    const std::string folderCard = dir.File("Mcd001.ps2");
    ASSERT_EQ(RunCli({"card", "format", card}).code, 0);
    ASSERT_EQ(RunCli({"card", "format", "--folder", folderCard}).code, 0);
    ASSERT_EQ(RunCli({"card", "import", card, psu}).code, 0);
    ASSERT_EQ(RunCli({"card", "import", folderCard, psu}).code, 0);

    // Off the card and out of the save file: the PC files carry the card time's instant.
    ASSERT_EQ(RunCli({"card", "export", card, std::string(kFolder), "--to", "folder", "-o", dir.File("out")}).code, 0);
    ASSERT_EQ(RunCli({"unpack", psu, dir.File("unpacked")}).code, 0);
    for (const std::string written : {"out", "unpacked"}) {
      EXPECT_EQ(MTime(dir.path() / written / kFolder / "DATA"), instant) << written;
      EXPECT_EQ(MTime(dir.path() / written / kFolder), instant) << written;
    }
    // Onto a folder card: the host file too, while the index keeps PCSX2's timegm() of the
    // card's own fields.
    EXPECT_EQ(MTime(fs::path(folderCard) / kFolder / "DATA"), instant);
    const Bytes index = testutil::ReadFile((fs::path(folderCard) / kFolder / card::kFolderIndex).string());
    EXPECT_NE(std::string(index.begin(), index.end()).find(std::to_string(instant + 9 * 3600)), std::string::npos);
    // A host file the index doesn't name shows the console's reading of its time.
    fs::remove(fs::path(folderCard) / kFolder / card::kFolderIndex);
    const std::int64_t hostTime = 1700000000;
    fs::last_write_time(fs::path(folderCard) / kFolder,
                        std::chrono::file_clock::from_sys(std::chrono::sys_seconds{std::chrono::seconds{hostTime}}));
    const auto listed = RunCli({"card", "ls", "--json", folderCard});
    EXPECT_EQ(nlohmann::json::parse(listed.out)["saves"][0]["modified"], JapanText(hostTime));
    // Listings show the stored reading, whatever the zone.
    EXPECT_NE(RunCli({"card", "ls", card}).out.find("2007-03-05 14:03:09"), std::string::npos);

    // A file added from the PC gets the console's clock now.
    testutil::WriteFile(dir.File("notes.txt"), testutil::FromString("notes"));
    const std::int64_t before = std::time(nullptr);
    ASSERT_EQ(RunCli({"add", psu, dir.File("notes.txt")}).code, 0);
    const std::int64_t after = std::time(nullptr);
    auto save = CreateForExtension("psu");
    ASSERT_EQ(save->Load(psu), LoadResult::kOk);
    const std::int64_t added = AsUtc(save->EntryAt(save->FileCount() - 1)->modified) - 9 * 3600;
    EXPECT_GE(added, before);
    EXPECT_LE(added, after);
  }
}

// No byte below 0x20 but the line ends, and no DEL.
bool HasControlCharacters(const std::string& text) {
  for (unsigned char c : text)
    if ((c < 0x20 && c != '\n') || c == 0x7F) return true;
  return false;
}

TEST(CardHostile, ControlCharactersFromFilesReachTheTerminalEscaped) {
  testutil::TempDir dir;
  // Sets the terminal's title, rings its bell and clears the screen when printed as it is.
  const std::string folder = "BESLES-\x1b]0;x\x07\x1b[2J";
  const std::string shown = "BESLES-\\x1b]0;x\\x07\\x1b[2J";
  testutil::PsuImage image;
  image.folder = folder;
  image.files = {{"icon.sys", testutil::MakeIconSys("\x1b[31mRED")}, {"DATA\x9b", testutil::MakeBytes(100, 1)}};
  const std::string psu = dir.File("game.psu");
  testutil::WriteFile(psu, image.Build());
  const std::string card = dir.File("card.ps2");
  ASSERT_EQ(RunCli({"card", "format", card}).code, 0);
  ASSERT_EQ(RunCli({"card", "import", card, psu}).code, 0);

  struct Case {
    std::vector<std::string> args;
    std::string expected;  // somewhere in what was printed
  };
  const std::vector<Case> cases = {
      {{"card", "ls", card}, shown + "  "},
      {{"info", psu}, "Folder:     " + shown},
      {{"info", psu}, "DATA\\x9b"},
      {{"info", psu}, "\\x1b[31mRED"},
      {{"info", card + ":" + folder}, "Folder:     " + shown},
      {{"card", "import", card, psu}, shown + " is already on the card"},
      {{"card", "rm", card, "BESLES-\x1b[2J"}, "BESLES-\\x1b[2J is not on the card"},
      {{"card", "export", card, folder, "--to", "folder", "-o", dir.File("out")}, "renamed: \"" + shown},
      {{"unpack", psu, dir.File("unpacked")}, "renamed: folder \"" + shown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const auto run = RunCli(c.args);
    EXPECT_FALSE(HasControlCharacters(run.out)) << run.out;
    EXPECT_FALSE(HasControlCharacters(run.err)) << run.err;
    EXPECT_NE((run.out + run.err).find(c.expected), std::string::npos) << run.out << run.err;
  }
  // JSON keeps the exact text, as JSON escapes.
  EXPECT_EQ(CardFolders(card), std::vector<std::string>{folder});
  const auto info = RunCli({"info", "--json", psu});
  EXPECT_EQ(nlohmann::json::parse(info.out)["folder"], folder);
  EXPECT_NE(info.out.find("\\u001b]0;x\\u0007"), std::string::npos);
}

// Loads a file and sees what it cost: the result, the time, and the allocations.
struct LoadCost {
  LoadResult result;
  double seconds;
  std::size_t allocated;
};

LoadCost Measure(const std::string& path) {
  auto save = CreateForExtension(ExtensionOf(path));
  testutil::AllocationProbe probe;
  const auto start = std::chrono::steady_clock::now();
  const LoadResult result = save->Load(path);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return {result, took.count(), probe.total()};
}

TEST(CardHostile, FilesClaimingMoreThanACardHoldsAreRefusedAtOnce) {
  testutil::TempDir dir;
  struct Case {
    std::string what;
    std::string file;
    std::function<void(const std::string&)> make;
  };
  // A PS2 save's header whose file count fills the file, in a sparse file.
  auto sparsePsv = [](std::uint64_t size) {
    return [size](const std::string& path) {
      testutil::PsvImage image;
      image.files = {testutil::MakePsvFile("DATA", Bytes(16, 1))};
      Bytes bytes = image.Build();
      bytes.resize(0xA0);
      const std::uint32_t count = static_cast<std::uint32_t>((size - 0xA0) / 60);
      std::memcpy(bytes.data() + 0x64, &count, 4);
      testutil::WriteFile(path, bytes);
      fs::resize_file(path, size);
    };
  };
  const std::vector<Case> cases = {
      {"a sparse 1 GiB PS3 export", "sparse.psv", sparsePsv(std::uint64_t{1} << 30)},
      {"a 64 MiB PS3 export counting a million files", "count.psv", sparsePsv(std::uint64_t{64} << 20)},
      {"a small CodeBreaker body of a million empty records", "million.cbs",
       [](const std::string& path) {
         testutil::CbsImage image;
         image.records = Bytes(64 * 1000000, 0);
         testutil::WriteFile(path, image.Build());
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.File(c.file);
    c.make(path);
    if (c.file.ends_with(".cbs")) {
      EXPECT_LT(fs::file_size(path), 100u * 1024);
    }
    const LoadCost cost = Measure(path);
    EXPECT_EQ(cost.result, LoadResult::kInvalid);
    EXPECT_LT(cost.seconds, 1.0);
    EXPECT_LT(cost.allocated, std::size_t{8} << 20);
  }
}

TEST(CardHostile, AThirtyTwoCharacterFolderNameSurvivesEveryFamilyAndCard) {
  const std::string name = "BASLUS-99999ABCDEFGHIJKLMNOPQRST";
  ASSERT_EQ(name.size(), 32u);
  testutil::TempDir dir;
  const std::string psu = WritePsu(dir.File("start.psu"), name);
  const std::string card = dir.File("card.ps2");
  const std::string folderCard = dir.File("Mcd001.ps2");
  ASSERT_EQ(RunCli({"card", "format", card}).code, 0);
  ASSERT_EQ(RunCli({"card", "format", "--folder", folderCard}).code, 0);
  for (const FormatFamily& family : Families()) {
    // PS1 saves have 20-character names of their own.
    if (!family.Can(kWritesConversions) || !Holds(family, PlayStation::kPs2)) continue;
    SCOPED_TRACE(family.name);
    const std::string file = dir.File("save." + std::string(family.OwnExtension()));
    ASSERT_EQ(RunCli({"convert", psu, file}).code, 0);
    auto save = family.create();
    ASSERT_EQ(save->Load(file), LoadResult::kOk);
    EXPECT_EQ(save->EntryAt(-1)->Name(), name);
    // Back to .psu, and onto both kinds of card, from this family's file.
    const std::string back = dir.File("back-" + std::string(family.name) + ".psu");
    ASSERT_EQ(RunCli({"convert", file, back}).code, 0);
    auto again = CreateForExtension("psu");
    ASSERT_EQ(again->Load(back), LoadResult::kOk);
    EXPECT_EQ(again->EntryAt(-1)->Name(), name);
    for (const std::string& target : {card, folderCard}) {
      const auto run = RunCli({"card", "import", "--replace", target, file});
      ASSERT_EQ(run.code, 0) << run.err;
      EXPECT_EQ(CardFolders(target), std::vector<std::string>{name}) << target;
    }
  }
}

TEST(CliJson, IconSysFloatsReadBackAsTheSameFloats) {
  // Each would lose something at two decimals; the last ones at six significant digits.
  const std::vector<float> stored = {122.0f / 255, 128.0f / 255, 0.1f, 1e-7f, -0.0f, 0.33333334f,
                                     3.4028235e38f, 16777216.0f, 0.57735026f, 1.0f / 3, 2.7182817f, -0.4f};
  // Light n's direction is stored[n] and its colour stored[11 - n], n = 3 * light + axis.
  auto directionAt = [](std::size_t light, std::size_t axis) { return 0x50 + 16 * light + 4 * axis; };
  auto colourAt = [](std::size_t light, std::size_t axis) { return 0x80 + 16 * light + 4 * axis; };
  Bytes iconSys = testutil::MakeIconSys("SAVE");
  for (std::size_t n = 0; n < 9; ++n) {
    std::memcpy(iconSys.data() + directionAt(n / 3, n % 3), &stored[n], 4);
    std::memcpy(iconSys.data() + colourAt(n / 3, n % 3), &stored[11 - n], 4);
  }
  testutil::TempDir dir;
  testutil::PsuImage image;
  image.files = {{"icon.sys", iconSys}};
  testutil::WriteFile(dir.File("game.psu"), image.Build());
  const auto run = RunCli({"info", "--json", dir.File("game.psu")});
  ASSERT_EQ(run.code, 0) << run.err;
  const nlohmann::json j = nlohmann::json::parse(run.out)["icon_sys"];
  for (std::size_t n = 0; n < 9; ++n) {
    const float direction = stored[n];
    const float colour = stored[11 - n];
    const float shownDirection = static_cast<float>(j["light_directions"][n / 3][n % 3].get<double>());
    const float shownColour = static_cast<float>(j["light_colours"][n / 3][n % 3].get<double>());
    EXPECT_EQ(std::memcmp(&shownDirection, &direction, 4), 0) << direction;
    EXPECT_EQ(std::memcmp(&shownColour, &colour, 4), 0) << colour;
    // And as the shortest text that does so.
    char shortest[32];
    *std::to_chars(shortest, shortest + sizeof shortest - 1, colour).ptr = '\0';
    EXPECT_NE(run.out.find(shortest), std::string::npos) << shortest;
  }
}

}  // namespace
