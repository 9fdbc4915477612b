// Writes the fuzz targets' seed corpus from the test builders:
//   moravelt-make-seeds <folder>     (normally fuzz/corpus)
// Each seed is a valid file of its format, small enough for the fuzzer to mutate
// quickly; together they reach every branch of their loader. The generated files are
// committed, beside the inputs that once crashed a target.
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "card/card.h"
#include "card/folder_card.h"
#include "formats/psu/psu.h"
#include "io/file.h"
#include "model/save_game.h"
#include "support/card_builder.h"
#include "support/card_patches.h"
#include "support/cbs_builder.h"
#include "support/icon_builder.h"
#include "support/lzari_encoder.h"
#include "support/max_builder.h"
#include "support/ps1_builder.h"
#include "support/ps1_card_builder.h"
#include "support/psu_builder.h"
#include "support/psv_builder.h"
#include "support/test_util.h"
#include "support/vcd_builder.h"
#include "support/xps_builder.h"

namespace {

using testutil::Bytes;

struct Seed {
  std::string target;  // the fuzz target's name, and the corpus folder
  std::string name;
  Bytes bytes;
};

// Full-width "AB 1" in Shift-JIS, then a katakana character and an unmapped symbol.
const std::string kShiftJisTitle = "\x82\x60\x82\x61\x81\x40\x82\x50\x83\x41\x81\x70";

std::vector<Seed> PsuSeeds() {
  using testutil::PsuFile;
  using testutil::PsuImage;
  std::vector<Seed> seeds;

  PsuImage empty;
  seeds.push_back({"psu_load", "empty.psu", empty.Build()});

  PsuImage titled;
  titled.files.push_back(PsuFile{"icon.sys", testutil::MakeIconSys(kShiftJisTitle)});
  titled.files.push_back(PsuFile{"DATA.BIN", testutil::MakeBytes(300, 1)});
  seeds.push_back({"psu_load", "titled.psu", titled.Build()});

  PsuImage sizes;
  for (std::size_t n : {0u, 1u, 1023u, 1024u, 1025u})
    sizes.files.push_back(PsuFile{"F" + std::to_string(n), testutil::MakeBytes(n, 2)});
  seeds.push_back({"psu_load", "sizes.psu", sizes.Build()});

  PsuImage odd;
  odd.folder = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";  // 32 characters: no NUL in the field
  odd.rootMode = 0x842F;
  odd.fillIgnored = true;
  odd.files.push_back(PsuFile{"abcdefghijklmnopqrstuvwxyz012345", testutil::MakeBytes(40, 3), 0xFFFF8497});
  odd.files.push_back(PsuFile{"icon.sys", testutil::MakeIconSys("NO TITLE HERE"), 0x8497});
  odd.files.back().data.pop_back();  // 963 bytes: no title
  seeds.push_back({"psu_load", "odd.psu", odd.Build()});
  return seeds;
}

std::vector<Seed> XpsSeeds() {
  using testutil::XpsFile;
  using testutil::XpsImage;
  std::vector<Seed> seeds;

  XpsImage empty;
  seeds.push_back({"xps_load", "empty.xps", empty.Build()});

  XpsImage titled;
  titled.root.title = "PLAIN TITLE";
  titled.root.rawTitle = kShiftJisTitle;
  titled.files.push_back(XpsFile("icon.sys", testutil::MakeIconSys(kShiftJisTitle)));
  titled.files.push_back(XpsFile("DATA.BIN", testutil::MakeBytes(300, 1)));
  seeds.push_back({"xps_load", "titled.xps", titled.Build()});

  XpsImage odd;
  odd.magic = std::string("SharkPortSave\0", 14);
  odd.comment = "Made using file converter by velloquin";
  odd.root.mode = 0x8497;  // not a directory: the loader asks
  odd.root.headerLength = 300;
  odd.files.push_back(XpsFile("abcdefghijklmnopqrstuvwxyz0123456789", testutil::MakeBytes(40, 3)));
  odd.files.back().mode = 0;  // read as 0x8497
  odd.files.back().headerLength = 260;
  odd.files.push_back(XpsFile("SUB", testutil::MakeBytes(10, 4)));
  odd.files.back().mode = 0x8427;
  odd.dataLength = 5;
  seeds.push_back({"xps_load", "odd.xps", odd.Build()});

  XpsImage sizes;
  for (std::size_t n : {0u, 1u, 1023u, 1024u, 1025u})
    sizes.files.push_back(XpsFile("F" + std::to_string(n), testutil::MakeBytes(n, 2)));
  seeds.push_back({"xps_load", "sizes.xps", sizes.Build()});
  return seeds;
}

std::vector<Seed> MaxSeeds() {
  using testutil::MaxFile;
  using testutil::MaxImage;
  std::vector<Seed> seeds;

  MaxImage empty;
  seeds.push_back({"max_load", "empty.max", empty.Build()});

  MaxImage titled;
  titled.files.push_back(MaxFile{"icon.sys", testutil::MakeIconSys(kShiftJisTitle)});
  titled.files.push_back(MaxFile{"DATA.BIN", testutil::MakeBytes(300, 1)});
  seeds.push_back({"max_load", "titled.max", titled.Build()});

  MaxImage sizes;
  sizes.folder = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
  for (std::size_t n : {0u, 1u, 10u, 100u, 1025u})
    sizes.files.push_back(MaxFile{"F" + std::to_string(n), Bytes(n, static_cast<std::uint8_t>(n))});
  seeds.push_back({"max_load", "sizes.max", sizes.Build()});

  MaxImage badCrc = titled;
  badCrc.validCrc = false;  // the loader asks
  seeds.push_back({"max_load", "bad-crc.max", badCrc.Build()});
  return seeds;
}

std::vector<Seed> CbsSeeds() {
  using testutil::CbsFile;
  using testutil::CbsImage;
  std::vector<Seed> seeds;

  CbsImage empty;
  seeds.push_back({"cbs_load", "empty.cbs", empty.Build()});

  CbsImage titled;
  titled.files.push_back(CbsFile{"icon.sys", testutil::MakeIconSys(kShiftJisTitle)});
  titled.files.push_back(CbsFile{"DATA.BIN", testutil::MakeBytes(300, 1)});
  seeds.push_back({"cbs_load", "titled.cbs", titled.Build()});

  CbsImage odd;  // a PC tool's header: the body's length at 0x10, folder mode 0
  odd.bodyLengthWord = true;
  odd.rootMode = 0;
  odd.folder = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
  for (std::size_t n : {0u, 1u, 100u})
    odd.files.push_back(CbsFile{"F" + std::to_string(n), Bytes(n, static_cast<std::uint8_t>(n))});
  odd.files.back().mode = 0x8427;  // a file marked as a folder: ARMAX refuses it
  seeds.push_back({"cbs_load", "odd.cbs", odd.Build()});
  return seeds;
}

// For each PS1 single-save family: a 1-block save, a 3-block one with an animated icon and
// a dashed title, and one that begins with "CS"; and a signed PS1 export for .psv.
std::vector<Seed> Ps1Seeds() {
  testutil::Ps1SaveImage one;
  testutil::Ps1SaveImage three;
  three.blocks = 3;
  three.iconFlag = 0x13;
  three.rawTitle = "PAC\x81\x7CMAN " + kShiftJisTitle;
  testutil::Ps1SaveImage variant;
  variant.magic = "CS";
  std::vector<Seed> seeds;
  for (const auto& [target, family, extension] :
       {std::tuple{"mcs_load", "mcs", ".mcs"}, std::tuple{"psx_load", "psx", ".psx"}, std::tuple{"ps1raw_load", "raw", ""}}) {
    seeds.push_back({target, std::string("one-block") + extension, testutil::MakePs1File(family, "BASLUS-01105DATA1", one.Build())});
    seeds.push_back({target, std::string("three-blocks") + extension, testutil::MakePs1File(family, "BISLPS-01416-DIAB-01", three.Build())});
    seeds.push_back({target, std::string("cs-magic") + extension, testutil::MakePs1File(family, "BESCES-0096700994465", variant.Build())});
  }
  seeds.push_back({"psv_load", "ps1-export.psv", testutil::MakePs1Export("BASLUS-01105DATA1", three.Build())});
  return seeds;
}

std::vector<Seed> PsvSeeds() {
  using testutil::MakePsvFile;
  using testutil::PsvImage;
  std::vector<Seed> seeds;

  PsvImage empty;
  seeds.push_back({"psv_load", "empty.psv", empty.Build()});

  PsvImage titled;
  titled.files.push_back(MakePsvFile("icon.sys", testutil::MakeIconSys(kShiftJisTitle)));
  titled.files.push_back(MakePsvFile("DATA.BIN", testutil::MakeBytes(300, 1)));
  seeds.push_back({"psv_load", "titled.psv", titled.Build()});

  PsvImage odd;  // names with bytes after the NUL, a homebrew mode word, sizes not of 4
  for (std::size_t n : {1u, 0u, 6u})
    odd.files.push_back(MakePsvFile("F" + std::to_string(n), testutil::MakeBytes(n, 2)));
  odd.files[0].nameJunk = 0xCC;
  odd.files[1].mode = 0x84970000;
  odd.validSignature = false;  // the loader asks
  seeds.push_back({"psv_load", "odd.psv", odd.Build()});

  PsvImage ps1 = titled;
  ps1.kind = 1;
  seeds.push_back({"psv_load", "ps1.psv", ps1.Build()});
  return seeds;
}

// A stream for the LZARI target: two bytes of the expected length, then the coded bytes.
Bytes LzariSeed(const Bytes& plain) {
  Bytes seed = {static_cast<std::uint8_t>(plain.size()), static_cast<std::uint8_t>(plain.size() >> 8)};
  Bytes coded = testutil::LzariCompress(plain);
  seed.insert(seed.end(), coded.begin(), coded.end());
  return seed;
}

std::vector<Seed> LzariSeeds() {
  std::vector<Seed> seeds;
  seeds.push_back({"lzari_decode", "text.lz", LzariSeed(testutil::FromString(
      "The payload of an ARMAX file: records, names, data; records, names, data again."))});
  seeds.push_back({"lzari_decode", "random.lz", LzariSeed(testutil::MakeBytes(600, 5))});
  seeds.push_back({"lzari_decode", "runs.lz", LzariSeed(Bytes(5000, 0))});
  // Literal, then a match of distance 1 and length 5; then a match into the initial window.
  testutil::LzariEncoder exact;
  exact.Literal('x');
  exact.Match(0, 5);
  exact.Match(100, 60);
  Bytes coded = exact.Finish();
  Bytes seed = {66, 0};
  seed.insert(seed.end(), coded.begin(), coded.end());
  seeds.push_back({"lzari_decode", "matches.lz", seed});
  return seeds;
}

std::vector<Seed> IconSysSeeds() {
  std::vector<Seed> seeds;
  seeds.push_back({"icon_sys", "ascii.sys", testutil::MakeIconSys("PLAIN TITLE")});
  seeds.push_back({"icon_sys", "shiftjis.sys", testutil::MakeIconSys(kShiftJisTitle)});
  seeds.push_back({"icon_sys", "full-field.sys", testutil::MakeIconSys(std::string(64, 'T'))});
  seeds.push_back({"icon_sys", "lone-lead.sys", testutil::MakeIconSys("END\x82")});
  Bytes shortFile = testutil::MakeIconSys("SHORT");
  shortFile.pop_back();
  seeds.push_back({"icon_sys", "963-bytes.sys", shortFile});
  Bytes badMagic = testutil::MakeIconSys("BAD MAGIC");
  badMagic[3] = 'X';
  seeds.push_back({"icon_sys", "bad-magic.sys", badMagic});
  return seeds;
}

// Icons small enough to mutate quickly, so none with a raw texture (32 KiB alone): the
// fuzzer reaches that path by flipping the attribute bit.
std::vector<Seed> IconFileSeeds() {
  using testutil::IconImage;
  std::vector<Seed> seeds;

  IconImage rle;  // two shapes, two frames, literal pixels and a run
  rle.shapes = 2;
  rle.attributes = 0x0F;
  rle.vertices = testutil::Triangle({-100, -100, 100, -100, 0, 100}, 0);
  rle.vertices[1].positions.push_back({120, -80, 10});
  rle.frames = {{0, {{0, 1}, {5, 0}}}, {1, {{5, 1}}}};
  rle.texture = testutil::RleTexture({0xFFFD, 0x001F, 0x03E0, 0x7C00, 16381, 0x7FFF});
  seeds.push_back({"icon_file", "rle.ico", rle.Build()});

  IconImage plain;  // vertex colours alone, two triangles at different depths
  plain.attributes = 0x03;
  plain.vertices = testutil::Triangle({-4096, -4096, 4096, -4096, 0, 4096}, 100, {0x80, 0, 0, 0x80});
  auto nearer = testutil::Triangle({-4096, 4096, 4096, 4096, 0, -4096}, -100, {0, 0xFF, 0x40, 0x80});
  plain.vertices.insert(plain.vertices.end(), nearer.begin(), nearer.end());
  plain.vertices[3].normal = {0, -4096, 0};
  seeds.push_back({"icon_file", "untextured.ico", plain.Build()});

  IconImage oddCount = rle;  // the byte count big-endian, bytes after the last code
  oddCount.shapes = 1;
  oddCount.frames = {{0, {{0, 1}}}};
  oddCount.texture = testutil::RleTexture({0x7FF0, 0x1234, 0x7FF0, 0});
  std::swap(oddCount.texture[0], oddCount.texture[3]);
  std::swap(oddCount.texture[1], oddCount.texture[2]);
  seeds.push_back({"icon_file", "rle-count-big-endian.ico", oddCount.Build()});
  return seeds;
}

// Cards filled by the library, as patches over the fresh card: one save; two saves, one
// removed and one added in its place; and a save with a subfolder entry put in by hand.
std::vector<Seed> CardSeeds() {
  std::vector<Seed> seeds;
  testutil::TempDir dir;
  const std::string path = dir.File("card.bin");
  auto addSave = [&](card::Card& c, const std::string& folder, std::size_t bytes) {
    testutil::PsuImage image;
    image.folder = folder;
    image.files.push_back({"icon.sys", testutil::MakeIconSys(kShiftJisTitle)});
    image.files.push_back({"DATA.BIN", testutil::MakeBytes(bytes, 3)});
    testutil::WriteFile(dir.File("save.psu"), image.Build());
    CPsu save;
    save.Load(dir.File("save.psu"));
    c.Import(save);
  };
  testutil::WriteFile(path, testutil::FreshRawCard());
  seeds.push_back({"card_image", "empty.bin", testutil::PatchesFor(testutil::FreshRawCard(), false)});

  auto one = card::OpenCard(path).card;
  addSave(*one, "BESLES-10000ONE", 1500);
  seeds.push_back({"card_image", "one-save.bin", testutil::PatchesFor(testutil::ReadFile(path), false)});
  seeds.push_back({"card_image", "one-save-ecc.bin", testutil::PatchesFor(testutil::ReadFile(path), true)});
  Bytes vme = {1};  // the card as a .VME, under the debug key
  for (std::uint8_t b : testutil::PatchesFor(testutil::ReadFile(path), true)) vme.push_back(b);
  seeds.push_back({"vme_card", "one-save-debug.bin", vme});

  addSave(*one, "BESLES-20000TWO", 2600);
  one->Remove("BESLES-10000ONE");
  addSave(*one, "BESLES-30000NEW", 300);
  seeds.push_back({"card_image", "removed.bin", testutil::PatchesFor(testutil::ReadFile(path), false)});

  // The first file of the last save made a folder holding its own directory's clusters.
  testutil::CardFile f = testutil::CardFile::Read(path);
  const DirEntry save = f.Entry(f.EntryPage(0, 2));  // the last save took the freed slot 2
  DirEntry first = f.Entry(f.EntryPage(save.cluster, 2));
  first.mode = 0x8427;
  first.length = 2;
  first.cluster = save.cluster;
  f.SetEntry(f.EntryPage(save.cluster, 2), first);
  seeds.push_back({"card_image", "subfolder.bin", testutil::PatchesFor(f.bytes(), false)});
  return seeds;
}

// PS1 cards, the first byte choosing the file (see fuzz/ps1_card.cpp), the card's trailing
// zeros left off: an empty card; saves on blocks apart and a deleted one; damage of each
// kind; a signed and an encrypted card; and a DexDrive file cut short after its used blocks.
// PS2 Classics cards (see fuzz/vme_card.cpp; one with a save is made with the card seeds):
// empty under each key, and the fresh card's file with a byte changed in a segment, in the hash block and in its
// first block.
std::vector<Seed> VmeCardSeeds() {
  std::vector<Seed> seeds = {{"vme_card", "empty-retail.bin", {0, 1}}, {"vme_card", "empty-debug.bin", {1, 1}}};
  for (const auto& [name, offset] : {std::pair<const char*, std::uint32_t>{"file-segment-5.bin", 5 * 16384 + 100},
                                     {"file-hash-block.bin", 8650752 + 3}, {"file-first-block.bin", 2}})
    seeds.push_back({"vme_card", name, {2, 1, static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8),
                                        static_cast<std::uint8_t>(offset >> 16), static_cast<std::uint8_t>(offset >> 24), 1, 0, 0xA5}});
  return seeds;
}

