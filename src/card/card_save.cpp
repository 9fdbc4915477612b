#include "card/card_save.h"

#include "formats/psu/psu.h"
#include "model/dir_entry.h"

void CCardSave::RemoveEntry(int fileIndex) {
  const int before = FileCount();
  CSaveGame::RemoveEntry(fileIndex);
  const std::size_t at = static_cast<std::size_t>(fileIndex) + 1;
  if (FileCount() < before && at < attributes.size())
    attributes.erase(attributes.begin() + static_cast<std::ptrdiff_t>(at));
}

bool CCardSave::AddEntryFromDisk(const std::string& pcPath, std::string_view entryName) {
  const int before = FileCount();
  if (!CSaveGame::AddEntryFromDisk(pcPath, entryName)) return false;
  attributes.resize(static_cast<std::size_t>(before) + 1);
  attributes.push_back(0);
  return true;
}

namespace card {

std::uint32_t AttributesOf(const CSaveGame& save, std::size_t tablePosition) {
  if (const auto* cardSave = dynamic_cast<const CCardSave*>(&save)) {
    const auto& attributes = cardSave->attributes;
    return tablePosition < attributes.size() ? attributes[tablePosition] : 0;
  }
  if (const auto* psu = dynamic_cast<const CPsu*>(&save)) {
    // Header 0 is the directory, 1 and 2 are "." and "..", the files follow.
    const auto& headers = psu->headers;
    const std::size_t k = tablePosition == 0 ? 0 : tablePosition + 2;
    if (k < headers.size() && save.entries && headers.size() == save.entries->size() + 2)
      return DirEntry::Read(headers[k].data()).attr;
  }
  return 0;
}

}  // namespace card
