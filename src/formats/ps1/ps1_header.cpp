#include "formats/ps1/ps1_header.h"

#include <algorithm>
#include <cstring>

#include "io/text.h"
#include "model/bytes.h"

namespace ps1 {

namespace {

constexpr std::uint8_t kOneFrame = 0x11;

}  // namespace

Magic MagicOf(std::span<const std::uint8_t> block) {
  if (block.size() < kMagicSize) return Magic::kNone;
  if (block[0] == 'S' && block[1] == 'C') return Magic::kSc;
  if (block[0] == 'C' && block[1] == 'S') return Magic::kCs;
  if (block[0] == 'C' && block[1] == 0x00) return Magic::kC0;
  return Magic::kNone;
}

std::optional<SaveHeader> ReadHeader(std::span<const std::uint8_t> firstBlock) {
  if (firstBlock.size() < kHeaderBytes) return std::nullopt;
  SaveHeader h;
  h.magic = MagicOf(firstBlock);
  if (h.magic == Magic::kNone) return std::nullopt;
  const std::uint8_t flag = firstBlock[kIconFlagOffset];
  h.iconFrames = flag >= kOneFrame && flag < kOneFrame + kMaxIconFrames ? flag - kOneFrame + 1 : 1;
  h.blocks = firstBlock[kBlockCountOffset];
  const auto* title = reinterpret_cast<const char*>(firstBlock.data() + kTitleOffset);
  h.rawTitle.assign(title, std::find(title, title + kTitleSize, '\0'));
  h.title = io::ShiftJisToUtf8(h.rawTitle);
  for (std::size_t i = 0; i < kPaletteColours; ++i)
    h.palette[i] = bytes::GetU16LE(firstBlock.data() + kPaletteOffset + 2 * i);
  for (std::size_t f = 0; f < h.frames.size(); ++f)
    std::memcpy(h.frames[f].data(), firstBlock.data() + kIconOffset + f * kIconFrameSize, kIconFrameSize);
  return h;
}

Region RegionOf(std::string_view cardFileName) {
  if (cardFileName.size() < 2 || cardFileName[0] != 'B') return Region::kUnknown;
  switch (cardFileName[1]) {
    case 'I': return Region::kJapan;
    case 'A': return Region::kAmerica;
    case 'E': return Region::kEurope;
    default: return Region::kUnknown;
  }
}

std::string_view RegionName(Region region) {
  switch (region) {
    case Region::kJapan: return "Japan";
    case Region::kAmerica: return "America";
    case Region::kEurope: return "Europe";
    case Region::kUnknown: break;
  }
  return "unknown";
}

}  // namespace ps1
