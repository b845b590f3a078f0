// Benchmark: the processor cost of fitting one 640×480 frame to common screen sizes.
#include "glide/frame_scaler.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

void ScaleFrame(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(glide::ScreenWidth) * glide::ScreenHeight);
  std::uint32_t seed = 1;
  for (std::uint32_t& pixel : pixels) {
    seed = seed * 1664525u + 1013904223u;
    pixel = seed >> 8;
  }
  const glide::FrameView frame{pixels.data(), glide::ScreenWidth, glide::ScreenHeight, glide::ScreenWidth};
  std::vector<std::uint32_t> screen(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  glide::FrameScaler scaler(width, height);
  for (auto _ : state) {
    scaler.Scale(frame, screen.data(), width);
    benchmark::DoNotOptimize(screen.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * scaler.Picture().width * scaler.Picture().height);
}
BENCHMARK(ScaleFrame)->Args({640, 480})->Args({1024, 768})->Args({1280, 1024})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
