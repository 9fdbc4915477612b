// The PS1 single-save families: .mcs, raw, .psx (and its other extensions) and PS1 PS3
// exports. What each reads from a file and refuses, the files each writes, the corpus
// saves through every family and back, and the refusal of a conversion between consoles.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "card/card.h"
#include "formats/mcs/mcs.h"
#include "formats/ps1/ps1_save.h"
#include "formats/ps1raw/ps1raw.h"
#include "formats/psu/psu.h"
#include "formats/psv/psv.h"
#include "formats/psv/psv_ps1.h"
#include "formats/psx/psx.h"
#include "formats/registry.h"
#include "formats/write_save.h"
#include "io/file.h"
#include "io/path.h"
#include "model/bytes.h"
#include "support/card_builder.h"
#include "support/ps1_builder.h"
#include "support/psu_builder.h"
#include "support/test_util.h"

using testutil::Bytes;

namespace {

constexpr const char* kPs1Families[] = {"mcs", "psx", "raw", "psv"};

// A file of `family` holding `blocks`, made as the layout has it (not by the writers).
Bytes FileOf(std::string_view family, const std::string& name, const Bytes& blocks) {
  return testutil::MakePs1File(family, name, blocks);
}

struct Loaded {
  std::unique_ptr<CSaveGame> save;
  LoadResult result = LoadResult::kInvalid;
};

Loaded LoadAs(std::string_view family, const std::string& path) {
  Loaded loaded;
  loaded.save = FamilyNamed(family)->create();
  loaded.result = loaded.save->Load(path);
  return loaded;
}

Bytes BlocksOf(const CSaveGame& save) {
  std::vector<std::uint8_t> blocks;
  EXPECT_EQ(ps1::ReadBlocks(save, blocks), DataResult::kOk);
  return blocks;
}

// The corpus's PS1 single saves, each with its family.
struct CorpusSave {
  const char* path;
  const char* family;
};
constexpr CorpusSave kCorpusSaves[] = {
    {"ps1save/a.mcs", "mcs"},
    {"ps1save/b.mcs", "mcs"},
    {"ps1save/c-raw/BASLUS-00958GS2-7", "raw"},
    {"ps1save/c-raw/BESLES-04095XSMOTO", "raw"},
    {"ps1save/d.psv", "psv"},
    {"ps1save/e-tool.psv", "psv"},
    {"psv/j-ps1.psv", "psv"},
};

// Writes `save` as `family` into `dir` under the name the family gives it.
std::string WriteAs(CSaveGame& save, std::string_view family, const testutil::TempDir& dir,
                    const std::string& stem) {
  const FormatFamily* f = FamilyNamed(family);
  const std::string path = dir.File(OutputName(*f, save, stem));
  const SaveWrite written = WriteSaveAs(save, *f, path);
  EXPECT_TRUE(written.ok()) << family << ": " << written.refusal;
  return path;
}

}  // namespace

// Each family's file, made from its layout, opens with the save's name, blocks and title;
// its content check knows it.
TEST(Ps1Families, ReadFromTheLayout) {
  testutil::TempDir dir;
  const Bytes blocks = testutil::MakePs1Blocks(3, 5);
  for (const char* family : kPs1Families) {
    if (std::string_view(family) == "psv") continue;  // signed: read from the corpus below
    const std::string path = dir.File(family == std::string_view("raw") ? "BESLES-04095XSMOTO" : std::string("save.") + family);
    testutil::WriteFile(path, FileOf(family, "BESLES-04095XSMOTO", blocks));
    EXPECT_EQ(FamilyOfFile(path), FamilyNamed(family)) << family;
    Loaded loaded = LoadAs(family, path);
    ASSERT_EQ(loaded.result, LoadResult::kOk) << family << ": " << loaded.save->refusal;
    EXPECT_TRUE(ps1::IsPs1(*loaded.save)) << family;
    EXPECT_EQ(loaded.save->EntryAt(-1)->Name(), "BESLES-04095XSMOTO") << family;
    EXPECT_EQ(BlocksOf(*loaded.save), blocks) << family;
    EXPECT_EQ(loaded.save->EntryAt(-1)->Title(), "AB TEST") << family;
  }
}

