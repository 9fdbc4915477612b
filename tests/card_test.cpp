// Memory cards: the ECC code, the real cards of the corpus, formatting, import, removal,
// repair, damaged cards and PCSX2 folder cards.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "card/card.h"
#include "card/card_messages.h"
#include "card/card_time.h"
#include "card/ecc.h"
#include "card/folder_card.h"
#include "card/held_image.h"
#include "card/image_card.h"
#include "card/layout.h"
#include "card/pcsx2_index.h"
#include "formats/psu/psu.h"
#include "formats/registry.h"
#include "formats/xps/xps.h"
#include "model/entry_data.h"
#include "model/entry_time_text.h"
#include "support/alloc_probe.h"
#include "support/card_builder.h"
#include "support/test_util.h"

namespace {

using testutil::Bytes;
using testutil::CardFile;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::unique_ptr<card::Card> OpenOrFail(const std::string& path) {
  card::OpenedCard opened = card::OpenCard(path);
  EXPECT_TRUE(opened.card) << path << ": " << card::messages::OpenFailure(opened);
  return std::move(opened.card);
}

std::unique_ptr<CSaveGame> LoadSave(const std::string& path) {
  std::unique_ptr<CSaveGame> save = CreateForExtension(ExtensionOf(path));
  if (!save || save->Load(path) != LoadResult::kOk) return nullptr;
  return save;
}

Bytes DataOf(const CSaveGame& save, std::size_t pos) {
  Bytes out;
  EXPECT_EQ(ReadEntryData((*save.entries)[pos], save.container.get(), out), DataResult::kOk);
  return out;
}

// The same folder name, and the same files with the same bytes, in the same order.
void ExpectSameFiles(const CSaveGame& expected, const CSaveGame& actual, const std::string& where) {
  ASSERT_TRUE(expected.entries && actual.entries) << where;
  ASSERT_EQ(expected.entries->size(), actual.entries->size()) << where;
  EXPECT_EQ((*expected.entries)[0].Name(), (*actual.entries)[0].Name()) << where;
  for (std::size_t pos = 1; pos < expected.entries->size(); ++pos) {
    EXPECT_EQ((*expected.entries)[pos].Name(), (*actual.entries)[pos].Name()) << where;
    EXPECT_EQ(DataOf(expected, pos), DataOf(actual, pos)) << where << " file " << pos;
  }
}

card::ImportOptions Replacing(bool replace) {
  card::ImportOptions o;
  o.replace = replace;
  return o;
}

card::FormatOptions SizeOf(unsigned megabytes) {
  card::FormatOptions o;
  o.megabytes = megabytes;
  return o;
}

card::FormatOptions Overwriting() {
  card::FormatOptions o;
  o.overwrite = true;
  return o;
}

std::vector<std::string> CheckLines(const card::Card& c) {
  std::vector<std::string> lines;
  for (const card::Issue& i : c.Check()) lines.push_back(card::messages::IssueLine(i));
  return lines;
}

// --- ECC -------------------------------------------------------------------------------

// The code worked out byte by byte, as the format defines it.
card::ChunkEcc PlainChunkEcc(const std::array<std::uint8_t, card::kEccChunk>& chunk) {
  const auto odd = [](unsigned v) { return static_cast<unsigned>(std::popcount(v) & 1); };
  unsigned column = 0, line0 = 0, line1 = 0;
  for (unsigned i = 0; i < card::kEccChunk; ++i) {
    const unsigned b = chunk[i];
    column ^= odd(b & 0x55) | odd(b & 0x33) << 1 | odd(b & 0x0F) << 2 | odd(b & 0xAA) << 4 | odd(b & 0xCC) << 5 |
              odd(b & 0xF0) << 6;
    if (odd(b)) line0 ^= ~i & 0x7F, line1 ^= i;
  }
  return {static_cast<std::uint8_t>(~column & 0x77), static_cast<std::uint8_t>(~line0 & 0x7F),
          static_cast<std::uint8_t>(~line1 & 0x7F)};
}

// The vectors, then chunks that have none, held to the code worked out byte by byte: the
// SSE2 code on x86-64 and the plain loop of every other build (the portable one) alike.
TEST(CardEcc, Vectors) {
  struct Row {
    const char* why;
    std::size_t at;
    std::uint8_t value;  // one byte set in a chunk of `fill`
    std::uint8_t fill;
    const char* ecc;
  };
  const Row rows[] = {
      {"all zero: every parity even, stored inverted", 0, 0x00, 0x00, "777f7f"},
      {"all 0xFF: every byte even", 0, 0xFF, 0xFF, "777f7f"},
      {"bit 0 of byte 0: the low column bits and line 0", 0, 0x01, 0x00, "70007f"},
      {"bit 7 of byte 0: the high column bits", 0, 0x80, 0x00, "07007f"},
      {"bit 0 of byte 127: line 1", 127, 0x01, 0x00, "707f00"},
      {"bit 0 of byte 77 (1001101): the lines name the byte", 77, 0x01, 0x00, "704d32"},
      {"0xFF at byte 42 in zeros: even, no parity changes", 42, 0xFF, 0x00, "777f7f"},
      {"bit 6 of byte 100 in 0xFF: a high column bit, odd", 100, 0xBF, 0xFF, "16641b"},
  };
  for (const Row& r : rows) {
    std::array<std::uint8_t, card::kEccChunk> chunk;
    chunk.fill(r.fill);
    chunk[r.at] = r.value;
    card::ChunkEcc ecc = card::ComputeChunkEcc(chunk);
    EXPECT_EQ(Bytes(ecc.begin(), ecc.end()), FromHex(r.ecc)) << r.why;
    EXPECT_EQ(PlainChunkEcc(chunk), ecc) << r.why << ": the code worked out byte by byte";
  }
  struct Sweep {
    const char* what;
    std::function<void(std::array<std::uint8_t, card::kEccChunk>&, unsigned)> fill;
    unsigned cases;
  };
  const Sweep sweeps[] = {
      {"one odd byte at each place", [](auto& c, unsigned n) { c.fill(0), c[n] = static_cast<std::uint8_t>(n | 1); }, 128},
      {"one even byte among 0xFF", [](auto& c, unsigned n) { c.fill(0xFF), c[n] = 0x0F; }, 128},
      {"random bytes", [](auto& c, unsigned n) {
         const Bytes b = testutil::MakeBytes(card::kEccChunk, 100 + n);
         std::copy(b.begin(), b.end(), c.begin());
       }, 200},
  };
  for (const Sweep& s : sweeps)
    for (unsigned n = 0; n < s.cases; ++n) {
      std::array<std::uint8_t, card::kEccChunk> chunk;
      s.fill(chunk, n);
      EXPECT_EQ(card::ComputeChunkEcc(chunk), PlainChunkEcc(chunk)) << s.what << " " << n;
    }
}

// Every bit that the code covers: 1,024 data bits and the 20 bits of the code under its masks.
struct BitFlip {
  bool inCode;
  std::size_t byte;
  unsigned bit;
};
std::vector<BitFlip> AllBits() {
  std::vector<BitFlip> bits;
  for (std::size_t i = 0; i < card::kEccChunk; ++i)
    for (unsigned b = 0; b < 8; ++b) bits.push_back({false, i, b});
  const std::uint8_t masks[3] = {0x77, 0x7F, 0x7F};
  for (std::size_t k = 0; k < 3; ++k)
    for (unsigned b = 0; b < 8; ++b)
      if (masks[k] & (1u << b)) bits.push_back({true, k, b});
  return bits;
}

TEST(CardEcc, EverySingleBitErrorIsCorrectedAndEveryDoubleOneRefused) {
  const Bytes original = testutil::MakeBytes(card::kEccChunk, 11);
  std::array<std::uint8_t, card::kEccChunk> good;
  std::copy(original.begin(), original.end(), good.begin());
  const card::ChunkEcc code = card::ComputeChunkEcc(good);
  auto flip = [&](std::array<std::uint8_t, card::kEccChunk>& data, card::ChunkEcc& ecc, const BitFlip& f) {
    (f.inCode ? ecc[f.byte] : data[f.byte]) ^= static_cast<std::uint8_t>(1u << f.bit);
  };
  const std::vector<BitFlip> bits = AllBits();
  for (const BitFlip& f : bits) {
    auto data = good;
    card::ChunkEcc ecc = code;
    flip(data, ecc, f);
    const card::EccStatus s = card::CheckChunk(data, ecc);
    EXPECT_EQ(s, f.inCode ? card::EccStatus::kEccWrong : card::EccStatus::kDataCorrected) << f.byte << "." << f.bit;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), good.begin())) << f.byte << "." << f.bit;
  }
  int refused = 0, pairs = 0;
  for (std::size_t i = 0; i < bits.size(); ++i)
    for (std::size_t j = i + 1; j < bits.size(); ++j) {
      auto data = good;
      card::ChunkEcc ecc = code;
      flip(data, ecc, bits[i]);
      flip(data, ecc, bits[j]);
      ++pairs;
      if (card::CheckChunk(data, ecc) == card::EccStatus::kUncorrectable) ++refused;
    }
  EXPECT_EQ(refused, pairs);
}

