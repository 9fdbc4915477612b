// POPStarter's per-game PS1 cards on a PS2's USB drive, network share or internal disk.
//
//   USB drive, share   POPS/<VCD name>.VCD, POPS/<VCD name>/SLOT0.VMC and SLOT1.VMC
//                      (on USB also POPS0/ .. POPS9/)
//   internal disk      the games in the partition __.POPS, their folders in the partition
//                      __common, folder POPS/<VCD name>/ (copied to a PC as __.POPS and
//                      __common/POPS beside each other)
//
// A game is named by its .VCD file; its ID is inside the disc (vcd.h). Its cards are raw PS1
// cards of 131,072 bytes; SLOT1.VMC may be missing (POPStarter can turn a slot off).
//
// VMCDIR.TXT names another folder inside the same POPS folder whose cards a game uses: in
// a game's folder it sends that game (later discs of a game name disc 1's folder); in POPS/
// itself it sends every game to one pair. A game's own VMCDIR.TXT is looked at first. Only
// one step is taken: the folder named is not looked in for another VMCDIR.TXT. POPStarter
// ignores a file over 103 bytes, of more than one line, or holding '/', '\' or ':'; such a
// file is reported and not followed, and so is one that would leave POPS ("..", "."), is
// empty, holds a control character, or names a link.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sd {

inline constexpr std::size_t kMaxVmcDirBytes = 103;
inline constexpr std::string_view kVmcDirName = "VMCDIR.TXT";
inline constexpr std::string_view kInternalDiscs = "__.POPS";
inline constexpr std::string_view kInternalCommon = "__common";

// POPS and POPS0 .. POPS9, in any letter case.
bool IsPopsHomeName(std::string_view name);
// "SLOT0.VMC" (0) and "SLOT1.VMC" (1) in any letter case; -1 for any other name.
int PopsSlotOf(std::string_view fileName);
// The card file of a slot: "SLOT0.VMC".
std::string PopsSlotName(int slot);

// What the bytes of a VMCDIR.TXT say.
struct VmcDir {
  std::string folder;   // the folder inside POPS it names; empty when it is not followed
  std::string problem;  // why it is not followed
};
VmcDir ParseVmcDir(std::string_view bytes);

// A POPS folder found on the tree, and where its games' .VCD files are: the folder itself,
// and for __common/POPS also __.POPS beside __common.
struct PopsHome {
  std::string path;
  std::vector<std::string> discs;
};

struct PopsGame {
  std::string name;       // the .VCD's name without its extension
  std::string vcd;        // its path
  std::string home;       // its POPS folder's path
  std::string gameId;     // from the disc's SYSTEM.CNF; empty when there is none
  std::string discProblem;  // why there is none
  std::string cards;      // the folder of the SLOT0.VMC and SLOT1.VMC it uses, a redirect followed
  std::string redirect;   // the VMCDIR.TXT followed to get there; empty when none was
};

// A VMCDIR.TXT that is not followed.
struct PopsFinding {
  std::string file;  // its path
  std::string problem;
};

struct PopsTree {
  std::vector<PopsHome> homes;
  std::vector<PopsGame> games;         // in path order
  std::vector<PopsFinding> findings;   // in path order
};

// Each home's games (their discs read) and its VMCDIR.TXT files that are not followed.
PopsTree ReadPopsHomes(std::vector<PopsHome> homes);

}  // namespace sd
