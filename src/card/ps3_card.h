// The cards of the PS3 (see also kinds.h):
//
//   .VM2  a PS2 card image with ECC, exactly as a real card holds it, made by the PS3's own
//         card utility. It opens as an image with ECC; a 64 MB one is never written (the
//         PS3's index overflows on it and the console loops at boot), and it is only read.
//   .VME  the encrypted card of a PS2 Classic (SCEVMC0.VME, SCEVMC1.VME). Its plain form is
//         the image with ECC followed by one 16 KB block of hashes: the SHA-1 of each 16 KB
//         segment of the image, one after the other, the rest of the block zero. The whole
//         plain form is AES-128-CBC encrypted, each 16 KB segment from an all-zero IV, with
//         one key for all retail consoles and another for debug ones; no header, no padding.
//         Which key a file uses is found by decrypting its first block with each: the right
//         one gives "Sony PS2 Memory".
//
// A .VME is decrypted into memory whole and opened as a PS2 card over that memory. A
// segment whose hash differs is damage, named with the segment and the card's bytes it
// covers; the card is then only read. A changed card is written as a .VME again with the
// key it was read with, every hash computed afresh; what was written is decrypted,
// hash-checked and compared with the changed card before it replaces the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "card/image_card.h"
#include "io/byte_source.h"
#include "io/crypto.h"
#include "io/output_file.h"

namespace card {

inline constexpr std::size_t kVmeSegmentBytes = 16384;
inline constexpr std::size_t kVmeHashBlockBytes = 16384;
// The hashes the block holds: the largest card a .VME can carry is this many segments.
inline constexpr std::size_t kVmeMaxSegments = kVmeHashBlockBytes / io::kSha1Size;  // 819
// The size of the cards PS2 Classics use, the only one a .VME is made of.
inline constexpr unsigned kVmeMegabytes = 8;
// The largest card a PS3 takes as a .VM2.
inline constexpr unsigned kVm2MaxMegabytes = 32;

enum class VmeKey { kRetail, kDebug };
// "retail", "debug"; and back (any letter case), none for another name.
std::string_view VmeKeyName(VmeKey key);
std::optional<VmeKey> VmeKeyNamed(std::string_view name);

// The megabytes of the card an image with ECC of `imageBytes` bytes holds; 0 when the size
// is no card's.
unsigned EccImageMegabytes(std::uint64_t imageBytes);
// True when a file of `size` bytes may be a .VME: the image with ECC of a card that fits
// the hash block, and the block.
bool IsVmeSize(std::uint64_t size);

// A .VME decrypted.
enum class VmeReadResult {
  kDecrypted,
  kNotVmeSize,   // its size is no .VME's
  kReadFailed,   // the file can't be read to its end
  kNoKey,        // neither key gives a PS2 card
  kCryptoFailed, // the crypto library failed
};
struct DecryptedVme {
  VmeReadResult result = VmeReadResult::kReadFailed;
  VmeKey key = VmeKey::kRetail;
  std::shared_ptr<const std::vector<std::uint8_t>> image;  // the card image with ECC, no hashes
  std::vector<std::size_t> badSegments;  // the segments whose SHA-1 the hash block does not hold
};
DecryptedVme DecryptVme(const io::ByteSource& file);
DecryptedVme DecryptVme(std::span<const std::uint8_t> file);

// The .VME of an image with ECC (a whole number of segments, at most kVmeMaxSegments):
// the hashes computed and everything encrypted. None when the image does not fit or the
// crypto library fails.
std::optional<std::vector<std::uint8_t>> EncryptVme(std::span<const std::uint8_t> image, VmeKey key);

// Writes the .VME of `image` to `out`, decrypts and hash-checks what was written, compares
// it with `image`, and only then commits it. False (nothing committed) on any failure;
// `written` (when given) gets what was written, as it reads once committed.
bool WriteVme(std::span<const std::uint8_t> image, VmeKey key, io::ByteSink& out, io::SourcePtr* written = nullptr);

// The issue a .VME that can't be opened gives, for a result other than kDecrypted.
Issue VmeOpenIssue(VmeReadResult result);
// The damage of one segment whose hash differs.
Issue VmeSegmentIssue(std::size_t segment, std::uint64_t imageBytes);

// Why a card of `megabytes` MB can't be kept as `kind` (kPs3Vm2 or kPs3Vme); empty when it
// can.
std::string Ps3SizeRefusal(CardType kind, unsigned megabytes);

struct CardConversion {
  CardType to = CardType::kImageWithEcc;  // kImageWithEcc, kRawImage, kPs3Vm2 or kPs3Vme
  VmeKey key = VmeKey::kRetail;           // a new .VME's
  // Convert a .VME whose segments fail their hashes, and to raw an image with pages its ECC
  // can't correct.
  bool force = false;
};
// Writes the card in `file`, a card image of the kind `from` (a .VME is decrypted first),
// as a file of the kind `how.to` and commits it once it has been read back: a .VM2 or a
// .VME with ECC given to a raw card, an image of the same layout byte for byte. Refused
// (kNotForPs3) for a size the target kind can't be.
ConvertResult ConvertCardFile(const io::SourcePtr& file, CardType from, io::ByteSink& out, const CardConversion& how,
                              std::string* detail = nullptr);

// A new, empty .VM2 or .VME (with `key`), as the console formats a card; kBadSize also for a
// size Ps3SizeRefusal refuses.
FormatResult FormatPs3Card(const std::string& path, CardType kind, const FormatOptions& options,
                           VmeKey key = VmeKey::kRetail);

// The card inside a .VME.
class VmeCard final : public ImageCard {
 public:
  // `file` is the .VME's bytes, found at `path` (empty for bytes in memory).
  static OpenedCard Open(io::SourcePtr file, std::string path, CardReading reading = CardReading::kFromFile);

  CardType type() const override;
  VmeKey key() const { return key_; }
  // The .VME's bytes as they are now (after a change, the new file's).
  const io::SourcePtr& file() const { return file_->source; }

 private:
  // Shared with the sinks that write the card back: the .VME as last read or written.
  struct File {
    io::SourcePtr source;
  };
  VmeCard(io::SourcePtr image, std::string path, CardReading reading, io::SourcePtr file, VmeKey key,
          std::vector<std::size_t> badSegments);
  bool Rescan() override;
  std::unique_ptr<io::ByteSink> WriteBackSink() const override;
  std::vector<Issue> FileIssues() const override;

  std::shared_ptr<File> file_;
  VmeKey key_;
  std::vector<std::size_t> badSegments_;
};

}  // namespace card
