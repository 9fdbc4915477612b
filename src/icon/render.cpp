#include "icon/render.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <optional>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "io/beside.h"
#include "model/bytes.h"

// SSE2 where the compiler has it, except in the portable build; the plain code beside
// each use does the same.
#if defined(__SSE2__) && !defined(MORAVELT_PORTABLE)
#include <emmintrin.h>
#define MORAVELT_ICON_SSE2 1
#endif

// WebAssembly's SIMD takes the portable vectors as they are; a few of its own operations
// stand in for what the portable code spells out lane by lane.
#if defined(__wasm_simd128__) && !defined(MORAVELT_ICON_SSE2)
#include <wasm_simd128.h>
#define MORAVELT_ICON_WASM_SIMD 1
#endif

// The drawing is compiled a second time for processors with AVX2, chosen at run time.
#if defined(MORAVELT_ICON_SSE2) && defined(__x86_64__) && defined(__GNUC__)
#define MORAVELT_ICON_WIDE 1
#endif

namespace icon {

namespace {

constexpr float kColourScale = 255.0f / 128.0f;  // 0..0x80 to 0..255
constexpr float kFullVertexColour = 128.0f;
constexpr float kFixedOne = 65536.0f;  // 1 in 16.16 fixed point

float Finite(float v) { return std::isfinite(v) ? v : 0.0f; }
float Unit(float v) { return std::clamp(Finite(v), 0.0f, 1.0f); }

struct Light {
  float x = 0, y = 0, z = 0;  // towards the light, in the icon's axes, length 1
  float r = 0, g = 0, b = 0;  // all 0 for a light that is off
};

std::array<Light, 3> Lights(const IconSysFields& f) {
  std::array<Light, 3> lights;
  for (std::size_t i = 0; i < lights.size(); ++i) {
    const Vector3& d = f.lightDirections[i];
    float x = Finite(d.x), y = -Finite(d.y), z = -Finite(d.z);
    float length = std::sqrt(x * x + y * y + z * z);
    Light& l = lights[i];
    if (!(std::isfinite(length) && length > 1e-6f)) continue;  // off
    l.x = x / length;
    l.y = y / length;
    l.z = z / length;
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

// R, G, B and an opaque alpha in memory order, as one word: the background is written a
// pixel at a time, a third quicker than byte by byte.
std::uint32_t Pack(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  if constexpr (std::endian::native == std::endian::little)
    return r | g << 8 | b << 16 | 0xFF000000u;
  else
    return r << 24 | g << 16 | b << 8 | 0xFFu;
}

// Four lanes at once (four pixels, or a pixel's four samples) in the compiler's portable
// vectors (SSE2 on the PC): comparisons give all-ones lanes where they hold.
using F4 = float __attribute__((vector_size(16)));
using I4 = std::int32_t __attribute__((vector_size(16)));
F4 Load4(const float* p) {
  F4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void Store4(float* p, F4 v) { std::memcpy(p, &v, sizeof v); }
F4 Splat(float v) { return F4{v, v, v, v}; }
I4 Splat(std::uint32_t v) {
  const auto i = static_cast<std::int32_t>(v);
  return I4{i, i, i, i};
}
bool Any(I4 m) {
#ifdef MORAVELT_ICON_SSE2
  return _mm_movemask_ps(reinterpret_cast<__m128>(m)) != 0;  // lanes are all ones or zero
#elif defined(MORAVELT_ICON_WASM_SIMD)
  return wasm_v128_any_true(reinterpret_cast<v128_t>(m));
#else
  std::uint64_t w[2];
  std::memcpy(w, &m, sizeof w);
  return (w[0] | w[1]) != 0;
#endif
}
I4 Bits(F4 v) {
  I4 i;
  std::memcpy(&i, &v, sizeof i);
  return i;
}
F4 Blend(I4 mask, F4 yes, F4 no) {
  const I4 bits = (mask & Bits(yes)) | (~mask & Bits(no));
  F4 v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}
// Lane by lane a where a > b (a < b), else b (so b where either is NaN), as maxps and
// minps give.
F4 Greater(F4 a, F4 b) {
#ifdef MORAVELT_ICON_SSE2
  return _mm_max_ps(a, b);
#elif defined(MORAVELT_ICON_WASM_SIMD)
  return reinterpret_cast<F4>(wasm_f32x4_pmax(reinterpret_cast<v128_t>(b), reinterpret_cast<v128_t>(a)));  // b < a ? a : b
#else
  return Blend(a > b, a, b);
#endif
}
F4 Less(F4 a, F4 b) {
#ifdef MORAVELT_ICON_SSE2
  return _mm_min_ps(a, b);
#elif defined(MORAVELT_ICON_WASM_SIMD)
  return reinterpret_cast<F4>(wasm_f32x4_pmin(reinterpret_cast<v128_t>(b), reinterpret_cast<v128_t>(a)));  // a < b ? a : b
#else
  return Blend(a < b, a, b);
#endif
}
// The least of four lanes, none NaN.
float Lowest(F4 v) {
#ifdef MORAVELT_ICON_SSE2
  v = _mm_min_ps(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm_min_ps(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 3, 2)))[0];
#else
  return std::min(std::min(v[0], v[1]), std::min(v[2], v[3]));
#endif
}

// Each lane's square root, rounded as one alone is.
F4 SquareRoot(F4 v) {
#ifdef MORAVELT_ICON_SSE2
  return _mm_sqrt_ps(v);
#elif defined(MORAVELT_ICON_WASM_SIMD)
  return reinterpret_cast<F4>(wasm_f32x4_sqrt(reinterpret_cast<v128_t>(v)));
#else
  return F4{std::sqrt(v[0]), std::sqrt(v[1]), std::sqrt(v[2]), std::sqrt(v[3])};
#endif
}

// Each vertex's place in the picture, its light and its texel coordinates, four vertices
// at a time. Each lane takes the operations one vertex alone would, in the same order, so
// its values are the same as that vertex's alone.
std::vector<ScreenVertex> Project(const Icon& icon, const IconSysFields& lighting, const View& view) {
  const std::vector<Fixed4>& positions = icon.shapes.front();
  const std::array<Light, 3> lights = Lights(lighting);
  const F4 ambientR = Splat(Unit(lighting.ambient.r));
  const F4 ambientG = Splat(Unit(lighting.ambient.g));
  const F4 ambientB = Splat(Unit(lighting.ambient.b));
  const F4 zero = Splat(0.0f), full = Splat(kFullVertexColour), fixedOne = Splat(file::kFixedOne);
  const F4 texels = Splat(static_cast<float>(file::kTextureSide));
  // min(c, 128) and clamp(t, 0, 1 in fixed point), each as std::min and std::clamp pick.
  const auto vertexShare = [&](F4 c) { return Blend(full < c, full, c); };
  const auto texelShare = [&](F4 t) { return Blend(t < zero, zero, Blend(fixedOne < t, fixedOne, t)); };

  const std::size_t count = positions.size();
  std::vector<ScreenVertex> out(count);
  for (std::size_t i = 0; i < count; i += 4) {
    // Lanes past the last vertex repeat it, and are not kept.
    F4 px, py, pz, nx, ny, nz, cr, cg, cb, tu, tv;
    for (std::size_t k = 0; k < 4; ++k) {
      const std::size_t j = std::min(i + k, count - 1);
      const Fixed4& p = positions[j];
      const Fixed4& n = icon.normals[j];
      const Rgba8& c = icon.colours[j];
      const TexCoord& t = icon.texCoords[j];
      px[k] = p.x, py[k] = p.y, pz[k] = p.z;
      nx[k] = n.x, ny[k] = n.y, nz[k] = n.z;
      cr[k] = c.r, cg[k] = c.g, cb[k] = c.b;
      tu[k] = t.u, tv[k] = t.v;
    }
    const F4 x = px * Splat(view.scale) + Splat(view.offsetX);
    const F4 y = py * Splat(view.scale) + Splat(view.offsetY);

    // Lights that are off, and a normal of length 0, face nothing: every factor is 0,
    // and adding max(0, facing) keeps the sum free of branches.
    const F4 length = SquareRoot(nx * nx + ny * ny + nz * nz);
    const F4 inverse = Blend(length > zero, Splat(1.0f) / length, zero);
    F4 r = ambientR, g = ambientG, b = ambientB;
    for (const Light& l : lights) {
      const F4 dot = (nx * Splat(l.x) + ny * Splat(l.y) + nz * Splat(l.z)) * inverse;
      const F4 facing = Blend(zero < dot, dot, zero);
      r += facing * Splat(l.r);
      g += facing * Splat(l.g);
      b += facing * Splat(l.b);
    }
    const F4 qr = r * vertexShare(cr) / full, qg = g * vertexShare(cg) / full, qb = b * vertexShare(cb) / full;
    const F4 qu = texelShare(tu) / fixedOne * texels, qv = texelShare(tv) / fixedOne * texels;
    for (std::size_t k = 0; k < 4 && i + k < count; ++k) {
      ScreenVertex& s = out[i + k];
      s.x = x[k];
      s.y = y[k];
      s.q = {pz[k], qr[k], qg[k], qb[k], qu[k], qv[k]};
    }
  }
  return out;
}

// Pixels of one row of the background, channel k at (start[k] + step[k] x) >> 16: values
// within 0..255, as 0.5..255.5 give.
[[gnu::always_inline]] inline void FillRow(I4 start, I4 step, int size, std::uint8_t* out) {
  int x = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Four pixels at a time: R, G and B each in its own four lanes, kept in fixed point
    // and moved into their bytes by one shift and a mask.
    const I4 lanes = {0, 1, 2, 3};
    I4 red = Splat(static_cast<std::uint32_t>(start[0])) + Splat(static_cast<std::uint32_t>(step[0])) * lanes;
    I4 green = Splat(static_cast<std::uint32_t>(start[1])) + Splat(static_cast<std::uint32_t>(step[1])) * lanes;
    I4 blue = Splat(static_cast<std::uint32_t>(start[2])) + Splat(static_cast<std::uint32_t>(step[2])) * lanes;
    const I4 by4 = step * 4;
    for (; x + 4 <= size; x += 4, out += 16) {
      const I4 pixels = (red >> 16) | ((green >> 8) & Splat(0xFF00u)) | (blue & Splat(0xFF0000u)) | Splat(0xFF000000u);
      std::memcpy(out, &pixels, sizeof pixels);
      red += Splat(static_cast<std::uint32_t>(by4[0]));
      green += Splat(static_cast<std::uint32_t>(by4[1]));
      blue += Splat(static_cast<std::uint32_t>(by4[2]));
    }
  }
  for (; x < size; ++x, out += 4) {
    const I4 c = (start + step * x) >> 16;
    const std::uint32_t pixel = Pack(static_cast<std::uint32_t>(c[0]), static_cast<std::uint32_t>(c[1]), static_cast<std::uint32_t>(c[2]));
    std::memcpy(out, &pixel, 4);
  }
}

// The background, a row at a time: each row mixes its left and right colours by the
// column's share x / (size - 1), l + (r - l) x / (size - 1), rounded, stepped from pixel
// to pixel in fixed point with 16 fraction bits (off by less than 1/100 of a level at the
// far end). A row mixed like the one before (top and bottom corners alike, as in many
// icon.sys) is left as it was.
class Background {
 public:
  Background(const IconSysFields& f, int size) : size_(size), last_(static_cast<float>(size - 1)) {
    for (std::size_t i = 0; i < 4; ++i) {
      const Colour8& c = f.corners[i];
      corner_[i] = {std::min(255.0f, static_cast<float>(c.r) * kColourScale),
                    std::min(255.0f, static_cast<float>(c.g) * kColourScale),
                    std::min(255.0f, static_cast<float>(c.b) * kColourScale)};
    }
  }

  // Row y's pixels in `row` (size * 4 bytes), which holds those of the row asked for
  // before, if any.
  [[gnu::always_inline]] void Row(int y, std::uint8_t* row) {
    const float fy = static_cast<float>(y) / last_;
    F4 left = Splat(0.5f), difference = Splat(0.0f);  // red, green, blue, nothing
    for (std::size_t k = 0; k < 3; ++k) {
      // Top plus a share of the difference: exactly the top where the bottom is alike.
      const float l = corner_[0][k] + (corner_[2][k] - corner_[0][k]) * fy;
      const float r = corner_[1][k] + (corner_[3][k] - corner_[1][k]) * fy;
      left[k] += l;  // rounded: + 0.5
      difference[k] = r - l;
    }
    // The step rounded to the nearest unit, and the start raised by as many units as the
    // steps may lose (half a unit each), so that an exact level is never missed by a hair.
    const F4 exactStep = difference * Splat(kFixedOne / last_);
    const I4 step = __builtin_convertvector(exactStep + Blend(exactStep < Splat(0.0f), Splat(-0.5f), Splat(0.5f)), I4);
    const I4 start = __builtin_convertvector(left * Splat(kFixedOne) + Splat(last_ / 2 + 1), I4);
    if (Any((start != start_) | (step != step_))) FillRow(start, step, size_, row);
    start_ = start, step_ = step;
  }

 private:
  int size_;
  float last_;
  std::array<std::array<float, 3>, 4> corner_;
  I4 start_{}, step_{};  // the last row's; at first 0, which no row starts with (each is 1 or more)
};

// Where a barycentric weight w = c0 + cy * y + k * x is >= 0 along a row: from (k > 0)
// or up to (k < 0) the x where it crosses zero, e0 + ey * y; everywhere or nowhere when
// k is 0 (then e0, ey hold c0, cy).
struct Edge {
  float e0, ey;
  int kind;  // 1 lower bound, -1 upper bound, 0 flat

  Edge(float c0, float cy, float k)
      : e0(k != 0 ? -c0 / k : c0), ey(k != 0 ? -cy / k : cy), kind(k > 0 ? 1 : k < 0 ? -1 : 0) {}
};

// Four samples per pixel, on a rotated grid: each in its own quarter of the pixel's
// rows and of its columns, so that an edge close to horizontal or vertical is stepped in
// quarters of a pixel, and a triangle thinner than a pixel still covers the samples it
// passes over. Sample k lies at (x + kSampleX[k], y + kSampleY[k]).
constexpr int kSamples = 4;
constexpr std::array<float, kSamples> kSampleX = {0.375f, 0.875f, 0.125f, 0.625f};
constexpr std::array<float, kSamples> kSampleY = {0.125f, 0.375f, 0.625f, 0.875f};
constexpr float kFirstSampleX = 0.125f, kLastSampleX = 0.875f;

// What a pixel's samples hold: each sample's depth and colour; a sample no triangle has
// covered has an infinite depth and shows the background.
struct PixelSamples {
  std::array<float, kSamples> depth;
  std::array<std::uint32_t, kSamples> colour;
};

// Each lane within 0..high, NaN as 0: interpolated values may stray a little past a
// triangle's corners (and far, in a sliver), and a float out of range must never reach an
// int conversion.
F4 Within(F4 v, float high) {
#ifdef MORAVELT_ICON_SSE2
  // maxps gives its second operand where the first is NaN.
  return _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(high));
#else
  v = Blend(v > Splat(0.0f), v, Splat(0.0f));
  return Blend(v < Splat(high), v, Splat(high));
#endif
}

// The texel under (u, v) (lanes 0 and 1, in texels) as R, G, B and 0: each 5-bit
// channel c expanded to 8 bits, (c << 3) | (c >> 2), which is c * 8.25 rounded down (its
// bits are masked in place and scaled there, exactly). White without a texture.
F4 TexelAt(const std::uint16_t* texture, F4 uv) {
  if (!texture) return F4{255.0f, 255.0f, 255.0f, 0.0f};
  const I4 at = __builtin_convertvector(Within(uv, static_cast<float>(file::kTextureSide - 1)), I4);
  const auto pixel = static_cast<std::int32_t>(texture[at[1] * static_cast<std::int32_t>(file::kTextureSide) + at[0]]);
  const F4 fields = __builtin_convertvector(I4{pixel, pixel, pixel, pixel} & I4{0x1F, 0x3E0, 0x7C00, 0}, F4);
  return __builtin_convertvector(__builtin_convertvector(fields * F4{8.25f, 8.25f / 32, 8.25f / 1024, 0.0f}, I4), F4);
}

// Light times texel, rounded and within 0..255 (NaN as 0), packed as a pixel.
std::uint32_t Colour(F4 light, F4 texel) {
  const I4 c = __builtin_convertvector(Within(light * texel + Splat(0.5f), 255.0f), I4);
#ifdef MORAVELT_ICON_SSE2
  // The four lanes narrowed to bytes in memory order (lane 3, which holds 0, then opaque).
  const __m128i words = _mm_packs_epi32(reinterpret_cast<__m128i>(c), reinterpret_cast<__m128i>(c));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words))) | 0xFF000000u;
