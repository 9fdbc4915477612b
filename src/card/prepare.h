// A save made ready for a card, whichever kind: the directory entry and one entry per file
// with the modes, times and attributes they will have there, checked against what a card
// can hold. Shared by the image and the folder card.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "card/card.h"
#include "card/layout.h"
#include "model/dir_entry.h"

namespace card {

inline std::uint64_t ClustersFor(std::uint64_t bytes) { return (bytes + kClusterSize - 1) / kClusterSize; }

struct PreparedSave {
  DirEntry directory;             // length = 2 + files; cluster and dir_entry not yet set
  std::vector<DirEntry> files;    // table order; cluster not yet set
  std::vector<const SaveEntry*> sources;
  std::uint64_t fileClusters = 0;
  EntryTime now;  // the time of the import, which the card's root takes too

  std::uint32_t DirectoryClusters() const {
    return static_cast<std::uint32_t>((2 + files.size() + 1) / 2);
  }
  std::uint64_t TotalClusters() const { return fileClusters + DirectoryClusters(); }
};

// A result without numbers or detail.
inline ImportOutcome Outcome(ImportResult result, const std::string& folder) {
  ImportOutcome o;
  o.result = result;
  o.folder = folder;
  return o;
}

// Checks the save and fills `out`: kImported when it can go on a card, else the reason
// (with `detail` naming the entry). A mode of 0 and unset times become what the console
// gives a new entry (0x8427 or 0x8497, the current time); every mode keeps its bits, plus
// the "exists" bit and the file or directory bit without which the card would not show it.
ImportResult PrepareSave(const CSaveGame& save, const EntryTime& now, PreparedSave& out,
                         std::string& detail);

// Reads every file's bytes into `data` (one vector per file). The sizes have been checked
// against the card's capacity, so this is bounded by it. False when one can't be read whole.
bool ReadSaveData(const CSaveGame& save, const PreparedSave& prepared,
                  std::vector<std::vector<std::uint8_t>>& data);

}  // namespace card
