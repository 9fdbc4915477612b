// What the PS1 single-save families share: a file is a header of the family's own and then
// the save's blocks. Reading takes the whole file (at most 15 blocks and a header) and
// checks its size against the blocks before anything else; writing puts the header and
// the blocks of any PS1 save down through a temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/ps1/ps1_save.h"

namespace ps1 {

// A single-save file read whole: `headerSize` bytes and then the blocks.
struct SaveFile {
  std::vector<std::uint8_t> bytes;
  std::size_t headerSize = 0;

  std::span<const std::uint8_t> Header() const { return std::span(bytes).first(headerSize); }
  std::span<const std::uint8_t> Blocks() const { return std::span(bytes).subspan(headerSize); }
};

// Reads the file at path as `headerSize` bytes and 1 to 15 blocks. Results: 1; 0 it can't
// be opened; -1 it is shorter than the header and one block, or can't be read; -6 its size
// is not the header and whole blocks, or its blocks are no PS1 save (BlocksProblem), with
// the reason in `refusal`; -7 no memory.
LoadResult ReadSaveFile(const std::string& path, std::size_t headerSize, SaveFile& file,
                        std::string& refusal);

// Writes the PS1 save `source` as `header` followed by its blocks. Results: 1, or -5 in
// place; 0 the blocks can't be read or the target can't be written; -4 as for every in-place
// save; -6 `source` holds a PS2 save or blocks that are no PS1 save (`refusal` says why).
LoadResult WriteSaveFile(const CSaveGame& source, std::span<const std::uint8_t> header,
                         const std::string& path, bool inPlace, std::string& refusal);

// The blocks of the PS1 save `source`, checked: kOk; kInvalid for a PS2 save or blocks that
// are no PS1 save (`refusal` says why); kOpenFailed when they can't be read.
LoadResult CheckedBlocks(const CSaveGame& source, std::vector<std::uint8_t>& blocks,
                         std::string& refusal);

}  // namespace ps1
