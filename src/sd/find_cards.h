// Every card on an SD card (or a copy of one, or a PCSX2 memcards folder), by where it
// sits: see places.h for the layouts. The walk follows no symbolic link to a folder, goes
// at most kMaxDepth folders deep and looks at no more than kMaxEntries names, so that a
// strange tree costs in proportion to what it holds.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "sd/places.h"
#include "sd/pops.h"

namespace sd {

inline constexpr int kMaxDepth = 12;
inline constexpr std::size_t kMaxEntries = 200000;

struct FoundCard {
  std::string path;      // the card image, or the PCSX2 folder card
  std::string relative;  // from the root, folders joined by '/'
  Layout layout = Layout::kPcsx2;
  Console console = Console::kPs2;  // the home folder's console (sd2psx), else the size's
  std::string folder;    // the card folder (a game ID, BOOT, Card1, a name the user chose),
                         // an Open PS2 Loader card's name, or a PCSX2 card's file name
  int channel = 0;       // from the card's name; 0 when it has none
  std::string channelName;  // from the card folder's <Folder>.ini
  // POPStarter: the game ID of the .VCD the card's folder is named after (empty when that
  // disc is not there or names none); the other games whose VMCDIR.TXT sends them to this
  // folder; the folder (from the root) the game's VMCDIR.TXT sends it to instead of this one.
  std::string gameId;
  std::vector<std::string> sharedBy;
  std::string redirectedTo;
};

struct FoundCards {
  std::vector<FoundCard> cards;  // in path order
  bool truncated = false;        // the walk stopped at kMaxEntries
  PopsTree pops;                 // POPStarter's folders and games
};

FoundCards FindCards(const std::string& root);

// The path from the root to `path`, folders joined by '/'.
std::string RelativePath(const std::string& root, const std::string& path);

}  // namespace sd
