// The texts that the file commands show, shared by the dialog program and the command
// line: the message for each LoadResult, the size text of the file list, and the few
// fixed messages around opening, saving, adding and extracting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace messages {

inline constexpr std::string_view kErrorCaption = "Error";
inline constexpr std::string_view kUnknownFileType = "Unknown file type";
inline constexpr std::string_view kCannotWriteFile = "Cannot write file";
inline constexpr std::string_view kCannotReadFile = "Cannot read file";
inline constexpr std::string_view kNoValidIconSys = "No valid icon.sys";
inline constexpr std::string_view kFileExistsCaption = "File exists";

// The message after a failed Load (every result other than 1).
std::string_view LoadResultMessage(int result);

// The message after Save or WriteConverted: "Error opening file" for 0, the replace
// failure for -4, and nothing (empty) for every other result, which the dialog program
// passes over in silence.
std::string_view SaveResultMessage(int result);

// "File \"NAME\" already exists. Do you want to replace it?"
std::string FileExistsQuestion(std::string_view entryName);

}  // namespace messages

// A byte count as the file list shows it: below 1024 in "B", from 1048576 on in "MB",
// else in "kB", kept to two decimals and printed with "%g" (964 B, 1.5 kB, 976.56 kB,
// 1024 kB, 5 MB).
std::string FormatSize(std::uint32_t bytes);
