#include "icon/render.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace icon {

namespace {

constexpr float kColourScale = 255.0f / 128.0f;  // 0..0x80 to 0..255
constexpr float kFullVertexColour = 128.0f;

float Finite(float v) { return std::isfinite(v) ? v : 0.0f; }
float Unit(float v) { return std::clamp(Finite(v), 0.0f, 1.0f); }

struct Light {
  float x = 0, y = 0, z = 0;  // towards the light, in the icon's axes, length 1
  float r = 0, g = 0, b = 0;
  bool on = false;
};

std::array<Light, 3> Lights(const IconSysFields& f) {
  std::array<Light, 3> lights;
  for (std::size_t i = 0; i < lights.size(); ++i) {
    const Vector3& d = f.lightDirections[i];
    float x = Finite(d.x), y = -Finite(d.y), z = -Finite(d.z);
    float length = std::sqrt(x * x + y * y + z * z);
    Light& l = lights[i];
    l.on = std::isfinite(length) && length > 1e-6f;
    if (l.on) {
      l.x = x / length;
      l.y = y / length;
      l.z = z / length;
    }
    l.r = Unit(f.lightColours[i].r);
    l.g = Unit(f.lightColours[i].g);
    l.b = Unit(f.lightColours[i].b);
  }
  return lights;
}

struct ScreenVertex {
  float x, y, z;     // pixels; z as stored, for the depth test
  float r, g, b;     // light factor times vertex colour, per channel
  float u, v;        // texels, 0..128
};

// What each vertex takes to the screen: its place, its light and its texel coordinates.
struct View {
  float scale = 1, offsetX = 0, offsetY = 0;
};

View FitView(const std::vector<Fixed4>& positions, int size) {
  View view;
  if (positions.empty()) return view;
  float minX = positions[0].x, maxX = minX, minY = positions[0].y, maxY = minY;
  for (const Fixed4& p : positions) {
    minX = std::min<float>(minX, p.x);
    maxX = std::max<float>(maxX, p.x);
    minY = std::min<float>(minY, p.y);
    maxY = std::max<float>(maxY, p.y);
  }
  const float span = static_cast<float>(size - 2 * (size / 16));
  const float extent = std::max(maxX - minX, maxY - minY);
  view.scale = extent > 0 ? span / extent : 1.0f;
  const float half = static_cast<float>(size) / 2;
  view.offsetX = half - (minX + maxX) / 2 * view.scale;
  view.offsetY = half - (minY + maxY) / 2 * view.scale;
  return view;
}

std::vector<ScreenVertex> Project(const Icon& icon, const IconSysFields& lighting, int size) {
  const std::vector<Fixed4>& positions = icon.shapes.front();
  const View view = FitView(positions, size);
  const std::array<Light, 3> lights = Lights(lighting);
  const float ambientR = Unit(lighting.ambient.r);
  const float ambientG = Unit(lighting.ambient.g);
  const float ambientB = Unit(lighting.ambient.b);
  const float texels = static_cast<float>(file::kTextureSide);

  std::vector<ScreenVertex> out(positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i) {
    const Fixed4& p = positions[i];
    const Fixed4& n = icon.normals[i];
    ScreenVertex& s = out[i];
    s.x = static_cast<float>(p.x) * view.scale + view.offsetX;
    s.y = static_cast<float>(p.y) * view.scale + view.offsetY;
    s.z = static_cast<float>(p.z);

    float nx = n.x, ny = n.y, nz = n.z;
    float length = std::sqrt(nx * nx + ny * ny + nz * nz);
    float r = ambientR, g = ambientG, b = ambientB;
    if (length > 0) {
      for (const Light& l : lights) {
        if (!l.on) continue;
        float facing = (nx * l.x + ny * l.y + nz * l.z) / length;
        if (facing <= 0) continue;
        r += facing * l.r;
        g += facing * l.g;
        b += facing * l.b;
      }
    }
    const Rgba8& c = icon.colours[i];
    s.r = r * std::min<float>(c.r, kFullVertexColour) / kFullVertexColour;
    s.g = g * std::min<float>(c.g, kFullVertexColour) / kFullVertexColour;
    s.b = b * std::min<float>(c.b, kFullVertexColour) / kFullVertexColour;

    const TexCoord& t = icon.texCoords[i];
    s.u = std::clamp<float>(t.u, 0, file::kFixedOne) / file::kFixedOne * texels;
    s.v = std::clamp<float>(t.v, 0, file::kFixedOne) / file::kFixedOne * texels;
  }
  return out;
}

void FillBackground(const IconSysFields& f, int size, std::vector<std::uint8_t>& rgba) {
  std::array<std::array<float, 3>, 4> corner;
  for (std::size_t i = 0; i < 4; ++i) {
    const Colour8& c = f.corners[i];
    corner[i] = {std::min(255.0f, static_cast<float>(c.r) * kColourScale),
                 std::min(255.0f, static_cast<float>(c.g) * kColourScale),
                 std::min(255.0f, static_cast<float>(c.b) * kColourScale)};
  }
  const float last = static_cast<float>(size - 1);
  std::uint8_t* out = rgba.data();
  for (int y = 0; y < size; ++y) {
    const float fy = static_cast<float>(y) / last;
    for (int x = 0; x < size; ++x, out += 4) {
      const float fx = static_cast<float>(x) / last;
      for (std::size_t k = 0; k < 3; ++k) {
        float top = corner[0][k] * (1 - fx) + corner[1][k] * fx;
        float bottom = corner[2][k] * (1 - fx) + corner[3][k] * fx;
        out[k] = static_cast<std::uint8_t>(top * (1 - fy) + bottom * fy + 0.5f);
      }
      out[3] = 0xFF;
    }
  }
}

// The texture as 8-bit RGB, or one white texel for an icon without one.
struct Texels {
  std::vector<std::array<float, 3>> rgb;
  int side = 1;