std::vector<Seed> Ps1CardSeeds() {
  auto seed = [](std::uint8_t kind, const Bytes& card) {
    Bytes bytes = {kind};
    std::size_t end = card.size();
    while (end > 0 && card[end - 1] == 0) --end;
    bytes.insert(bytes.end(), card.begin(), card.begin() + static_cast<std::ptrdiff_t>(end));
    return bytes;
  };
  // A save's first block with its header and icon, the rest of its blocks zero.
  auto blocks = [](int count) {
    Bytes b = testutil::MakePs1Blocks(count, 5);
    std::fill(b.begin() + 0x200, b.end(), 0);
    return b;
  };
  std::vector<Seed> seeds;
  seeds.push_back({"ps1_card", "empty.bin", seed(0, testutil::Ps1Card::EmptyCard())});

  testutil::Ps1Card saves;
  saves.PutSave("BESLES-00001A", {2, 4}, blocks(2));
  saves.PutSave("BASLUS-00002B", {1}, blocks(1));
  saves.SetEntry(3, 0xA1, 8192, 0xFFFF, "BISLPS-00003C");
  seeds.push_back({"ps1_card", "saves-dexdrive.bin", seed(1, saves.bytes)});
  seeds.push_back({"ps1_card", "saves-vmp.bin", seed(3, saves.bytes)});
  seeds.push_back({"ps1_card", "saves-pocketstation.bin", seed(4, saves.bytes)});

  testutil::Ps1Card damaged;
  damaged.PutSave("BESLES-00001LOOP", {1, 2}, blocks(2));
  damaged.SetEntry(2, 0x53, 0, 0);                   // back to block 1
  damaged.SetEntry(5, 0x52, 0, 0xFFFF);              // reached by no chain
  damaged.SetEntry(6, 0x51, 0x1C430000, 0x339, "FREEPSXBOOT");
  damaged.SetEntry(8, 0xA1, 2 * 8192, 0xFFFF, "BESLES-00002CLEARED");
  damaged.SetEntry(9, 0xA3, 0, 0xFFFF);
  damaged.PutSave("BESLES-00003STATES", {3, 4, 7}, blocks(3));
  damaged.SetEntry(4, 0x53, 0, 6, "", false);        // a middle block marked last, its check wrong
  seeds.push_back({"ps1_card", "damaged-vgs.bin", seed(2, damaged.bytes)});

  Bytes cut = testutil::WithDexDriveHeader(saves.bytes, {"a comment"});
  cut.resize(0xF40 + 5 * 8192);
  cut.insert(cut.begin(), 5);
  seeds.push_back({"ps1_card", "cut-short-gme.bin", cut});
  return seeds;
}

