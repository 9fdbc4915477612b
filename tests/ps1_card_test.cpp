// PS1 cards: the files they are kept in, the directory and its chains, the changes made to a
// card (import, delete, restore, repair) and what damaged and hostile cards do.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>

#include "card/card_messages.h"
#include "card/kinds.h"
#include "card/ps1/ps1_card.h"
#include "formats/ps1/ps1_save.h"
#include "formats/registry.h"
#include "formats/write_save.h"
#include "io/file.h"
#include "model/entry_data.h"
#include "support/ps1_builder.h"
#include "support/ps1_card_builder.h"
#include "support/test_util.h"

using testutil::Bytes;
using testutil::Ps1Card;

namespace {

std::unique_ptr<CPs1Save> InMemorySave(const std::string& name, const Bytes& blocks) {
  auto save = std::make_unique<CPs1Save>();
  save->Assign(name, static_cast<std::uint32_t>(blocks.size()), InMemory{blocks}, nullptr, std::nullopt);
  return save;
}

std::unique_ptr<card::Card> OpenOrFail(const std::string& path) {
  card::OpenedCard opened = card::OpenCard(path);
  EXPECT_TRUE(opened.card) << path << ": " << card::messages::OpenFailure(opened);
  return std::move(opened.card);
}

std::vector<card::IssueKind> KindsOf(const std::vector<card::Issue>& issues) {
  std::vector<card::IssueKind> kinds;
  for (const card::Issue& i : issues) kinds.push_back(i.kind);
  return kinds;
}

bool Has(const std::vector<card::Issue>& issues, card::IssueKind kind) {
  const auto kinds = KindsOf(issues);
  return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

const card::SaveInfo* Find(const card::Listing& listing, const std::string& name, bool deleted = false) {
  for (const card::SaveInfo& s : listing.saves)
    if (s.folder == name && s.deleted == deleted) return &s;
  return nullptr;
}

Bytes ReadBlocksOf(const CSaveGame& save) {
  Bytes blocks;
  EXPECT_EQ(ps1::ReadBlocks(save, blocks), DataResult::kOk);
  return blocks;
}

ps1::DirFrame Unlinked(ps1::DirFrame frame) {
  frame.SetNext(0);
  frame.Seal();
  return frame;
}

constexpr card::Ps1FileKind kKinds[] = {card::Ps1FileKind::kRaw, card::Ps1FileKind::kDexDrive, card::Ps1FileKind::kVgs,
                                        card::Ps1FileKind::kVmp, card::Ps1FileKind::kPocketStation};

}  // namespace

// --- The files --------------------------------------------------------------------------

TEST(Ps1CardFile, KindIsTakenFromTheContent) {
  const Bytes card = Ps1Card::EmptyCard();
  const Bytes gme = testutil::WithDexDriveHeader(card, {});
  Bytes zeroHeader(0xF40, 0);
  zeroHeader.insert(zeroHeader.end(), card.begin(), card.end());
  Bytes vgs{'V', 'g', 's', 'M'};
  vgs.resize(64, 0);
  vgs.insert(vgs.end(), card.begin(), card.end());
  Bytes vmp{0, 'P', 'M', 'V', 0x80};
  vmp.resize(0x80, 0);
  vmp.insert(vmp.end(), card.begin(), card.end());
  Bytes noMagic = card;
  noMagic[0] = 'X';
  using K = card::Ps1FileKind;
  const struct {
    const char* why;
    Bytes head;
    std::uint64_t length;
    std::optional<K> kind;
  } rows[] = {
      {"a raw card", card, card.size(), K::kRaw},
      {"128 KiB without \"MC\"", noMagic, noMagic.size(), std::nullopt},
      {"a raw card one byte short", card, card.size() - 1, std::nullopt},
      {"a DexDrive file", gme, gme.size(), K::kDexDrive},
      {"a DexDrive file with only its directory block", gme, 0xF40 + 8192, K::kDexDrive},
      {"a DexDrive file ending inside its directory block", gme, 0xF40 + 8191, std::nullopt},
      {"a DexDrive file longer than a card", gme, gme.size() + 1, std::nullopt},
      {"an all-zero DexDrive header", zeroHeader, zeroHeader.size(), K::kDexDrive},
      {"zeros without a card after them", Bytes(0xF42, 0), zeroHeader.size(), std::nullopt},
      {"a VGS file", vgs, vgs.size(), K::kVgs},
      {"a VGS file of another length", vgs, vgs.size() + 16, std::nullopt},
      {"a .vmp file", vmp, vmp.size(), K::kVmp},
      {"a PocketStation file, by its length", Bytes(16, 0x5A), 131232, K::kPocketStation},
      {"a PS2 card's size", Bytes(16, 0), 8388608, std::nullopt},
  };
  for (const auto& r : rows) EXPECT_EQ(card::Ps1KindOf(r.head, r.length), r.kind) << r.why;
}

TEST(Ps1CardFile, EveryKindIsWrittenAndReadBack) {
  Ps1Card built;
  built.PutSave("BASLUS-00001GAME", {2, 4}, testutil::MakePs1Blocks(2, 7));
  for (card::Ps1FileKind kind : kKinds) {
    const auto bytes = card::Ps1FileBytes(card::NewPs1CardFile(kind, built.bytes));
    ASSERT_TRUE(bytes);
    card::Ps1CardFile back;
    ASSERT_EQ(card::ParsePs1CardFile(*bytes, back), card::Ps1ReadResult::kRead) << card::Ps1KindKey(kind);
    EXPECT_EQ(back.kind, kind);
    EXPECT_EQ(back.card, built.bytes) << card::Ps1KindKey(kind);
    EXPECT_TRUE(back.verified) << card::Ps1KindKey(kind);
    // The card lies in the file as it is, except in the encrypted one.
    const auto offset = back.CardOffset();
    const bool plain = std::search(bytes->begin(), bytes->end(), built.bytes.begin(), built.bytes.end()) != bytes->end();
    EXPECT_EQ(plain, offset.has_value()) << card::Ps1KindKey(kind);
    if (offset) {
      EXPECT_EQ(*offset + built.bytes.size(), bytes->size());
    }
  }
}

TEST(Ps1CardFile, AChangedSignedFileNoLongerVerifies) {
  Ps1Card built;
  built.PutSave("BASLUS-00001GAME", {1}, testutil::MakePs1Blocks(1, 3));
  for (card::Ps1FileKind kind : {card::Ps1FileKind::kVmp, card::Ps1FileKind::kPocketStation}) {
    Bytes bytes = *card::Ps1FileBytes(card::NewPs1CardFile(kind, built.bytes));
    bytes[0x80 + 5 * 8192 + 100] ^= 1;  // inside an unused block, past the directory
    card::Ps1CardFile back;
    ASSERT_EQ(card::ParsePs1CardFile(bytes, back), card::Ps1ReadResult::kRead);
    EXPECT_FALSE(back.verified) << card::Ps1KindKey(kind);
  }
}

TEST(Ps1CardFile, AFreshCardIsTheConsolesAndEachKindOpensEmpty) {
  EXPECT_EQ(card::FreshPs1Card(), Ps1Card::EmptyCard());
  if (std::string empty = testutil::CorpusPath("ps1card/l-empty.mcd"); !empty.empty()) {
    EXPECT_EQ(card::FreshPs1Card(), testutil::ReadFile(empty));
  }
  testutil::TempDir dir;
  for (card::Ps1FileKind kind : kKinds) {
    const std::string path = dir.File("new." + std::string(card::Ps1KindKey(kind)));
    ASSERT_EQ(card::FormatPs1Card(path, kind, false), card::FormatResult::kFormatted);
    EXPECT_EQ(card::FormatPs1Card(path, kind, false), card::FormatResult::kTargetExists);
    auto c = OpenOrFail(path);
    ASSERT_TRUE(c);
    EXPECT_EQ(card::Ps1FileKindOf(c->type()), kind);
    EXPECT_TRUE(c->issues().empty()) << card::messages::IssueLine(c->issues().front());
    EXPECT_EQ(c->List().freeBlocks, 15);
    EXPECT_TRUE(c->List().saves.empty());
  }
}

TEST(Ps1CardFile, ADexDriveFileKeepsItsCommentsAndTakesItsCopiesFromTheDirectory) {
  testutil::TempDir dir;
  Ps1Card built;
  built.PutSave("BESLES-00001A", {1, 2}, testutil::MakePs1Blocks(2, 1));
  Bytes full = testutil::WithDexDriveHeader(built.bytes, {"first comment", "", "third"});
  full[0x16 + 4] = 0x51;  // copies that disagree with the directory, as on real files
  full[0x26 + 4] = 0x07;
  Bytes zeroHeader = full;
  std::fill(zeroHeader.begin(), zeroHeader.begin() + 0xF40, 0);
  // Cut short after the used blocks: the rest reads as free and is written whole.
  const Bytes cut(full.begin(), full.begin() + 0xF40 + 3 * 8192);
  for (const auto& [name, bytes] : {std::pair{"full.gme", full}, std::pair{"zero.gme", zeroHeader}, std::pair{"cut.gme", cut}}) {
    const std::string path = dir.File(name);
    testutil::WriteFile(path, bytes);
    auto c = OpenOrFail(path);
    ASSERT_TRUE(c) << name;
    EXPECT_EQ(c->type(), card::CardType::kPs1DexDrive) << name;
    EXPECT_EQ(c->List().freeBlocks, 13) << name;
    ASSERT_EQ(c->Import(*InMemorySave("BASLUS-00002B", testutil::MakePs1Blocks(3, 2))).result, card::ImportResult::kImported)
        << name;
    const Bytes after = testutil::ReadFile(path);
    ASSERT_EQ(after.size(), 0xF40u + 131072) << name;
    EXPECT_EQ(std::string(after.begin(), after.begin() + 11), "123-456-STD") << name;
    // Comments as they were; each copy the state and next index of its directory entry.
    EXPECT_TRUE(std::equal(after.begin() + 0x40, after.begin() + 0xF40, bytes.begin() + 0x40)) << name;
    for (int i = 0; i < 15; ++i) {
      EXPECT_EQ(after[0x16 + static_cast<std::size_t>(i)], after[0xF40 + (static_cast<std::size_t>(i) + 1) * 128]) << name << " " << i;
      EXPECT_EQ(after[0x26 + static_cast<std::size_t>(i)], after[0xF40 + (static_cast<std::size_t>(i) + 1) * 128 + 8]) << name << " " << i;
    }
    EXPECT_EQ(after[0x16 + 2], 0x51) << name;  // the new save's first block, 3
  }
}

// --- Changes ------------------------------------------------------------------------------

TEST(Ps1Image, ImportTakesFreeBlocksApartWhenItMustAndSetsEveryCheck) {
  Ps1Card built;
  built.PutSave("BESLES-00001A", {1}, testutil::MakePs1Blocks(1, 1));
  built.PutSave("BESLES-00002B", {3, 4}, testutil::MakePs1Blocks(2, 2));
  built.SetEntry(6, 0xA1, 8192, 0xFFFF, "BESLES-00003C");  // deleted: free
  built.PutSave("BESLES-00004D", {7, 8, 9, 10, 11, 12, 13, 14}, testutil::MakePs1Blocks(8, 4));
  card::Ps1Image image(built.bytes);
  ASSERT_EQ(image.directory().FreeBlocks(), 4);  // 2, 5, 6, 15
  const Bytes blocks = testutil::MakePs1Blocks(3, 9);
  ASSERT_EQ(image.Import("BASLUS-99999NEW", blocks, ps1::DirFrame::FirstOf("BASLUS-99999NEW", 3 * 8192)),
            card::Ps1Change::kDone);
  const card::Ps1SaveState* s = image.directory().Find("BASLUS-99999NEW");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->blocks, (std::vector<int>{2, 5, 6}));
  EXPECT_TRUE(s->intact);
  EXPECT_EQ(image.SaveBytes(*s), blocks);
  for (int b = 0; b <= 15; ++b) EXPECT_TRUE(image.Frame(b).XorValid()) << b;
  EXPECT_EQ(image.Frame(5).State(), ps1::kStateMiddle);
  EXPECT_EQ(image.Frame(6).State(), ps1::kStateLast);
  EXPECT_EQ(image.Frame(6).Next(), ps1::kNoNext);
  EXPECT_TRUE(image.Check().empty());

