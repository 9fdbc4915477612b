// The 3D icons: icon.sys fields, textures of corpus icons, damaged icon files, the
// drawer's background, placement and lighting, OBJ and PNG output, and the icon of every
// corpus save.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <future>
#include <limits>
#include <optional>
#include <thread>

#include "formats/registry.h"
#include "icon/obj_export.h"
#include "icon/png.h"
#include "icon/render.h"
#include "icon/save_icon.h"
#include "io/beside.h"
#include "support/icon_builder.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

using testutil::Bytes;
using testutil::IconImage;
using testutil::IconSysImage;
using F = icon::Fault;
using K = icon::TextureKind;
using Rgb = std::array<int, 3>;

namespace {

constexpr icon::IconSlot kNormal = icon::IconSlot::kNormal;
constexpr icon::IconSlot kAllSlots[] = {kNormal, icon::IconSlot::kCopy, icon::IconSlot::kDelete};

std::unique_ptr<CSaveGame> LoadCorpusSave(const std::string& relative) {
  std::string path = testutil::CorpusPath(relative);
  if (path.empty()) return nullptr;
  auto save = CreateForExtension(ExtensionOf(path));
  if (!save || save->Load(path) != LoadResult::kOk) ADD_FAILURE() << relative << " does not load";
  return save;
}

template <class T>
T Ok(icon::Result<T> result) {
  EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().message);
  return result.ok() ? std::move(result.value()) : T{};
}

template <class T>
void ExpectFault(const icon::Result<T>& result, F fault, const std::string& message, const char* why) {
  ASSERT_FALSE(result.ok()) << why;
  EXPECT_EQ(result.error().fault, fault) << why;
  EXPECT_EQ(result.error().message, message) << why;
}

Rgb At(const icon::Picture& p, int x, int y) {
  if (x >= p.width || y >= p.height) return {-1, -1, -1};  // no picture: already reported
  const std::uint8_t* c = p.PixelAt(x, y);
  return {c[0], c[1], c[2]};
}

std::size_t BytesThatDiffer(const icon::Picture& a, const icon::Picture& b) {
  if (a.rgba.size() != b.rgba.size()) return std::max(a.rgba.size(), b.rgba.size());
  std::size_t differ = 0;
  for (std::size_t i = 0; i < a.rgba.size(); ++i) differ += a.rgba[i] != b.rgba[i];
  return differ;
}

// Two shapes, three vertices, two animation frames and an RLE texture of two literal
// pixels and one run: 190 bytes, every structure small enough to cut at each edge.
//   0 header | 20 vertices (3 x 32) | 116 animation | 136 frame 0 (2 keys) | 160 frame 1
//   | 176 RLE count | 180 literal code, 2 pixels | 186 run code, value | 190
IconImage SmallIcon() {
  IconImage image;
  image.shapes = 2;
  image.attributes = 0x0F;
  image.vertices = testutil::Triangle({-100, -100, 100, -100, 0, 100}, 0);
  image.frames = {{0, {{0, 1}, {5, 0}}}, {1, {{5, 1}}}};
  image.texture = testutil::RleTexture({0xFFFE, 0x001F, 0x03E0, 16382, 0x7C00});
  return image;
}

}  // namespace

TEST(IconSysFields, ReadsEveryFieldOfACorpusFile) {
  std::string path = testutil::CorpusPath("iconsys/4.sys");
  if (path.empty()) GTEST_SKIP() << "corpus absent";
  const icon::IconSysFields f = Ok(icon::ParseIconSys(testutil::ReadFile(path)));
  EXPECT_EQ(f.line2Offset, 22);
  EXPECT_EQ(f.backgroundAlpha, 128u);
  EXPECT_EQ((std::array{f.corners[0].r, f.corners[0].g, f.corners[0].b}), (std::array{152u, 232u, 244u}));
  EXPECT_EQ((std::array{f.corners[3].r, f.corners[3].g, f.corners[3].b}), (std::array{17u, 3u, 153u}));
  EXPECT_FLOAT_EQ(f.lightDirections[0].z, 0.5773502f);
  EXPECT_FLOAT_EQ(f.lightColours[0].b, 0.4235294f);
  EXPECT_FLOAT_EQ(f.ambient.g, 0.2745098f);
  EXPECT_EQ(f.title[0], 0x82);
  EXPECT_EQ(f.title[2], 0x82);
  for (icon::IconSlot slot : kAllSlots) EXPECT_EQ(f.IconName(slot), "icon0.ico");
}

TEST(IconSysFields, RefusesOtherForms) {
  struct Case {
    const char* why;
    Bytes bytes;
    const char* corpusFile;  // read instead of bytes when set
    F fault;
    const char* message;
  };
  Bytes shortFile = IconSysImage{}.Build();
  shortFile.pop_back();
  IconSysImage badMagic;
  badMagic.magic = "PS2E";
  const char* text = "icon.sys is in the text form (PS2X), which names no 3D icon";
  const Case cases[] = {
      {"963 bytes", shortFile, nullptr, F::kIconSysSize, "icon.sys is 963 bytes; a PS2D icon.sys has 964"},
      {"another mark", badMagic.Build(), nullptr, F::kIconSysMagic, "icon.sys does not begin with PS2D"},
      {"text form", testutil::FromString("PS2X\ntitle0 = A\n"), nullptr, F::kIconSysMagic, text},
      {"corpus text form", {}, "iconsys/2-text-format.sys", F::kIconSysMagic, text},
      {"corpus system icon.sys of two records", {}, "iconsys/5-1776-bytes.sys", F::kIconSysSize,
       "icon.sys is 1776 bytes; a PS2D icon.sys has 964"},
  };
  for (const Case& c : cases) {
    std::string path = c.corpusFile ? testutil::CorpusPath(c.corpusFile) : "";
    if (c.corpusFile && path.empty()) continue;
    ExpectFault(icon::ParseIconSys(c.corpusFile ? testutil::ReadFile(path) : c.bytes), c.fault, c.message, c.why);
  }
}

// Pixels read from the icon files' bytes independently of this reader.
TEST(IconTexture, CorpusTexturesDecodeToTheirPixels) {
  struct Case {
    const char* save;
    icon::IconSlot slot;
    K kind;
    int x, y;
    std::array<std::uint8_t, 3> rgb;
  };
  const icon::IconSlot del = icon::IconSlot::kDelete;
  const Case cases[] = {
      {"psu/a.psu", kNormal, K::kRaw, 4, 15, {255, 148, 0}},  {"psu/a.psu", kNormal, K::kRaw, 64, 64, {0, 0, 0}},
      {"psu/e.PSU", kNormal, K::kRaw, 74, 47, {57, 140, 255}}, {"psu/e.PSU", kNormal, K::kRaw, 127, 127, {49, 49, 49}},
      {"psu/f.psu", kNormal, K::kRle, 122, 32, {82, 74, 0}},   {"psu/f.psu", kNormal, K::kRle, 122, 103, {140, 140, 140}},
      {"psu/f.psu", del, K::kRle, 3, 117, {107, 107, 115}},    {"psu/f.psu", del, K::kRle, 126, 92, {255, 222, 8}},
  };
  for (const Case& c : cases) {
    auto save = LoadCorpusSave(c.save);
    if (!save) GTEST_SKIP() << "corpus absent";
    const icon::Icon model = Ok(icon::LoadSaveIcon(*save, c.slot)).icon;
    EXPECT_EQ(model.textureKind, c.kind) << c.save;
    const icon::Picture texture = Ok(icon::TexturePicture(model));
    ASSERT_EQ(texture.width, 128) << c.save;
    const std::uint8_t* p = texture.PixelAt(c.x, c.y);
    EXPECT_EQ((std::array{p[0], p[1], p[2], p[3]}), (std::array<std::uint8_t, 4>{c.rgb[0], c.rgb[1], c.rgb[2], 255}))
        << c.save << " at " << c.x << "," << c.y;
  }
}