// The _pcsx2_index this program writes when it imports the save fuzz/pcsx2_index.cpp keeps
// on its folder card: one line in flow style, a name quoted, every time set.
std::vector<Seed> FolderIndexSeeds() {
  testutil::TempDir dir;
  const std::string path = dir.File("Mcd001.ps2");
  card::FormatFolderCard(path, {});
  CGeneric save;
  int k = 0;
  for (const auto& [name, size] : {std::pair{"icon.sys", 964}, std::pair{"DATA.BIN", 3000}, std::pair{"it's a:b", 10}}) {
    testutil::WriteFile(dir.File("f" + std::to_string(k)), testutil::MakeBytes(static_cast<std::size_t>(size), 7));
    save.AddEntryFromDisk(dir.File("f" + std::to_string(k)), name);
    save.SetCreated(k, testutil::MakeTime(2004, 2, 29, 23, 59, 58));
    save.SetModified(k, testutil::MakeTime(2030 + k, 12, 31, 0, 0, 1));
    ++k;
  }
  save.SetMode(2, 0x8417);
  save.SetName(-1, "BESLES-FUZZ");
  save.SetCreated(-1, testutil::MakeTime(1999, 1, 2, 3, 4, 5));
  save.SetModified(-1, testutil::MakeTime(2005, 6, 7, 8, 9, 10));
  card::OpenCard(path).card->Import(save);
  const std::string index = io::JoinPath(io::JoinPath(path, "BESLES-FUZZ"), card::kFolderIndex);
  return {{"pcsx2_index", "written.yaml", testutil::ReadFile(index)}};
}