#else
  return Pack(static_cast<std::uint32_t>(c[0]), static_cast<std::uint32_t>(c[1]), static_cast<std::uint32_t>(c[2]));
#endif
}

class Rasteriser {
 public:
  // Rows first..end - 1 of a picture `size` pixels a side; texture: the icon's 16-bit
  // texels, or nullptr for white ones.
  Rasteriser(int size, int first, int end, const std::uint16_t* texture)
      : size_(size), stride_((size + kRun - 1) / kRun * kRun), first_(first), end_(end), texture_(texture),
        samples_(SampleBuffer()), ready_(ReadyBuffer()) {
    const auto rows = static_cast<std::size_t>(end - first);
    const std::size_t pixels = static_cast<std::size_t>(stride_) * rows;
    if (samples_.size() < pixels) samples_.resize(pixels);
    ready_.assign(rows, 0);
    // A small picture has its samples made ready all at once: a triangle there spans few
    // pixels in each row, and marking runs row by row would cost more than the clearing.
    whole_ = size <= kWholeSize;
    if (whole_) {
      const std::uint64_t runs = RunsBetween(0, (size - 1) / kRun);
      for (int y = first; y < end; ++y) {
        ready_[static_cast<std::size_t>(y - first)] = runs;
        PixelSamples* const row = RowSamples(y);
        for (int x = 0; x < stride_; ++x) Store4(row[x].depth.data(), Splat(std::numeric_limits<float>::infinity()));
      }
    }
  }

