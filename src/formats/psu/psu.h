// Memory Linker .psu files: a flat image of one memory-card directory.
//
// The file is a run of 512-byte directory-entry headers. The first describes the
// directory and counts the headers that follow ("." and ".." included); each file's
// header is followed by its data, padded to a multiple of 1024 bytes (this program
// pads with 0xFF; the reader never looks at the padding). Little-endian throughout.
//
//   header offset  width  field
//   0x00           4      mode (all 32 bits)
//   0x04           4      directory: headers that follow; file: data length
//   0x08           8      created (EntryTime)
//   0x10           1      low byte of aux1 when converted from X-Port, else 0
//   0x11           1      low byte of aux2, likewise
//   0x18           8      modified (EntryTime)
//   0x40           32     name, NUL-padded (a 32-character name has no NUL)
//
// Every other byte is kept as loaded and written back unchanged by Save.
//
// The layout this reader takes: the directory header, "." and ".." (both marked as
// directories, no data), then file headers, each followed by its data. A file header
// always has its data after it, even when its mode carries the Directory flag, so that
// a flag changed by the user never separates a file from its bytes.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "model/dir_entry.h"
#include "model/save_game.h"

namespace psu {
// The headers are memory-card directory entries (model/dir_entry.h); the fields this
// format gives its own meaning are the two bytes that carry X-Port's auxiliary words.
inline constexpr std::size_t kHeaderSize = dirent::kSize;
inline constexpr std::size_t kBlock = 1024;
inline constexpr std::size_t kModeOffset = dirent::kModeOffset;
inline constexpr std::size_t kSizeOffset = dirent::kLengthOffset;
inline constexpr std::size_t kCreatedOffset = dirent::kCreatedOffset;
inline constexpr std::size_t kAux1Offset = dirent::kClusterOffset;
inline constexpr std::size_t kAux2Offset = dirent::kClusterOffset + 1;
inline constexpr std::size_t kModifiedOffset = dirent::kModifiedOffset;
inline constexpr std::size_t kNameOffset = dirent::kNameOffset;
inline constexpr std::size_t kNameSize = dirent::kNameSize;

using Header = std::array<std::uint8_t, kHeaderSize>;

// Bytes of padding after data of this length.
inline std::uint64_t PaddingFor(std::uint64_t size) { return (kBlock - size % kBlock) % kBlock; }
}  // namespace psu

// The content check: a directory header, then headers named "." and "..".
bool LooksLikePsu(std::span<const std::uint8_t> head, std::uint64_t fileSize);

class CPsu : public CSaveGame {
 public:
  CPsu() : CSaveGame(kKindPsu) {}
  ~CPsu() override = default;

  std::unique_ptr<SaveStreamWriter> StreamWriter(const std::string& path) override;

  void SetName(int entryIndex, std::string_view text) override;
  void SetMode(int entryIndex, std::uint32_t mode) override;
  void RemoveEntry(int fileIndex) override;
  bool AddEntryFromDisk(const std::string& pcPath, std::string_view entryName) override;
  bool ReplaceEntryFromDisk(const std::string& pcPath, int tablePosition) override;
  void SetCreated(int entryIndex, const EntryTime& time) override;
  void SetModified(int entryIndex, const EntryTime& time) override;

  // Every header of the loaded file in file order: the directory, ".", "..", then one
  // per file (header k >= 3 belongs to table position k - 2). Empty until a Load.
  std::vector<psu::Header> headers;

 protected:
  // Results: kOk; kReadFailed the file is shorter than its headers and data announce;
  // kNotDirectory the first header is not a directory; kInvalid "." or ".." is not marked
  // as a directory, or the directory counts fewer than two entries.
  LoadResult Read(const io::ByteSource& source) override;
  // Results: kOk; kOpenFailed the target or a data source can't be opened or read whole,
  // or a write failed; kReplaceFailed and kSavedInPlace as for every in-place save.
  LoadResult Write(io::ByteSink& out) override;
  LoadResult WriteConverted(const CSaveGame& source, io::ByteSink& out) override;

 private:
  psu::Header* HeaderOf(int entryIndex);
};
