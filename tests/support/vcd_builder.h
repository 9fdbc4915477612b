// POPStarter disc images for tests: a small ISO 9660 disc in 2,048-byte sectors (the volume
// descriptor at 16, the root directory from 18, each record within its sector, then the
// files), and that disc as a .VCD: a 1 MiB header, then 2,352-byte Mode 2 sectors.
#pragma once

#include <string>
#include <vector>

#include "support/test_util.h"

namespace testutil {

inline constexpr std::size_t kIsoSector = 2048;

struct IsoFile {
  std::string name;  // as its record holds it: "SYSTEM.CNF;1"
  Bytes data;
};
Bytes MakeIsoDisc(const std::vector<IsoFile>& files);
Bytes MakeVcd(const Bytes& disc, std::size_t pregap = 0);  // after `pregap` empty sectors
std::size_t VcdDataOffset(std::size_t sector);             // a disc sector's data in a .VCD
// A .VCD whose root holds PSX.EXE and a SYSTEM.CNF booting that file ("SLUS_005.94").
Bytes MakeVcdBooting(const std::string& startup, std::size_t pregap = 0);

}  // namespace testutil