  // Refusals leave the card as it was.
  const Bytes before = image.bytes();
  EXPECT_EQ(image.Import("BASLUS-99999NEW", testutil::MakePs1Blocks(1), ps1::DirFrame{}), card::Ps1Change::kAlreadyOnCard);
  EXPECT_EQ(image.Import("BASLUS-99998TWO", testutil::MakePs1Blocks(2), ps1::DirFrame{}), card::Ps1Change::kNoSpace);
  EXPECT_EQ(image.Import("", testutil::MakePs1Blocks(1), ps1::DirFrame{}), card::Ps1Change::kInvalidSave);
  EXPECT_EQ(image.Import("BASLUS-99997", Bytes(100, 0), ps1::DirFrame{}), card::Ps1Change::kInvalidSave);
  EXPECT_EQ(image.bytes(), before);
}

TEST(Ps1Image, ImportKeepsTheUnknownBytesOfTheSavesOwnFrame) {
  ps1::DirFrame own = ps1::DirFrame::FirstOf("BASLUS-01360FF4", 8192);
  own.bytes[0x39] = 0x40;  // as a real card holds
  own.SetNext(5);          // a .mcs keeps the card's next index: not this card's
  card::Ps1Image image(Ps1Card::EmptyCard());
  ASSERT_EQ(image.Import("BASLUS-01360FF4", testutil::MakePs1Blocks(1), own), card::Ps1Change::kDone);
  EXPECT_EQ(image.Frame(1).bytes[0x39], 0x40);
  EXPECT_EQ(image.Frame(1).Next(), ps1::kNoNext);
  EXPECT_TRUE(image.Frame(1).XorValid());
}

