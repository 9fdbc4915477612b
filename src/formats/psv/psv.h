// PS3 exports (.psv): a signed header, then a PlayStation 2 or a PlayStation 1 save, as
// the word at 0x3C says. For a PS2 save, the save's folder record, one record per file,
// then the files' data; a PS1 save is laid out as psv_ps1.h describes. Little-endian
// throughout.
//
//   offset  width  field
//   0x00    4      00 56 53 50 ("\0VSP")
//   0x04    4      0
//   0x08    20     seed of the signature (see psv_sign.h)
//   0x1C    20     signature: HMAC-SHA1 of the whole file with 0x1C..0x2F as zero
//   0x30    8      zero
//   0x38    4      0x2C for a PS2 save (0x14 for a PS1 save)
//   0x3C    4      2 = PS2 save, 1 = PS1 save (the rest as psv_ps1.h has it)
//   0x40    4      displaySize: the card space the save takes, in bytes: the sum of each
//                  file's size rounded up to 1 KiB, and the folder's entries (files + 2,
//                  512 bytes each) rounded up to 1 KiB
//   0x44    8      offset and size of icon.sys (0 when there is none)
//   0x4C    24     offset and size of the normal, copy and delete icons: the files icon.sys
//                  names (often one file three times; 0 when icon.sys names no such file)
//   0x64    4      number of files
//   0x68    56     the folder: created (8), modified (8), files + 2 (4), mode (4), name (32)
//   0xA0    60 n   per file: created (8), modified (8), size (4), mode (4), name (32),
//                  offset of its data (4)
//
// The data follows the records in record order, each file's at a 4-byte boundary, zeros
// in between and after the last up to a multiple of 4. The reader takes each file's data
// from the offset its record gives. A PS3 leaves bytes after the NUL of a name: names are
// read up to their NUL, and a loaded file keeps those bytes for Save. A PS3 homebrew tool
// stores modes in the upper 16 bits of their words (0x84270000), read as 0x8427.
//
// The seed of a written file depends on nothing but its contents (psv::SeedMaker), so
// the same save always gives the same file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "formats/ps1/ps1_save.h"
#include "formats/psv/psv_sign.h"
#include "model/save_game.h"


namespace psv {
inline constexpr std::string_view kMagic{"\0VSP", 4};
inline constexpr std::size_t kInfoSizeOffset = 0x38;
inline constexpr std::uint32_t kPs2InfoSize = 0x2C;
inline constexpr std::size_t kDisplaySizeOffset = 0x40;
inline constexpr std::size_t kIconSysOffset = 0x44;  // position, then size
inline constexpr std::size_t kIconsOffset = 0x4C;    // normal, copy, delete: position and size
inline constexpr std::size_t kFileCountOffset = 0x64;
inline constexpr std::size_t kFolderRecordOffset = 0x68;
inline constexpr std::size_t kFolderRecordSize = 56;
inline constexpr std::size_t kFileRecordsOffset = 0xA0;
inline constexpr std::size_t kFileRecordSize = 60;
inline constexpr std::size_t kRecordCreatedOffset = 0;
inline constexpr std::size_t kRecordModifiedOffset = 8;
inline constexpr std::size_t kRecordSizeOffset = 16;  // the folder's: files + 2
inline constexpr std::size_t kRecordModeOffset = 20;
inline constexpr std::size_t kRecordNameOffset = 24;
inline constexpr std::size_t kRecordNameSize = 32;
inline constexpr std::size_t kRecordDataOffset = 56;  // files only
inline constexpr std::size_t kDataAlignment = 4;

// The largest file written, and read: a PS2 memory card holds 8 MiB, so no save comes
// near it, and the whole file is put together in memory (and read whole to check it).
inline constexpr std::uint64_t kMaxFileSize = 64u << 20;

// Gives a whole file put together in memory its content seed and its signature (the kind
// its header names decides the key), and writes it. Results as for every writer: kOk or
// kSavedInPlace; kOpenFailed the target can't be written; kReplaceFailed; kInvalid the
// crypto library failed.
LoadResult SealAndWrite(std::vector<std::uint8_t>& file, io::ByteSink& out);

// The card's space for a save (displaySize).
std::uint64_t DisplaySize(std::span<const std::uint32_t> fileSizes);

using NameField = std::array<std::uint8_t, kRecordNameSize>;

inline constexpr const char* kSignatureQuestion =
    "PS3 signature computed doesn't match stored.\nDo you want to load it anyway?";
inline constexpr const char* kSignatureCaption = "Invalid format";
inline constexpr const char* kTooLargeRefusal =
    "This file is larger than a PS3 export of a PS2 save can be (64 MiB).";
inline constexpr const char* kCutShortRefusal =
    "The file ends before the save it describes does, or can't be read to its end.";
}  // namespace psv

// The content check: "\0VSP" and room for the header.
bool LooksLikePsv(std::span<const std::uint8_t> head, std::uint64_t fileSize);

// The save of a PS3 export; each file's data stays in the file (InContainer). It holds a
// save of either console: a PS1 save has the table every PS1 save has (ps1_save.h), and
// then only its name can be edited.
class CPsv : public CSaveGame, public ps1::Ps1Holder {
 public:
  CPsv() : CSaveGame(kKindPsv) {}
  ~CPsv() override = default;

  const ps1::Ps1Part* Ps1() const override { return ps1Part_ ? &*ps1Part_ : nullptr; }


  void SetName(int entryIndex, std::string_view text) override;
  void RemoveEntry(int fileIndex) override;
  bool AddEntryFromDisk(const std::string& pcPath, std::string_view entryName) override;
  // These four change nothing in a PS1 save.
  void SetMode(int entryIndex, std::uint32_t mode) override;
  bool ReplaceEntryFromDisk(const std::string& pcPath, int tablePosition) override;
  void SetCreated(int entryIndex, const EntryTime& time) override;
  void SetModified(int entryIndex, const EntryTime& time) override;

  // Whether the loaded file's signature matched; none before a Load or when it couldn't
  // be computed (the crypto library failed).
  std::optional<bool> signatureValid;
  // The name fields of the loaded file as stored, bytes after the NUL included, one per
  // table position; Save writes them back for names that weren't changed.
  std::vector<psv::NameField> nameFields;

 protected:
  // Results: kOk; kReadFailed it is shorter than its header, records or data announce, or
  // can't be read (`refusal` says so); kNeedsAnswer, then kInvalid unless answered Yes,
  // the signature differs (kSignatureQuestion); kInvalid not "\0VSP", a kind word other
  // than 1 or 2, or a PS1 export whose sizes disagree or whose blocks are no save
  // (`refusal` says why).
  LoadResult Read(const io::ByteSource& source) override;
  // Results: kOk; kOpenFailed an entry's data can't be read whole, or a write failed;
  // kReplaceFailed and kSavedInPlace as for every in-place save; kInvalid nothing to
  // write, a file over 64 MiB (`refusal` says so) or the crypto library failed; kNoMemory.
  // A PS1 save is written as a PS1 export, any other as a PS2 export.
  LoadResult Write(io::ByteSink& out) override;
  LoadResult WriteConverted(const CSaveGame& source, io::ByteSink& out) override;
  // A PS1 export's title is its first block's.
  bool ReadRawTitle() override;

 private:
  LoadResult ReadPs2(const io::ByteSource& source);
  LoadResult ReadPs1(const io::ByteSource& source);

  std::optional<ps1::Ps1Part> ps1Part_;  // set while the object holds a PS1 save
};
