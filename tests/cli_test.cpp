// The command line's info, convert, extract and icon, the shared messages, and safe names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>

#include "io/safe_name.h"
#include "formats/messages.h"
#include "formats/psu/psu.h"
#include "formats/registry.h"
#include "io/file.h"
#include "support/cli_runner.h"
#include "support/icon_builder.h"
#include "support/lzari_encoder.h"
#include "support/max_builder.h"
#include "support/psu_builder.h"
#include "support/psv_builder.h"
#include "support/test_util.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

using testutil::Bytes;
using testutil::RunCli;

namespace {

testutil::PsuImage SampleImage() {
  testutil::PsuImage image;
  image.folder = "BESLES-12345SAVE";
  // "ＡＢ" then a line break at byte 4, then "Ｃ１".
  std::string title = "\x82\x60\x82\x61\x82\x62\x82\x50";
  Bytes icon = testutil::MakeIconSys(title);
  icon[6] = 4;
  image.files.push_back({"icon.sys", icon});
  image.files.push_back({"data.bin", testutil::MakeBytes(1536, 7)});
  image.files.push_back({"empty", {}});
  return image;
}

std::string WriteImage(const testutil::TempDir& dir, const std::string& name,
                       const testutil::PsuImage& image) {
  std::string path = dir.File(name);
  testutil::WriteFile(path, image.Build());
  return path;
}

// A save whose icon.sys names view.ico (textured, every texel red) for the browser and
// plain.ico (vertex colours only) for copying.
std::string WriteIconSave(const testutil::TempDir& dir) {
  testutil::IconSysImage sys;
  sys.iconNames = {"view.ico", "plain.ico", "view.ico"};
  testutil::IconImage view;
  view.vertices = testutil::Triangle({-100, -100, 100, -100, 0, 100}, 0);
  view.texture = testutil::RawTexture(0x001F);
  testutil::IconImage plain = view;
  plain.attributes = 0x03;
  plain.texture.clear();
  testutil::PsuImage image;
  image.files = {{"icon.sys", sys.Build()}, {"view.ico", view.Build()}, {"plain.ico", plain.Build()}};
  return WriteImage(dir, "icon.psu", image);
}

struct Png {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgba;
};
Png ReadPng(const std::string& path) {
  Bytes bytes = testutil::ReadFile(path);
  Png png;
  int channels = 0;
  stbi_uc* pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &png.width, &png.height,
                                          &channels, 4);
  if (!pixels) return {};
  png.rgba.assign(pixels, pixels + static_cast<std::size_t>(png.width) * static_cast<std::size_t>(png.height) * 4);
  stbi_image_free(pixels);
  return png;
}

std::string Text(const std::string& path) {
  Bytes b = testutil::ReadFile(path);
  return std::string(b.begin(), b.end());
}

bool AllAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

}  // namespace

TEST(CliInfo, TextShowsWhatTheWindowShows) {
  testutil::TempDir dir;
  std::string path = WriteImage(dir, "game.psu", SampleImage());
  auto run = RunCli({"info", path});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("Folder:     BESLES-12345SAVE\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Title:      ABC1\n"), std::string::npos);
  EXPECT_NE(run.out.find("Full title: \xEF\xBC\xA1\xEF\xBC\xA2\n"
                         "            \xEF\xBC\xA3\xEF\xBC\x91\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Mode:       0x00008427\n"), std::string::npos);
  EXPECT_NE(run.out.find("Created:    2006-01-02 03:04:05\n"), std::string::npos);
  EXPECT_NE(run.out.find("Files:      3\n"), std::string::npos);
  EXPECT_NE(run.out.find("data.bin   1.5 kB      0x00008497  2007-03-04 05:06:07  "
                         "2008-09-10 11:12:13"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("icon.sys   964 B"), std::string::npos);
  EXPECT_NE(run.out.find("empty      0 B"), std::string::npos);
}

