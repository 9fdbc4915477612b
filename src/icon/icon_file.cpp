#include "icon/icon_file.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <optional>
#include <string>

#include "model/bytes.h"
#include "model/count_text.h"

namespace icon {

namespace {

using bytes::GetU16LE;
using bytes::GetU32LE;

using text::Num;

Error Truncated(const std::string& what) { return Error{Fault::kTruncated, what}; }

Fixed4 Fixed4At(const std::uint8_t* p) {
  return {static_cast<std::int16_t>(GetU16LE(p)), static_cast<std::int16_t>(GetU16LE(p + 2)),
          static_cast<std::int16_t>(GetU16LE(p + 4)), GetU16LE(p + 6)};
}

float F32At(const std::uint8_t* p) { return bytes::BitCast<float>(GetU32LE(p)); }

// The vertices: positions per shape, then the normal, u and v, and the colour.
void ReadVertices(const std::uint8_t* p, std::size_t shapeCount, std::size_t count, Icon& icon) {
  icon.shapes.assign(shapeCount, std::vector<Fixed4>(count));
  icon.normals.resize(count);
  icon.texCoords.resize(count);
  icon.colours.resize(count);
  for (std::size_t v = 0; v < count; ++v) {
    for (std::size_t s = 0; s < shapeCount; ++s, p += file::kPositionSize)
      icon.shapes[s][v] = Fixed4At(p);
    icon.normals[v] = Fixed4At(p);
    icon.texCoords[v] = {static_cast<std::int16_t>(GetU16LE(p + 8)),
                         static_cast<std::int16_t>(GetU16LE(p + 10))};
    icon.colours[v] = {p[12], p[13], p[14], p[15]};
    p += file::kFixedVertexPart;
  }
}

std::optional<Error> ReadAnimation(bytes::Reader& in, Animation& out) {
  const std::uint8_t* h = in.Need(file::kAnimationHeaderSize);
  if (!h) return Truncated("the file ends inside the animation header");
  std::uint32_t frames = GetU32LE(h + file::kFrameCountOffset);
  if (frames > file::kMaxFrames || frames > in.remaining() / file::kFrameHeaderSize)
    return Error{Fault::kFrameCount, Num(frames) + " animation frames: more than the " +
                                         Num(in.remaining()) + " bytes left can hold"};
  out.frames.resize(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    const std::uint8_t* f = in.Need(file::kFrameHeaderSize);
    if (!f) return Truncated("the file ends inside animation frame " + Num(i));
    out.frames[i].shapeIndex = GetU32LE(f);
    std::uint32_t keys = GetU32LE(f + 4);
    if (keys > in.remaining() / file::kKeySize)
      return Error{Fault::kFrameCount, "animation frame " + Num(i) + " has " + Num(keys) +
                                           " keys: more than the " + Num(in.remaining()) +
                                           " bytes left can hold"};
    const std::uint8_t* k = in.Need(keys * file::kKeySize);
    out.frames[i].keys.resize(keys);
    for (std::size_t j = 0; j < keys; ++j, k += file::kKeySize)
      out.frames[i].keys[j] = {F32At(k), F32At(k + 4)};
  }
  return std::nullopt;
}

// Runs until 16,384 pixels are out, from whatever bytes follow the count word.
std::optional<Error> DecodeRle(bytes::Reader& in, std::vector<std::uint16_t>& out) {
  out.assign(file::kTexturePixels, 0);
  std::size_t done = 0;
  while (done < file::kTexturePixels) {
    const std::uint8_t* c = in.Need(2);
    if (!c) break;
    std::uint16_t code = GetU16LE(c);
    std::size_t left = file::kTexturePixels - done;
    if (code < file::kFirstLiteralCode) {
      const std::uint8_t* value = in.Need(2);
      if (!value) break;
      std::size_t n = std::min<std::size_t>(code, left);
      std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(done), n, GetU16LE(value));
      done += n;
    } else {
      std::size_t n = std::min<std::size_t>(0x10000u - code, left);
      const std::uint8_t* literal = in.Need(n * 2);
      if (!literal)
        return Error{Fault::kRleOverrun, "an RLE run of " + Num(0x10000u - code) +
                                             " literal pixels at pixel " + Num(done) +
                                             " passes the end of the file"};
      for (std::size_t i = 0; i < n; ++i) out[done + i] = GetU16LE(literal + 2 * i);
      done += n;
    }
  }
  if (done < file::kTexturePixels)
    return Truncated("the RLE texture ends after " + Num(done) + " of 16384 pixels");
  return std::nullopt;
}

std::optional<Error> ReadTexture(bytes::Reader& in, Icon& icon) {
  if ((icon.attributes & file::kTextured) == 0) return std::nullopt;
  if ((icon.attributes & file::kRle) == 0) {
    const std::uint8_t* raw = in.Need(file::kRawTextureSize);
    if (!raw)
      return Truncated("the file ends inside the texture: it needs 32768 bytes, " +
                       Num(in.remaining()) + " are left");
    icon.textureKind = TextureKind::kRaw;
    icon.texture.resize(file::kTexturePixels);
    for (std::size_t i = 0; i < file::kTexturePixels; ++i) icon.texture[i] = GetU16LE(raw + 2 * i);
    return std::nullopt;
  }
  const std::uint8_t* count = in.Need(4);
  if (!count) return Truncated("the file ends before the RLE texture's byte count");
  icon.textureKind = TextureKind::kRle;  // the byte count is only a hint: the codes end it
  if (auto error = DecodeRle(in, icon.texture)) {
    icon.texture.clear();
    return error;
  }
  return std::nullopt;
}

}  // namespace

