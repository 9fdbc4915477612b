// The PlayStation 1 memory card's directory frame: one 128-byte entry per data block.
//
//   offset  width  field
//   0x00    4      state: 0x51 first block of a save, 0x52 middle, 0x53 last; 0xA0 free;
//                  0xA1, 0xA2, 0xA3 the same three of a deleted save
//   0x04    4      size of the whole save in bytes (a multiple of 8192) on its first block,
//                  0 on the others
//   0x08    2      index (0-based: block - 1) of the save's next block; 0xFFFF on the last
//   0x0A    21     card file name, ASCII, NUL-terminated unless it has all 20 characters
//   0x7F    1      XOR of bytes 0x00..0x7E
//
// The other bytes are usually zero, but real cards hold other values there: a frame is
// kept whole, and a change touches only its own field and the XOR check.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ps1 {

inline constexpr std::size_t kFrameSize = 128;
inline constexpr std::size_t kBlockSize = 8192;
inline constexpr std::size_t kSaveBlocks = 15;  // data blocks on a card: the most a save takes
inline constexpr std::size_t kMaxSaveSize = kSaveBlocks * kBlockSize;
inline constexpr std::size_t kCardNameChars = 20;  // a card file name's longest

inline constexpr std::size_t kStateOffset = 0x00;
inline constexpr std::size_t kSizeOffset = 0x04;
inline constexpr std::size_t kNextOffset = 0x08;
inline constexpr std::size_t kNameOffset = 0x0A;
inline constexpr std::size_t kNameField = 21;
inline constexpr std::size_t kXorOffset = 0x7F;

inline constexpr std::uint32_t kStateFirst = 0x51;
inline constexpr std::uint32_t kStateMiddle = 0x52;
inline constexpr std::uint32_t kStateLast = 0x53;
inline constexpr std::uint32_t kStateFree = 0xA0;
inline constexpr std::uint32_t kStateDeletedFirst = 0xA1;
inline constexpr std::uint32_t kStateDeletedMiddle = 0xA2;
inline constexpr std::uint32_t kStateDeletedLast = 0xA3;
inline constexpr std::uint16_t kNoNext = 0xFFFF;

// The XOR of a frame's bytes 0x00..0x7E: what its byte 0x7F holds.
std::uint8_t XorCheck(std::span<const std::uint8_t, kFrameSize> frame);

// True for a card file name: 1 to 20 bytes, each printable ASCII (0x20..0x7E).
bool IsCardFileName(std::string_view name);

struct DirFrame {
  std::array<std::uint8_t, kFrameSize> bytes{};

  std::uint32_t State() const;
  std::uint32_t Size() const;
  std::uint16_t Next() const;
  // The name up to its NUL, at most 20 characters.
  std::string Name() const;
  bool XorValid() const;

  // Each sets its field only; Seal sets the XOR check after a change.
  void SetState(std::uint32_t state);
  void SetSize(std::uint32_t size);
  void SetNext(std::uint16_t next);
  // At most 20 characters; the rest of the 21-byte field is zeroed.
  void SetName(std::string_view name);
  void Seal();

  // The frame a save's first block gets when nothing older is known: a save of `size`
  // bytes named `name`, with no next block, every other byte zero, sealed.
  static DirFrame FirstOf(std::string_view name, std::uint32_t size);

  friend bool operator==(const DirFrame&, const DirFrame&) = default;
};

}  // namespace ps1