TEST(CliInfo, JsonHasEveryFieldAndIsAscii) {
  testutil::TempDir dir;
  testutil::PsuImage image = SampleImage();
  image.folder = "SAVE\xE9\x81";  // bytes that are no UTF-8
  image.files[1].name = "d\xFF";
  image.files[1].mode = 0x1234D497;
  image.files[2].name = std::string(31, 'L') + "M";  // a name of all 32 characters is shown whole
  std::string path = WriteImage(dir, "game.psu", image);
  EXPECT_NE(RunCli({"info", path}).out.find("  " + image.files[2].name + "  "), std::string::npos);
  auto run = RunCli({"info", "--json", path});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(AllAscii(run.out));
  EXPECT_NE(run.out.find("\"SAVE\\u00e9\\u0081\""), std::string::npos) << run.out;
  auto j = nlohmann::json::parse(run.out);
  EXPECT_EQ(j["format"], "psu");
  EXPECT_EQ(j["folder"], "SAVE\xC3\xA9\xC2\x81");
  EXPECT_EQ(j["title"], "ABC1");
  EXPECT_EQ(j["title_utf8"], "\xEF\xBC\xA1\xEF\xBC\xA2\n\xEF\xBC\xA3\xEF\xBC\x91");
  EXPECT_EQ(j["title_lines"].size(), 2u);
  EXPECT_EQ(j["mode"], 0x8427);
  EXPECT_EQ(j["created"], "2006-01-02 03:04:05");
  EXPECT_EQ(j["modified"], "2006-06-07 08:09:10");
  ASSERT_EQ(j["files"].size(), 3u);
  EXPECT_EQ(j["files"][1]["name"], "d\xC3\xBF");
  EXPECT_EQ(j["files"][1]["size"], 1536);
  EXPECT_EQ(j["files"][1]["mode"], 0x1234D497);
  EXPECT_EQ(j["files"][1]["created"], "2007-03-04 05:06:07");
  EXPECT_EQ(j["files"][2]["size"], 0);
  EXPECT_EQ(j["files"][2]["name"], image.files[2].name);
}

// A PS3 export's signature: shown by info, and a bad one is read anyway with a warning
// (whatever --yes says), so that it can be converted.
TEST(CliInfo, Ps3SignatureIsShownAndABadOneIsReadWithAWarning) {
  testutil::TempDir dir;
  testutil::PsvImage image;
  image.files.push_back(testutil::MakePsvFile("icon.sys", testutil::MakeIconSys("TITLE")));
  testutil::WriteFile(dir.File("good.psv"), image.Build());
  image.validSignature = false;
  testutil::WriteFile(dir.File("bad.psv"), image.Build());
  testutil::WriteFile(dir.File("game.psu"), SampleImage().Build());
  const std::string warning =
      "warning: the PS3 signature doesn't match the file's contents; it is read anyway (a PS3 "
      "refuses the file as it is; written as .psv it is signed again)\n";
  const struct {
    const char* file;
    const char* line;  // the text form's, or none
    nlohmann::json json;
    std::string err;
  } cases[] = {
      {"good.psv", "Signature:  valid\n", true, ""},
      {"bad.psv", "Signature:  not valid: a PS3 refuses this file\n", false, warning},
      {"game.psu", nullptr, nullptr, ""},
  };
  for (const auto& c : cases) {
    auto text = RunCli({"info", dir.File(c.file)});
    ASSERT_EQ(text.code, 0) << c.file << text.err;
    EXPECT_EQ(text.err, c.err) << c.file;
    EXPECT_EQ(text.out.find("Signature:") != std::string::npos, c.line != nullptr) << c.file;
    if (c.line) {
      EXPECT_NE(text.out.find(std::string("Format:     psv\n") + c.line), std::string::npos) << text.out;
    }
    auto json = RunCli({"info", "--json", dir.File(c.file)});
    ASSERT_EQ(json.code, 0) << c.file;
    EXPECT_EQ(nlohmann::json::parse(json.out)["signature_valid"], c.json) << c.file;
  }
  auto converted = RunCli({"convert", dir.File("bad.psv"), dir.File("from-bad.psu")});
  EXPECT_EQ(converted.code, 0);
  EXPECT_EQ(converted.err, warning);
  EXPECT_TRUE(io::Exists(dir.File("from-bad.psu")));
}

