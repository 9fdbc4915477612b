// Splitting a memory card by game onto the SD card of a memory-card emulator.
//
// Each save goes to the card of its game (its product code, in the device's spelling, or
// the folder Game2Folder.ini names for it on sd2psx), channel 1 first: when that card
// already holds a save of that name, is full, or is not a card the device takes, the
// next channel, up to the device's last (8; two slots for Open PS2 Loader). A missing card
// is formatted as the device takes it: 8 MB without ECC. Saves of no game go to the cards
// named UNSORTED; the system folders (browser data, network settings) go to every game
// card written, or nowhere, as asked. For Open PS2 Loader each game's CFG file names its
// cards. The source card is only read; a card in the way is left untouched.
//
// For POPStarter each save of a PS1 card goes to the SLOT0.VMC of the game whose .VCD has
// its ID (the folder a VMCDIR.TXT names, when one sends the game there: the redirect is
// followed, never written); a missing SLOT0.VMC is made a raw PS1 card. A save of no game,
// or of a game whose disc is not on the tree, is skipped. A PS2 card is refused whole.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "card/card.h"
#include "model/entry.h"
#include "sd/places.h"

namespace sd {

enum class SystemFolders { kCopy, kSkip };

struct SplitOptions {
  Layout device = Layout::kSd2psx;  // kSd2psx, kMemcardPro2, kOpl or kPops
  SystemFolders system = SystemFolders::kCopy;
  std::optional<EntryTime> now;     // the cards' clock; default now in Japan time
};

enum class SplitEvent {
  kPlaced,         // the save went onto `card` (`newCard`: made for it; `detail`: the
                   // VMCDIR.TXT that sent it there)
  kAlreadyThere,   // the same save, file for file, was on `card`: nothing written
  kSystemCopied,   // a system folder went onto `card`
  kSystemKept,     // `card` holds another copy of that system folder: left as it is
  kSystemLeftOut,  // a system folder, left out as asked
  kSystemNoCard,   // a system folder with no game card to go to
  kSkipped,        // the save went nowhere: `detail` says why
  kCardInTheWay,   // `card` was left untouched: `detail` says why
  kCfgWritten,     // `card` is the CFG file; `detail` its new line
  kCfgNamesOther,  // the CFG file names another card (`detail`): left as it is
  kCfgFailed,      // the CFG file could not be written
};

struct SplitLine {
  SplitEvent event = SplitEvent::kSkipped;
  std::string save;    // the save's folder name
  std::string card;    // from the SD card's root
  std::string detail;
  bool newCard = false;
};

struct SplitReport {
  std::string failure;  // the source card can't be read, or the device can't take it
  std::vector<SplitLine> lines;
  // Every save went somewhere (left-out system folders count as placed).
  bool Complete() const;
};

SplitReport Split(const card::Card& source, const std::string& root, const SplitOptions& options);

// Split for a card named by its path: the report's failure says why it can't be opened.
SplitReport SplitCardFile(const std::string& source, const std::string& root, const SplitOptions& options);

}  // namespace sd
