// Builds icon files and PS2D icon.sys files in memory for tests, fuzz seeds and the
// benchmark: every field settable, counts overridable so that they can lie.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace testutil {

struct IconVertex {
  std::vector<std::array<std::int16_t, 3>> positions;  // one per shape (w written as 0x400)
  std::array<std::int16_t, 3> normal{0, 0, -4096};     // facing the viewer
  std::int16_t u = 0, v = 0;
  std::array<std::uint8_t, 4> colour{0x80, 0x80, 0x80, 0x80};
};

struct IconFrame {
  std::uint32_t shape = 0;
  std::vector<std::pair<float, float>> keys{{0.0f, 1.0f}};
};

struct IconImage {
  std::uint32_t magic = 0x00010000;
  std::uint32_t shapes = 1;
  std::uint32_t attributes = 0x07;  // textured, raw
  std::vector<IconVertex> vertices;
  std::optional<std::uint32_t> vertexCount;  // written instead of vertices.size()
  std::vector<IconFrame> frames{IconFrame{}};
  std::optional<std::uint32_t> frameCount;   // written instead of frames.size()
  Bytes texture;  // written as it is after the animation (see RawTexture, RleTexture)

  Bytes Build() const;
};

// 32,768 bytes: every pixel the same.
Bytes RawTexture(std::uint16_t pixel);
// A u32 byte count, then the codes as u16.
Bytes RleTexture(const std::vector<std::uint16_t>& codes);

// One triangle of three vertices in shape 0 (x, y pairs, z), each with the same normal,
// colour and texture coordinates.
std::vector<IconVertex> Triangle(std::array<std::int16_t, 6> xy, std::int16_t z,
                                 std::array<std::uint8_t, 4> colour = {0x80, 0x80, 0x80, 0x80});

struct IconSysImage {
  std::string magic = "PS2D";
  std::array<std::array<std::uint32_t, 3>, 4> corners{};
  std::array<std::array<float, 3>, 3> lightDirections{};
  std::array<std::array<float, 3>, 3> lightColours{};
  std::array<float, 3> ambient{1, 1, 1};
  std::string title = "ICON TEST";
  std::array<std::string, 3> iconNames{"icon.ico", "icon.ico", "icon.ico"};

  Bytes Build() const;  // 964 bytes
};

}  // namespace testutil
