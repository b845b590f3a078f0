// Benchmark: the processor cost of fitting one 640×480 frame to common screen sizes.
#include "glide/frame_scaler.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

enum class Content : int {
  Noise = 0,  // every pixel lit and different: the worst case
  Bursts = 1, // six bursts of 150 small sparks each on black, like a busy moment of the show
  Black = 2,
};

constexpr int BurstCount = 6;
constexpr int SparksPerBurst = 150;
constexpr int BurstRadius = 110;
constexpr int SparkSize = 6;

std::vector<std::uint32_t> MakeFrame(Content content) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(glide::ScreenWidth) * glide::ScreenHeight, 0);
  std::uint32_t seed = 1;
  const auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  if (content == Content::Noise) {
    std::generate(pixels.begin(), pixels.end(), next);
  } else if (content == Content::Bursts) {
    for (int burst = 0; burst < BurstCount; ++burst) {
      const int centreX = BurstRadius + static_cast<int>(next() % (glide::ScreenWidth - 2 * BurstRadius));
      const int centreY = BurstRadius + static_cast<int>(next() % (glide::ScreenHeight - 2 * BurstRadius));
      const std::uint32_t colour = next() | 0x404040;
      for (int spark = 0; spark < SparksPerBurst; ++spark) {
        const int x = centreX + static_cast<int>(next() % (2 * BurstRadius)) - BurstRadius;
        const int y = centreY + static_cast<int>(next() % (2 * BurstRadius)) - BurstRadius;
        for (int row = y; row < std::min(y + SparkSize, glide::ScreenHeight); ++row) {
          std::fill_n(pixels.begin() + row * glide::ScreenWidth + x, std::min(SparkSize, glide::ScreenWidth - x), colour);
        }
      }
    }
  }
  return pixels;
}

void ScaleFrame(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const std::vector<std::uint32_t> pixels = MakeFrame(static_cast<Content>(state.range(2)));
  const glide::FrameView frame{pixels.data(), glide::ScreenWidth, glide::ScreenHeight, glide::ScreenWidth};
  std::vector<std::uint32_t> screen(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  glide::FrameScaler scaler(width, height);
  for (auto _ : state) {
    scaler.Scale(frame, screen.data(), width);
    benchmark::DoNotOptimize(screen.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(ScaleFrame)
    ->ArgNames({"width", "height", "content"})
    ->ArgsProduct({{640}, {480}, {0, 1, 2}})
    ->ArgsProduct({{1024}, {768}, {0, 1, 2}})
    ->ArgsProduct({{1920}, {1080}, {0, 1, 2}})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