// A page read where it lies is taken as good only where CheckPage would find nothing to
// say: any bit under the masks of any chunk's code makes it not good.
TEST(CardEcc, PageIsGoodOnlyWhereCheckingFindsNothing) {
  struct Row {
    const char* why;
    bool erased;
    std::size_t at;  // a byte of the 528 flipped by `bits`
    std::uint8_t bits;
    bool good;
  };
  const Row rows[] = {
      {"a page as written", false, 0, 0, true},
      {"an erased page", true, 0, 0, true},
      {"a data bit of the last chunk", false, 3 * 128 + 5, 0x20, false},
      {"a data bit of an erased page", true, 200, 0x01, false},
      {"a code bit of chunk 1", false, 512 + 3 + 2, 0x01, false},
      {"two data bits of chunk 0", false, 7, 0x03, false},
      {"bit 3 of a column code, outside its mask", false, 512 + 6, 0x08, true},
      {"bit 7 of a line code, outside its mask", false, 512 + 1, 0x80, true},
      {"the padding after the codes", false, 512 + 13, 0xFF, true},
  };
  for (const Row& r : rows) {
    std::array<std::uint8_t, card::kPageData + card::kPageSpare> page;
    const Bytes data = testutil::MakeBytes(card::kPageData, 5);
    std::copy(data.begin(), data.end(), page.begin());
    card::ComputePageSpare(std::span(page).first<card::kPageData>(),
                           std::span(page).subspan<card::kPageData, card::kPageSpare>());
    if (r.erased) page.fill(0xFF);
    page[r.at] ^= r.bits;
    const auto bytes = std::span(page).first<card::kPageData>();
    const auto spare = std::span(page).subspan<card::kPageData, card::kPageSpare>();
    EXPECT_EQ(card::PageIsGood(bytes, spare), r.good) << r.why;
    EXPECT_EQ(card::CheckPage(bytes, spare) == card::EccStatus::kGood, r.good) << r.why;
  }
}

// --- The real cards ---------------------------------------------------------------------

TEST(CardCorpus, ExportingASaveGivesThePsuFilesByteForByte) {
  REQUIRE_CORPUS(image, "card/a.ps2");
  REQUIRE_CORPUS(psuPath, "psu/a.psu");
  auto c = OpenOrFail(image);
  ASSERT_TRUE(c);
  card::OpenedSave opened = c->OpenSave("BESCES-50501REZ");
  ASSERT_EQ(opened.result, card::OpenSaveResult::kOpened);
  testutil::TempDir dir;
  for (const char* target : {"out.psu", "out.xps"}) {
    std::unique_ptr<CSaveGame> writer = CreateForKind(TargetKindForExtension(ExtensionOf(target)));
    ASSERT_EQ(writer->WriteConvertedFrom(*opened.save, dir.File(target)), LoadResult::kOk) << target;
    std::unique_ptr<CSaveGame> exported = LoadSave(dir.File(target));
    std::unique_ptr<CSaveGame> reference = LoadSave(psuPath);
    ASSERT_TRUE(exported && reference);
    ExpectSameFiles(*reference, *exported, target);
    // And each entry's mode and times, the folder's too.
    for (std::size_t pos = 0; pos < reference->entries->size(); ++pos) {
      const SaveEntry& want = (*reference->entries)[pos];
      const SaveEntry& got = (*exported->entries)[pos];
      EXPECT_EQ(got.mode, want.mode) << target << " entry " << pos;
      EXPECT_EQ(EntryForm(got.created), EntryForm(want.created)) << target << " entry " << pos;
      EXPECT_EQ(EntryForm(got.modified), EntryForm(want.modified)) << target << " entry " << pos;
    }
  }
  // The title comes from the save's own icon.sys.
  EXPECT_FALSE((*opened.save->entries)[0].Title().empty());
}

TEST(CardCorpus, ListingShowsTheSavesTheConsoleShows) {
  struct Row {
    const char* image;
    std::vector<std::pair<std::string, std::uint32_t>> saves;  // folder, KB
    std::uint32_t freeKB;
  };
  const Row rows[] = {
      // icon.sys 1 + history 1 + directory 2; icon.sys 1 + icon 46 + data 3 + directory 3.
      {"card/a.ps2", {{"BEDATA-SYSTEM", 5}, {"BESCES-50501REZ", 53}}, 8000 - 59},
      {"card/b-empty.ps2", {}, 8000},
  };
  for (const Row& r : rows) {
    REQUIRE_CORPUS(path, r.image);
    auto c = OpenOrFail(path);
    ASSERT_TRUE(c);
    card::Listing listing = c->List();
    std::vector<std::pair<std::string, std::uint32_t>> saves;
    for (const card::SaveInfo& s : listing.saves) {
      saves.push_back({s.folder, s.sizeKB});
      EXPECT_TRUE(s.readable) << s.folder;
    }
    EXPECT_EQ(saves, r.saves) << r.image;
    EXPECT_EQ(listing.freeKB, r.freeKB) << r.image;
  }
}

TEST(CardCorpus, CheckFindsNothingWrongWithTheRealCards) {
  testutil::TempDir dir;
  for (const char* name : {"card/a.ps2", "card/b-empty.ps2"}) {
    REQUIRE_CORPUS(path, name);
    auto c = OpenOrFail(path);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->issues().empty()) << name;
    EXPECT_EQ(CheckLines(*c), std::vector<std::string>{}) << name;
    // The same card raw: nothing either.
    const std::string raw = dir.File("raw.bin");
    ASSERT_EQ(card::ConvertImage(path, raw, false), card::ConvertResult::kConverted);
    auto r = OpenOrFail(raw);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->type(), card::CardType::kRawImage);
    EXPECT_EQ(CheckLines(*r), std::vector<std::string>{}) << name << " raw";
  }
}

TEST(CardCorpus, ConvertingToRawAndBackKeepsEveryPage) {
  REQUIRE_CORPUS(path, "card/a.ps2");
  testutil::TempDir dir;
  ASSERT_EQ(card::ConvertImage(path, dir.File("a.bin"), false), card::ConvertResult::kConverted);
  ASSERT_EQ(card::ConvertImage(dir.File("a.bin"), dir.File("a.ps2"), true), card::ConvertResult::kConverted);
  EXPECT_EQ(card::ConvertImage(dir.File("a.ps2"), dir.File("again.ps2"), true), card::ConvertResult::kAlreadyThatLayout);
  const Bytes original = testutil::ReadFile(path);
  const Bytes back = testutil::ReadFile(dir.File("a.ps2"));
  ASSERT_EQ(back.size(), original.size());
  // The data of every page comes back. So does each code, except page 1's (PCSX2's
  // checksum under the code of an erased page now has its own) and those of pages of
  // 0xFF, which raw can't tell apart: they come back erased, a code the console accepts.
  const Bytes erased(16, 0xFF);
  for (std::size_t page = 0; page < original.size() / 528; ++page) {
    auto at = [page](const Bytes& b, std::size_t offset) { return b.begin() + page * 528 + offset; };
    ASSERT_TRUE(std::equal(at(original, 0), at(original, 512), at(back, 0))) << "page " << page;
    const bool blank = std::all_of(at(original, 0), at(original, 512), [](std::uint8_t b) { return b == 0xFF; });
    if (page == 1) continue;
    if (blank)
      ASSERT_TRUE(std::equal(erased.begin(), erased.end(), at(back, 512))) << "page " << page;
    else
      ASSERT_TRUE(std::equal(at(original, 512), at(original, 528), at(back, 512))) << "page " << page;
  }
}

