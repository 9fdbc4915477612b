// Builds CodeBreaker images in memory for tests: the header, the records and the body
// (RC4 over zlib), every field overridable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/entry.h"
#include "support/test_util.h"

namespace testutil {

struct CbsFile {
  std::string name;  // up to 32 bytes are stored
  Bytes data;
  std::uint32_t mode = 0x8497;
  EntryTime created = MakeTime(2007, 3, 4, 5, 6, 7);
  EntryTime modified = MakeTime(2008, 9, 10, 11, 12, 13);
};

struct CbsImage {
  std::string folder = "BESLES-12345SAVE";
  std::uint32_t rootMode = 0x8427;
  EntryTime created = MakeTime(2006, 1, 2, 3, 4, 5);
  EntryTime modified = MakeTime(2006, 6, 7, 8, 9, 10);
  std::string title = "SAVE TITLE";
  std::vector<CbsFile> files;
  bool bodyLengthWord = false;                 // 0x10 counts the body only (a PC tool's form)
  std::optional<std::uint32_t> bodyStart;      // default 0x128
  std::optional<std::uint32_t> inflatedSize;   // default: the records' length
  std::optional<Bytes> records;                // default: the files' records
  std::optional<Bytes> stream;                 // default: the records at zlib level 9

  Bytes Records() const;
  Bytes Build() const;
};

}  // namespace testutil