TEST(IconTexture, RleRunsAndCounts) {
  struct Case {
    const char* why;
    std::vector<std::uint16_t> codes;
    bool bigEndianCount;
    std::vector<std::pair<int, std::uint16_t>> pixels;  // index, stored value
  };
  std::vector<std::uint16_t> literal256 = {0xFF00};
  for (int i = 0; i < 256; ++i) literal256.push_back(static_cast<std::uint16_t>(i));
  literal256.insert(literal256.end(), {16128, 0x7FFF});
  const Case cases[] = {
      {"0xFFFF is one literal pixel", {0xFFFF, 0x1234, 16383, 0x0001}, false, {{0, 0x1234}, {1, 1}, {16383, 1}}},
      {"0xFF00 is 256 literal pixels", literal256, false, {{0, 0}, {255, 255}, {256, 0x7FFF}}},
      {"0xFEFF repeats, cut at the picture's end", {0xFEFF, 0x0042}, false, {{0, 0x42}, {16383, 0x42}}},
      {"a run past the end, then bytes not needed", {0x7FF0, 0x0009, 0x7FF0, 0}, false, {{16383, 9}}},
      {"the byte count stored big-endian", {100, 0x0005, 16284, 0x0006}, true, {{99, 5}, {100, 6}}},
      {"a repeat of 0 adds nothing", {0, 0x0007, 16384, 0x0008}, false, {{0, 8}}},
  };
  for (const Case& c : cases) {
    IconImage image;
    image.attributes = 0x0C;
    image.texture = testutil::RleTexture(c.codes);
    if (c.bigEndianCount) std::reverse(image.texture.begin(), image.texture.begin() + 4);
    const icon::Icon parsed = Ok(icon::ParseIcon(image.Build()));
    ASSERT_EQ(parsed.texture.size(), 16384u) << c.why;
    for (auto [index, value] : c.pixels) EXPECT_EQ(parsed.texture[index], value) << c.why << " pixel " << index;
  }
}

TEST(IconFile, DamagedIconsGiveTheirFault) {
  const Bytes good = SmallIcon().Build();
  ASSERT_EQ(good.size(), 190u);
  const icon::Icon whole = Ok(icon::ParseIcon(good));
  EXPECT_EQ(whole.shapes.size(), 2u);
  EXPECT_EQ(whole.animation.frames.size(), 2u);
  ASSERT_EQ(whole.texture.size(), 16384u);
  EXPECT_EQ(whole.texture[1], 0x03E0);
  EXPECT_EQ(whole.texture[16383], 0x7C00);

  auto cut = [&](std::size_t n) { return Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)); };
  auto with32 = [&](std::size_t at, std::uint32_t v) {
    Bytes b = good;
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    return b;
  };
  Bytes literalOverrun = good;
  literalOverrun[186] = 0x80;  // 0xFF80: 128 literal pixels where the run was
  literalOverrun[187] = 0xFF;
  const std::string header = " bytes, shorter than its 20-byte header", frames = " animation frames: more than the ";
  const std::string vertices = "the file ends inside the vertices: 3 of 32 bytes need 96, ";
  const std::string rle = "the RLE texture ends after ", count = "the file ends before the RLE texture's byte count";
  struct Case {
    const char* why;
    Bytes bytes;
    F fault;
    std::string message;
  };
  const Case cases[] = {
      {"empty", cut(0), F::kTruncated, "the icon file is 0" + header},
      {"in the header", cut(19), F::kTruncated, "the icon file is 19" + header},
      {"header only", cut(20), F::kTruncated, vertices + "0 are left"},
      {"in the last vertex", cut(115), F::kTruncated, vertices + "95 are left"},
      {"after the vertices", cut(116), F::kTruncated, "the file ends inside the animation header"},
      {"in the animation header", cut(135), F::kTruncated, "the file ends inside the animation header"},
      {"after the animation header", cut(136), F::kFrameCount, "2" + frames + "0 bytes left can hold"},
      {"in frame 0's header", cut(143), F::kFrameCount, "2" + frames + "7 bytes left can hold"},
      {"after frame 0's header", cut(152), F::kFrameCount, "animation frame 0 has 2 keys: more than the 8 bytes left can hold"},
      {"in frame 1's header", cut(164), F::kTruncated, "the file ends inside animation frame 1"},
      {"after frame 1's header", cut(168), F::kFrameCount, "animation frame 1 has 1 keys: more than the 0 bytes left can hold"},
      {"after the animation", cut(176), F::kTruncated, count},
      {"in the byte count", cut(179), F::kTruncated, count},
      {"no codes", cut(180), F::kTruncated, rle + "0 of 16384 pixels"},
      {"in a literal run", cut(183), F::kRleOverrun, "an RLE run of 2 literal pixels at pixel 0 passes the end of the file"},
      {"after a literal run", cut(186), F::kTruncated, rle + "2 of 16384 pixels"},
      {"a run without its value", cut(188), F::kTruncated, rle + "2 of 16384 pixels"},
      {"another first word", with32(0, 0x00020000), F::kIconMagic, "the icon file begins with 0x00020000, not 0x00010000"},
      {"no shapes", with32(4, 0), F::kShapeCount, "the icon has no shapes"},
      {"1025 shapes", with32(4, 1025), F::kShapeCount, "1025 shapes: more than 1024"},
      {"shapes from a negative count", with32(4, 0xFFFFFFFF), F::kShapeCount, "4294967295 shapes: more than 1024"},
      {"4 vertices", with32(16, 4), F::kVertexCount, "vertex count 4 is not a multiple of 3"},
      {"vertices above the cap", with32(16, 1048578), F::kVertexCount, "1048578 vertices: more than 1048576"},
      {"vertices beyond the file", with32(16, 999), F::kTruncated,
       "the file ends inside the vertices: 999 of 32 bytes need 31968, 170 are left"},
      {"absurd frame count", with32(132, 0xFFFFFFFF), F::kFrameCount, "4294967295" + frames + "54 bytes left can hold"},
      {"absurd key count", with32(140, 0x20000000), F::kFrameCount,
       "animation frame 0 has 536870912 keys: more than the 46 bytes left can hold"},
      {"a literal run past the end", literalOverrun, F::kRleOverrun,
       "an RLE run of 128 literal pixels at pixel 2 passes the end of the file"},
      {"raw texture where the file is short", with32(8, 0x04), F::kTruncated,
       "the file ends inside the texture: it needs 32768 bytes, 14 are left"},
  };
  for (const Case& c : cases) ExpectFault(icon::ParseIcon(c.bytes), c.fault, c.message, c.why);
  for (std::size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(icon::ParseIcon(cut(n)).ok()) << "prefix " << n;

  // Flipped bytes: whatever still parses also draws.
  const icon::IconSysFields lighting = Ok(icon::ParseIconSys(IconSysImage{}.Build()));
  std::uint32_t seed = 1, parsedCount = 0;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  for (int round = 0; round < 1000; ++round) {
    Bytes b = good;
    for (int k = 0; k < 3; ++k) b[next() % b.size()] = static_cast<std::uint8_t>(next());
    auto parsed = icon::ParseIcon(b);
    if (!parsed.ok()) continue;
    ++parsedCount;
    EXPECT_EQ(Ok(icon::RenderIcon(parsed.value(), lighting, 32)).rgba.size(), 32u * 32u * 4u);
  }
  EXPECT_GT(parsedCount, 0u);
}