// The console formats a card, then writes BEDATA-SYSTEM, then the game's save: doing the
// same here must give the same card, cluster for cluster, page for page with its ECC.
TEST(CardCorpus, ImportingItsSavesIntoAFreshCardRebuildsIt) {
  REQUIRE_CORPUS(path, "card/a.ps2");
  auto source = OpenOrFail(path);
  ASSERT_TRUE(source);
  testutil::TempDir dir;
  CardFile fresh = CardFile::Format(dir.File("new.ps2"), true);
  // The root's times as the console set them when it formatted a.ps2.
  const Bytes original = testutil::ReadFile(path);
  const std::uint64_t rootPage = 41 * 2;
  DirEntry dot = fresh.Entry(rootPage);
  dot.created = dot.modified = DirEntry::Read(original.data() + rootPage * 528).created;
  fresh.SetEntry(rootPage, dot);
  DirEntry dotdot = fresh.Entry(rootPage + 1);
  dotdot.created = dotdot.modified = dot.created;
  fresh.SetEntry(rootPage + 1, dotdot);
  fresh.Store();

  auto target = OpenOrFail(fresh.path());
  ASSERT_TRUE(target);
  for (const char* folder : {"BEDATA-SYSTEM", "BESCES-50501REZ"}) {
    card::OpenedSave s = source->OpenSave(folder);
    ASSERT_EQ(s.result, card::OpenSaveResult::kOpened);
    EXPECT_EQ(target->Import(*s.save).result, card::ImportResult::kImported) << folder;
  }
  const Bytes rebuilt = testutil::ReadFile(fresh.path());
  ASSERT_EQ(rebuilt.size(), original.size());
  int compared = 0;
  for (std::size_t page = 0; page < original.size() / 528; ++page) {
    // Page 1: PCSX2's checksum. The root's ".": its time of change. Backup block 1: what
    // the console last staged there.
    if (page == 1 || page == rootPage || page / 16 == 1023) continue;
    ASSERT_TRUE(std::equal(original.begin() + page * 528, original.begin() + (page + 1) * 528, rebuilt.begin() + page * 528))
        << "page " << page;
    ++compared;
  }
  EXPECT_GT(compared, 16000);
  // The root's "." differs only in its time of change.
  DirEntry a = DirEntry::Read(original.data() + rootPage * 528), b = DirEntry::Read(rebuilt.data() + rootPage * 528);
  EXPECT_EQ(a.length, b.length);
  b.modified = a.modified;
  Bytes pa(512), pb(512);
  a.Write(pa.data());
  b.Write(pb.data());
  EXPECT_EQ(pa, pb);
}

// --- Formatting -------------------------------------------------------------------------

TEST(CardFormat, FreshCardsHaveTheConsolesLayout) {
  struct Row {
    unsigned megabytes;
    std::uint32_t allocOffset, allocEnd, backup1, backup2, freeKB, limit0x170;
  };
  const Row rows[] = {
      {8, 41, 8135, 1023, 1022, 8000, 8001},
      {16, 73, 16295, 2047, 2046, 16000, 16001},
      {32, 137, 32615, 4095, 4094, 32000, 32001},
      {64, 265, 65255, 8191, 8190, 65000, 65001},
      // Below 8 MiB the console's rounding would leave nothing: the whole area is free.
      {1, 13, 995, 127, 126, 994, 1001},
      {2, 17, 2015, 255, 254, 2014, 2001},
      {4, 25, 4055, 511, 510, 4054, 4001},
  };
  testutil::TempDir dir{testutil::FastTempBase()};
  for (const Row& r : rows) {
    for (bool ecc : {true, false}) {
      const std::string where = std::to_string(r.megabytes) + (ecc ? " MiB with ECC" : " MiB raw");
      CardFile f = CardFile::Format(dir.File("card"), ecc, r.megabytes);
      EXPECT_EQ(f.bytes().size(), (std::uint64_t{r.megabytes} << 20) / 512 * (ecc ? 528 : 512)) << where;
      const card::Superblock s = card::Superblock::Read(std::span<const std::uint8_t, 512>(f.Page(0), 512));
      EXPECT_EQ(std::vector<std::uint32_t>({s.clusters, s.allocOffset, s.allocEnd, s.backupBlock1, s.backupBlock2,
                                            s.ifcList[0], s.ifcList[1], s.maxAllocatable}),
                std::vector<std::uint32_t>({r.megabytes * 1024, r.allocOffset, r.allocEnd, r.backup1, r.backup2, 8, 0,
                                            r.limit0x170}))
          << where;
      auto c = OpenOrFail(f.path());
      ASSERT_TRUE(c) << where;
      EXPECT_EQ(c->List().freeKB, r.freeKB) << where;
      EXPECT_EQ(CheckLines(*c), std::vector<std::string>{}) << where;
      // Backup block 2 is left erased.
      EXPECT_EQ(f.Page(std::uint64_t{r.backup2} * 16)[0], 0xFF) << where;
    }
  }
  EXPECT_EQ(card::FormatImage(dir.File("odd"), SizeOf(12)), card::FormatResult::kBadSize);
  EXPECT_EQ(card::FormatImage(dir.File("card"), {}), card::FormatResult::kTargetExists);
}

// --- Import, remove ----------------------------------------------------------------------

const char* const kCorpusSaves[] = {"psu/a.psu", "psu/d.psu", "psu/e.PSU", "psu/f.psu", "psu/g.psu", "xps/a.xps",
                                    "sps/a.sps", "sps/b.sps", "max/a.max", "max/b.max", "max/c.max"};

enum class Kind { kEcc, kRaw, kFolder };

std::string MakeCard(const testutil::TempDir& dir, Kind kind) {
  if (kind == Kind::kFolder) {
    const std::string path = dir.File("Mcd001.ps2");
    EXPECT_EQ(card::FormatFolderCard(path, {}), card::FormatResult::kFormatted);
    return path;
  }
  return CardFile::Format(dir.File("card.ps2"), kind == Kind::kEcc).path();
}

class CardImport : public ::testing::TestWithParam<Kind> {
 protected:
  testutil::TempDir dir_{testutil::FastTempBase()};
  std::string path_ = MakeCard(dir_, GetParam());
};

TEST_P(CardImport, EveryCorpusSaveGoesOnAndComesBackTheSame) {
  auto c = OpenOrFail(path_);
  ASSERT_TRUE(c);
  int imported = 0;
  for (const char* name : kCorpusSaves) {
    const std::string path = testutil::CorpusPath(name);
    if (path.empty()) continue;
    std::unique_ptr<CSaveGame> source = LoadSave(path);
    ASSERT_TRUE(source) << name;
    // The same folder comes in several formats: each replaces the one before.
    card::ImportOutcome o = c->Import(*source, Replacing(true));
    ASSERT_TRUE(o.result == card::ImportResult::kImported || o.result == card::ImportResult::kReplaced)
        << name << ": " << card::messages::ImportMessage(o);
    ++imported;
    EXPECT_EQ(CheckLines(*c), std::vector<std::string>{}) << name;
    card::OpenedSave back = c->OpenSave((*source->entries)[0].Name());
    ASSERT_EQ(back.result, card::OpenSaveResult::kOpened) << name;
    ExpectSameFiles(*source, *back.save, name);
    EXPECT_EQ((*back.save->entries)[0].mode, (*source->entries)[0].mode == 0 ? 0x8427u : (*source->entries)[0].mode) << name;
    // And written out again, the files are those of the source.
    CPsu writer;
    ASSERT_EQ(writer.WriteConvertedFrom(*back.save, dir_.File("out.psu")), LoadResult::kOk);
    ExpectSameFiles(*source, *LoadSave(dir_.File("out.psu")), name);
  }
  if (imported == 0) GTEST_SKIP() << "no corpus";
  // A new object over the same card sees the same saves.
  EXPECT_EQ(OpenOrFail(path_)->List().saves.size(), c->List().saves.size());
}

