// The body of a CodeBreaker (.cbs) file: everything after the 0x128-byte header.
//
// The body is RC4 over a zlib stream (level 9, with its header and Adler-32) of the
// records. This RC4 has no key schedule: it starts from one fixed, published 256-byte
// state S, with i = j = 0, and for each byte does i += 1, j += S[i], swaps S[i] and S[j],
// and XORs the byte with S[(S[i] + S[j]) & 255]. So encrypting and decrypting are the same.
//
// The records, one per file, back to back with no padding:
//
//   record offset  width  field
//   0              8      created (the card's 8-byte time)
//   8              8      modified
//   16             4      data size
//   20             4      mode (0x8497 for a file)
//   24             8      zero
//   32             32     file name, NUL-padded (a 32-character name has no NUL)
//   64             size   the file's bytes
//
// The header's decompressed size (at 0x0C) is the length of all records together:
// the sum of 64 + size over the files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/cbs/zlib_stream.h"

namespace cbs {
inline constexpr std::size_t kRecordHeadSize = 64;
inline constexpr std::size_t kRecordCreatedOffset = 0;
inline constexpr std::size_t kRecordModifiedOffset = 8;
inline constexpr std::size_t kRecordSizeOffset = 16;
inline constexpr std::size_t kRecordModeOffset = 20;
inline constexpr std::size_t kRecordNameOffset = 32;
inline constexpr std::size_t kRecordNameSize = 32;
inline constexpr std::size_t kTimeSize = 8;
inline constexpr std::uint32_t kFileMode = 0x8497;

// One file of a body. `data` points into the buffer the records were read from (or,
// when writing, into the caller's bytes).
struct Record {
  std::array<std::uint8_t, kTimeSize> created{};
  std::array<std::uint8_t, kTimeSize> modified{};
  std::uint32_t mode = kFileMode;
  std::string name;  // up to the first NUL
  std::span<const std::uint8_t> data;
};

// RC4 from the fixed initial state, in place; applying it twice gives the bytes back.
void Rc4(std::span<std::uint8_t> bytes);

// The same over a body that comes in pieces: each piece goes on from where the last ended.
class Rc4Stream {
 public:
  Rc4Stream();
  void Apply(std::span<std::uint8_t> bytes);

 private:
  std::array<std::uint8_t, 256> s_;
  std::uint8_t i_ = 0;
  std::uint8_t j_ = 0;
};

// Decrypts and inflates a body into the records' bytes, which must come to exactly
// `decompressedSize` (the header's word at 0x0C; see ZlibInflate for the refusals) and
// hold at most kMaxSaveFiles records (kRefused, found as soon as they are inflated).
InflateResult DecodeBody(std::span<const std::uint8_t> body, std::uint32_t decompressedSize,
                         std::vector<std::uint8_t>& records);

// The body of the records' bytes: RC4 of their zlib stream at level 9. None when the
// records are longer than zstream::kMaxInflated or zlib fails.
std::optional<std::vector<std::uint8_t>> EncodeBody(std::span<const std::uint8_t> records);

// Splits the records' bytes into files. None when a record's head or data runs past the
// end; the files' data points into `records`.
std::optional<std::vector<Record>> ParseRecords(std::span<const std::uint8_t> records);

// The records' bytes of `files`, in order. None when a name is longer than 32 bytes or
// the whole would be longer than zstream::kMaxInflated.
std::optional<std::vector<std::uint8_t>> BuildRecords(std::span<const Record> files);
}  // namespace cbs