  explicit Texels(const Icon& icon) {
    if (!icon.HasTexture()) {
      rgb.assign(1, {255, 255, 255});
      return;
    }
    side = file::kTextureSide;
    rgb.resize(icon.texture.size());
    for (std::size_t i = 0; i < rgb.size(); ++i) {
      Rgba8 c = ExpandPixel(icon.texture[i]);
      rgb[i] = {static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b)};
    }
  }
  const std::array<float, 3>& At(float u, float v) const {
    int x = std::min(side - 1, static_cast<int>(u));
    int y = std::min(side - 1, static_cast<int>(v));
    if (side == 1) x = y = 0;
    return rgb[static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + static_cast<std::size_t>(x)];
  }
};

std::uint8_t Channel(float light, float texel) {
  return static_cast<std::uint8_t>(std::min(255.0f, light * texel + 0.5f));
}

class Rasteriser {
 public:
  Rasteriser(int size, std::vector<std::uint8_t>& rgba, const Texels& texels)
      : size_(size),
        rgba_(rgba),
        texels_(texels),
        depth_(static_cast<std::size_t>(size) * static_cast<std::size_t>(size),
               std::numeric_limits<float>::infinity()) {}

  // Every pixel whose centre lies in the triangle (edges included) and in front of what
  // is there already.
  void Draw(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c) {
    const float area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    if (!(std::fabs(area) > 1e-6f)) return;  // no pixels; NaN lands here too
    const float inverse = 1.0f / area;
    const float last = static_cast<float>(size_ - 1);
    const float left = std::max(0.0f, std::ceil(std::min({a.x, b.x, c.x}) - 0.5f));
    const float right = std::min(last, std::floor(std::max({a.x, b.x, c.x}) - 0.5f));
    const float top = std::max(0.0f, std::ceil(std::min({a.y, b.y, c.y}) - 0.5f));
    const float bottom = std::min(last, std::floor(std::max({a.y, b.y, c.y}) - 0.5f));
    if (!(left <= right && top <= bottom)) return;
    const int x0 = static_cast<int>(left), x1 = static_cast<int>(right);
    const int y0 = static_cast<int>(top), y1 = static_cast<int>(bottom);

    // Barycentric weights of a and b, as planes over the picture: w = k0 + kx*x + ky*y.
    const float ax = (b.y - c.y) * inverse, ay = (c.x - b.x) * inverse;
    const float a0 = (b.x * c.y - c.x * b.y) * inverse;
    const float bx = (c.y - a.y) * inverse, by = (a.x - c.x) * inverse;
    const float b0 = (c.x * a.y - a.x * c.y) * inverse;

    for (int y = y0; y <= y1; ++y) {
      const float py = static_cast<float>(y) + 0.5f;
      float px = static_cast<float>(x0) + 0.5f;
      float wa = a0 + ax * px + ay * py;
      float wb = b0 + bx * px + by * py;
      std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(size_) +
                       static_cast<std::size_t>(x0);
      for (int x = x0; x <= x1; ++x, ++at, wa += ax, wb += bx) {
        const float wc = 1.0f - wa - wb;
        if (wa < 0 || wb < 0 || wc < 0) continue;
        const float z = wa * a.z + wb * b.z + wc * c.z;
        if (!(z < depth_[at])) continue;
        depth_[at] = z;
        const auto& t = texels_.At(wa * a.u + wb * b.u + wc * c.u, wa * a.v + wb * b.v + wc * c.v);
        std::uint8_t* out = rgba_.data() + at * 4;
        out[0] = Channel(wa * a.r + wb * b.r + wc * c.r, t[0]);
        out[1] = Channel(wa * a.g + wb * b.g + wc * c.g, t[1]);
        out[2] = Channel(wa * a.b + wb * b.b + wc * c.b, t[2]);
      }
    }
  }

 private:
  int size_;
  std::vector<std::uint8_t>& rgba_;
  const Texels& texels_;
  std::vector<float> depth_;
};

}  // namespace

Result<Picture> RenderIcon(const Icon& icon, const IconSysFields& lighting, int size) {
  if (size < kMinPictureSize || size > kMaxPictureSize)
    return Error{Fault::kPictureSize, "a picture of " + std::to_string(size) +
                                          " pixels: the size must be 32 to 512"};
  Picture picture;
  picture.width = picture.height = size;
  picture.rgba.resize(static_cast<std::size_t>(size) * static_cast<std::size_t>(size) * 4);
  FillBackground(lighting, size, picture.rgba);
  if (icon.shapes.empty()) return picture;
  const std::size_t count = icon.shapes.front().size();
  if (icon.normals.size() != count || icon.colours.size() != count || icon.texCoords.size() != count ||
      (icon.HasTexture() && icon.texture.size() != file::kTexturePixels))
    return Error{Fault::kVertexCount, "the icon's arrays differ in length"};

  const std::vector<ScreenVertex> vertices = Project(icon, lighting, size);
  const Texels texels(icon);
  Rasteriser raster(size, picture.rgba, texels);
  for (std::size_t i = 0; i + 2 < vertices.size(); i += 3)
    raster.Draw(vertices[i], vertices[i + 1], vertices[i + 2]);
  return picture;
}

}  // namespace icon
