// A PS2 Classics card (.VME) from hostile bytes: opened, listed, every save converted and the
// card checked; on a card without damage, an import after which the file must decrypt
// under the same key with every hash right and hold the save. An 8 MB .VME is too large to
// mutate: the input is the compact card form of support/card_patches.h, its first byte
// choosing what is patched: 0 the card, encrypted with the retail key; 1 the same with the
// debug key; 2 the encrypted file of the fresh card (its segments then fail their hashes,
// or its first block decrypts under neither key).
#include <algorithm>

#include "card/card_messages.h"
#include "card/ps3_card.h"
#include "fuzz_support.h"
#include "io/file.h"
#include "model/bytes.h"
#include "model/save_game.h"
#include "support/card_patches.h"
#include "support/exercise.h"

namespace {

using testutil::Bytes;

Bytes FileFromInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  Bytes patches = size > 1 ? Bytes(data + 1, data + size) : Bytes{1};
  const std::uint8_t mode = data[0] % 3;
  const card::VmeKey key = mode == 1 ? card::VmeKey::kDebug : card::VmeKey::kRetail;
  if (mode < 2) {
    patches[0] |= 1;  // with ECC
    return card::EncryptVme(testutil::CardFromPatches(patches), key).value_or(Bytes{});
  }
  // The records (offset, length, bytes) over the fresh card's file, offsets modulo its size.
  static const Bytes fresh = card::EncryptVme(testutil::CardFromPatches(Bytes{1}), key).value_or(Bytes{});
  Bytes file = fresh;
  for (std::size_t at = 1; at + 6 <= patches.size() && !file.empty();) {
    const std::size_t offset = bytes::GetU32LE(patches.data() + at) % file.size();
    const std::size_t n = std::min<std::size_t>({bytes::GetU16LE(patches.data() + at + 4), patches.size() - at - 6, file.size() - offset});
    std::copy_n(patches.begin() + static_cast<std::ptrdiff_t>(at + 6), n, file.begin() + static_cast<std::ptrdiff_t>(offset));
    at += 6 + n;
  }
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::WriteInput(FileFromInput(data, size), "SCEVMC0.VME");
  fuzz::Require(testutil::CheckOutcome(testutil::OpenCardAndConvert(path, fuzz::ScratchDir())), "card");
  card::OpenedCard opened = card::OpenCard(path);
  if (opened.card && opened.card->type() == card::CardType::kPs3Vme && !opened.card->Damaged()) {
    CGeneric save;
    save.entries.emplace(2);
    (*save.entries)[0].mode = EntryMode::kNewDirectory;
    (*save.entries)[0].size = 3;
    SetField((*save.entries)[0].name, "BESLES-FUZZ", kNameChars);
    (*save.entries)[1].mode = EntryMode::kNewFile;
    (*save.entries)[1].size = 40000;
    SetField((*save.entries)[1].name, "DATA", kNameChars);
    (*save.entries)[1].source = InMemory{std::vector<std::uint8_t>(40000, 0x5A)};
    const card::VmeKey key = dynamic_cast<const card::VmeCard&>(*opened.card).key();
    const card::ImportOutcome o = opened.card->Import(save);
    if (o.result == card::ImportResult::kImported) {
      const card::DecryptedVme read = card::DecryptVme(*io::OpenSource(path));
      if (read.result != card::VmeReadResult::kDecrypted || read.key != key || !read.badSegments.empty())
        fuzz::Require("the written .VME does not decrypt under its key with every hash right", "import");
      card::OpenedCard after = card::OpenCard(path);
      if (!after.card || after.card->OpenSave("BESLES-FUZZ").result != card::OpenSaveResult::kOpened)
        fuzz::Require("the imported save does not open", "import");
    } else if (o.result != card::ImportResult::kNoSpace && o.result != card::ImportResult::kAlreadyOnCard) {
      fuzz::Require("import of a small save into an undamaged card: " + card::messages::ImportMessage(o), "import");
    }
  }
  io::RemoveFile(path);
  return 0;
}