TEST(Ps1Families, DamagedFilesAreRefused) {
  const Bytes one = testutil::MakePs1Blocks(1);
  const Bytes two = testutil::MakePs1Blocks(2);
  testutil::Ps1SaveImage miscounted;
  miscounted.blocks = 2;
  miscounted.blockCountByte = 1;
  Bytes wrongFrame = FileOf("mcs", "BASLUS-1", two);
  bytes::PutU32LE(wrongFrame.data() + 4, 8192);
  Bytes halfBlock = FileOf("psx", "BASLUS-1", one);
  halfBlock.resize(halfBlock.size() + 4096);
  const struct {
    const char* why;
    const char* family;
    Bytes file;
    LoadResult want;
    std::string refusal;
  } cases[] = {
      {"a frame whose size isn't the blocks'", "mcs", wrongFrame, LoadResult::kInvalid,
       "The directory frame gives the save 8192 bytes, but the file holds 16384."},
      {"a count that isn't the blocks'", "raw", miscounted.Build(), LoadResult::kInvalid,
       "The save says it has 1 blocks, but it holds 2."},
      {"half a block more", "psx", halfBlock, LoadResult::kInvalid,
       "The file's 12342 bytes are not its header and 1 to 15 whole blocks of 8,192 bytes."},
      {"sixteen blocks", "raw", testutil::MakePs1Blocks(16), LoadResult::kInvalid,
       "The file's 131072 bytes are not its header and 1 to 15 whole blocks of 8,192 bytes."},
      {"no block", "mcs", Bytes(128, 0), LoadResult::kInvalid,
       "The file's 128 bytes are not its header and 1 to 15 whole blocks of 8,192 bytes."},
      {"cut short in its first block", "raw", Bytes(4096, 0), LoadResult::kInvalid,
       "The file's 4096 bytes are not its header and 1 to 15 whole blocks of 8,192 bytes."},
      {"shorter than its header", "psx", Bytes(40, 0), LoadResult::kInvalid,
       "The file's 40 bytes are not its header and 1 to 15 whole blocks of 8,192 bytes."},
      {"a PocketStation card", "psx", Bytes(131232, 0), LoadResult::kInvalid,
       "This is a Vita PocketStation memory card, not a single save: open it as a card."},
      {"not a save", "raw", Bytes(8192, 0), LoadResult::kInvalid,
       "The save's first block doesn't begin with \"SC\": this is no PlayStation 1 save."},
  };
  testutil::TempDir dir;
  for (const auto& c : cases) {
    const std::string path = dir.File("file");
    testutil::WriteFile(path, c.file);
    Loaded loaded = LoadAs(c.family, path);
    EXPECT_EQ(loaded.result, c.want) << c.why;
    EXPECT_EQ(loaded.save->refusal, c.refusal) << c.why;
    EXPECT_FALSE(loaded.save->entries) << c.why;
  }
}

// A PS1 export's sizes: the size at 0x40 must be the blocks' and the file's.
TEST(Ps1Families, ExportSizesAreChecked) {
  REQUIRE_CORPUS(path, "ps1save/d.psv");
  const Bytes original = testutil::ReadFile(path);
  Bytes longer = original;
  longer.push_back(0);
  Bytes shorter(original.begin(), original.end() - 1);
  Bytes huge = original;
  bytes::PutU32LE(huge.data() + 0x40, 0xFFFFE000u);
  Bytes twoBlocks = original;
  bytes::PutU32LE(twoBlocks.data() + 0x40, 16384);
  const struct {
    const char* why;
    Bytes file;
    LoadResult want;
    std::string refusal;
  } cases[] = {
      {"a byte after the blocks", longer, LoadResult::kInvalid, "The file holds 1 bytes after the save's blocks."},
      {"a byte short", shorter, LoadResult::kReadFailed, psv::kCutShortRefusal},
      {"a size beyond any card", huge, LoadResult::kInvalid,
       "The save's 4294959104 bytes are not 1 to 15 whole blocks of 8,192 bytes."},
      {"more blocks than the file", twoBlocks, LoadResult::kReadFailed, psv::kCutShortRefusal},
      {"a header only", Bytes(original.begin(), original.begin() + 0x84), LoadResult::kReadFailed, psv::kCutShortRefusal},
  };
  testutil::TempDir dir;
  for (const auto& c : cases) {
    testutil::WriteFile(dir.File("x.psv"), c.file);
    CPsv save;
    EXPECT_EQ(testutil::LoadAsking(save, dir.File("x.psv"), [](const LoadQuestion&) { return true; }), c.want) << c.why;
    EXPECT_EQ(save.refusal, c.refusal) << c.why;
  }
}