TEST_P(CardImport, AFullCardRefusesWithTheNumbersAndStaysUnchanged) {
  auto c = OpenOrFail(path_);
  ASSERT_TRUE(c);
  const std::uint32_t freeKB = c->List().freeKB;
  // A save that leaves about 10 KB: one file, its directory of 2 clusters (and on an
  // image the root's second cluster).
  CGeneric big;
  testutil::WriteFile(dir_.File("BIG"), testutil::MakeBytes((freeKB - 12) * 1024, 5));
  big.AddEntryFromDisk(dir_.File("BIG"), "BIG");
  ASSERT_EQ(c->Import(big).result, card::ImportResult::kImported);
  const std::uint32_t left = c->List().freeKB;
  EXPECT_EQ(left, GetParam() == Kind::kFolder ? 10u : 9u);

  // One cluster more than is left: its data and its directory's 2.
  CGeneric tooBig;
  testutil::WriteFile(dir_.File("DATA"), testutil::MakeBytes((left - 2) * 1024 + 1, 6));
  tooBig.AddEntryFromDisk(dir_.File("DATA"), "DATA");
  tooBig.SetName(-1, "BESLES-00000FULL");
  auto before = [&] { return GetParam() == Kind::kFolder ? Bytes() : testutil::ReadFile(path_); }();
  card::ImportOutcome o = c->Import(tooBig);
  EXPECT_EQ(o.result, card::ImportResult::kNoSpace);
  EXPECT_EQ(card::messages::ImportMessage(o), "BESLES-00000FULL does not fit: needs " + std::to_string(left + 1) +
                                                  " KB, " + std::to_string(left) + " KB free");
  if (GetParam() != Kind::kFolder) {
    EXPECT_EQ(testutil::ReadFile(path_), before);
  }
  EXPECT_EQ(c->List().saves.size(), 1u);
}

TEST_P(CardImport, RefusalsReplaceAndRemove) {
  auto c = OpenOrFail(path_);
  ASSERT_TRUE(c);
  testutil::WriteFile(dir_.File("A"), testutil::MakeBytes(3000, 1));
  testutil::WriteFile(dir_.File("B"), testutil::MakeBytes(10, 2));
  auto save = [&](const std::string& folder, std::vector<std::pair<std::string, std::uint32_t>> files) {
    auto s = std::make_unique<CGeneric>();
    for (auto& [name, mode] : files) {
      s->AddEntryFromDisk(dir_.File(name == "A" || name == "B" ? name : "A"), name);
      s->SetMode(s->FileCount() - 1, mode);
    }
    s->SetName(-1, folder);
    return s;
  };
  struct Row {
    const char* why;
    std::unique_ptr<CGeneric> save;
    bool replace;
    card::ImportResult expected;
  };
  std::vector<Row> rows;
  rows.push_back({"a new save", save("BESLES-11111", {{"A", 0x8497}, {"B", 0x8497}}), false, card::ImportResult::kImported});
  rows.push_back({"the same folder again", save("BESLES-11111", {{"B", 0x8497}}), false, card::ImportResult::kAlreadyOnCard});
  rows.push_back({"again, replacing it", save("BESLES-11111", {{"B", 0x8497}}), true, card::ImportResult::kReplaced});
  rows.push_back({"a folder inside", save("BESLES-22222", {{"B", 0x8427}}), false, card::ImportResult::kHasSubfolder});
  rows.push_back({"two files of one name", save("BESLES-33333", {{"A", 0x8497}, {"A", 0x8497}}), false, card::ImportResult::kInvalidSave});
  rows.push_back({"a folder named \"..\"", save("..", {{"A", 0x8497}}), false, card::ImportResult::kInvalidSave});
  for (Row& r : rows) EXPECT_EQ(c->Import(*r.save, Replacing(r.replace)).result, r.expected) << r.why;

  // The replaced save has its one file; the old bytes are not read by mistake.
  card::OpenedSave s = c->OpenSave("BESLES-11111");
  ASSERT_EQ(s.result, card::OpenSaveResult::kOpened);
  ASSERT_EQ(s.save->FileCount(), 1);
  EXPECT_EQ(DataOf(*s.save, 1), testutil::MakeBytes(10, 2));
  // A save read from this very card goes back onto it: over itself, then as a copy. (A
  // save object stands for the card as it was opened, so it is opened again after a write.)
  EXPECT_EQ(c->Import(*s.save, Replacing(true)).result, card::ImportResult::kReplaced);
  card::OpenedSave self = c->OpenSave("BESLES-11111");
  ASSERT_EQ(self.result, card::OpenSaveResult::kOpened);
  self.save->SetName(-1, "BESLES-99999COPY");
  EXPECT_EQ(c->Import(*self.save).result, card::ImportResult::kImported);
  for (const char* folder : {"BESLES-11111", "BESLES-99999COPY"})
    EXPECT_EQ(DataOf(*c->OpenSave(folder).save, 1), testutil::MakeBytes(10, 2)) << folder;

  const std::uint32_t freeBefore = c->List().freeKB;
  EXPECT_EQ(c->Remove("BESLES-11111"), card::RemoveResult::kRemoved);
  EXPECT_EQ(c->Remove("BESLES-11111"), card::RemoveResult::kNotFound);
  EXPECT_EQ(c->List().freeKB, freeBefore + 3);  // one cluster of data, two of directory
  EXPECT_EQ(CheckLines(*c), std::vector<std::string>{});
}

std::string KindName(const ::testing::TestParamInfo<Kind>& info) {
  switch (info.param) {
    case Kind::kEcc: return "ecc";
    case Kind::kRaw: return "raw";
    case Kind::kFolder: return "folder";
  }
  return "unknown";
}
INSTANTIATE_TEST_SUITE_P(Cards, CardImport, ::testing::Values(Kind::kEcc, Kind::kRaw, Kind::kFolder), KindName);

// Removing leaves what the console leaves: links in place, lengths as they were.
TEST(CardRemove, ClearsTheExistsBitsAndTheFatBitsOnly) {
  testutil::TempDir dir;
  CardFile f = CardFile::Format(dir.File("card.ps2"), true);
  testutil::WriteFile(dir.File("A"), testutil::MakeBytes(2500, 1));
  CGeneric s;
  s.AddEntryFromDisk(dir.File("A"), "A");
  s.SetName(-1, "BESLES-44444");
  auto c = OpenOrFail(f.path());
  ASSERT_EQ(c->Import(s).result, card::ImportResult::kImported);
  ASSERT_EQ(c->Remove("BESLES-44444"), card::RemoveResult::kRemoved);
  f = CardFile::Read(f.path());
  // The root grew into cluster 1; the directory is at 2-3, the file at 4-6.
  EXPECT_EQ(std::vector<std::uint32_t>({f.Fat(0), f.Fat(1), f.Fat(2), f.Fat(3), f.Fat(4), f.Fat(5), f.Fat(6), f.Fat(7)}),
            std::vector<std::uint32_t>({0x80000001, 0xFFFFFFFF, 0x00000003, 0x7FFFFFFF, 0x00000005, 0x00000006,
                                        0x7FFFFFFF, 0x7FFFFFFF}));
  const DirEntry dir0 = f.Entry(f.EntryPage(0, 2));
  EXPECT_EQ(dir0.mode, 0x0427u);
  EXPECT_EQ(dir0.length, 3u);
  EXPECT_EQ(f.Entry(f.EntryPage(2, 2)).mode, 0x0497u);
  EXPECT_EQ(f.Entry(f.EntryPage(0, 0)).length, 3u);  // the root keeps its length
}