// Outside the box the model's shape 0 is scaled into, every pixel is the background
// mixed from the corners; inside, the model shows.
TEST(IconRender, OutsideTheModelIsTheBackgroundGradient) {
  IconSysImage sys;
  sys.corners = {{{0x80, 0, 0}, {0, 0x80, 0}, {0, 0, 0x80}, {0x40, 0x40, 0x40}}};
  const icon::IconSysFields lighting = Ok(icon::ParseIconSys(sys.Build()));
  const float corner[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {127.5f, 127.5f, 127.5f}};

  IconImage wide;
  wide.attributes = 0x03;  // untextured: white where the model is
  wide.vertices = testutil::Triangle({-4096, -2048, 4096, -2048, 0, 2048}, 0);
  std::vector<std::pair<icon::Icon, int>> cases = {{Ok(icon::ParseIcon(wide.Build())), 64},
                                                   {Ok(icon::ParseIcon(wide.Build())), 32}};
  if (auto save = LoadCorpusSave("max/b.max")) cases.emplace_back(Ok(icon::LoadSaveIcon(*save, kNormal)).icon, 100);
  for (const auto& [model, size] : cases) {
    const icon::Picture p = Ok(icon::RenderIcon(model, lighting, size));
    ASSERT_EQ(p.rgba.size(), static_cast<std::size_t>(size * size * 4));
    // The box: its longer side spans size - 2 * (size / 16) pixels, centred.
    float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
    for (const icon::Fixed4& v : model.shapes[0]) {
      minX = std::min<float>(minX, v.x), maxX = std::max<float>(maxX, v.x);
      minY = std::min<float>(minY, v.y), maxY = std::max<float>(maxY, v.y);
    }
    const float scale = static_cast<float>(size - 2 * (size / 16)) / std::max(maxX - minX, maxY - minY);
    const float half = static_cast<float>(size) / 2, halfWidth = (maxX - minX) / 2 * scale + 1,
                halfHeight = (maxY - minY) / 2 * scale + 1;

    EXPECT_EQ(At(p, 0, 0), (Rgb{255, 0, 0})) << size;
    EXPECT_EQ(At(p, size - 1, 0), (Rgb{0, 255, 0})) << size;
    EXPECT_EQ(At(p, 0, size - 1), (Rgb{0, 0, 255})) << size;
    EXPECT_EQ(At(p, size - 1, size - 1), (Rgb{128, 128, 128})) << size;
    int modelPixels = 0;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        const float fx = static_cast<float>(x) / static_cast<float>(size - 1);
        const float fy = static_cast<float>(y) / static_cast<float>(size - 1);
        bool background = p.PixelAt(x, y)[3] == 255;
        for (int k = 0; k < 3; ++k) {
          float want = (corner[0][k] * (1 - fx) + corner[1][k] * fx) * (1 - fy) +
                       (corner[2][k] * (1 - fx) + corner[3][k] * fx) * fy;
          background = background && std::abs(p.PixelAt(x, y)[k] - want) <= 1.0f;
        }
        const bool outside = std::abs(static_cast<float>(x) + 0.5f - half) > halfWidth ||
                             std::abs(static_cast<float>(y) + 0.5f - half) > halfHeight;
        EXPECT_TRUE(background || !outside) << "size " << size << ": pixel " << x << "," << y;
        modelPixels += !outside && !background;
      }
    }
    EXPECT_GT(modelPixels, size) << size;
  }
}

// One triangle filling the middle of the picture, lit and textured evenly: the colour at
// the centre, worked out by hand. The texel is white unless the row says otherwise
// (0x0110 is R 16, G 8, B 0, which expand to 132, 66, 0); 255 x 0.2 = 51.
TEST(IconRender, ALitTexturedTriangleHasTheExpectedColourAtItsCentre) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  struct Light {
    std::array<float, 3> direction, colour;
  };
  struct Case {
    const char* why;
    std::optional<std::uint16_t> texel;  // none: untextured
    std::array<std::uint8_t, 4> vertexColour;
    std::array<std::int16_t, 3> normal;
    std::array<float, 3> ambient;
    std::vector<Light> lights;
    Rgb expected;
  };
  const std::array<std::uint8_t, 4> full = {0x80, 0x80, 0x80, 0x80};
  const std::array<std::int16_t, 3> front = {0, 0, -4096};  // towards the viewer
  const std::array<float, 3> ambient = {0.2f, 0.4f, 0.6f}, grey2 = {0.2f, 0.2f, 0.2f}, grey4 = {0.4f, 0.4f, 0.4f};
  const Case cases[] = {
      {"ambient alone", 0x7FFF, full, front, ambient, {}, {51, 102, 153}},
      {"a light straight on adds its colour", 0x7FFF, full, front, ambient, {{{0, 0, 1}, grey2}}, {102, 153, 204}},
      {"a light from behind adds nothing", 0x7FFF, full, front, ambient, {{{0, 0, -1}, grey4}}, {51, 102, 153}},
      {"a light at 60 degrees adds half, its direction normalised", 0x7FFF, full, front, ambient,
       {{{0, -1.7320508f, 1}, grey4}}, {102, 153, 204}},
      {"a light from above lights a face turned up (y flipped)", 0x7FFF, full, {0, -4096, 0}, ambient,
       {{{0, 1, 0}, grey4}}, {153, 204, 255}},
      {"three lights add up and clamp", 0x7FFF, full, front, ambient,
       {{{0, 0, 1}, grey2}, {{0, 0, 2}, grey2}, {{0, 0, 3}, grey2}}, {204, 255, 255}},
      {"ambient of 255 counts as 1", 0x0110, full, front, {255, 255, 255}, {}, {132, 66, 0}},
      {"texel times light", 0x0110, full, front, {0.2f, 0.4f, 1}, {}, {26, 26, 0}},
      {"vertex colour 0xFF counts as 0x80", 0x7FFF, {0xFF, 0xFF, 0xFF, 0xFF}, front, ambient, {}, {51, 102, 153}},
      {"vertex colour scales each channel", 0x7FFF, {0x40, 0x80, 0x20, 0x80}, front, {0.4f, 0.4f, 0.8f}, {}, {51, 102, 51}},
      {"no texture: the vertex colours", std::nullopt, {0x80, 0x40, 0x20, 0x80}, front, {0.8f, 0.8f, 0.8f}, {}, {204, 102, 51}},
      {"a NaN light colour adds nothing", 0x7FFF, full, front, ambient, {{{0, 0, 1}, {kNaN, kNaN, kNaN}}}, {51, 102, 153}},
  };
  for (const Case& c : cases) {
    IconImage image;
    image.attributes = c.texel ? 0x07 : 0x03;
    image.vertices = testutil::Triangle({-4096, -4096, 4096, -4096, 0, 4096}, 0, c.vertexColour);
    for (testutil::IconVertex& v : image.vertices) {
      v.normal = c.normal;
      v.u = v.v = 2048;
    }
    if (c.texel) image.texture = testutil::RawTexture(*c.texel);
    IconSysImage sys;
    sys.ambient = c.ambient;
    for (std::size_t i = 0; i < c.lights.size(); ++i) {
      sys.lightDirections[i] = c.lights[i].direction;
      sys.lightColours[i] = c.lights[i].colour;
    }
    auto drawn = icon::RenderIcon(Ok(icon::ParseIcon(image.Build())), Ok(icon::ParseIconSys(sys.Build())), 64);
    EXPECT_EQ(At(Ok(std::move(drawn)), 32, 32), c.expected) << c.why;
  }
}

