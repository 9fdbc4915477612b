// Gathering the saves of an SD card's cards (every card, or one game's) onto one card.
//
// Two saves with the same folder name, on two cards or on a card and the target: the one
// whose folder was modified later is taken; on a tie the first in path order, the target
// before every other. The other is reported with where it was, except an identical copy
// of a system folder. A save that does not fit is reported and the merge goes on. The
// cards on the SD card are only read; the target is written save by save, each write
// complete or not made at all.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "card/card.h"
#include "model/entry.h"

namespace sd {

struct MergeOptions {
  std::string game;               // only this game's cards (any spelling of its ID); empty: all
  bool ps1 = false;               // a missing target is made a PS1 card (its kind by its extension)
  std::optional<EntryTime> now;   // the target's clock; default now in Japan time
};

enum class MergeEvent {
  kTargetMade,    // the target card was formatted (`detail`: its layout)
  kTaken,         // the save from `card` is on the target now
  kReplaced,      // the same, in place of the target's older copy
  kNotTaken,      // the copy on `card` (modified `detail`) lost to the one from `other`
  kDidNotFit,     // the save from `card` could not go onto the target: `detail`
  kSkipped,       // the save on `card` can't be read
  kCardNotRead,   // `card` can't be opened: `detail`
  kCardDamaged,   // `card` has damage: its readable saves were taken
  kOtherConsole,  // `card` is a card of the other console
};

struct MergeLine {
  MergeEvent event = MergeEvent::kSkipped;
  std::string save;
  std::string card;    // from the SD card's root; the target's own path for it
  std::string detail;
  std::string other;   // kNotTaken: where the copy taken was
};

struct MergeReport {
  std::string failure;  // the target can't be made, opened or written: nothing was merged
  std::vector<MergeLine> lines;
  int cards = 0;        // cards read
  bool Complete() const;  // every save went onto the target or lost to a newer copy
};

MergeReport Merge(const std::string& root, card::Card& target, const MergeOptions& options);

// Merge into the card at `target`, formatted first when there is no file there (8 MB;
// with ECC unless its extension names a raw image; or a PS1 card when asked). A PS2 target
// gathers the PS2 cards, a PS1 target the PS1 cards; the other console's are left out.
MergeReport MergeIntoFile(const std::string& root, const std::string& target, const MergeOptions& options);

}  // namespace sd
