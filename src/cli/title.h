// The save's title in full: the Shift-JIS title of icon.sys decoded to UTF-8, in the two
// lines the console shows. icon.sys holds at offset 6 a 16-bit little-endian number, the
// byte offset within the title where the second line starts (0: one line).
#pragma once

#include <string>

class CSaveGame;

namespace cli {

struct FullTitle {
  bool found = false;  // a usable icon.sys was there
  std::string line1;   // UTF-8
  std::string line2;   // UTF-8, empty for a one-line title
  // Both lines, joined by a line break when there are two.
  std::string Joined() const;
};

// Looks for icon.sys as the title refresh does: the first entry named exactly "icon.sys",
// 964 bytes, beginning with "PS2D" (an entry whose data can't be read is passed over).
FullTitle ReadFullTitle(const CSaveGame& save);

}  // namespace cli