TEST(CliInfo, NoIconSysAndUnvalidatedTimes) {
  testutil::TempDir dir;
  testutil::PsuImage image;
  image.created = testutil::MakeTime(99, 13, 0, 25, 61, 99);
  image.files.push_back({"ICON.SYS", testutil::MakeIconSys("x")});
  std::string path = WriteImage(dir, "game.psu", image);
  auto run = RunCli({"info", "--json", path});
  ASSERT_EQ(run.code, 0);
  auto j = nlohmann::json::parse(run.out);
  EXPECT_EQ(j["title"], "No valid icon.sys");
  EXPECT_TRUE(j["title_utf8"].is_null());
  EXPECT_TRUE(j["icon_sys"].is_null());
  EXPECT_EQ(j["created"], "0099-13-00 25:61:99");
}

TEST(CliInfo, IconSysFields) {
  testutil::IconSysImage lit;
  lit.corners = {{{0x80, 0, 0}, {0, 0x80, 0}, {0, 0, 0x80}, {1, 2, 3}}};
  lit.lightDirections = {{{0.3f, -1, 0}, {0, 0, 1}, {0.5f, 0.5f, 0.25f}}};
  lit.lightColours = {{{1, 0.5f, 0}, {0.1f, 0.2f, 0.3f}, {0, 0, 0}}};
  lit.ambient = {0.25f, 0.5f, std::numeric_limits<float>::quiet_NaN()};
  lit.iconNames = {"a.ico", "b.ico", "c.ico"};
  testutil::PsuImage image;
  image.files.push_back({"icon.sys", lit.Build()});
  image.files[0].data[0x0C] = 0x40;  // background alpha
  testutil::TempDir dir;
  const std::string path = WriteImage(dir, "lit.psu", image);
  EXPECT_NE(RunCli({"info", path}).out.find("\nIcons:      a.ico (normal), b.ico (copy), c.ico (delete)\n"),
            std::string::npos);
  auto j = nlohmann::json::parse(RunCli({"info", "--json", path}).out)["icon_sys"];
  EXPECT_EQ(j["icons"], nlohmann::json::parse(R"({"normal": "a.ico", "copy": "b.ico", "delete": "c.ico"})"));
  EXPECT_EQ(j["background_alpha"], 0x40);
  EXPECT_EQ(j["background_colours"], nlohmann::json::parse(R"({"top_left": [128, 0, 0], "top_right": [0, 128, 0],
      "bottom_left": [0, 0, 128], "bottom_right": [1, 2, 3]})"));
  // Stored as f32 and printed as the shortest decimal that reads back as it.
  EXPECT_EQ(j["light_directions"].dump(), "[[0.3,-1.0,0.0],[0.0,0.0,1.0],[0.5,0.5,0.25]]");
  EXPECT_EQ(j["light_colours"].dump(), "[[1.0,0.5,0.0],[0.1,0.2,0.3],[0.0,0.0,0.0]]");
  EXPECT_EQ(j["ambient"].dump(), "[0.25,0.5,null]");
}