TEST(Ps1Image, DeleteAndRestore) {
  Ps1Card built;
  built.PutSave("BESLES-00001A", {2, 5, 3}, testutil::MakePs1Blocks(3, 1));
  built.PutSave("BESLES-00002B", {1}, testutil::MakePs1Blocks(1, 2));
  // Deleted by an emulator that clears the next indices: rebuilt from the size and the
  // deleted entries after the first.
  built.SetEntry(9, 0xA1, 2 * 8192, 0xFFFF, "BESLES-00003C");
  built.SetEntry(10, 0xA3, 0, 0xFFFF);
  card::Ps1Image image(built.bytes);
  const Bytes before = image.bytes();

  ASSERT_EQ(image.Remove("BESLES-00001A"), card::Ps1Change::kDone);
  EXPECT_EQ(image.Frame(2).State(), ps1::kStateDeletedFirst);
  EXPECT_EQ(image.Frame(5).State(), ps1::kStateDeletedMiddle);
  EXPECT_EQ(image.Frame(3).State(), ps1::kStateDeletedLast);
  EXPECT_EQ(image.directory().FreeBlocks(), 14);
  // Only the three states and their checks changed.
  std::size_t changed = 0;
  for (std::size_t i = 0; i < before.size(); ++i) changed += before[i] != image.bytes()[i];
  EXPECT_EQ(changed, 6u);

  ASSERT_EQ(image.Restore("BESLES-00001A"), card::Ps1Change::kDone);
  EXPECT_EQ(image.bytes(), before);
  ASSERT_EQ(image.Restore("BESLES-00003C"), card::Ps1Change::kDone);
  const card::Ps1SaveState* rebuilt = image.directory().Find("BESLES-00003C");
  ASSERT_TRUE(rebuilt);
  EXPECT_EQ(rebuilt->blocks, (std::vector<int>{9, 10}));
  EXPECT_EQ(image.Frame(9).Next(), 9);  // linked again

}