// The written files, byte by byte: .psx's name and zeros, a PS1 export's header as a PS3
// writes it, .mcs's frame, raw's bare blocks.
TEST(Ps1Families, WrittenLayouts) {
  testutil::TempDir dir;
  const Bytes blocks = testutil::MakePs1Blocks(2, 9);
  const std::string rawPath = dir.File("BASLUS-01105DATA1");
  testutil::WriteFile(rawPath, blocks);
  Loaded source = LoadAs("raw", rawPath);
  ASSERT_EQ(source.result, LoadResult::kOk);
  for (const char* family : {"mcs", "psx", "raw"}) {
    const std::string out = WriteAs(*source.save, family, dir, "out");
    EXPECT_EQ(testutil::ReadFile(out), FileOf(family, "BASLUS-01105DATA1", blocks)) << family;
  }
  const std::string psvPath = WriteAs(*source.save, "psv", dir, "out");
  EXPECT_EQ(io::FileNameOf(psvPath), "BASLUS-011054441544131.PSV");
  const Bytes psvFile = testutil::ReadFile(psvPath);
  EXPECT_EQ(psv::Verify(psvFile), psv::SignatureCheck::kValid);
  ASSERT_EQ(psvFile.size(), 0x84u + blocks.size());
  EXPECT_EQ(bytes::GetU32LE(psvFile.data() + 0x38), 0x14u);
  EXPECT_EQ(bytes::GetU32LE(psvFile.data() + 0x3C), 1u);
  EXPECT_EQ(bytes::GetU32LE(psvFile.data() + 0x40), blocks.size());
  EXPECT_EQ(bytes::GetU32LE(psvFile.data() + 0x5C), blocks.size());
  EXPECT_EQ(psv::Ps1Name(psvFile), "BASLUS-01105DATA1");
  EXPECT_TRUE(std::equal(blocks.begin(), blocks.end(), psvFile.begin() + 0x84));
}

// A changed byte fails the signature: the loader asks, and No refuses the file.
TEST(Ps1Families, TamperedExportAsks) {
  REQUIRE_CORPUS(path, "ps1save/d.psv");
  Bytes file = testutil::ReadFile(path);
  file[0x84 + 100] ^= 1;
  testutil::TempDir dir;
  testutil::WriteFile(dir.File("x.psv"), file);
  for (bool answer : {false, true}) {
    CPsv save;
    int asked = 0;
    EXPECT_EQ(testutil::LoadAsking(save, dir.File("x.psv"), [&](const LoadQuestion&) { return ++asked, answer; }),
              answer ? LoadResult::kOk : LoadResult::kInvalid);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(save.signatureValid, answer ? std::optional<bool>(false) : std::nullopt);
  }
}

// The corpus's cross-check: the raw save is the PC tool's export's data.
TEST(Ps1Families, RawSaveIsTheToolExportsData) {
  REQUIRE_CORPUS(raw, "ps1save/c-raw/BASLUS-00958GS2-7");
  REQUIRE_CORPUS(psvPath, "ps1save/e-tool.psv");
  Loaded a = LoadAs("raw", raw);
  Loaded b = LoadAs("psv", psvPath);
  ASSERT_EQ(a.result, LoadResult::kOk);
  ASSERT_EQ(b.result, LoadResult::kOk);
  EXPECT_EQ(a.save->EntryAt(-1)->Name(), b.save->EntryAt(-1)->Name());
  EXPECT_EQ(BlocksOf(*a.save), testutil::ReadFile(raw));
  EXPECT_TRUE(BlocksOf(*a.save) == BlocksOf(*b.save));
}

// Every corpus save through every PS1 family and back to its own: the same file as the save
// written straight to its own family. Only a .mcs save's frame doesn't survive a family
// without one: it comes back as a new frame.
TEST(Ps1Families, CorpusSavesThroughEveryFamilyAndBack) {
  for (const CorpusSave& c : kCorpusSaves) {
    const std::string path = testutil::CorpusPath(c.path);
    if (path.empty()) continue;
    testutil::TempDir dir;
    Loaded original = LoadAs(c.family, path);
    ASSERT_EQ(original.result, LoadResult::kOk) << c.path;
    testutil::TempDir straightDir;
    const Bytes straight = testutil::ReadFile(WriteAs(*original.save, c.family, straightDir, "straight"));
    for (const char* via : kPs1Families) {
      const std::string between = WriteAs(*original.save, via, dir, "between");
      EXPECT_EQ(FamilyOfFile(between), FamilyNamed(via)) << c.path << " via " << via;
      Loaded middle = LoadAs(via, between);
      ASSERT_EQ(middle.result, LoadResult::kOk) << c.path << " via " << via;
      testutil::TempDir backDir;
      const Bytes back = testutil::ReadFile(WriteAs(*middle.save, c.family, backDir, "back"));
      const bool frameLost = c.family == std::string_view("mcs") && via != std::string_view("mcs");
      if (!frameLost) {
        EXPECT_TRUE(back == straight) << c.path << " via " << via;
        continue;
      }
      ASSERT_EQ(back.size(), straight.size()) << c.path << " via " << via;
      EXPECT_TRUE(std::equal(back.begin() + 128, back.end(), straight.begin() + 128)) << c.path << " via " << via;
      const ps1::DirFrame fresh = ps1::DirFrame::FirstOf(middle.save->EntryAt(-1)->Name(), static_cast<std::uint32_t>(back.size() - 128));
      EXPECT_TRUE(std::equal(fresh.bytes.begin(), fresh.bytes.end(), back.begin())) << c.path << " via " << via;
    }
    if (c.family != std::string_view("psv")) {
      EXPECT_TRUE(straight == testutil::ReadFile(path)) << c.path;
    }
  }
}

