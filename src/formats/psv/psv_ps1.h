// PS3 exports (.psv) of PlayStation 1 saves: the signed header a PS2 export has, a PS1
// part, then the save's blocks. Little-endian throughout.
//
//   offset  width  field
//   0x00    0x38   as for every export: "\0VSP", seed, signature (PS1 key), zeros
//   0x38    4      0x14
//   0x3C    4      1: a PS1 save
//   0x40    4      the size of the blocks
//   0x44    4      0x84: where they start
//   0x48    4      0x200
//   0x5C    4      the size again (a file made by a PC tool has 8192 here for a 2-block
//                  save: the size is read at 0x40)
//   0x60    4      03 90 00 00
//   0x64    20     the card file name, NUL-padded
//   0x84    8192 n the blocks, from "SC"
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/save_game.h"

namespace psv {
inline constexpr std::size_t kPs1HeaderSize = 0x84;
inline constexpr std::uint32_t kPs1InfoSize = 0x14;
inline constexpr std::size_t kPs1DataSizeOffset = 0x40;
inline constexpr std::size_t kPs1DataOffsetOffset = 0x44;
inline constexpr std::size_t kPs1FixedOffset = 0x48;
inline constexpr std::uint32_t kPs1FixedValue = 0x200;
inline constexpr std::size_t kPs1DataSizeCopyOffset = 0x5C;
inline constexpr std::size_t kPs1MarkOffset = 0x60;
inline constexpr std::size_t kPs1NameOffset = 0x64;
inline constexpr std::size_t kPs1NameSize = 20;

// The whole file of a PS1 export read into `file`: its size checked against the size at
// 0x40 before anything is allocated, and its blocks against ps1::BlocksProblem. Results:
// kOk; kReadFailed the file is shorter than its header and blocks, or can't be read;
// kInvalid a size that is not 1 to 15 blocks, bytes after the blocks, or blocks that are no
// PS1 save (`refusal` says why).
LoadResult ReadPs1File(const io::ByteSource& source, std::vector<std::uint8_t>& file, std::string& refusal);
// The card file name at 0x64 of a file ReadPs1File read.
std::string Ps1Name(std::span<const std::uint8_t> file);

// Writes the PS1 save `source` as a signed PS1 export. Results as for every writer: kOk
// or kSavedInPlace; kOpenFailed its blocks can't be read or the target can't be written;
// kReplaceFailed; kInvalid blocks that are no PS1 save (`refusal` says why) or the crypto
// library failed.
LoadResult WritePs1Export(const CSaveGame& source, io::ByteSink& out, std::string& refusal);
}  // namespace psv
