// A save's icon, found the way the browser finds it: the save's icon.sys names a file for
// each of its three icons, and that file is one of the save's entries.
#pragma once

#include <string>

#include "icon/icon_file.h"
#include "icon/icon_result.h"
#include "icon/icon_sys_fields.h"

class CSaveGame;

namespace icon {

// No icon file anywhere comes near this; a larger entry is refused before it is read.
inline constexpr std::uint32_t kMaxIconFileSize = 8u << 20;

struct SaveIcon {
  IconSysFields iconSys;
  std::string iconName;  // the entry the icon was read from
  Icon icon;
};

// Reads the save's first entry named exactly "icon.sys" and the entry it names for `slot`
// (names compare byte for byte: the memory card's names are case-sensitive). The bytes
// come from wherever each entry keeps them. Faults: kNoIconSys, kNoIconName,
// kIconMissing, kTooLarge, kReadFailed, and those of ParseIconSys and ParseIcon (whose
// messages then begin with the file's name).
Result<SaveIcon> LoadSaveIcon(const CSaveGame& save, IconSlot slot);

}  // namespace icon
