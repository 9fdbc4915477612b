#include "icon/render.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace icon {

namespace {

constexpr float kColourScale = 255.0f / 128.0f;  // 0..0x80 to 0..255
constexpr float kFullVertexColour = 128.0f;

float Finite(float v) { return std::isfinite(v) ? v : 0.0f; }
// v within 0..high, NaN as 0: interpolated values may stray a little past a triangle's
// corners (and far, in a sliver), and a float out of range must never reach an int cast.
float Within(float v, float high) { return v > 0 ? (v < high ? v : high) : 0.0f; }
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

// What is interpolated across a triangle: z as stored (for the depth test), the light
// factor times the vertex colour per channel, and the texel coordinates (0..128).
enum Attribute { kZ, kR, kG, kB, kU, kV, kAttributes };

struct ScreenVertex {
  float x, y;  // pixels
  std::array<float, kAttributes> q;
};

// From the icon's units to pixels: pixel = position x scale + offset.
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

// Each vertex's place in the picture, its light and its texel coordinates.
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
    s.q[kZ] = static_cast<float>(p.z);

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
    s.q[kR] = r * std::min<float>(c.r, kFullVertexColour) / kFullVertexColour;
    s.q[kG] = g * std::min<float>(c.g, kFullVertexColour) / kFullVertexColour;
    s.q[kB] = b * std::min<float>(c.b, kFullVertexColour) / kFullVertexColour;

    const TexCoord& t = icon.texCoords[i];
    s.q[kU] = std::clamp<float>(t.u, 0, file::kFixedOne) / file::kFixedOne * texels;
    s.q[kV] = std::clamp<float>(t.v, 0, file::kFixedOne) / file::kFixedOne * texels;
  }
  return out;
}

// R, G, B and an opaque alpha in memory order, as one word: the background is written a
// pixel at a time, a third quicker than byte by byte.
std::uint32_t Pack(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  if constexpr (std::endian::native == std::endian::little)
    return r | g << 8 | b << 16 | 0xFF000000u;
  else
    return r << 24 | g << 16 | b << 8 | 0xFFu;
}

void FillBackground(const IconSysFields& f, int size, std::vector<std::uint8_t>& rgba) {
  std::array<std::array<float, 3>, 4> corner;
  for (std::size_t i = 0; i < 4; ++i) {
    const Colour8& c = f.corners[i];
    corner[i] = {std::min(255.0f, static_cast<float>(c.r) * kColourScale),
                 std::min(255.0f, static_cast<float>(c.g) * kColourScale),
                 std::min(255.0f, static_cast<float>(c.b) * kColourScale)};
  }
  // Each row mixes its left and right colours by the column's share, written so that
  // the last column takes the right colour exactly.
  const float last = static_cast<float>(size - 1);
  std::vector<float> right(static_cast<std::size_t>(size)), left(static_cast<std::size_t>(size));
  for (int x = 0; x < size; ++x) {
    right[static_cast<std::size_t>(x)] = static_cast<float>(x) / last;
    left[static_cast<std::size_t>(x)] = 1.0f - right[static_cast<std::size_t>(x)];
  }
  std::uint8_t* out = rgba.data();
  for (int y = 0; y < size; ++y) {
    const float fy = static_cast<float>(y) / last;
    std::array<float, 3> l, r;
    for (std::size_t k = 0; k < 3; ++k) {
      l[k] = corner[0][k] * (1 - fy) + corner[2][k] * fy;
      r[k] = corner[1][k] * (1 - fy) + corner[3][k] * fy;
    }
    for (std::size_t x = 0; x < static_cast<std::size_t>(size); ++x, out += 4) {
      const std::uint32_t red = static_cast<std::uint32_t>(l[0] * left[x] + r[0] * right[x] + 0.5f);
      const std::uint32_t green = static_cast<std::uint32_t>(l[1] * left[x] + r[1] * right[x] + 0.5f);
      const std::uint32_t blue = static_cast<std::uint32_t>(l[2] * left[x] + r[2] * right[x] + 0.5f);
      const std::uint32_t pixel = Pack(red, green, blue);
      std::memcpy(out, &pixel, 4);
    }
  }
}

// The texels under the picture: the texture's 16-bit pixels, expanded as they are read,
// or white for an icon without a texture.
class Texels {
 public:
  explicit Texels(const Icon& icon) : pixels_(icon.HasTexture() ? icon.texture.data() : nullptr) {}
  Rgba8 At(float u, float v) const {
    if (!pixels_) return {255, 255, 255, 255};
    const float last = static_cast<float>(file::kTextureSide - 1);
    const int x = static_cast<int>(Within(u, last));
    const int y = static_cast<int>(Within(v, last));
    return ExpandPixel(pixels_[y * file::kTextureSide + x]);
  }

 private:
  const std::uint16_t* pixels_;
};

std::uint8_t Channel(float light, std::uint8_t texel) {
  return static_cast<std::uint8_t>(Within(light * static_cast<float>(texel) + 0.5f, 255.0f));
}