  // Every sample of the rows drawn that lies in the triangle (edges included) and in
  // front of what is there already takes the triangle's colour at the sample's pixel.
  [[gnu::always_inline]] void Draw(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c) {
    const float area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    if (!(std::fabs(area) > 1e-6f)) return;  // no samples; NaN lands here too
    // The pixels with a sample that may lie in the triangle.
    const float last = static_cast<float>(size_ - 1);
    Box box;
    box.left = std::max(0.0f, std::ceil(std::min({a.x, b.x, c.x}) - kLastSampleX));
    box.right = std::min(last, std::floor(std::max({a.x, b.x, c.x}) - kFirstSampleX));
    const float top = std::max(0.0f, std::ceil(std::min({a.y, b.y, c.y}) - kSampleY[kSamples - 1]));
    const float bottom = std::min(last, std::floor(std::max({a.y, b.y, c.y}) - kSampleY[0]));
    if (!(box.left <= box.right && top <= bottom)) return;
    box.y0 = static_cast<int>(top);
    box.y1 = std::min(static_cast<int>(bottom), end_ - 1);
    if (box.y1 < first_) return;  // above or below the rows drawn
    // Light and texel coordinates alike at the three corners (one normal, one colour, one
    // texel): the colour is the same at every pixel, as each step is 0 (adding a zero
    // step leaves a value as it was but for the sign of a zero, which no colour shows).
    flat_ = true;
    for (std::size_t k = kR; k <= kV; ++k) flat_ = flat_ && a.q[k] == c.q[k] && b.q[k] == c.q[k];
    flatColour_ = 0;  // not yet known: every colour is opaque
    DrawRows(box, Setup(a, b, c, 1.0f / area));
  }

