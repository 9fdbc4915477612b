// PS1 cards built in memory for tests, entry by entry, independently of the card layer:
// an empty card as the console formats it, directory entries with any state, size, next
// index and name (sealed with their check byte or not), and saves laid on chosen blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace testutil {

inline constexpr std::size_t kPs1Card = 131072;
inline constexpr std::size_t kPs1Block = 8192;

struct Ps1Card {
  Bytes bytes = EmptyCard();

  static Bytes EmptyCard();
  // Directory entry of data block `block` (1..15), its check byte set unless `seal` is false.
  void SetEntry(int block, std::uint32_t state, std::uint32_t size, std::uint16_t next,
                const std::string& name = "", bool seal = true);
  std::uint8_t* Frame(int block) { return bytes.data() + static_cast<std::size_t>(block) * 128; }
  // A live save named `name` on `blocks` (in chain order), its data `data`.
  void PutSave(const std::string& name, const std::vector<int>& blocks, const Bytes& data);
  // The data of a block.
  Bytes Block(int block) const;
  std::uint32_t State(int block) const;
  std::uint16_t Next(int block) const;
};

// `card` behind a DexDrive header: magic, the copies of the directory, and the comments.
Bytes WithDexDriveHeader(const Bytes& card, const std::vector<std::string>& comments);

}  // namespace testutil