TEST(Ps1Image, RestoreRefusesUnlessEveryBlockIsStillFree) {
  const struct {
    const char* why;
    std::function<void(Ps1Card&)> build;
    card::Ps1Change expected;
    std::size_t stored = card::kPs1CardBytes;  // the card's bytes the file holds
  } rows[] = {
      {"restorable", [](Ps1Card&) {}, card::Ps1Change::kDone},
      {"no such deleted save", [](Ps1Card& c) { c.SetEntry(12, 0xA0, 0, 0xFFFF); }, card::Ps1Change::kNotFound},
      {"a live save has the name",
       [](Ps1Card& c) { c.PutSave("BESLES-00004D", {4}, testutil::MakePs1Blocks(1, 4)); }, card::Ps1Change::kAlreadyOnCard},
      {"another save took a block", [](Ps1Card& c) { c.PutSave("BESLES-00005E", {13}, testutil::MakePs1Blocks(1, 5)); },
       card::Ps1Change::kBlocksTaken},
      {"a broken save's chain runs into it",
       [](Ps1Card& c) {
         c.PutSave("BESLES-00006F", {2, 3}, testutil::MakePs1Blocks(2, 6));
         c.SetEntry(3, 0x52, 0, 12);  // on into block 13
       },
       card::Ps1Change::kBlocksTaken},
      {"a size of no whole blocks", [](Ps1Card& c) { c.SetEntry(12, 0xA1, 100, 12, "BESLES-00004D"); },
       card::Ps1Change::kDamaged},
      // A DexDrive file that ends before block 13: restored, the save would be zeros there.
      {"the file ends before its last block", [](Ps1Card&) {}, card::Ps1Change::kDamaged, 13 * 8192},
      {"the file ends inside its last block", [](Ps1Card&) {}, card::Ps1Change::kDamaged, 14 * 8192 - 1},
      {"the file ends after its last block", [](Ps1Card&) {}, card::Ps1Change::kDone, 14 * 8192},
  };
  for (const auto& r : rows) {
    Ps1Card built;
    built.PutSave("BESLES-00004D", {12, 13}, testutil::MakePs1Blocks(2, 4));
    built.SetEntry(12, 0xA1, 2 * 8192, 12, "BESLES-00004D");
    built.SetEntry(13, 0xA3, 0, 0xFFFF);
    r.build(built);
    Bytes stored = built.bytes;
    std::fill(stored.begin() + static_cast<std::ptrdiff_t>(r.stored), stored.end(), 0);
    card::Ps1Image image(stored, r.stored);
    EXPECT_EQ(image.Restore("BESLES-00004D"), r.expected) << r.why;
    if (r.expected != card::Ps1Change::kDone) {
      EXPECT_EQ(image.bytes(), stored) << r.why;
    }
  }
}

TEST(Ps1Image, RepairSetsChecksAndChainStatesOnly) {
  Ps1Card built;
  built.PutSave("BESLES-00001A", {1, 2, 3}, testutil::MakePs1Blocks(3, 1));
  built.SetEntry(2, 0x53, 0, 2);                // a middle block marked last
  built.SetEntry(3, 0x52, 0, 0xFFFF);           // the last marked middle
  built.SetEntry(5, 0xA0, 0, 0xFFFF, "", false);  // a free entry with a wrong check
  built.Frame(5)[127] ^= 0x20;
  built.PutSave("BESLES-00002B", {7, 8}, testutil::MakePs1Blocks(2, 2));
  built.SetEntry(8, 0x52, 0, 12);               // a broken chain: into a free block
  card::Ps1Image image(built.bytes);
  EXPECT_TRUE(Has(image.Check(), card::IssueKind::kBadBlockState));
  EXPECT_TRUE(Has(image.Check(), card::IssueKind::kBadCheck));
  EXPECT_TRUE(Has(image.Check(), card::IssueKind::kChainIntoFree));
  const card::Ps1Image::Mended mended = image.Repair();
  EXPECT_EQ(mended.checks, 1);
  EXPECT_EQ(mended.states, 2);
  EXPECT_EQ(image.Frame(2).State(), ps1::kStateMiddle);
  EXPECT_EQ(image.Frame(3).State(), ps1::kStateLast);
  // The broken chain is left as it was: only a guess could mend it.
  EXPECT_EQ(KindsOf(image.Check()), (std::vector<card::IssueKind>{card::IssueKind::kChainIntoFree}));
  EXPECT_EQ(image.Frame(8).State(), ps1::kStateMiddle);
  EXPECT_EQ(image.Repair().checks + image.Repair().states, 0);
}

// --- Damaged and hostile cards ------------------------------------------------------------

