// A memory card from hostile bytes: open, list, open and convert every save, check; and on
// a card that opened without damage, an import (across FAT clusters) and a removal that must leave a card that
// opens with the save readable. The input is the compact form of support/card_patches.h.
#include <cstdlib>
#include <memory>

#include "card/card.h"
#include "card/card_messages.h"
#include "fuzz_support.h"
#include "io/file.h"
#include "model/save_game.h"
#include "support/card_patches.h"
#include "support/exercise.h"

namespace {

// A save to import, held in memory: 300 KB, so that on a card with little on it the import
// takes clusters past the 256 the first FAT cluster describes and writes to two of them.
const CGeneric& SmallSave() {
  static const std::unique_ptr<CGeneric> save = [] {
    auto made = std::make_unique<CGeneric>();
    CGeneric& s = *made;
    s.entries.emplace(2);
    SaveEntry& root = (*s.entries)[0];
    root.mode = EntryMode::kNewDirectory;
    root.size = 3;
    SetField(root.name, "BESLES-FUZZ", kNameChars);
    SaveEntry& file = (*s.entries)[1];
    file.mode = EntryMode::kNewFile;
    file.size = 300 * 1024;
    SetField(file.name, "DATA", kNameChars);
    file.source = InMemory{std::vector<std::uint8_t>(file.size, 0x5A)};
    return made;
  }();
  return *save;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::WriteInput(testutil::CardFromPatches({data, size}), "card.ps2");
  fuzz::Require(testutil::CheckOutcome(testutil::OpenCardAndConvert(path, fuzz::ScratchDir())), "card");

  card::OpenedCard opened = card::OpenCard(path);
  if (opened.card && !opened.card->Damaged()) {
    const card::ImportOutcome o = opened.card->Import(SmallSave());
    if (o.result == card::ImportResult::kImported) {
      card::OpenedCard after = card::OpenCard(path);
      if (!after.card) fuzz::Require("the card does not open after an import", "import");
      if (after.card->OpenSave("BESLES-FUZZ").result != card::OpenSaveResult::kOpened)
        fuzz::Require("the imported save does not open", "import");
      if (after.card->Remove("BESLES-FUZZ") != card::RemoveResult::kRemoved)
        fuzz::Require("the imported save can't be removed", "remove");
    } else if (o.result != card::ImportResult::kNoSpace && o.result != card::ImportResult::kAlreadyOnCard) {
      fuzz::Require("import of a small save into an undamaged card: " + card::messages::ImportMessage(o), "import");
    }
  }
  io::RemoveFile(path);
  return 0;
}
