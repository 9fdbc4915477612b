#include "formats/messages.h"

#include <cstdio>

#include "model/save_game.h"

namespace messages {


std::string_view LoadResultMessage(int result) {
  // Any number can arrive here, so the switch is on the enum made from it: a value that
  // names no result falls to the default.
  switch (static_cast<LoadResult>(result)) {
    case LoadResult::kOpenFailed: return "Error opening file";
    case LoadResult::kNotDirectory: return "Cannot load file. First entry is not a directory";
    case LoadResult::kInvalid: return "Format of the file you are trying to open is not valid";
    case LoadResult::kNoMemory: return "Not enough memory to create buffers";
    default: return "Unexpected error";
  }
}

std::string LoadFailureMessage(const CSaveGame& save, LoadResult result) {
  if (!save.refusal.empty()) return save.refusal;
  // A load left unanswered: what it needs to know.
  if (result == LoadResult::kNeedsAnswer && save.question) return save.question->text;
  return std::string(LoadResultMessage(result));
}

std::string_view SaveResultMessage(int result) {
  switch (static_cast<LoadResult>(result)) {
    case LoadResult::kOpenFailed: return "Error opening file";
    case LoadResult::kReplaceFailed:
      return "There was a problem when deleting/reneming file. You can still access copy of your "
             "file.";
    case LoadResult::kOk:
    case LoadResult::kSavedInPlace: return {};
    case LoadResult::kNoMemory: return "Not enough memory to create buffers";
    default: return "Unexpected error";
  }
}

std::string FileExistsQuestion(std::string_view entryName) {
  std::string text = "File \"";
  text.append(entryName);
  text += "\" already exists. Do you want to replace it?";
  return text;
}

std::string TooManyFilesRefusal(std::string_view noun) {
  return "This " + std::string(noun) + " holds more files than a save folder can (" +
         std::to_string(kMaxSaveFiles) + ")";
}

}  // namespace messages

std::string FormatSize(std::uint32_t bytes) {
  double value = bytes;
  const char* unit = "kB";
  if (bytes < 1024) {
    unit = "B";
  } else if (bytes >= 1048576) {
    value = value / 1048576.0;
    unit = "MB";
  } else {
    value = value / 1024.0;
  }
  // Two decimals, rounded half up: 1048575 bytes is 1023.999 kB and shows as 1024 kB.
  double hundredths = static_cast<double>(static_cast<long long>(value * 100.0 + 0.5));
  value = hundredths / 100.0;
  char text[32];
  std::snprintf(text, sizeof text, "%g %s", value, unit);
  return text;
}

std::string FormatMode(std::uint32_t mode) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(mode));
  return text;
}
