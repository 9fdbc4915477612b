// Builds PS3 export images (.psv) in memory for tests: header, records, data and the
// signature, every field overridable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/entry.h"
#include "support/test_util.h"

namespace testutil {

struct PsvFile {
  std::string name;   // stored as given, cut to 32 bytes
  Bytes data;
  std::uint32_t mode = 0x8497;  // the word as stored
  EntryTime created = MakeTime(2007, 3, 4, 5, 6, 7);
  EntryTime modified = MakeTime(2008, 9, 10, 11, 12, 13);
  std::uint8_t nameJunk = 0;    // fills the name field after the NUL
  std::optional<std::uint32_t> offset;  // where the data goes; default: the next 4-byte boundary
  std::optional<std::uint32_t> size;    // default: the data's length
};

PsvFile MakePsvFile(std::string name, Bytes data, std::uint32_t mode = 0x8497);

struct PsvImage {
  std::string folder = "BESLES-12345SAVE";
  std::uint32_t rootMode = 0x8427;
  EntryTime created = MakeTime(2006, 1, 2, 3, 4, 5);
  EntryTime modified = MakeTime(2006, 6, 7, 8, 9, 10);
  std::vector<PsvFile> files;
  std::uint32_t kind = 2;                     // 2 a PS2 save, 1 a PS1 save
  std::optional<std::uint32_t> fileCount;     // default: files.size()
  std::uint8_t seedByte = 0x5A;               // the seed is 20 of these
  bool validSignature = true;                 // false flips a bit of the signature

  Bytes Build() const;
};

}  // namespace testutil
