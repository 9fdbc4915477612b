// A time typed in the entry form of the Properties dialog, "DD-MM-YYYY HH:MM:SS", with the
// same two checks: every digit position holds a digit, and day <= 31, month <= 12,
// hour <= 23, minute and second <= 59 (each on its lowest 8 bits; no lower bounds, no
// calendar check; the year keeps its lowest 16 bits).
#pragma once

#include <string_view>

#include "model/entry.h"

namespace cli {

enum class TimeEntryResult { kOk, kBlanks, kInvalid };

inline constexpr std::string_view kTimeEntryMask = "##-##-#### ##:##:##";

TimeEntryResult ParseTimeEntry(std::string_view text, EntryTime& time);

// The dialog's warning for a refused entry.
std::string_view TimeEntryMessage(TimeEntryResult result);

}  // namespace cli