TEST(CardHostile, Ps1DamageEndsInItsIssueAndTheSaveIsNeverWrittenOver) {
  testutil::TempDir dir;
  Ps1Card base;
  base.PutSave("BESLES-00001DAMAGED", {1, 2, 3}, testutil::MakePs1Blocks(3, 1));
  base.PutSave("BESLES-00002OTHER", {9}, testutil::MakePs1Blocks(1, 2));
  const struct {
    const char* why;
    std::function<void(Ps1Card&)> damage;
    card::IssueKind expected;
    std::vector<int> kept;  // blocks no import may take
  } rows[] = {
      {"a chain that loops", [](Ps1Card& c) { c.SetEntry(3, 0x53, 0, 1); }, card::IssueKind::kChainLoop, {1, 2, 3}},
      {"a next index past the card", [](Ps1Card& c) { c.SetEntry(2, 0x52, 0, 0x339); }, card::IssueKind::kChainBeyondCard, {1, 2, 3}},
      {"a chain into a free block", [](Ps1Card& c) { c.SetEntry(2, 0x52, 0, 5); }, card::IssueKind::kChainIntoFree, {1, 2, 3, 6}},
      {"a chain into another save", [](Ps1Card& c) { c.SetEntry(2, 0x52, 0, 8); }, card::IssueKind::kCrossLinked, {1, 2, 3}},
      {"a size of no whole blocks", [](Ps1Card& c) { c.SetEntry(1, 0x51, 0x1C430000, 1, "BESLES-00001DAMAGED"); },
       card::IssueKind::kLengthBeyondCard, {1, 2, 3}},
      {"a size of more blocks than the chain", [](Ps1Card& c) { c.SetEntry(1, 0x51, 5 * 8192, 1, "BESLES-00001DAMAGED"); },
       card::IssueKind::kChainShort, {1, 2, 3}},
      {"a block in use that no chain reaches", [](Ps1Card& c) { c.SetEntry(12, 0x52, 0, 0xFFFF); }, card::IssueKind::kOrphanedBlock, {1, 2, 3, 12}},
      {"a state no card uses", [](Ps1Card& c) { c.SetEntry(13, 0x1C43, 0, 0xFFFF); }, card::IssueKind::kOrphanedBlock, {1, 2, 3, 13}},
  };
  for (const auto& r : rows) {
    Ps1Card damaged = base;
    r.damage(damaged);
    const std::string path = dir.File("damaged.mcd");
    testutil::WriteFile(path, damaged.bytes);
    auto c = OpenOrFail(path);
    ASSERT_TRUE(c) << r.why;
    EXPECT_TRUE(Has(c->issues(), r.expected)) << r.why << ": " << card::messages::IssueLine(c->issues().front());
    // The card takes other saves; the damaged save is listed, says what is wrong, and keeps its blocks.
    EXPECT_FALSE(c->Damaged()) << r.why;
    const card::Listing listing = c->List();
    if (r.expected != card::IssueKind::kOrphanedBlock) {
      const card::SaveInfo* s = Find(listing, "BESLES-00001DAMAGED");
      ASSERT_TRUE(s) << r.why;
      EXPECT_FALSE(s->readable) << r.why;
      EXPECT_FALSE(s->damage.empty()) << r.why;
      EXPECT_EQ(c->OpenSave("BESLES-00001DAMAGED").result, card::OpenSaveResult::kDamaged) << r.why;
      EXPECT_EQ(c->Remove("BESLES-00001DAMAGED"), card::RemoveResult::kCardDamaged) << r.why;
    }
    int imported = 0;
    for (int n = 0; n < 15; ++n) {
      auto save = InMemorySave("BASLUS-1000" + std::to_string(n), testutil::MakePs1Blocks(1, 50 + n));
      if (c->Import(*save).result == card::ImportResult::kImported) ++imported;
    }
    EXPECT_EQ(imported, 15 - 1 - static_cast<int>(r.kept.size())) << r.why;
    const Bytes after = testutil::ReadFile(path);
    for (int b : r.kept)
      EXPECT_TRUE(std::equal(after.begin() + b * 8192, after.begin() + (b + 1) * 8192, damaged.bytes.begin() + b * 8192))
          << r.why << ": block " << b << " written over";
  }
}

TEST(CardHostile, Ps1CardsOfUnverifiedOrCutShortFilesAreOnlyRead) {
  testutil::TempDir dir;
  Ps1Card built;
  built.PutSave("BESLES-00001A", {1}, testutil::MakePs1Blocks(1, 1));
  built.PutSave("BESLES-00002B", {2, 3}, testutil::MakePs1Blocks(2, 2));
  Bytes vmp = *card::Ps1FileBytes(card::NewPs1CardFile(card::Ps1FileKind::kVmp, built.bytes));
  vmp[0x80 + 8192 + 9] ^= 1;
  // A DexDrive file that ends inside block 3, which a save uses.
  Bytes cut = testutil::WithDexDriveHeader(built.bytes, {});
  cut.resize(0xF40 + 3 * 8192 + 100);
  for (const auto& [name, bytes, kind] : {std::tuple{"unsigned.vmp", vmp, card::IssueKind::kNotSigned},
                                          std::tuple{"cut.gme", cut, card::IssueKind::kChainShort}}) {
    const std::string path = dir.File(name);
    testutil::WriteFile(path, bytes);
    auto c = OpenOrFail(path);
    ASSERT_TRUE(c);
    EXPECT_TRUE(Has(c->issues(), kind)) << name;
    EXPECT_TRUE(c->Damaged()) << name;
    EXPECT_EQ(c->Import(*InMemorySave("BASLUS-55555", testutil::MakePs1Blocks(1, 5))).result,
              card::ImportResult::kCardDamaged) << name;
    EXPECT_EQ(c->Remove("BESLES-00001A"), card::RemoveResult::kCardDamaged) << name;
    EXPECT_EQ(c->Repair().result, card::RepairResult::kNothingToRepair) << name;
    EXPECT_EQ(testutil::ReadFile(path), bytes) << name;
  }
  EXPECT_EQ(card::ConvertPs1Card(dir.File("cut.gme"), dir.File("out.mcd"), card::Ps1FileKind::kRaw),
            card::ConvertResult::kBlocksMissing);
  EXPECT_FALSE(io::Exists(dir.File("out.mcd")));
  // Written as a raw card, the unverified one can be changed.
  ASSERT_EQ(card::ConvertPs1Card(dir.File("unsigned.vmp"), dir.File("out.mcd"), card::Ps1FileKind::kRaw),
            card::ConvertResult::kConverted);
  auto raw = OpenOrFail(dir.File("out.mcd"));
  ASSERT_TRUE(raw);
  EXPECT_FALSE(raw->Damaged());
  EXPECT_EQ(raw->Remove("BESLES-00001A"), card::RemoveResult::kRemoved);
}

