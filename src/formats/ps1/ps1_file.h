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

// True when a file of `fileSize` bytes whose first bytes are `head` looks like a header of
// `headerSize` bytes and then a save's blocks: whole blocks, 1 to 15 of them, the first
// beginning with "SC" and giving their count.
bool LooksLikeSaveFile(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                       std::size_t headerSize);

// A card file name made of a PC file's name, for the families that store none: bytes that
// can't stand in a card file name become '_', and the name keeps 20 characters.
std::string NameFromPcFile(const std::string& path);

}  // namespace ps1

// The class of a PS1 single-save family: a header of the family's own, then the blocks.
// Load reads the file whole and takes the save's name (and its directory frame, where the
// family stores one) from the header; Save and WriteConvertedFrom write the family's header
// for any PS1 save and then its blocks, and refuse a PS2 save.
class CPs1File : public CPs1Save {
 public:
  // Results as for ps1::ReadSaveFile; on failure the object keeps its previous state.
  LoadResult Load(const std::string& path) override;
  // Results as for ps1::WriteSaveFile.
  LoadResult Save(const std::string& path) override;
  LoadResult WriteConvertedFrom(const CSaveGame& source, const std::string& path) override;

 protected:
  CPs1File(int kind, std::size_t headerSize) : CPs1Save(kind), headerSize_(headerSize) {}

  // What a loaded file's header says: the card file name and the directory frame. kOk, or
  // kInvalid with `refusal` set.
  struct Named {
    std::string name;
    std::optional<ps1::DirFrame> frame;
  };
  virtual LoadResult ReadNames(const ps1::SaveFile& file, const std::string& path, Named& named) = 0;
  // The family's header for a copy of `source`, a PS1 save.
  virtual std::vector<std::uint8_t> MakeHeader(const CSaveGame& source) const = 0;

 private:
  LoadResult Write(const CSaveGame& source, const std::string& path, bool inPlace);

  std::size_t headerSize_;
};
