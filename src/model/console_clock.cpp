#include "model/console_clock.h"

#include <algorithm>

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

Civil CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

}  // namespace

std::int64_t FieldSeconds(const EntryTime& t) {
  const unsigned month = std::clamp<unsigned>(t.month, 1, 12);
  const unsigned day = std::max<unsigned>(t.day, 1);
  return DaysFromCivil(t.year, month, day) * 86400 + std::int64_t{t.hour} * 3600 +
         std::int64_t{t.minute} * 60 + t.second;
}

EntryTime FieldsFromSeconds(std::int64_t seconds) {
  // Outside years 1..65535 the fields can't hold the date.
  constexpr std::int64_t kLow = -62135596800;    // 0001-01-01
  constexpr std::int64_t kHigh = 2005949145599;  // 65535-12-31 23:59:59
  seconds = std::clamp(seconds, kLow, kHigh);
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const Civil c = CivilFromDays(days);
  EntryTime t;
  t.year = static_cast<std::uint16_t>(c.year);
  t.month = static_cast<std::uint8_t>(c.month);
  t.day = static_cast<std::uint8_t>(c.day);
  t.hour = static_cast<std::uint8_t>(rest / 3600);
  t.minute = static_cast<std::uint8_t>(rest / 60 % 60);
  t.second = static_cast<std::uint8_t>(rest % 60);
  return t;
}

EntryTime ConsoleTimeAt(std::int64_t instant) { return FieldsFromSeconds(instant + kConsoleClockOffset); }

std::optional<std::int64_t> InstantOf(const EntryTime& t) {
  if (t.year == 0 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
      t.second > 59)
    return std::nullopt;
  return FieldSeconds(t) - kConsoleClockOffset;
}
