// Builds ARMAX images in memory for tests: header, records with their alignment gaps,
// the LZARI stream and the CRC, every field overridable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace testutil {

struct MaxFile {
  std::string name;  // up to 32 bytes are stored
  Bytes data;
};

struct MaxImage {
  std::string signature = "Ps2PowerSave";
  std::string folder = "BESLES-12345SAVE";
  std::vector<MaxFile> files;
  std::uint8_t gapByte = 0xEE;                      // fills the space between records
  bool padLast = false;                             // the last record padded the same way
  std::optional<std::uint32_t> fileCount;           // default: files.size()
  std::optional<std::uint32_t> payloadLength;       // default: the built payload's length
  std::optional<Bytes> stream;                      // default: the payload compressed
  bool validCrc = true;                             // false stores the CRC plus one

  // The decompressed payload: the records, each at its aligned offset.
  Bytes Payload() const;
  Bytes Build() const;
};

// The CRC the format stores: of the whole image with bytes 12..15 taken as zero.
std::uint32_t MaxCrc(const Bytes& image);
// Stores MaxCrc(image) at offset 12.
void FixMaxCrc(Bytes& image);

}  // namespace testutil
