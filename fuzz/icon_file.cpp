// ParseIcon over arbitrary bytes, and what a front end does with an icon that parses: the
// texture as pixels, the OBJ text, and a 32-pixel picture. The lights of that picture come
// from the input's first bytes taken as floats, so NaN, infinite and huge values reach
// the drawer too.
#include <bit>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "icon/icon_file.h"
#include "icon/obj_export.h"
#include "icon/render.h"

namespace {

float FloatAt(const std::uint8_t* data, std::size_t size, std::size_t index) {
  std::uint32_t bits = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    std::size_t at = index * 4 + k;
    bits |= static_cast<std::uint32_t>(at < size ? data[at] : 0) << (8 * k);
  }
  return std::bit_cast<float>(bits);
}

icon::IconSysFields LightsFrom(const std::uint8_t* data, std::size_t size) {
  icon::IconSysFields f;
  std::size_t i = 0;
  for (std::size_t l = 0; l < 3; ++l) {
    f.lightDirections[l] = {FloatAt(data, size, i), FloatAt(data, size, i + 1), FloatAt(data, size, i + 2)};
    f.lightColours[l] = {FloatAt(data, size, i + 3), FloatAt(data, size, i + 4), FloatAt(data, size, i + 5)};
    i += 6;
  }
  f.ambient = {FloatAt(data, size, i), FloatAt(data, size, i + 1), FloatAt(data, size, i + 2)};
  // Corner colours past 0x80 too (the callers below have at least a header's bytes).
  for (std::size_t c = 0; c < 4; ++c) f.corners[c] = {data[size - 1 - c], data[size / 2], 0x40};
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto parsed = icon::ParseIcon(std::span<const std::uint8_t>(data, size));
  if (!parsed.ok()) {
    if (parsed.error().message.empty()) fuzz::Require("a fault without a message", "ParseIcon");
    return 0;
  }
  const icon::Icon& model = parsed.value();
  const std::size_t n = model.VertexCount();
  if (model.shapes.empty() || model.shapes[0].size() != n || model.colours.size() != n ||
      model.texCoords.size() != n || n % 3 != 0)
    fuzz::Require("vertex arrays disagree", "ParseIcon");
  if (model.HasTexture() != ((model.attributes & icon::file::kTextured) != 0))
    fuzz::Require("texture present without the attribute, or missing with it", "ParseIcon");

  auto texture = icon::TexturePicture(model);
  if (texture.ok() != model.HasTexture() ||
      (texture.ok() && texture.value().rgba.size() != 128u * 128u * 4u))
    fuzz::Require("texture picture", "TexturePicture");

  std::string obj = icon::IconToObj(model, "icon.mtl");
  std::size_t faces = 0;
  for (std::size_t at = obj.find("\nf "); at != std::string::npos; at = obj.find("\nf ", at + 1)) ++faces;
  if (faces != n / 3) fuzz::Require("one face per triangle", "IconToObj");

  auto picture = icon::RenderIcon(model, LightsFrom(data, size), icon::kMinPictureSize);
  if (!picture.ok() || picture.value().rgba.size() != 32u * 32u * 4u)
    fuzz::Require("a parsed icon does not draw", "RenderIcon");
  return 0;
}
