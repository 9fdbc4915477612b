// The first block of a PlayStation 1 save: its magic, icon, block count and title.
//
//   offset  width  field
//   0x00    2      "SC" (real cards also hold "CS" and 0x43 0x00, with a normal header)
//   0x02    1      icon frames: 0x11, 0x12, 0x13 for 1, 2, 3 (animated when more than one)
//   0x03    1      the save's block count
//   0x04    64     title, Shift-JIS (full-width and ASCII mixed), ended by the first NUL;
//                  bytes after it are junk
//   0x60    32     icon palette: 16 colours of 16 bits: red in bits 0-4, green 5-9, blue
//                  10-14, bit 15 the semi-transparency flag; 0x0000 is transparent
//   0x80    128 n  icon frames: 16 x 16 pixels of 4 bits, the low nibble the left pixel
//
// The card file name says where the game was sold: "B", then I (Japan), A (America) or
// E (Europe), then the 10-character product code and the game's own text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ps1 {

inline constexpr std::size_t kMagicSize = 2;
inline constexpr std::size_t kIconFlagOffset = 0x02;
inline constexpr std::size_t kBlockCountOffset = 0x03;
inline constexpr std::size_t kTitleOffset = 0x04;
inline constexpr std::size_t kTitleSize = 64;
inline constexpr std::size_t kPaletteOffset = 0x60;
inline constexpr std::size_t kPaletteColours = 16;
inline constexpr std::size_t kIconOffset = 0x80;
inline constexpr std::size_t kIconFrameSize = 128;
inline constexpr int kIconSide = 16;
inline constexpr int kMaxIconFrames = 3;
// The bytes the header and the most icon frames take.
inline constexpr std::size_t kHeaderBytes = kIconOffset + kMaxIconFrames * kIconFrameSize;

enum class Magic {
  kNone,  // none of the three: not a save's first block
  kSc,    // "SC", what the console writes
  kCs,    // "CS"
  kC0,    // 0x43 0x00
};

// The magic at the start of a block (kNone for fewer than 2 bytes).
Magic MagicOf(std::span<const std::uint8_t> block);

struct SaveHeader {
  Magic magic = Magic::kNone;
  // 1 to 3 from 0x11..0x13; any other value is drawn as one frame.
  int iconFrames = 1;
  int blocks = 0;            // the block count the save gives itself
  std::string rawTitle;      // Shift-JIS, up to the first NUL
  std::string title;         // the same in UTF-8
  std::array<std::uint16_t, kPaletteColours> palette{};
  // The icon frames as stored, 128 bytes each.
  std::array<std::array<std::uint8_t, kIconFrameSize>, kMaxIconFrames> frames{};
};

// The header at the start of a save's first block; none when the bytes are fewer than a
// header with its frames (kHeaderBytes) or begin with no known magic.
std::optional<SaveHeader> ReadHeader(std::span<const std::uint8_t> firstBlock);

enum class Region { kUnknown, kJapan, kAmerica, kEurope };
// The region a card file name gives.
Region RegionOf(std::string_view cardFileName);
// "Japan", "America", "Europe" or "unknown".
std::string_view RegionName(Region region);

}  // namespace ps1
