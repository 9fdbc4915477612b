#include "icon/ps1_icon.h"

#include <algorithm>
#include <cstring>

namespace icon {

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
    const Picture scaled = ScaleNearest(ps1::IconPicture(header, f), size, size);
    for (int y = 0; y < size; ++y)
      std::memcpy(strip.rgba.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(strip.width) +
                                       static_cast<std::size_t>(f) * static_cast<std::size_t>(size)) * 4,
                  scaled.rgba.data() + static_cast<std::size_t>(y) * frameRow, frameRow);
  }
  return strip;
}

}  // namespace icon
