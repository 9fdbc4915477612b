#include "sd/saves.h"

#include <map>
#include <tuple>
#include <vector>

#include "model/entry_data.h"
#include "sd/game_id.h"

namespace sd {

namespace {

// Every file's bytes by name; false when one can't be read.
bool ReadFiles(const CSaveGame& save, std::map<std::string, std::vector<std::uint8_t>>& files) {
  for (int i = 0; i < save.FileCount(); ++i) {
    const SaveEntry* e = save.EntryAt(i);
    if (!e || ReadEntryData(*e, save.container.get(), files[std::string(e->Name())]) != DataResult::kOk) return false;
  }
  return true;
}

}  // namespace

bool SameFiles(const CSaveGame& a, const CSaveGame& b) {
  const SaveEntry* rootA = a.EntryAt(-1);
  const SaveEntry* rootB = b.EntryAt(-1);
  if (!rootA || !rootB || rootA->Name() != rootB->Name() || a.FileCount() != b.FileCount()) return false;
  std::map<std::string, std::vector<std::uint8_t>> filesA, filesB;
  return ReadFiles(a, filesA) && ReadFiles(b, filesB) && filesA == filesB;
}

int CompareTimes(const EntryTime& a, const EntryTime& b) {
  const auto key = [](const EntryTime& t) { return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second); };
  return key(a) < key(b) ? -1 : key(b) < key(a) ? 1 : 0;
}

SaveKind KindOf(std::string_view folder) {
  if (IsSystemFolder(folder)) return SaveKind::kSystem;
  return ProductCodeOf(folder).empty() ? SaveKind::kUnsorted : SaveKind::kGame;
}

}  // namespace sd
