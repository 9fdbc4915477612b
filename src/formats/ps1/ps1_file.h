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

// Reads the file as `headerSize` bytes and 1 to 15 blocks. Results: kOk; kReadFailed it
// can't be read; kInvalid its size is not the header and whole blocks, or its blocks are no
// PS1 save (BlocksProblem), with the reason in `refusal`.
LoadResult ReadSaveFile(const io::ByteSource& source, std::size_t headerSize, SaveFile& file,
                        std::string& refusal);

// Writes the PS1 save `source` as `header` followed by its blocks. Results: kOk, or
// kSavedInPlace; kOpenFailed the blocks can't be read or the target can't be written;
// kReplaceFailed as for every in-place save; kInvalid `source` holds a PS2 save or blocks
// that are no PS1 save (`refusal` says why).
LoadResult WriteSaveFile(const CSaveGame& source, std::span<const std::uint8_t> header, io::ByteSink& out,
                         std::string& refusal);

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
 protected:
  // Results as for ps1::ReadSaveFile.
  LoadResult Read(const io::ByteSource& source) override;
  // Results as for ps1::WriteSaveFile.
  LoadResult Write(io::ByteSink& out) override;
  LoadResult WriteConverted(const CSaveGame& source, io::ByteSink& out) override;

  CPs1File(int kind, std::size_t headerSize) : CPs1Save(kind), headerSize_(headerSize) {}

  // What a loaded file's header says: the card file name and the directory frame. kOk, or
  // kInvalid with `refusal` set. `fileName` is the file's own name, for a family that
  // stores none.
  struct Named {
    std::string name;
    std::optional<ps1::DirFrame> frame;
  };
  virtual LoadResult ReadNames(const ps1::SaveFile& file, const std::string& fileName, Named& named) = 0;
  // The family's header for a copy of `source`, a PS1 save.
  virtual std::vector<std::uint8_t> MakeHeader(const CSaveGame& source) const = 0;

 private:
  LoadResult WriteAs(const CSaveGame& source, io::ByteSink& out);

  std::size_t headerSize_;
};
