// The lines of the split and merge reports, as both front ends show them.
#pragma once

#include <string>

#include "sd/merge.h"
#include "sd/split.h"

namespace sd::messages {

// "BASLUS-20946SAVE -> MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd (new card)", ...
std::string SplitLineText(const SplitLine& line);
// "3 saves onto 2 cards; 1 already there; 2 copies of system folders; 1 skipped"
std::string SplitSummary(const SplitReport& report);

// "BASLUS-20946SAVE <- MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd", ...
std::string MergeLineText(const MergeLine& line);
// "5 saves taken from 4 cards; 1 did not fit"
std::string MergeSummary(const MergeReport& report);

}  // namespace sd::messages
