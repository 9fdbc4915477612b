// The memory card's 512-byte directory entry. A .psu file is a run of these records (its
// headers are card entries dumped as they are), so the layout is defined once, here.
// Little-endian throughout.
//
//   offset  width  field
//   0x00    2      mode (the card pads it with 2 bytes of 0; .psu files keep all 32 bits)
//   0x04    4      length: a file's bytes; a directory's entries, "." and ".." and
//                  deleted slots included
//   0x08    8      created (EntryTime)
//   0x10    4      first cluster, relative to the card's allocation area (0xFFFFFFFF for
//                  an empty file); "." holds the parent's first cluster
//   0x14    4      dir_entry: in ".", this directory's index in its parent
//   0x18    8      modified (EntryTime)
//   0x20    4      attr
//   0x40    32     name, NUL-padded (a 32-character name has no NUL)
//
// Every other byte is zero on a card.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/entry.h"

namespace dirent {
inline constexpr std::size_t kSize = 512;
inline constexpr std::size_t kModeOffset = 0x00;
inline constexpr std::size_t kLengthOffset = 0x04;
inline constexpr std::size_t kCreatedOffset = 0x08;
inline constexpr std::size_t kClusterOffset = 0x10;
inline constexpr std::size_t kDirEntryOffset = 0x14;
inline constexpr std::size_t kModifiedOffset = 0x18;
inline constexpr std::size_t kAttrOffset = 0x20;
inline constexpr std::size_t kNameOffset = 0x40;
inline constexpr std::size_t kNameSize = 32;

inline constexpr std::uint32_t kNoCluster = 0xFFFFFFFF;
}  // namespace dirent

// The named fields of one entry.
struct DirEntry {
  std::uint32_t mode = 0;  // all 32 bits as stored
  std::uint32_t length = 0;
  EntryTime created;
  std::uint32_t cluster = 0;
  std::uint32_t dirEntry = 0;
  EntryTime modified;
  std::uint32_t attr = 0;
  std::array<char, dirent::kNameSize> name{};

  // Reads the fields of the record at p (kSize bytes).
  static DirEntry Read(const std::uint8_t* p);
  // Writes the fields into the record at p; bytes outside them are left as they are.
  void Write(std::uint8_t* p) const;

  // The name up to its first NUL (all 32 bytes when there is none).
  std::string_view Name() const;
  // Sets the name: at most 32 bytes, stopping at a NUL, the rest NUL.
  void SetName(std::string_view text);
};
