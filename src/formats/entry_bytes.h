// Gathering a save's files into one buffer, for the formats that build the whole file (or
// the whole payload) in memory before writing it: ARMAX, CodeBreaker and PS3 exports.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "model/entry_data.h"

// Copies the entry's bytes into `destination`, which has room for exactly `entry.size`
// of them. kOk only when every byte arrived.
DataResult CopyEntryInto(EntryDataReader& reader, const SaveEntry& entry,
                         const io::ByteSource* container, std::span<std::uint8_t> destination);
