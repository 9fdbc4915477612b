// The command line on PS1 single saves: info, convert between the PS1 families (and the
// refusal between consoles), icon at any size and with every frame, batch to raw and the
// one edit a PS1 save takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "formats/ps1/ps1_frame.h"
#include "io/file.h"
#include "support/cli_runner.h"
#include "support/ps1_builder.h"
#include "support/psu_builder.h"
#include "support/test_util.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

namespace {

using testutil::Bytes;
using testutil::RunCli;

constexpr const char* kName = "BASLUS-00958GS2-7";

Bytes Blocks(std::uint8_t iconFlag = 0x13) {
  testutil::Ps1SaveImage image;
  image.blocks = 2;
  image.iconFlag = iconFlag;
  return image.Build();
}

Bytes WithFrame(const Bytes& blocks, const std::string& name = kName) {
  return testutil::MakePs1File("mcs", name, blocks);
}

Bytes WithPsxHeader(const Bytes& blocks) { return testutil::MakePs1File("psx", kName, blocks); }

struct Png {
  int width = 0, height = 0;
  Bytes rgba;
  const std::uint8_t* At(int x, int y) const { return rgba.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4; }
};

Png ReadPng(const std::string& path) {
  Bytes bytes = testutil::ReadFile(path);
  Png png;
  int channels = 0;
  stbi_uc* pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &png.width,
                                          &png.height, &channels, 4);
  if (!pixels) return {};
  png.rgba.assign(pixels, pixels + static_cast<std::size_t>(png.width) * static_cast<std::size_t>(png.height) * 4);
  stbi_image_free(pixels);
  return png;
}

}  // namespace

// Built files of each family, and corpus saves when present (their titles not compared).
TEST(CliPs1, InfoJson) {
  testutil::TempDir dir;
  testutil::WriteFile(dir.File("save.mcs"), WithFrame(Blocks()));
  testutil::WriteFile(dir.File("save.psx"), WithPsxHeader(Blocks(0x11)));
  // A raw save whose card file name holds a dot opens by its contents.
  testutil::WriteFile(dir.File("BASLUS-00001GAME.1"), Blocks(0x12));
  const std::string title = "\xEF\xBC\xA1\xEF\xBC\xA2 TEST";
  const struct {
    std::string file;
    const char* format;
    const char* folder;
    int blocks;
    int frames;
    std::string title;  // empty: not compared
    const char* region;
    bool signature;
  } cases[] = {
      {dir.File("save.mcs"), "mcs", kName, 2, 3, title, "America", false},
      {dir.File("save.psx"), "psx", kName, 2, 1, title, "America", false},
      {dir.File("BASLUS-00001GAME.1"), "raw", "BASLUS-00001GAME.1", 2, 2, title, "America", false},
      {testutil::CorpusPath("ps1save/a.mcs"), "mcs", "BISLPS-01416-DIAB-01", 10, 1, "", "Japan", false},
      {testutil::CorpusPath("ps1save/e-tool.psv"), "psv", kName, 2, 3, "", "America", true},
  };
  for (const auto& c : cases) {
    if (c.file.empty()) continue;  // no corpus
    auto run = RunCli({"info", "--json", c.file});
    ASSERT_EQ(run.code, 0) << c.file << run.err;
    const auto j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["format"], c.format) << c.file;
    EXPECT_EQ(j["folder"], c.folder) << c.file;
    EXPECT_EQ(j["blocks"], c.blocks) << c.file;
    EXPECT_EQ(j["icon_frames"], c.frames) << c.file;
    EXPECT_EQ(j["region"], c.region) << c.file;
    EXPECT_TRUE(j["title_utf8"].is_string()) << c.file;
    if (!c.title.empty()) {
      EXPECT_EQ(j["title_utf8"], c.title) << c.file;
    }
    EXPECT_EQ(j["signature_valid"].is_null(), !c.signature) << c.file;
  }
}

