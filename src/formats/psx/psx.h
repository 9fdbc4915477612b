// PS1 single saves of the cheat devices (Action Replay, GameShark, Xploder, Caetla) and
// Datel's (.psx, .mcb, .pda, .mcx): a 54-byte header, then the save's blocks.
//
//   offset  width  field
//   0x00    20     the card file name, NUL-padded
//   0x14    34     nothing known: written as zeros
//   0x36    8192 n the blocks, from "SC"
//
// A Vita PocketStation card is also named .mcx; it is a card, not a single save, and is
// 131,232 bytes long, which no file of this family is.
#pragma once

#include <cstdint>
#include <span>

#include "formats/ps1/ps1_file.h"


namespace psx {
inline constexpr std::size_t kHeaderSize = 0x36;
inline constexpr std::size_t kNameSize = 20;
inline constexpr std::uint64_t kPocketStationCardSize = 131232;
}  // namespace psx

bool LooksLikePsx(std::span<const std::uint8_t> head, std::uint64_t fileSize);

class CPsx : public CPs1File {
 public:
  CPsx() : CPs1File(kKindPsx, psx::kHeaderSize) {}


 protected:
  // A Vita PocketStation card is refused with its own reason (kInvalid).
  LoadResult Read(const io::ByteSource& source) override;
  LoadResult ReadNames(const ps1::SaveFile& file, const std::string& fileName, Named& named) override;
  std::vector<std::uint8_t> MakeHeader(const CSaveGame& source) const override;
};
