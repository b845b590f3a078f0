// Pacing presents to the nominal 60 Hz refresh.
#pragma once

#include <chrono>

namespace desktop {

// Spaces presented frames at least one refresh period of 60 Hz apart without ever catching up:
// a frame that comes late is shown at once, and the next one a full period after it.
class FramePacer {
public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration Period = std::chrono::nanoseconds(1'000'000'000 / 60);

  // When to show the frame that is ready at `now`.
  Clock::time_point NextPresentTime(Clock::time_point now);
  // Sleeps until the next frame is due.
  void WaitForNextFrame();

private:
  Clock::time_point previous_{};
  bool started_ = false;
};

} // namespace desktop
