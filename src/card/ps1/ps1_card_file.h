// The files a PlayStation 1 card is kept in. Each holds the same 128 KiB card (16 blocks of
// 8 KiB; block 0 the directory), with or without a header of its own:
//
//   kind            extensions                         layout
//   raw             .mcr .mcd .srm .bin .mc .vm1 .vmc  the card itself, from "MC"
//   DexDrive        .gme                               0xF40-byte header, then the card
//   VGS             .vgs .mem                          64-byte header, then the card
//   PSP/Vita        .vmp                               0x80-byte header, then the card; signed
//   PocketStation   .bin of 131,232 bytes              the whole file AES-128-CBC encrypted
//
// DexDrive header: "123-456-STD" at 0, byte 0x12 = 1, 0x14 = 1, 0x15 = "M"; bytes 0x16 + i
// and 0x26 + i copy the state byte and the low byte of the next index of directory entry
// i + 1; 15 comments of 256 bytes from 0x40. Real files also have an all-zero header, and
// end after their last used block. The directory is the authority over the copies: a
// writer refreshes them from it.
//
// VGS header: "VgsM", u32 1 at 4, 8 and 12, byte 0x11 = 2.
//
// PSP/Vita header: "\0PMV", u32 0x80 at 4, a 20-byte seed at 0x0C and a 20-byte signature at
// 0x20: HMAC-SHA1 of the whole file with 0x20..0x33 taken as zero, keyed from the seed as a
// PS3 export of a PS1 save is.
//
// PocketStation: decrypted, the file is 0x80 zero bytes, the card, and SHA-256 of the
// first 0x20080 bytes.
//
// The card is chosen by content, never by extension: a ".gme" that is a raw card opens raw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/byte_source.h"

namespace card {

inline constexpr std::size_t kPs1CardBytes = 131072;
inline constexpr std::size_t kPs1BlockBytes = 8192;
inline constexpr std::size_t kPs1Blocks = kPs1CardBytes / kPs1BlockBytes;  // 16, block 0 the directory

enum class Ps1FileKind { kRaw, kDexDrive, kVgs, kVmp, kPocketStation };

inline constexpr std::size_t kDexDriveHeaderBytes = 0xF40;
inline constexpr std::size_t kVgsHeaderBytes = 64;
inline constexpr std::size_t kVmpHeaderBytes = 0x80;
inline constexpr std::size_t kPocketStationBytes = 131232;
// What Ps1KindOf needs to see of a file's start: a DexDrive header and the card's "MC".
inline constexpr std::size_t kPs1HeadBytes = kDexDriveHeaderBytes + 2;

// The kind a file is by its first bytes (kPs1HeadBytes of them, or the whole file when it
// is shorter) and its length; none when it is no PS1 card file. A PocketStation file is
// recognised by its length alone: only decrypting it tells more.
std::optional<Ps1FileKind> Ps1KindOf(std::span<const std::uint8_t> head, std::uint64_t length);

// A card file as read: the card and what surrounds it.
struct Ps1CardFile {
  Ps1FileKind kind = Ps1FileKind::kRaw;
  // What stands before the card: the .gme, .vgs or .vmp header; for a PocketStation file the
  // decrypted bytes before the card. Empty for a raw card.
  std::vector<std::uint8_t> header;
  std::vector<std::uint8_t> card;  // kPs1CardBytes
  // The card's bytes the file holds: fewer for a DexDrive file that ends early (the rest of
  // `card` is zero and its directory is what the file's says).
  std::size_t stored = kPs1CardBytes;
  // The signature of a .vmp file or the hash of a PocketStation file is right (always true
  // for the other kinds). A card that fails is read, and only written as another file.
  bool verified = true;

  // Where the card's first byte is in the file; none for a PocketStation file, whose bytes
  // are encrypted.
  std::optional<std::uint64_t> CardOffset() const;
};

enum class Ps1ReadResult {
  kRead,
  kOpenFailed,   // the file can't be opened
  kReadFailed,   // the file can't be read to its end
  kNotPs1Card,   // no PS1 card file (Ps1KindOf), or a PocketStation file that decrypts to none
};

// Reads a whole card file (never more than a whole DexDrive file's bytes).
Ps1ReadResult ReadPs1CardFile(const std::string& path, Ps1CardFile& out);
Ps1ReadResult ReadPs1CardFile(const io::ByteSource& file, Ps1CardFile& out);
// The same for a file's bytes in memory.
Ps1ReadResult ParsePs1CardFile(std::span<const std::uint8_t> file, Ps1CardFile& out);

// The file's bytes: the header with a DexDrive file's copies refreshed from the directory
// (an all-zero header becomes a proper one; comments are kept), a .vmp signed again under
// its seed, a PocketStation file with its hash computed and encrypted. `file.card` must be
// kPs1CardBytes long. None when the crypto library fails.
std::optional<std::vector<std::uint8_t>> Ps1FileBytes(const Ps1CardFile& file);

// A new file of `kind` around `card`: the kind's fresh header (a .vmp's seed derived from
// the card's bytes), verified, nothing cut short.
Ps1CardFile NewPs1CardFile(Ps1FileKind kind, std::vector<std::uint8_t> card);

// The card as the console formats it: "MC" and its check in frame 0 and frame 63, fifteen
// free directory entries, twenty empty broken-frame entries, every other byte zero.
std::vector<std::uint8_t> FreshPs1Card();


}  // namespace card
