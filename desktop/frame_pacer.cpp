// Pacing presents to the nominal 60 Hz refresh, never catching up.
#include "frame_pacer.h"

#include <algorithm>
#include <thread>

namespace desktop {

FramePacer::Clock::time_point FramePacer::NextPresentTime(Clock::time_point now) {
  const Clock::time_point next = started_ ? std::max(previous_ + Period, now) : now;
  previous_ = next;
  started_ = true;
  return next;
}

void FramePacer::WaitForNextFrame() { std::this_thread::sleep_until(NextPresentTime(Clock::now())); }

} // namespace desktop