// A held card image reads only what is asked of it, each piece once. A save opened from it
// reads as imported even after the card has rewritten its file (the image is read whole
// first), while a piece not yet read once another program has changed the file can't be
// read at all, rather than mixed from two versions. A file of several MiB still reaches a
// reader in pieces of at most 1 MiB.
TEST(CardRead, AHeldImageReadsWhatIsAskedOfItFromOneVersionOfTheFile) {
  testutil::TempDir dir;
  struct Row {
    const char* name;
    bool ecc;
    std::size_t bigFile;
  };
  const Row rows[] = {{"with ECC", true, 300000}, {"raw, a file over 1 MiB", false, 2500000}};
  for (const Row& r : rows) {
    CardFile f = CardFile::Format(dir.File(std::string("once-") + (r.ecc ? "ecc" : "raw")), r.ecc);
    testutil::WriteFile(dir.File("icon.sys"), testutil::MakeIconSys("READ ONCE"));
    testutil::WriteFile(dir.File("BIG"), testutil::MakeBytes(r.bigFile, 2));
    testutil::WriteFile(dir.File("SMALL"), testutil::MakeBytes(700, 3));
    std::vector<std::unique_ptr<CGeneric>> originals;
    {
      auto writer = OpenOrFail(f.path());
      for (const char* folder : {"BESLES-00001ONE", "BESLES-00002TWO"}) {
        auto& s = originals.emplace_back(std::make_unique<CGeneric>());
        for (const char* file : {"icon.sys", "BIG", "SMALL"}) ASSERT_TRUE(s->AddEntryFromDisk(dir.File(file), file));
        s->SetName(-1, folder);
        ASSERT_EQ(writer->Import(*s).result, card::ImportResult::kImported) << r.name;
      }
    }
    // Opened for reading from the file, the card takes no buffer near its size.
    {
      testutil::AllocationProbe probe;
      ASSERT_TRUE(card::OpenCard(f.path()).card) << r.name;
      EXPECT_LT(probe.largest(), std::size_t{1} << 20) << r.name;
    }
    std::unique_ptr<card::Card> c = card::OpenCard(f.path(), card::CardReading::kHeld).card;
    ASSERT_TRUE(c);
    const card::Listing listing = c->List();
    ASSERT_EQ(listing.saves.size(), 2u) << r.name;
    EXPECT_EQ(listing.saves[1].title, "READ ONCE") << r.name;
    const auto& held = *dynamic_cast<const card::ImageCard&>(*c).state().bytes;
    EXPECT_LT(held.BytesRead(), held.size() / 8) << r.name << ": the listing read more than its structure";
    card::OpenedSave kept = c->OpenSave(listing.saves[1].folder);
    ASSERT_TRUE(kept.save) << r.name;
    ASSERT_EQ(c->Remove(listing.saves[0].folder), card::RemoveResult::kRemoved) << r.name;
    ExpectSameFiles(*originals[1], *kept.save, r.name);
    std::size_t largest = 0;
    EXPECT_EQ(CopyEntryData((*kept.save->entries)[2], kept.save->container.get(),
                            [&](std::span<const std::uint8_t> piece) {
                              largest = std::max(largest, piece.size());
                              return true;
                            }),
              DataResult::kOk)
        << r.name;
    EXPECT_LE(largest, std::size_t{1} << 20) << r.name;
    // Opened again, then changed by another program: what was read still reads, the rest not.
    c = card::OpenCard(f.path(), card::CardReading::kHeld).card;
    ASSERT_TRUE(c);
    card::OpenedSave later = c->OpenSave(listing.saves[1].folder);
    ASSERT_TRUE(later.save) << r.name;
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(ReadEntryData((*later.save->entries)[1], later.save->container.get(), bytes), DataResult::kOk) << r.name;
    std::filesystem::remove(f.path());
    EXPECT_EQ(ReadEntryData((*later.save->entries)[1], later.save->container.get(), bytes), DataResult::kOk) << r.name;
    EXPECT_EQ(ReadEntryData((*later.save->entries)[2], later.save->container.get(), bytes), DataResult::kShort) << r.name;
  }
}

// Threads reading one held image at once, beside its read ahead or not, each get the
// file's bytes, and each piece is read from the file once, by one of them: also when they
// first ask for what they read next, a file's pages at a time with gaps between them.
TEST(CardRead, AHeldImageReadOnSeveralThreadsGivesEachTheFileAndReadsEachPieceOnce) {
  testutil::TempDir dir;
  constexpr std::uint64_t kPiece = card::HeldImage::kPiece;
  const std::vector<std::uint8_t> content = testutil::MakeBytes(80 * kPiece + 1234, 9);
  const std::string path = dir.File("image.bin");
  testutil::WriteFile(path, content);
  // Every third piece, and a range over the end that is left alone.
  std::vector<Extent> everyThird;
  for (std::uint64_t k = 0; k < 81; k += 3) everyThird.push_back({k * kPiece + 100, 2 * kPiece});
  everyThird.push_back({content.size() - 10, 20});
  // Ranges of every size that overlap, in no order, some within one piece.
  std::vector<Extent> tangled;
  for (std::uint64_t i = 0; i < 60; ++i) tangled.push_back({i * 7919 * 131 % content.size() / 2, 1 + i * 6007 % (5 * kPiece)});
  // The ranges the readers ask for first, each a piece: both ends of the read ahead meet
  // the readers at once.
  std::vector<Extent> first;
  for (std::uint64_t i = 0; i < 30; ++i) first.push_back({(i * 104729) % content.size() / kPiece * kPiece, kPiece});
  struct Row {
    const char* name;
    const std::vector<Extent>* ahead;
    bool prefetch;  // each reader first asks for what it reads, as pages of 512 bytes every 528
  };
  for (const Row& r : {Row{"no read ahead", nullptr, false}, Row{"beside a read ahead", &everyThird, false},
                       Row{"beside a read ahead of tangled ranges", &tangled, false},
                       Row{"beside a read ahead of the pieces asked for first", &first, false},
                       Row{"asking first", nullptr, true}, Row{"asking first, beside a read ahead", &everyThird, true}}) {
    const card::HeldImage held(io::OpenSource(path));
    if (r.ahead) held.ReadAhead(*r.ahead);
    const auto reader = [&](std::uint64_t seed, int& wrong) {
      for (std::uint64_t i = 0; i < 300; ++i) {
        const std::uint64_t offset = (seed * 7919 + i * 104729) % content.size();
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(1 + (i * 5003) % (3 * kPiece), content.size() - offset));
        if (r.prefetch) {
          std::vector<Extent> pages;
          for (std::uint64_t at = offset; at < offset + n; at += 528) pages.push_back({at, std::min<std::uint64_t>(512, offset + n - at)});
          held.Prefetch(pages, n);
          // The bytes between the pages are not asked for: the next readers' pieces may
          // hold them.
        }
        const std::uint8_t* got = held.Bytes(offset, n);
        if (!got || !std::equal(got, got + n, content.begin() + static_cast<std::ptrdiff_t>(offset))) ++wrong;
      }
    };
    int wrong[3] = {0, 0, 0};
    std::thread a(reader, 1, std::ref(wrong[0])), b(reader, 2, std::ref(wrong[1]));
    reader(3, wrong[2]);
    a.join();
    b.join();
    held.Release();
    EXPECT_EQ(wrong[0] + wrong[1] + wrong[2], 0) << r.name;
    // Everything read since: the whole file, read once, is its size.
    ASSERT_TRUE(held.Complete()) << r.name;
    EXPECT_EQ(held.BytesRead(), content.size()) << r.name << ": a piece was read twice";
  }
}

// Listing a held card reads the saves' directories and titles, not the files that lie
// between a directory's clusters on a card the console wrote: a card whose icons are 25
// times larger reads at most a piece more for each save (where a cluster now straddles
// two). Icons drawn in a run with the file kept open read it as it was when the run
// began, even if it is removed meanwhile, also once a run begun within it has ended;
// read alone, a large icon's unread pieces then can't be read.
TEST(CardRead, AListingReadsTheDirectoriesAndTitlesAndARunReadsTheFileOpenedOnce) {
  testutil::TempDir dir;
  struct Row {
    const char* name;
    std::size_t icon;
    int runs;  // 0: none; 1: one; 2: one begun and ended within another
  };
  const Row rows[] = {{"small icons", 2000, 0}, {"large icons", 50000, 0}, {"a run", 50000, 1},
                      {"a run with one ended within it", 50000, 2}};
  std::uint64_t listed[std::size(rows)] = {};
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const Row& r = rows[i];
    CardFile f = CardFile::Format(dir.File("listing-" + std::to_string(i)), true);
    testutil::WriteFile(dir.File("icon.sys"), testutil::MakeIconSys("TITLE"));
    testutil::WriteFile(dir.File("icon.ico"), testutil::MakeBytes(r.icon, 7));
    testutil::WriteFile(dir.File("DATA"), testutil::MakeBytes(3000, 8));
    {
      auto writer = OpenOrFail(f.path());
      for (int k = 0; k < 6; ++k) {
        CGeneric s;
        for (const char* file : {"icon.sys", "icon.ico", "DATA"}) ASSERT_TRUE(s.AddEntryFromDisk(dir.File(file), file));
        s.SetName(-1, "BESLES-0000" + std::to_string(k) + "SAVE");
        ASSERT_EQ(writer->Import(s).result, card::ImportResult::kImported) << r.name;
      }
    }
    std::unique_ptr<card::Card> c = card::OpenCard(f.path(), card::CardReading::kHeld).card;
    ASSERT_TRUE(c);
    const card::Listing listing = c->List();
    ASSERT_EQ(listing.saves.size(), 6u) << r.name;
    EXPECT_EQ(listing.saves[5].title, "TITLE") << r.name;
    listed[i] = dynamic_cast<const card::ImageCard&>(*c).state().bytes->BytesRead();
    const std::shared_ptr<const void> open = r.runs > 0 ? c->KeepFileOpen() : nullptr;
    if (r.runs > 1) c->KeepFileOpen();  // begun and ended at once
    card::OpenedSave s = c->OpenSave(listing.saves[2].folder);
    ASSERT_TRUE(s.save) << r.name;
    std::filesystem::remove(f.path());
    std::vector<std::uint8_t> bytes;
    const DataResult read = ReadEntryData((*s.save->entries)[2], s.save->container.get(), bytes);
    if (r.runs > 0) {
      EXPECT_EQ(read, DataResult::kOk) << r.name;
      EXPECT_EQ(bytes, testutil::MakeBytes(r.icon, 7)) << r.name;
    } else if (r.icon > 4 * card::HeldImage::kPiece) {
      EXPECT_EQ(read, DataResult::kShort) << r.name;
    }
  }
  EXPECT_LE(listed[1], listed[0] + 6 * card::HeldImage::kPiece) << "the listing read the larger icons";
}