TEST(CliIcon, PictureTextureAndModel) {
  testutil::TempDir dir;
  const std::string save = WriteIconSave(dir);
  auto run = RunCli({"icon", save, "-o", dir.File("p.png"), "--size", "64", "--texture", dir.File("t.png"),
                     "--obj", dir.File("m.obj")});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, dir.File("p.png") + "\n" + dir.File("t.png") + "\n" + dir.File("m.png") + "\n" +
                         dir.File("m.mtl") + "\n" + dir.File("m.obj") + "\n");
  Png picture = ReadPng(dir.File("p.png"));
  EXPECT_EQ(picture.width, 64);
  EXPECT_EQ(picture.height, 64);
  for (const char* texture : {"t.png", "m.png"}) {
    Png t = ReadPng(dir.File(texture));
    ASSERT_EQ(t.width, 128) << texture;
    ASSERT_EQ(t.height, 128) << texture;
    EXPECT_EQ(std::vector<std::uint8_t>(t.rgba.begin(), t.rgba.begin() + 4), (std::vector<std::uint8_t>{255, 0, 0, 255}));
    EXPECT_TRUE(std::equal(t.rgba.begin() + 4, t.rgba.end(), t.rgba.begin() + 0)) << texture;
  }
  std::string obj = Text(dir.File("m.obj"));
  EXPECT_NE(obj.find("mtllib m.mtl\n"), std::string::npos) << obj;
  EXPECT_NE(obj.find("v -0.024414062 -0.024414062 0\n"), std::string::npos) << obj;  // -100 / 4096
  EXPECT_NE(Text(dir.File("m.mtl")).find("map_Kd m.png\n"), std::string::npos);

  // The copying icon has no texture: a model without a texture file, and no --texture.
  ASSERT_EQ(RunCli({"icon", save, "--which", "copy", "--obj", dir.File("c.obj")}).code, 0);
  EXPECT_TRUE(io::Exists(dir.File("c.mtl")));
  EXPECT_FALSE(io::Exists(dir.File("c.png")));
  EXPECT_EQ(Text(dir.File("c.mtl")).find("map_Kd"), std::string::npos);
  EXPECT_NE(RunCli({"icon", save, "--which", "copy"}).out.find("Icon file:  plain.ico\n"), std::string::npos);

  testutil::PsuImage bare;
  bare.files.push_back({"data", {1, 2, 3}});
  const std::string noIcon = WriteImage(dir, "bare.psu", bare);
  const struct { std::vector<std::string> args; int code; } refused[] = {
      {{"icon", save, "-o", dir.File("x.png"), "--size", "16"}, 2},
      {{"icon", save, "--obj", dir.File("x.obj"), "-o", dir.File("x.png")}, 2},
      {{"icon", save, "--which", "copy", "-o", dir.File("x.png"), "--texture", dir.File("y.png")}, 1},
      {{"icon", noIcon, "-o", dir.File("x.png")}, 1},
  };
  for (const auto& r : refused) {
    auto failed = RunCli(r.args);
    EXPECT_EQ(failed.code, r.code) << r.args[2] << r.args.back();
    EXPECT_FALSE(failed.err.empty());
  }
  for (const char* name : {"x.png", "y.png", "x.obj"}) EXPECT_FALSE(io::Exists(dir.File(name))) << name;
}

TEST(CliIcon, EveryCorpusSaveDraws) {
  REQUIRE_CORPUS(card, "card/a.ps2");
  std::vector<std::string> saves;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(std::filesystem::path(card).parent_path().parent_path()))
    if (entry.is_regular_file() && FamilyForExtension(ExtensionOf(entry.path().string())))
      saves.push_back(entry.path().string());
  saves.push_back(card + ":BESCES-50501REZ");
  testutil::TempDir dir;
  int drawn = 0;
  for (const std::string& save : saves) {
    auto info = RunCli({"info", "--json", save});
    if (info.code != 0) continue;
    auto run = RunCli({"icon", save, "-o", dir.File("icon.png")});
    EXPECT_EQ(run.code, 0) << save << run.err;
    // A PS1 save's icon is drawn at its own 16 pixels unless --size says otherwise.
    const int side = info.out.find("\"icon_frames\"") != std::string::npos ? 16 : 256;
    Png png = ReadPng(dir.File("icon.png"));
    EXPECT_EQ(png.width, side) << save;
    EXPECT_EQ(png.height, side) << save;
    ++drawn;
  }
  EXPECT_GE(drawn, 12);
}

TEST(CliInfo, CorpusSavesAllLoad) {
  for (const char* name : {"psu/a.psu", "psu/d.psu", "psu/e.PSU", "psu/f.psu", "psu/g.psu"}) {
    REQUIRE_CORPUS(path, name);
    auto run = RunCli({"info", "--json", path});
    ASSERT_EQ(run.code, 0) << name << run.err;
    auto j = nlohmann::json::parse(run.out);
    CPsu psu;
    ASSERT_EQ(psu.Load(path), LoadResult::kOk);
    EXPECT_EQ(j["files"].size(), static_cast<std::size_t>(psu.FileCount())) << name;
    EXPECT_EQ(j["mode"], (*psu.entries)[0].mode) << name;
  }
  REQUIRE_CORPUS(a, "psu/a.psu");
  auto text = RunCli({"info", a});
  CPsu loaded;
  ASSERT_EQ(loaded.Load(a), LoadResult::kOk);
  // The title line is the icon.sys title in ASCII, which differs from the folder name here.
  std::string title((*loaded.entries)[0].Title());
  ASSERT_NE(title, std::string((*loaded.entries)[0].Name()));
  EXPECT_NE(text.out.find("Title:      " + title + "\n"), std::string::npos) << text.out;
}

