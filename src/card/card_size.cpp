#include "card/card_size.h"

#include <cstdint>
#include <optional>

#include "card/layout.h"
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
  size.ecc = c.type() == CardType::kImageWithEcc;
  const std::uint64_t perMiB = size.ecc ? Geometry{1024, true}.ImageSize() : kMiB;
  // The size the file system keeps, without opening the file.
  const std::optional<io::FileStamp> stamp = io::StampOf(c.path());
  size.megabytes = static_cast<unsigned>((stamp ? stamp->size : 0) / perMiB);
  return size;
}

std::string SizeText(const CardSize& size) {
  if (size.ps1) return "128 KB PS1 card";
  std::string text = std::to_string(size.megabytes) + " MB";
  if (size.folder) return text + " folder card";
  return text + (size.ecc ? " with ECC" : " without ECC");
}

}  // namespace card
