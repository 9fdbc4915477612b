#include "cli/time_entry.h"

#include <cstdio>
#include <string>

namespace cli {

TimeEntryResult ParseTimeEntry(std::string_view text, EntryTime& time) {
  for (std::size_t i = 0; i < kTimeEntryMask.size(); ++i) {
    if (kTimeEntryMask[i] != '#') continue;
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return TimeEntryResult::kBlanks;
  }
  if (text.size() != kTimeEntryMask.size()) return TimeEntryResult::kInvalid;
  std::string copy(text);
  unsigned day, month, year, hour, minute, second;
  char tail;
  // The separators must be the mask's too: a text the scan doesn't read whole is refused.
  if (std::sscanf(copy.c_str(), "%u-%u-%u %u:%u:%u%c", &day, &month, &year, &hour, &minute,
                  &second, &tail) != 6)
    return TimeEntryResult::kInvalid;
  if ((day & 0xFF) > 31 || (month & 0xFF) > 12 || (hour & 0xFF) > 23 || (minute & 0xFF) > 59 ||
      (second & 0xFF) > 59)
    return TimeEntryResult::kInvalid;
  time = EntryTime{};
  time.second = static_cast<std::uint8_t>(second);
  time.minute = static_cast<std::uint8_t>(minute);
  time.hour = static_cast<std::uint8_t>(hour);
  time.day = static_cast<std::uint8_t>(day);
  time.month = static_cast<std::uint8_t>(month);
  time.year = static_cast<std::uint16_t>(year);
  return TimeEntryResult::kOk;
}

std::string_view TimeEntryMessage(TimeEntryResult result) {
  switch (result) {
    case TimeEntryResult::kBlanks: return "All blanks have to be filled with digits.\nOperation cancelled.";
    case TimeEntryResult::kInvalid: return "Invalid date/time format.\nOperation cancelled.";
    default: return {};
  }
}

}  // namespace cli
