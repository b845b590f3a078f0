// Measures the whole show as the recorder runs it: ten minutes of show at 60 frames a second on
// the headless board with no image output, its frames per second and its worst single frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <vector>

#include "show/show.h"
#include "show_bench_support.h"

namespace {

constexpr std::uint64_t ShowFrames = 36'000;

// The show is the same on every run, so each iteration times the same frames. A frame's cost is
// its fastest time over the iterations: an interrupt or a preempted core lands on a different
// frame each run and drops out, while a frame that is truly heavy stays heavy.
void BM_WholeShowTenMinutes(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> frameSeconds(ShowFrames, std::numeric_limits<double>::infinity());
  double totalSeconds = 0;
  double totalProcessorSeconds = 0;
  for (auto _ : state) {
    // A frame is the processor time from one present to the next: clear, step, draw, decide. The
    // first frame's start is not seen (the texture load and the settling presents come before it),
    // so frames are timed from the second on.
    double last = 0;
    const Clock::time_point start = Clock::now();
    const double processorStart = bench::ThreadSeconds();
    show::RunHeadlessShow({.frames = ShowFrames, .onFrame = [&](std::uint64_t frame, const glide::FrameView&) {
                             const double now = bench::ThreadSeconds();
                             if (frame > 1) {
                               double& seconds = frameSeconds[frame - 1];
                               seconds = std::min(seconds, now - last);
                             }
                             last = now;
                           }});
    totalSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    totalProcessorSeconds += bench::ThreadSeconds() - processorStart;
  }
  const double frames = static_cast<double>(ShowFrames * state.iterations());
  // Wall-clock rate, and the rate the show's own processor time allows (the same on an idle machine).
  state.counters["frames_per_second"] = frames / totalSeconds;
  state.counters["frames_per_processor_second"] = frames / totalProcessorSeconds;
  state.counters["mean_frame_ms"] = totalProcessorSeconds * 1000 / frames;
  state.counters["worst_frame_ms"] = *std::max_element(frameSeconds.begin() + 1, frameSeconds.end()) * 1000;
}
BENCHMARK(BM_WholeShowTenMinutes)->Unit(benchmark::kSecond)->Iterations(3);

} // namespace
