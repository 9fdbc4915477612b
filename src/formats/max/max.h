// ARMAX V3 (.max) and ARMAX PowerSave (.pws) files: one format under two extensions.
//
// A 92-byte header, then an LZARI stream that runs to the end of the file.
// Little-endian throughout.
//
//   header offset  width  field
//   0              12     "Ps2PowerSave", no NUL; not checked
//   12             4      CRC-32 of the whole file, taken with these four bytes as zero
//   16             32     folder name, NUL-padded (a 32-character name has no NUL)
//   48             32     the title as ASCII, NUL-padded; not read
//   80             4      the file's length - 88: the stream with the length word at 88
//   84             4      number of file records in the payload
//   88             4      length of the decompressed payload
//   92             ...    the LZARI stream (the payload)
//
// The reader takes nothing from the word at 80: one device counts the stream without the
// length word in front of it. This writer counts it with, as the readers that check the
// word expect (they accept that form and refuse the other). The CRC is computed last,
// over the finished file.
//
// The decompressed payload is a run of records:
//
//   record offset  width  field
//   0              4      data size
//   4              32     file name, NUL-padded
//   36             size   the file's bytes
//
// The first record starts at payload offset 0; each next one at the first offset at
// or after the end of the previous record's data whose value plus 8 is a multiple of 16.
// A writer fills the gaps with zeros and pads the last record the same way; the length
// at 88 counts that padding. Only files are stored: a save holding a subfolder can't be
// written. The format holds no times and no modes: a load gives every entry the time of
// the load, the folder mode 0x8427 and the file mode 0x8497.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "model/save_game.h"

namespace armax {
inline constexpr std::size_t kHeaderSize = 92;
inline constexpr std::size_t kCrcOffset = 12;
inline constexpr std::size_t kCrcSize = 4;
inline constexpr std::size_t kFolderOffset = 16;
inline constexpr std::size_t kFolderSize = 32;
inline constexpr std::size_t kTitleOffset = 48;
inline constexpr std::size_t kTitleSize = 32;
inline constexpr std::size_t kStreamSizeOffset = 80;
inline constexpr std::size_t kFileCountOffset = 84;
inline constexpr std::size_t kLengthOffset = 88;

inline constexpr std::size_t kRecordHeadSize = 36;
inline constexpr std::size_t kRecordSizeOffset = 0;
inline constexpr std::size_t kRecordNameOffset = 4;
inline constexpr std::size_t kRecordNameSize = 32;

// The largest decompressed payload accepted: a memory card holds 8 MiB, so no real
// save comes near this.
inline constexpr std::uint32_t kMaxPayload = 64u << 20;
// No LZARI stream yields more than this many bytes per coded byte (a run of one
// literal at its most probable costs about 0.0138 bits, some 580 bytes per coded
// byte); a length beyond it can't come from the stream the file holds.
inline constexpr std::uint64_t kMaxExpansion = 1024;
// Nor does any symbol cost more than 17 bits, so a payload of n bytes never needs more
// than this many coded bytes; input beyond it is never read.
inline constexpr std::uint64_t InputNeededFor(std::uint64_t payload) { return 3 * payload + 64; }

// Where the record after one at `start` with `size` data bytes begins.
inline constexpr std::uint64_t NextRecord(std::uint64_t start, std::uint64_t size) {
  return (start + size + 59) / 16 * 16 - 8;
}

inline constexpr std::string_view kSignature = "Ps2PowerSave";

inline constexpr const char* kCrcQuestion =
    "CRC32 value computed doesn't match stored.\nDo you want to load it anyway?";
inline constexpr const char* kCrcCaption = "Invalid format";
}  // namespace armax

// The content check: the signature text and room for the header.
bool LooksLikeMax(std::span<const std::uint8_t> head, std::uint64_t fileSize);

// True when writing `save` as ARMAX loses something it holds: a mode other than 0x8427
// for the folder and 0x8497 for a file, or a time that is not all zeros.
bool ArmaxDropsModesOrTimes(const CSaveGame& save);
// That, in words for the user (empty when nothing is lost).
std::string ArmaxConversionLoss(const CSaveGame& save);

// The save of an ARMAX file, with every file's bytes in memory. The edits are the
// table-only ones of CSaveGame: removing and replacing files, and adding PC files to a
// loaded save (no root is made when there is no table). Save writes the table again.
class CMax : public CSaveGame {
 public:
  CMax() : CSaveGame(kKindMax) {}
  ~CMax() override = default;

  // As Load, each file handed to the writer as the stream is decoded: only a window of
  // the payload is held. A bad CRC is found (and asked about) before the writer is
  // given anything; a stream or record found bad later stops the writer unfinished.
  std::optional<LoadResult> LoadInto(const io::ByteSource& source, SaveStreamWriter& writer,
                                     const LoadAnswers& answers = {}) override;

 protected:
  // Results: kOk; kReadFailed it is shorter than the header or can't be read;
  // kNeedsAnswer, then kInvalid unless answered Yes, the CRC differs (kCrcQuestion);
  // kInvalid the payload is not what the header says (a length over the cap or beyond
  // what the stream can hold, a stream that doesn't decode, records that don't fit).
  LoadResult Read(const io::ByteSource& source) override;
  // Results: kOk; kOpenFailed an entry's data can't be read whole, or a write failed;
  // kReplaceFailed and kSavedInPlace as for every in-place save; kInvalid nothing to
  // write, or a save the format can't hold (`refusal` says why: a subfolder, or records
  // over 64 MiB); kNoMemory. The title comes from icon.sys (its two lines joined), else
  // the folder name.
  LoadResult Write(io::ByteSink& out) override;
  LoadResult WriteConverted(const CSaveGame& source, io::ByteSink& out) override;

 private:
  struct Opened;
  LoadResult Open(const io::ByteSource& source, Opened& f);
};
