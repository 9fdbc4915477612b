// Reading an entry's bytes from the one place they are: memory, then the PC file,
// then the save's container file at dataOffset. Exactly `size` bytes are taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "model/entry.h"

enum class DataResult {
  kOk,
  kOpenFailed,  // the PC file or the container can't be opened
  kShort,       // the source holds fewer than `size` bytes at that place
  kSinkFailed,  // the receiver refused the bytes (a write failed)
};

// Receives the bytes in order, in pieces; returns false to stop.
using DataSink = std::function<bool(std::span<const std::uint8_t>)>;

// Streams the entry's `size` bytes to the sink in pieces of at most 1 MiB.
DataResult CopyEntryData(const SaveEntry& entry, const std::string& containerPath,
                         const DataSink& sink);

// Reads the entry's `size` bytes into out (resized to fit).
DataResult ReadEntryData(const SaveEntry& entry, const std::string& containerPath,
                         std::vector<std::uint8_t>& out);
