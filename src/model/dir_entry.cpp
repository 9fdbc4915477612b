#include "model/dir_entry.h"

#include <algorithm>
#include <cstring>

#include "model/bytes.h"

DirEntry DirEntry::Read(const std::uint8_t* p) {
  DirEntry e;
  e.mode = bytes::GetU32LE(p + dirent::kModeOffset);
  e.length = bytes::GetU32LE(p + dirent::kLengthOffset);
  e.created = EntryTime::FromBytes(p + dirent::kCreatedOffset);
  e.cluster = bytes::GetU32LE(p + dirent::kClusterOffset);
  e.dirEntry = bytes::GetU32LE(p + dirent::kDirEntryOffset);
  e.modified = EntryTime::FromBytes(p + dirent::kModifiedOffset);
  e.attr = bytes::GetU32LE(p + dirent::kAttrOffset);
  std::memcpy(e.name.data(), p + dirent::kNameOffset, dirent::kNameSize);
  return e;
}

void DirEntry::Write(std::uint8_t* p) const {
  bytes::PutU32LE(p + dirent::kModeOffset, mode);
  bytes::PutU32LE(p + dirent::kLengthOffset, length);
  created.ToBytes(p + dirent::kCreatedOffset);
  bytes::PutU32LE(p + dirent::kClusterOffset, cluster);
  bytes::PutU32LE(p + dirent::kDirEntryOffset, dirEntry);
  modified.ToBytes(p + dirent::kModifiedOffset);
  bytes::PutU32LE(p + dirent::kAttrOffset, attr);
  std::memcpy(p + dirent::kNameOffset, name.data(), dirent::kNameSize);
}

std::string_view DirEntry::Name() const {
  std::size_t n = 0;
  while (n < name.size() && name[n] != '\0') ++n;
  return std::string_view(name.data(), n);
}

void DirEntry::SetName(std::string_view text) {
  name.fill('\0');
  std::size_t n = std::min({text.size(), name.size(), text.find('\0')});
  std::memcpy(name.data(), text.data(), n);
}
