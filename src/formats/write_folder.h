// A save written as a plain folder of PC files, the way a PS2 file manager copies one off
// a memory card: one PC file per file of the save, under a name that is safe on a PC.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/save_game.h"

enum class FolderFileOutcome { kWritten, kExists, kCannotRead, kCannotWrite };

struct FolderFile {
  std::string name;  // the file's name in the save, all of its up to 32 characters
  std::string path;  // the PC file it goes to
  bool renamed = false;  // the PC file's name had to differ from `name`
  FolderFileOutcome outcome = FolderFileOutcome::kWritten;
};

struct FolderWrite {
  bool folderMade = false;  // false: the folder could not be made, and nothing was written
  std::vector<FolderFile> files;

  bool ok() const;
};

// Writes every file of `save` into `dir`, made when missing, under safe and distinct
// names. A file already there is kept unless `overwrite`. With `applyTimes`, each file
// gets its entry's modification time and, last, `dir` the save folder's.
FolderWrite WriteSaveFiles(const CSaveGame& save, const std::string& dir, bool overwrite, bool applyTimes);

// Writes one entry's bytes as the PC file `path`, through a temporary file, so that a path
// that is also the entry's own source is read whole before it is replaced.
FolderFileOutcome WriteEntryFile(const CSaveGame& save, const SaveEntry& entry, const std::string& path);

// The program's words for a file that was not written; empty for kWritten.
std::string_view FolderFileMessage(FolderFileOutcome outcome);

// Sets the modification time of a file or folder to the instant a save's time names (the
// console's clock, Japan time), whatever the PC's time zone. False when the time is no
// calendar time or the system refuses.
bool SetModifiedTime(const std::string& path, const EntryTime& time);
