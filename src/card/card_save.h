// A save on a memory card, as an ordinary save object. Its file entries read through the
// card: extents of an image file (one per page with ECC, adjacent clusters merged in a raw
// image) or the host files of a PCSX2 folder card. Every writer converts it unchanged; it
// is written to a card only by Card::Import.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "model/save_game.h"

class CCardSave : public CSaveGame {
 public:
  CCardSave() : CSaveGame(kKindCard) {}
  ~CCardSave() override = default;

  // The table edits keep `attributes` in step with the table.
  void RemoveEntry(int fileIndex) override;
  bool AddEntryFromDisk(const std::string& pcPath, std::string_view entryName) override;

  // The attr word of each table position (0 the directory), as the card stores it.
  std::vector<std::uint32_t> attributes;
};

namespace card {
// The attr word of a table position of any save: card saves and .psu files keep it (a
// .psu header is a card directory entry), every other format has none (0).
std::uint32_t AttributesOf(const CSaveGame& save, std::size_t tablePosition);
}  // namespace card
