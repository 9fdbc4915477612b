// A PlayStation 1 card in memory: its directory read into saves, and the changes made to
// it (a save put on, one deleted, one restored, checks and chain states mended), each
// checked before it is kept. Nothing here touches a file: Ps1Card keeps the card in one,
// and other code (a split of a card by game) can work on the bytes alone.
//
// Block 0 holds the directory: frame 0 "MC", frames 1..15 one entry per data block (see
// formats/ps1/ps1_frame.h). A save is a chain: a first block (state 0x51), middle blocks
// (0x52) and a last one (0x53), each entry naming the next block's index. Deleting a save
// turns the states into 0xA1..0xA3 and leaves everything else, so a deleted save can come
// back while its blocks are unused. The blocks of deleted saves count as free.
//
// Reading never follows a size or a next index beyond the card, and each chain takes at
// most one step per block. A live save whose chain is broken (a loop, a link past the card
// or into a free block or another save, a block count that disagrees with its size) is
// listed as damaged with what is wrong; its blocks, as far as the chain reaches, are never
// given to another save. Saves beginning "CS" or 0x43 0x00 rather than "SC" are ordinary.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "card/card.h"
#include "card/ps1/ps1_card_file.h"
#include "formats/ps1/ps1_frame.h"

namespace card {

inline constexpr int kPs1DataBlocks = static_cast<int>(kPs1Blocks) - 1;  // blocks 1..15

// One save the directory holds, live or deleted.
struct Ps1SaveState {
  std::string name;        // its card file name
  bool deleted = false;
  std::uint32_t size = 0;  // the first entry's size
  // Its blocks (1..15) in chain order, as far as the chain could be followed.
  std::vector<int> blocks;
  // Live: the chain is whole and agrees with the size. Deleted: it could be restored as it
  // stands (its blocks may since have been taken: Ps1Image::CanRestore says).
  bool intact = false;
  // What is wrong when not intact, each with the kind of finding it is.
  std::vector<std::pair<IssueKind, std::string>> problems;
  // The problems in one line.
  std::string Problem() const;
  // Live and intact: the states its middle and last blocks should have and don't.
  std::vector<std::pair<int, std::uint32_t>> stateFixes;

  int FirstBlock() const { return blocks.empty() ? 0 : blocks.front(); }
};

// What reading the directory found.
struct Ps1Directory {
  std::vector<Ps1SaveState> saves;       // by first block
  std::array<int, kPs1Blocks> owner{};   // per block: the live save holding it (index), -1 none
  std::array<bool, kPs1Blocks> free{};   // per block: a new save may take it
  std::vector<Issue> issues;             // every finding, notices included

  int FreeBlocks() const;
  // The live save of that name, or the deleted one when `deleted` (the first of them).
  const Ps1SaveState* Find(std::string_view name, bool deleted = false) const;
};

// Reads the directory of a card (kPs1CardBytes). `stored` is how many of its bytes the
// file held: a block past it is read as free, and a save reaching one is damaged.
Ps1Directory ReadPs1Directory(std::span<const std::uint8_t> card, std::size_t stored = kPs1CardBytes);

// The results of the changes, beyond what card.h names.
enum class Ps1Change {
  kDone,
  kNotFound,       // no such save (live, or deleted for a restore)
  kAlreadyOnCard,  // a live save has that name
  kNoSpace,        // too few free blocks
  kDamaged,        // the save's chain is broken: it is left as it is
  kBlocksTaken,    // restore: a block of the deleted save now belongs to another save
  kInvalidSave,    // the blocks or the name can't be a save on a card
  kCheckFailed,    // the changed card read back with damage it didn't have: not kept
};

class Ps1Image {
 public:
  // `card` must be kPs1CardBytes long.
  explicit Ps1Image(std::vector<std::uint8_t> card, std::size_t stored = kPs1CardBytes);

  const std::vector<std::uint8_t>& bytes() const { return card_; }
  // True when a live save has a block past the bytes the file held: the card is then not
  // changed (written whole, it would make zeros of that save's missing blocks).
  bool BlocksMissing() const;
  const Ps1Directory& directory() const { return directory_; }
  // The frame of a block's directory entry (1..15).
  ::ps1::DirFrame Frame(int block) const;
  // The bytes of a save's blocks, in chain order (as far as the chain reaches).
  std::vector<std::uint8_t> SaveBytes(const Ps1SaveState& save) const;

  // Puts a save on the card: `blocks` are its bytes (1 to 15 whole blocks), `frame` the
  // directory entry it brings (its other bytes are kept; state, size, next and the check
  // are set here). Free blocks are taken lowest first, apart when they must be.
  Ps1Change Import(std::string_view name, std::span<const std::uint8_t> blocks, const ::ps1::DirFrame& frame);
  // Marks a live save deleted, as the console does: its data stays.
  Ps1Change Remove(std::string_view name);
  // Makes a deleted save of that name live again (the first that can be, when there are
  // several), when no live save has its name and none of its blocks has been taken since.
  Ps1Change Restore(std::string_view name);
  // Sets every wrong check of the directory and the states of intact chains' middle and
  // last blocks.
  struct Mended {
    int checks = 0;  // directory entries whose check byte was wrong
    int states = 0;  // blocks given the state their place in the chain gives
  };
  Mended Repair();

  // The findings of a full check: the directory's, plus each block whose entry is in use
  // but no chain reaches it.
  std::vector<Issue> Check() const { return directory_.issues; }

 private:
  // Keeps `changed` when its directory has no finding this card's lacks; the card is then
  // whole, as it will be written.
  Ps1Change Keep(std::vector<std::uint8_t> changed);
  // kDone when the deleted save can come back as it stands, else why not.
  Ps1Change Restorable(const Ps1SaveState& save) const;
  std::vector<std::uint8_t> card_;
  std::size_t stored_;
  Ps1Directory directory_;
};

}  // namespace card