// POPStarter discs from sector 16 on (fuzz/vcd_dir.cpp): booting, after a pregap, with
// SYSTEM.CNF in the root's second sector, without it; and a VMCDIR.TXT.
std::vector<Seed> VcdSeeds() {
  const auto seed = [](const std::string& name, const Bytes& vcd) {
    Bytes bytes;
    for (std::size_t s = 16; testutil::VcdDataOffset(s) < vcd.size(); ++s) {
      const auto at = vcd.begin() + static_cast<std::ptrdiff_t>(testutil::VcdDataOffset(s));
      bytes.insert(bytes.end(), at, at + testutil::kIsoSector);
    }
    return Seed{"vcd_dir", name, bytes};
  };
  std::vector<testutil::IsoFile> many(60, {"DATA.BIN;1", {}});
  many.push_back({"SYSTEM.CNF;1", testutil::FromString("BOOT=cdrom:\\SLES_012.34;1\n")});
  return {seed("booting.bin", testutil::MakeVcdBooting("SLUS_005.94")),
          seed("pregap.bin", testutil::MakeVcdBooting("SLUS_005.94", 3)),
          seed("long-root.bin", testutil::MakeVcd(testutil::MakeIsoDisc(many))),
          seed("no-cnf.bin", testutil::MakeVcd(testutil::MakeIsoDisc({{"PSX.EXE;1", {}}}))),
          {"vcd_dir", "vmcdir.txt", testutil::FromString("FINAL FANTASY VII (Disc 1)\r\n")}};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  std::filesystem::path root(argv[1]);
  std::vector<Seed> seeds = PsuSeeds();
  for (Seed& s : XpsSeeds()) seeds.push_back(std::move(s));
  for (Seed& s : MaxSeeds()) seeds.push_back(std::move(s));
  for (Seed& s : CbsSeeds()) seeds.push_back(std::move(s));
  for (Seed& s : PsvSeeds()) seeds.push_back(std::move(s));
  for (Seed& s : Ps1Seeds()) seeds.push_back(std::move(s));
  for (Seed& s : LzariSeeds()) seeds.push_back(std::move(s));
  for (Seed& s : IconSysSeeds()) seeds.push_back(std::move(s));
  for (Seed& s : IconFileSeeds()) seeds.push_back(std::move(s));
  for (Seed& s : CardSeeds()) seeds.push_back(std::move(s));
  for (Seed& s : Ps1CardSeeds()) seeds.push_back(std::move(s));
  for (Seed& s : VmeCardSeeds()) seeds.push_back(std::move(s));
  for (Seed& s : FolderIndexSeeds()) seeds.push_back(std::move(s));
  for (Seed& s : VcdSeeds()) seeds.push_back(std::move(s));
  for (const Seed& s : seeds) {
    std::filesystem::create_directories(root / s.target);
    std::string path = (root / s.target / s.name).string();
    testutil::WriteFile(path, s.bytes);
    std::printf("%s (%zu bytes)\n", path.c_str(), s.bytes.size());
  }
  return 0;
}
