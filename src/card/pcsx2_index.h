// The _pcsx2_index file of a save folder on a PCSX2 folder card: YAML mapping "$ROOT" and
// each file's host name to {order, timeCreated, timeModified}. The emulator writes it as
// one line in flow style:
//
//   {$ROOT: {timeCreated: 1136214245, timeModified: 1136214245}, icon.sys: {order: 1, ...}}
//
// This reads that and the block style, with plain, single- and double-quoted names; it
// ignores keys it doesn't know and values that aren't integers. The text is capped
// (kMaxIndexBytes) by the caller and every loop consumes input, so a damaged file costs
// at most one pass over it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace card {

inline constexpr std::size_t kMaxIndexBytes = 1 << 20;
inline constexpr std::string_view kIndexRootKey = "$ROOT";

struct IndexRecord {
  std::string name;  // a file's host name, or "$ROOT"
  std::optional<std::int64_t> order;
  std::optional<std::int64_t> created;   // timeCreated
  std::optional<std::int64_t> modified;  // timeModified
};

struct FolderIndex {
  std::vector<IndexRecord> records;
  const IndexRecord* Find(std::string_view name) const;
};

// None when the text is not a mapping of that shape.
std::optional<FolderIndex> ParseFolderIndex(std::string_view text);

// The file as the emulator writes it: flow style on one line, then a newline. Records
// without a value leave that key out.
std::string WriteFolderIndex(const FolderIndex& index);

}  // namespace card
