// CodeBreaker (.cbs) files: a fixed header, then the body: RC4 over a zlib stream of the
// files' records (see cbs_body.h for the body and the records). Little-endian throughout.
//
//   header offset  width  field
//   0x00           4      "CFU\0"
//   0x04           4      0x1F40 in every known file
//   0x08           4      the header's size, where the body starts: 0x128
//   0x0C           4      length of the records once inflated: the sum of 64 + size
//   0x10           4      the whole file's length (devices); some PC tools store the
//                         body's length. The reader takes neither, only the real length
//   0x14           32     folder name, NUL-padded
//   0x34           8      folder created (EntryTime)
//   0x3C           8      folder modified
//   0x44           4      0
//   0x48           4      the folder's mode; a PC tool writes 0, read as 0x8427
//   0x4C           16     zero
//   0x5C           72     the title as ASCII: the icon.sys title's two lines joined
//   0xA4           132    a description, empty in every known file
//
// The records carry each file's times and mode; the folder's are in the header. Only
// files are stored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "model/save_game.h"


namespace cbs {
inline constexpr std::size_t kHeaderSize = 0x128;
inline constexpr std::string_view kMagic{"CFU\0", 4};
inline constexpr std::size_t kVersionOffset = 0x04;
inline constexpr std::uint32_t kVersion = 0x1F40;
inline constexpr std::size_t kBodyOffsetOffset = 0x08;
inline constexpr std::size_t kInflatedSizeOffset = 0x0C;
inline constexpr std::size_t kFileLengthOffset = 0x10;
inline constexpr std::size_t kFolderOffset = 0x14;
inline constexpr std::size_t kFolderSize = 32;
inline constexpr std::size_t kCreatedOffset = 0x34;
inline constexpr std::size_t kModifiedOffset = 0x3C;
inline constexpr std::size_t kModeOffset = 0x48;
inline constexpr std::size_t kTitleOffset = 0x5C;
inline constexpr std::size_t kTitleSize = 72;

// A body longer than this for its inflated size can't be a zlib stream of it, even one
// made of fixed-code blocks (at most 9 bits a byte) or stored blocks: such a file is
// refused before the body is read into memory.
inline constexpr std::uint64_t MaxBodyFor(std::uint32_t inflated) {
  return std::uint64_t{inflated} + inflated / 4 + 4096;
}

using Header = std::array<std::uint8_t, kHeaderSize>;
}  // namespace cbs

// The content check: "CFU\0" and room for the header.
bool LooksLikeCbs(std::span<const std::uint8_t> head, std::uint64_t fileSize);

// The save of a CodeBreaker file, with every file's bytes in memory. The edits are the
// table-only ones of CSaveGame; Save writes the header as loaded with the folder's
// name, times and mode, the sizes and the body made anew.
class CCbs : public CSaveGame {
 public:
  CCbs() : CSaveGame(kKindCbs) {}
  ~CCbs() override = default;

  // The header as loaded; none until a Load.
  std::optional<cbs::Header> header;

 protected:
  // Results: kOk; kReadFailed it is shorter than the header or can't be read; kInvalid not
  // "CFU\0", a body that starts outside the file, an inflated size over 64 MiB or more than
  // the body could hold, a body that doesn't inflate to exactly that size (damaged, cut
  // short, longer, a wrong Adler-32, bytes after the stream), or records that don't fit
  // it; kNoMemory.
  LoadResult Read(const io::ByteSource& source) override;
  // Results: kOk; kOpenFailed an entry's data can't be read whole, or a write failed;
  // kReplaceFailed and kSavedInPlace as for every in-place save; kInvalid nothing to
  // write, or records over 64 MiB (`refusal` says so); kNoMemory no memory or zlib failed.
  LoadResult Write(io::ByteSink& out) override;
  LoadResult WriteConverted(const CSaveGame& source, io::ByteSink& out) override;
};