TEST(CardHostile, Ps1DirectoryReadingStaysWithinTheCard) {
  // Every state, size and next index pattern from a few seeds: no crash, each chain bounded.
  for (std::uint32_t seed = 1; seed <= 64; ++seed) {
    Bytes card = Ps1Card::EmptyCard();
    const Bytes noise = testutil::MakeBytes(15 * 128, seed);
    for (int b = 1; b <= 15; ++b) {
      std::copy_n(noise.begin() + (b - 1) * 128, 12, card.begin() + b * 128);
      card[static_cast<std::size_t>(b) * 128] = static_cast<std::uint8_t>(0x51 + noise[static_cast<std::size_t>(b)] % 3);
      card[static_cast<std::size_t>(b) * 128 + 9] = noise[static_cast<std::size_t>(b) + 20] % 2 ? 0 : noise[static_cast<std::size_t>(b) + 40];
    }
    const card::Ps1Directory dir = card::ReadPs1Directory(card);
    int owned = 0;
    for (const card::Ps1SaveState& s : dir.saves) {
      EXPECT_LE(s.blocks.size(), 15u);
      for (int b : s.blocks) EXPECT_TRUE(b >= 1 && b <= 15);
      if (!s.deleted) owned += static_cast<int>(s.blocks.size());
    }
    EXPECT_LE(owned, 15) << "a block held by two saves, seed " << seed;
  }
}

// --- The real cards -------------------------------------------------------------------------

TEST(Ps1CardCorpus, EveryCardOpensWithTheSavesItHolds) {
  REQUIRE_CORPUS(empty, "ps1card/l-empty.mcd");
  const std::string folder = std::filesystem::path(empty).parent_path().string();
  const struct {
    const char* file;
    card::CardType type;
    int live, deleted, free;
  } rows[] = {
      {"a.mcd", card::CardType::kPs1Raw, 10, 0, 0},
      {"b.mcd", card::CardType::kPs1Raw, 5, 0, 0},
      {"c-japanese.mcd", card::CardType::kPs1Raw, 3, 0, 3},
      {"d.gme", card::CardType::kPs1DexDrive, 2, 5, 7},
      {"e-raw-named-gme.gme", card::CardType::kPs1Raw, 1, 0, 14},
      {"f.vmp", card::CardType::kPs1Vmp, 7, 0, 1},
      {"g-unsigned.vmp", card::CardType::kPs1Vmp, 7, 0, 1},
      {"h.mcd", card::CardType::kPs1Raw, 1, 0, 12},
      {"i-mcx.bin", card::CardType::kPs1PocketStation, 1, 0, 14},
      {"j.vgs", card::CardType::kPs1Vgs, 3, 0, 11},
      {"k-hostile.mcd", card::CardType::kPs1Raw, 1, 0, 14},
      {"l-empty.mcd", card::CardType::kPs1Raw, 0, 0, 15},
  };
  for (const auto& r : rows) {
    auto c = OpenOrFail(folder + "/" + r.file);
    ASSERT_TRUE(c) << r.file;
    EXPECT_EQ(c->type(), r.type) << r.file;
    const card::Listing listing = c->List();
    const auto deleted = std::count_if(listing.saves.begin(), listing.saves.end(), [](const card::SaveInfo& s) { return s.deleted; });
    EXPECT_EQ(static_cast<int>(listing.saves.size() - static_cast<std::size_t>(deleted)), r.live) << r.file;
    EXPECT_EQ(deleted, r.deleted) << r.file;
    EXPECT_EQ(listing.freeBlocks, r.free) << r.file;
    // Only the unsigned copy and the hostile card have findings; every other save reads.
    const bool clean = std::string(r.file) != "g-unsigned.vmp" && std::string(r.file) != "k-hostile.mcd";
    EXPECT_EQ(c->issues().empty(), clean) << r.file;
    EXPECT_EQ(c->Damaged(), std::string(r.file) == "g-unsigned.vmp") << r.file;
    for (const card::SaveInfo& s : listing.saves) {
      if (s.deleted || !s.readable) continue;
      auto opened = c->OpenSave(s.folder);
      ASSERT_TRUE(opened.save) << r.file << " " << s.folder;
      EXPECT_EQ(ReadBlocksOf(*opened.save).size(), static_cast<std::size_t>(s.blocks) * 8192) << s.folder;
      EXPECT_TRUE(s.ps1Header) << s.folder;
    }
  }
}