  // Each pixel of row y (its background in `row`) that a triangle reached takes the
  // mean of its samples: only the runs that some triangle made ready.
  [[gnu::always_inline]] void Resolve(int y, std::uint8_t* row) {
    for (std::uint64_t runs = ready_[static_cast<std::size_t>(y - first_)]; runs != 0; runs &= runs - 1) {
      const int from = std::countr_zero(runs) * kRun;
      for (int x = from; x < std::min(from + kRun, size_); ++x) ResolvePixel(RowSamples(y)[x], row + x * 4);
    }
  }

 private:
  // The attributes' planes: q = q0 + qx * x + qy * y.
  struct Planes {
    std::array<float, kAttributes> q0, qx, qy;
  };
  // One pixel row of a triangle: for each sample, the pixels x whose sample lies in it
  // (lo <= x <= hi) and its depth at x = 0; red, green, blue and u, and v, at x = 0 of
  // the row's pixel centres.
  struct RowStart {
    F4 lo, hi, depth, shade;
    float v;
  };
  // The pixels a triangle may reach: columns left..right, rows y0..y1 (y1 within the
  // rows drawn; y0 may lie above them).
  struct Box {
    float left, right;
    int y0, y1;
  };
  // A triangle's attributes as planes, and its edges.
  struct Shape {
    Planes planes;
    std::array<Edge, 3> edges;
  };

  static Shape Setup(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c, float inverse) {
    // Barycentric weights of a and b, as planes over the picture: w = k0 + kx*x + ky*y.
    const float ax = (b.y - c.y) * inverse, ay = (c.x - b.x) * inverse;
    const float a0 = (b.x * c.y - c.x * b.y) * inverse;
    const float bx = (c.y - a.y) * inverse, by = (a.x - c.x) * inverse;
    const float b0 = (c.x * a.y - a.x * c.y) * inverse;
    // Every attribute as a plane too: q = qc + wa (qa - qc) + wb (qb - qc).
    Planes planes;
    for (std::size_t k = 0; k < kAttributes; ++k) {
      const float da = a.q[k] - c.q[k], db = b.q[k] - c.q[k];
      planes.q0[k] = c.q[k] + a0 * da + b0 * db;
      planes.qx[k] = ax * da + bx * db;
      planes.qy[k] = ay * da + by * db;
    }
    // Each weight is c + k * x along a sample row: where all three are >= 0 is the row's
    // span.
    return {planes, {Edge{a0, ay, ax}, Edge{b0, by, bx}, Edge{1.0f - a0 - b0, -ay - by, -ax - bx}}};
  }