// A triangle thinner than a pixel, lying between pixel centres, still shows along its
// length, each pixel it crosses mixed from its colour and the background: the rounded mean
// of the one to three samples it covers and the background's at the others. A zero-area
// triangle sets the view: -4096..4096 spans pixels 4..60 of 64, 146.3 units a pixel.
TEST(IconRender, ThinTrianglesShowAlongTheirLength) {
  struct Case {
    const char* why;
    std::array<std::int16_t, 6> xy;
    int atLeast;  // pixels that must show the triangle
  };
  // Pixel rows (and columns) 32.60..32.90: no pixel centre, a quarter-pixel sample row.
  const Case cases[] = {
      {"flat", {-3000, 88, 3000, 88, 3000, 131}, 20},
      {"upright", {88, -3000, 88, 3000, 131, 3000}, 20},
      {"flat, the other winding", {-3000, 131, 3000, 131, 3000, 88}, 20},
      {"sloping", {-3000, -3000, 3000, 3000, 3000, 2900}, 20},
  };
  // A background of many shades and a triangle with some of every channel, so that the
  // rounding of each channel shows somewhere.
  IconSysImage sys;
  sys.corners = {{{0x80, 0x10, 0x30}, {0x05, 0x80, 0x41}, {0x33, 0x07, 0x80}, {0x40, 0x61, 0x12}}};
  const icon::IconSysFields lighting = Ok(icon::ParseIconSys(sys.Build()));
  const auto frame = testutil::Triangle({-4096, -4096, 4096, 4096, 4096, 4096}, 0);
  auto draw = [&](std::vector<testutil::IconVertex> vertices) {
    IconImage image;
    image.attributes = 0x03;
    image.vertices = frame;
    image.vertices.insert(image.vertices.end(), vertices.begin(), vertices.end());
    return Ok(icon::RenderIcon(Ok(icon::ParseIcon(image.Build())), lighting, 64));
  };
  const icon::Picture background = draw({});
  const std::array<std::uint8_t, 4> colour = {0x80, 0x2B, 0x13, 0x80};
  const icon::Picture solid = draw(testutil::Triangle({-4096, -4096, 4096, -4096, 0, 4096}, 0, colour));
  const Rgb full = At(solid, 32, 32);
  ASSERT_NE(full, At(background, 32, 32));
  for (const Case& c : cases) {
    const icon::Picture p = draw(testutil::Triangle(c.xy, 0, colour));
    int shown = 0;
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 64; ++x) {
        const Rgb was = At(background, x, y), now = At(p, x, y);
        if (now == was) continue;
        ++shown;
        for (int k = 0; k < 3; ++k)  // a mix: between the background and the full colour
          EXPECT_TRUE(std::min(was[k], full[k]) <= now[k] && now[k] <= std::max(was[k], full[k]))
              << c.why << ": pixel " << x << "," << y;
        bool mean = false;
        for (int covered = 1; covered <= 3; ++covered) {
          Rgb want;
          for (int k = 0; k < 3; ++k) want[k] = (covered * full[k] + (4 - covered) * was[k] + 2) / 4;
          mean = mean || now == want;
        }
        EXPECT_TRUE(mean) << c.why << ": pixel " << x << "," << y << " is no rounded mean of its samples";
      }
    }
    EXPECT_GE(shown, c.atLeast) << c.why;
  }
}

TEST(IconRender, TheNearerTriangleWinsInEitherOrderAndSizesAreChecked) {
  // Red at z 100 and green at z -100 (nearer) over the same place; untextured.
  auto red = testutil::Triangle({-4096, -4096, 4096, -4096, 0, 4096}, 100, {0x80, 0, 0, 0x80});
  auto green = testutil::Triangle({-4096, 4096, 4096, 4096, 0, -4096}, -100, {0, 0x80, 0, 0x80});
  const icon::IconSysFields lighting = Ok(icon::ParseIconSys(IconSysImage{}.Build()));
  for (bool greenFirst : {false, true}) {
    IconImage image;
    image.attributes = 0x03;
    image.vertices = greenFirst ? green : red;
    const auto& second = greenFirst ? red : green;
    image.vertices.insert(image.vertices.end(), second.begin(), second.end());
    const icon::Picture p = Ok(icon::RenderIcon(Ok(icon::ParseIcon(image.Build())), lighting, 64));
    EXPECT_EQ(At(p, 32, 32), (Rgb{0, 255, 0})) << "green first: " << greenFirst;
    EXPECT_EQ(At(p, 10, 6), (Rgb{255, 0, 0})) << "green first: " << greenFirst;
  }
  const icon::Icon model = Ok(icon::ParseIcon(SmallIcon().Build()));
  for (int size : {-1, 0, 31, 513})
    ExpectFault(icon::RenderIcon(model, lighting, size), F::kPictureSize,
                "a picture of " + std::to_string(size) + " pixels: the size must be 32 to 512", "size");
  for (int size : {32, 512})
    EXPECT_EQ(Ok(icon::RenderIcon(model, lighting, size)).rgba.size(), static_cast<std::size_t>(size * size * 4));
}

// A turned icon turns about its vertical axis and keeps its size: its right half comes to
// the left after half a turn, it is edge on after a quarter, and a whole turn gives the
// picture of none.
TEST(IconRender, ATurnedIconTurnsAboutItsUpright) {
  IconImage image;
  image.attributes = 0x03;
  image.vertices = testutil::Triangle({-8000, -4096, -1000, -4096, -4500, 4096}, 0, {0x80, 0, 0, 0x80});
  const auto green = testutil::Triangle({1000, -4096, 8000, -4096, 4500, 4096}, 0, {0, 0x80, 0, 0x80});
  image.vertices.insert(image.vertices.end(), green.begin(), green.end());
  const icon::Icon model = Ok(icon::ParseIcon(image.Build()));
  const icon::IconSysFields lighting = Ok(icon::ParseIconSys(IconSysImage{}.Build()));
  const float pi = std::acos(-1.0f);
  const struct {
    float yaw;
    Rgb left, right;  // the colours at the two triangles' places unturned
  } rows[] = {{0, {255, 0, 0}, {0, 255, 0}}, {pi, {0, 255, 0}, {255, 0, 0}}, {2 * pi, {255, 0, 0}, {0, 255, 0}}};
  for (const auto& r : rows) {
    const icon::Picture p = Ok(icon::RenderTurnedIcon(model, lighting, 64, r.yaw));
    EXPECT_EQ(At(p, 16, 30), r.left) << r.yaw;
    EXPECT_EQ(At(p, 48, 30), r.right) << r.yaw;
  }
  const icon::Picture edgeOn = Ok(icon::RenderTurnedIcon(model, lighting, 64, pi / 2));
  for (int x : {16, 48}) {
    EXPECT_NE(At(edgeOn, x, 30), (Rgb{255, 0, 0})) << x;
    EXPECT_NE(At(edgeOn, x, 30), (Rgb{0, 255, 0})) << x;
  }
  ExpectFault(icon::RenderTurnedIcon(model, lighting, 20, 0), F::kPictureSize,
              "a picture of 20 pixels: the size must be 32 to 512", "size");
}

