#include "formats/ps1/ps1_header.h"

#include <algorithm>
#include <cstring>

#include "io/text.h"
#include "model/bytes.h"

namespace ps1 {

namespace {

constexpr std::uint8_t kOneFrame = 0x11;
constexpr std::uint16_t kTransparent = 0x0000;

// A 5-bit channel of a palette colour widened to 8 bits, so that 31 becomes 255.
std::uint8_t Widen(std::uint16_t colour, int shift) {
  const auto v = static_cast<std::uint8_t>((colour >> shift) & 0x1F);
  return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}

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

icon::Picture IconPicture(const SaveHeader& header, int frame) {
  icon::Picture picture;
  if (frame < 0 || frame >= header.iconFrames) return picture;
  picture.width = kIconSide;
  picture.height = kIconSide;
  picture.rgba.resize(static_cast<std::size_t>(kIconSide * kIconSide) * 4);
  const auto& pixels = header.frames[static_cast<std::size_t>(frame)];
  for (std::size_t i = 0; i < static_cast<std::size_t>(kIconSide * kIconSide); ++i) {
    const std::uint8_t pair = pixels[i / 2];
    const std::uint8_t index = (i % 2 == 0) ? (pair & 0x0F) : (pair >> 4);
    const std::uint16_t colour = header.palette[index];
    std::uint8_t* out = picture.rgba.data() + i * 4;
    out[0] = Widen(colour, 0);
    out[1] = Widen(colour, 5);
    out[2] = Widen(colour, 10);
    out[3] = colour == kTransparent ? 0 : 255;
  }
  return picture;
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
