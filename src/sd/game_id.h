// The names one game goes by on an SD card and on a memory card.
//
// A PS2 or PS1 game has a ten-character product code, "SLUS-20946", spelled three ways:
//   its startup file        SLUS_209.46  (on the disc; Open PS2 Loader names cards after it)
//   a device folder         SLUS-20946   (sd2psx, MemCard PRO: the startup file with what
//                                         precedes the last \ / or : dropped, cut at ';',
//                                         '_' turned into '-' and '.' dropped)
//   a save folder           BASLUS-20946REZ  (a region letter pair "B?" (BA America, BE
//                                         Europe, BI Japan, BC China, BK Korea; PS1 saves
//                                         use BA, BE, BI), then the code, then the game's
//                                         own text; PS1 cards also write "P" for the "-")
// A save belongs to the game whose code starts its folder name. Codes of four letters
// other than S... (PBPX, PAPX) are games too. Folders with no code are the system's
// (browser data, network settings) or homebrew and user-made saves.
#pragma once

#include <string>
#include <string_view>

namespace sd {

// The device folder of a startup file or of a game ID in any of its spellings:
// "cdrom0:\SLUS_209.46;1" and "SLUS_209.46" give "SLUS-20946".
std::string DeviceId(std::string_view startupOrId);

// True for the ten characters of a product code: four capital letters, '-', five digits.
bool IsProductCode(std::string_view code);

// The startup file of a product code ("SLUS-20946" gives "SLUS_209.46"); empty when the
// text is not a product code.
std::string StartupFile(std::string_view productCode);

// The product code a save folder starts with, in the device's spelling; empty for a folder
// that names no game.
std::string ProductCodeOf(std::string_view saveFolder);

// The console's own folders that every game reads: the browser's data (BADATA-SYSTEM,
// BEDATA-SYSTEM, BIDATA-SYSTEM, ...) and the network settings (BWNETCNF).
bool IsSystemFolder(std::string_view saveFolder);

}  // namespace sd
