// Names from a save made safe to create on any PC file system.
//
// A name from a container is 32 bytes of anything. Before it becomes a file or folder
// name on the PC:
//   - "/" and "\" become "_", so no name reaches outside the folder it is written to;
//   - control characters and the characters Windows refuses in names (< > : " | ? *)
//     become "_";
//   - bytes that aren't valid UTF-8 become "_" (paths are UTF-8 text throughout);
//   - trailing dots and spaces become "_" (Windows would drop them silently), which
//     turns "." and ".." into "_" and "__"; an empty name becomes "_";
//   - the device names Windows reserves (CON, PRN, AUX, NUL, COM1-9, LPT1-9, in any
//     letter case and with any extension) get a leading "_".
// Within one folder two names that end up equal (in any letter case, since Windows
// and macOS compare names that way) are told apart by "~2", "~3", ... before the
// extension.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace io {

// The safe form of one name.
std::string SafeName(std::string_view name);

// Hands out safe names for the files of one folder, each distinct from the others.
class SafeNamer {
 public:
  // The name to write `name` under; changed() tells whether it differs from `name`.
  std::string Next(std::string_view name);
  bool changed() const { return changed_; }

 private:
  std::set<std::string> taken_;  // folded to lower case
  bool changed_ = false;
};

}  // namespace io
