// Drawing a save's icon beside loading the save it comes from, on the same save: the
// corpus's ARMAX save whose icon has 1,362 vertices (max/b.max) when the corpus is there,
// else an ARMAX save built here like it (a 1,404-vertex figure with a raw texture, and a
// data file of the same 143,640 bytes).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <numbers>

#include "fixtures.h"
#include "formats/max/max.h"
#include "icon/render.h"
#include "icon/save_icon.h"
#include "io/file.h"
#include "support/icon_builder.h"
#include "support/max_builder.h"

namespace {

// A standing figure's stand-in: an upright spheroid of 13 x 18 quads, two triangles each,
// wrapped in the texture, a third as wide as it is tall (about as much of the picture as
// the corpus icon's figure covers).
bench::Bytes FigureIcon() {
  constexpr int kRings = 13, kSegments = 18;
  constexpr double kRadius = 12000, kWidth = 0.35;
  testutil::IconImage image;
  auto vertex = [&](int ring, int segment) {
    double theta = std::numbers::pi * ring / kRings, phi = 2 * std::numbers::pi * segment / kSegments;
    double x = std::sin(theta) * std::cos(phi), y = -std::cos(theta), z = std::sin(theta) * std::sin(phi);
    testutil::IconVertex v;
    v.positions = {{static_cast<std::int16_t>(x * kRadius * kWidth), static_cast<std::int16_t>(y * kRadius),
                    static_cast<std::int16_t>(z * kRadius * kWidth)}};
    v.normal = {static_cast<std::int16_t>(x * 4096), static_cast<std::int16_t>(y * 4096),
                static_cast<std::int16_t>(z * 4096)};
    v.u = static_cast<std::int16_t>(4096 * segment / kSegments);
    v.v = static_cast<std::int16_t>(4096 * ring / kRings);
    return v;
  };
  for (int r = 0; r < kRings; ++r) {
    for (int s = 0; s < kSegments; ++s) {
      for (auto [dr, ds] : {std::pair{0, 0}, {1, 0}, {1, 1}, {0, 0}, {1, 1}, {0, 1}})
        image.vertices.push_back(vertex(r + dr, s + ds));
    }
  }
  image.texture = bench::MixedData(32768, 21);
  return image.Build();
}

const std::string& BenchSavePath() {
  static const std::string path = [] {
    const std::string corpus = MORAVELT_CORPUS_DIR "/max/b.max";
    if (io::Exists(corpus)) return corpus;
    testutil::IconSysImage sys;
    sys.corners = {{{80, 0, 0}, {128, 0, 0}, {0, 0, 0}, {40, 0, 0}}};
    sys.lightDirections = {{{0.5f, 0.5f, 0.5f}, {0, -0.4f, -0.1f}, {-0.5f, -0.5f, 0.5f}}};
    sys.lightColours = {{{0.5f, 0.5f, 0.5f}, {0.3f, 0.3f, 0.3f}, {0.2f, 0.2f, 0.2f}}};
    sys.ambient = {0.25f, 0.25f, 0.25f};
    testutil::MaxImage max;
    max.files = {{"icon.sys", sys.Build()}, {"icon.ico", FigureIcon()},
                 {"DATA", bench::MixedData(143640, 22)}};
    std::string built = bench::Scratch().File("icon-save.max");
    testutil::WriteFile(built, max.Build());
    return built;
  }();
  return path;
}

void Describe(benchmark::State& state) {
  state.SetLabel(BenchSavePath().find(MORAVELT_CORPUS_DIR) == 0 ? "corpus max/b.max" : "built save");
}

// The corpus's Rez save as ARMAX: its icon is a wireframe of long, thin triangles, the
// drawing that sampling each pixel once lost. Empty without the corpus.
const std::string& RezSavePath() {
  static const std::string path = [] {
    const std::string corpus = MORAVELT_CORPUS_DIR "/max/a.max";
    return io::Exists(corpus) ? corpus : std::string();
  }();
  return path;
}

using PathOf = const std::string& (*)();

// The benchmark's save, labelled; false (the benchmark skipped) without it.
bool Choose(benchmark::State& state, PathOf path) {
  if (path == &BenchSavePath) {
    Describe(state);
    return true;
  }
  if (path().empty()) {
    state.SkipWithError("no corpus");
    return false;
  }
  state.SetLabel("corpus max/a.max");
  return true;
}

void BM_LoadSave(benchmark::State& state, PathOf path) {
  if (!Choose(state, path)) return;
  for (auto _ : state) {
    CMax save;
    if (save.Load(path()) != LoadResult::kOk) {
      state.SkipWithError("load failed");
      return;
    }
    benchmark::DoNotOptimize(save.entries);
  }
}

// icon.sys and the icon file out of the loaded save, parsed.
void BM_ReadIcon(benchmark::State& state) {
  Describe(state);
  CMax save;
  if (save.Load(BenchSavePath()) != LoadResult::kOk) {
    state.SkipWithError("load failed");
    return;
  }
  for (auto _ : state) {
    auto found = icon::LoadSaveIcon(save, icon::IconSlot::kNormal);
    if (!found.ok()) {
      state.SkipWithError(found.error().message.c_str());
      return;
    }
    benchmark::DoNotOptimize(found.value().icon.normals.data());
  }
}

void BM_Render(benchmark::State& state, PathOf path, icon::Bands bands = icon::Bands::kByWork) {
  if (!Choose(state, path)) return;
  CMax save;
  if (save.Load(path()) != LoadResult::kOk) {
    state.SkipWithError("load failed");
    return;
  }
  auto found = icon::LoadSaveIcon(save, icon::IconSlot::kNormal);
  if (!found.ok()) {
    state.SkipWithError(found.error().message.c_str());
    return;
  }
  const int size = static_cast<int>(state.range(0));
  for (auto _ : state) {
    auto picture = icon::RenderIcon(found.value().icon, found.value().iconSys, size, icon::Instructions::kBest, bands);
    benchmark::DoNotOptimize(picture.value().rgba.data());
  }
  state.counters["vertices"] = static_cast<double>(found.value().icon.VertexCount());
}

// The card window's list icon in its benchmark (a full card's saves): 146 textured
// triangles, long and thin, each spanning the whole height of the picture, so that the
// cost of each triangle and of each of its rows outweighs that of its few pixels.
void BM_RenderThin(benchmark::State& state) {
  const auto model = icon::ParseIcon(bench::ThinTrianglesIcon());
  const auto lighting = icon::ParseIconSys(testutil::IconSysImage{}.Build());
  if (!model.ok() || !lighting.ok()) return state.SkipWithError("the icon does not parse");
  const int size = static_cast<int>(state.range(0));
  for (auto _ : state) {
    auto picture = icon::RenderIcon(model.value(), lighting.value(), size);
    benchmark::DoNotOptimize(picture.value().rgba.data());
  }
}

}  // namespace

BENCHMARK_CAPTURE(BM_LoadSave, figure, &BenchSavePath)->Name("icon_load_save")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ReadIcon)->Name("icon_read")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Render, figure, &BenchSavePath)
    ->Name("icon_render")->Arg(256)->Arg(128)->Arg(32)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_LoadSave, rez, &RezSavePath)->Name("icon_load_save_rez")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Render, rez, &RezSavePath)
    ->Name("icon_render_rez")->Arg(256)->Arg(128)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RenderThin)->Name("icon_render_thin")->Arg(32)->Arg(256)->Unit(benchmark::kMicrosecond)->UseRealTime();
// The figure drawn in one band on one thread, against which two bands at once are
// measured (and the work from which a picture is split chosen).
BENCHMARK_CAPTURE(BM_Render, figure_one_band, &BenchSavePath, icon::Bands::kOne)
    ->Name("icon_render_one_band")->Arg(256)->Arg(128)->Unit(benchmark::kMicrosecond)->UseRealTime();