// An open file's stamp is that of the file it opened, whatever its path names later: a held
// image judges the file it reads by it, not by a look at the path made before opening.
TEST(CardRead, AnOpenFilesStampIsThatOfTheFileItOpened) {
  testutil::TempDir dir;
  const std::string path = dir.File("card.ps2"), other = dir.File("other.ps2");
  testutil::WriteFile(path, testutil::MakeBytes(1000, 1));
  testutil::WriteFile(other, testutil::MakeBytes(2000, 2));
  const io::File opened = io::File::OpenRead(path);
  const std::optional<io::FileStamp> before = io::StampOf(path);
  ASSERT_TRUE(before);
  EXPECT_EQ(opened.Stamp(), before);
  ASSERT_TRUE(io::RenameReplace(other, path));
  EXPECT_EQ(opened.Stamp(), before);
  EXPECT_EQ(io::StampOf(path)->size, 2000u);
  EXPECT_FALSE(io::File().Stamp());
}

// A read ahead handed over once the card's file was changed reads nothing of the new
// file: its pieces stay unread and can't be read; those read before the change still are.
TEST(CardRead, AHeldImageReadsNothingAheadFromAChangedFile) {
  testutil::TempDir dir;
  constexpr std::uint64_t kPiece = card::HeldImage::kPiece;
  const std::vector<std::uint8_t> content = testutil::MakeBytes(40 * kPiece, 5);
  const std::string path = dir.File("image.bin");
  testutil::WriteFile(path, content);
  const card::HeldImage held(io::OpenSource(path));
  ASSERT_TRUE(held.Bytes(0, 2 * kPiece));
  held.Release();
  std::vector<std::uint8_t> changed = testutil::MakeBytes(40 * kPiece + 512, 6);
  testutil::WriteFile(path, changed);
  std::vector<Extent> ahead;
  for (std::uint64_t k = 4; k < 40; k += 2) ahead.push_back({k * kPiece, kPiece});
  held.ReadAhead(ahead);
  // Asked for while the read ahead may still run: read with the ranges after them, or by
  // the other thread, or alone, each refused.
  EXPECT_EQ(held.Bytes(4 * kPiece, 10), nullptr);
  EXPECT_EQ(held.Bytes(20 * kPiece, kPiece), nullptr);
  EXPECT_EQ(held.Bytes(38 * kPiece, kPiece), nullptr);
  held.Release();
  // Nor does a file's bytes asked for at once.
  held.Prefetch({{3 * kPiece, 3 * kPiece}, {30 * kPiece + 7, 100}}, 3 * kPiece + 100);
  EXPECT_EQ(held.Bytes(3 * kPiece, 10), nullptr);
  EXPECT_EQ(held.BytesRead(), 2 * kPiece);
  const std::uint8_t* kept = held.Bytes(100, 1000);
  ASSERT_TRUE(kept);
  EXPECT_TRUE(std::equal(kept, kept + 1000, content.begin() + 100));
}

// Reads asked for at once each arrive whole, or are marked not done: past the end of the
// file, partly past it, or from a file that is not open. More than the system takes in one
// call go in several.
TEST(CardRead, ReadsAskedForAtOnceEachArriveWholeOrNotAtAll) {
  testutil::TempDir dir;
  const std::vector<std::uint8_t> content = testutil::MakeBytes(100000, 4);
  const std::string path = dir.File("file.bin");
  testutil::WriteFile(path, content);
  struct Read {
    std::uint64_t offset;
    std::size_t n;
    bool whole;
  };
  std::vector<Read> many;
  for (std::uint64_t i = 0; i < 70; ++i) many.push_back({i * 1409 % 90000, static_cast<std::size_t>(1 + i * 97 % 9000), true});
  struct Row {
    const char* name;
    std::vector<Read> reads;
    bool open = true;
  };
  const Row rows[] = {
      {"one read", {{5, 1000, true}}},
      {"seventy reads, more than one call takes", many},
      {"up to the last byte", {{99000, 1000, true}, {0, 100000, true}}},
      {"past the end, among whole ones",
       {{10, 100, true}, {99995, 10, false}, {200000, 1, false}, {100000, 1, false}, {300, 50, true}}},
      {"nothing asked for, at the end and past it", {{100000, 0, true}, {500, 0, true}, {7, 3, true}}},
      {"a file that is not open", {{0, 10, false}, {10, 10, false}}, false},
  };
  for (const Row& r : rows) {
    io::File file = r.open ? io::File::OpenRead(path) : io::File();
    std::vector<std::vector<std::uint8_t>> buffers;
    std::vector<io::File::ReadAt> reads;
    for (const Read& x : r.reads) buffers.emplace_back(std::max<std::size_t>(x.n, 1), 0xEE);
    for (std::size_t i = 0; i < r.reads.size(); ++i)
      reads.push_back({r.reads[i].offset, buffers[i].data(), r.reads[i].n, !r.reads[i].whole});
    const std::uint64_t before = io::BytesAsked();
    file.ReadManyAt(reads);
    // Each byte asked for is counted once, whether the system read it in one call or not.
    std::uint64_t asked = 0;
    for (const Read& x : r.reads) asked += r.open ? x.n : 0;
    EXPECT_EQ(io::BytesAsked() - before, asked) << r.name;
    for (std::size_t i = 0; i < r.reads.size(); ++i) {
      const Read& x = r.reads[i];
      EXPECT_EQ(reads[i].done, x.whole) << r.name << ", read " << i;
      if (x.whole && reads[i].done) {
        EXPECT_TRUE(std::equal(buffers[i].begin(), buffers[i].begin() + static_cast<std::ptrdiff_t>(x.n),
                               content.begin() + static_cast<std::ptrdiff_t>(x.offset)))
            << r.name << ", read " << i;
      }
    }
  }
}

// --- Damaged cards ------------------------------------------------------------------------

