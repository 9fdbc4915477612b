// The save's title, from its icon.sys file.
//
// icon.sys is exactly 964 bytes, begins with "PS2D", and holds the title the console
// shows at offset 192: 64 bytes of Shift-JIS, ended by the first NUL or the field's end.
// At offset 6 a 16-bit little-endian number gives the byte offset within the title where
// the second of its two lines starts (0: one line).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CSaveGame;

// The file a PS2 save's icons and title come from, named so to the byte.
inline constexpr std::string_view kIconSysName = "icon.sys";
inline constexpr std::size_t kIconSysSize = 964;
inline constexpr std::size_t kIconSysTitleOffset = 192;
inline constexpr std::size_t kIconSysTitleField = 64;

// The bytes of the save's icon.sys: its first entry named exactly "icon.sys" whose bytes
// can be read (one whose file is gone or cut short is passed over for the next), when that
// entry has 964 bytes beginning with "PS2D"; none otherwise.
std::optional<std::vector<std::uint8_t>> ReadIconSys(const CSaveGame& save);

// Copies the raw title of the save's first entry named exactly "icon.sys" into
// destination (at least 64 bytes): at most 63 bytes and a NUL. Returns 1, or 0 with
// destination untouched when there is no usable icon.sys.
int ReadIconSysTitle(const CSaveGame& save, std::span<char> destination);

// Converts a raw Shift-JIS title (up to its NUL or the end of raw) into single-byte text,
// mapping the common full-width characters to ASCII. The output is never longer than
// the input; destination gets a NUL. Returns destination.data().
char* TitleToAscii(std::span<const char> raw, std::span<char> destination);

// The title in full: the Shift-JIS title decoded to UTF-8, in the two lines the console
// shows.
struct FullTitle {
  bool found = false;  // a usable icon.sys was there
  std::string line1;   // UTF-8
  std::string line2;   // UTF-8, empty for a one-line title
  // Both lines, joined by a line break when there are two.
  std::string Joined() const;
};

// Looks for icon.sys as ReadIconSys does and decodes its title.
FullTitle ReadFullTitle(const CSaveGame& save);
