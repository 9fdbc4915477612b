#include "formats/write_folder.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "formats/messages.h"
#include "formats/output_file.h"
#include "io/file.h"
#include "io/safe_name.h"
#include "model/entry_data.h"

bool FolderWrite::ok() const {
  if (!folderMade) return false;
  for (const FolderFile& f : files)
    if (f.outcome != FolderFileOutcome::kWritten) return false;
  return true;
}

FolderFileOutcome WriteEntryFile(const CSaveGame& save, const SaveEntry& entry, const std::string& path) {
  OutputFile out(path, /*inPlace=*/false);
  if (!out.ok()) return FolderFileOutcome::kCannotWrite;
  DataResult r = CopyEntryData(entry, save.sourcePath, [&out](std::span<const std::uint8_t> piece) {
    return out.Write(piece);
  });
  if (r == DataResult::kOpenFailed || r == DataResult::kShort) {
    out.Fail();
    out.Commit();
    return FolderFileOutcome::kCannotRead;
  }
  if (r != DataResult::kOk || out.Commit() != LoadResult::kOk) return FolderFileOutcome::kCannotWrite;
  return FolderFileOutcome::kWritten;
}

FolderWrite WriteSaveFiles(const CSaveGame& save, const std::string& dir, bool overwrite, bool applyTimes) {
  FolderWrite result;
  std::error_code ec;
  std::filesystem::create_directories(io::ToFsPath(dir), ec);
  result.folderMade = std::filesystem::is_directory(io::ToFsPath(dir), ec);
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
  if (time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31 || time.hour > 23 ||
      time.minute > 59 || time.second > 59 || time.year < 1970)
    return false;
  std::tm local{};
  local.tm_year = time.year - 1900;
  local.tm_mon = time.month - 1;
  local.tm_mday = time.day;
  local.tm_hour = time.hour;
  local.tm_min = time.minute;
  local.tm_sec = time.second;
  local.tm_isdst = -1;
  std::time_t t = std::mktime(&local);
  if (t == static_cast<std::time_t>(-1)) return false;
  auto file = std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(t));
  std::error_code ec;
  std::filesystem::last_write_time(io::ToFsPath(path), file, ec);
  return !ec;
}