TEST(CardHostile, EachDamageEndsInItsIssue) {
  testutil::TempDir dir{testutil::FastTempBase()};
  // A card with one save: root at 0-1, its directory at 2-3, files at 4 and 5-7.
  CardFile base = CardFile::Format(dir.File("base.ps2"), true);
  {
    testutil::WriteFile(dir.File("ONE"), testutil::MakeBytes(1000, 1));
    testutil::WriteFile(dir.File("TWO"), testutil::MakeBytes(3000, 2));
    CGeneric s;
    s.AddEntryFromDisk(dir.File("ONE"), "ONE");
    s.AddEntryFromDisk(dir.File("TWO"), "TWO");
    s.SetName(-1, "BESLES-55555");
    ASSERT_EQ(OpenOrFail(base.path())->Import(s).result, card::ImportResult::kImported);
  }
  base = CardFile::Read(base.path());
  ASSERT_EQ(base.Fat(5), 0x80000006u);
  const std::uint64_t saveEntry = base.EntryPage(0, 2), twoEntry = base.EntryPage(2, 3);

  struct Row {
    const char* why;
    std::function<void(CardFile&)> damage;
    card::IssueKind expected;
    bool opens;
  };
  auto setEntry = [](std::uint64_t page, std::function<void(DirEntry&)> change) {
    return [page, change](CardFile& f) {
      DirEntry e = f.Entry(page);
      change(e);
      f.SetEntry(page, e);
    };
  };
  const Row rows[] = {
      {"a chain that loops", [](CardFile& f) { f.SetFat(7, 0x80000005); }, card::IssueKind::kChainLoop, true},
      {"a chain into a free cluster", [](CardFile& f) { f.SetFat(6, 0x00000007); }, card::IssueKind::kChainIntoFree, true},
      {"a chain into a bad cluster", [](CardFile& f) { f.SetFat(6, 0xFFFFFFFD); }, card::IssueKind::kChainIntoBad, true},
      {"a chain past the card", [](CardFile& f) { f.SetFat(6, 0x80FFFFFF); }, card::IssueKind::kChainBeyondCard, true},
      {"a chain shorter than its file", [](CardFile& f) { f.SetFat(6, 0xFFFFFFFF); }, card::IssueKind::kChainShort, true},
      {"two files sharing clusters", setEntry(twoEntry, [](DirEntry& e) { e.cluster = 4; }), card::IssueKind::kCrossLinked, true},
      {"a directory that is the root", setEntry(saveEntry, [](DirEntry& e) { e.cluster = 0; }), card::IssueKind::kContainsItself, true},
      {"a file longer than the card", setEntry(twoEntry, [](DirEntry& e) { e.length = 0xFFFFFFF0; }), card::IssueKind::kLengthBeyondCard, true},
      {"a directory longer than the card", setEntry(saveEntry, [](DirEntry& e) { e.length = 0x7FFFFFFF; }), card::IssueKind::kLengthBeyondCard, true},
      {"a directory longer than its chain", setEntry(saveEntry, [](DirEntry& e) { e.length = 9; }), card::IssueKind::kBadDirectory, true},
      {"backup block 2 in use", [](CardFile& f) { f.Page(1022 * 16)[0] = 5; }, card::IssueKind::kBackupPending, true},
      {"a root of one entry", setEntry(base.EntryPage(0, 0), [](DirEntry& e) { e.length = 1; }), card::IssueKind::kBadRoot, false},
      {"a card of 4G clusters", [](CardFile& f) { f.SetSuperblockWord(0x30, 0xFFFFFFFF); }, card::IssueKind::kSizeMismatch, false},
      {"an allocation area past the end", [](CardFile& f) { f.SetSuperblockWord(0x38, 0xFFFFFF00); }, card::IssueKind::kBadSuperblock, false},
      {"an allocation area at cluster 0", [](CardFile& f) { f.SetSuperblockWord(0x34, 0); }, card::IssueKind::kBadSuperblock, false},
      {"a root past the allocation area", [](CardFile& f) { f.SetSuperblockWord(0x3C, 9000); }, card::IssueKind::kBadSuperblock, false},
      {"pages of 1024 bytes", [](CardFile& f) { f.SetSuperblockWord(0x28, 0x00020400); }, card::IssueKind::kBadSuperblock, false},
      {"an indirect FAT past the card", [](CardFile& f) { f.SetSuperblockWord(0x50, 0x10000000); }, card::IssueKind::kBadFat, false},
      {"a FAT cluster inside the allocation area", [](CardFile& f) {
         f.Page(16)[0] = 41;
         f.Reseal(16);
       }, card::IssueKind::kBadFat, false},
      {"two flipped bits in the FAT", [](CardFile& f) { f.Page(18)[0] ^= 3; }, card::IssueKind::kEccUncorrectable, true},
  };
  for (const Row& r : rows) {
    CardFile f = base;
    r.damage(f);
    f.Store();
    card::OpenedCard opened = card::OpenCard(f.path());
    std::vector<card::IssueKind> kinds;
    for (const card::Issue& i : opened.issues) kinds.push_back(i.kind);
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), r.expected), kinds.end())
        << r.why << ": " << (opened.issues.empty() ? "no issue" : card::messages::IssueLine(opened.issues[0]));
    EXPECT_EQ(opened.card != nullptr, r.opens) << r.why;
    // Held in memory as a window holds it, the card reads the same.
    const card::OpenedCard held = card::OpenCard(f.path(), card::CardReading::kHeld);
    std::vector<std::string> lines, heldLines;
    for (const card::Issue& i : opened.issues) lines.push_back(card::messages::IssueLine(i));
    for (const card::Issue& i : held.issues) heldLines.push_back(card::messages::IssueLine(i));
    EXPECT_EQ(heldLines, lines) << r.why;
    if (!opened.card) continue;
    // A damaged card is read but never written.
    EXPECT_TRUE(opened.card->Damaged()) << r.why;
    CGeneric other;
    other.AddEntryFromDisk(dir.File("ONE"), "ONE");
    EXPECT_EQ(opened.card->Import(other).result, card::ImportResult::kCardDamaged) << r.why;
    EXPECT_EQ(opened.card->Remove("BESLES-55555"), card::RemoveResult::kCardDamaged) << r.why;
    EXPECT_EQ(testutil::ReadFile(f.path()), f.bytes()) << r.why;
  }
}

TEST(CardHostile, OtherFilesAreRefusedWithWhatTheyAre) {
  testutil::TempDir dir;
  struct Row {
    const char* why;
    Bytes bytes;
    card::IssueKind expected;
    const char* message;
  };
  // A PS1 card opens as one (ps1_card_test.cpp); 128 KiB of anything else is neither.
  Bytes ps1(131072, 0);
  ps1[0] = 'X';
  ps1[1] = 'C';
  const Row rows[] = {
      {"128 KiB without a PS1 card's header", ps1, card::IssueKind::kPs1Card,
       "128 KiB like a PlayStation (PS1) memory card, but without a PS1 card's \"MC\" header"},
      {"an unformatted card", Bytes(8650752, 0xFF), card::IssueKind::kUnformatted, "an unformatted card image of 8 MiB: format it first"},
      {"a text file", testutil::FromString("hello"), card::IssueKind::kNotACard, "not a PS2 memory card image"},
      {"an empty file", Bytes(), card::IssueKind::kNotACard, "not a PS2 memory card image"},
  };
  for (const Row& r : rows) {
    testutil::WriteFile(dir.File("x.mcd"), r.bytes);
    card::OpenedCard opened = card::OpenCard(dir.File("x.mcd"));
    EXPECT_FALSE(opened.card) << r.why;
    ASSERT_FALSE(opened.issues.empty()) << r.why;
    EXPECT_EQ(opened.issues[0].kind, r.expected) << r.why;
    EXPECT_EQ(card::messages::OpenFailure(opened), r.message) << r.why;
  }
}

TEST(CardRepair, CorrectsPagesAndFreesLostClusters) {
  testutil::TempDir dir;
  CardFile f = CardFile::Format(dir.File("card.ps2"), true);
  testutil::WriteFile(dir.File("A"), testutil::MakeBytes(5000, 3));
  CGeneric s;
  s.AddEntryFromDisk(dir.File("A"), "A");
  s.SetName(-1, "BESLES-66666");
  ASSERT_EQ(OpenOrFail(f.path())->Import(s).result, card::ImportResult::kImported);
  f = CardFile::Read(f.path());
  f.Page(f.ClusterPage(3))[100] ^= 0x10;        // one data bit of the file
  f.Page(f.ClusterPage(3) + 1)[512 + 4] ^= 0x01;  // one bit of a code
  f.SetFat(50, 0xFFFFFFFF);                      // a cluster nobody owns
  f.Store();
  auto c = OpenOrFail(f.path());
  ASSERT_TRUE(c);
  std::vector<card::IssueKind> kinds;
  for (const card::Issue& i : c->Check()) kinds.push_back(i.kind);
  EXPECT_EQ(kinds, (std::vector<card::IssueKind>{card::IssueKind::kEccCorrected, card::IssueKind::kEccCodeWrong,
                                                 card::IssueKind::kLostCluster}));
  card::RepairOutcome r = c->Repair();
  EXPECT_EQ(r.result, card::RepairResult::kRepaired);
  EXPECT_EQ(r.pagesCorrected, 2);
  EXPECT_EQ(r.clustersFreed, 1);
  EXPECT_TRUE(r.remaining.empty());
  EXPECT_EQ(DataOf(*c->OpenSave("BESLES-66666").save, 1), testutil::MakeBytes(5000, 3));
  EXPECT_EQ(c->Repair().result, card::RepairResult::kNothingToRepair);
}

