// The console's clock. A PlayStation 2 keeps Japan time (UTC+9) whatever its region, and
// every time on a card and in a save file is a reading of that clock: shown and kept as
// stored. A PC file's time is an instant, seconds since 1970-01-01 00:00 UTC. Every
// crossing between the two (a file written from a save, a save made from PC files or the
// clock, a folder card's host files) goes through ConsoleTimeAt and InstantOf, so that
// both name the same moment whatever the PC's time zone.
#pragma once

#include <cstdint>
#include <optional>

#include "model/entry.h"

inline constexpr std::int64_t kConsoleClockOffset = 9 * 3600;  // Japan time, no summer time

// The fields as seconds since 1970-01-01 00:00, read as if they were UTC (what timegm()
// makes of them). A month outside 1..12 counts as the nearest one, day 0 as day 1.
std::int64_t FieldSeconds(const EntryTime& time);
// The reverse; years outside 1..65535 are clamped.
EntryTime FieldsFromSeconds(std::int64_t seconds);

// What the console's clock read at an instant.
EntryTime ConsoleTimeAt(std::int64_t instant);
// The instant a reading of the console's clock names; none when its fields are no time of
// day on a date (year 0, month 13, hour 24, ...).
std::optional<std::int64_t> InstantOf(const EntryTime& time);
