// Builds .psu images in memory for tests: the directory header, "." and "..", and one
// header plus padded data per file, every field settable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/entry.h"
#include "support/test_util.h"

namespace testutil {

struct PsuFile {
  std::string name;
  Bytes data;
  std::uint32_t mode = 0x8497;
  EntryTime created = MakeTime(2007, 3, 4, 5, 6, 7);
  EntryTime modified = MakeTime(2008, 9, 10, 11, 12, 13);
};

struct PsuImage {
  std::string folder = "BESLES-12345SAVE";
  std::uint32_t rootMode = 0x8427;
  EntryTime created = MakeTime(2006, 1, 2, 3, 4, 5);
  EntryTime modified = MakeTime(2006, 6, 7, 8, 9, 10);
  std::vector<PsuFile> files;
  std::uint8_t padByte = 0xFF;
  // Bytes the reader ignores, so that tests can see them pass through: each header
  // gets its own value at 0x10..0x17, 0x20..0x3F and 0x60..0x1FF when set.
  bool fillIgnored = false;

  Bytes Build() const;
};

// One 512-byte header.
Bytes PsuHeader(std::uint32_t mode, std::uint32_t size, const EntryTime& created,
                const EntryTime& modified, const std::string& name);

}  // namespace testutil
