// Every field of a save's icon.sys: the browser's background, its lights, the title and
// the names of the three icon files.
//
// icon.sys is exactly 964 bytes and begins with "PS2D". Little-endian throughout:
//
//   offset  width      field
//   0x00    4          "PS2D"
//   0x06    2          where line 2 of the title starts, in bytes
//   0x0C    4          background alpha, 0..0x80
//   0x10    4 x 16     background colour of the top left, top right, bottom left and
//                      bottom right corners: u32 R, G, B, unused, each 0..0x80
//   0x50    3 x 16     light directions: f32 x, y, z, unused
//   0x80    3 x 16     light colours: f32 R, G, B, unused, 0..1
//   0xB0    16         ambient light: f32 R, G, B, unused
//   0xC0    68         title, Shift-JIS
//   0x104   64         file name of the normal icon
//   0x144   64         file name of the icon shown while copying
//   0x184   64         file name of the icon shown while deleting
//
// The light directions are in the browser's axes (y up, z towards the viewer); the icon
// files use y down and z away, so drawing flips y and z.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "icon/icon_result.h"

namespace icon {

namespace sys {
inline constexpr std::size_t kSize = 964;
inline constexpr std::size_t kLine2Offset = 0x06;
inline constexpr std::size_t kAlphaOffset = 0x0C;
inline constexpr std::size_t kCornersOffset = 0x10;
inline constexpr std::size_t kLightDirectionsOffset = 0x50;
inline constexpr std::size_t kLightColoursOffset = 0x80;
inline constexpr std::size_t kAmbientOffset = 0xB0;
inline constexpr std::size_t kVectorSize = 16;  // four 32-bit words
inline constexpr std::size_t kTitleOffset = 0xC0;
inline constexpr std::size_t kTitleSize = 68;
inline constexpr std::size_t kIconNamesOffset = 0x104;
inline constexpr std::size_t kIconNameSize = 64;
}  // namespace sys

// Which of the three icons: the one the browser shows, the one while copying, the one
// while deleting (often all three name the same file).
enum class IconSlot { kNormal = 0, kCopy = 1, kDelete = 2 };

struct Colour8 {  // a corner colour as stored, 0..0x80 meaning 0..1
  std::uint32_t r = 0, g = 0, b = 0;
};
struct Vector3 {
  float x = 0, y = 0, z = 0;
};
struct ColourF {
  float r = 0, g = 0, b = 0;
};

struct IconSysFields {
  std::uint16_t line2Offset = 0;
  std::uint32_t backgroundAlpha = 0;
  std::array<Colour8, 4> corners{};  // top left, top right, bottom left, bottom right
  std::array<Vector3, 3> lightDirections{};
  std::array<ColourF, 3> lightColours{};
  ColourF ambient;
  std::array<std::uint8_t, sys::kTitleSize> title{};  // raw Shift-JIS, NULs included
  std::array<std::string, 3> iconNames;  // by IconSlot, each up to its first NUL

  const std::string& IconName(IconSlot slot) const {
    return iconNames[static_cast<std::size_t>(slot)];
  }
};

// Reads the fields of an icon.sys. Only the 964-byte "PS2D" layout is taken: the text
// form some homebrew folders carry ("PS2X") names no icon file, and a file of another
// length is refused rather than guessed at (the title reader refuses it too).
Result<IconSysFields> ParseIconSys(std::span<const std::uint8_t> bytes);

}  // namespace icon
