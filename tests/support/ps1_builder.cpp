#include "support/ps1_builder.h"

#include <algorithm>

namespace testutil {

Bytes Ps1SaveImage::Build() const {
  Bytes data = MakeBytes(static_cast<std::size_t>(blocks) * 8192, seed);
  std::fill(data.begin(), data.begin() + std::min<std::size_t>(data.size(), 0x200), 0);
  std::copy(magic.begin(), magic.end(), data.begin());
  data[2] = iconFlag;
  data[3] = static_cast<std::uint8_t>(blockCountByte < 0 ? blocks : blockCountByte);
  std::copy(rawTitle.begin(), rawTitle.end(), data.begin() + 4);
  for (int i = 1; i < 16; ++i) {  // colour 0 stays transparent
    data[0x60 + 2 * i] = static_cast<std::uint8_t>(i * 2);
    data[0x61 + 2 * i] = static_cast<std::uint8_t>(i * 4);
  }
  for (std::size_t i = 0x80; i < 0x200; ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  return data;
}

Bytes MakePs1Blocks(int blocks, std::uint32_t seed) {
  Ps1SaveImage image;
  image.blocks = blocks;
  image.seed = seed;
  return image.Build();
}

}  // namespace testutil
