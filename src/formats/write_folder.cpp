#include "formats/write_folder.h"

#include <system_error>

#include "formats/messages.h"
#include "io/output_file.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/safe_name.h"
#include "model/console_clock.h"
#include "model/entry_data.h"

bool FolderWrite::ok() const {
  if (!folderMade) return false;
  for (const FolderFile& f : files)
    if (f.outcome != FolderFileOutcome::kWritten) return false;
  return true;
}

FolderFileOutcome WriteEntryFile(const CSaveGame& save, const SaveEntry& entry, const std::string& path) {
  io::OutputFile out(path, /*inPlace=*/false);
  if (!out.ok()) return FolderFileOutcome::kCannotWrite;
  DataResult r = CopyEntryData(entry, save.container.get(), [&out](std::span<const std::uint8_t> piece) {
    return out.Write(piece);
  });
  if (r == DataResult::kOpenFailed || r == DataResult::kShort) {
    out.Fail();
    out.Commit();
    return FolderFileOutcome::kCannotRead;
  }
  if (r != DataResult::kOk || out.Commit() != io::Committed::kWritten) return FolderFileOutcome::kCannotWrite;
  return FolderFileOutcome::kWritten;
}

FolderWrite WriteSaveFiles(const CSaveGame& save, const std::string& dir, bool overwrite, bool applyTimes) {
  FolderWrite result;
  result.folderMade = io::MakeFolders(dir);
  if (!result.folderMade) return result;
  io::SafeNamer namer;
  for (int i = 0; i < save.FileCount(); ++i) {
    const SaveEntry& entry = *save.EntryAt(i);
    FolderFile& file = result.files.emplace_back();
    file.name = std::string(entry.FullName());
    file.path = io::JoinPath(dir, namer.Next(file.name));
    file.renamed = namer.changed();
    if (!overwrite && io::Exists(file.path)) {
      file.outcome = FolderFileOutcome::kExists;
      continue;
    }
    file.outcome = WriteEntryFile(save, entry, file.path);
    if (applyTimes && file.outcome == FolderFileOutcome::kWritten) SetModifiedTime(file.path, entry.modified);
  }
  // Last, since writing the files changed the folder's time.
  if (applyTimes) SetModifiedTime(dir, (*save.entries)[0].modified);
  return result;
}

std::string_view FolderFileMessage(FolderFileOutcome outcome) {
  switch (outcome) {
    case FolderFileOutcome::kWritten: return {};
    case FolderFileOutcome::kExists: return "exists, not overwritten";
    case FolderFileOutcome::kCannotRead: return messages::kCannotReadFile;
    case FolderFileOutcome::kCannotWrite: return messages::kCannotWriteFile;
  }
  return messages::kCannotWriteFile;
}

bool SetModifiedTime(const std::string& path, const EntryTime& time) {
  const std::optional<std::int64_t> instant = InstantOf(time);
  return instant && io::SetModifiedTime(path, *instant);
}
