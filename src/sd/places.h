// Where each device keeps its cards on an SD card, and which card files it takes.
//
//   sd2psx, sd2psXtd   MemoryCards/PS2/<Folder>/<Folder>-<ch>.mcd     (PS1 cards under
//                      MemoryCards/PS1; arcade variants under PROT, COH, SC2 beside PS2)
//                      MemoryCards/PS2/BOOT/BootCard-<ch>.mcd (or BootCard.mcd, channel 1)
//                      a .bin beside the cards is a screen image, not a card
//   MemCard PRO 2      <Folder>/<Folder>-<ch>.mc2, at any depth
//   MemCard PRO (PS1)  <Folder>/<Folder>-<ch>.mcd outside an sd2psx tree
//   Open PS2 Loader    VMC/<name>.bin; a game's CFG/<startup file>.cfg names its cards for
//                      slots 1 and 2 in "$VMC_0=" and "$VMC_1=" ("SLUS_209.46_0")
//   PCSX2              *.ps2 images and folder cards (a folder holding _pcsx2_superblock)
//   POPStarter         POPS/<VCD name>/SLOT0.VMC and SLOT1.VMC, raw PS1 cards (pops.h)
//
// Only raw images (no ECC) go on the devices: sd2psx takes 512 KiB and 1 to 64 MiB, Open
// PS2 Loader 8 to 64 MiB, MemCard PRO 2 refuses ECC; PS1 cards are always 131,072 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sd {

enum class Console { kPs2, kPs1 };

enum class Layout { kSd2psx, kMemcardPro2, kMemcardPro, kOpl, kPcsx2, kPops };

// "sd2psx", "MemCard PRO 2", ...
std::string_view LayoutName(Layout layout);
std::string_view ConsoleName(Console console);  // "PS2", "PS1"

// The layout a split or merge writes for a device chosen as sd2psx, mcp2 or opl: a PS1
// card with mcp2 is MemCard PRO's.
Layout LayoutFor(Layout device, Console console);

// The most channels a game's cards have: 8, and the two slots of Open PS2 Loader and of
// POPStarter.
int ChannelCount(Layout layout);

// The path from the root of the SD card to a channel's card (1-based): `folder` is the card
// folder (sd2psx, MemCard PRO) or the startup file the card is named after (Open PS2
// Loader, whose channel 1 is "<startup>_0.bin"; the game's folder from the root for
// POPStarter, whose channel 1 is SLOT0.VMC).
std::string ChannelCardPath(Layout layout, Console console, std::string_view folder, int channel);

// The name Open PS2 Loader gives a game's card in a slot (0 or 1): "SLUS_209.46_0".
std::string OplCardName(std::string_view startup, int slot);
// Where the loader keeps a game's settings: "CFG/SLUS_209.46.cfg".
std::string OplCfgPath(std::string_view startup);

// Why the device would refuse a card file of that many bytes; empty when it takes it.
std::string Refusal(Layout layout, Console console, std::uint64_t fileSize);

// The size of a new card on the devices: 8 MB without ECC, or a PS1 card.
inline constexpr unsigned kNewCardMegabytes = 8;

}  // namespace sd
