// Times on a card are the console's clock (model/console_clock.h): Japan time, shown and
// kept as stored. PCSX2 folder cards store them in their index as integers: the card's
// own fields read as if they were UTC (timegm), which is the real Unix time plus 32,400
// seconds.
#pragma once

#include <cstdint>

#include "model/console_clock.h"
#include "model/entry.h"

namespace card {

inline constexpr std::int64_t kJapanOffsetSeconds = kConsoleClockOffset;

// The card's fields as seconds since 1970-01-01 00:00 read as UTC.
std::int64_t CardTimeToSeconds(const EntryTime& time);
// The reverse; years outside 1..65535 are clamped.
EntryTime SecondsToCardTime(std::int64_t seconds);

// The time a console would stamp now (EntryTime::Now).
EntryTime JapanNow();

// True when a time holds no date (a source format without times).
inline bool IsUnset(const EntryTime& t) { return t.year == 0 || t.month == 0 || t.day == 0; }

}  // namespace card
