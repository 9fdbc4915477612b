#include "card/ps3_card.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <new>

#include "card/layout.h"
#include "io/file.h"
#include "io/path.h"
#include "io/text.h"
#include "model/count_text.h"

namespace card {

namespace {

constexpr io::Aes128Key kRetailKey = {0x64, 0xE3, 0x0D, 0x19, 0xA1, 0x69, 0x41, 0xD6,
                                      0x77, 0xE3, 0x2E, 0xEB, 0xE0, 0x7F, 0x45, 0xD2};
constexpr io::Aes128Key kDebugKey = {0x30, 0x47, 0x9D, 0x4B, 0x80, 0xE8, 0x9E, 0x2B,
                                     0x59, 0xE5, 0xC9, 0x14, 0x5E, 0x10, 0x64, 0xA9};
constexpr io::AesBlock kZeroIv = {};
// What the first block of a PS2 card decrypts to: the start of its superblock's signature.
constexpr std::string_view kCardStart = "Sony PS2 Memory";
// The largest .VME read: the largest card the hash block can carry, and the block.
constexpr std::uint64_t kMaxVmeBytes = std::uint64_t{kVmeMaxSegments} * kVmeSegmentBytes + kVmeHashBlockBytes;

const io::Aes128Key& KeyBytes(VmeKey key) { return key == VmeKey::kDebug ? kDebugKey : kRetailKey; }

std::string Hex(std::uint64_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[n % 16]);
    n /= 16;
  } while (n > 0);
  return "0x" + text;
}

// Each segment decrypted (or encrypted) in place, from an all-zero IV.
bool CryptSegments(std::span<std::uint8_t> bytes, VmeKey key, bool encrypt) {
  for (std::size_t at = 0; at < bytes.size(); at += kVmeSegmentBytes) {
    const std::span<std::uint8_t> segment = bytes.subspan(at, std::min(kVmeSegmentBytes, bytes.size() - at));
    const bool done = encrypt ? io::Aes128CbcEncrypt(KeyBytes(key), kZeroIv, segment, segment)
                              : io::Aes128CbcDecrypt(KeyBytes(key), kZeroIv, segment, segment);
    if (!done) return false;
  }
  return true;
}

// Where the SHA-1 of segment `index` is kept in the hash block.
std::span<std::uint8_t> HashSlot(std::span<std::uint8_t> block, std::size_t index) {
  return block.subspan(index * io::kSha1Size, io::kSha1Size);
}

// Collects the plain image a card writes back, then writes it as a .VME to the card's
// file (or memory) when committed; the changed card is read back from the plain image.
class VmeSink final : public io::ByteSink {
 public:
  VmeSink(std::unique_ptr<io::ByteSink> file, VmeKey key, std::function<void(io::SourcePtr)> written, std::string name)
      : file_(std::move(file)), key_(key), written_(std::move(written)), name_(std::move(name)),
        plain_(std::make_shared<std::vector<std::uint8_t>>()) {
    ok_ = file_->ok();
  }

  io::SourcePtr WrittenBytes() override { return ok_ ? io::MemorySource(plain_, name_) : nullptr; }

  io::Committed Commit() override {
    io::SourcePtr file;
    if (!ok_ || !WriteVme(*plain_, key_, *file_, &file)) {
      ok_ = false;
      return io::Committed::kFailed;
    }
    written_(std::move(file));
    return io::Committed::kWritten;
  }

