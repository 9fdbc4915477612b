#include "model/save_game.h"

#include <limits>
#include <new>
#include <utility>

#include "io/file.h"
#include "model/icon_sys.h"

LoadResult Finished(io::Committed committed) {
  switch (committed) {
    case io::Committed::kWritten: return LoadResult::kOk;
    case io::Committed::kWrittenInPlace: return LoadResult::kSavedInPlace;
    case io::Committed::kReplaceFailed: return LoadResult::kReplaceFailed;
    case io::Committed::kFailed: break;
  }
  return LoadResult::kOpenFailed;
}

bool IsSameContainer(const std::string& target, const std::string& sourcePath) {
  return !sourcePath.empty() && (target == sourcePath || io::SameFile(target, sourcePath));
}

CSaveGame::~CSaveGame() = default;

LoadResult CSaveGame::Load(io::SourcePtr source, const LoadAnswers& answers) {
  refusal.clear();
  question.reset();
  if (!source) return LoadResult::kOpenFailed;
  answers_ = &answers;
  LoadResult result;
  try {
    result = Read(*source);
  } catch (const std::bad_alloc&) {
    result = LoadResult::kNoMemory;
  }
  answers_ = nullptr;
  if (result != LoadResult::kOk) return result;
  container = std::move(source);
  sourcePath = container->path();
  TakeTitle();
  return result;
}

LoadResult CSaveGame::Load(const std::string& path, const LoadAnswers& answers) {
  refusal.clear();
  question.reset();
  io::SourcePtr source = io::OpenSource(path);
  if (!source) return LoadResult::kOpenFailed;
  const LoadResult result = Load(source, answers);
  source->Release();
  return result;
}

LoadResult CSaveGame::Save(io::ByteSink& out) {
  refusal.clear();
  return Write(out);
}

LoadResult CSaveGame::Save(const std::string& path) {
  refusal.clear();
  const bool inPlace = IsSameContainer(path, sourcePath);
  io::OutputFile out(path, inPlace);
  // The container read from is replaced: let it go first where an open file can't be.
  if (inPlace && container) out.ReleaseBeforeReplacing(container);
  if (!out.ok()) return LoadResult::kOpenFailed;
  return Write(out);
}

LoadResult CSaveGame::WriteConvertedFrom(const CSaveGame& source, io::ByteSink& out) {
  refusal.clear();
  return WriteConverted(source, out);
}

LoadResult CSaveGame::WriteConvertedFrom(const CSaveGame& source, const std::string& path) {
  refusal.clear();
  io::OutputFile out(path, /*inPlace=*/false);
  if (IsSameContainer(path, source.sourcePath) && source.container) out.ReleaseBeforeReplacing(source.container);
  if (!out.ok()) return LoadResult::kOpenFailed;
  return WriteConverted(source, out);
}

LoadResult CSaveGame::Read(const io::ByteSource&) { return LoadResult::kInvalid; }
LoadResult CSaveGame::Write(io::ByteSink&) { return LoadResult::kInvalid; }
LoadResult CSaveGame::WriteConverted(const CSaveGame&, io::ByteSink&) { return LoadResult::kInvalid; }

void CSaveGame::TakeTitle() {
  if (!entries || entries->empty()) return;
  if (!ReadRawTitle()) return;
  SaveEntry& root = entries->front();
  TitleToAscii(root.rawTitle, root.title);
}

bool CSaveGame::ReadRawTitle() {
  ReadIconSysTitle(*this, entries->front().rawTitle);
  return true;
}

std::optional<bool> CSaveGame::Answer(std::string_view text, std::string_view caption) {
  if (answers_) {
    auto it = answers_->find(text);
    if (it != answers_->end()) return it->second;
  }
  question = LoadQuestion{std::string(text), std::string(caption)};
  return std::nullopt;
}

LoadResult LoadWithAnswers(CSaveGame& save, const io::SourcePtr& source,
                           const std::function<bool(const LoadQuestion&)>& answer) {
  LoadAnswers answers;
  LoadResult result = save.Load(source, answers);
  while (result == LoadResult::kNeedsAnswer && save.question && !answers.count(save.question->text)) {
    answers[save.question->text] = answer(*save.question);
    result = save.Load(source, answers);
  }
  return result;
}

std::unique_ptr<SaveStreamWriter> CSaveGame::StreamWriter(const std::string&) { return nullptr; }
std::optional<LoadResult> CSaveGame::LoadInto(const io::ByteSource&, SaveStreamWriter&, const LoadAnswers&) {
  return std::nullopt;
}

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
