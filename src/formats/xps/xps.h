// X-Port (.xps) and SharkPort (.sps) files: one format under two extensions.
//
// The file is a sequence without alignment; integers are little-endian except the
// mode word inside an entry header, which is big-endian:
//
//   4            magicLength, then magicLength bytes of magic: "SharkPortSave"
//                (a NUL may follow it inside the stated length)
//   4            zeroWord, always 0
//   4 + n        title text, length-prefixed, no terminator
//   4 + n        subtitle text, likewise
//   4 + n        comment text, likewise
//   4            dataLength: bytes from the root header to the end of the last file's data
//   ...          the data area: the root's entry header, then per file its entry header
//                immediately followed by its data
//   4            checksum over the first dataLength bytes of the data area (XpsChecksum)
//
// An entry header is 250 bytes as this program writes it; a longer headerLength is
// read as 250 bytes followed by padding that the reader skips.
//
//   header offset  width  field
//   0x00           2      headerLength
//   0x02           64     name, NUL-padded (at most 32 characters are written)
//   0x42           4      size: root, the directory's entry count (files + 2); file, data length
//   0x46           4      second auxiliary word (aux2)
//   0x4A           4      first auxiliary word (aux1)
//   0x4E           2      mode, big-endian
//   0x50           2      zero
//   0x52           8      created (EntryTime)
//   0x5A           8      modified (EntryTime)
//   0x66           4      itemCount: root, the number of files; file, 1 (not read)
//   0x6A           8      extraTime: the time a file was added (not read)
//   0x72           64     title: root, the save title as ASCII; file, its name
//   0xB2           64     rawTitle: root, the title as icon.sys stores it; file, its name
//
// Every other byte of a loaded header is kept and written back unchanged by Save.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "formats/xps/xps_checksum.h"
#include "model/save_game.h"

namespace xps {
inline constexpr std::size_t kHeaderSize = 250;
inline constexpr std::size_t kHeaderLengthOffset = 0x00;
inline constexpr std::size_t kNameOffset = 0x02;
inline constexpr std::size_t kNameSize = 64;
inline constexpr std::size_t kSizeOffset = 0x42;
inline constexpr std::size_t kAux2Offset = 0x46;
inline constexpr std::size_t kAux1Offset = 0x4A;
inline constexpr std::size_t kModeOffset = 0x4E;
inline constexpr std::size_t kModeWordSize = 4;  // the big-endian mode and the zero after it
inline constexpr std::size_t kCreatedOffset = 0x52;
inline constexpr std::size_t kModifiedOffset = 0x5A;
inline constexpr std::size_t kItemCountOffset = 0x66;
inline constexpr std::size_t kExtraTimeOffset = 0x6A;
inline constexpr std::size_t kTitleOffset = 0x72;
inline constexpr std::size_t kRawTitleOffset = 0xB2;
inline constexpr std::size_t kTitleSize = 64;

// Names a loaded entry keeps: the root's whole (32 characters), a file's up to 33.
inline constexpr std::size_t kRootNameChars = kFolderNameKept;
inline constexpr std::size_t kFileNameChars = 33;

inline constexpr std::string_view kMagic = "SharkPortSave";
inline constexpr std::string_view kSignature = "Made using file converter by velloquin";

// No text in a real file comes near a memory card's whole capacity (8 MiB); a longer
// stated length means a damaged file, and nothing that large is allocated.
inline constexpr std::uint32_t kMaxTextLength = 16u << 20;
}  // namespace xps

// The content check: the length-prefixed magic "SharkPortSave".
bool LooksLikeXps(std::span<const std::uint8_t> head, std::uint64_t fileSize);

using XpsEntryHeader = std::array<std::uint8_t, xps::kHeaderSize>;

// The fields in front of the data area, exactly as stored (texts without terminator).
struct XpsFileHeader {
  std::uint32_t magicLength = 0;
  std::vector<std::uint8_t> magic;
  std::uint32_t zeroWord = 0;
  std::uint32_t titleLength = 0;
  std::vector<std::uint8_t> titleText;
  std::uint32_t subtitleLength = 0;
  std::vector<std::uint8_t> subtitleText;
  std::uint32_t commentLength = 0;
  std::vector<std::uint8_t> commentText;
  std::uint32_t dataLength = 0;

  friend bool operator==(const XpsFileHeader&, const XpsFileHeader&) = default;
};

namespace xps {
// What a load asks when the root entry is not marked as a directory.
inline constexpr std::string_view kNotDirectoryQuestion = "First entry is not a directory.\nDo you want to load it anyway?";
inline constexpr std::string_view kNotDirectoryCaption = "Invalid format";
}  // namespace xps

class CXps : public CSaveGame {
 public:
  CXps() : CSaveGame(kKindXps) {}
  ~CXps() override = default;

  void SetName(int entryIndex, std::string_view text) override;
  void SetMode(int entryIndex, std::uint32_t mode) override;
  void RemoveEntry(int fileIndex) override;
  bool AddEntryFromDisk(const std::string& pcPath, std::string_view entryName) override;
  bool ReplaceEntryFromDisk(const std::string& pcPath, int tablePosition) override;
  void SetCreated(int entryIndex, const EntryTime& time) override;
  void SetModified(int entryIndex, const EntryTime& time) override;

  // The fields in front of the data area; dataLength follows every edit.
  std::optional<XpsFileHeader> fileHeader;
  // One entry header per table position (0 the root), as loaded and then edited.
  std::vector<XpsEntryHeader> headers;

 protected:
  // Results: kOk; kTruncated the file ends within its first 4 bytes; kReadFailed bytes
  // the file holds can't be read; kNeedsAnswer, then kNotDirectory unless answered Yes,
  // the root is not a directory (kNotDirectoryQuestion); kInvalid the magic is not
  // "SharkPortSave", zeroWord is not 0, or the file is damaged: a text length, header
  // length or file size reaches past the end of the file, a text is longer than
  // kMaxTextLength, the root counts fewer than 2 entries, it counts more file headers than
  // the file can hold, the padding of longer headers adds up to more than dataLength, or a
  // file's data starts beyond 4 GiB. The whole structure is checked before the root
  // question is asked.
  LoadResult Read(const io::ByteSource& source) override;
  // Results: kOk; kOpenFailed a data source can't be read whole, or a write failed;
  // kReplaceFailed and kSavedInPlace as for every in-place save; kInvalid nothing loaded.
  LoadResult Write(io::ByteSink& out) override;
  // As Write, and kInvalid when the source has no table or its data area passes 4 GiB.
  LoadResult WriteConverted(const CSaveGame& source, io::ByteSink& out) override;
  // The root's title fields are the file's own, kept as they were loaded.
  bool ReadRawTitle() override { return false; }

 private:
  XpsEntryHeader* HeaderOf(int entryIndex);
};