Result<Icon> ParseIcon(std::span<const std::uint8_t> data) {
  bytes::Reader in(data);
  const std::uint8_t* h = in.Need(file::kHeaderSize);
  if (!h)
    return Truncated("the icon file is " + Num(data.size()) +
                     " bytes, shorter than its 20-byte header");
  std::uint32_t magic = GetU32LE(h + file::kMagicOffset);
  if (magic != file::kMagic) {
    char text[64];
    std::snprintf(text, sizeof text, "the icon file begins with 0x%08X, not 0x00010000",
                  static_cast<unsigned>(magic));
    return Error{Fault::kIconMagic, text};
  }
  Icon icon;
  std::uint32_t shapes = GetU32LE(h + file::kShapeCountOffset);
  icon.attributes = GetU32LE(h + file::kAttributesOffset);
  std::uint32_t vertices = GetU32LE(h + file::kVertexCountOffset);

  if (shapes == 0) return Error{Fault::kShapeCount, "the icon has no shapes"};
  if (shapes > file::kMaxShapes)
    return Error{Fault::kShapeCount, Num(shapes) + " shapes: more than 1024"};
  if (vertices % 3 != 0)
    return Error{Fault::kVertexCount, "vertex count " + Num(vertices) + " is not a multiple of 3"};
  if (vertices > file::kMaxVertices)
    return Error{Fault::kVertexCount, Num(vertices) + " vertices: more than 1048576"};
  const std::size_t stride = file::kPositionSize * shapes + file::kFixedVertexPart;
  if (vertices > in.remaining() / stride)
    return Truncated("the file ends inside the vertices: " + Num(vertices) + " of " +
                     Num(stride) + " bytes need " + Num(std::uint64_t{stride} * vertices) +
                     ", " + Num(in.remaining()) + " are left");
  ReadVertices(in.Need(stride * vertices), shapes, vertices, icon);

  if (auto error = ReadAnimation(in, icon.animation)) return *error;
  if (auto error = ReadTexture(in, icon)) return *error;
  return icon;
}

Result<Picture> TexturePicture(const Icon& icon) {
  if (icon.texture.size() != file::kTexturePixels)
    return Error{Fault::kNoTexture, "the icon has no texture"};
  Picture p;
  p.width = p.height = file::kTextureSide;
  p.rgba.resize(file::kTexturePixels * 4);
  for (std::size_t i = 0; i < file::kTexturePixels; ++i) {
    Rgba8 c = ExpandPixel(icon.texture[i]);
    p.rgba[4 * i] = c.r;
    p.rgba[4 * i + 1] = c.g;
    p.rgba[4 * i + 2] = c.b;
    p.rgba[4 * i + 3] = c.a;
  }
  return p;
}

}  // namespace icon