// Neither console's save is written in a family of the other's; nothing is written.
TEST(Ps1Families, NoConversionBetweenConsoles) {
  testutil::TempDir dir;
  testutil::WriteFile(dir.File("BASLUS-1"), testutil::MakePs1Blocks(1));
  Loaded ps1Save = LoadAs("raw", dir.File("BASLUS-1"));
  ASSERT_EQ(ps1Save.result, LoadResult::kOk);
  testutil::PsuImage image;
  image.files.push_back({"DATA", testutil::MakeBytes(100, 1)});
  testutil::WriteFile(dir.File("ps2.psu"), image.Build());
  Loaded ps2Save = LoadAs("psu", dir.File("ps2.psu"));
  ASSERT_EQ(ps2Save.result, LoadResult::kOk);
  const struct {
    CSaveGame* save;
    const char* family;
    bool written;
    std::string refusal;
  } cases[] = {
      {ps1Save.save.get(), "psu", false,
       "This is a PlayStation 1 save: it can't be written as a Memory Linker save, which holds only "
       "PlayStation 2 saves. The two consoles' saves are different things."},
      {ps1Save.save.get(), "cbs", false,
       "This is a PlayStation 1 save: it can't be written as a CodeBreaker save, which holds only "
       "PlayStation 2 saves. The two consoles' saves are different things."},
      {ps2Save.save.get(), "mcs", false,
       "This is a PlayStation 2 save: it can't be written as a PS1 single save (.mcs), which holds "
       "only PlayStation 1 saves. The two consoles' saves are different things."},
      {ps2Save.save.get(), "raw", false,
       "This is a PlayStation 2 save: it can't be written as a raw PS1 save, which holds only "
       "PlayStation 1 saves. The two consoles' saves are different things."},
      {ps1Save.save.get(), "psv", true, ""},
      {ps2Save.save.get(), "psv", true, ""},
  };
  for (const auto& c : cases) {
    const std::string out = dir.File(std::string("out-") + c.family);
    const SaveWrite w = WriteSaveAs(*c.save, *FamilyNamed(c.family), out);
    EXPECT_EQ(w.ok(), c.written) << c.family;
    EXPECT_EQ(w.refusal, c.refusal) << c.family;
    EXPECT_EQ(io::Exists(out), c.written) << c.family;
  }
  // A PS1 writer called directly refuses a PS2 save too.
  CMcs mcs;
  EXPECT_EQ(mcs.WriteConvertedFrom(*ps2Save.save, dir.File("direct.mcs")), LoadResult::kInvalid);
  EXPECT_EQ(mcs.refusal, ps1::kPs2AsPs1Refusal);
}

// A raw save is written under its card file name where the PC can take it; a PS1 export
// under the name a PS3 takes.
TEST(Ps1Families, RequiredNames) {
  const struct {
    const char* name;
    std::optional<std::string> raw;
    std::optional<std::string> psv;
  } cases[] = {
      {"BASLUS-01105DATA1", "BASLUS-01105DATA1", "BASLUS-011054441544131.PSV"},
      {"BESLES-01051Matt..", std::nullopt, "BESLES-010514D6174742E2E.PSV"},
      {"BASLUS-00001 A?B", std::nullopt, "BASLUS-0000120413F42.PSV"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FamilyNamed("raw")->requiredName(c.name), c.raw) << c.name;
    EXPECT_EQ(FamilyNamed("psv")->requiredName(c.name), c.psv) << c.name;
  }
}

// A PS2 card takes no PS1 save: the import is refused and the card stays as it was.
TEST(Ps1Families, APs2CardRefusesAPs1Save) {
  testutil::TempDir dir;
  testutil::CardFile f = testutil::CardFile::Format(dir.File("card.ps2"), true);
  const Bytes before = testutil::ReadFile(f.path());
  testutil::WriteFile(dir.File("BASLUS-1"), testutil::MakePs1Blocks(1));
  Loaded save = LoadAs("raw", dir.File("BASLUS-1"));
  ASSERT_EQ(save.result, LoadResult::kOk);
  auto card = card::OpenCard(f.path()).card;
  ASSERT_TRUE(card);
  const card::ImportOutcome outcome = card->Import(*save.save);
  EXPECT_EQ(outcome.result, card::ImportResult::kOtherConsole);
  EXPECT_EQ(outcome.detail, "a PlayStation 1 save: a PlayStation 2 card can't hold it");
  EXPECT_TRUE(testutil::ReadFile(f.path()) == before);
}