// A triangle with the same three vertices as one drawn just before it is drawn once; any
// other triangle at the same depth still shows, even one holding every corner of the one
// before (which, having no area, drew nothing).
TEST(IconRender, ATriangleLikeTheOneBeforeStillShowsWhereItDiffers) {
  struct Case {
    const char* why;
    std::array<std::int16_t, 6> before, after;
  };
  const Case cases[] = {
      {"two corners shared", {-4096, -4096, 4096, -4096, 0, 0}, {-4096, -4096, 4096, -4096, 0, 4096}},
      {"every corner of one with no area", {-4096, -4096, -4096, -4096, 4096, -4096}, {-4096, -4096, 4096, -4096, 0, 4096}},
  };
  const icon::IconSysFields lighting = Ok(icon::ParseIconSys(IconSysImage{}.Build()));
  for (const Case& c : cases) {
    IconImage image;
    image.attributes = 0x03;
    image.vertices = testutil::Triangle(c.before, 0, {0, 0x80, 0, 0x80});  // corners alike but for place
    const auto after = testutil::Triangle(c.after, 0, {0, 0x80, 0, 0x80});
    image.vertices.insert(image.vertices.end(), after.begin(), after.end());
    const icon::Picture p = Ok(icon::RenderIcon(Ok(icon::ParseIcon(image.Build())), lighting, 64));
    EXPECT_EQ(At(p, 32, 50), (Rgb{0, 255, 0})) << c.why;  // inside the second triangle only
  }
}

// The drawing done the slow, plain way: every sample of every pixel tested against every
// triangle in double precision, the nearest kept (triangles in order of their nearest
// corner, then the file's), each covered sample taking its triangle's colour at the
// pixel's centre, and the pixel the rounded mean. Lighting and background as render.h
// describes them.
template <class C>
double Channel(const C& c, int k) {
  return k == 0 ? c.r : k == 1 ? c.g : c.b;
}

// The corners' colours mixed over the picture, rounded, row by row.
std::vector<std::array<double, 3>> ReferenceBackground(const icon::IconSysFields& f, int size) {
  const double last = size - 1;
  std::vector<std::array<double, 3>> background(static_cast<std::size_t>(size * size));
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x)
      for (int k = 0; k < 3; ++k) {
        auto c = [&](int i) { return std::min(255.0, Channel(f.corners[static_cast<std::size_t>(i)], k) * 255.0 / 128.0); };
        const double v = (c(0) * (1 - x / last) + c(1) * x / last) * (1 - y / last) +
                         (c(2) * (1 - x / last) + c(3) * x / last) * y / last;
        background[static_cast<std::size_t>(y * size + x)][k] = std::floor(v + 0.5);
      }
  return background;
}

std::vector<Rgb> ReferencePicture(const icon::Icon& model, const icon::IconSysFields& f, int size) {
  using V = std::array<double, 3>;
  const auto finite = [](double v) { return std::isfinite(v) ? v : 0.0; };
  const auto unit = [&](double v) { return std::clamp(finite(v), 0.0, 1.0); };
  std::vector<Rgb> out(static_cast<std::size_t>(size * size));
  const std::vector<std::array<double, 3>> background = ReferenceBackground(f, size);
  const std::vector<icon::Fixed4>& p = model.shapes.at(0);
  double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
  for (const icon::Fixed4& v : p) minX = std::min<double>(minX, v.x), maxX = std::max<double>(maxX, v.x),
                                  minY = std::min<double>(minY, v.y), maxY = std::max<double>(maxY, v.y);
  const double scale = (size - 2 * (size / 16)) / std::max(maxX - minX, maxY - minY);
  struct Corner {
    double x, y, z, u, v;
    V light;
  };
  std::vector<Corner> corners;
  for (std::size_t i = 0; i < p.size(); ++i) {
    Corner c{p[i].x * scale + size / 2.0 - (minX + maxX) / 2 * scale, p[i].y * scale + size / 2.0 - (minY + maxY) / 2 * scale,
             double(p[i].z), std::clamp(model.texCoords[i].u / 4096.0, 0.0, 1.0) * 128,
             std::clamp(model.texCoords[i].v / 4096.0, 0.0, 1.0) * 128, {}};
    const icon::Fixed4& n = model.normals[i];
    const double length = std::hypot(double(n.x), double(n.y), double(n.z));
    for (int k = 0; k < 3; ++k) {
      const double vertex = std::min(Channel(model.colours[i], k), 128.0) / 128;
      double sum = unit(Channel(f.ambient, k));
      for (int l = 0; l < 3 && length > 0; ++l) {
        const icon::Vector3& d = f.lightDirections[static_cast<std::size_t>(l)];
        const V to = {finite(d.x), -finite(d.y), -finite(d.z)};
        const double toLength = std::hypot(to[0], to[1], to[2]);
        if (!(toLength > 1e-6)) continue;
        sum += std::max(0.0, (n.x * to[0] + n.y * to[1] + n.z * to[2]) / length / toLength) * unit(Channel(f.lightColours[static_cast<std::size_t>(l)], k));
      }
      c.light[k] = sum * vertex;
    }
    corners.push_back(c);
  }
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i + 2 < p.size(); i += 3) order.push_back(i);
  auto nearest = [&](std::size_t i) { return std::min({p[i].z, p[i + 1].z, p[i + 2].z}); };
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return std::pair{nearest(a), a} < std::pair{nearest(b), b}; });
  const double sampleX[4] = {0.375, 0.875, 0.125, 0.625}, sampleY[4] = {0.125, 0.375, 0.625, 0.875};
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      V sum = {0, 0, 0};
      for (int s = 0; s < 4; ++s) {
        double depth = std::numeric_limits<double>::infinity();
        V colour = background[static_cast<std::size_t>(y * size + x)];
        for (std::size_t t : order) {
          const Corner &a = corners[t], &b = corners[t + 1], &c = corners[t + 2];
          const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
          if (!(std::fabs(area) > 1e-6)) continue;
          auto weights = [&](double px, double py) {
            const double wa = ((b.x - px) * (c.y - py) - (b.y - py) * (c.x - px)) / area;
            const double wb = ((c.x - px) * (a.y - py) - (c.y - py) * (a.x - px)) / area;
            return V{wa, wb, 1 - wa - wb};
          };
          const V w = weights(x + sampleX[s], y + sampleY[s]);
          const double z = w[0] * a.z + w[1] * b.z + w[2] * c.z;
          if (w[0] < 0 || w[1] < 0 || w[2] < 0 || !(z < depth)) continue;
          depth = z;
          const V m = weights(x + 0.5, y + 0.5);
          auto at = [&](auto field) { return m[0] * field(a) + m[1] * field(b) + m[2] * field(c); };
          const int tu = int(std::clamp(at([](const Corner& q) { return q.u; }), 0.0, 127.0));
          const int tv = int(std::clamp(at([](const Corner& q) { return q.v; }), 0.0, 127.0));
          const int texel = model.HasTexture() ? model.texture[std::size_t(tv * 128 + tu)] : 0x7FFF;
          for (int k = 0; k < 3; ++k) {
            const int c5 = texel >> (5 * k) & 0x1F;
            const double light = std::max(0.0, at([k](const Corner& q) { return q.light[k]; }));
            colour[k] = std::min(255.0, std::floor(light * ((c5 << 3) | (c5 >> 2)) + 0.5));
          }
        }
        for (int k = 0; k < 3; ++k) sum[k] += colour[k];
      }
      for (int k = 0; k < 3; ++k) out[static_cast<std::size_t>(y * size + x)][k] = (int(sum[k]) + 2) / 4;
    }
  }
  return out;
}

