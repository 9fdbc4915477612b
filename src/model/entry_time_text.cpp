#include "model/entry_time_text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace {

// Where each run of '#' in the mask starts and how long it is: for the entry mask the day,
// month, year, hour, minute and second, in that order.
struct DigitGroup {
  std::size_t start;
  std::size_t width;
};

std::vector<DigitGroup> DigitGroups(std::string_view mask) {
  std::vector<DigitGroup> groups;
  for (std::size_t i = 0; i < mask.size();) {
    if (mask[i] != '#') {
      ++i;
      continue;
    }
    std::size_t start = i;
    while (i < mask.size() && mask[i] == '#') ++i;
    groups.push_back({start, i - start});
  }
  return groups;
}

constexpr std::size_t kTimeFields = 6;

}  // namespace

std::string DisplayForm(const EntryTime& time) {
  static constexpr std::array<const char*, 12> kMonths = {
      "January", "February", "March",     "April",   "May",      "June",
      "July",    "August",   "September", "October", "November", "December"};
  char unknownMonth[16];
  const char* month;
  if (time.month >= 1 && time.month <= 12) {
    month = kMonths[time.month - 1];
  } else {
    std::snprintf(unknownMonth, sizeof unknownMonth, "(month %i)", time.month);
    month = unknownMonth;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%i %s %.4i %.2i:%.2i:%.2i", time.day, month, time.year,
                time.hour, time.minute, time.second);
  return text;
}

std::string ListingForm(const EntryTime& t, bool seconds) {
  // Put together digit by digit: a listing shows one for every save, and a formatted
  // print costs several times as much.
  std::string text;
  text.reserve(20);
  const auto put = [&text](unsigned value, std::size_t width, char after) {
    char digits[8];
    std::size_t n = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value > 0);
    text.append(width > n ? width - n : 0, '0');
    while (n > 0) text.push_back(digits[--n]);
    if (after) text.push_back(after);
  };
  put(t.year, 4, '-');
  put(t.month, 2, '-');
  put(t.day, 2, ' ');
  put(t.hour, 2, ':');
  put(t.minute, 2, seconds ? ':' : 0);
  if (seconds) put(t.second, 2, 0);
  return text;
}

std::string EntryForm(const EntryTime& time) {
  const std::array<unsigned, kTimeFields> values = {time.day,  time.month,  time.year,
                                                    time.hour, time.minute, time.second};
  std::string text(kEntryMask);
  auto groups = DigitGroups(kEntryMask);
  for (std::size_t g = 0; g < groups.size() && g < values.size(); ++g) {
    unsigned value = values[g];
    // Digits from the right; a value that needs more positions than the group has is
    // shown as blanks rather than cut.
    std::string digits(groups[g].width, kEntryBlank);
    for (std::size_t i = groups[g].width; i-- > 0;) {
      digits[i] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
    if (value != 0) digits.assign(groups[g].width, kEntryBlank);
    text.replace(groups[g].start, groups[g].width, digits);
  }
  return text;
}

TimeEntry ReadEntryForm(std::string_view text, std::string_view mask) {
  text = text.substr(0, std::min(text.size(), mask.size()));
  for (std::size_t i = 0; i < mask.size(); ++i) {
    if (mask[i] == '#' && (i >= text.size() || text[i] < '0' || text[i] > '9')) {
      return {TimeCheck::kBlank, {}};
    }
  }
  // Every digit position holds a digit; the separators must still be the mask's own.
  for (std::size_t i = 0; i < mask.size(); ++i) {
    if (mask[i] != '#' && text[i] != mask[i]) return {TimeCheck::kInvalid, {}};
  }
  auto groups = DigitGroups(mask);
  if (groups.size() != kTimeFields) return {TimeCheck::kInvalid, {}};
  std::array<unsigned long, kTimeFields> v{};
  for (std::size_t g = 0; g < kTimeFields; ++g) {
    for (std::size_t i = 0; i < groups[g].width; ++i) {
      v[g] = v[g] * 10 + static_cast<unsigned>(text[groups[g].start + i] - '0');
    }
  }
  auto low8 = [](unsigned long x) { return static_cast<std::uint8_t>(x & 0xFF); };
  std::uint8_t day = low8(v[0]), month = low8(v[1]), hour = low8(v[3]), minute = low8(v[4]),
               second = low8(v[5]);
  if (day > 31 || month > 12 || hour > 23 || minute > 59 || second > 59) {
    return {TimeCheck::kInvalid, {}};
  }
  TimeEntry entry;
  entry.check = TimeCheck::kOk;
  entry.time.reserved = 0;
  entry.time.second = second;
  entry.time.minute = minute;
  entry.time.hour = hour;
  entry.time.day = day;
  entry.time.month = month;
  entry.time.year = static_cast<std::uint16_t>(v[2] & 0xFFFF);
  return entry;
}
