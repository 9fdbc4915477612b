// A picture as the icon module hands it out: RGBA, 8 bits a channel, rows top first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace icon {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;  // width * height * 4 bytes

  const std::uint8_t* PixelAt(int x, int y) const {
    return rgba.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                          static_cast<std::size_t>(x)) * 4;
  }
};

}  // namespace icon