// Corpus icons (a wireframe of thin triangles, two textured figures) and built ones, at
// sizes a multiple of 8 pixels and not, drawn as the plain way draws them. Samples on an
// edge and texel lookups on a boundary may go either way in single precision, so a few
// pixels may differ. The figures hold faces drawn twice at the same depth (two-sided,
// each side lit by its own normal), where rounding picks the side sample by sample in
// either way: there only the share of pixels off and the mean difference are bounded.
TEST(IconRender, PicturesMatchThePlainWayOfDrawingThem) {
  IconSysImage lit;
  lit.corners = {{{0x80, 0, 0}, {0, 0x80, 0x20}, {0, 0, 0x80}, {0x40, 0x40, 0x40}}};
  lit.lightDirections = {{{0.5f, 0.5f, 0.5f}, {0, -0.4f, -0.1f}, {0, 0, 0}}};
  lit.lightColours = {{{0.5f, 0.5f, 0.5f}, {0.3f, 0.6f, 0.3f}, {1, 1, 1}}};
  lit.ambient = {0.25f, 0.2f, 0.3f};
  IconImage built;
  built.attributes = 0x07;
  built.vertices = testutil::Triangle({-4096, -4096, 4096, -3000, -1000, 4096}, 200, {0x80, 0x60, 0x40, 0x80});
  for (const auto& t : {testutil::Triangle({-3000, 3000, 3500, 2900, 3000, 3100}, -50),     // thin, in front
                        testutil::Triangle({4000, -4000, -4000, 4000, -3900, 4000}, 100),  // diagonal sliver
                        testutil::Triangle({0, -4096, 4096, 0, 0, 0}, 300)})               // partly behind
    built.vertices.insert(built.vertices.end(), t.begin(), t.end());
  for (std::size_t i = 0; i < built.vertices.size(); ++i) {
    built.vertices[i].normal = {std::int16_t(1000 * (i % 3)), std::int16_t(-2000), std::int16_t(-3000)};
    built.vertices[i].u = std::int16_t(i * 700 % 4096), built.vertices[i].v = std::int16_t(i * 1900 % 4096);
  }
  std::vector<std::uint16_t> texels(16384);
  for (std::size_t i = 0; i < texels.size(); ++i) texels[i] = std::uint16_t(i * 2654435761u >> 17);
  built.texture = testutil::RawTexture(0);
  for (std::size_t i = 0; i < texels.size(); ++i)
    built.texture[2 * i] = std::uint8_t(texels[i]), built.texture[2 * i + 1] = std::uint8_t(texels[i] >> 8);
  struct Case {
    std::string what;
    icon::Icon model;
    icon::IconSysFields lighting;
    int size;
    double offShare, meanLevels;  // most pixels more than 1 level off, a channel's mean difference
  };
  std::vector<Case> cases;
  const icon::IconSysFields litFields = Ok(icon::ParseIconSys(lit.Build()));
  for (int size : {33, 64, 100}) cases.push_back({"built", Ok(icon::ParseIcon(built.Build())), litFields, size, 0.01, 0.1});
  // One normal throughout: the second and fourth triangles take one texel at every corner
  // and are one colour all over; the first and third still vary with their texels.
  IconImage faces = built;
  for (std::size_t i = 0; i < faces.vertices.size(); ++i) {
    faces.vertices[i].normal = {0, -2000, -3000};
    if (i / 3 % 2 == 1) faces.vertices[i].u = faces.vertices[i / 3 * 3].u, faces.vertices[i].v = faces.vertices[i / 3 * 3].v;
  }
  for (int size : {33, 64}) cases.push_back({"built, one normal", Ok(icon::ParseIcon(faces.Build())), litFields, size, 0.01, 0.1});
  struct CorpusRow {
    const char* file;
    int size;
    double offShare, meanLevels;
  };
  for (const CorpusRow& row : {CorpusRow{"max/a.max", 256, 0.01, 0.1}, {"max/a.max", 100, 0.01, 0.1},
                               {"max/b.max", 100, 0.05, 1.0}, {"max/c.max", 72, 0.05, 2.0}})
    if (auto save = LoadCorpusSave(row.file)) {
      icon::SaveIcon found = Ok(icon::LoadSaveIcon(*save, kNormal));
      cases.push_back({row.file, std::move(found.icon), found.iconSys, row.size, row.offShare, row.meanLevels});
    }
  for (const Case& c : cases) {
    const icon::Picture drawn = Ok(icon::RenderIcon(c.model, c.lighting, c.size));
    const std::vector<Rgb> want = ReferencePicture(c.model, c.lighting, c.size);
    int off = 0, model = 0;
    long total = 0;
    for (int y = 0; y < c.size; ++y)
      for (int x = 0; x < c.size; ++x) {
        const Rgb got = At(drawn, x, y), expected = want[static_cast<std::size_t>(y * c.size + x)];
        int most = 0;
        for (int k = 0; k < 3; ++k) {
          most = std::max(most, std::abs(got[k] - expected[k]));
          total += std::abs(got[k] - expected[k]);
        }
        off += most > 1;
      }
    const icon::Picture bare = Ok(icon::RenderIcon(icon::Icon{}, c.lighting, c.size));
    for (int y = 0; y < c.size; ++y)
      for (int x = 0; x < c.size; ++x) model += At(drawn, x, y) != At(bare, x, y);
    const std::string why = c.what + " at " + std::to_string(c.size);
    EXPECT_GT(model, c.size) << why;  // the model shows
    const double pixels = c.size * c.size;
    EXPECT_LE(off, c.offShare * pixels) << why << ": pixels more than 1 level off";
    EXPECT_LE(static_cast<double>(total) / (3 * pixels), c.meanLevels) << why << ": the mean difference";
  }
}

// Processors with AVX2 draw with a second build of the drawer: it must give every
// picture byte for byte as the baseline build does (no fused multiply-adds, no other
// order of operations), at every size, textured or not.
TEST(IconRender, BothBuildsOfTheDrawerGiveTheSamePicture) {
  if (!icon::DrawsWide()) GTEST_SKIP() << "this processor has only the baseline build";
  IconImage plain;
  plain.attributes = 0x03;  // untextured, vertex colours only
  plain.vertices = testutil::Triangle({-4096, -4096, 4096, -3000, -1000, 4096}, 200, {0x80, 0x20, 0x60, 0x80});
  for (const auto& t : {testutil::Triangle({-3000, 3000, 3500, 2900, 3000, 3100}, -50, {0x10, 0x80, 0x40, 0x80}),
                        testutil::Triangle({4000, -4000, -4000, 4000, -3900, 4000}, 100)})
    plain.vertices.insert(plain.vertices.end(), t.begin(), t.end());
  for (std::size_t i = 0; i < plain.vertices.size(); ++i)
    plain.vertices[i].normal = {std::int16_t(1500 * (i % 3)), std::int16_t(-2000), std::int16_t(-3000)};
  IconSysImage lit;
  lit.corners = {{{0x80, 0, 0}, {0, 0x80, 0x20}, {0, 0, 0x80}, {0x40, 0x40, 0x40}}};
  lit.lightDirections = {{{0.5f, 0.5f, 0.5f}, {0, -0.4f, -0.1f}, {0, 0, 0}}};
  lit.lightColours = {{{0.5f, 0.5f, 0.5f}, {0.3f, 0.6f, 0.3f}, {1, 1, 1}}};
  struct Case {
    std::string what;
    icon::Icon model;
    icon::IconSysFields lighting;
  };
  std::vector<Case> cases = {{"built, untextured", Ok(icon::ParseIcon(plain.Build())), Ok(icon::ParseIconSys(lit.Build()))}};
  for (const char* file : {"max/a.max", "max/b.max", "max/c.max", "psu/d.psu", "psu/f.psu"})
    if (auto save = LoadCorpusSave(file)) {
      icon::SaveIcon found = Ok(icon::LoadSaveIcon(*save, kNormal));
      cases.push_back({file, std::move(found.icon), found.iconSys});
    }
  for (const Case& c : cases)
    for (int size : {32, 77, 256, 512}) {
      const icon::Picture best = Ok(icon::RenderIcon(c.model, c.lighting, size, icon::Instructions::kBest));
      const icon::Picture baseline = Ok(icon::RenderIcon(c.model, c.lighting, size, icon::Instructions::kBaseline));
      EXPECT_EQ(BytesThatDiffer(best, baseline), 0u) << c.what << " at " << size << ": bytes that differ";
    }
}