// Between PS1 families the bytes are each layout's; a name without an extension is a raw
// save; a PS2 family, or a PS2 save into a PS1 family, is refused and writes nothing.
TEST(CliPs1, ConvertBetweenFamilies) {
  testutil::TempDir dir;
  const Bytes blocks = Blocks();
  testutil::WriteFile(dir.File("save.mcs"), WithFrame(blocks));
  testutil::PsuImage image;
  image.files.push_back({"DATA", testutil::MakeBytes(10, 1)});
  testutil::WriteFile(dir.File("ps2.psu"), image.Build());
  const std::string refusedPs1 =
      "This is a PlayStation 1 save: it can't be written as an ARMAX save, which holds only "
      "PlayStation 2 saves. The two consoles' saves are different things.\n";
  const std::string refusedPs2 =
      "This is a PlayStation 2 save: it can't be written as a PS1 cheat-device save, which holds "
      "only PlayStation 1 saves. The two consoles' saves are different things.\n";
  const struct {
    std::string from;
    std::string to;
    int code;
    Bytes want;       // the file written, when it is
    std::string err;
  } cases[] = {
      {"save.mcs", "out.pda", 0, WithPsxHeader(blocks), ""},
      {"out.pda", "again.ps1", 0, WithFrame(blocks), ""},
      {"again.ps1", kName, 0, blocks, ""},
      {kName, "back.mcs", 0, WithFrame(blocks), ""},
      {"save.mcs", "ps2.max", 1, {}, refusedPs1},
      {"ps2.psu", "ps2.psx", 1, {}, refusedPs2},
      {"ps2.psu", "PS2SAVE", 1, {}, "Unknown file type\n"},
  };
  for (const auto& c : cases) {
    auto run = RunCli({"convert", dir.File(c.from), dir.File(c.to)});
    EXPECT_EQ(run.code, c.code) << c.to << run.err;
    EXPECT_EQ(run.err, c.err) << c.to;
    if (c.code == 0)
      EXPECT_TRUE(testutil::ReadFile(dir.File(c.to)) == c.want) << c.to;
    else
      EXPECT_FALSE(io::Exists(dir.File(c.to))) << c.to;
  }
  // A raw save under another name than its card file name is written, with a warning.
  auto renamed = RunCli({"convert", dir.File("save.mcs"), dir.File("OTHER")});
  EXPECT_EQ(renamed.code, 0);
  EXPECT_EQ(renamed.err, "warning: a raw PS1 save is taken only as BASLUS-00958GS2-7 (the file name is "
                         "the save's card file name), not as \"OTHER\"\n");
}

// The icon at its own size, scaled without smoothing, and every frame side by side.
TEST(CliPs1, IconSizesAndFrames) {
  testutil::TempDir dir;
  testutil::WriteFile(dir.File(kName), Blocks());
  const struct {
    std::vector<std::string> options;
    int width, height;
  } cases[] = {
      {{}, 16, 16},
      {{"--size", "64"}, 64, 64},
      {{"--frames"}, 48, 16},
      {{"--size", "512", "--frames"}, 1536, 512},
  };
  const Png own = [&] {
    RunCli({"icon", dir.File(kName), "-o", dir.File("own.png")});
    return ReadPng(dir.File("own.png"));
  }();
  ASSERT_EQ(own.width, 16);
  for (const auto& c : cases) {
    std::vector<std::string> args = {"icon", dir.File(kName), "-o", dir.File("x.png")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    auto run = RunCli(args);
    ASSERT_EQ(run.code, 0) << run.err;
    const Png png = ReadPng(dir.File("x.png"));
    ASSERT_EQ(png.width, c.width);
    ASSERT_EQ(png.height, c.height);
    // Each icon pixel is a square of one colour: the first frame matches the picture at 16.
    const int scale = c.height / 16;
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.height; ++x)
        ASSERT_TRUE(std::equal(png.At(x, y), png.At(x, y) + 4, own.At(x / scale, y / scale))) << x << "," << y;
  }
  // The frames differ: the second frame is no copy of the first.
  const Png strip = ReadPng(dir.File("x.png"));
  EXPECT_FALSE(std::equal(strip.At(0, 0), strip.At(0, 0) + 512 * 4, strip.At(512, 0)));
}

