#include "icon/save_icon.h"

#include <string_view>
#include <vector>

#include "model/entry_data.h"
#include "model/icon_sys.h"
#include "model/save_game.h"

namespace icon {

namespace {

constexpr const char* kSlotNames[] = {"normal", "copy", "delete"};
constexpr std::uint32_t kMaxIconSysRead = 64 * 1024;

const SaveEntry* FindFile(const CSaveGame& save, std::string_view name) {
  for (int i = 0; i < save.FileCount(); ++i) {
    const SaveEntry* entry = save.EntryAt(i);
    if (entry && entry->Name() == name) return entry;
  }
  return nullptr;
}

Result<std::vector<std::uint8_t>> ReadEntry(const CSaveGame& save, const SaveEntry& entry,
                                            std::uint32_t cap) {
  const std::string name(entry.Name());
  if (entry.size > cap)
    return Error{Fault::kTooLarge, name + " is " + std::to_string(entry.size) +
                                       " bytes: more than an icon file can be"};
  std::vector<std::uint8_t> bytes;
  switch (ReadEntryData(entry, save.container.get(), bytes)) {
    case DataResult::kOk:
      return bytes;
    case DataResult::kShort:
      return Error{Fault::kReadFailed, name + ": its data ends early"};
    default:
      return Error{Fault::kReadFailed, name + ": cannot read its data"};
  }
}

}  // namespace

Result<SaveIcon> LoadSaveIcon(const CSaveGame& save, IconSlot slot) {
  const SaveEntry* sysEntry = FindFile(save, kIconSysName);
  if (!sysEntry) return Error{Fault::kNoIconSys, "the save has no icon.sys"};
  // Any other length is refused after reading, to tell the text form apart; a huge
  // one is not worth reading for that.
  if (sysEntry->size > kMaxIconSysRead)
    return Error{Fault::kIconSysSize, "icon.sys is " + std::to_string(sysEntry->size) +
                                          " bytes; a PS2D icon.sys has 964"};
  auto sysBytes = ReadEntry(save, *sysEntry, kMaxIconSysRead);
  if (!sysBytes) return sysBytes.error();
  auto sys = ParseIconSys(sysBytes.value());
  if (!sys) return sys.error();

  SaveIcon out;
  out.iconSys = std::move(sys.value());
  out.iconName = out.iconSys.IconName(slot);
  const std::string slotName = kSlotNames[static_cast<std::size_t>(slot)];
  if (out.iconName.empty())
    return Error{Fault::kNoIconName, "icon.sys names no " + slotName + " icon"};
  const SaveEntry* iconEntry = FindFile(save, out.iconName);
  if (!iconEntry)
    return Error{Fault::kIconMissing, "the " + slotName + " icon \"" + out.iconName +
                                          "\" that icon.sys names is not in the save"};
  auto iconBytes = ReadEntry(save, *iconEntry, kMaxIconFileSize);
  if (!iconBytes) return iconBytes.error();
  auto parsed = ParseIcon(iconBytes.value());
  if (!parsed) {
    Error e = parsed.error();
    e.message = out.iconName + ": " + e.message;
    return e;
  }
  out.icon = std::move(parsed.value());
  return out;
}

}  // namespace icon