TEST(IconExport, ObjAndMtlTexts) {
  IconImage image;
  image.vertices = testutil::Triangle({4096, -2048, -4096, 0, 0, 8192}, 0, {0xFF, 0x40, 0, 0x80});
  image.vertices[0].positions[0][2] = 1024;
  image.vertices[2].positions[0][2] = -512;
  // u and v below 0 and above 4096 clamp; v runs up in an OBJ.
  image.vertices[0].u = -5, image.vertices[0].v = 0;
  image.vertices[1].u = 1024, image.vertices[1].v = 1024;
  image.vertices[2].u = 4096, image.vertices[2].v = 5000;
  image.texture = testutil::RawTexture(0);
  const icon::Icon textured = Ok(icon::ParseIcon(image.Build()));
  EXPECT_EQ(icon::IconToObj(textured, "icon.mtl"),
            "# shape 0 of a PlayStation 2 save icon\nmtllib icon.mtl\n"
            "v 1 -0.5 0.25\nv -1 0 0\nv 0 2 -0.125\n"
            "vt 0 1\nvt 0.25 0.75\nvt 1 0\n"
            "vn 0 0 -1\nvn 0 0 -1\nvn 0 0 -1\n"
            "usemtl icon\nf 1/1/1 2/2/2 3/3/3\n");
  EXPECT_EQ(icon::IconToMtl(textured, "icon.png"), "newmtl icon\nKa 1 1 1\nKd 1 1 1\nKs 0 0 0\nillum 1\nmap_Kd icon.png\n");

  // Without a texture each position carries its vertex colour, and the material no map.
  image.attributes = 0x03;
  image.texture.clear();
  const icon::Icon plain = Ok(icon::ParseIcon(image.Build()));
  EXPECT_NE(icon::IconToObj(plain, "icon.mtl").find("\nv 1 -0.5 0.25 1 0.5 0\nv -1 0 0 1 0.5 0\n"), std::string::npos);
  EXPECT_EQ(icon::IconToMtl(plain, "icon.png").find("map_Kd"), std::string::npos);
}

TEST(IconPng, EncodesAndWritesThePixels) {
  icon::Picture p{3, 2, {}};
  for (int i = 0; i < 6; ++i) p.rgba.insert(p.rgba.end(), {std::uint8_t(40 * i), std::uint8_t(255 - i), 7, 255});
  auto decode = [](const Bytes& png) {
    int w = 0, h = 0, n = 0;
    stbi_uc* pixels = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &w, &h, &n, 4);
    Bytes out;
    if (pixels && w == 3 && h == 2) out.assign(pixels, pixels + 3 * 2 * 4);
    stbi_image_free(pixels);
    return out;
  };
  EXPECT_EQ(decode(Ok(icon::EncodePng(p))), p.rgba);

  testutil::TempDir dir;
  Ok(icon::WritePng(dir.File("picture.png"), p));
  EXPECT_EQ(decode(testutil::ReadFile(dir.File("picture.png"))), p.rgba);
  ExpectFault(icon::WritePng(dir.File("missing/picture.png"), p), F::kWriteFailed,
              "cannot write " + dir.File("missing/picture.png"), "no folder");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // nothing left behind

  p.rgba.pop_back();
  ExpectFault(icon::EncodePng(p), F::kEncodeFailed, "the picture's size and pixels disagree", "short pixels");
}

TEST(SaveIcon, FindsTheFileIconSysNames) {
  struct File {
    std::string name;
    Bytes data;
    std::uint32_t size = 0;  // 0: the data's length
  };
  struct Case {
    const char* why;
    std::vector<File> files;
    icon::IconSlot slot;
    std::optional<F> fault;  // none: found
    std::string expected;    // the message, or the icon's name
  };
  IconSysImage names;
  names.iconNames = {"n.ico", "", "d.ico"};
  const Bytes sys = names.Build();
  IconImage one;
  one.vertices = testutil::Triangle({0, 0, 10, 0, 0, 10}, 0);
  one.texture = testutil::RawTexture(1);
  IconImage two = one;
  two.vertices.insert(two.vertices.end(), one.vertices.begin(), one.vertices.end());
  Bytes cut = one.Build();
  cut.resize(30);
  const Case cases[] = {
      {"the normal icon", {{"icon.sys", sys}, {"n.ico", one.Build()}, {"d.ico", two.Build()}}, kNormal, {}, "n.ico"},
      {"the delete icon", {{"icon.sys", sys}, {"n.ico", one.Build()}, {"d.ico", two.Build()}},
       icon::IconSlot::kDelete, {}, "d.ico"},
      {"no icon.sys", {{"n.ico", one.Build()}}, kNormal, F::kNoIconSys, "the save has no icon.sys"},
      {"names are case-sensitive", {{"ICON.SYS", sys}}, kNormal, F::kNoIconSys, "the save has no icon.sys"},
      {"text form", {{"icon.sys", testutil::FromString("PS2X\n")}}, kNormal, F::kIconSysMagic,
       "icon.sys is in the text form (PS2X), which names no 3D icon"},
      {"a huge icon.sys", {{"icon.sys", sys, 100000}}, kNormal, F::kIconSysSize,
       "icon.sys is 100000 bytes; a PS2D icon.sys has 964"},
      {"no copy icon named", {{"icon.sys", sys}}, icon::IconSlot::kCopy, F::kNoIconName, "icon.sys names no copy icon"},
      {"icon file missing", {{"icon.sys", sys}, {"N.ICO", one.Build()}}, kNormal, F::kIconMissing,
       "the normal icon \"n.ico\" that icon.sys names is not in the save"},
      {"icon file damaged", {{"icon.sys", sys}, {"n.ico", cut}}, kNormal, F::kTruncated,
       "n.ico: the file ends inside the vertices: 3 of 24 bytes need 72, 10 are left"},
      {"icon file too large to read", {{"icon.sys", sys}, {"n.ico", one.Build(), 9u << 20}}, kNormal, F::kTooLarge,
       "n.ico is 9437184 bytes: more than an icon file can be"},
      {"icon file shorter than its entry", {{"icon.sys", sys}, {"n.ico", one.Build(), 40000}}, kNormal,
       F::kReadFailed, "n.ico: its data ends early"},
  };
  for (const Case& c : cases) {
    CGeneric save;
    save.entries.emplace(1);
    (*save.entries)[0].size = static_cast<std::uint32_t>(c.files.size() + 2);
    for (const File& f : c.files) {
      SaveEntry& e = save.entries->emplace_back();
      SetField(e.name, f.name, kNameChars);
      e.size = f.size ? f.size : static_cast<std::uint32_t>(f.data.size());
      e.source = InMemory{f.data};
    }
    auto found = icon::LoadSaveIcon(save, c.slot);
    if (c.fault) {
      ExpectFault(found, *c.fault, c.expected, c.why);
      continue;
    }
    const icon::SaveIcon got = Ok(std::move(found));
    EXPECT_EQ(got.iconName, c.expected) << c.why;
    EXPECT_EQ(got.icon.VertexCount(), c.expected == "d.ico" ? 6u : 3u) << c.why;
  }
}

