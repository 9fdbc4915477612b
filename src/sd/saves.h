// What split and merge ask of saves: whether two saves hold the same files, which of two
// is newer, and where a save belongs.
#pragma once

#include <string>
#include <string_view>

#include "model/entry.h"
#include "model/save_game.h"

namespace sd {

// True when both saves have the same folder name and the same files (names and bytes,
// in any order). False when a file of either can't be read.
bool SameFiles(const CSaveGame& a, const CSaveGame& b);

// Negative, zero or positive as a is earlier than, the same as or later than b.
int CompareTimes(const EntryTime& a, const EntryTime& b);

// Where a save of a card goes when a card is split by game.
enum class SaveKind {
  kGame,      // its folder starts with a product code
  kSystem,    // the console's browser data or network settings: every game reads them
  kUnsorted,  // homebrew and user-made folders: no game
};
SaveKind KindOf(std::string_view folder);

}  // namespace sd