TEST(CliFailures, MessagesAndExitCodes) {
  testutil::TempDir dir;
  testutil::PsuImage image = SampleImage();
  Bytes good = image.Build();
  Bytes notDir = good;
  notDir[0] = 0x97;  // mode 0x8497: a file, not a directory
  Bytes cut(good.begin(), good.begin() + 1200);
  Bytes fewEntries = good;
  fewEntries[4] = 1;  // a directory that counts fewer than "." and ".."
  testutil::WriteFile(dir.File("notdir.psu"), notDir);
  testutil::WriteFile(dir.File("cut.psu"), cut);
  testutil::WriteFile(dir.File("few.psu"), fewEntries);
  testutil::WriteFile(dir.File("game.txt"), good);
  testutil::WriteFile(dir.File("named.xps"), good);
  testutil::WriteFile(dir.File("good.psu"), good);
  std::filesystem::create_directories(dir.File("afolder"));
  testutil::PsvImage ps1;
  ps1.kind = 1;
  testutil::WriteFile(dir.File("ps1.psv"), ps1.Build());

  const struct {
    std::vector<std::string> args;
    int code;
    const char* err;
  } cases[] = {
      {{"info", dir.File("missing.psu")}, 1, "Error opening file\n"},
      // A folder without an extension is no raw PS1 save (it read as 2^63 bytes once).
      {{"info", dir.File("afolder")}, 1, "Error opening file\n"},
      {{"info", dir.File("notdir.psu")}, 1, "Cannot load file. First entry is not a directory\n"},
      {{"info", dir.File("cut.psu")}, 1, "Unexpected error\n"},
      {{"info", dir.File("few.psu")}, 1, "Format of the file you are trying to open is not valid\n"},
      {{"info", dir.File("game.txt")}, 1,
       "Unknown file type\nthis looks like a Memory Linker save: rename it to .psu or pass --as psu\n"},
      {{"info", dir.File("named.xps")}, 1,
       "Format of the file you are trying to open is not valid\n"
       "this looks like a Memory Linker save: rename it to .psu or pass --as psu\n"},
      {{"info", dir.File("ps1.psv")}, 1,
       "The save's 0 bytes are not 1 to 15 whole blocks of 8,192 bytes.\n"},
      {{"convert", dir.File("good.psu"), dir.File("out.txt")}, 1, "Unknown file type\n"},
      {{"convert", dir.File("cut.psu"), dir.File("out.psu")}, 1, "Unexpected error\n"},
      {{"convert", dir.File("good.psu"), dir.File("no/such/folder/out.psu")}, 1,
       "Error opening file\n"},
      {{"extract", dir.File("good.psu"), "nothere", "-o", dir.File("x")}, 1,
       "No file named \"nothere\" in the save\n"},
  };
  for (const auto& c : cases) {
    auto run = RunCli(c.args);
    EXPECT_EQ(run.code, c.code) << c.args[1];
    EXPECT_EQ(run.err, c.err) << c.args[1];
    EXPECT_EQ(run.out, "");
  }
  EXPECT_FALSE(io::Exists(dir.File("out.psu")));
  // --as opens a file whatever its name says.
  for (const char* name : {"game.txt", "named.xps"})
    EXPECT_EQ(RunCli({"info", "--as", "psu", dir.File(name)}).code, 0) << name;
  auto unknownFamily = RunCli({"info", "--as", "zip", dir.File("good.psu")});
  EXPECT_EQ(unknownFamily.code, 1);
  EXPECT_EQ(unknownFamily.err.rfind("No family \"zip\" to open a file as", 0), 0u) << unknownFamily.err;

  for (const std::vector<std::string>& usage :
       {std::vector<std::string>{}, {"frobnicate"}, {"info"}, {"info", "a", "b"},
        {"extract", dir.File("good.psu"), "icon.sys"},
        {"extract", dir.File("good.psu"), "icon.sys", "--all", dir.File("d")},
        {"set-time", dir.File("good.psu"), "01-01-2000 00:00:00"},
        {"batch", "--to", "psu", "--jobs", "0", dir.File("good.psu")}}) {
    auto run = RunCli(usage);
    EXPECT_EQ(run.code, 2) << (usage.empty() ? "" : usage[0]) << run.err;
    EXPECT_FALSE(run.err.empty());
  }
  auto help = RunCli({"info", "--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("Examples:"), std::string::npos);
}

TEST(CliHelp, EveryCommandHasExamples) {
  for (const char* cmd : {"info", "convert", "extract", "batch", "unpack", "pack", "rename", "add",
                          "remove", "set-mode", "set-time", "icon", "card", "card ls", "card export",
                          "card import", "card rm", "card format", "card check", "card convert"}) {
    std::string command(cmd);
    std::vector<std::string> args = {command.substr(0, command.find(' '))};
    if (command.find(' ') != std::string::npos) args.push_back(command.substr(command.find(' ') + 1));
    args.push_back("--help");
    auto run = RunCli(args);
    EXPECT_EQ(run.code, 0) << cmd;
    EXPECT_NE(run.out.find("Examples:\n  moravelt-cli " + command), std::string::npos) << cmd << run.out;
  }
}

TEST(CliConvert, PsuToAnotherPathAndInPlace) {
  testutil::TempDir dir;
  testutil::PsuImage image = SampleImage();
  image.fillIgnored = true;  // Save keeps every header byte
  std::string path = WriteImage(dir, "game.psu", image);
  Bytes original = testutil::ReadFile(path);

  auto copy = RunCli({"convert", path, dir.File("copy.PSU")});
  ASSERT_EQ(copy.code, 0) << copy.err;
  EXPECT_EQ(testutil::ReadFile(dir.File("copy.PSU")), original);

  auto inPlace = RunCli({"convert", path, path});
  ASSERT_EQ(inPlace.code, 0) << inPlace.err;
  EXPECT_EQ(testutil::ReadFile(path), original);
  EXPECT_FALSE(io::Exists(path + "~0"));
}

// convert writes every target family; ARMAX warns of the modes and times it drops, a PS3
// export of the name a PS3 takes.
TEST(CliConvert, EveryTargetAndItsWarnings) {
  testutil::TempDir dir;
  const std::string psu = dir.File("game.psu");
  testutil::WriteFile(psu, SampleImage().Build());
  testutil::PsuImage plain = SampleImage();  // what ARMAX holds: default modes, no times
  plain.created = plain.modified = EntryTime{};
  for (auto& f : plain.files) f.created = f.modified = EntryTime{};
  const std::string defaults = dir.File("plain.psu");
  testutil::WriteFile(defaults, plain.Build());
  const std::string armax =
      "warning: \"out.max\": an ARMAX save keeps no modes and no times: its folder gets 0x8427, "
      "its files 0x8497, and all of them the time they are restored\n";
  const struct {
    std::string source, target, err;
  } cases[] = {
      {psu, "out.psu", ""},
      {psu, "out.xps", ""},
      {psu, "out.max", armax},
      {psu, "out.PWS", "warning: \"out.PWS\": an ARMAX save keeps no modes and no times: its "
                       "folder gets 0x8427, its files 0x8497, and all of them the time they are restored\n"},
      {defaults, "out.max", ""},
      {psu, "out.cbs", ""},
      {psu, "BESLES-1234553415645.PSV", ""},
      {psu, "out.psv", "warning: a PS3 export is taken only as BESLES-1234553415645.PSV (in "
                       "PS3/EXPORT/PSV on a USB drive), not as \"out.psv\"\n"},
  };
  for (const auto& c : cases) {
    const std::string target = dir.File(c.target);
    auto run = RunCli({"convert", c.source, target});
    ASSERT_EQ(run.code, 0) << c.target << run.err;
    EXPECT_EQ(run.err, c.err) << c.target;
    auto back = CreateForExtension(ExtensionOf(target));
    ASSERT_EQ(back->Load(target), LoadResult::kOk) << c.target;
    EXPECT_EQ(back->EntryAt(-1)->Name(), "BESLES-12345SAVE") << c.target;
    EXPECT_EQ(back->FileCount(), 3) << c.target;
    io::RemoveFile(target);
  }
}

TEST(CliConvert, CorpusPsuInPlaceKeepsEveryFile) {
  REQUIRE_CORPUS(source, "psu/f.psu");
  testutil::TempDir dir;
  std::string path = dir.File("f.psu");
  std::filesystem::copy_file(source, path);
  ASSERT_EQ(RunCli({"convert", path, path}).code, 0);
  CPsu before, after;
  ASSERT_EQ(before.Load(source), LoadResult::kOk);
  ASSERT_EQ(after.Load(path), LoadResult::kOk);
  ASSERT_EQ(before.FileCount(), after.FileCount());
  EXPECT_EQ(testutil::ReadFile(path).size(), testutil::ReadFile(source).size());
  auto out1 = RunCli({"extract", source, "--all", dir.File("one")});
  auto out2 = RunCli({"extract", path, "--all", dir.File("two")});
  ASSERT_EQ(out1.code, 0);
  ASSERT_EQ(out2.code, 0);
  for (int i = 0; i < before.FileCount(); ++i) {
    std::string name(before.EntryAt(i)->Name());
    EXPECT_EQ(testutil::ReadFile(dir.File("one/" + name)), testutil::ReadFile(dir.File("two/" + name)))
        << name;
  }
}

TEST(CliExtract, OneFileAndAll) {
  testutil::TempDir dir;
  testutil::PsuImage image = SampleImage();
  std::string path = WriteImage(dir, "game.psu", image);
  auto one = RunCli({"extract", path, "data.bin", "-o", dir.File("data.out")});
  ASSERT_EQ(one.code, 0) << one.err;
  EXPECT_EQ(testutil::ReadFile(dir.File("data.out")), image.files[1].data);

  auto all = RunCli({"extract", path, "--all", dir.File("all")});
  ASSERT_EQ(all.code, 0) << all.err;
  for (const auto& f : image.files) EXPECT_EQ(testutil::ReadFile(dir.File("all/" + f.name)), f.data);
  EXPECT_EQ(all.err, "");  // no name needed changing
}

TEST(CliExtract, ExtractOverTheContainerItselfReadsItFirst) {
  testutil::TempDir dir;
  testutil::PsuImage image = SampleImage();
  std::string path = WriteImage(dir, "game.psu", image);
  auto run = RunCli({"extract", path, "data.bin", "-o", path});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(testutil::ReadFile(path), image.files[1].data);
}

TEST(CliExtract, HostileNamesStayInsideTheFolder) {
  testutil::TempDir dir;
  testutil::PsuImage image;
  std::string name32(32, 'n');
  const struct {
    std::string name;
    std::string written;
  } files[] = {
      {"../evil", ".._evil"}, {"a/b", "a_b"},   {"a_b", "a_b~2"},     {"CON", "_CON"},
      {"con.txt", "_con.txt"}, {"..", "__"},    {"/abs", "_abs"},     {"c:x", "c_x"},
      {"trail. ", "trail__"},  {"A_B", "A_B~3"}, {name32, name32},
  };
  for (std::size_t i = 0; i < std::size(files); ++i)
    image.files.push_back({files[i].name, testutil::MakeBytes(10 + i, static_cast<std::uint32_t>(i))});
  std::string path = WriteImage(dir, "evil.psu", image);
  std::string out = dir.File("inner/out");

  auto run = RunCli({"extract", path, "--all", out});
  ASSERT_EQ(run.code, 0) << run.err;
  std::size_t count = 0;
  for (auto& entry : std::filesystem::directory_iterator(dir.path() / "inner/out")) {
    (void)entry;
    ++count;
  }
  EXPECT_EQ(count, std::size(files));
  for (std::size_t i = 0; i < std::size(files); ++i) {
    EXPECT_EQ(testutil::ReadFile(out + "/" + files[i].written), image.files[i].data)
        << files[i].name;
    if (files[i].written != files[i].name) {
      EXPECT_NE(run.err.find("\"" + files[i].name + "\" is written as \"" + files[i].written + "\""),
                std::string::npos)
          << run.err;
    }
  }
  // Nothing beside the output folder, nothing at the top of the scratch folder.
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "inner/evil"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "evil"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "inner/out/a"));
}