TEST(CliPs1, IconRefusals) {
  testutil::TempDir dir;
  testutil::WriteFile(dir.File(kName), Blocks());
  testutil::PsuImage image;
  image.files.push_back({"DATA", testutil::MakeBytes(10, 1)});
  testutil::WriteFile(dir.File("ps2.psu"), image.Build());
  const struct {
    std::vector<std::string> args;
    int code;
  } cases[] = {
      {{"icon", dir.File(kName), "-o", dir.File("a.png"), "--size", "15"}, 2},
      {{"icon", dir.File(kName), "-o", dir.File("a.png"), "--size", "513"}, 2},
      {{"icon", dir.File(kName), "--texture", dir.File("a.png")}, 2},
      {{"icon", dir.File("ps2.psu"), "-o", dir.File("a.png"), "--size", "16"}, 2},
      {{"icon", dir.File("ps2.psu"), "-o", dir.File("a.png"), "--frames"}, 2},
  };
  for (const auto& c : cases) {
    auto run = RunCli(c.args);
    EXPECT_EQ(run.code, c.code) << c.args[4] << run.err;
    EXPECT_FALSE(io::Exists(dir.File("a.png")));
  }
  auto described = RunCli({"icon", dir.File(kName)});
  EXPECT_EQ(described.out, "Icon:       16 x 16, 3 frames (animated)\n");
}

// batch --to raw names each output after its save; a folder's raw saves are found by their
// contents, and a text file without an extension is not taken for one.
TEST(CliPs1, BatchToRawAndFromRaw) {
  testutil::TempDir dir;
  std::filesystem::create_directories(dir.path() / "in");
  testutil::WriteFile(dir.File("in/a.mcs"), WithFrame(Blocks(), "BESLES-00001A"));
  testutil::WriteFile(dir.File("in/b.psx"), WithPsxHeader(Blocks()));
  testutil::WriteFile(dir.File("in/README"), testutil::FromString("not a save\n"));
  auto toRaw = RunCli({"batch", "--to", "raw", "-o", dir.File("raw"), dir.File("in")});
  EXPECT_EQ(toRaw.code, 0) << toRaw.err;
  EXPECT_EQ(toRaw.out, "2 converted, 0 skipped, 0 failed\n");
  EXPECT_TRUE(testutil::ReadFile(dir.File("raw/BESLES-00001A")) == Blocks());
  EXPECT_TRUE(testutil::ReadFile(dir.File(std::string("raw/") + kName)) == Blocks());

  testutil::WriteFile(dir.File("raw/README"), testutil::FromString("not a save\n"));
  auto fromRaw = RunCli({"batch", "--to", "mcs", "-o", dir.File("mcs"), dir.File("raw")});
  EXPECT_EQ(fromRaw.code, 0) << fromRaw.err;
  EXPECT_EQ(fromRaw.out, "2 converted, 0 skipped, 0 failed\n");
  EXPECT_TRUE(testutil::ReadFile(dir.File("mcs/BESLES-00001A.mcs")) == WithFrame(Blocks(), "BESLES-00001A"));
}

TEST(CliPs1, OnlyRenameEditsAPs1Save) {
  testutil::TempDir dir;
  testutil::WriteFile(dir.File("save.mcs"), WithFrame(Blocks()));
  testutil::WriteFile(dir.File("pc.bin"), Bytes(4, 1));
  const struct {
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      {{"add", dir.File("save.mcs"), dir.File("pc.bin")}, 2,
       "A PlayStation 1 save has no files, modes or times of its own to change: only rename changes it\n"},
      {{"set-mode", dir.File("save.mcs"), "0x8427"}, 2,
       "A PlayStation 1 save has no files, modes or times of its own to change: only rename changes it\n"},
      {{"rename", dir.File("save.mcs"), "BASLUS-00958GS2-7-TOO-LONG"}, 2,
       "A PlayStation 1 save's name has 1 to 20 ASCII characters\n"},
      {{"rename", dir.File("save.mcs"), "BASLUS-00958GS2-8"}, 0, ""},
  };
  for (const auto& c : cases) {
    auto run = RunCli(c.args);
    EXPECT_EQ(run.code, c.code) << c.args[0];
    EXPECT_EQ(run.err, c.err) << c.args[0];
  }
  EXPECT_TRUE(testutil::ReadFile(dir.File("save.mcs")) == WithFrame(Blocks(), "BASLUS-00958GS2-8"));
}
