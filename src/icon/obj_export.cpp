#include "icon/obj_export.h"
#include "model/float_text.h"

#include <algorithm>

namespace icon {

namespace {

constexpr std::string_view kMaterial = "icon";

// Shortest text that reads back as the same float, whatever the C locale says.
void Append(std::string& out, float value) {
  out += model::ShortestText(value);
}

void AppendLine(std::string& out, std::string_view tag, std::initializer_list<float> values) {
  out.append(tag);
  for (float v : values) {
    out.push_back(' ');
    Append(out, v);
  }
  out.push_back('\n');
}

float Fixed(std::int16_t v) { return static_cast<float>(v) / file::kFixedOne; }
float Unit(std::int16_t v) { return std::clamp(Fixed(v), 0.0f, 1.0f); }
float Colour(std::uint8_t c) { return std::min(static_cast<float>(c), 128.0f) / 128.0f; }

}  // namespace

std::string IconToObj(const Icon& icon, std::string_view mtlName) {
  std::string out = "# shape 0 of a PlayStation 2 save icon\nmtllib ";
  out.append(mtlName);
  out.append("\n");
  if (icon.shapes.empty()) return out;
  const std::vector<Fixed4>& positions = icon.shapes.front();
  const std::size_t count = std::min({positions.size(), icon.normals.size(),
                                      icon.texCoords.size(), icon.colours.size()});
  for (std::size_t i = 0; i < count; ++i) {
    const Fixed4& p = positions[i];
    if (icon.HasTexture()) {
      AppendLine(out, "v", {Fixed(p.x), Fixed(p.y), Fixed(p.z)});
    } else {
      const Rgba8& c = icon.colours[i];
      AppendLine(out, "v", {Fixed(p.x), Fixed(p.y), Fixed(p.z), Colour(c.r), Colour(c.g), Colour(c.b)});
    }
  }
  for (std::size_t i = 0; i < count; ++i)
    AppendLine(out, "vt", {Unit(icon.texCoords[i].u), 1.0f - Unit(icon.texCoords[i].v)});
  for (std::size_t i = 0; i < count; ++i)
    AppendLine(out, "vn", {Fixed(icon.normals[i].x), Fixed(icon.normals[i].y), Fixed(icon.normals[i].z)});
  out.append("usemtl ");
  out.append(kMaterial);
  out.append("\n");
  for (std::size_t i = 0; i + 2 < count; i += 3) {
    out.append("f");
    for (std::size_t k = 1; k <= 3; ++k) {
      std::string n = std::to_string(i + k);
      out.append(" " + n + "/" + n + "/" + n);
    }
    out.push_back('\n');
  }
  return out;
}

std::string IconToMtl(const Icon& icon, std::string_view textureName) {
  std::string out = "newmtl ";
  out.append(kMaterial);
  out.append("\nKa 1 1 1\nKd 1 1 1\nKs 0 0 0\nillum 1\n");
  if (icon.HasTexture()) {
    out.append("map_Kd ");
    out.append(textureName);
    out.append("\n");
  }
  return out;
}

}  // namespace icon
