// The few things the command line needs from the platform.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "io/text.h"
#include "model/entry.h"

namespace cli::platform {

// True when standard error is a terminal (progress bars go there).
bool StderrIsTerminal();

// Shift-JIS (code page 932) bytes as UTF-8; sequences that don't decode become U+FFFD.
using io::ShiftJisToUtf8;

// Sets the modification time of a file or folder from a card time, read as local time.
// False when the time is no calendar time or the platform refuses.
bool SetModifiedTime(const std::string& path, const EntryTime& time);

}  // namespace cli::platform