// --- PCSX2 folder cards ---------------------------------------------------------------------

TEST(FolderCard, KeepsNamesModesAndTimesInItsHostFiles) {
  testutil::TempDir dir;
  const std::string path = dir.File("Mcd001.ps2");
  ASSERT_EQ(card::FormatFolderCard(path, {}), card::FormatResult::kFormatted);
  auto c = OpenOrFail(path);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->List().freeKB, card::kFolderCardClusters);

  testutil::WriteFile(dir.File("A"), testutil::MakeBytes(2000, 4));
  CGeneric plain;
  plain.AddEntryFromDisk(dir.File("A"), "DATA.BIN");
  plain.AddEntryFromDisk(dir.File("A"), "icon.sys");
  plain.SetName(-1, "BESLES-77777");
  plain.SetCreated(-1, testutil::MakeTime(2020, 1, 2, 3, 4, 5));
  plain.SetModified(-1, testutil::MakeTime(2021, 6, 7, 8, 9, 10));
  ASSERT_EQ(c->Import(plain).result, card::ImportResult::kImported);

  CGeneric odd;  // a name the host can't keep, and modes the emulator would not guess
  odd.AddEntryFromDisk(dir.File("A"), "A:B");
  odd.SetMode(0, 0x8417);
  odd.SetName(-1, "BESLES-8888?");
  odd.SetMode(-1, 0xA427);
  ASSERT_EQ(c->Import(odd).result, card::ImportResult::kImported);

  namespace fs = std::filesystem;
  const fs::path root = dir.path() / "Mcd001.ps2";
  // The index: one line, flow style, in order, times as the card's fields read as UTC.
  const Bytes index = testutil::ReadFile((root / "BESLES-77777" / "_pcsx2_index").string());
  const std::string created = std::to_string(card::CardTimeToSeconds(testutil::MakeTime(2020, 1, 2, 3, 4, 5)));
  EXPECT_EQ(created, "1577934245");
  const std::string text(index.begin(), index.end());
  EXPECT_EQ(text.substr(0, text.find(", DATA.BIN")),
            "{$ROOT: {timeCreated: 1577934245, timeModified: 1623053350}");
  EXPECT_NE(text.find("DATA.BIN: {order: 1, "), std::string::npos);
  EXPECT_NE(text.find("icon.sys: {order: 2, "), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
  // Meta files only where they are needed.
  EXPECT_FALSE(fs::exists(root / "BESLES-77777" / "_pcsx2_meta_directory"));
  EXPECT_FALSE(fs::exists(root / "BESLES-77777" / "_pcsx2_meta"));
  EXPECT_TRUE(fs::exists(root / "BESLES-8888_" / "_pcsx2_meta_directory"));
  EXPECT_TRUE(fs::exists(root / "BESLES-8888_" / "_pcsx2_meta" / "A_B"));

  // Read back through a new object: the card's names, modes and times.
  auto again = OpenOrFail(path);
  card::OpenedSave s = again->OpenSave("BESLES-8888?");
  ASSERT_EQ(s.result, card::OpenSaveResult::kOpened);
  EXPECT_EQ((*s.save->entries)[0].mode, 0xA427u);
  EXPECT_EQ((*s.save->entries)[1].Name(), "A:B");
  EXPECT_EQ((*s.save->entries)[1].mode, 0x8417u);
  card::OpenedSave p = again->OpenSave("BESLES-77777");
  ASSERT_EQ(p.result, card::OpenSaveResult::kOpened);
  EXPECT_EQ((*p.save->entries)[0].created, testutil::MakeTime(2020, 1, 2, 3, 4, 5));
  EXPECT_EQ((*p.save->entries)[0].modified, testutil::MakeTime(2021, 6, 7, 8, 9, 10));
  ExpectSameFiles(plain, *p.save, "folder");

  // Removing renames the folder as the emulator does.
  EXPECT_EQ(again->Remove("BESLES-77777"), card::RemoveResult::kRemoved);
  EXPECT_TRUE(fs::exists(root / "_pcsx2_deleted_BESLES-77777"));
  EXPECT_EQ(again->List().saves.size(), 1u);
  // Formatting never goes over a card with saves.
  EXPECT_EQ(card::FormatFolderCard(path, Overwriting()), card::FormatResult::kTargetExists);
}

TEST(FolderCard, IndexReadsTheEmulatorsSubsetAndRefusesTheRest) {
  struct Row {
    const char* why;
    const char* text;
    bool parses;
    std::vector<std::tuple<std::string, std::int64_t, std::int64_t>> records;  // name, order, timeCreated (-1 none)
  };
  const Row rows[] = {
      {"the emulator's one line", "{$ROOT: {timeCreated: 5, timeModified: 6}, icon.sys: {order: 1, timeCreated: 7, timeModified: 8}}\n",
       true, {{"$ROOT", -1, 5}, {"icon.sys", 1, 7}}},
      {"block style", "$ROOT:\n  timeCreated: 5\nicon.sys:\n  order: 2\n  timeCreated: 9\n", true, {{"$ROOT", -1, 5}, {"icon.sys", 2, 9}}},
      {"quoted names", "{\"a, b\": {order: 3}, 'it''s': {order: 4}, \"x\\\"y\": {order: 5}}", true,
       {{"a, b", 3, -1}, {"it's", 4, -1}, {"x\"y", 5, -1}}},
      {"unknown keys and text values pass", "{f: {order: x, colour: 2, timeCreated: 1}}", true, {{"f", -1, 1}}},
      {"no closing brace", "{f: {order: 1}", false, {}},
      {"no colon", "{f {order: 1}}", false, {}},
      {"an open quote", "{\"f: {order: 1}}", false, {}},
      {"a list", "- a\n- b\n", false, {}},
  };
  for (const Row& r : rows) {
    auto index = card::ParseFolderIndex(r.text);
    ASSERT_EQ(index.has_value(), r.parses) << r.why;
    if (!index) continue;
    std::vector<std::tuple<std::string, std::int64_t, std::int64_t>> got;
    for (const card::IndexRecord& rec : index->records) got.emplace_back(rec.name, rec.order.value_or(-1), rec.created.value_or(-1));
    EXPECT_EQ(got, r.records) << r.why;
    // What this program writes reads back the same.
    auto again = card::ParseFolderIndex(card::WriteFolderIndex(*index));
    ASSERT_TRUE(again) << r.why;
    EXPECT_EQ(again->records.size(), index->records.size()) << r.why;
    for (std::size_t i = 0; i < again->records.size(); ++i) EXPECT_EQ(again->records[i].name, index->records[i].name) << r.why;
  }
}

TEST(CardTime, IndexSecondsRoundTrip) {
  for (const EntryTime& t : {testutil::MakeTime(1970, 1, 1, 0, 0, 0), testutil::MakeTime(2000, 2, 29, 23, 59, 59),
                             testutil::MakeTime(2099, 12, 31, 12, 0, 1), testutil::MakeTime(1901, 3, 1, 1, 2, 3)})
    EXPECT_EQ(card::SecondsToCardTime(card::CardTimeToSeconds(t)), t);
  EXPECT_EQ(card::CardTimeToSeconds(testutil::MakeTime(2001, 9, 9, 1, 46, 40)), 1000000000);
}

TEST(CardImage, ContentCheckRecognisesImagesUnderAnyName) {
  testutil::TempDir dir;
  CardFile ecc = CardFile::Format(dir.File("a.bin"), true);
  CardFile raw = CardFile::Format(dir.File("b.ps2"), false);
  struct Row {
    const char* why;
    const Bytes* bytes;
    std::uint64_t size;
    bool card;
  };
  const Bytes& e = ecc.bytes();
  const Bytes zeros(512, 0);
  const Bytes& r = raw.bytes();
  const Row rows[] = {
      {"with ECC", &e, e.size(), true},
      {"raw", &r, r.size(), true},
      {"cut short", &e, e.size() - 528, false},
      {"an 8 MiB superblock at the size of 16 MiB", &e, 2 * e.size(), false},
      {"zeros at the size of a card", &zeros, r.size(), false},
  };
  for (const Row& row : rows)
    EXPECT_EQ(card::LooksLikeCardImage(std::span(row.bytes->data(), 512), row.size), row.card) << row.why;
}

}  // namespace
