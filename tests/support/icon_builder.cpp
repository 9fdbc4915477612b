#include "support/icon_builder.h"

#include <algorithm>
#include <cstring>

#include "model/bytes.h"

namespace testutil {

namespace {

void Put16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutF32(Bytes& out, float v) { Put32(out, bytes::BitCast<std::uint32_t>(v)); }

}  // namespace

Bytes IconImage::Build() const {
  Bytes out;
  Put32(out, magic);
  Put32(out, shapes);
  Put32(out, attributes);
  PutF32(out, 1.0f);
  Put32(out, vertexCount.value_or(static_cast<std::uint32_t>(vertices.size())));
  for (const IconVertex& v : vertices) {
    for (std::uint32_t s = 0; s < shapes; ++s) {
      std::array<std::int16_t, 3> p = s < v.positions.size() ? v.positions[s] : v.positions.back();
      for (std::int16_t c : p) Put16(out, static_cast<std::uint16_t>(c));
      Put16(out, 0x400);
    }
    for (std::int16_t c : v.normal) Put16(out, static_cast<std::uint16_t>(c));
    Put16(out, 0x400);
    Put16(out, static_cast<std::uint16_t>(v.u));
    Put16(out, static_cast<std::uint16_t>(v.v));
    out.insert(out.end(), v.colour.begin(), v.colour.end());
  }
  Put32(out, 1);
  Put32(out, 10);     // frame length
  PutF32(out, 1.0f);  // speed
  Put32(out, 0);      // play offset
  Put32(out, frameCount.value_or(static_cast<std::uint32_t>(frames.size())));
  for (const IconFrame& f : frames) {
    Put32(out, f.shape);
    Put32(out, static_cast<std::uint32_t>(f.keys.size()));
    for (auto [time, weight] : f.keys) {
      PutF32(out, time);
      PutF32(out, weight);
    }
  }
  out.insert(out.end(), texture.begin(), texture.end());
  return out;
}

Bytes RawTexture(std::uint16_t pixel) {
  Bytes out;
  for (int i = 0; i < 128 * 128; ++i) Put16(out, pixel);
  return out;
}

Bytes RleTexture(const std::vector<std::uint16_t>& codes) {
  Bytes out;
  Put32(out, static_cast<std::uint32_t>(codes.size() * 2));
  for (std::uint16_t c : codes) Put16(out, c);
  return out;
}

std::vector<IconVertex> Triangle(std::array<std::int16_t, 6> xy, std::int16_t z,
                                 std::array<std::uint8_t, 4> colour) {
  std::vector<IconVertex> out(3);
  for (std::size_t i = 0; i < 3; ++i) {
    out[i].positions = {{xy[2 * i], xy[2 * i + 1], z}};
    out[i].colour = colour;
  }
  return out;
}

Bytes IconSysImage::Build() const {
  Bytes out;
  out.insert(out.end(), magic.begin(), magic.end());
  out.resize(0x0C, 0);
  Put32(out, 0x80);  // background alpha
  for (const auto& c : corners) {
    for (std::uint32_t v : c) Put32(out, v);
    Put32(out, 0);
  }
  for (const auto* group : {&lightDirections, &lightColours}) {
    for (const auto& v : *group) {
      for (float f : v) PutF32(out, f);
      PutF32(out, 0);
    }
  }
  for (float f : ambient) PutF32(out, f);
  PutF32(out, 0);
  out.resize(964, 0);
  std::memcpy(out.data() + 0xC0, title.data(), std::min<std::size_t>(title.size(), 68));
  for (std::size_t i = 0; i < 3; ++i)
    std::memcpy(out.data() + 0x104 + 64 * i, iconNames[i].data(),
                std::min<std::size_t>(iconNames[i].size(), 64));
  return out;
}

}  // namespace testutil