  // The triangle's rows, for each of a pixel row's four sample rows at once. Row by row,
  // every value that depends on y alone moves on by its step, from the triangle's first
  // row: rows above those drawn are stepped over, not drawn, so that each row's values
  // are the same whichever rows are drawn.
  [[gnu::always_inline]] void DrawRows(const Box& box, const Shape& shape) {
    const Planes& planes = shape.planes;
    const std::array<Edge, 3>& edges = shape.edges;
    const F4 sampleX = Load4(kSampleX.data());
    const F4 sy0 = Splat(static_cast<float>(box.y0)) + Load4(kSampleY.data());
    F4 bound[3];  // each edge's crossing, on the four sample rows of row y
    for (int e = 0; e < 3; ++e) bound[e] = Splat(edges[e].e0) + Splat(edges[e].ey) * sy0;
    RowStart row;
    row.depth = Splat(planes.q0[kZ]) + Splat(planes.qx[kZ]) * sampleX + Splat(planes.qy[kZ]) * sy0;
    const float py0 = static_cast<float>(box.y0) + 0.5f;
    row.shade = Load4(&planes.q0[kR]) + Load4(&planes.qy[kR]) * Splat(py0);
    row.v = planes.q0[kV] + planes.qy[kV] * py0;
    const auto step = [&] {
      for (int e = 0; e < 3; ++e) bound[e] += Splat(edges[e].ey);
      row.depth += Splat(planes.qy[kZ]);
      row.shade += Load4(&planes.qy[kR]);
      row.v += planes.qy[kV];
    };
    int y = box.y0;
    for (; y < first_; ++y) step();
    const int x0 = static_cast<int>(box.left), x1 = static_cast<int>(box.right);
    for (; y <= box.y1; ++y, step()) {
      F4 lo = Splat(box.left), hi = Splat(box.right + 1.0f);
      I4 empty = {0, 0, 0, 0};
      for (int e = 0; e < 3; ++e) {
        if (edges[e].kind > 0) lo = Greater(bound[e], lo);
        else if (edges[e].kind < 0) hi = Less(bound[e], hi);
        else empty |= bound[e] < Splat(0.0f);
      }
      empty |= ~(lo <= hi);  // NaN too
      // Pixels x with lo <= x + offset <= hi; none for an empty row.
      row.lo = Blend(empty, Splat(kNoPixel), lo - sampleX);
      row.hi = Blend(empty, Splat(-kNoPixel), hi - sampleX);
      // The pixels between the lowest and highest bound, cut to the box: the first
      // rounded up, the last down (by truncation, as it is never below -1: at worst
      // pixel 0 is tested and left).
      const float lowest = Lowest(row.lo), highest = -Lowest(-row.hi);
      if (lowest <= highest) {
        const float first = std::max(lowest, box.left);  // 0 or more
        const int up = static_cast<int>(first) + (static_cast<float>(static_cast<int>(first)) < first);
        const int from = std::max(x0, up);
        const int to = std::min(x1, static_cast<int>(std::min(highest, box.right)));
        DrawRow(y, from, to, row, planes);
      }
    }
  }

  static constexpr float kNoPixel = 1e9f;  // a bound no pixel reaches
  // Pixels are made ready in runs of this many; a row of the largest picture has 64.
  static constexpr int kRun = 8;
  static_assert(kMaxPictureSize % kRun == 0 && kMaxPictureSize / kRun <= 64);
  // Pictures up to this size have all their samples made ready at the start.
  static constexpr int kWholeSize = 64;

  void DrawRow(int y, int from, int to, const RowStart& row, const Planes& planes) {
    if (from > to) return;
    std::uint32_t& colour = flatColour_;
    if (!whole_) Ready(y, from, to);
    const F4 depthStep = Splat(planes.qx[kZ]);
    // Red, green, blue and u at the pixels' centres: shade + step * (x + 0.5).
    const F4 shadeStep = Load4(&planes.qx[kR]);
    PixelSamples* const pixels = RowSamples(y);
    F4 fx = Splat(static_cast<float>(from));
    for (int x = from; x <= to; ++x, fx += Splat(1.0f)) {
      PixelSamples& p = pixels[x];
      const F4 old = Load4(p.depth.data());
      const F4 z = row.depth + depthStep * fx;
      // The samples in the triangle and in front.
      const I4 front = (fx >= row.lo) & (fx <= row.hi) & (z < old);
      if (!Any(front)) continue;
      // One colour for the pixel, at its centre; each value within its range, as the
      // centre may lie outside a triangle that only some samples are in.
      // A flat triangle's is the same everywhere: worked out at the first pixel it shows in.
      if (colour == 0 || !flat_) {
        const float px = fx[0] + 0.5f;  // fx holds x exactly
        const F4 shade = row.shade + shadeStep * Splat(px);
        colour = Colour(shade, TexelAt(texture_, F4{shade[3], row.v + planes.qx[kV] * px, 0.0f, 0.0f}));
      }
      Store4(p.depth.data(), Blend(front, z, old));
      I4 colours;
      std::memcpy(&colours, p.colour.data(), sizeof colours);
      const I4 mixed = (front & Splat(colour)) | (~front & colours);
      std::memcpy(p.colour.data(), &mixed, sizeof mixed);
    }
  }

  // The mean of a pixel's samples, a sample no triangle covered taking the background.
  static void ResolvePixel(const PixelSamples& p, std::uint8_t* out) {
    const I4 covered = Load4(p.depth.data()) < Splat(std::numeric_limits<float>::infinity());
    if (!Any(covered)) return;
    std::uint32_t background;
    std::memcpy(&background, out, sizeof background);
    I4 colours;
    std::memcpy(&colours, p.colour.data(), sizeof colours);
    colours = (covered & colours) | (~covered & Splat(background));
#ifdef MORAVELT_ICON_SSE2
    // The four samples' bytes widened to 16 bits and added channel by channel.
    const __m128i c = reinterpret_cast<__m128i>(colours), zero = _mm_setzero_si128();
    __m128i sum = _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpackhi_epi8(c, zero));
    sum = _mm_add_epi16(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(1, 0, 3, 2)));
    sum = _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(2)), 2);
    const auto mean = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(sum, sum)));
