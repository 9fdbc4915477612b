#include "support/ps1_builder.h"

#include <algorithm>

#include "formats/ps1/ps1_frame.h"
#include "formats/ps1/ps1_save.h"
#include "formats/psv/psv_ps1.h"

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

Bytes MakePs1File(std::string_view family, const std::string& name, const Bytes& blocks) {
  Bytes file;
  if (family == "mcs") {
    const ps1::DirFrame frame = ps1::DirFrame::FirstOf(name, static_cast<std::uint32_t>(blocks.size()));
    file.assign(frame.bytes.begin(), frame.bytes.end());
  } else if (family == "psx") {
    file.assign(0x36, 0);
    std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 20), file.begin());
  }
  file.insert(file.end(), blocks.begin(), blocks.end());
  return file;
}

Bytes MakePs1Export(const std::string& name, const Bytes& blocks) {
  CPs1Save save;
  save.Assign(name, static_cast<std::uint32_t>(blocks.size()), InMemory{blocks}, nullptr, std::nullopt);
  io::MemorySink out;
  std::string refusal;
  if (psv::WritePs1Export(save, out, refusal) != LoadResult::kOk) return {};
  return *out.bytes();
}

}  // namespace testutil
