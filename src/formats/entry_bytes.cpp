#include "formats/entry_bytes.h"

#include <cstring>

DataResult CopyEntryInto(EntryDataReader& reader, const SaveEntry& entry,
                         const io::ByteSource* container, std::span<std::uint8_t> destination) {
  if (destination.size() != entry.size) return DataResult::kSinkFailed;
  std::size_t filled = 0;
  const DataResult r =
      reader.Copy(entry, container, [&](std::span<const std::uint8_t> piece) {
        if (piece.size() > destination.size() - filled) return false;
        if (!piece.empty()) std::memcpy(destination.data() + filled, piece.data(), piece.size());
        filled += piece.size();
        return true;
      });
  if (r == DataResult::kOk && filled != destination.size()) return DataResult::kShort;
  return r;
}