 private:
  bool Put(std::span<const std::uint8_t> bytes) override {
    if (bytes.size() > kMaxVmeBytes - std::min<std::uint64_t>(plain_->size(), kMaxVmeBytes)) return false;
    try {
      plain_->insert(plain_->end(), bytes.begin(), bytes.end());
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  bool PutAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
    if (offset > plain_->size() || bytes.size() > plain_->size() - offset) return false;
    std::copy(bytes.begin(), bytes.end(), plain_->begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
  }

  std::unique_ptr<io::ByteSink> file_;
  VmeKey key_;
  std::function<void(io::SourcePtr)> written_;
  std::string name_;
  std::shared_ptr<std::vector<std::uint8_t>> plain_;
};

}  // namespace

std::string_view VmeKeyName(VmeKey key) { return key == VmeKey::kDebug ? "debug" : "retail"; }

std::optional<VmeKey> VmeKeyNamed(std::string_view name) {
  for (VmeKey key : {VmeKey::kRetail, VmeKey::kDebug})
    if (io::EqualsIgnoringCase(name, VmeKeyName(key))) return key;
  return std::nullopt;
}

unsigned EccImageMegabytes(std::uint64_t imageBytes) {
  for (unsigned megabytes : kFormatSizes)
    if (Geometry{megabytes * 1024, true}.ImageSize() == imageBytes) return megabytes;
  return 0;
}

bool IsVmeSize(std::uint64_t size) {
  if (size <= kVmeHashBlockBytes || size > kMaxVmeBytes) return false;
  const std::uint64_t image = size - kVmeHashBlockBytes;
  return image % kVmeSegmentBytes == 0 && EccImageMegabytes(image) != 0;
}

DecryptedVme DecryptVme(const io::ByteSource& file) {
  DecryptedVme out;
  // The size is checked before anything is read or allocated.
  if (!IsVmeSize(file.size())) {
    out.result = VmeReadResult::kNotVmeSize;
    return out;
  }
  if (file.data()) return DecryptVme(std::span(file.data(), static_cast<std::size_t>(file.size())));
  std::optional<std::vector<std::uint8_t>> bytes = io::ReadAll(file, kMaxVmeBytes);
  if (!bytes || bytes->size() != file.size()) return out;
  return DecryptVme(*bytes);
}

DecryptedVme DecryptVme(std::span<const std::uint8_t> file) {
  DecryptedVme out;
  if (!IsVmeSize(file.size())) {
    out.result = VmeReadResult::kNotVmeSize;
    return out;
  }
  // The key: the one under which the first block is the start of a card.
  io::AesBlock first;
  std::copy_n(file.begin(), first.size(), first.begin());
  std::optional<VmeKey> found;
  for (VmeKey key : {VmeKey::kRetail, VmeKey::kDebug}) {
    const std::optional<io::AesBlock> plain = io::Aes128DecryptBlock(KeyBytes(key), first);
    if (!plain) {
      out.result = VmeReadResult::kCryptoFailed;
      return out;
    }
    if (std::memcmp(plain->data(), kCardStart.data(), kCardStart.size()) == 0) {
      found = key;
      break;
    }
  }
  if (!found) {
    out.result = VmeReadResult::kNoKey;
    return out;
  }
  out.key = *found;
  auto bytes = std::make_shared<std::vector<std::uint8_t>>();
  try {
    bytes->assign(file.begin(), file.end());
  } catch (const std::bad_alloc&) {
    out.result = VmeReadResult::kReadFailed;
    return out;
  }
  if (!CryptSegments(*bytes, out.key, /*encrypt=*/false)) {
    out.result = VmeReadResult::kCryptoFailed;
    return out;
  }
  const std::size_t imageBytes = bytes->size() - kVmeHashBlockBytes;
  const std::span<std::uint8_t> block(bytes->data() + imageBytes, kVmeHashBlockBytes);
  for (std::size_t i = 0; i * kVmeSegmentBytes < imageBytes; ++i) {
    const std::optional<io::Sha1Digest> sha =
        io::Sha1Of(std::span<const std::uint8_t>(bytes->data() + i * kVmeSegmentBytes, kVmeSegmentBytes));
    if (!sha) {
      out.result = VmeReadResult::kCryptoFailed;
      return out;
    }
    if (!std::equal(sha->begin(), sha->end(), HashSlot(block, i).begin())) out.badSegments.push_back(i);
  }
  bytes->resize(imageBytes);
  out.image = std::move(bytes);
  out.result = VmeReadResult::kDecrypted;
  return out;
}

std::optional<std::vector<std::uint8_t>> EncryptVme(std::span<const std::uint8_t> image, VmeKey key) {
  if (image.empty() || image.size() % kVmeSegmentBytes != 0 || image.size() / kVmeSegmentBytes > kVmeMaxSegments)
    return std::nullopt;
  std::vector<std::uint8_t> bytes;
  try {
    bytes.assign(image.size() + kVmeHashBlockBytes, 0);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  std::copy(image.begin(), image.end(), bytes.begin());
  const std::span<std::uint8_t> block(bytes.data() + image.size(), kVmeHashBlockBytes);
  for (std::size_t i = 0; i * kVmeSegmentBytes < image.size(); ++i) {
    const std::optional<io::Sha1Digest> sha = io::Sha1Of(image.subspan(i * kVmeSegmentBytes, kVmeSegmentBytes));
    if (!sha) return std::nullopt;
    std::copy(sha->begin(), sha->end(), HashSlot(block, i).begin());
  }
  if (!CryptSegments(bytes, key, /*encrypt=*/true)) return std::nullopt;
  return bytes;
}

bool WriteVme(std::span<const std::uint8_t> image, VmeKey key, io::ByteSink& out, io::SourcePtr* written) {
  const std::optional<std::vector<std::uint8_t>> file = EncryptVme(image, key);
  if (!file || !out.Write(*file)) {
    out.Fail();
    return false;
  }
  // What reached the file must decrypt, under the same key, to the very image.
  const io::SourcePtr back = out.WrittenBytes();
  const DecryptedVme read = back ? DecryptVme(*back) : DecryptedVme{};
  if (read.result != VmeReadResult::kDecrypted || read.key != key || !read.badSegments.empty() || !read.image ||
      !std::equal(read.image->begin(), read.image->end(), image.begin(), image.end())) {
    out.Fail();
    return false;
  }
  if (out.Commit() != io::Committed::kWritten) return false;
  if (written) *written = back;
  return true;
}

Issue VmeOpenIssue(VmeReadResult result) {
  switch (result) {
    case VmeReadResult::kNotVmeSize:
      return {IssueKind::kNotACard, "",
              "not a PS2 Classics card (.VME): a .VME is a card image with ECC of up to " + std::to_string(kVmeMaxSegments) +
                  " segments of 16 KB followed by a 16 KB block of their hashes, and this file has another size"};
    case VmeReadResult::kNoKey:
      return {IssueKind::kNoVmeKey, "",
              "neither the retail nor the debug key of the PS3 decrypts it to a PS2 card: it is encrypted with "
              "another key, or damaged at its start"};
    case VmeReadResult::kCryptoFailed:
      return {IssueKind::kReadFailed, "", "the crypto library failed to decrypt the .VME"};
    case VmeReadResult::kReadFailed:
    case VmeReadResult::kDecrypted:
      break;
  }
  return {IssueKind::kReadFailed, "", "the file can't be read to its end"};
}

Issue VmeSegmentIssue(std::size_t segment, std::uint64_t imageBytes) {
  const std::uint64_t first = std::uint64_t{segment} * kVmeSegmentBytes;
  const std::uint64_t last = std::min<std::uint64_t>(first + kVmeSegmentBytes, imageBytes) - 1;
  const std::uint64_t stride = kPageData + kPageSpare;
  return {IssueKind::kVmeHash, "segment " + std::to_string(segment),
          "its SHA-1 is not the one the .VME's hash block holds: card bytes " + Hex(first) + "-" + Hex(last) +
              " (pages " + std::to_string(first / stride) + "-" + std::to_string(last / stride) +
              ") are not what was written"};
}

// ---- the card ------------------------------------------------------------------------------

VmeCard::VmeCard(io::SourcePtr image, std::string path, CardReading reading, io::SourcePtr file, VmeKey key,
                 std::vector<std::size_t> badSegments)
    : ImageCard(std::move(image), std::move(path), reading, CardType::kPs3Vme),
      file_(std::make_shared<File>(File{std::move(file)})),
      key_(key),
      badSegments_(std::move(badSegments)) {}

OpenedCard VmeCard::Open(io::SourcePtr file, std::string path, CardReading reading) {
  OpenedCard opened;
  if (!file) {
    opened.issues.push_back({IssueKind::kOpenFailed, "", "the file can't be opened"});
    return opened;
  }
  if (path.empty()) path = file->path();
  DecryptedVme read = DecryptVme(*file);
  // Nothing more is read from the file: it is let go, and looked at only to see whether
  // another program has changed it.
  file->Release();
  if (read.result != VmeReadResult::kDecrypted) {
    opened.issues.push_back(VmeOpenIssue(read.result));
    return opened;
  }
  io::SourcePtr image = io::MemorySource(std::move(read.image), file->name());
  return FirstRead(std::unique_ptr<Card>(
      new VmeCard(std::move(image), std::move(path), reading, std::move(file), read.key, std::move(read.badSegments))));
}

CardType VmeCard::type() const { return CardType::kPs3Vme; }

std::vector<Issue> VmeCard::FileIssues() const {
  std::vector<Issue> issues;
  const std::uint64_t imageBytes = source_ ? source_->size() : 0;
  for (std::size_t segment : badSegments_) issues.push_back(VmeSegmentIssue(segment, imageBytes));
  return issues;
}

bool VmeCard::Rescan() {
  const io::SourcePtr& file = file_->source;
  if (file && !file->path().empty() && !file->Current()) {
    // Another program has written the .VME since it was read: it is decrypted again.
    io::SourcePtr now = io::OpenSource(path_);
    DecryptedVme read = now ? DecryptVme(*now) : DecryptedVme{};
    if (now) now->Release();
    if (read.result != VmeReadResult::kDecrypted) {
      issues_ = {now ? VmeOpenIssue(read.result) : Issue{IssueKind::kOpenFailed, "", "the file can't be opened"}};
      return false;
    }
    source_ = io::MemorySource(std::move(read.image), now->name());
    file_->source = std::move(now);
    key_ = read.key;
    badSegments_ = std::move(read.badSegments);
    ForgetScan();
  }
  return ImageCard::Rescan();
}

std::unique_ptr<io::ByteSink> VmeCard::WriteBackSink() const {
  std::unique_ptr<io::ByteSink> target;
  if (file_->source && !file_->source->path().empty()) {
    auto out = std::make_unique<io::OutputFile>(path_, /*inPlace=*/false);
    out->ReleaseBeforeReplacing(file_->source);
    target = std::move(out);
  } else {
    target = std::make_unique<io::MemorySink>(path_);
  }
  // Once written, the card's file is the new one: the hashes are all fresh.
  const std::shared_ptr<File> kept = file_;
  return std::make_unique<VmeSink>(std::move(target), key_, [kept](io::SourcePtr written) {
    kept->source = std::move(written);
  }, path_);
}

}  // namespace card

namespace card {

namespace {

constexpr std::uint64_t kMiB = 1048576;
constexpr std::size_t kCopyPiece = 1 << 20;

// The image as it is, in pieces, then committed.
ConvertResult CopyImage(const io::ByteSource& image, io::ByteSink& out) {
  std::vector<std::uint8_t> piece(kCopyPiece);
  for (std::uint64_t at = 0; at < image.size() && out.ok(); at += kCopyPiece) {
    const std::span<std::uint8_t> some(piece.data(), static_cast<std::size_t>(std::min<std::uint64_t>(kCopyPiece, image.size() - at)));
    if (!image.ReadAt(at, some)) out.Fail();
    out.Write(some);
  }
  if (!out.ok()) return ConvertResult::kWriteFailed;
  return out.Commit() == io::Committed::kWritten ? ConvertResult::kConverted : ConvertResult::kWriteFailed;
}

}  // namespace

std::string Ps3SizeRefusal(CardType kind, unsigned megabytes) {
  if (kind == CardType::kPs3Vme && megabytes != kVmeMegabytes)
    return "a .VME is made only of an 8 MB card: PS2 Classics use 8 MB cards, and a .VME's hash block holds the "
           "hashes of at most " + std::to_string(kVmeMaxSegments) + " segments, where a " + std::to_string(megabytes) +
           " MB card has " + std::to_string(Geometry{megabytes * 1024, true}.ImageSize() / kVmeSegmentBytes);
  if (kind == CardType::kPs3Vm2 && megabytes > kVm2MaxMegabytes)
    return "a PS3 takes .VM2 cards up to " + std::to_string(kVm2MaxMegabytes) + " MB: a " + std::to_string(megabytes) +
           " MB one overflows its index of cards, and the console loops at boot until the file is removed";
  return {};
}

ConvertResult ConvertCardFile(const io::SourcePtr& file, CardType from, io::ByteSink& out, const CardConversion& how,
                              std::string* detail) {
  if (!file) return ConvertResult::kNotAnImage;
  io::SourcePtr image = file;
  if (from == CardType::kPs3Vme) {
    DecryptedVme read = DecryptVme(*file);
    if (read.result != VmeReadResult::kDecrypted) {
      if (detail) *detail = VmeOpenIssue(read.result).message;
      return read.result == VmeReadResult::kReadFailed ? ConvertResult::kWriteFailed : ConvertResult::kNotAnImage;
    }
    if (!read.badSegments.empty() && !how.force) {
      if (detail) *detail = text::NumberList("segment", "segments", read.badSegments);
      return ConvertResult::kSegmentsDamaged;
    }
    image = io::MemorySource(std::move(read.image), file->name());
  }
  std::array<std::uint8_t, sb::kClustersOffset + 4> head{};
  const std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(head.size(), image->size()));
  if (!image->ReadAt(0, std::span(head.data(), got))) return ConvertResult::kNotAnImage;
  const ImageClass c = ClassifyImage(std::span(head.data(), got), image->size());
  if (c.kind != ImageKind::kCard) return ConvertResult::kNotAnImage;
  const unsigned megabytes = static_cast<unsigned>(c.geometry.Pages() * kPageData / kMiB);
  if (how.to == CardType::kPs3Vm2 || how.to == CardType::kPs3Vme) {
    const std::string why = Ps3SizeRefusal(how.to, megabytes);
    if (!why.empty()) {
      if (detail) *detail = why;
      return ConvertResult::kNotForPs3;
    }
  }
  const bool ecc = how.to != CardType::kRawImage;
  if (how.to == CardType::kPs3Vme) {
    std::shared_ptr<const std::vector<std::uint8_t>> withEcc;
    if (c.geometry.ecc) {
      std::optional<std::vector<std::uint8_t>> all = io::ReadAll(*image, kMaxVmeBytes);
      if (!all) return ConvertResult::kWriteFailed;
      withEcc = std::make_shared<const std::vector<std::uint8_t>>(std::move(*all));
    } else {
      io::MemorySink given(file->name());
      const ConvertResult r = ConvertImage(image, given, /*ecc=*/true, how.force, detail);
      if (r != ConvertResult::kConverted) return r;
      withEcc = given.bytes();
    }
    if (!withEcc) return ConvertResult::kWriteFailed;
    return WriteVme(*withEcc, how.key, out) ? ConvertResult::kConverted : ConvertResult::kWriteFailed;
  }
  if (c.geometry.ecc == ecc) return CopyImage(*image, out);
  return ConvertImage(image, out, ecc, how.force, detail);
}

FormatResult FormatPs3Card(const std::string& path, CardType kind, const FormatOptions& options, VmeKey key) {
  if (std::find(kFormatSizes.begin(), kFormatSizes.end(), options.megabytes) == kFormatSizes.end() ||
      !Ps3SizeRefusal(kind, options.megabytes).empty())
    return FormatResult::kBadSize;
  if (!options.overwrite && io::Exists(path)) return FormatResult::kTargetExists;
  FormatOptions withEcc = options;
  withEcc.ecc = true;
  if (kind != CardType::kPs3Vme) return FormatImage(path, withEcc);
  io::MemorySink fresh(path);
  const FormatResult made = FormatImage(fresh, withEcc);
  if (made != FormatResult::kFormatted || !fresh.bytes()) return made;
  io::OutputFile out(path, /*inPlace=*/false);
  return WriteVme(*fresh.bytes(), key, out) ? FormatResult::kFormatted : FormatResult::kWriteFailed;
}

}  // namespace card