#else
    // Each byte's four values added, at once for R and B and for G and A.
    const I4 evens = colours & Splat(0x00FF00FFu), odds = (colours >> 8) & Splat(0x00FF00FFu);
    const std::uint32_t sumEvens = static_cast<std::uint32_t>(evens[0] + evens[1] + evens[2] + evens[3]);
    const std::uint32_t sumOdds = static_cast<std::uint32_t>(odds[0] + odds[1] + odds[2] + odds[3]);
    const std::uint32_t mean = (((sumEvens + 0x00020002u) >> 2) & 0x00FF00FFu) |
                               ((((sumOdds + 0x00020002u) >> 2) & 0x00FF00FFu) << 8);
#endif
    std::memcpy(out, &mean, sizeof mean);
  }

  // Makes the samples of pixels from..to of row y ready: each run of kRun pixels that a
  // triangle first reaches has its samples set to nothing yet.
  void Ready(int y, int from, int to) {
    const std::uint64_t wanted = RunsBetween(static_cast<int>(static_cast<unsigned>(from) / kRun),
                                             static_cast<int>(static_cast<unsigned>(to) / kRun));
    std::uint64_t& ready = ready_[static_cast<std::size_t>(y - first_)];
    std::uint64_t fresh = wanted & ~ready;
    if (fresh == 0) return;
    ready |= fresh;
    PixelSamples* const pixels = RowSamples(y);
    for (; fresh != 0; fresh &= fresh - 1) {
      PixelSamples* const run = pixels + std::countr_zero(fresh) * kRun;
      for (int x = 0; x < kRun; ++x) Store4(run[x].depth.data(), Splat(std::numeric_limits<float>::infinity()));
    }
  }

  // Row y's samples: rows are kept a whole number of runs long.
  PixelSamples* RowSamples(int y) {
    return samples_.data() + static_cast<std::size_t>(y - first_) * static_cast<std::size_t>(stride_);
  }

  // The bits first..last (0 <= first <= last < 64).
  static std::uint64_t RunsBetween(int first, int last) {
    return (~std::uint64_t{0} >> (63 - last)) & (~std::uint64_t{0} << first);
  }

  int size_, stride_;
  int first_, end_;  // the rows drawn
  bool whole_ = false;  // every sample made ready at the start
  const std::uint16_t* texture_;
  bool flat_ = false;             // whether the triangle being drawn is one colour
  std::uint32_t flatColour_ = 0;  // its colour once worked out, else 0 (any other: the last pixel's)
  std::vector<PixelSamples>& samples_;
  // For each row, a bit for each run of kRun pixels whose samples are ready. Only the
  // runs a triangle reaches are cleared and resolved: in an icon that leaves most of the
  // picture to the background, most are never touched.
  std::vector<std::uint64_t>& ready_;

  // One of each per thread, kept between pictures: fresh ones of this size come from new
  // pages each time, and the page faults cost more than the work.
  static std::vector<PixelSamples>& SampleBuffer() {
    thread_local std::vector<PixelSamples> buffer;
    return buffer;
  }
  static std::vector<std::uint64_t>& ReadyBuffer() {
    thread_local std::vector<std::uint64_t> buffer;
    return buffer;
  }
};

// Whether the triangles whose first vertices are at i and j have the same three vertices
// (place, light and texel coordinates), in any order.
bool SameTriangle(const std::vector<ScreenVertex>& v, std::size_t i, std::size_t j) {
  // First the sum of the corners' x bits, the same in any order: most differ there.
  const auto xBits = [&v](std::size_t t) {
    std::uint32_t sum = 0;
    for (std::size_t k = 0; k < 3; ++k) sum += bytes::BitCast<std::uint32_t>(v[t + k].x);
    return sum;
  };
  if (xBits(i) != xBits(j)) return false;
  const auto among = [&v](std::size_t a, std::size_t t) {
    for (std::size_t k = 0; k < 3; ++k)
      if (std::memcmp(&v[a], &v[t + k], sizeof(ScreenVertex)) == 0) return true;
    return false;
  };
  for (std::size_t k = 0; k < 3; ++k)
    if (!among(i + k, j) || !among(j + k, i)) return false;
  return true;
}

// What every band of a picture is drawn from, made once: each vertex's place in the
// picture, light and texel coordinates, and the first vertex of each triangle of shape 0
// to draw, nearest first: a hidden pixel then costs one depth comparison. The depth
// buffer decides what shows either way; triangles at equal depth keep the file's order.
// Each key is the nearest corner's z (a 16-bit integer, made unsigned) above the first
// vertex's place.
//
// A triangle the same as one of the few drawn just before it at the same nearest depth
// is left out: icons store a face that shows from both sides twice, once in each
// winding, and the second copy could only take samples from the first where rounding
// puts it a hair nearer, in the same colour.
//
// Its work is a rough measure of what drawing it costs: the triangles' areas and the
// rows they span, in pixels.
struct Scene {
  std::vector<ScreenVertex> vertices;
  std::vector<std::size_t> triangles;
  float work = 0;
};

float Work(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c) {
  const float area = std::fabs((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x)) / 2;
  const float rows = std::max({a.y, b.y, c.y}) - std::min({a.y, b.y, c.y});
  return Finite(area) + Finite(rows);
}

