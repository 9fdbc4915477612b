#include "icon/ps1_icon.h"

#include <algorithm>
#include <cstring>

namespace icon {

namespace {

constexpr std::uint16_t kTransparent = 0x0000;

// A 5-bit channel of a palette colour widened to 8 bits, so that 31 becomes 255.
std::uint8_t Widen(std::uint16_t colour, int shift) {
  const auto v = static_cast<std::uint8_t>((colour >> shift) & 0x1F);
  return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}

}  // namespace

Picture Ps1Frame(const ps1::SaveHeader& header, int frame) {
  Picture picture;
  if (frame < 0 || frame >= header.iconFrames) return picture;
  picture.width = ps1::kIconSide;
  picture.height = ps1::kIconSide;
  picture.rgba.resize(static_cast<std::size_t>(ps1::kIconSide * ps1::kIconSide) * 4);
  const auto& pixels = header.frames[static_cast<std::size_t>(frame)];
  for (std::size_t i = 0; i < static_cast<std::size_t>(ps1::kIconSide * ps1::kIconSide); ++i) {
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

Picture ScaleNearest(const Picture& picture, int width, int height) {
  Picture out;
  if (picture.width <= 0 || picture.height <= 0 || width <= 0 || height <= 0) return out;
  out.width = width;
  out.height = height;
  out.rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
  for (int y = 0; y < height; ++y) {
    const int sy = static_cast<int>(static_cast<long long>(y) * picture.height / height);
    for (int x = 0; x < width; ++x) {
      const int sx = static_cast<int>(static_cast<long long>(x) * picture.width / width);
      std::memcpy(out.rgba.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                     static_cast<std::size_t>(x)) * 4,
                  picture.PixelAt(sx, sy), 4);
    }
  }
  return out;
}

Picture Ps1Icon(const ps1::SaveHeader& header, int size, bool allFrames) {
  if (size <= 0) return {};
  const int frames = allFrames ? header.iconFrames : 1;
  Picture strip;
  strip.width = size * frames;
  strip.height = size;
  strip.rgba.resize(static_cast<std::size_t>(strip.width) * static_cast<std::size_t>(size) * 4);
  const std::size_t frameRow = static_cast<std::size_t>(size) * 4;
  for (int f = 0; f < frames; ++f) {
    const Picture scaled = ScaleNearest(Ps1Frame(header, f), size, size);
    for (int y = 0; y < size; ++y)
      std::memcpy(strip.rgba.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(strip.width) +
                                       static_cast<std::size_t>(f) * static_cast<std::size_t>(size)) * 4,
                  scaled.rgba.data() + static_cast<std::size_t>(y) * frameRow, frameRow);
  }
  return strip;
}

}  // namespace icon
