// The 3D icon files that icon.sys names (.ico, .icn, or any other name).
//
// Little-endian throughout. A 20-byte header:
//
//   offset  width  field
//   0x00    4      0x00010000
//   0x04    4      number of shapes: the animation's key shapes, 1 or more
//   0x08    4      attributes: 0x04 textured, 0x08 texture RLE-coded (0x01, 0x02 shading hints)
//   0x0C    4      f32, usually 1.0
//   0x10    4      vertex count, a multiple of 3: every three vertices make one triangle
//
// Then the vertices, each 8 x shapes + 16 bytes: per shape s16 x, y, z and a u16 (the
// position in that shape); s16 x, y, z and a u16 (the normal); s16 u, v (texture
// coordinates); u8 R, G, B, A (the vertex colour, 0x80 full intensity). Positions,
// normals and u, v are fixed point with 12 fraction bits; x runs right, y down and z away
// from the viewer, and u, v from 0 to 4096 span the texture.
//
// Then the animation: u32 1, u32 frame length, f32 speed, u32 play offset, u32 frame
// count; then per frame u32 shape index, u32 key count, and that many f32 time, f32 weight.
//
// Then, with attribute 0x04 only, the 128 x 128 texture of 16-bit pixels (bits 0-4 red,
// 5-9 green, 10-14 blue), the first stored row at the top: either 32,768 raw bytes, or
// (0x08) a u32 byte count and u16 codes. A code below 0xFF00 repeats the next u16 `code`
// times; a code from 0xFF00 up is followed by 0x10000 - code literal pixels.
//
// The reader stops an RLE texture at 16,384 pixels and takes the byte count as a hint
// only: some files carry bytes after the last code, and one known writer stored the count
// big-endian. Everything after the texture is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "icon/icon_result.h"
#include "icon/picture.h"

namespace icon {

namespace file {
inline constexpr std::uint32_t kMagic = 0x00010000;
inline constexpr std::size_t kHeaderSize = 20;
inline constexpr std::size_t kMagicOffset = 0x00;
inline constexpr std::size_t kShapeCountOffset = 0x04;
inline constexpr std::size_t kAttributesOffset = 0x08;
inline constexpr std::size_t kVertexCountOffset = 0x10;

inline constexpr std::size_t kPositionSize = 8;  // per shape
inline constexpr std::size_t kFixedVertexPart = 16;  // normal 8, u and v 4, colour 4

inline constexpr std::size_t kAnimationHeaderSize = 20;
inline constexpr std::size_t kFrameCountOffset = 16;  // in the animation header
inline constexpr std::size_t kFrameHeaderSize = 8;
inline constexpr std::size_t kKeySize = 8;

inline constexpr std::uint32_t kTextured = 0x04;
inline constexpr std::uint32_t kRle = 0x08;
inline constexpr int kTextureSide = 128;
inline constexpr std::size_t kTexturePixels = 128 * 128;
inline constexpr std::size_t kRawTextureSize = kTexturePixels * 2;
inline constexpr std::uint16_t kFirstLiteralCode = 0xFF00;

// Fixed caps beside those the file's length sets: no icon the browser can show comes
// near them, and they keep a damaged count from asking for much memory.
inline constexpr std::uint32_t kMaxShapes = 1024;
inline constexpr std::uint32_t kMaxVertices = 1u << 20;
inline constexpr std::uint32_t kMaxFrames = 1u << 16;

inline constexpr float kFixedOne = 4096.0f;
}  // namespace file

struct Fixed4 {  // s16 x, y, z and a u16, 12 fraction bits
  std::int16_t x = 0, y = 0, z = 0;
  std::uint16_t w = 0;
};
struct TexCoord {
  std::int16_t u = 0, v = 0;
};
struct Rgba8 {
  std::uint8_t r = 0, g = 0, b = 0, a = 0;
};

struct AnimationKey {
  float time = 0;
  float weight = 0;
};
struct AnimationFrame {
  std::uint32_t shapeIndex = 0;  // as stored; not checked against the shape count
  std::vector<AnimationKey> keys;
};
// The header's id, frame length, speed and play offset are passed over: nothing here
// plays the animation at a speed of its own.
struct Animation {
  std::vector<AnimationFrame> frames;
};

enum class TextureKind { kNone, kRaw, kRle };

struct Icon {
  // The f32 at 0x0C is not kept: it changes nothing that is drawn.
  std::uint32_t attributes = 0;
  std::vector<std::vector<Fixed4>> shapes;  // shapes[s][v]: vertex v's position in shape s
  std::vector<Fixed4> normals;              // one per vertex
  std::vector<TexCoord> texCoords;
  std::vector<Rgba8> colours;
  Animation animation;
  TextureKind textureKind = TextureKind::kNone;
  std::vector<std::uint16_t> texture;   // 16,384 pixels, first stored row first; empty without

  std::size_t VertexCount() const { return normals.size(); }
  bool HasTexture() const { return !texture.empty(); }
};

// Reads an icon file. Every count is checked against the bytes there and the caps above
// before anything is allocated for it; a damaged file gives the cause and a message.
Result<Icon> ParseIcon(std::span<const std::uint8_t> bytes);

// A 16-bit pixel as 8-bit R, G, B: each 5-bit channel v becomes (v << 3) | (v >> 2).
// Bit 15 is ignored: every pixel is opaque.
inline Rgba8 ExpandPixel(std::uint16_t pixel) {
  auto five = [](unsigned v) { return static_cast<std::uint8_t>((v << 3) | (v >> 2)); };
  return {five(pixel & 0x1Fu), five((pixel >> 5) & 0x1Fu), five((pixel >> 10) & 0x1Fu), 0xFF};
}

// The texture as a 128 x 128 picture, the first stored row at the top; kNoTexture when
// the icon has none (it is drawn with its vertex colours).
Result<Picture> TexturePicture(const Icon& icon);

}  // namespace icon