Scene Arrange(const Icon& icon, const IconSysFields& lighting, int size, const std::optional<View>& fixedView) {
  constexpr std::size_t kLookBack = 4;
  Scene scene;
  if (icon.shapes.empty()) return scene;
  scene.vertices = Project(icon, lighting, fixedView ? *fixedView : FitView(icon.shapes.front(), size));
  const std::vector<Fixed4>& shape = icon.shapes.front();
  std::vector<std::uint64_t> order;
  order.reserve(shape.size() / 3);
  for (std::size_t i = 0; i + 2 < shape.size(); i += 3) {
    const auto nearest = static_cast<std::uint64_t>(std::min({shape[i].z, shape[i + 1].z, shape[i + 2].z}) + 32768);
    order.push_back(nearest << 32 | i);
  }
  std::sort(order.begin(), order.end());
  scene.triangles.reserve(order.size());
  for (std::size_t n = 0; n < order.size(); ++n) {
    const std::size_t i = order[n] & 0xFFFFFFFFu;
    bool twice = false;
    for (std::size_t back = 1; back <= std::min(n, kLookBack) && !twice; ++back)
      twice = (order[n - back] >> 32) == (order[n] >> 32) && SameTriangle(scene.vertices, order[n - back] & 0xFFFFFFFFu, i);
    if (twice) continue;
    scene.triangles.push_back(i);
    scene.work += Work(scene.vertices[i], scene.vertices[i + 1], scene.vertices[i + 2]);
  }
  return scene;
}

// Rows first..end - 1 of the picture, a row at a time, each row its background and then
// the pixels the triangles reached: the picture's memory is written once. A picture drawn
// in one band has its rows added as they are drawn; one drawn in bands is sized already.
// The icon's arrays are known to agree. Inlined into each of the two builds below.
[[gnu::always_inline]] inline void DrawBand(const Scene& scene, const Icon& icon, const IconSysFields& lighting,
                                            int first, int end, Picture& picture) {
  const int size = picture.width;
  Rasteriser raster(size, first, end, icon.HasTexture() ? icon.texture.data() : nullptr);
  const std::vector<ScreenVertex>& v = scene.vertices;
  for (const std::size_t i : scene.triangles) raster.Draw(v[i], v[i + 1], v[i + 2]);
  const std::size_t rowBytes = static_cast<std::size_t>(size) * 4;
  std::array<std::uint8_t, kMaxPictureSize * 4> row;
  Background background(lighting, size);
  for (int y = first; y < end; ++y) {
    background.Row(y, row.data());
    const std::size_t at = static_cast<std::size_t>(y) * rowBytes;
    if (picture.rgba.size() == at)
      picture.rgba.insert(picture.rgba.end(), row.data(), row.data() + rowBytes);
    else
      std::memcpy(picture.rgba.data() + at, row.data(), rowBytes);
    raster.Resolve(y, picture.rgba.data() + at);
  }
}

using BandDrawer = void (*)(const Scene&, const Icon&, const IconSysFields&, int, int, Picture&);

void DrawBandPlain(const Scene& scene, const Icon& icon, const IconSysFields& lighting, int first, int end,
                   Picture& picture) {
  DrawBand(scene, icon, lighting, first, end, picture);
}

#ifdef MORAVELT_ICON_WIDE
// The same drawing for processors with AVX2: the same operations in the same order (no
// fused multiply-adds), so the same picture, in three-operand forms that need fewer
// register copies.
[[gnu::target("avx2")]] void DrawBandWide(const Scene& scene, const Icon& icon, const IconSysFields& lighting,
                                          int first, int end, Picture& picture) {
  DrawBand(scene, icon, lighting, first, end, picture);
}
#endif

// The work from which a picture is drawn in two bands. Handing a band to the kept thread
// and waiting for it costs some tens of microseconds (on a virtual machine, where waking
// a thread may take 60, more): a 128-pixel picture of a 1,362-vertex figure (work about
// 16,600, 140 us in one band) is drawn no sooner in two, a 256-pixel one (57,000,
// 340 us) about a third sooner; a wireframe at 256 pixels (800, 25 us) or any 32-pixel
// picture of it (1,900) would take twice as long.
constexpr float kTwoBandWork = 30000;

// The row at which a picture splits into two bands of about equal work: each triangle's
// work spread evenly over the rows it spans, with each row's background and resolving
// counted as an eighth of its width. The triangles of a figure often lie more in one half
// of the picture than in the other.
int BalancedSplit(const Scene& scene, int size) {
  std::vector<float> change(static_cast<std::size_t>(size) + 1, 0.0f);  // per row, from the row above
  const std::vector<ScreenVertex>& v = scene.vertices;
  const float last = static_cast<float>(size - 1);
  for (const std::size_t i : scene.triangles) {
    const float top = std::min({v[i].y, v[i + 1].y, v[i + 2].y});
    const float bottom = std::max({v[i].y, v[i + 1].y, v[i + 2].y});
    if (!(bottom >= 0 && top <= last)) continue;  // outside the picture, or NaN
    const auto y0 = static_cast<std::size_t>(std::max(0.0f, top));
    const auto y1 = static_cast<std::size_t>(std::min(last, bottom));
    const float perRow = Work(v[i], v[i + 1], v[i + 2]) / static_cast<float>(y1 - y0 + 1);
    change[y0] += perRow;
    change[y1 + 1] -= perRow;
  }
  const float rowOwn = static_cast<float>(size) / 8;
  std::vector<float> upTo(static_cast<std::size_t>(size) + 1, 0.0f);  // the work of rows 0..y - 1
  float row = 0;
  for (std::size_t y = 0; y < static_cast<std::size_t>(size); ++y) {
    row += change[y];
    upTo[y + 1] = upTo[y] + std::max(0.0f, row) + rowOwn;
  }
  const float half = upTo.back() / 2;
  const auto split = static_cast<int>(std::lower_bound(upTo.begin(), upTo.end(), half) - upTo.begin());
  return std::clamp(split, 1, size - 1);
}

