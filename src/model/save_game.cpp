#include "model/save_game.h"

#include <limits>
#include <utility>

#include "io/file.h"

CSaveGame::~CSaveGame() = default;

LoadResult CSaveGame::Load(const std::string&) { return LoadResult::kInvalid; }
LoadResult CSaveGame::Save(const std::string&) { return LoadResult::kInvalid; }

LoadResult CSaveGame::WriteConvertedFrom(const CSaveGame&, const std::string&) { return LoadResult::kInvalid; }

std::unique_ptr<SaveStreamWriter> CSaveGame::StreamWriter(const std::string&) { return nullptr; }
std::optional<LoadResult> CSaveGame::LoadInto(const std::string&, SaveStreamWriter&) { return std::nullopt; }

int CSaveGame::FileCount() const {
  if (!entries || entries->empty()) return 0;
  return static_cast<int>(entries->size()) - 1;
}

SaveEntry* CSaveGame::EntryAt(int entryIndex) {
  return const_cast<SaveEntry*>(std::as_const(*this).EntryAt(entryIndex));
}

const SaveEntry* CSaveGame::EntryAt(int entryIndex) const {
  if (!entries || entryIndex < -1 || entryIndex >= FileCount()) return nullptr;
  return &(*entries)[static_cast<std::size_t>(entryIndex + 1)];
}

bool CSaveGame::ValidFileIndex(int fileIndex) const {
  return fileIndex >= 0 && fileIndex < FileCount();
}

void CSaveGame::SetName(int entryIndex, std::string_view text) {
  SaveEntry* e = EntryAt(entryIndex);
  if (!e) return;
  SetField(e->name, text, kNameChars);
  // The root's title is the icon.sys title; a file's title follows its name.
  if (entryIndex >= 0) {
    SetField(e->title, text, kNameChars);
    SetField(e->rawTitle, text, kNameChars);
  }
}

void CSaveGame::SetMode(int entryIndex, std::uint32_t mode) {
  if (SaveEntry* e = EntryAt(entryIndex)) e->mode = mode;
}

void CSaveGame::SetCreated(int entryIndex, const EntryTime& time) {
  if (SaveEntry* e = EntryAt(entryIndex)) e->created = time;
}

void CSaveGame::SetModified(int entryIndex, const EntryTime& time) {
  if (SaveEntry* e = EntryAt(entryIndex)) e->modified = time;
}

void CSaveGame::RemoveEntry(int fileIndex) {
  if (ValidFileIndex(fileIndex)) EraseFile(fileIndex);
}

bool CSaveGame::AddEntryFromDisk(const std::string& pcPath, std::string_view entryName) {
  if (!entries || entries->empty()) return false;
  auto size = MeasurePcFile(pcPath);
  if (!size) return false;
  AppendDiskEntry(pcPath, entryName, *size, EntryTime::Now());
  return true;
}

bool CSaveGame::ReplaceEntryFromDisk(const std::string& pcPath, int tablePosition) {
  if (!ValidFileIndex(tablePosition - 1)) return false;
  auto size = MeasurePcFile(pcPath);
  if (!size) return false;
  PointAtDisk((*entries)[static_cast<std::size_t>(tablePosition)], pcPath, *size);
  return true;
}

bool CSaveGame::Ask(const std::string& text, const std::string& caption) const {
  return question_ && question_(text, caption);
}

std::optional<std::uint32_t> CSaveGame::MeasurePcFile(const std::string& pcPath) {
  auto size = io::FileSize(pcPath);
  if (!size || *size > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(*size);
}

SaveEntry& CSaveGame::AppendDiskEntry(const std::string& pcPath, std::string_view entryName,
                                      std::uint32_t size, const EntryTime& now) {
  // The table has no spare room: build one a record longer and move the records over.
  EntryTable grown;
  grown.reserve(entries->size() + 1);
  for (SaveEntry& e : *entries) grown.push_back(std::move(e));
  SaveEntry& added = grown.emplace_back();
  added.size = size;
  added.mode = EntryMode::kNewFile;
  SetField(added.name, entryName, kNameChars);
  added.created = now;
  added.modified = now;
  added.source = FromDisk{pcPath};
  grown[0].size += 1;
  *entries = std::move(grown);
  return entries->back();
}

void CSaveGame::PointAtDisk(SaveEntry& entry, const std::string& pcPath, std::uint32_t size) {
  entry.size = size;
  entry.source = FromDisk{pcPath};
}

void CSaveGame::EraseFile(int fileIndex) {
  EntryTable shrunk;
  shrunk.reserve(entries->size() - 1);
  for (std::size_t pos = 0; pos < entries->size(); ++pos) {
    if (pos == static_cast<std::size_t>(fileIndex) + 1) continue;  // its bytes go with the old table
    shrunk.push_back(std::move((*entries)[pos]));
  }
  shrunk[0].size -= 1;
  *entries = std::move(shrunk);
}

bool CGeneric::AddEntryFromDisk(const std::string& pcPath, std::string_view entryName) {
  auto size = MeasurePcFile(pcPath);
  if (!size) return false;
  EntryTime now = EntryTime::Now();
  if (!entries || entries->empty()) {
    EntryTable table(1);
    SaveEntry& root = table[0];
    root.size = 2;
    root.mode = EntryMode::kNewDirectory;
    SetField(root.name, kUnnamedSave, kNameChars);
    root.created = now;
    root.modified = now;
    entries = std::move(table);
  }
  AppendDiskEntry(pcPath, entryName, *size, now);
  return true;
}
