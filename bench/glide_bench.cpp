// Measures the frame-buffer cost of the show's busiest frame: 3,750 flare sprites (25 fireworks of
// 150 particles) drawn through the library's public operations, at sizes 10 and 18.5, on each
// sprite path.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "glide/glide.h"
#include "glide/inspection.h"

namespace {

constexpr int Fireworks = 25;
constexpr int ParticlesPerFirework = 150;

struct Sprite {
  float x, y, red, green, blue;
};

// Sprites at fixed pseudo-random places and colours, the same in every run.
std::vector<Sprite> MakeSprites() {
  std::vector<Sprite> sprites;
  sprites.reserve(Fireworks * ParticlesPerFirework);
  std::uint32_t state = 1;
  auto next = [&state](float low, float high) {
    state = state * 1664525u + 1013904223u;
    return low + (high - low) * static_cast<float>(state >> 8) / static_cast<float>(1 << 24);
  };
  for (int i = 0; i < Fireworks * ParticlesPerFirework; ++i) {
    sprites.push_back({next(0, 640), next(0, 480), next(50, 255), next(50, 255), next(50, 255)});
  }
  return sprites;
}

void DrawSprite(const Sprite& sprite, float size) {
  const float h = size * 0.5f;
  GrVertex corners[4] = {};
  const float xs[4] = {sprite.x - h, sprite.x + h, sprite.x + h, sprite.x - h};
  const float ys[4] = {sprite.y - h, sprite.y - h, sprite.y + h, sprite.y + h};
  const float ss[4] = {0, 255, 255, 0};
  const float ts[4] = {255, 255, 0, 0};
  for (int i = 0; i < 4; ++i) {
    corners[i].x = xs[i];
    corners[i].y = ys[i];
    corners[i].r = sprite.red;
    corners[i].g = sprite.green;
    corners[i].b = sprite.blue;
    corners[i].a = 255;
    corners[i].oow = 1;
    corners[i].tmuvtx[0].sow = ss[i];
    corners[i].tmuvtx[0].tow = ts[i];
  }
  grDrawTriangle(&corners[0], &corners[1], &corners[2]);
  grDrawTriangle(&corners[2], &corners[3], &corners[0]);
}

// Opens the library on the built-in headless board and loads the flare, as the show does.
GrMipMapId_t OpenWithFlare() {
  grGlideInit();
  GrHwConfiguration configuration;
  grSstQueryHardware(&configuration);
  grSstSelect(0);
  grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT, 1, 2);
  grClipWindow(0, 0, 639, 479);
  Gu3dfInfo info{};
  if (!gu3dfGetInfo(PYROVANE_FLARE_PATH, &info)) {
    std::fprintf(stderr, "glide_bench: cannot read %s\n", PYROVANE_FLARE_PATH);
    std::exit(1);
  }
  static std::vector<std::uint8_t> data;
  data.resize(info.mem_required);
  info.data = data.data();
  gu3dfLoad(PYROVANE_FLARE_PATH, &info);
  const GrMipMapId_t id = guTexAllocateMemory(
      GR_TMU0, GR_MIPMAPLEVELMASK_BOTH, static_cast<int>(info.header.width), static_cast<int>(info.header.height),
      info.header.format, GR_MIPMAP_NEAREST, info.header.small_lod, info.header.large_lod, info.header.aspect_ratio,
      GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_WRAP, GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR, 0.0f, FXFALSE);
  guTexDownloadMipMap(id, info.data, &info.table);
  guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
  grAlphaBlendFunction(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO, GR_BLEND_ZERO);
  return id;
}

// Arguments: sprite size in tenths of a pixel, then the sprite path.
void BM_BusiestFrame(benchmark::State& state) {
  const float size = static_cast<float>(state.range(0)) / 10.0f;
  const auto path = static_cast<glide::SpritePath>(state.range(1));
  if (!glide::SelectSpritePath(path)) {
    state.SkipWithError("this processor cannot run the path");
    return;
  }
  const GrMipMapId_t flare = OpenWithFlare();
  const std::vector<Sprite> sprites = MakeSprites();
  GrState saved;
  for (auto _ : state) {
    grBufferClear(0, 0, 0xFFFF);
    for (int firework = 0; firework < Fireworks; ++firework) {
      grGlideGetState(&saved);
      grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ZERO);
      guColorCombineFunction(GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB);
      guTexSource(flare);
      guAlphaSource(GR_ALPHASOURCE_ITERATED_ALPHA);
      grTexCombineFunction(GR_TMU0, GR_TEXTURECOMBINE_ADD);
      for (int particle = 0; particle < ParticlesPerFirework; ++particle) {
        DrawSprite(sprites[firework * ParticlesPerFirework + particle], size);
      }
      grGlideSetState(&saved);
    }
    benchmark::DoNotOptimize(glide::CurrentFrame().pixels[0]);
  }
  state.SetItemsProcessed(state.iterations() * Fireworks * ParticlesPerFirework);
  grGlideShutdown();
  glide::SelectSpritePath(glide::SpritePath::Fastest);
}

constexpr int Fastest = static_cast<int>(glide::SpritePath::Fastest);
constexpr int General = static_cast<int>(glide::SpritePath::General);
constexpr int Portable = static_cast<int>(glide::SpritePath::Portable);
BENCHMARK(BM_BusiestFrame)
    ->ArgNames({"size_x10", "path"})
    ->Args({100, Fastest})
    ->Args({185, Fastest})
    ->Args({100, Portable})
    ->Args({185, Portable})
    ->Args({100, General})
    ->Args({185, General})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