// The picture in one band, or in two at once for a large one: the lower band on the
// thread kept beside this one, the upper one here, each with its own samples and writing
// only its own rows of the picture, sized first. The triangles are arranged once, here,
// and read by both. The lower band is drawn by whichever thread comes to it first: at
// once here when the kept thread is busy, or here after the upper band when the kept
// thread has not started on it yet (it may take a while to wake, or another program may
// hold the other core), so that a picture never waits long for a second core.
void DrawPicture(BandDrawer draw, const Icon& icon, const IconSysFields& lighting, Bands bands, Picture& picture,
                 const std::optional<View>& view = std::nullopt) {
  const int size = picture.width;
  const std::size_t bytes = static_cast<std::size_t>(size) * static_cast<std::size_t>(size) * 4;
  const Scene scene = Arrange(icon, lighting, size, view);
  if (bands == Bands::kOne || (bands == Bands::kByWork && !(scene.work >= kTwoBandWork))) {
    picture.rgba.reserve(bytes);  // not filled first: each row is added as it is drawn
    return draw(scene, icon, lighting, 0, size, picture);
  }
  picture.rgba.resize(bytes);
  const int split = BalancedSplit(scene, size);
  io::Beside lower([&] { draw(scene, icon, lighting, split, size, picture); });
  draw(scene, icon, lighting, 0, split, picture);
  lower.Wait();  // drawn here if the kept thread has not started it
}

// A turned icon is scaled by this first, so that its turned positions still fit 16 bits.
constexpr float kTurnScale = 0.7f;

// The view of an icon turning about its vertical axis: one scale and place for every
// angle, the turn's circle and the shape's height fitted as FitView fits the shape.
View TurningView(const std::vector<Fixed4>& positions, int size) {
  View view;
  if (positions.empty()) return view;
  float radius = 0, minY = positions[0].y, maxY = minY;
  for (const Fixed4& p : positions) {
    radius = std::max(radius, std::sqrt(static_cast<float>(p.x) * p.x + static_cast<float>(p.z) * p.z));
    minY = std::min<float>(minY, p.y);
    maxY = std::max<float>(maxY, p.y);
  }
  radius *= kTurnScale, minY *= kTurnScale, maxY *= kTurnScale;
  const float span = static_cast<float>(size - 2 * (size / 16));
  const float extent = std::max(2 * radius, maxY - minY);
  view.scale = extent > 0 ? span / extent : 1.0f;
  const float half = static_cast<float>(size) / 2;
  view.offsetX = half;
  view.offsetY = half - (minY + maxY) / 2 * view.scale;
  return view;
}

// A position or normal turned by the angle whose cosine and sine are given, and scaled.
Fixed4 Turned(const Fixed4& p, float cosine, float sine) {
  const auto fit = [](float v) { return static_cast<std::int16_t>(std::lround(std::clamp(v, -32768.0f, 32767.0f))); };
  Fixed4 t = p;
  t.x = fit((p.x * cosine + p.z * sine) * kTurnScale);
  t.y = fit(p.y * kTurnScale);
  t.z = fit((p.z * cosine - p.x * sine) * kTurnScale);
  return t;
}

std::optional<Error> RefusedIcon(const Icon& icon, int size) {
  if (size < kMinPictureSize || size > kMaxPictureSize)
    return Error{Fault::kPictureSize, "a picture of " + std::to_string(size) +
                                          " pixels: the size must be 32 to 512"};
  if (!icon.shapes.empty()) {
    const std::size_t count = icon.shapes.front().size();
    if (icon.normals.size() != count || icon.colours.size() != count || icon.texCoords.size() != count ||
        (icon.HasTexture() && icon.texture.size() != file::kTexturePixels))
      return Error{Fault::kVertexCount, "the icon's arrays differ in length"};
  }
  return std::nullopt;
}

}  // namespace

Result<Picture> RenderIcon(const Icon& icon, const IconSysFields& lighting, int size) {
  return RenderIcon(icon, lighting, size, Instructions::kBest);
}

Result<Picture> RenderTurnedIcon(const Icon& icon, const IconSysFields& lighting, int size, float yaw) {
  if (std::optional<Error> refused = RefusedIcon(icon, size)) return *refused;
  Picture picture;
  picture.width = picture.height = size;
  if (icon.shapes.empty()) {
    DrawPicture(DrawBandPlain, icon, lighting, Bands::kByWork, picture);
    return picture;
  }
  const float cosine = std::cos(yaw), sine = std::sin(yaw);
  Icon turned;
  turned.shapes.push_back({});
  turned.shapes.front().reserve(icon.shapes.front().size());
  for (const Fixed4& p : icon.shapes.front()) turned.shapes.front().push_back(Turned(p, cosine, sine));
  turned.normals.reserve(icon.normals.size());
  for (const Fixed4& n : icon.normals) turned.normals.push_back(Turned(n, cosine, sine));
  turned.texCoords = icon.texCoords;
  turned.colours = icon.colours;
  turned.texture = icon.texture;
  turned.textureKind = icon.textureKind;
  DrawPicture(DrawBandPlain, turned, lighting, Bands::kByWork, picture, TurningView(icon.shapes.front(), size));
  return picture;
}

Result<Picture> RenderIcon(const Icon& icon, const IconSysFields& lighting, int size, Instructions instructions,
                           Bands bands) {
  if (std::optional<Error> refused = RefusedIcon(icon, size)) return *refused;
  Picture picture;
  picture.width = picture.height = size;
  BandDrawer draw = DrawBandPlain;
#ifdef MORAVELT_ICON_WIDE
  if (instructions == Instructions::kBest && DrawsWide()) draw = DrawBandWide;
#endif
  (void)instructions;
  DrawPicture(draw, icon, lighting, bands, picture);
  return picture;
}

bool DrawsWide() {
#ifdef MORAVELT_ICON_WIDE
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
#else
  return false;
#endif
}

}  // namespace icon
