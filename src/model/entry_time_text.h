// The text forms of an entry time: the display form ("5 March 2007 14:03:09") and the
// entry form "dd-mm-yyyy hh:mm:ss" that the Properties dialog and `set-time` read back,
// with its checks.
//
// The entry form follows a mask: '#' marks each digit position, every other character is
// a separator; a digit position not yet filled holds the blank mark '_'.
#pragma once

#include <string>
#include <string_view>

#include "model/entry.h"

inline constexpr std::string_view kEntryMask = "##-##-#### ##:##:##";
inline constexpr char kEntryBlank = '_';

// "5 March 2007 14:03:09". A month outside 1..12 shows as "(month 13)".
std::string DisplayForm(const EntryTime& time);
// "2007-03-05 14:03:09": the stored fields zero-padded and unchecked, as listings show them
// (each at least two digits, the year four); "2007-03-05 14:03" without the seconds.
std::string ListingForm(const EntryTime& time, bool seconds = true);
// "05-03-2007 14:03:09", always as long as the mask: a value too wide for its digit
// positions (a day of 100, a year of 10000) is shown as blanks, so that it has to be typed
// before the time can be confirmed.
std::string EntryForm(const EntryTime& time);

// Checking an entered time.
enum class TimeCheck { kOk, kBlank, kInvalid };
struct TimeEntry {
  TimeCheck check = TimeCheck::kInvalid;
  EntryTime time;  // the new time when check is kOk
};
// `text` is the field's text, of which at most the mask's length is read.
TimeEntry ReadEntryForm(std::string_view text, std::string_view mask = kEntryMask);

inline constexpr std::string_view kBlankDigitsMessage =
    "All blanks have to be filled with digits.\nOperation cancelled.";
inline constexpr std::string_view kInvalidTimeMessage =
    "Invalid date/time format.\nOperation cancelled.";