TEST(SafeNames, Rules) {
  const struct {
    const char* name;
    const char* safe;
  } cases[] = {
      {"icon.sys", "icon.sys"}, {"", "_"},           {".", "_"},           {"...", "___"},
      {"a\\b", "a_b"},          {"x<>:\"|?*", "x_______"}, {"tab\there", "tab_here"},
      {"nul", "_nul"},          {"Com1.dat", "_Com1.dat"}, {"LPT9", "_LPT9"},
      {"COM0", "COM0"},         {"console", "console"}, {"CON .x", "_CON .x"},
      {"s\xE9", "s_"},          {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"}, {".hidden", ".hidden"},
  };
  for (const auto& c : cases) EXPECT_EQ(io::SafeName(c.name), c.safe) << c.name;

  io::SafeNamer namer;
  EXPECT_EQ(namer.Next("data.bin"), "data.bin");
  EXPECT_FALSE(namer.changed());
  EXPECT_EQ(namer.Next("DATA.BIN"), "DATA~2.BIN");
  EXPECT_TRUE(namer.changed());
  EXPECT_EQ(namer.Next("data/bin"), "data_bin");
  EXPECT_EQ(namer.Next("data.bin"), "data~3.bin");
}

#ifndef _WIN32
TEST(CliProcess, ExitCodesAndNonAsciiPaths) {
  testutil::TempDir dir;
  std::string path = WriteImage(dir, "s\xC3\xA4ve.psu", SampleImage());
  auto shell = [](const std::string& args) {
    int status = std::system((std::string("\"") + MORAVELT_CLI_PATH + "\" " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(shell("info '" + path + "'"), 0);
  EXPECT_EQ(shell("convert '" + path + "' '" + dir.File("\xC3\xB6ut.psu") + "'"), 0);
  EXPECT_EQ(testutil::ReadFile(dir.File("\xC3\xB6ut.psu")), testutil::ReadFile(path));
  EXPECT_EQ(shell("info '" + dir.File("missing.psu") + "'"), 1);
  EXPECT_EQ(shell("--no-such-option"), 2);
}
#endif

// convert from .max to .psu writes as it decodes; a bad file still says what a load of
// it says (the same words as with --as, which loads it first), answers the CRC's question
// the same way, and leaves no file behind.
TEST(CliConvert, ABadArmaxSaveFailsAsItsLoadDoes) {
  testutil::MaxImage good;
  good.files = {{"icon.sys", testutil::MakeIconSys("T")}, {"data", testutil::MakeBytes(300000, 5)}};
  testutil::MaxImage dry = good, badCrc = good;
  Bytes stream = testutil::LzariCompress(good.Payload());
  stream.resize(stream.size() * 3 / 4);
  dry.stream = stream;
  badCrc.validCrc = false;
  struct Case {
    const char* why;
    testutil::MaxImage image;
    std::vector<std::string> options;
    int code;
  };
  const Case cases[] = {
      {"a good save", good, {}, 0},
      {"a stream that runs dry", dry, {}, 1},
      {"a CRC answered No", badCrc, {}, 1},
      {"a CRC answered Yes", badCrc, {"--yes"}, 0},
  };
  for (const Case& c : cases) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("in.max"), c.image.Build());
    std::vector<std::string> onePass{"convert", dir.File("in.max"), dir.File("a.psu")};
    std::vector<std::string> loaded{"convert", "--as", "max", dir.File("in.max"), dir.File("b.psu")};
    onePass.insert(onePass.end(), c.options.begin(), c.options.end());
    loaded.insert(loaded.end(), c.options.begin(), c.options.end());
    const auto first = RunCli(onePass), second = RunCli(loaded);
    EXPECT_EQ(first.code, c.code) << c.why;
    EXPECT_EQ(first.err, second.err) << c.why;
    EXPECT_EQ(first.code, second.code) << c.why;
    std::size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, c.code == 0 ? 3u : 1u) << c.why;
    if (c.code == 0) {
      EXPECT_EQ(io::FileSize(dir.File("a.psu")), io::FileSize(dir.File("b.psu"))) << c.why;
    }
  }
}
