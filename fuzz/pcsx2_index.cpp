// A PCSX2 folder card's _pcsx2_index from hostile bytes: the input stands as the index of a
// save folder on a card made by the program, and the card is opened, listed, every save
// opened and converted, and checked, as the card window and `card` commands do. Whatever
// the index says, the save's files are all there in some order, with times the card can
// hold.
//
// The text is also parsed on its own: an index that reads is written as this program
// writes one, and that reads back to the same records.
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "card/card.h"
#include "card/folder_card.h"
#include "card/pcsx2_index.h"
#include "fuzz_support.h"
#include "io/file.h"
#include "model/save_game.h"
#include "support/exercise.h"

namespace {

constexpr std::string_view kFolder = "BESLES-FUZZ";

// The save's files: one name is quoted in the index, one gets a meta file. They are the
// files fuzz/seeds/make_seeds.cpp writes an index for.
struct File {
  const char* name;
  std::uint32_t mode;
  std::uint32_t size;
};
constexpr File kFiles[] = {{"icon.sys", EntryMode::kNewFile, 964}, {"DATA.BIN", EntryMode::kNewFile, 3000},
                          {"it's a:b", 0x8417, 10}};

std::unique_ptr<CGeneric> MakeSave() {
  auto save = std::make_unique<CGeneric>();
  save->entries.emplace(std::size(kFiles) + 1);
  SaveEntry& root = (*save->entries)[0];
  root.mode = EntryMode::kNewDirectory;
  root.size = static_cast<std::uint32_t>(std::size(kFiles) + 2);
  SetField(root.name, kFolder, kNameChars);
  for (std::size_t i = 0; i < std::size(kFiles); ++i) {
    SaveEntry& e = (*save->entries)[i + 1];
    e.mode = kFiles[i].mode;
    e.size = kFiles[i].size;
    SetField(e.name, kFiles[i].name, kNameChars);
    e.source = InMemory{std::vector<std::uint8_t>(e.size, static_cast<std::uint8_t>(0x40 + i))};
  }
  return save;
}

// A folder card with the save on it, made once; returns the card's path.
const std::string& CardPath() {
  static const std::string path = [] {
    const std::string card = io::JoinPath(fuzz::ScratchDir(), "Mcd001.ps2");
    if (card::FormatFolderCard(card, {}) != card::FormatResult::kFormatted) fuzz::Require("no folder card", "setup");
    card::OpenedCard opened = card::OpenCard(card);
    if (!opened.card || opened.card->Import(*MakeSave()).result != card::ImportResult::kImported)
      fuzz::Require("the save can't be put on the folder card", "setup");
    return card;
  }();
  return path;
}

bool SameRecords(const card::FolderIndex& a, const card::FolderIndex& b) {
  if (a.records.size() != b.records.size()) return false;
  for (std::size_t i = 0; i < a.records.size(); ++i) {
    const card::IndexRecord &x = a.records[i], &y = b.records[i];
    if (x.name != y.name || x.order != y.order || x.created != y.created || x.modified != y.modified) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (const std::optional<card::FolderIndex> index = card::ParseFolderIndex(text)) {
    const std::string written = card::WriteFolderIndex(*index);
    const std::optional<card::FolderIndex> again = card::ParseFolderIndex(written);
    if (!again || !SameRecords(*index, *again)) fuzz::Require("written as " + written + " it reads otherwise", "index");
  }

  const std::string& card = CardPath();
  const std::string indexPath = io::JoinPath(io::JoinPath(card, kFolder), card::kFolderIndex);
  io::File out = io::File::OpenWrite(indexPath);
  if (!out || !out.Write(data, size) || !out.Close()) fuzz::Require("the index can't be written", "setup");
  const testutil::LoadOutcome outcome = testutil::OpenCardAndConvert(card, fuzz::ScratchDir());
  fuzz::Require(testutil::CheckOutcome(outcome), "card");

  // The index only orders the files and dates them: the save opens with every file.
  card::OpenedCard opened = card::OpenCard(card);
  card::OpenedSave save = opened.card ? opened.card->OpenSave(kFolder) : card::OpenedSave{};
  if (save.result != card::OpenSaveResult::kOpened) {
    fuzz::Require("the save does not open", "card");
    return 0;
  }
  std::set<std::string> names, expected;
  for (std::size_t i = 1; i < save.save->entries->size(); ++i) names.insert(std::string((*save.save->entries)[i].Name()));
  for (const File& f : kFiles) expected.insert(f.name);
  if (names != expected) fuzz::Require("the save's files changed", "card");
  return 0;
}
