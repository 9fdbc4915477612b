// Builds X-Port images in memory for tests: every field of the file and of each entry
// header settable, including header lengths above 250 and a magic of any length.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/entry.h"
#include "support/test_util.h"

namespace testutil {

struct XpsEntryRecord {
  std::string name;                   // stored as given, cut to the 64-byte field
  Bytes data;                         // follows a file's header; a root's is ignored
  std::optional<std::uint32_t> size;  // default: the data's length, or files + 2 for the root
  std::uint16_t headerLength = 250;   // above 250 the header is followed by padding
  std::uint16_t mode = 0x8497;        // big-endian at 0x4E
  std::uint16_t modeTail = 0;         // the two bytes after the mode, big-endian
  std::uint32_t aux1 = 0;
  std::uint32_t aux2 = 0;
  EntryTime created = MakeTime(2007, 3, 4, 5, 6, 7);
  EntryTime modified = MakeTime(2008, 9, 10, 11, 12, 13);
  std::uint32_t itemCount = 1;
  EntryTime extraTime{};
  std::string title;     // cut to 64 bytes
  std::string rawTitle;  // cut to 64 bytes
  // Value of the bytes no reader looks at: 0x62..0x65, 0xF2..0xF9 and the padding of a
  // long header.
  std::uint8_t filler = 0;
};

struct XpsImage {
  std::string magic = "SharkPortSave";
  std::optional<std::uint32_t> magicLength;  // default: the magic's length
  std::uint32_t zeroWord = 0;
  std::string title = "Save title";
  std::string subtitle = "Second text";
  std::string comment;
  std::optional<std::uint32_t> dataLength;  // default: the data area's real length
  XpsEntryRecord root = DefaultRoot();
  std::vector<XpsEntryRecord> files;
  bool withChecksum = true;  // over min(dataLength, data area) bytes

  static XpsEntryRecord DefaultRoot();
  Bytes Build() const;
  // Where the data area starts: the byte after dataLength.
  std::size_t DataAreaStart() const;
};

XpsEntryRecord XpsFile(const std::string& name, Bytes data);

// One entry header as stored, headerLength bytes long.
Bytes XpsHeader(const XpsEntryRecord& e, std::uint32_t size);

// The sum of the format, computed here independently of the program's own.
std::uint32_t ReferenceXpsChecksum(const std::uint8_t* p, std::size_t n);

}  // namespace testutil
