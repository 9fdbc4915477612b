#include "card/card_time.h"

#include "model/console_clock.h"

namespace card {

std::int64_t CardTimeToSeconds(const EntryTime& t) { return FieldSeconds(t); }

EntryTime SecondsToCardTime(std::int64_t seconds) { return FieldsFromSeconds(seconds); }

EntryTime JapanNow() { return EntryTime::Now(); }

}  // namespace card