// Where a barycentric weight w = c0 + cy * y + k * x is >= 0 along a row: from (k > 0)
// or up to (k < 0) the x where it crosses zero, e0 + ey * y; everywhere or nowhere when
// k is 0 (then e0, ey hold c0, cy).
struct Edge {
  float e0, ey;
  int kind;  // 1 lower bound, -1 upper bound, 0 flat

  Edge(float c0, float cy, float k)
      : e0(k != 0 ? -c0 / k : c0), ey(k != 0 ? -cy / k : cy), kind(k > 0 ? 1 : k < 0 ? -1 : 0) {}

  // Narrows [lo, hi] at row y; false when the weight is negative all along the row.
  bool Narrow(float y, float& lo, float& hi) const {
    const float v = e0 + ey * y;
    if (kind > 0) lo = std::max(lo, v);
    else if (kind < 0) hi = std::min(hi, v);
    else if (v < 0) return false;
    return true;
  }
};

class Rasteriser {
 public:
  Rasteriser(int size, std::vector<std::uint8_t>& rgba, const Texels& texels)
      : size_(size),
        rgba_(rgba),
        texels_(texels),
        depth_(DepthBuffer()) {
    depth_.assign(static_cast<std::size_t>(size) * static_cast<std::size_t>(size),
                  std::numeric_limits<float>::infinity());
  }

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
    // From here on left and right are pixel indices; the spans below clamp to them.
    const int x0 = static_cast<int>(left), x1 = static_cast<int>(right);
    const int y0 = static_cast<int>(top), y1 = static_cast<int>(bottom);

    // Barycentric weights of a and b, as planes over the picture: w = k0 + kx*x + ky*y.
    const float ax = (b.y - c.y) * inverse, ay = (c.x - b.x) * inverse;
    const float a0 = (b.x * c.y - c.x * b.y) * inverse;
    const float bx = (c.y - a.y) * inverse, by = (a.x - c.x) * inverse;
    const float b0 = (c.x * a.y - a.x * c.y) * inverse;
    // Every attribute as a plane too: q = qc + wa (qa - qc) + wb (qb - qc).
    std::array<float, kAttributes> q0, qx, qy;
    for (std::size_t k = 0; k < kAttributes; ++k) {
      const float da = a.q[k] - c.q[k], db = b.q[k] - c.q[k];
      q0[k] = c.q[k] + a0 * da + b0 * db;
      qx[k] = ax * da + bx * db;
      qy[k] = ay * da + by * db;
    }

    // Each weight is c + k * px along a row: where all three are >= 0 is the row's span.
    const Edge edges[3] = {{a0, ay, ax}, {b0, by, bx}, {1.0f - a0 - b0, -ay - by, -ax - bx}};
    for (int y = y0; y <= y1; ++y) {
      const float py = static_cast<float>(y) + 0.5f;
      float lo = left, hi = right + 1.0f;  // in pixel-centre coordinates
      if (!edges[0].Narrow(py, lo, hi) || !edges[1].Narrow(py, lo, hi) ||
          !edges[2].Narrow(py, lo, hi) || !(lo <= hi))
        continue;
      const int from = std::max(x0, static_cast<int>(std::ceil(lo - 0.5f)));
      const int to = std::min(x1, static_cast<int>(std::floor(hi - 0.5f)));
      std::array<float, kAttributes> row;
      for (std::size_t k = 0; k < kAttributes; ++k) row[k] = q0[k] + qy[k] * py;
      std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(size_) +
                       static_cast<std::size_t>(from);
      for (int x = from; x <= to; ++x, ++at) {
        // Each pixel's values afresh: stepping them along the row would let error build up.
        const float px = static_cast<float>(x) + 0.5f;
        const float z = row[kZ] + qx[kZ] * px;
        if (!(z < depth_[at])) continue;
        depth_[at] = z;
        const Rgba8 t = texels_.At(row[kU] + qx[kU] * px, row[kV] + qx[kV] * px);
        std::uint8_t* out = rgba_.data() + at * 4;
        out[0] = Channel(row[kR] + qx[kR] * px, t.r);
        out[1] = Channel(row[kG] + qx[kG] * px, t.g);
        out[2] = Channel(row[kB] + qx[kB] * px, t.b);
      }
    }
  }

 private:
  int size_;
  std::vector<std::uint8_t>& rgba_;
  const Texels& texels_;
  std::vector<float>& depth_;

  // One per thread, kept between pictures: a fresh one of this size comes from new pages
  // each time, and the page faults cost more than filling it.
  static std::vector<float>& DepthBuffer() {
    thread_local std::vector<float> buffer;
    return buffer;
  }
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
  // Nearest first: a hidden pixel then costs one depth comparison. The depth buffer
  // decides what shows either way; triangles at equal depth keep the file's order.
  std::vector<std::pair<float, std::size_t>> order;
  order.reserve(vertices.size() / 3);
  for (std::size_t i = 0; i + 2 < vertices.size(); i += 3)
    order.emplace_back(std::min({vertices[i].q[kZ], vertices[i + 1].q[kZ], vertices[i + 2].q[kZ]}), i);
  std::sort(order.begin(), order.end());
  for (const auto& [depth, i] : order) raster.Draw(vertices[i], vertices[i + 1], vertices[i + 2]);
  return picture;
}

}  // namespace icon
