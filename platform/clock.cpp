// Tick clocks: the real monotonic microsecond counter and the virtual clock of headless shows.
#include "platform/platform.h"

#include <ctime>

namespace platform {

std::uint32_t MonotonicClock::Ticks() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const std::uint64_t microseconds =
      static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
  return static_cast<std::uint32_t>(microseconds);
}

VirtualClock::VirtualClock(std::uint64_t ticksPerSecond, std::uint32_t ticksPerFrame, std::uint32_t start)
    : ticksPerSecond_(ticksPerSecond), ticksPerFrame_(ticksPerFrame), ticks_(start) {}

VirtualClock VirtualClock::ForFrameRate(std::uint32_t framesPerSecond) {
  return VirtualClock(60ull * framesPerSecond * 1000u, 60'000u);
}

} // namespace platform
