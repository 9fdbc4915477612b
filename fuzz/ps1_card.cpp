// A PS1 card from hostile bytes: open, list, open and read every save, check; on a card that
// may be written, an import, a removal and a restore that must leave a card whose save reads
// back, and a repair after which no check byte or chain state is left wrong.
//
// The input's first byte chooses the file: 0-4 a card file of that kind (raw, DexDrive, VGS,
// .vmp, PocketStation) made around the rest of the input, read as the card's first bytes
// (the rest zero), signed or encrypted as a writer would; 5 the rest of the input as the file
// itself.
#include <algorithm>
#include <memory>

#include "card/card.h"
#include "card/card_messages.h"
#include "card/ps1/ps1_card.h"
#include "formats/ps1/ps1_save.h"
#include "fuzz_support.h"
#include "io/file.h"
#include "model/entry_data.h"

namespace {

std::vector<std::uint8_t> FileFromInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  if (data[0] % 6 == 5) return std::vector<std::uint8_t>(rest.begin(), rest.end());
  std::vector<std::uint8_t> cardBytes(card::kPs1CardBytes, 0);
  std::copy_n(rest.begin(), std::min(rest.size(), cardBytes.size()), cardBytes.begin());
  const auto kind = static_cast<card::Ps1FileKind>(data[0] % 6);
  return card::Ps1FileBytes(card::NewPs1CardFile(kind, std::move(cardBytes))).value_or(std::vector<std::uint8_t>{});
}

std::vector<std::uint8_t> ReadAll(const CSaveGame& save) {
  std::vector<std::uint8_t> bytes;
  if (ps1::ReadBlocks(save, bytes) != DataResult::kOk) fuzz::Require("a readable save's blocks can't be read", "read");
  return bytes;
}

void ReadEverySave(const card::Card& c) {
  const card::Listing listing = c.List();
  for (const card::SaveInfo& s : listing.saves) {
    if (s.blocks < 0 || s.blocks > 15 || s.chain.size() != static_cast<std::size_t>(s.blocks))
      fuzz::Require("a save of " + std::to_string(s.blocks) + " blocks", "list");
    if (s.deleted || !s.readable) continue;
    // A name two live saves share opens the first of them.
    const auto named = std::count_if(listing.saves.begin(), listing.saves.end(),
                                     [&](const card::SaveInfo& o) { return !o.deleted && o.folder == s.folder; });
    card::OpenedSave opened = c.OpenSave(s.folder);
    if (named > 1) continue;
    if (!opened.save) fuzz::Require("a readable save does not open", "open");
    if (ReadAll(*opened.save).size() != static_cast<std::size_t>(s.blocks) * card::kPs1BlockBytes)
      fuzz::Require("a save's bytes are not its blocks", "read");
  }
}

// An import, a removal and a restore on a card that may be written.
void ChangeCard(card::Card& c, const std::string& path) {
  const std::vector<std::uint8_t> blocks = [] {
    std::vector<std::uint8_t> b(card::kPs1BlockBytes, 0x5A);
    b[0] = 'S';
    b[1] = 'C';
    b[2] = 0x11;
    b[3] = 1;
    return b;
  }();
  CPs1Save save;
  save.Assign("BESLES-FUZZ", static_cast<std::uint32_t>(blocks.size()), InMemory{blocks}, nullptr, std::nullopt);
  const card::ImportOutcome o = c.Import(save);
  if (o.result != card::ImportResult::kImported) {
    if (o.result != card::ImportResult::kNoSpace && o.result != card::ImportResult::kAlreadyOnCard)
      fuzz::Require("import of a small save: " + card::messages::ImportMessage(o), "import");
    return;
  }
  card::OpenedCard after = card::OpenCard(path);
  if (!after.card) return fuzz::Require("the card does not open after an import", "import");
  card::OpenedSave back = after.card->OpenSave("BESLES-FUZZ");
  if (!back.save || ReadAll(*back.save) != blocks) fuzz::Require("the imported save does not read back", "import");
  if (after.card->Remove("BESLES-FUZZ") != card::RemoveResult::kRemoved) fuzz::Require("the save can't be removed", "remove");
  if (after.card->Restore("BESLES-FUZZ") != card::RestoreResult::kRestored) fuzz::Require("the save can't be restored", "restore");
}

void RepairCard(card::Card& c) {
  const card::RepairOutcome repaired = c.Repair();
  if (repaired.result != card::RepairResult::kRepaired) return;
  for (const card::Issue& i : repaired.remaining)
    if (i.kind == card::IssueKind::kBadCheck || i.kind == card::IssueKind::kBadBlockState)
      fuzz::Require("left after a repair: " + card::messages::IssueLine(i), "repair");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::WriteInput(FileFromInput(data, size), "card.mcd");
  card::OpenedCard opened = card::OpenCard(path);
  if (opened.card && card::IsPs1(opened.card->type())) {
    ReadEverySave(*opened.card);
    opened.card->Check();
    if (!opened.card->Damaged()) {
      RepairCard(*opened.card);
      ChangeCard(*opened.card, path);
    }
  }
  io::RemoveFile(path);
  return 0;
}
