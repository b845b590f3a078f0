// Benchmark: the processor cost of keeping a picture up to date with the show's own frames at common screen sizes.
#include "frame_scaler.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "show/show.h"
#include "show_bench_support.h"

namespace {

// Long enough to take in quiet moments and the busiest ones.
constexpr std::uint64_t ShowFrames = 3'600;

// Runs the show headless and brings a picture up to date with each frame as it is presented,
// while the frame is still in the cache as it is on the desktop. Only the updates are timed; an
// iteration is one frame. The counters tell how much of the picture was redrawn and in how many
// rectangles (each one request to the X server), and how much of it came out different from the
// picture before: the least that any way of redrawing must write.
void UpdateWithShowFrames(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  double redrawnPixels = 0;
  double rectangles = 0;
  double changedPixels = 0;
  double pictureArea = 1;
  std::uint64_t frames = 0;
  while (state.KeepRunningBatch(ShowFrames)) {
    desktop::FrameScaler scaler(width, height);
    const desktop::ScreenRect picture = scaler.Picture();
    pictureArea = static_cast<double>(picture.width) * picture.height;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(picture.width) *
                                      static_cast<std::size_t>(picture.height));
    std::vector<std::uint32_t> before(pixels);
    double seconds = 0;
    show::RunHeadlessShow({.frames = ShowFrames, .onFrame = [&](std::uint64_t, const glide::FrameView& frame) {
                             const double start = bench::ThreadSeconds();
                             const auto redrawn = scaler.Update(frame, pixels.data(), picture.width);
                             benchmark::DoNotOptimize(pixels.data());
                             seconds += bench::ThreadSeconds() - start;
                             // Nothing outside the rectangles changed, so they are all there is
                             // to compare, as the X server would copy them.
                             for (const desktop::ScreenRect& rect : redrawn) {
                               redrawnPixels += static_cast<double>(rect.width) * rect.height;
                               rectangles += 1;
                               for (int row = rect.y; row < rect.y + rect.height; ++row) {
                                 const std::size_t first = static_cast<std::size_t>(row) * picture.width + rect.x;
                                 for (std::size_t at = first; at < first + rect.width; ++at) {
                                   changedPixels += pixels[at] != before[at] ? 1 : 0;
                                   before[at] = pixels[at];
                                 }
                               }
                             }
                             ++frames;
                           }});
    state.SetIterationTime(seconds);
  }
  state.counters["redrawn_share"] = redrawnPixels / static_cast<double>(frames) / pictureArea;
  state.counters["changed_share"] = changedPixels / static_cast<double>(frames) / pictureArea;
  state.counters["rectangles"] = rectangles / static_cast<double>(frames);
}
BENCHMARK(UpdateWithShowFrames)
    ->ArgNames({"width", "height"})
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->UseManualTime()
    ->Iterations(ShowFrames)
    ->Unit(benchmark::kMicrosecond);

} // namespace