TEST(SaveIcon, EveryCorpusSaveIconLoadsAndDraws) {
  struct Case {
    const char* save;
    const char* iconName;
    std::size_t vertices, shapes;
    K kind;
  };
  const Case cases[] = {
      {"psu/a.psu", "rez.ico", 564, 1, K::kRaw},     {"max/a.max", "rez.ico", 564, 1, K::kRaw},
      {"xps/a.xps", "rez.ico", 564, 1, K::kRaw},     {"sps/a.sps", "rez.ico", 564, 1, K::kRaw},
      {"max/b.max", "PAYNE.ICO", 1362, 1, K::kRaw},  {"sps/b.sps", "PAYNE.ICO", 36, 1, K::kRle},
      {"max/c.max", "static.ico", 36, 1, K::kRaw},   {"psu/d.psu", "boy_blk.ico", 1164, 8, K::kRle},
      {"psu/e.PSU", "FMCB.icn", 156, 1, K::kRaw},    {"psu/f.psu", "sysconf.icn", 1716, 1, K::kRle},
      {"psu/g.psu", "icon.icn", 12, 1, K::kRle},
  };
  for (const Case& c : cases) {
    auto save = LoadCorpusSave(c.save);
    if (!save) GTEST_SKIP() << "corpus absent";
    for (icon::IconSlot slot : kAllSlots) {
      const icon::SaveIcon found = Ok(icon::LoadSaveIcon(*save, slot));
      EXPECT_EQ(found.icon.textureKind, c.kind) << c.save;
      if (slot == kNormal) {
        EXPECT_EQ(found.iconName, c.iconName) << c.save;
        EXPECT_EQ(found.icon.VertexCount(), c.vertices) << c.save;
        EXPECT_EQ(found.icon.shapes.size(), c.shapes) << c.save;
      }
      for (int size : {32, 128}) Ok(icon::EncodePng(Ok(icon::RenderIcon(found.icon, found.iconSys, size))));
    }
  }
}

namespace {

// Long, thin, textured triangles from near the top of the picture to near its bottom,
// each starting and ending a little lower than the one before and shaded from corner to
// corner: every one crosses the middle rows, from its own first row.
IconImage ThinFan() {
  IconImage image;
  image.texture = testutil::RawTexture(0);
  for (std::size_t i = 0; i < image.texture.size(); ++i) image.texture[i] = std::uint8_t(i * 2654435761u >> 13);
  for (int k = 0; k < 70; ++k) {
    const auto x = std::int16_t(k * 110 - 3900), top = std::int16_t(k * 23 - 4096), bottom = std::int16_t(4000 - k * 17);
    auto t = testutil::Triangle({x, top, std::int16_t(x + 150 + k), bottom, std::int16_t(x - 60), bottom}, std::int16_t(-k));
    for (std::size_t i = 0; i < 3; ++i) {
      t[i].normal = {std::int16_t(900 * i), std::int16_t(-1500 - 40 * k), -3000};
      t[i].u = std::int16_t(i * 1300 + k * 31), t[i].v = std::int16_t(i * 700 + k * 57);
    }
    image.vertices.insert(image.vertices.end(), t.begin(), t.end());
  }
  return image;
}

// A rolling surface of 24 x 24 squares (two triangles each) filling the picture behind
// a thin fan: smooth shading, shared edges on every row, and a depth test where they meet.
IconImage HillBehindAFan() {
  IconImage image = ThinFan();
  constexpr int kSquares = 24;
  const auto corner = [](int i, int j) {
    testutil::IconVertex v;
    const double s = i * 0.5, t = j * 0.4;
    v.positions = {{std::int16_t(i * 340 - 4080), std::int16_t(j * 340 - 4080), std::int16_t(400 + 300 * std::sin(s) * std::cos(t))}};
    v.normal = {std::int16_t(-1200 * std::cos(s)), std::int16_t(1000 * std::sin(t)), -4000};
    v.u = std::int16_t(i * 4096 / kSquares), v.v = std::int16_t(j * 4096 / kSquares);
    return v;
  };
  for (int i = 0; i < kSquares; ++i)
    for (int j = 0; j < kSquares; ++j)
      for (auto [di, dj] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 0}, {1, 1}, {0, 1}})
        image.vertices.push_back(corner(i + di, j + dj));
  return image;
}

}  // namespace

// A picture may be drawn in two bands of rows at once, each with its own samples, a
// triangle's values stepped from its own first row whichever band draws it: the picture
// must be the one-band picture byte for byte, at even and odd sizes, for built icons
// and every corpus icon, whether the lower band goes to the kept thread or (that thread
// busy) is drawn on this one first.
TEST(IconRender, TwoBandsGiveTheOneBandPicture) {
  IconSysImage lit;
  lit.corners = {{{0x80, 0, 0}, {0, 0x80, 0x20}, {0, 0, 0x80}, {0x40, 0x40, 0x40}}};
  lit.lightDirections = {{{0.5f, 0.5f, 0.5f}, {0, -0.4f, -0.1f}, {0, 0, 0}}};
  lit.lightColours = {{{0.5f, 0.5f, 0.5f}, {0.3f, 0.6f, 0.3f}, {1, 1, 1}}};
  const icon::IconSysFields litFields = Ok(icon::ParseIconSys(lit.Build()));
  struct Case {
    std::string what;
    icon::Icon model;
    icon::IconSysFields lighting;
  };
  std::vector<Case> cases = {{"a thin fan", Ok(icon::ParseIcon(ThinFan().Build())), litFields},
                             {"a hill behind a fan", Ok(icon::ParseIcon(HillBehindAFan().Build())), litFields}};
  for (const char* file : {"psu/a.psu", "max/a.max", "xps/a.xps", "sps/a.sps", "max/b.max", "sps/b.sps", "max/c.max",
                           "psu/d.psu", "psu/e.PSU", "psu/f.psu", "psu/g.psu"})
    if (auto save = LoadCorpusSave(file))
      for (icon::IconSlot slot : kAllSlots) {
        icon::SaveIcon found = Ok(icon::LoadSaveIcon(*save, slot));
        cases.push_back({file + std::string(" slot ") + std::to_string(static_cast<int>(slot)), std::move(found.icon),
                         found.iconSys});
      }
  for (const Case& c : cases)
    for (int size : {32, 33, 131, 256, 389, 512})
      for (bool keptThreadBusy : {false, true}) {
        const std::string why = c.what + " at " + std::to_string(size) + (keptThreadBusy ? ", kept thread busy" : "");
        const icon::Picture one = Ok(icon::RenderIcon(c.model, c.lighting, size, icon::Instructions::kBest, icon::Bands::kOne));
        // The kept thread held until the picture is drawn (a task that runs here at once,
        // on a machine without a second core, holds nothing).
        std::promise<void> release;
        std::optional<io::Beside> hold;
        if (keptThreadBusy)
          hold.emplace([done = release.get_future().share(), here = std::this_thread::get_id()] {
            if (std::this_thread::get_id() != here) done.wait();
          });
        const icon::Picture two = Ok(icon::RenderIcon(c.model, c.lighting, size, icon::Instructions::kBest, icon::Bands::kTwo));
        release.set_value();
        if (hold) hold->Wait();
        EXPECT_EQ(BytesThatDiffer(one, two), 0u) << why << ": bytes that differ";
      }
}
