// The texts that the file commands show, shared by the dialog program and the command
// line: the message for each LoadResult, the size text of the file list, and the few
// fixed messages around opening, saving, adding and extracting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/save_game.h"

namespace messages {

inline constexpr std::string_view kErrorCaption = "Error";
inline constexpr std::string_view kUnknownFileType = "Unknown file type";
inline constexpr std::string_view kCannotWriteFile = "Cannot write file";
inline constexpr std::string_view kCannotReadFile = "Cannot read file";
inline constexpr std::string_view kNoValidIconSys = "No valid icon.sys";
inline constexpr std::string_view kFileExistsCaption = "File exists";

// The message after a failed Load (every result other than 1).
std::string_view LoadResultMessage(int result);
inline std::string_view LoadResultMessage(LoadResult r) { return LoadResultMessage(ResultCode(r)); }

// The message after a failed Load of `save`: its refusal when it gave one, else the
// result's message.
std::string LoadFailureMessage(const CSaveGame& save, LoadResult result);

// The message after Save or WriteConverted: empty for success (kOk, and kSavedInPlace),
// "Error opening file" for kOpenFailed, the replace failure for kReplaceFailed, and for
// anything else the memory message (kNoMemory) or "Unexpected error", so that no failure
// passes as success.
std::string_view SaveResultMessage(int result);
inline std::string_view SaveResultMessage(LoadResult r) { return SaveResultMessage(ResultCode(r)); }

// "File \"NAME\" already exists. Do you want to replace it?"
std::string FileExistsQuestion(std::string_view entryName);

// A loader's refusal of a file (`noun`: "CodeBreaker file") that claims more files than a
// save folder holds (kMaxSaveFiles).
std::string TooManyFilesRefusal(std::string_view noun);

}  // namespace messages

// A byte count as the file list shows it: below 1024 in "B", from 1048576 on in "MB",
// else in "kB", kept to two decimals and printed with "%g" (964 B, 1.5 kB, 976.56 kB,
// 1024 kB, 5 MB).
std::string FormatSize(std::uint32_t bytes);

// A mode word as the views show it: "0x%08X".
std::string FormatMode(std::uint32_t mode);
