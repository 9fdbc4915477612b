// PS1 single saves of PSXGameEdit and Memory Juggler (.mcs, .ps1): the save's 128-byte
// directory frame as it stood on the card, then its blocks.
//
//   offset  width  field
//   0x00    128    the directory frame of the save's first block (see ps1_frame.h): its
//                  size field is the save's size; its next index may still point at the
//                  card's next block, and it is kept as it is
//   0x80    8192 n the blocks, from "SC"
#pragma once

#include <cstdint>
#include <span>

#include "formats/ps1/ps1_file.h"


bool LooksLikeMcs(std::span<const std::uint8_t> head, std::uint64_t fileSize);

class CMcs : public CPs1File {
 public:
  CMcs() : CPs1File(kKindMcs, ps1::kFrameSize) {}

 protected:
  // Refuses a frame whose size is not the blocks'.
  LoadResult ReadNames(const ps1::SaveFile& file, const std::string& fileName, Named& named) override;
  std::vector<std::uint8_t> MakeHeader(const CSaveGame& source) const override;
};