TEST(Ps1CardCorpus, CrossChecksByteForByte) {
  REQUIRE_CORPUS(japanese, "ps1card/c-japanese.mcd");
  REQUIRE_CORPUS(mcs, "ps1save/a.mcs");
  REQUIRE_CORPUS(vmp, "ps1card/f.vmp");
  REQUIRE_CORPUS(raw, "ps1save/c-raw/BASLUS-00958GS2-7");
  REQUIRE_CORPUS(mcx, "ps1card/i-mcx.bin");
  REQUIRE_CORPUS(vgs, "ps1card/j.vgs");
  // a.mcs is the first save of the Japanese card with its directory frame.
  auto c = OpenOrFail(japanese);
  ASSERT_TRUE(c);
  auto first = c->OpenSave("BISLPS-01416-DIAB-01");
  ASSERT_TRUE(first.save);
  const ps1::DirFrame frame = ps1::FrameFor(*first.save);
  Bytes framed(frame.bytes.begin(), frame.bytes.end());
  const Bytes blocks = ReadBlocksOf(*first.save);
  framed.insert(framed.end(), blocks.begin(), blocks.end());
  EXPECT_EQ(framed, testutil::ReadFile(mcs));
  EXPECT_EQ(c->List().saves.front().chain, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  // The raw save is one of the PSP card's.
  auto psp = OpenOrFail(vmp);
  ASSERT_TRUE(psp);
  auto seventh = psp->OpenSave("BASLUS-00958GS2-7");
  ASSERT_TRUE(seventh.save);
  EXPECT_EQ(ReadBlocksOf(*seventh.save), testutil::ReadFile(raw));
  // The PocketStation card holds the VGS card's first save.
  auto pocket = OpenOrFail(mcx);
  auto vgsCard = OpenOrFail(vgs);
  ASSERT_TRUE(pocket && vgsCard);
  const std::string ff9 = "BASLUS-0125100000-00";
  auto a = pocket->OpenSave(ff9), b = vgsCard->OpenSave(ff9);
  ASSERT_TRUE(a.save && b.save);
  EXPECT_EQ(ReadBlocksOf(*a.save), ReadBlocksOf(*b.save));
  EXPECT_EQ(vgsCard->List().saves.front().folder, ff9);
}

TEST(Ps1CardCorpus, SignaturesAndTheDexDriveSaves) {
  REQUIRE_CORPUS(signedVmp, "ps1card/f.vmp");
  REQUIRE_CORPUS(unsignedVmp, "ps1card/g-unsigned.vmp");
  REQUIRE_CORPUS(gme, "ps1card/d.gme");
  card::Ps1CardFile file;
  ASSERT_EQ(card::ReadPs1CardFile(signedVmp, file), card::Ps1ReadResult::kRead);
  EXPECT_TRUE(file.verified);
  ASSERT_EQ(card::ReadPs1CardFile(unsignedVmp, file), card::Ps1ReadResult::kRead);
  EXPECT_FALSE(file.verified);
  auto c = OpenOrFail(gme);
  ASSERT_TRUE(c);
  const card::Listing listing = c->List();
  ASSERT_TRUE(Find(listing, "BASCUS-94194GT"));
  EXPECT_EQ(Find(listing, "BASCUS-94194GT")->chain, (std::vector<int>{7, 8, 10, 11, 12}));
  ASSERT_TRUE(Find(listing, "BASLUS-00495WARZONE", true));
  EXPECT_EQ(Find(listing, "BASLUS-00495WARZONE", true)->chain, (std::vector<int>{3, 5}));
}

TEST(Ps1CardCorpus, EachFileIsWrittenBackAsItWasRead) {
  REQUIRE_CORPUS(empty, "ps1card/l-empty.mcd");
  const std::string folder = std::filesystem::path(empty).parent_path().string();
  // Encrypted, signed and plain files alike: the same card gives the same bytes. (d.gme's
  // copies of the directory disagree with it and are refreshed: only they may change.)
  for (const char* name : {"a.mcd", "f.vmp", "i-mcx.bin", "j.vgs", "e-raw-named-gme.gme", "d.gme"}) {
    const Bytes original = testutil::ReadFile(folder + "/" + name);
    card::Ps1CardFile file;
    ASSERT_EQ(card::ParsePs1CardFile(original, file), card::Ps1ReadResult::kRead) << name;
    const auto written = card::Ps1FileBytes(file);
    ASSERT_TRUE(written) << name;
    ASSERT_EQ(written->size(), original.size()) << name;
    for (std::size_t i = 0; i < original.size(); ++i) {
      const bool copies = std::string(name) == "d.gme" && i >= 0x16 && i < 0x35;
      if (!copies) {
        ASSERT_EQ((*written)[i], original[i]) << name << " at " << i;
      }
    }
  }
}

TEST(Ps1CardCorpus, EverySaveGoesOntoAnEmptyCardOfEachKindAndBack) {
  REQUIRE_CORPUS(empty, "ps1card/l-empty.mcd");
  const std::string folder = std::filesystem::path(empty).parent_path().string();
  testutil::TempDir dir{testutil::FastTempBase()};
  int copied = 0;
  for (card::Ps1FileKind kind : kKinds) {
    for (const char* source : {"a.mcd", "b.mcd", "c-japanese.mcd", "d.gme", "f.vmp", "h.mcd", "i-mcx.bin", "j.vgs"}) {
      auto from = OpenOrFail(folder + "/" + source);
      ASSERT_TRUE(from);
      const std::string target = dir.File("card." + std::string(card::Ps1KindKey(kind)));
      ASSERT_EQ(card::FormatPs1Card(target, kind, true), card::FormatResult::kFormatted);
      auto to = OpenOrFail(target);
      ASSERT_TRUE(to);
      for (const card::SaveInfo& s : from->List().saves) {
        if (s.deleted) continue;
        auto save = from->OpenSave(s.folder);
        ASSERT_TRUE(save.save) << source << " " << s.folder;
        ASSERT_EQ(to->Import(*save.save).result, card::ImportResult::kImported) << source << " " << s.folder;
        auto back = to->OpenSave(s.folder);
        ASSERT_TRUE(back.save) << s.folder;
        EXPECT_EQ(ReadBlocksOf(*back.save), ReadBlocksOf(*save.save)) << source << " " << s.folder;
        // The frame comes along whole, but for the link to the next block, which is the card's own.
        EXPECT_EQ(Unlinked(ps1::FrameFor(*back.save)), Unlinked(ps1::FrameFor(*save.save))) << source << " " << s.folder;
        ++copied;
      }
      EXPECT_TRUE(to->Check().empty()) << source;
      EXPECT_EQ(to->List().freeBlocks, from->List().freeBlocks) << source;
    }
  }
  EXPECT_EQ(copied, 5 * 32);
}

// Every real save, from the cards and the single-save files, written in each PS1 family,
// read back, put on an empty card of each kind and taken off it into the same family: the
// same blocks, and the same file.
TEST(Ps1CardCorpus, EverySaveThroughEveryFamilyOntoEveryKindAndBack) {
  REQUIRE_CORPUS(empty, "ps1card/l-empty.mcd");
  const std::filesystem::path corpus = std::filesystem::path(empty).parent_path().parent_path();
  testutil::TempDir dir{testutil::FastTempBase()};
  // The saves: every live save of the cards, and every single-save file.
  std::vector<std::unique_ptr<CSaveGame>> saves;
  std::vector<std::unique_ptr<card::Card>> cards;
  for (const char* name : {"a.mcd", "b.mcd", "c-japanese.mcd", "d.gme", "f.vmp", "h.mcd", "i-mcx.bin", "j.vgs"}) {
    cards.push_back(OpenOrFail((corpus / "ps1card" / name).string()));
    ASSERT_TRUE(cards.back());
    for (const card::SaveInfo& s : cards.back()->List().saves)
      if (!s.deleted) saves.push_back(std::move(cards.back()->OpenSave(s.folder).save));
  }
  for (const char* name : {"ps1save/a.mcs", "ps1save/b.mcs", "ps1save/c-raw/BASLUS-00958GS2-7",
                           "ps1save/c-raw/BESLES-04095XSMOTO", "ps1save/d.psv", "ps1save/e-tool.psv", "psv/j-ps1.psv"}) {
    const std::string path = (corpus / name).string();
    const FormatFamily* family = FamilyToOpen(path);
    ASSERT_TRUE(family) << name;
    saves.push_back(family->create());
    ASSERT_EQ(saves.back()->Load(path), LoadResult::kOk) << name;
  }
  ASSERT_EQ(saves.size(), 39u);
  std::filesystem::create_directories(dir.File("one"));
  std::filesystem::create_directories(dir.File("two"));
  int roundTrips = 0;
  for (const char* familyName : {"mcs", "psv", "psx", "raw"}) {
    const FormatFamily& family = *FamilyNamed(familyName);
    for (card::Ps1FileKind kind : kKinds) {
      const std::string cardPath = dir.File("card." + std::string(card::Ps1KindKey(kind)));
      std::unique_ptr<card::Card> target;
      for (std::size_t i = 0; i < saves.size(); ++i) {
        CSaveGame& save = *saves[i];
        // A raw save's file name is its name on the card: each copy has a folder of its own.
        const std::string file = io::JoinPath(dir.File("one"), OutputName(family, save, "x-" + std::to_string(i)));
        ASSERT_TRUE(WriteSaveAs(save, family, file).ok()) << familyName << " " << ps1::NameOf(save);
        std::unique_ptr<CSaveGame> loaded = family.create();
        ASSERT_EQ(loaded->Load(file), LoadResult::kOk) << familyName << " " << file;
        // The name comes along, except where a raw file can't have it as its own ("Matt..").
        const std::string name(ps1::NameOf(*loaded));
        // A fresh card whenever the save doesn't fit the one in use.
        if (!target || target->List().freeBlocks * 8192 < static_cast<int>(ReadBlocksOf(save).size()) ||
            Find(target->List(), name)) {
          ASSERT_EQ(card::FormatPs1Card(cardPath, kind, true), card::FormatResult::kFormatted);
          target = OpenOrFail(cardPath);
          ASSERT_TRUE(target);
        }
        ASSERT_EQ(target->Import(*loaded).result, card::ImportResult::kImported) << familyName << " " << name;
        auto back = target->OpenSave(name);
        ASSERT_TRUE(back.save) << name;
        EXPECT_EQ(ReadBlocksOf(*back.save), ReadBlocksOf(save)) << familyName << " " << name;
        const std::string again = io::JoinPath(dir.File("two"), OutputName(family, save, "x-" + std::to_string(i)));
        ASSERT_TRUE(WriteSaveAs(*back.save, family, again).ok()) << familyName << " " << name;
        EXPECT_EQ(testutil::ReadFile(again).size(), testutil::ReadFile(file).size()) << familyName << " " << name;
        if (family.name != "mcs") {
          EXPECT_EQ(testutil::ReadFile(again), testutil::ReadFile(file)) << familyName << " " << name;
        } else {
          // The frame comes along, its link to the next block that of the card it was last on.
          Bytes a = testutil::ReadFile(again), b = testutil::ReadFile(file);
          for (Bytes* bytes : {&a, &b}) std::fill(bytes->begin() + 8, bytes->begin() + 10, 0), (*bytes)[127] = 0;
          EXPECT_EQ(a, b) << familyName << " " << name;
        }
        ++roundTrips;
      }
    }
  }
  EXPECT_EQ(roundTrips, 4 * 5 * 39);
}
