#include "card/card_size.h"

#include <cstdint>
#include <optional>

#include "card/kinds.h"
#include "card/layout.h"
#include "card/ps3_card.h"
#include "io/file.h"

namespace card {

namespace {

constexpr std::uint64_t kMiB = 1048576;

}  // namespace

CardSize SizeOf(const Card& c) {
  CardSize size;
  if (IsPs1(c.type())) {
    size.ps1 = true;
    return size;
  }
  if (c.type() == CardType::kFolder) {
    size.folder = true;
    size.megabytes = 8;
    return size;
  }
  size.ecc = c.type() != CardType::kRawImage;
  const std::uint64_t perMiB = size.ecc ? Geometry{1024, true}.ImageSize() : kMiB;
  if (const auto* vme = dynamic_cast<const VmeCard*>(&c)) {
    // The image decrypted in memory.
    size.megabytes = static_cast<unsigned>((c.source() ? c.source()->size() : 0) / perMiB);
    size.kind = std::string(KindOf(c.type()).name) + ", " + std::string(VmeKeyName(vme->key())) + " key";
    return size;
  }
  if (c.type() == CardType::kPs3Vm2) size.kind = KindOf(c.type()).name;
  // The size the file system keeps, without opening the file.
  const std::optional<io::FileStamp> stamp = io::StampOf(c.path());
  size.megabytes = static_cast<unsigned>((stamp ? stamp->size : 0) / perMiB);
  return size;
}

std::string SizeText(const CardSize& size) {
  if (size.ps1) return "128 KB PS1 card";
  std::string text = std::to_string(size.megabytes) + " MB";
  if (size.folder) return text + " folder card";
  if (!size.kind.empty()) return text + " " + size.kind;
  return text + (size.ecc ? " with ECC" : " without ECC");
}

}  // namespace card
